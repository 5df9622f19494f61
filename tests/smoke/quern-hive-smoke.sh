#!/usr/bin/env bash
# quern-hive-smoke.sh QUERN QUERN_REG MAKE_EMPTY_HIVE HELP_FILE: starts the built Quern with a hive
# file loaded (quern --hive SYS=FILE) under a virtual X server, moves to a key of the hive by typing
# its path, changes a DWORD in the value editor with real key presses, and checks the hive on disk
# with hivex's own hivexget, and the copy of the original kept beside it.
# Exit 0: all held; 1: a check failed; 77: no Xvfb, xdotool or hivexget here (the test is skipped).
set -u
exe=$(realpath "$1")
reg=$(realpath "$2")
make_hive=$(realpath "$3")
help=$(realpath "$4")
for tool in Xvfb xdotool hivexget; do
    command -v "$tool" >/dev/null || { echo "hive smoke: needs $tool"; exit 77; }
done

smoke_name="hive smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"

mkdir -p "$work/bin" "$work/home" "$work/data" "$work/cfg" "$work/win"
cp "$exe" "$work/bin/quern"
cp "$help" "$work/bin/"
hive="$work/win/SYSTEM"
"$make_hive" "$hive" || fail "no empty hive"
HOME="$work/home" XDG_DATA_HOME="$work/data" "$reg" /hive "SYS=$hive" add 'HKLM\SYS\Select' /v Current \
    /t REG_DWORD /d 1 /f >/dev/null || fail "quern-reg could not fill the hive"
rm -f "$hive.quern-orig"
cp "$hive" "$work/before"

start_xvfb

( cd "$work" && HOME="$work/home" XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" \
    exec "$work/bin/quern" --hive "SYS=$hive" ) >"$work/log" 2>&1 &
pid=$!
main=$(window_named '^Quern - THE registry editor') || fail "the main window did not show"
sleep 0.5
[ -z "$(xdotool search --all --onlyvisible --pid "$pid" --name '^Cannot load hive' 2>/dev/null)" ] \
    || fail "the hive given with --hive did not load"
focus "$main"
cmp -s "$work/before" "$hive" || fail "loading the hive changed it"

# The DWORD view in hex, then the path typed into the path line (two Tabs from the tree).
keys ctrl+2 ctrl+shift+3
keys Tab Tab ctrl+a
type_text 'HKEY_LOCAL_MACHINE\SYS\Select'
keys Tab Tab Tab # past the memo and the tree, into the grid
keys Home Return
editor=$(window_named '^Changing value properties') || fail "Enter on the hive's value opened no editor"
focus "$editor"
keys ctrl+a
type_text '2A'
keys Return
wait_gone '^Changing value properties' || fail "OK did not close the value editor"
sleep 0.5
[ "$(hivexget "$hive" '\Select' Current)" = 42 ] || fail "hivexget reads Current as: $(hivexget "$hive" '\Select' Current)"
cmp -s "$work/before" "$hive.quern-orig" || fail "the copy of the hive as it was is not beside it"
focus "$main"
import -window root "$work/hive.png" 2>/dev/null
[ -n "${SMOKE_SCREENSHOT:-}" ] && cp "$work/hive.png" "$SMOKE_SCREENSHOT"
alive || fail "the program ended"
keys Escape
for _ in $(seq 1 50); do alive || break; sleep 0.1; done
alive && fail "Esc did not close the window"
pid=""
echo "hive smoke: the value changed in the window is in the hive on disk, and its original beside it"
