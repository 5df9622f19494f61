#!/usr/bin/env bash
# quern-navigate-smoke.sh QUERN HELP_FILE PREFIX_DIR: the ways of getting around, driven in the built
# Quern under a virtual X server with real key presses and mouse clicks: quern FILE.reg opens the
# import preview of the file; an unknown option ends with 2; Ctrl+G goes to a pasted path; the
# tree's popup (a right click on a key below the selected one) deletes the clicked key and keeps it
# as a favourite; the grid's popup deletes the clicked value, opens Modify binary data and makes a
# QWORD through New of type; Ctrl+Shift+C copies a path that Ctrl+G
# offers back; after a restart the Favourites menu goes to the key kept. It checks the files the
# program wrote: user.reg, preferences.ini and settings.ini's path line.
# Exit 0: all held; 1: a check failed; 77: no Xvfb, xdotool or ImageMagick here (the test is skipped).
set -u
exe=$(realpath "$1")
help=$(realpath "$2")
prefix=$(realpath "$3")
smoke_name="navigate smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool convert import

lay_out_program "$exe" "$help" "$prefix"
settings="$work/bin/settings.ini"
start_xvfb

# The path line the window wrote at close: the key it stood on.
stored_path() { sed -n '3{s/\r$//;p}' "$settings"; }
# The middle of the tree's selected row, in screen pixels, found by its highlight down the tree's
# left edge (the window lies at the screen's corner: there is no window manager to move it).
selected_row() {
    import -window root "$work/rows.png" 2>/dev/null
    convert "$work/rows.png" -crop 1x500+6+40 txt:- |
        awk -F'[,:]' '/#308CC6/ { if (first == "") first = $2; last = $2 } END { if (first != "") print 40 + first, last - first + 1 }'
}
answer_yes() {
    question=$(window_named '^Confirm') || fail "$1 did not ask"
    focus "$question"
    keys alt+y
    wait_gone '^Confirm' || fail "Yes did not end the question of $1"
    focus "$main"
}

# An option Quern does not know is said, and nothing starts.
( cd "$work" && WINEPREFIX="$work/pfx" HOME="$work/home" "$work/bin/quern" --frobnicate ) >"$work/bad.log" 2>&1
[ $? = 2 ] || fail "an unknown option did not end with 2"
grep -q "unknown option '--frobnicate'" "$work/bad.log" || fail "an unknown option was not named: $(cat "$work/bad.log")"

# quern FILE.reg, as a file manager opens a .reg file: its preview, and only Import writes.
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\Software\NavSmoke]' '"Opened"="from the file manager"' >"$work/opened.reg"
start_quern "$work/opened.reg"
preview=$(window_named '^Import opened.reg') || fail "quern FILE.reg showed no import preview"
grep -q 'NavSmoke' "$work/pfx/user.reg" && fail "quern FILE.reg wrote before Import"
focus "$preview"
keys alt+i
wait_gone '^Import opened.reg' || fail "Import did not close the preview"
grep -q '^"Opened"="from the file manager"$' "$work/pfx/user.reg" || fail "Import of the opened file wrote nothing"
focus "$main"

# Ctrl+G takes a path as a .reg file writes it; the tree stands on it.
go_to_typed '  [HKEY_CURRENT_USER\Software\Wine\Debug] '
read -r row height < <(selected_row)
[ -n "${row:-}" ] || fail "no selected row in the tree after Ctrl+G"
import -window root "$work/went-to.png" 2>/dev/null

# A right click on the key below the selected one (DllOverrides) selects it, and its popup's
# Delete deletes that key, not the one selected before.
xdotool mousemove 120 $((row + height)) click 3
sleep 0.5
import -window root "$work/tree-popup.png" 2>/dev/null
keys d
answer_yes "the popup's Delete"
grep -q '^\[Software\\\\Wine\\\\DllOverrides\]' "$work/pfx/user.reg" && fail "the popup did not delete the clicked key"
grep -q '^\[Software\\\\Wine\\\\Debug\]' "$work/pfx/user.reg" || fail "the popup deleted the key selected before"

