#!/usr/bin/env bash
# quern-find-smoke.sh QUERN HELP_FILE PREFIX_DIR: the search driven with real key presses on a
# scratch copy of a Wine prefix under a virtual X server. Ctrl+F from a key, F3 twice, Shift+F3;
# then, in a new run with no expression yet, Shift+F3, which asks for one first: each time the path
# line that the window writes into settings.ini at close shows where it stopped. A third run starts
# at that deep key, runs Find all, saves the hits, narrows them with the filter and saves again,
# and marks them into the selection, which Ctrl+S saves: the files on disk must hold hits that lie
# before the start key too.
# Exit 0: all held; 1: a check failed; 77: no Xvfb or xdotool here (the test is skipped).
set -u
exe=$(realpath "$1")
help=$(realpath "$2")
prefix=$(realpath "$3")
smoke_name="find-smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool

lay_out_program "$exe" "$help" "$prefix" cfg data out
cp -r "$work/pfx" "$work/pfx-before"
start_xvfb

start_quern() {
    ( cd "$work" && WINEPREFIX="$work/pfx" HOME="$work/home" XDG_CONFIG_HOME="$work/cfg" \
        XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" exec "$work/bin/quern" ) >>"$work/log" 2>&1 &
    pid=$!
    main=$(window_named '^Quern - THE registry editor') || fail "the main window did not show"
    sleep 0.5
    focus "$main"
}
# Runs a search key (F3, shift+F3) and waits until its wait window has gone.
search_key() {
    focus "$main"
    keys "$1"
    wait_gone '^Looking for' || fail "the wait window of $1 stayed"
    [ -z "$(xdotool search --all --onlyvisible --pid "$pid" --name '^Quern$' 2>/dev/null)" ] \
        || fail "$1 said there was no match"
}
quit_quern() {
    focus "$main"
    keys alt+f x
    if question=$(window_named '^Confirm' 2>/dev/null); then
        focus "$question"
        keys alt+y
    fi
    for _ in $(seq 1 50); do alive || break; sleep 0.1; done
    alive && fail "File > Exit left the program running"
    wait "$pid"
    pid=""
}
path_line() { tr -d '\r' <"$work/bin/settings.ini" | sed -n '3p'; }
answer_file_dialog() {
    local dialog
    dialog=$(window_named "^$1") || fail "no file dialog \"$1\""
    focus "$dialog"
    keys ctrl+a
    type_text "$2"
    keys Return
    wait_gone "^$1" || fail "the file dialog \"$1\" stayed open"
    focus "$main"
}
wait_for_file() {
    for _ in $(seq 1 50); do [ -s "$1" ] && return 0; sleep 0.1; done
    return 1
}

# The matches of "Fonts" from HKLM\Software\Microsoft, in Search again's order: a value whose
# data is Fonts, then two keys of that name.
folder='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\FolderDescriptions\{FD228CB7-AE11-4AE3-864C-16F3910AB8FE}'
start_quern
focus "$main"
keys Tab Tab ctrl+a
type_text 'HKEY_LOCAL_MACHINE\Software\Microsoft'
keys Tab Tab # past the memo, back to the tree
keys ctrl+f
find=$(window_named '^Find :') || fail "Ctrl+F opened no Find dialog"
focus "$find"
type_text 'Fonts'
keys Return
wait_gone '^Find :' || fail "Enter did not start the search"
wait_gone '^Looking for' || fail "the wait window stayed"
search_key F3 # the key ...\Windows\CurrentVersion\Fonts
search_key F3 # the key ...\Windows NT\CurrentVersion\Fonts
search_key shift+F3 # back to ...\Windows\CurrentVersion\Fonts
alive || fail "Find previous ended the program"
quit_quern
[ "$(path_line)" = 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Fonts' ] \
    || fail "F3, F3, Shift+F3 stopped at $(path_line)"

# A new run has no expression yet: Shift+F3 asks for one, and its Find then goes backwards.
start_quern
keys shift+F3
find=$(window_named '^Find :') || fail "Shift+F3 without an expression opened no Find dialog"
focus "$find"
type_text 'Fonts'
keys Return
wait_gone '^Find :' || fail "Enter did not start the search"
wait_gone '^Looking for' || fail "the wait window stayed"
quit_quern
[ "$(path_line)" = "$folder" ] || fail "the second Shift+F3 stopped at $(path_line)"

# Find all from that deep key: the whole registry, HKEY_CURRENT_USER's hit before it included.
start_quern
[ "$(xdotool getwindowfocus)" = "$main" ] || focus "$main"
keys ctrl+f
find=$(window_named '^Find :') || fail "Ctrl+F opened no Find dialog"
focus "$find"
type_text 'LogPixels'
keys alt+a
wait_gone '^Find :' || fail "Find all did not close the Find dialog"
wait_gone '^Looking for' || fail "the wait window of Find all stayed"
sleep 0.5
import -window root "$work/hits.png" 2>/dev/null
focus "$main"
keys alt+s
answer_file_dialog 'Save hits as' "$work/out/hits.txt"
wait_for_file "$work/out/hits.txt" || fail "Save hits... wrote no file"
user='HKEY_CURRENT_USER\Software\Wine\Fonts	LogPixels	'
machine='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts	LogPixels	'
[ "$(wc -l <"$work/out/hits.txt")" -eq 2 ] || fail "the saved hits are: $(cat -A "$work/out/hits.txt")"
grep -qF "$user" "$work/out/hits.txt" || fail "the saved hits lack the one before the start key: $(cat "$work/out/hits.txt")"
grep -qF "$machine" "$work/out/hits.txt" || fail "the saved hits lack the one after the start key"

# The filter narrows the list, and Save hits... saves what it shows.
keys alt+t
type_text '*\Wine\*'
sleep 0.5
keys alt+s
answer_file_dialog 'Save hits as' "$work/out/filtered.txt"
wait_for_file "$work/out/filtered.txt" || fail "Save hits... after the filter wrote no file"
[ "$(wc -l <"$work/out/filtered.txt")" -eq 1 ] && grep -qF "$user" "$work/out/filtered.txt" \
    || fail "the filtered hits are: $(cat -A "$work/out/filtered.txt")"

# Mark hits puts the value into the selection, and Ctrl+S saves it.
keys alt+m
keys ctrl+s
answer_file_dialog 'Save key selection as' "$work/out/marked.qks"
wait_for_file "$work/out/marked.qks" || fail "Ctrl+S after Mark hits wrote no selection file"
[ "$(tr -d '\r' <"$work/out/marked.qks")" = 'HKEY_CURRENT_USER\Software\Wine\Fonts\\LogPixels' ] \
    || fail "the marked selection holds: $(cat -A "$work/out/marked.qks")"
alive || fail "the list of hits ended the program"
quit_quern
for file in system.reg user.reg userdef.reg; do
    cmp -s "$work/pfx-before/$file" "$work/pfx/$file" || fail "$file changed, though the search changes nothing"
done
echo "find-smoke: the search did all it was asked, and its files are as expected"
