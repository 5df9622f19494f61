#!/usr/bin/env bash
# Checks that Wine's regedit imports what Quern exports: a registry holding every kind of value is
# exported, imported into a scratch prefix with "wine regedit /S", and what arrived is compared
# with the source. Needs Debian's wine; takes a few seconds while Wine makes the prefix.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
command -v wine >/dev/null || { echo "wine is not installed (sudo apt-get install wine)"; exit 2; }
build="$root/build"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target interop_tool >/dev/null
work="$(mktemp -d)"
trap 'WINEPREFIX="$work/wine" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/tests/interop/interop_tool" make "$work/source" "$work/export.reg"
WINEPREFIX="$work/wine" WINEDEBUG=-all wine regedit /S "$work/export.reg" >/dev/null 2>&1
WINEPREFIX="$work/wine" wineserver -w
"$build/tests/interop/interop_tool" compare "$work/source" "$work/wine"
