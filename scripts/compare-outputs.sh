#!/usr/bin/env bash
# compare-outputs.sh OLD_QUERN_REG NEW_QUERN_REG [MAKE_EMPTY_HIVE]
# Runs two builds of quern-reg through the same commands on fresh copies of the test Wine prefix
# and of a small hive (made by make_empty_hive, filled by each build with the same adds) and
# compares what each prints, its exit code and the files it exports, byte for byte. A change that
# is meant to keep behaviour must leave no difference. Both runs use the same paths, so the
# prefix's location in the output compares equal.
# Exit 0: no difference; 1: differences (listed); 2: bad arguments.
set -u
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 OLD_QUERN_REG NEW_QUERN_REG [MAKE_EMPTY_HIVE]" >&2
    exit 2
fi
old=$(realpath "$1")
new=$(realpath "$2")
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
make_hive="${3:-$here/build-core/tests/hive/make_empty_hive}"
make_hive=$(realpath "$make_hive")
for exe in "$old" "$new" "$make_hive"; do
    [ -x "$exe" ] || { echo "compare-outputs: $exe is not a program" >&2; exit 2; }
done
prefix_data="$here/tests/data/wine-prefix"

work=$(mktemp -d)
# COMPARE_OUTPUTS_KEEP=1 keeps the outputs for a look (their folder is printed).
if [ -n "${COMPARE_OUTPUTS_KEEP:-}" ]; then echo "compare-outputs: outputs in $work"; else trap 'rm -rf "$work"' EXIT; fi
"$make_hive" "$work/empty-hive" || { echo "compare-outputs: make_empty_hive failed" >&2; exit 2; }

# One step: its stdout, stderr and exit code go to files named after it in $out.
step() {
    local name="$1"
    shift
    ( cd "$run" && env -i PATH="$PATH" HOME="$run/home" XDG_CONFIG_HOME="$run/cfg" XDG_DATA_HOME="$run/data" \
        WINEPREFIX="$run/prefix" "$reg" "$@" ) >"$out/$name.out" 2>"$out/$name.err"
    echo $? >"$out/$name.rc"
}

# Every command on fresh copies at the same paths, the outputs kept under $work/$2.
run_all() {
    reg="$1"
    out="$work/$2"
    run="$work/run"
    rm -rf "$run"
    mkdir -p "$run/home" "$run/cfg" "$run/data" "$out"
    cp -r "$prefix_data" "$run/prefix"
    local root
    for root in HKLM HKCU HKU HKCR; do
        step "query-$root" query "$root" /s
        step "export-$root" export "$root" "$run/$root.reg" /y
        cp "$run/$root.reg" "$out/export-$root.reg" 2>/dev/null
    done
    step find find '*font*'

    cp "$work/empty-hive" "$run/T"
    step hive-add-1 /hive "T=$run/T" add 'HKLM\T\Fonts' /v Courier /t REG_SZ /d 'cour.ttf' /f
    step hive-add-2 /hive "T=$run/T" add 'HKLM\T\Fonts\More' /v Size /t REG_DWORD /d 12 /f
    step hive-add-3 /hive "T=$run/T" add 'HKLM\T\Data' /v Blob /t REG_BINARY /d 00ff10 /f
    step hive-add-4 /hive "T=$run/T" add 'HKLM\T\Data' /v List /t REG_MULTI_SZ /d 'a\0fontb' /f
    step hive-add-5 /hive "T=$run/T" add 'HKLM\T\Data' /ve /d 'default' /f
    step hive-query /hive "T=$run/T" query 'HKLM\T' /s
    step hive-export /hive "T=$run/T" export 'HKLM\T' "$run/T.reg" /y
    cp "$run/T.reg" "$out/hive-export.reg" 2>/dev/null
    step hive-find /hive "T=$run/T" find '*font*'

    # What the user is told when something is wrong: files missing, not regular or malformed, data
    # that does not fit its type, a hive named wrongly, a selection that cannot be read; and an
    # import, a comparison and a selection's export that work.
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Cmp]\r\n"v"=dword:00000001\r\n' >"$run/a.reg"
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Cmp]\r\n"v"=dword:00000002\r\n"w"=hex:01\r\n' >"$run/b.reg"
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Cmp]\r\n"v"=dword:xyz\r\n' >"$run/bad.reg"
    printf '\376\377\000R' >"$run/big-endian.reg"
    step compare-plan compare "$run/a.reg"
    step compare-files compare "$run/a.reg" "$run/b.reg"
    step compare-missing compare "$run/a.reg" "$run/missing.reg"
    step compare-bad compare "$run/bad.reg"
    step import-missing import "$run/missing.reg"
    step import-folder import "$run"
    step import-bad import "$run/bad.reg"
    step import-big-endian import "$run/big-endian.reg"
    step import-ok import "$run/b.reg"
    step query-imported query 'HKCU\Software\Cmp'
    local type
    for type in REG_DWORD REG_QWORD REG_BINARY REG_MULTI_SZ REG_LINK; do
        step "add-bad-$type" add 'HKCU\Software\Cmp' /v bad /t "$type" /d '\0x' /f
    done
    step hive-no-pair /hive
    step hive-no-equals /hive T query HKLM
    step hive-too-deep /hive 'HKLM\A\B=x' query HKLM
    step export-sel-missing export --selection "$run/missing.qks" "$run/sel.reg" /y
    printf 'HKEY_CURRENT_USER\\Software\\Cmp\\\r\n' >"$run/sel.qks"
    step export-sel export --selection "$run/sel.qks" "$run/sel.reg" /y
    cp "$run/sel.reg" "$out/export-sel.reg" 2>/dev/null
    step export-folder export 'HKCU\Software\Cmp' "$run" /y
    rm -rf "$run"
}

run_all "$old" old
run_all "$new" new
if diff -r "$work/old" "$work/new"; then
    echo "compare-outputs: the two builds print and export the same, byte for byte ($(ls "$work/new" | wc -l) files)"
    exit 0
fi
echo "compare-outputs: the two builds differ (above)"
exit 1
