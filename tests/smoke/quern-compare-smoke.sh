#!/usr/bin/env bash
# quern-compare-smoke.sh QUERN QUERN_REG HELP_FILE PREFIX_DIR: snapshots and the compare window,
# driven in the built Quern under a virtual X server with real key presses. File > Take snapshot
# writes the registry as it is (quern-reg diff finds no difference with it); a program changes the
# prefix meanwhile (quern-reg here); File > Compare with snapshot lists what changed, Save right to
# left writes the .reg that takes it back, and Make right like left takes it back in the registry.
# Exit 0: all held; 1: a check failed; 77: no Xvfb, xdotool or ImageMagick here (the test is skipped).
set -u
exe=$(realpath "$1")
reg=$(realpath "$2")
help=$(realpath "$3")
prefix=$(realpath "$4")
smoke_name="compare smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool import

lay_out_program "$exe" "$help" "$prefix"
start_xvfb
quern_reg() { WINEPREFIX="$work/pfx" HOME="$work/home" "$reg" "$@"; }
start_quern
# Runs the File menu's item of letter $1, which opens the window titled $2. Alt+F opens the File
# menu and the Find menu in turn (both are &F), so a press that opened Find is closed and repeated.
file_item() {
    for _ in 1 2 3; do
        focus "$main"
        keys alt+f
        keys "$1"
        for _ in $(seq 1 15); do
            [ -n "$(xdotool search --all --onlyvisible --pid "$pid" --name "$2" 2>/dev/null)" ] && return 0
            sleep 0.1
        done
        keys Escape Escape
    done
    fail "File > ($1) did not open '$2'"
}
# Types a file's path into the file dialog titled $1.
answer_file() {
    dialog=$(window_named "^$1") || fail "no '$1' dialog"
    focus "$dialog"
    keys ctrl+a
    type_text "$2"
    keys Return
    wait_gone "^$1" || fail "the '$1' dialog stayed open"
}

file_item n '^Take snapshot'
answer_file 'Take snapshot' "$work/snap.reg"
[ -s "$work/snap.reg" ] || fail "Take snapshot wrote no file"
for root in HKLM HKCU; do
    quern_reg diff "$work/snap.reg" "$root" >"$work/diff" || fail "the snapshot differs from $root: $(head "$work/diff")"
done

# A program changes the prefix while Quern shows it.
quern_reg add 'HKCU\Software\Wine\Installed' /v By /d setup.exe /f >/dev/null || fail "quern-reg add failed"
quern_reg delete 'HKCU\Control Panel\Mouse' /v MouseSpeed /f >/dev/null || fail "quern-reg delete failed"

file_item w '^Compare with snapshot'
answer_file 'Compare with snapshot' "$work/snap.reg"
compare=$(window_named '^Compare$') || fail "Compare with snapshot showed no compare window"
focus "$compare"
keys alt+e # Save right to left: the file that takes the program's changes back
answer_file 'Save the changes as' "$work/undo.reg"
iconv -f UTF-16LE -t UTF-8 "$work/undo.reg" >"$work/undo.txt"
grep -q '^\[-HKEY_CURRENT_USER\\Software\\Wine\\Installed\]' "$work/undo.txt" || fail "undo.reg does not delete the key added"
grep -q '^"MouseSpeed"="1"' "$work/undo.txt" || fail "undo.reg does not give MouseSpeed back"
focus "$compare"
keys alt+m # Make right like left
preview=$(window_named '^Make ') || fail "Make right like left showed no list of changes"
focus "$preview"
keys Return
wait_gone '^Make ' || fail "the list of changes stayed open"
for root in HKLM HKCU; do
    quern_reg diff "$work/snap.reg" "$root" >"$work/diff" || fail "$root is not as the snapshot: $(head "$work/diff")"
done
focus "$compare"
keys Escape
wait_gone '^Compare$' || fail "Esc did not close the compare window"

# File > Compare... on the same key of the same registry finds nothing.
file_item m '^Compare$'
compare=$(window_named '^Compare$') || fail "File > Compare showed no compare window"
focus "$compare"
keys alt+c
import -window root "$work/compare.png"
keys Escape
quit_quern
echo "compare smoke: passed"
