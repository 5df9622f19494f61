#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks it as a desktop and a shell would use it:
#   scripts/check-install.sh BUILD_DIR
# The programs, the help, the desktop entry, the icons and the manual page are where the desktop,
# the shell and man look for them; desktop-file-validate accepts the entry; quern-reg --version and
# a query run from the installed place; and the installed quern, started in another folder under a
# virtual display, finds its help and shows its main window. Run by test.sh; needs
# desktop-file-utils, xvfb, xauth and xdotool.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:?usage: scripts/check-install.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
elsewhere="$work/elsewhere" # a working folder that holds nothing of Quern's
mkdir -p "$elsewhere" "$work/home" "$work/prefix-registry"
cp "$root/tests/data/wine-prefix/"*.reg "$work/prefix-registry/"

fail() {
    echo "install check: $*" >&2
    exit 1
}

echo "== Install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

for program in quern quern-reg; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
cmp -s "$root/src/shell/help/ENGQuern.hlp" "$prefix/share/quern/ENGQuern.hlp" \
    || fail "share/quern/ENGQuern.hlp is not the help"

entry="$prefix/share/applications/quern.desktop"
[ -f "$entry" ] || fail "share/applications/quern.desktop is not installed"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects quern.desktop"
exec_line="$(sed -n 's/^Exec=//p' "$entry")"
[ -x "$prefix/bin/${exec_line%% *}" ] || fail "the entry starts '$exec_line', which is not in bin/"
# A file manager opens .reg files with Quern, which shows their import preview.
grep -qx 'MimeType=text/x-ms-regedit;' "$entry" || fail "the entry does not offer to open .reg files"
icon="$(sed -n 's/^Icon=//p' "$entry")"
# Every size the theme holds, as a PNG of that size: bytes 16 to 23 are its width and height.
for size in 16 22 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ -f "$png" ] || fail "no ${size}x${size} icon $icon.png in the hicolor theme"
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    dimensions="$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')"
    [ "$dimensions" = "$size $size" ] || fail "$png is $dimensions pixels, not $size by $size"
done
manual="$prefix/share/man/man1/quern-reg.1"
[ -f "$manual" ] || fail "share/man/man1/quern-reg.1 is not installed"
grep -q "^\.TH QUERN-REG 1 .*\"Quern $version\"" "$manual" || fail "the manual page does not carry version $version"

echo "== quern-reg from the installed place"
answer="$(cd "$elsewhere" && "$prefix/bin/quern-reg" --version)"
[ "$answer" = "quern-reg $version" ] || fail "quern-reg --version says '$answer', not 'quern-reg $version'"
(cd "$elsewhere" && WINEPREFIX="$work/prefix-registry" "$prefix/bin/quern-reg" query 'HKLM\Software\Wine' >/dev/null) \
    || fail "the installed quern-reg cannot query the sample prefix"

# Asked in a terminal without a display, quern answers and starts nothing.
answer="$(cd "$elsewhere" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/quern" --version)"
[ "$answer" = "quern $version" ] || fail "quern --version says '$answer', not 'quern $version'"
(cd "$elsewhere" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/quern" --help | grep -q '^Usage: quern') \
    || fail "quern --help does not print its usage"

echo "== quern from the installed place, started in another folder"
# Quern checks for its help before it shows the main window, and a missing help holds the window
# back behind a message box titled "Quern". start_quern waits for the window whose title matches
# $1 and answers how many main windows and how many such boxes show; the log has quern's output.
start_quern() {
    (cd "$elsewhere" && HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
        WINEPREFIX="$work/prefix-registry" xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
            "$1" >"$2" 2>&1 &
            quern=$!
            timeout 20 xdotool search --sync --onlyvisible --name "$3" >/dev/null 2>&1 || true
            sleep 0.5 # time for anything that would show next to it
            windows="$(xdotool search --onlyvisible --name "registry editor" 2>/dev/null | wc -l)"
            boxes="$(xdotool search --onlyvisible --name "^Quern\$" 2>/dev/null | wc -l)"
            kill "$quern" 2>/dev/null || true
            wait "$quern" 2>/dev/null || true
            echo "$windows $boxes"' _ "$prefix/bin/quern" "$work/quern.log" "$1")
}
[ "$(start_quern "registry editor")" = "1 0" ] \
    || { cat "$work/quern.log" >&2; fail "the installed quern did not show its window without a message"; }
# And the other way round: without its help the same start shows the missing-help message alone.
mv "$prefix/share/quern/ENGQuern.hlp" "$work/"
[ "$(start_quern "^Quern\$")" = "0 1" ] || { cat "$work/quern.log" >&2; fail "without its help, quern did not say so"; }
echo "The install works."
