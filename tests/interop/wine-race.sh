#!/usr/bin/env bash
# Races quern-reg against Wine programs starting in the same prefix. In each round "wine reg add"
# and "quern-reg add" start a few milliseconds apart, at random, so that the wineserver starts
# before, during or after quern-reg's write. Once the server has gone (it writes its registry as it
# exits), every value either program reported as added must be there: quern-reg may refuse while a
# server runs, never report a write that the server then takes back. Needs Debian's wine; takes about
# five seconds a round (ROUNDS, 20 by default). QUERN_BUILD_DIR names the build folder (build by default).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
command -v wine >/dev/null || { echo "wine is not installed (sudo apt-get install wine)"; exit 2; }
build="${QUERN_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quern-reg >/dev/null
reg="$build/src/cli/quern-reg"
rounds="${ROUNDS:-20}"
work="$(mktemp -d)"
export WINEPREFIX="$work/wine" WINEDEBUG=-all
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w

# system.reg: the file a starting server reads first, and the largest, so the slowest to replace.
key='HKLM\Software\QuernRace'
pause() { sleep "0.0$(printf '%02d' $((RANDOM % 40)))"; }
written=0 refused=0 said=0 lost=0
for ((round = 1; round <= rounds; round++)); do
    (pause; wine reg add "$key" /v "wine$round" /d w /f >/dev/null 2>&1) &
    wine_job=$!
    pause
    quern=0
    "$reg" add "$key" /v "quern$round" /d q /f >/dev/null 2>"$work/err" || quern=$?
    wine=0
    wait "$wine_job" || wine=$?
    wineserver -w
    has() { "$reg" query "$key" /v "$1" >/dev/null 2>&1; }
    if [ "$quern" -eq 0 ]; then
        written=$((written + 1))
        has "quern$round" || { lost=$((lost + 1)); echo "round $round: quern-reg reported success, the value is gone"; }
    elif grep -q "may be lost" "$work/err"; then
        said=$((said + 1))
    else
        refused=$((refused + 1))
        grep -q "wineserver" "$work/err" || { echo "round $round: quern-reg failed for another reason:"; cat "$work/err"; }
    fi
    if [ "$wine" -eq 0 ] && ! has "wine$round"; then
        lost=$((lost + 1))
        echo "round $round: wine reg add reported success, the value is gone"
    fi
done
echo "$rounds rounds: quern-reg wrote $written, was refused by a running wineserver $refused times and said" \
     "$said times that a server started during its write; $lost values lost"
[ "$lost" -eq 0 ]
