#!/usr/bin/env bash
# Compares Quern's lossless export with Wine's own: keys of a copy of the sample prefix are written
# by "quern-reg export" and by "wine reg export", and the files must be equal byte for byte. Exit 2
# (skipped) when Wine is not installed. Takes half a minute or so while Wine makes its prefix.
# The files differ, by design, only for values Wine's reg export cannot write without loss, which
# none of these keys holds: a REG_SZ without its closing NUL, with a NUL inside, of odd length or of
# no bytes (Wine cuts or pads it to a quoted string; Quern writes hex(1)), and a REG_DWORD that is
# not four bytes long (Wine writes dword: of its first four bytes; Quern writes hex(4)).
# QUERN_BUILD_DIR names the build folder to use (build by default).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
command -v wine >/dev/null || { echo "wine is not installed (sudo apt-get install wine): skipped"; exit 2; }
build="${QUERN_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quern-reg interop_tool >/dev/null
work="$(mktemp -d)"
prefix="$work/wine"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Wine needs a prefix of its own making to run reg.exe; its registry is then replaced by the
# sample's while no wineserver holds it, and the update that would rewrite it is switched off.
WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
WINEPREFIX="$prefix" wineserver -w
cp "$root"/tests/data/wine-prefix/*.reg "$prefix/"
echo disable >"$prefix/.update-timestamp"
"$build/tests/interop/interop_tool" fill "$prefix"

# Wine changes some keys each time it starts (fonts, devices) and keeps volatile ones only in
# memory, which no file holds; these keys it leaves alone. Its exports come first, and Quern reads
# the files once the wineserver has saved them and gone.
keys=(
    'HKEY_CURRENT_USER\Software\QuernExport'
    'HKEY_CURRENT_USER\Control Panel'
    'HKEY_LOCAL_MACHINE\Software\Classes'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Time Zones'
    'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services'
    'HKEY_USERS\.Default'
)
for i in "${!keys[@]}"; do
    WINEPREFIX="$prefix" wine reg export "${keys[$i]}" 'Z:'"${work//\//\\}"'\wine-'"$i"'.reg' /y >/dev/null
done
WINEPREFIX="$prefix" wineserver -w
for i in "${!keys[@]}"; do
    WINEPREFIX="$prefix" "$build/src/cli/quern-reg" export "${keys[$i]}" "$work/quern-$i.reg" /y
done

status=0
for i in "${!keys[@]}"; do
    if cmp -s "$work/quern-$i.reg" "$work/wine-$i.reg"; then
        echo "same: ${keys[$i]} ($(stat -c %s "$work/quern-$i.reg") bytes)"
    else
        echo "DIFFERENT: ${keys[$i]}"
        diff <(iconv -f UTF-16LE -t UTF-8 "$work/quern-$i.reg") <(iconv -f UTF-16LE -t UTF-8 "$work/wine-$i.reg") \
            | head -20 || true
        status=1
    fi
done
exit "$status"
