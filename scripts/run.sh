#!/usr/bin/env bash
# Installs what is missing, builds Quern in Release and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}"

build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUERN_BUILD_TESTS=OFF -DQUERN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" # the window and quern-reg

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'TXT'
Quern is built, but this session has no display (neither DISPLAY nor WAYLAND_DISPLAY is set).
Run it from a desktop session, or give it a virtual display:
    sudo apt-get install xvfb && xvfb-run -a scripts/run.sh
TXT
    exit 1
fi
# Quern finds its help beside itself, so it starts in the folder it was called from.
exec "$build/src/shell/quern" "$@"
