#!/usr/bin/env bash
# Times Quern's import of the sample prefix's HKEY_LOCAL_MACHINE, exported in the Version 5.00
# form, into an empty prefix (its write included) beside Wine's own import of the same file
# ("wine regedit /S") into a prefix Wine has just made, in the same run, and prints the ratio. Wine is optional:
# without it only Quern's figure is printed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}" "${QUERN_TEST_PACKAGES[@]}"
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUERN_BUILD_GUI=ON -DQUERN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target import_bench >/dev/null
work="$(mktemp -d)"
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
figures=$("$build/bench/import_bench" "$work/hklm.reg")
echo "$figures"
quern_ms=$(awk '/median/ { print $5 }' <<<"$figures")
command -v wine >/dev/null || { echo "wine is not installed: no reference figure"; exit 0; }

# A first run makes the prefix, which Wine does once; the second, into that prefix, is the one timed.
printf 'REGEDIT4\r\n' >"$work/empty.reg"
WINEPREFIX="$work/prefix" WINEDEBUG=-all wine regedit /S "$work/empty.reg" >/dev/null 2>&1 || true
WINEPREFIX="$work/prefix" wineserver -w
# Only regedit's own run is timed: the server writes the registry to disk later, when it exits,
# and that time is left to Wine's credit.
start=$(date +%s%N)
WINEPREFIX="$work/prefix" WINEDEBUG=-all wine regedit /S "$work/hklm.reg" >/dev/null 2>&1
end=$(date +%s%N)
wine_ms=$(( (end - start) / 1000000 ))
echo "  wine regedit /S of the same file (its write to disk not counted)  ${wine_ms} ms"
awk -v w="$wine_ms" -v q="$quern_ms" 'BEGIN { printf "  Quern is %.0f times as fast as Wine (target: at least 20)\n", w / q }'
