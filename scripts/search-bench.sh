#!/usr/bin/env bash
# Times "quern-reg find EXPR > /dev/null" (the whole registry: HKEY_LOCAL_MACHINE, then HKEY_USERS)
# as a whole process on a copy of the sample prefix, several runs, beside Wine's own search of
# HKEY_LOCAL_MACHINE on another copy when wine is installed, and prints the figures and their
# ratio. EXPR is the first argument (default *font*); RUNS sets the number of timed runs (default 5).
#
# Wine's search is "wine reg query HKLM /s /f EXPR" where its reg knows /f. Where it does not (Wine
# 8's reg refuses it as invalid syntax), the only way Wine has is the whole listing, "wine reg query
# HKLM /s", written to a file and filtered with grep: the same listing a user would search, and the
# filter costs milliseconds beside it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}"
expression="${1:-*font*}"
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
        "$@" >/dev/null 2>&1 || true
        end=$(now_ms)
        times+=($(( end - start )))
    done
    echo "${times[*]}"
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

echo "== quern-reg find \"$expression\" > /dev/null ($runs runs, whole process)"
mapfile -t quern < <(WINEPREFIX="$work/quern" time_runs "$program" find "$expression")
echo "  runs: ${quern[0]} ms"
echo "  median: ${quern[1]} ms"
hits=$(WINEPREFIX="$work/quern" "$program" find "$expression" | wc -l || true)
echo "  ($hits hits in HKEY_LOCAL_MACHINE and HKEY_USERS)"

if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    echo "wine is not installed: no reference figure"
    exit 0
fi

export WINEPREFIX="$work/wine" WINEDEBUG=-all
# A first run lets Wine bring the copied prefix up to date; it is not timed.
wine reg query HKLM /s >/dev/null 2>&1 || true
wait_for_server() { wineserver -w 2>/dev/null || true; }
wait_for_server
listing="$work/wine-listing.txt"
help=$(wine reg query '/?' 2>/dev/null || true)
if grep -q -- '/f\b' <<<"$help"; then
    title="wine reg query HKLM /s /f \"$expression\" > /dev/null"
    wine_search() { wine reg query HKLM /s /f "$expression"; }
else
    # The expression's wildcards as a basic regular expression, for grep over the listing's lines.
    pattern=$(printf '%s' "$expression" | sed -e 's/[][\.^$]/\\&/g' -e 's/\*/.*/g' -e 's/?/./g')
    pattern="${pattern#.\*}"
    pattern="${pattern%.\*}"
    title="wine reg query HKLM /s > file; grep -i \"$pattern\" file (this reg has no /f)"
    wine_search() { wine reg query HKLM /s >"$listing"; grep -i -- "$pattern" "$listing"; }
fi
echo "== $title ($runs runs, each starting its own wineserver)"
before_each=wait_for_server
mapfile -t wine < <(time_runs wine_search)
echo "  runs: ${wine[0]} ms"
echo "  median: ${wine[1]} ms"
wait_for_server
echo "  ($(wine_search 2>/dev/null | wc -l || true) lines of the listing found)"
awk -v w="${wine[1]}" -v q="${quern[1]}" \
    'BEGIN { printf "quern-reg find is %.0f times as fast as Wine'"'"'s search (target: at least 50 times)\n", w / (q > 0 ? q : 1) }'
