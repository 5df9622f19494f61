#!/usr/bin/env bash
# Times "quern-reg query HKLM /s > /dev/null" and "quern-reg export HKLM out.reg" as whole
# processes on a copy of the sample prefix, several runs, beside Wine's own "wine reg query" and
# "wine reg export" on another copy when wine is installed, and prints the figures and their
# ratios. RUNS sets the number of timed runs (default 5).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}"
runs="${RUNS:-5}"
build="$root/build-reg-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUERN_BUILD_GUI=OFF -DQUERN_BUILD_TESTS=OFF \
    -DQUERN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target quern-reg >/dev/null
program="$build/src/cli/quern-reg"

work="$(mktemp -d)"
trap 'WINEPREFIX="$work/wine" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
for copy in quern wine; do
    mkdir -p "$work/$copy"
    cp "$root/tests/data/wine-prefix/"*.reg "$work/$copy/"
done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Prints the runs' times in ms on one line, then their median on the next.
time_runs() {
    local times=() start end
    for _ in $(seq "$runs"); do
        [ -n "${before_each:-}" ] && "$before_each"
        start=$(now_ms)
        "$@" >/dev/null 2>&1
        end=$(now_ms)
        times+=($(( end - start )))
    done
    echo "${times[*]}"
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

echo "== quern-reg query HKLM /s > /dev/null ($runs runs, whole process)"
mapfile -t quern < <(WINEPREFIX="$work/quern" time_runs "$program" query HKLM /s)
echo "  runs: ${quern[0]} ms"
echo "  median: ${quern[1]} ms"
lines=$(WINEPREFIX="$work/quern" "$program" query HKLM /s | wc -l)
echo "  ($lines lines of output)"
echo "== quern-reg export HKLM out.reg ($runs runs, whole process)"
mapfile -t quern_export < <(WINEPREFIX="$work/quern" time_runs "$program" export HKLM "$work/quern.reg" /y)
echo "  runs: ${quern_export[0]} ms"
echo "  median: ${quern_export[1]} ms"

if ! command -v wine >/dev/null; then
    echo "wine is not installed: no reference figure"
    exit 0
fi

echo "== wine reg query HKLM /s > /dev/null ($runs runs, each starting its own wineserver)"
export WINEPREFIX="$work/wine" WINEDEBUG=-all
# A first run lets Wine bring the copied prefix up to date; it is not timed.
wine reg query HKLM /s >/dev/null 2>&1 || true
wait_for_server() { wineserver -w 2>/dev/null || true; }
before_each=wait_for_server
mapfile -t wine < <(time_runs wine reg query HKLM /s)
echo "  runs: ${wine[0]} ms"
echo "  median: ${wine[1]} ms"
awk -v w="${wine[1]}" -v q="${quern[1]}" \
    'BEGIN { printf "quern-reg takes 1/%.0f of the time of Wine'"'"'s reg (target: under 1/50)\n", w / (q > 0 ? q : 1) }'

echo "== wine reg export HKLM out.reg ($runs runs)"
mapfile -t wine_export < <(time_runs wine reg export HKLM "$work/wine.reg" /y)
echo "  runs: ${wine_export[0]} ms"
echo "  median: ${wine_export[1]} ms"
awk -v w="${wine_export[1]}" -v q="${quern_export[1]}" \
    'BEGIN { printf "quern-reg export takes 1/%.0f of the time of Wine'"'"'s (target: under 1/50)\n", w / (q > 0 ? q : 1) }'
