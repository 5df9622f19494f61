# Installs the Debian packages Quern needs that are missing. Sourced by run.sh and test.sh.
# Usage: quern_install_packages PACKAGE...
quern_install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# libhivex-dev: hivex reads and writes Windows hive files; libhivex-bin's hivexget and hivexml check
# the hives the tests write. libyaml-cpp-dev and nlohmann-json3-dev read the launchers' settings
# (Lutris and Bottles write YAML, Heroic JSON) to find their Wine prefixes.
QUERN_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libjpeg-dev libhivex-dev libyaml-cpp-dev
    nlohmann-json3-dev)
# desktop-file-utils validates the installed desktop entry; xvfb (with xauth, which xvfb-run needs
# and xvfb only recommends) and xdotool start and drive the built program on a virtual display;
# strace holds a write at its flush while another program acts, and counts what a write reads;
# clang-format checks the layout of the sources.
QUERN_TEST_PACKAGES=(libgtest-dev libbenchmark-dev desktop-file-utils xvfb xauth xdotool libhivex-bin strace
    clang-format)
