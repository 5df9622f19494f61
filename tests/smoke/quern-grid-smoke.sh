#!/usr/bin/env bash
# quern-grid-smoke.sh QUERN HELP_FILE PREFIX_DIR: starts the built Quern under a virtual X server on
# a scratch copy of a Wine prefix with a key of values of every kind, turns on View > Type column
# with real key presses (Alt+V, T), clicks the Data column's header with the mouse, and quits with
# Esc; then checks preferences.ini on disk, that settings.ini still has its ten lines and that the
# registry's files are as they were. A second run on a dark desktop palette (the one a KDE session
# gives, from kdeglobals) turns on View > Desktop colours (Alt+V, C) and checks that the grid is
# drawn dark. Screenshots of both are kept with SMOKE_KEEP=1.
# Exit 0: all held; 1: a check failed; 77: no Xvfb, xdotool or ImageMagick here (the test is skipped).
set -u
exe=$(realpath "$1")
help=$(realpath "$2")
prefix=$(realpath "$3")
smoke_name="grid smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool import convert

lay_out_program "$exe" "$help" "$prefix" cfg data dark
# A key with a value of every kind the Type column names apart, at the end of user.reg.
cat >>"$work/pfx/user.reg" <<'REG'

[Software\\QuernGrid] 1796672239
#time=1dd86825f56f9b8
@="default text"
"Big"=hex(b):00,00,00,00,01,00,00,00
"Bytes"=hex:de,ad,be,ef
"Count"=dword:0000002a
"Endian"=hex(5):00,00,01,00
"List"=str(7):"one\0two\0three\0"
"Negative"=dword:ffffffff
"Nothing"=hex(0):
"Odd"=hex(12345678):41,42
"Path"=str(2):"%SystemRoot%\\system32"
REG
cp -r "$work/pfx" "$work/pfx-before"
# The window where the drive clicks: at the screen's corner, the tree 201 pixels wide, the name
# column 150, on the key above.
printf '%s\r\n' 201 150 'HKEY_CURRENT_USER\Software\QuernGrid' 2 1 0 0 900 560 1 >"$work/bin/settings.ini"

start_xvfb
run_quern() { # run_quern CONFIG_DIR [ENV=VALUE...]
    local config=$1
    shift
    ( cd "$work" && env WINEPREFIX="$work/pfx" HOME="$work/home" XDG_CONFIG_HOME="$config" \
        XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" "$@" "$work/bin/quern" ) >>"$work/log" 2>&1 &
    pid=$!
    main=$(window_named '^Quern - THE registry editor') || fail "the main window did not show"
    sleep 1
    focus "$main"
}
pixel() { convert "$1" -format "%[hex:p{$2,$3}]" info:- 2>/dev/null | cut -c1-6; }
has_line() { grep -qx "$2" "$1" || fail "$(basename "$1") lacks $2: $(tr '\n' ' ' <"$1")"; }
ten_lines() {
    [ "$(wc -l <"$work/bin/settings.ini")" -eq 10 ] || fail "settings.ini has $(wc -l <"$work/bin/settings.ini") lines"
}

run_quern "$work/cfg"
keys alt+v t
for _ in $(seq 1 20); do [ -s "$work/bin/preferences.ini" ] && break; sleep 0.1; done
has_line "$work/bin/preferences.ini" 'grid.typeColumn=1'
import -window root "$work/type-column.png"
# The header row is the silver strip at the top of the grid; the Data column ends at its right.
eval "$(xdotool getwindowgeometry --shell "$main")"
header_y=""
for y in $(seq 30 120); do
    [ "$(pixel "$work/type-column.png" $((X + 201 + 60)) $((Y + y)))" = C0C0C0 ] && { header_y=$((Y + y + 6)); break; }
done
[ -n "$header_y" ] || fail "no silver header row in the grid"
xdotool mousemove --sync $((X + WIDTH - 60)) "$header_y" click 1
sleep 0.6
has_line "$work/bin/preferences.ini" 'grid.sortColumn=1'
has_line "$work/bin/preferences.ini" 'grid.sortDescending=0'
import -window root "$work/sorted.png"
alive || fail "the click on the header ended the program"
quit_quern
ten_lines
has_line "$work/bin/preferences.ini" 'grid.typeColumn=1'
has_line "$work/bin/preferences.ini" 'grid.sortColumn=1'

# A dark desktop: Qt reads a KDE session's colours from kdeglobals.
cat >"$work/dark/kdeglobals" <<'INI'
[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252
[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:View]
BackgroundNormal=35,38,41
ForegroundNormal=239,240,241
[Colors:Window]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
INI
run_quern "$work/dark" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
below_rows() { pixel "$1" $((X + WIDTH - 200)) $((Y + 400)); }
import -window root "$work/dark-off.png"
[ "$(below_rows "$work/dark-off.png")" = FFFFFF ] || fail "without Desktop colours the grid is not white"
keys alt+v c
sleep 0.5
has_line "$work/bin/preferences.ini" 'view.desktopColours=1'
import -window root "$work/dark-on.png"
[ "$(below_rows "$work/dark-on.png")" = 232629 ] \
    || fail "with Desktop colours on a dark desktop the grid is $(below_rows "$work/dark-on.png")"
quit_quern
ten_lines
has_line "$work/bin/preferences.ini" 'grid.typeColumn=1'
for file in system.reg user.reg userdef.reg; do
    cmp -s "$work/pfx-before/$file" "$work/pfx/$file" || fail "$file changed on disk"
done
echo "grid smoke: the Type column, the sort and the desktop colours are kept in preferences.ini"
