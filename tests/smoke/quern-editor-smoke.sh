#!/usr/bin/env bash
# quern-editor-smoke.sh QUERN QUERN_REG HELP_FILE PREFIX_DIR: the value editor's own pages in the
# built Quern, driven under a virtual X server with real key presses on a scratch copy of a Wine
# prefix. One line of a multi-string of the sample (system.reg) is changed on the multi-string page,
# a QWORD (added to user.reg with quern-reg first, as the sample has none) gets the largest number
# there is on the QWORD page, and the byte grid is switched to hex cells and typed into with the
# arrow keys; a second run shows that the grid still takes hex. Each change is checked in the .reg
# file with grep, and nothing else of the files may change.
# Exit 0: all held; 1: a check failed; 77: no Xvfb or xdotool here (the test is skipped).
set -u
exe=$(realpath "$1")
reg=$(realpath "$2")
help=$(realpath "$3")
prefix=$(realpath "$4")
smoke_name="editor smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool

lay_out_program "$exe" "$help" "$prefix" cfg data shots
run_reg() { WINEPREFIX="$work/pfx" HOME="$work/home" XDG_DATA_HOME="$work/data" "$reg" "$@" >/dev/null; }
run_reg add 'HKCU\Software\QuernEdit' /v Big /t REG_QWORD /d 5 /f || fail "quern-reg could not add the QWORD"
run_reg add 'HKCU\Software\QuernEdit' /v Bytes /t REG_BINARY /d 00FF10 /f || fail "quern-reg could not add the bytes"
grep -q '^"Big"=hex(b):05,00,00,00,00,00,00,00$' "$work/pfx/user.reg" || fail "quern-reg wrote the QWORD otherwise"
# A multi-string without its closing NUL, which no line form shows: made as bytes, then retyped.
run_reg add 'HKCU\Software\QuernEdit' /v Odd /t REG_BINARY /d 610000006200 /f || fail "quern-reg could not add Odd"
sed -i 's/^"Odd"=hex:61,00,00,00,62,00$/"Odd"=hex(7):61,00,00,00,62,00/' "$work/pfx/user.reg"
grep -q '^"Odd"=hex(7):61,00,00,00,62,00$' "$work/pfx/user.reg" || fail "no multi-string without its end to open"
cp -r "$work/pfx" "$work/pfx-before"

