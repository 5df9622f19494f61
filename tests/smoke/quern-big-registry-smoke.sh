#!/usr/bin/env bash
# quern-big-registry-smoke.sh QUERN HELP_FILE PREFIX_DIR QUERN_REG: the window on a system.reg large
# enough to be read on first use (the sample's keys four times over, below Copy0 to Copy3), driven
# in the built Quern under a virtual X server with real key presses: the path line goes to a deep
# key of the third copy, Del deletes the first value in its grid and F5 reads the file again. The
# file on disk must then differ from the one before by that value alone (quern-reg diff says so),
# every other block copied as it stood.
# Exit 0: all held; 1: a check failed; 77: no Xvfb or xdotool here (the test is skipped).
set -u
exe=$(realpath "$1")
help=$(realpath "$2")
prefix=$(realpath "$3")
reg=$(realpath "$4")
smoke_name="big registry smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool import

lay_out_program "$exe" "$help" "$prefix"
# Four copies of the sample's keys, each below a key of its own, in the order wineserver writes.
sample="$prefix/system.reg"
header_lines=$(grep -n -m1 '^\[' "$sample" | cut -d: -f1)
{
    head -n $((header_lines - 1)) "$sample"
    for copy in 0 1 2 3; do
        tail -n +"$header_lines" "$sample" | sed "s/^\[/[Copy$copy\\\\\\\\/"
    done
} >"$work/pfx/system.reg"
[ "$(stat -c %s "$work/pfx/system.reg")" -ge $((4 * 1024 * 1024)) ] || fail "the big system.reg is smaller than 4 MB"
mkdir -p "$work/before"
cp "$work/pfx/"*.reg "$work/before/"
start_xvfb

start_quern
# The path line (two Tabs from the tree) takes the key; three Tabs on, the grid has the keyboard.
focus "$main"
keys Tab Tab ctrl+a
type_text 'HKEY_LOCAL_MACHINE\Copy2\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
keys Return Tab Tab Tab Home
import -window root "$work/big-registry.png" 2>/dev/null
keys Delete
question=$(window_named '^Confirm') || fail "Del on the first value asked nothing"
focus "$question"
keys alt+y
wait_gone '^Confirm' || fail "Yes did not end the question"
focus "$main"
keys F5
alive || fail "the program ended after F5"
quit_quern

"$reg" diff HKLM HKLM /left "$work/before" /right "$work/pfx" /out "$work/changes.reg" >"$work/diff.log" 2>&1
[ $? = 1 ] || fail "quern-reg diff found no difference or failed: $(cat "$work/diff.log")"
# The changes file is the lossless kind, in UTF-16.
iconv -f UTF-16 -t UTF-8 "$work/changes.reg" | tr -d '\r' >"$work/changes.txt"
keys_changed=$(grep -c '^\[' "$work/changes.txt")
values_changed=$(grep -c '^"[^"]*"=' "$work/changes.txt")
[ "$keys_changed" = 1 ] && [ "$values_changed" = 1 ] || fail "more than the value changed: $(cat "$work/changes.txt")"
grep -q '^\[HKEY_LOCAL_MACHINE\\Copy2\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\]' "$work/changes.txt" \
    || fail "the change is not in the key deleted from: $(cat "$work/changes.txt")"
grep -q '=-$' "$work/changes.txt" || fail "the change is no deleted value: $(cat "$work/changes.txt")"
# Every block but the changed one is as it was, byte for byte.
blocks() { awk 'BEGIN { RS = "\n\n" } !/^\[Copy2\\\\Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Fonts\]/' "$1"; }
cmp -s <(blocks "$work/before/system.reg") <(blocks "$work/pfx/system.reg") || fail "blocks nobody changed were not copied as they stood"
cmp -s "$work/before/user.reg" "$work/pfx/user.reg" || fail "user.reg changed"
echo "big registry smoke: all checks passed"
