#!/usr/bin/env bash
# Checks that Quern imports what Wine's "reg export" writes and gets Wine's data exactly: values of
# every kind, non-ASCII names and text, quotes, backslashes and line breaks are added with
# "wine reg add", exported with "wine reg export", imported with "quern-reg import" into an empty
# prefix, and the key is then exported from both prefixes by quern-reg in the lossless form and
# compared byte for byte. Needs Debian's wine; takes a few seconds while Wine makes its prefix.
# QUERN_BUILD_DIR names the build folder to use (build by default).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
command -v wine >/dev/null || { echo "wine is not installed (sudo apt-get install wine)"; exit 2; }
build="${QUERN_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quern-reg >/dev/null
quern_reg="$build/src/cli/quern-reg"
work="$(mktemp -d)"
trap 'WINEPREFIX="$work/wine" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
key='HKCU\Software\QuernImport'

wreg() { WINEPREFIX="$work/wine" WINEDEBUG=-all wine reg "$@" >/dev/null; }
wreg add "$key" /ve /d 'the default' /f
wreg add "$key" /v 'Café "quoted" \ back' /d 'Grüße, € and 中文' /f
wreg add "$key" /v expand /t REG_EXPAND_SZ /d '%SystemRoot%\x' /f
wreg add "$key" /v multi /t REG_MULTI_SZ /d 'one\0twö\0three' /f
wreg add "$key" /v dword /t REG_DWORD /d 0x12345678 /f
wreg add "$key" /v qword /t REG_QWORD /d 0x123456789abcdef /f
wreg add "$key" /v binary /t REG_BINARY /d 00ff10 /f
wreg add "$key" /v none /t REG_NONE /d '' /f
wreg add "$key" /v empty /d '' /f
wreg add "$key\Sub kéy\Deeper" /v x /d 1 /f
WINEPREFIX="$work/wine" WINEDEBUG=-all wine reg export "$key" "$work/wine.reg" /y >/dev/null
WINEPREFIX="$work/wine" wineserver -w

mkdir -p "$work/quern"
WINEPREFIX="$work/quern" "$quern_reg" import "$work/wine.reg"
WINEPREFIX="$work/quern" "$quern_reg" compare "$work/wine.reg" >/dev/null || {
    echo "compare finds changes right after the import"; exit 1; }
WINEPREFIX="$work/wine" "$quern_reg" export "$key" "$work/from-wine.reg" /unicode /y
WINEPREFIX="$work/quern" "$quern_reg" export "$key" "$work/from-quern.reg" /unicode /y
if cmp -s "$work/from-wine.reg" "$work/from-quern.reg"; then
    echo "Quern imported Wine's export exactly"
else
    echo "the imported key differs from Wine's:"
    diff <(iconv -f UTF-16 -t UTF-8 "$work/from-wine.reg") <(iconv -f UTF-16 -t UTF-8 "$work/from-quern.reg") || true
    exit 1
fi
