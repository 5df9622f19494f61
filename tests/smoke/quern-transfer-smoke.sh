#!/usr/bin/env bash
# quern-transfer-smoke.sh QUERN QUERN_REG HELP_FILE PREFIX_DIR: copy, cut and paste driven in the
# built Quern under a virtual X server with real key presses. A key copied in one tab is pasted into
# another registry through the paste's list of changes, and Undo takes it back byte for byte; a key
# cut and pasted moves within a registry; a value copied from the grid is pasted into another key;
# a key pasted where its name is taken is pasted as "Name (2)"; a key dragged with the mouse onto
# another is pasted there. quern-reg diff checks every copy
# against its source, and the first prefix stays byte for byte as it was.
# Exit 0: all held; 1: a check failed; 77: no Xvfb, xdotool or ImageMagick here (the test is skipped).
set -u
exe=$(realpath "$1")
reg=$(realpath "$2")
help=$(realpath "$3")
prefix=$(realpath "$4")
smoke_name="transfer smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool import convert

lay_out_program "$exe" "$help" "$prefix" other before
cp "$prefix"/*.reg "$work/other/"
cp "$prefix"/*.reg "$work/before/"
start_xvfb

start_quern
quern_reg() { HOME="$work/home" "$reg" "$@"; }
# Pastes with Ctrl+V and accepts the list of changes, whose title begins with $1.
paste_through() {
    keys ctrl+v
    list=$(window_named "^$1") || fail "Ctrl+V showed no '$1' list of changes"
    focus "$list"
    keys Return
    wait_gone "^$1" || fail "the '$1' list stayed open"
    focus "$main"
}

# The second registry in a tab of its own.
open_folder_in_tab "$work/other"
cp "$work/other/user.reg" "$work/other-before.reg"

# Copy a key in the first tab, paste it in the second.
keys ctrl+Tab
go_to_typed 'HKCU\Control Panel\Mouse'
keys ctrl+c
keys ctrl+Tab
go_to_typed 'HKCU\Software'
paste_through 'Paste Mouse'
quern_reg diff 'HKCU\Control Panel\Mouse' 'HKCU\Software\Mouse' /left "$work/pfx" /right "$work/other" >"$work/diff" \
    || fail "the key pasted differs from its source: $(cat "$work/diff")"
# Undo takes the paste back, byte for byte.
keys ctrl+z
sleep 0.5
cmp -s "$work/other/user.reg" "$work/other-before.reg" || fail "Undo did not give user.reg its bytes back"

# A cut and a paste in the same registry move the key.
go_to_typed 'HKCU\Control Panel\Sound'
keys ctrl+x
go_to_typed 'HKCU\Software'
paste_through 'Move Sound'
quern_reg /prefix "$work/other" query 'HKCU\Control Panel\Sound' >/dev/null 2>&1 && fail "the key cut is still where it was"
quern_reg /prefix "$work/other" query 'HKCU\Software\Sound' /v Beep | grep -q 'REG_SZ    Yes' || fail "the key moved lost its value"

# A value copied from the grid, pasted into another key.
go_to_typed 'HKCU\Control Panel\Mouse\DoubleClickSpeed'
keys ctrl+c
go_to_typed 'HKCU\Software\Wine'
paste_through 'Paste 1 value'
quern_reg /prefix "$work/other" query 'HKCU\Software\Wine' /v DoubleClickSpeed | grep -q 'REG_SZ    500' \
    || fail "the value pasted is not in HKCU\\Software\\Wine"

# The same key pasted twice: the second time its name is taken, and "Paste as" gives it another.
go_to_typed 'HKCU\Control Panel\Mouse'
keys ctrl+c
go_to_typed 'HKCU\Software'
paste_through 'Paste Mouse'
go_to_typed 'HKCU\Software' # the paste selected the key it made
keys ctrl+v
clash=$(window_named '^Paste$') || fail "a paste where the name is taken did not ask"
focus "$clash"
keys Return # the default: paste as "Mouse (2)"
list=$(window_named '^Paste Mouse \(2\)') || fail "Paste as showed no list of changes"
focus "$list"
keys Return
wait_gone '^Paste Mouse' || fail "the list stayed open"
quern_reg /prefix "$work/other" diff 'HKCU\Software\Mouse' 'HKCU\Software\Mouse (2)' >"$work/diff" \
    || fail "the key pasted as Mouse (2) differs: $(cat "$work/diff")"

# A key dragged with the mouse onto another: the paste's list, then the key is there too.
row_of() { # the middle of the tree's selected row, in screen pixels
    import -window root "$work/rows.png" 2>/dev/null
    convert "$work/rows.png" -crop 1x600+6+40 txt:- |
        awk -F'[,:]' '/#308CC6/ { if (first == "") first = $2; last = $2 } END { if (first != "") print 40 + int((first + last) / 2) }'
}
go_to_typed 'HKCU\Software\Sound'
from=$(row_of)
go_to_typed 'HKCU\Software\Wine'
to=$(row_of)
[ -n "$from" ] && [ -n "$to" ] || fail "the tree's rows were not found"
xdotool mousemove 150 "$from" mousedown 1
for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove 150 $((from + (to - from) * step / 8))
    sleep 0.05
done
sleep 0.3
xdotool mouseup 1
list=$(window_named '^Paste Sound') || fail "a drag and drop showed no list of changes"
focus "$list"
keys Return
wait_gone '^Paste Sound' || fail "the list stayed open"
quern_reg /prefix "$work/other" query 'HKCU\Software\Wine\Sound' /v Beep | grep -q 'REG_SZ    Yes' \
    || fail "the key dropped is not in HKCU\\Software\\Wine"
quern_reg /prefix "$work/other" query 'HKCU\Software\Sound' >/dev/null || fail "a drop without Shift moved the key"

quit_quern
for file in system.reg user.reg userdef.reg; do
    cmp -s "$work/pfx/$file" "$work/before/$file" || fail "the first prefix's $file changed"
done
echo "transfer smoke: passed"