# Back on Debug: its popup keeps it as a favourite under a name of the user's.
go_to_typed 'HKCU\Software\Wine\Debug'
read -r row height < <(selected_row)
xdotool mousemove 120 "$row" click 3
sleep 0.5
keys a
dialog=$(window_named '^Add to favourites') || fail "the popup's Add to favourites asked no name"
focus "$dialog"
keys ctrl+a
type_text 'Wine debugging'
keys Return
wait_gone '^Add to favourites' || fail "the favourite's dialog stayed open"
grep -qx 'favourite.1=Wine debugging%0AHKEY_CURRENT_USER\\Software\\Wine\\Debug' "$work/bin/preferences.ini" \
    || fail "the favourite was not kept: $(cat "$work/bin/preferences.ini" 2>/dev/null)"
focus "$main"

# The grid's popup on the second value (RelayFromExclude): Delete takes that value only. The grid's
# rows are as high as the tree's, below its header, which starts where the tree does.
xdotool mousemove 300 $((46 + height + height + height / 2)) click 3
sleep 0.5
import -window root "$work/grid-popup.png" 2>/dev/null
keys d
answer_yes "the grid popup's Delete"
grep -q '^"RelayFromExclude"=' "$work/pfx/user.reg" && fail "the grid's popup did not delete the clicked value"
grep -q '^"RelayExclude"=' "$work/pfx/user.reg" || fail "the grid's popup deleted another value"

# The grid's popup again: Modify binary data on the first value and OK without a change write
# nothing; New of type > QWORD makes a QWORD value.
cp "$work/pfx/user.reg" "$work/user-before-binary.reg"
xdotool mousemove 300 $((46 + height + height / 2)) click 3
sleep 0.5
keys b
editor=$(window_named '^Changing value properties') || fail "Modify binary data opened no editor"
import -window root "$work/modify-binary.png" 2>/dev/null
focus "$editor"
keys Return
wait_gone '^Changing value properties' || fail "OK did not close Modify binary data"
cmp -s "$work/pfx/user.reg" "$work/user-before-binary.reg" || fail "Modify binary data without a change wrote"
focus "$main"
xdotool mousemove 300 $((46 + height + height / 2)) click 3
sleep 0.5
keys o q
editor=$(window_named '^Creating new value') || fail "New of type > QWORD opened no editor"
focus "$editor"
type_text 'NavQword'
keys Return
wait_gone '^Creating new value' || fail "OK did not close the new QWORD's editor"
grep -q '^"NavQword"=hex(b):00,00,00,00,00,00,00,00$' "$work/pfx/user.reg" \
    || fail "New of type > QWORD wrote: $(grep -a NavQword "$work/pfx/user.reg")"

# Ctrl+Shift+C copies the key's path; elsewhere, Ctrl+G offers it back from the clipboard.
focus "$main"
keys Left ctrl+shift+c
go_to_typed 'HKLM'
keys ctrl+g
dialog=$(window_named '^Go to path') || fail "the second Ctrl+G showed no dialog"
focus "$dialog"
keys Return
wait_gone '^Go to path' || fail "the Go to path dialog stayed open"
quit_quern
[ "$(stored_path)" = 'HKEY_CURRENT_USER\Software\Wine\Debug' ] \
    || fail "Ctrl+G did not offer the copied path: the window stood on '$(stored_path)'"

# After a restart, the favourite goes to its key from the Favourites menu.
start_quern
go_to_typed 'HKEY_LOCAL_MACHINE'
keys alt+a
sleep 0.3
import -window root "$work/favourites-menu.png" 2>/dev/null
keys Up Return
quit_quern
[ "$(stored_path)" = 'HKEY_CURRENT_USER\Software\Wine\Debug' ] \
    || fail "the favourite did not go to its key: the window stood on '$(stored_path)'"
[ "$(grep -c $'\r$' "$settings")" = 10 ] || fail "settings.ini has not its ten lines"
echo "navigate smoke: passed"