start_xvfb
start_quern() {
    ( cd "$work" && WINEPREFIX="$work/pfx" HOME="$work/home" XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/data" \
        XDG_RUNTIME_DIR="$work" exec "$work/bin/quern" ) >"$work/log" 2>&1 &
    pid=$!
    main=$(window_named '^Quern - THE registry editor') || fail "the main window did not show"
    sleep 0.5
    focus "$main"
}
quit_quern() {
    focus "$main"
    keys alt+f x
    for _ in $(seq 1 50); do alive || break; sleep 0.1; done
    alive && fail "File > Exit left the program running"
    wait "$pid"
    pid=""
}
# From the grid, Left goes back to the tree; the path line is two Tabs on, the grid three past it.
open_value() {
    focus "$main"
    keys Left Tab Tab ctrl+a
    type_text "$1"
    keys Tab Tab Tab Home
    [ -n "$2" ] && keys $2
    keys Return
    editor=$(window_named '^Changing value properties') || fail "Enter on $1 opened no editor"
    focus "$editor"
}
# Clicks the editor's OK: Enter in the multi-string field or a cell does not reach it.
click_ok() {
    local X="" Y="" WIDTH="" HEIGHT=""
    eval "$(xdotool getwindowgeometry --shell "$editor" 2>/dev/null)"
    [ -n "$X" ] || fail "the value editor was gone before OK was clicked"
    xdotool mousemove --sync $((X + WIDTH / 2 + 20 + 45)) $((Y + HEIGHT - 44 + 8 + 14)) click 1
    sleep 0.4
    wait_gone '^Changing value properties' || fail "OK did not close the value editor"
}

start_quern

# The multi-string page: its second line gets a 2 at its end.
open_value 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\SvcHost' 'Down Down' # netsvcs, the third
keys ctrl+Home Down End
type_text '2'
import -window root "$work/shots/multi-string.png" 2>/dev/null
click_ok
grep -q '^"netsvcs"=str(7):"BITS\\0fontcache2\\0Schedule\\0"$' "$work/pfx/system.reg" \
    || fail "the multi-string was written as: $(grep -a '"netsvcs"' "$work/pfx/system.reg")"

# The one without its closing NUL opens on the same page, which says it keeps it as it is: OK
# leaves the file alone.
cp "$work/pfx/user.reg" "$work/user-before-odd.reg"
open_value 'HKEY_CURRENT_USER\Software\QuernEdit' 'Down Down' # Big, Bytes, Odd
import -window root "$work/shots/multi-string-kept.png" 2>/dev/null
click_ok
cmp -s "$work/user-before-odd.reg" "$work/pfx/user.reg" || fail "OK on the unchanged multi-string wrote user.reg"

# The QWORD page: 2^64 - 1 typed in decimal, the base the window shows DWORDs in.
open_value 'HKEY_CURRENT_USER\Software\QuernEdit' ''
keys ctrl+a
type_text '18446744073709551615'
type_text '0x' # one more digit would not fit 64 bits, and a letter is no decimal digit: both refused
import -window root "$work/shots/qword.png" 2>/dev/null
keys Return
wait_gone '^Changing value properties' || fail "Enter did not close the QWORD's editor"
grep -q '^"Big"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff$' "$work/pfx/user.reg" \
    || fail "the QWORD was written as: $(grep -a '"Big"' "$work/pfx/user.reg")"

# The byte grid: Alt+H ticks its hex cells, Shift+Tab goes from the character line into the grid,
# Right moves a cell at a time and the bytes typed are read as hex.
open_value 'HKEY_CURRENT_USER\Software\QuernEdit' Down # Bytes
keys alt+h shift+Tab
keys Right Right
type_text 'ab'
keys End Left Home ctrl+End
import -window root "$work/shots/hex-grid.png" 2>/dev/null
click_ok
grep -q '^"Bytes"=hex:00,ff,ab$' "$work/pfx/user.reg" \
    || fail "the hex cell was written as: $(grep -a '"Bytes"' "$work/pfx/user.reg")"
grep -qx 'ByteGridHex=1' "$work/bin/preferences.ini" || fail "preferences.ini lacks the hex cells: $(cat "$work/bin/preferences.ini")"
quit_quern

# Again: the grid still takes hex, so 10 in the first cell is the byte 16.
start_quern
open_value 'HKEY_CURRENT_USER\Software\QuernEdit' Down
keys shift+Tab
type_text '10'
import -window root "$work/shots/hex-grid-again.png" 2>/dev/null
click_ok
grep -q '^"Bytes"=hex:10,ff,ab$' "$work/pfx/user.reg" \
    || fail "after a restart the cell was written as: $(grep -a '"Bytes"' "$work/pfx/user.reg")"

# Another page says the type it would save; Esc then asks, and Yes leaves the file alone.
cp "$work/pfx/user.reg" "$work/user-before-kind.reg"
open_value 'HKEY_CURRENT_USER\Software\QuernEdit' ''
keys ctrl+shift+Tab # from the QWORD page to the multi-string page
import -window root "$work/shots/kind-change.png" 2>/dev/null
keys Escape
question=$(window_named '^Confirm') || fail "Esc after another page was picked did not ask"
focus "$question"
keys alt+y
wait_gone '^Changing value properties' || fail "Yes did not close the value editor"
cmp -s "$work/user-before-kind.reg" "$work/pfx/user.reg" || fail "discarding a page change wrote user.reg"
quit_quern

# Nothing else changed: userdef.reg as it was, and in the other two only the edited keys' blocks.
cmp -s "$work/pfx-before/userdef.reg" "$work/pfx/userdef.reg" || fail "userdef.reg changed"
changed=$(diff "$work/pfx-before/system.reg" "$work/pfx/system.reg" | grep '^[<>]' \
    | grep -v -e '^. \[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\SvcHost\] ' -e '^. #time=' \
        -e '^. "netsvcs"=')
[ -z "$changed" ] || fail "system.reg changed beyond the multi-string: $changed"
changed=$(diff "$work/pfx-before/user.reg" "$work/pfx/user.reg" | grep '^[<>]' \
    | grep -v -e '^. \[Software\\\\QuernEdit\] ' -e '^. #time=' -e '^. "Big"=' -e '^. "Bytes"=')
[ -z "$changed" ] || fail "user.reg changed beyond the QWORD and the bytes: $changed"
[ -n "${SMOKE_SHOTS:-}" ] && cp "$work"/shots/*.png "$SMOKE_SHOTS"/
echo "editor smoke: the multi-string, the QWORD and the hex cells are on disk as typed"
