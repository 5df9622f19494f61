#!/usr/bin/env bash
# Times Quern's export of the whole sample prefix beside Wine's own export of the same registry
# ("wine regedit /E"), in the same run. Wine is optional: without it only Quern's figure is printed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}" "${QUERN_TEST_PACKAGES[@]}"
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUERN_BUILD_GUI=ON -DQUERN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target export_bench >/dev/null
quern_ms=$("$build/bench/export_bench" | tee /dev/stderr | awk '/HKEY_LOCAL_MACHINE and HKEY_USERS/ { print $4 }')
command -v wine >/dev/null || { echo "wine is not installed: no reference figure"; exit 0; }

work="$(mktemp -d)"
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/prefix"
cp "$root/tests/data/wine-prefix/"*.reg "$work/prefix/"
# A first run lets Wine bring the copied prefix up to date; the second is the one timed.
WINEPREFIX="$work/prefix" WINEDEBUG=-all wine regedit /E "$work/warm.reg" >/dev/null 2>&1 || true
start=$(date +%s%N)
WINEPREFIX="$work/prefix" WINEDEBUG=-all wine regedit /E "$work/wine.reg" >/dev/null 2>&1
end=$(date +%s%N)
wine_ms=$(( (end - start) / 1000000 ))
echo "  wine regedit /E (HKEY_LOCAL_MACHINE and HKEY_USERS)  ${wine_ms} ms"
awk -v w="$wine_ms" -v q="$quern_ms" 'BEGIN { printf "  Quern takes 1/%.0f of Wine'"'"'s time (target: under 1/50)\n", w / q }'
