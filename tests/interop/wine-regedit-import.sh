#!/usr/bin/env bash
# Checks that Wine's regedit imports what Quern exports: a registry holding every kind of value,
# value names with line breaks and a key whose name holds one is exported, imported into a scratch
# prefix with "wine regedit /S", and what arrived is compared with the source. Both forms are
# checked: REGEDIT4, with what it cannot hold as documented, and the lossless Unicode form, in
# which every value, non-ASCII text included, must arrive with its type and bytes. Needs Debian's
# wine; takes a few seconds while Wine makes the prefixes. QUERN_BUILD_DIR names the build folder
# to use (build by default).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
command -v wine >/dev/null || { echo "wine is not installed (sudo apt-get install wine)"; exit 2; }
build="${QUERN_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target interop_tool >/dev/null
work="$(mktemp -d)"
trap 'for p in "$work"/wine-*; do WINEPREFIX="$p" wineserver -k 2>/dev/null || true; done; rm -rf "$work"' EXIT
status=0
for form in regedit4 unicode; do
    echo "== $form"
    # A make that wrote its file but found fault goes on to the import: what Wine made of it shows why.
    made=0
    "$build/tests/interop/interop_tool" make "$work/source-$form" "$work/export-$form.reg" "$form" || made=$?
    [ -f "$work/export-$form.reg" ] || exit 1
    WINEPREFIX="$work/wine-$form" WINEDEBUG=-all wine regedit /S "$work/export-$form.reg" >/dev/null 2>&1
    WINEPREFIX="$work/wine-$form" wineserver -w
    "$build/tests/interop/interop_tool" compare "$work/source-$form" "$work/wine-$form" "$form" || status=1
    [ "$made" = 0 ] || status="$made"
done
exit "$status"
