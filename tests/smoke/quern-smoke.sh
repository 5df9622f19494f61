#!/usr/bin/env bash
# quern-smoke.sh QUERN HELP_FILE PREFIX_DIR: starts the built Quern on a scratch copy of a Wine
# prefix under a virtual X server and drives it as a user would, with real key presses: a path
# typed into the path line, two keys marked, the selection saved, changed, loaded back and saved
# again, an export in each form, the help, the menus left with Esc, a DWORD changed in the value editor,
# a value deleted and the deletion undone with Ctrl+Z, a key made with Ins, renamed with F2 and
# three values deleted with Del and All, a file imported through its preview, and Esc to close
# with its question. A second run on the files left types bytes into the binary page of a new value
# and of a string, tries Ins then Enter on a key with a default value, and presses F3 past the last
# match three times. It checks the files the program wrote and that it is alive where it should be.
# Exit 0: all held; 1: a check failed; 77: no Xvfb or xdotool here (the test is skipped).
set -u
exe=$(realpath "$1")
help=$(realpath "$2")
prefix=$(realpath "$3")
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "smoke: needs xvfb and xdotool"; exit 77; }

smoke_name="smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"

# The program and its help as an install lays them out, started from another folder: its
# settings file lands beside this copy, never beside the build's program.
mkdir -p "$work/bin" "$work/pfx" "$work/home" "$work/cfg" "$work/data" "$work/elsewhere" "$work/out"
cp "$exe" "$work/bin/quern"
cp "$help" "$work/bin/"
cp "$prefix"/*.reg "$work/pfx/"
cp -r "$work/pfx" "$work/pfx-before"

start_xvfb
# Answers the file dialog of that title with a full file name.
answer_file_dialog() {
    local dialog
    dialog=$(window_named "^$1") || fail "no file dialog \"$1\" for $2"
    focus "$dialog"
    keys ctrl+a
    type_text "$2"
    keys Return
    wait_gone "^$1" || fail "the file dialog \"$1\" stayed open"
    focus "$main" # without a window manager nothing gives the keyboard back to the window
}
wait_for_file() {
    for _ in $(seq 1 50); do [ -s "$1" ] && return 0; sleep 0.1; done
    return 1
}
crlf() { printf '%s\r\n' "$@"; }

( cd "$work/elsewhere" && WINEPREFIX="$work/pfx" HOME="$work/home" XDG_CONFIG_HOME="$work/cfg" \
    XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" exec "$work/bin/quern" ) >"$work/log" 2>&1 &
pid=$!
main=$(window_named '^Quern - THE registry editor') || fail "the main window did not show"
sleep 0.5
[ -z "$(xdotool search --all --onlyvisible --pid "$pid" --name '^Quern$' 2>/dev/null)" ] \
    || fail "a message box showed at start (the help not found beside the program?)"
focus "$main"

# The tree has the focus at start; the path line is two Tabs on.
go_to() {
    focus "$main"
    keys Tab Tab ctrl+a
    type_text "$1"
    keys Tab Tab # past the memo, back to the tree
}
go_to 'HKEY_CURRENT_USER\Software\Wine'
keys space
go_to 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion'
keys shift+space
alive || fail "the program ended while keys were marked"

keys ctrl+s
answer_file_dialog 'Save key selection as' "$work/out/first.qks"
wait_for_file "$work/out/first.qks" || fail "Ctrl+S wrote no selection file"
expected=$(crlf 'HKEY_CURRENT_USER\Software\Wine\' 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion')
[ "$(cat "$work/out/first.qks")" = "$expected" ] || fail "the selection file holds: $(cat -A "$work/out/first.qks")"

# Change the selection, then load the saved one back and save it again: the same two entries.
focus "$main"
keys shift+space
keys ctrl+l
answer_file_dialog 'Load key selection from' "$work/out/first.qks"
keys ctrl+s
answer_file_dialog 'Save key selection as' "$work/out/again.qks"
wait_for_file "$work/out/again.qks" || fail "the second Ctrl+S wrote no file"
cmp -s "$work/out/first.qks" "$work/out/again.qks" || fail "Ctrl+L did not bring the saved selection back"

keys ctrl+r
answer_file_dialog 'Save selected keys as .REG' "$work/out/backup.reg"
wait_for_file "$work/out/backup.reg" || fail "Ctrl+R wrote no export"
sleep 0.5
head -c 10 "$work/out/backup.reg" | grep -q '^REGEDIT4' || fail "the export does not start with REGEDIT4"
grep -q '^\[HKEY_CURRENT_USER\\Software\\Wine\]' "$work/out/backup.reg" || fail "the export lacks the marked key"
grep -q '^\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\]' "$work/out/backup.reg" \
    || fail "the export lacks the key marked alone"
grep -q '^\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\' "$work/out/backup.reg" \
    && fail "the export holds subkeys of a key marked alone"

# The same export as a Unicode file: the file type is one Tab after the file name, the second type.
focus "$main"
keys ctrl+r
dialog=$(window_named '^Save selected keys as .REG') || fail "the second Ctrl+R opened no file dialog"
focus "$dialog"
keys ctrl+a
type_text "$work/out/unicode.reg"
keys Tab Down Return
wait_gone '^Save selected keys as .REG' || fail "the file dialog of the Unicode export stayed open"
focus "$main"
wait_for_file "$work/out/unicode.reg" || fail "the Unicode export wrote no file"
sleep 0.5
[ "$(head -c 12 "$work/out/unicode.reg" | od -An -tx1 | tr -d ' \n')" = 'fffe570069006e0064006f00' ] \
    || fail "the Unicode export does not start with the byte-order mark and Windows"
iconv -f UTF-16LE -t UTF-8 "$work/out/unicode.reg" | grep -q '^\[HKEY_CURRENT_USER\\Software\\Wine\]' \
    || fail "the Unicode export lacks the marked key"

# The view modes and Refresh; the modes chosen come back in the settings written at close.
focus "$main"
keys ctrl+2 ctrl+shift+3 F5
alive || fail "the view keys or F5 ended the program"

keys alt+h a
about=$(window_named '^About Quern') || fail "Help > About opened no about box"
import -window root "$work/about.png" 2>/dev/null
focus "$about"
keys Escape
wait_gone '^About Quern' || fail "Esc did not close the about box"
alive || fail "the about box ended the program"

focus "$main"
keys F1
help_window=$(window_named 'Help') || fail "F1 opened no help window"
import -window root "$work/help.png" 2>/dev/null
focus "$help_window"
keys Escape
alive || fail "Esc in the help window ended the program"

# The menus take Esc for themselves: leaving them never closes the window.
focus "$main"
keys alt Escape
alive || fail "Alt, Esc ended the program"
keys alt+e Escape Escape
alive || fail "Alt+E, Esc, Esc ended the program"
keys alt+f Escape Escape
alive || fail "Alt+F, Esc, Esc ended the program"
[ -n "$(xdotool search --all --onlyvisible --pid "$pid" --name '^Quern - THE registry editor' 2>/dev/null)" ] \
    || fail "the main window is gone after the menus"

# Modify: Enter on a DWORD of the grid opens the value editor on it; a new number and OK (Enter)
# write it to the file before the dialog has gone.
go_to 'HKEY_CURRENT_USER\Control Panel\Desktop'
keys Tab # into the grid
keys Home Down Down # CaretWidth, the third value
keys Return
editor=$(window_named '^Changing value properties') || fail "Enter on a value opened no editor"
focus "$editor"
keys ctrl+a
type_text '2A' # the window shows DWORDs in hex since the view keys above, and so does the editor
keys Return
wait_gone '^Changing value properties' || fail "OK did not close the value editor"
grep -q '^"CaretWidth"=dword:0000002a$' "$work/pfx/user.reg" \
    || fail "OK wrote CaretWidth as: $(grep CaretWidth "$work/pfx/user.reg")"
alive || fail "the value editor ended the program"

# Undo: Del on a value writes the file without it, the Edit menu names the change, and Ctrl+Z
# gives the file back every byte it had.
focus "$main"
keys Left
go_to 'HKEY_CURRENT_USER\Control Panel\Colors'
cp "$work/pfx/user.reg" "$work/before-undo.reg"
keys Tab Home Delete
question=$(window_named '^Confirm') || fail "Del on a value did not ask"
focus "$question"
keys alt+y
wait_gone '^Confirm' || fail "Yes did not end the question"
cmp -s "$work/before-undo.reg" "$work/pfx/user.reg" && fail "Del on a value did not write user.reg"
focus "$main"
keys alt+e
sleep 0.3
import -window root "$work/edit-menu.png" 2>/dev/null
keys Escape Escape # the menu, then the menu bar
focus "$main"
keys ctrl+z
cmp -s "$work/before-undo.reg" "$work/pfx/user.reg" || fail "Ctrl+Z did not give user.reg back its bytes"
alive || fail "Undo ended the program"

# New, rename and delete: Ins on a key makes a subkey, F2 on it renames it, and Del on three
# values of the grid with All removes them, each written to the file before the next step.
focus "$main"
keys Left # from the grid back to the tree, where the path line is two Tabs on
go_to 'HKEY_CURRENT_USER\Software'
keys Insert
editor=$(window_named '^Creating new key') || fail "Ins on a key opened no new-key dialog"
focus "$editor"
type_text 'SmokeKey'
keys Return
wait_gone '^Creating new key' || fail "OK did not close the new-key dialog"
grep -q '^\[Software\\\\SmokeKey\] [0-9]*$' "$work/pfx/user.reg" || fail "Ins wrote no new key"
focus "$main"
keys F2
editor=$(window_named '^Changing key name') || fail "F2 on the new key opened no rename dialog"
focus "$editor"
keys ctrl+a
type_text 'SmokeRenamed'
keys Return
wait_gone '^Changing key name' || fail "OK did not close the rename dialog"
grep -q '^\[Software\\\\SmokeRenamed\] [0-9]*$' "$work/pfx/user.reg" || fail "F2 did not rename the key"
grep -q 'SmokeKey' "$work/pfx/user.reg" && fail "the renamed key is still in the file under its old name"
go_to 'HKEY_CURRENT_USER\Control Panel\Desktop'
keys Tab Home Down Down Down shift+Down shift+Down # ClickLockTime to DoubleClickWidth
keys Delete
question=$(window_named '^Confirm') || fail "Del on three values did not ask"
import -window root "$work/delete-question.png" 2>/dev/null
focus "$question"
keys alt+a
wait_gone '^Confirm' || fail "All did not end the questions"
alive || fail "deleting values ended the program"

# File > Import... by its accelerator keys: the preview lists the changes, Import writes them.
{ printf '\xff\xfe'; printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' '[HKEY_CURRENT_USER\Software\SmokeImport]' \
    '@="imported"' "\"Caf$(printf '\xc3\xa9')\"=\"cr$(printf '\xc3\xa8')me $(printf '\xe2\x82\xac')\"" \
    '"Big"=hex(b):01,02,03,04,05,06,07,08' | iconv -f UTF-8 -t UTF-16LE; } >"$work/out/in.reg"
focus "$main"
keys alt+f i
answer_file_dialog 'Import .REG file' "$work/out/in.reg"
preview=$(window_named '^Import in.reg') || fail "File > Import... showed no preview"
import -window root "$work/import-preview.png" 2>/dev/null
grep -q 'SmokeImport' "$work/pfx/user.reg" && fail "the import wrote before the preview was confirmed"
focus "$preview"
keys alt+i
wait_gone '^Import in.reg' || fail "Import did not close the preview"
grep -q '^\[Software\\\\SmokeImport\] [0-9]*$' "$work/pfx/user.reg" || fail "the import wrote no key"
grep -q '^"Caf\\xe9"="cr\\xe8me \\x20ac"$' "$work/pfx/user.reg" \
    || fail "the import wrote the string as: $(grep -a Caf "$work/pfx/user.reg")"
grep -q '^"Big"=hex(b):01,02,03,04,05,06,07,08$' "$work/pfx/user.reg" || fail "the import wrote no QWORD"
alive || fail "the import ended the program"

# Find from a key, then Search again until the end is said: each match moves the tree, and the
# path line at close shows the last one.
go_to 'HKEY_CURRENT_USER\Software\Wine'
keys ctrl+f
find=$(window_named '^Find :') || fail "Ctrl+F opened no Find dialog"
focus "$find"
type_text 'LogPixels'
keys Return
wait_gone '^Find :' || fail "Enter did not start the search"
wait_gone '^Looking for' || fail "the wait window stayed"
for _ in 1 2 3; do
    focus "$main"
    keys F3
    wait_gone '^Looking for' || fail "the wait window stayed"
    alive || fail "Search again ended the program"
done
told=$(window_named '^Quern$') || fail "the last Search again did not say that nothing more was found"
focus "$told"
keys Return
wait_gone '^Quern$' || fail "the message stayed"

# Esc asks before closing a window with a selection; No keeps it open. File > Exit asks too, and
# Yes closes.
focus "$main"
keys Escape
question=$(window_named '^Confirm') || fail "Esc with a selection did not ask"
focus "$question"
keys alt+n
alive || fail "No to the question closed the program"
focus "$main"
keys alt+f x
question=$(window_named '^Confirm') || fail "File > Exit did not ask"
focus "$question"
keys alt+y
for _ in $(seq 1 50); do alive || break; sleep 0.1; done
alive && fail "Yes to the close question left the program running"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ -s "$work/bin/settings.ini" ] || fail "closing wrote no settings file beside the program"
settings=$(tr -d '\r' <"$work/bin/settings.ini" | sed -n '3,5p' | paste -sd '|')
[ "$settings" = 'HKEY_USERS\S-1-5-21-0-0-0-1000\Software\Wine\Fonts|0|0' ] \
    || fail "the settings kept path and view modes as: $settings"
for file in system.reg userdef.reg; do
    cmp -s "$work/pfx-before/$file" "$work/pfx/$file" || fail "$file changed, though nothing in it was edited"
done
# In user.reg only the edited keys changed: the Desktop block's time, in both forms, its one
# value, the three values gone, the renamed key's block (a blank line and two lines) and the
# imported key's (a blank line, its header and time, and three values).
written=$(diff "$work/pfx-before/user.reg" "$work/pfx/user.reg" | grep '^>')
[ "$(printf '%s\n' "$written" | wc -l)" -eq 12 ] \
    && ! printf '%s\n' "$written" | grep -v -e '^> \[Control Panel\\\\Desktop\] [0-9]*$' -e '^> #time=[0-9a-f]*$' \
        -e '^> "CaretWidth"=dword:0000002a$' -e '^> $' -e '^> \[Software\\\\SmokeRenamed\] [0-9]*$' \
        -e '^> \[Software\\\\SmokeImport\] [0-9]*$' -e '^> @="imported"$' -e '^> "Caf\\xe9"=' -e '^> "Big"=' >/dev/null \
    || fail "user.reg gained otherwise than in the edited keys: $written"
removed=$(diff "$work/pfx-before/user.reg" "$work/pfx/user.reg" | grep '^<' | grep -v -e '^< \[Control Panel\\\\Desktop\] ' \
    -e '^< #time=' -e '^< "CaretWidth"=' | paste -sd '|')
[ "$removed" = '< "ClickLockTime"=dword:000004b0|< "DoubleClickHeight"="4"|< "DoubleClickWidth"="4"' ] \
    || fail "user.reg lost otherwise than the three deleted values: $removed"

# A second session on the files the first one left, for the value editor and Search again.
( cd "$work/elsewhere" && WINEPREFIX="$work/pfx" HOME="$work/home" XDG_CONFIG_HOME="$work/cfg" \
    XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" exec "$work/bin/quern" ) >"$work/log" 2>&1 &
pid=$!
main=$(window_named '^Quern - THE registry editor') || fail "the main window did not show again"
sleep 0.5
focus "$main"
# Clicks the editor's OK: Enter in a cell of the byte grid moves to the next cell instead.
click_ok() {
    local X="" Y="" WIDTH="" HEIGHT=""
    eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)"
    [ -n "$X" ] || fail "the value editor was gone before OK was clicked"
    xdotool mousemove --sync $((X + WIDTH / 2 + 20 + 45)) $((Y + HEIGHT - 44 + 8 + 14)) click 1
    sleep 0.4
}

# Ins then Enter on the grid of a key with a default value: the empty name is taken, OK refuses.
go_to 'HKEY_CURRENT_USER\Software\SmokeImport'
keys Tab Home Insert
editor=$(window_named '^Creating new value') || fail "Ins on the grid opened no new-value dialog"
focus "$editor"
keys Return
sleep 0.3
[ -n "$(xdotool search --all --onlyvisible --pid "$pid" --name '^Creating new value' 2>/dev/null)" ] \
    || fail "Enter with the default value's name closed the new-value dialog"
grep -q '^@="imported"$' "$work/pfx/user.reg" || fail "the default value was overwritten: $(grep -a '^@=' "$work/pfx/user.reg")"

# Still in that dialog: a name, the Binary type page, two numbers typed into the first cells, OK.
type_text 'Bytes'
keys Tab Right # from the name to the pages' tabs, and to the last page
keys Tab # into the grid: its first cell
type_text '7'
keys Return
type_text '255'
keys Return
import -window root "$work/binary-typed.png" 2>/dev/null
click_ok "$editor"
wait_gone '^Creating new value' || fail "OK did not close the new-value dialog"
grep -q '^"Bytes"=hex:07,ff$' "$work/pfx/user.reg" || fail "the typed bytes were written as: $(grep -a Bytes "$work/pfx/user.reg")"
grep -q '^@="imported"$' "$work/pfx/user.reg" || fail "the default value changed"

# A string changed on the Binary type page: its bytes are what was typed.
focus "$main"
keys ctrl+Home Return # the default value, a string, in the first row
editor=$(window_named '^Changing value properties') || fail "Enter on the default value opened no editor"
focus "$editor"
keys ctrl+Tab ctrl+Tab # the string page's field keeps the keyboard: to the Binary type page
type_text '65'
keys Return
click_ok "$editor"
wait_gone '^Changing value properties' || fail "OK did not close the value editor"
grep -q '^@=hex:41$' "$work/pfx/user.reg" || fail "the string changed on the binary page was written as: $(grep -a '^@=' "$work/pfx/user.reg")"

# Search again past the last match says so each time, from the value it stands on.
focus "$main"
keys ctrl+f
find=$(window_named '^Find :') || fail "Ctrl+F opened no Find dialog"
focus "$find"
type_text 'Bytes'
keys Return
wait_gone '^Find :' || fail "Enter did not start the search"
wait_gone '^Looking for' || fail "the wait window stayed"
focus "$main"
keys F3 # the same value under HKEY_USERS, the last match
wait_gone '^Looking for' || fail "the wait window stayed"
[ -z "$(xdotool search --all --onlyvisible --pid "$pid" --name '^Quern$' 2>/dev/null)" ] \
    || fail "Search again said no more before the last match"
for time in 1 2 3; do
    focus "$main"
    keys F3
    wait_gone '^Looking for' || fail "the wait window stayed"
    told=$(window_named '^Quern$') || fail "Search again number $time past the last match did not say so"
    [ "$time" = 2 ] && import -window root "$work/no-more-matches.png" 2>/dev/null
    focus "$told"
    keys Return
    wait_gone '^Quern$' || fail "the message stayed"
done
alive || fail "Search again ended the program"

focus "$main"
keys alt+f x
for _ in $(seq 1 50); do alive || break; sleep 0.1; done
alive && fail "File > Exit left the second session running"
wait "$pid"
pid=""
settings=$(tr -d '\r' <"$work/bin/settings.ini" | sed -n '3p')
[ "$settings" = 'HKEY_USERS\S-1-5-21-0-0-0-1000\Software\SmokeImport' ] \
    || fail "the path line did not stay on the last match: $settings"
echo "smoke: the program did all it was asked, and its files are as expected"
