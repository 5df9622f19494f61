#!/usr/bin/env bash
# Builds the benchmarks in Release and prints their figures. They are never run by the tests.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}" "${QUERN_TEST_PACKAGES[@]}"
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUERN_BUILD_GUI=ON -DQUERN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
for bench in "$build"/bench/*_bench; do
    echo "== $(basename "$bench")"
    "$bench"
done
