#!/usr/bin/env bash
# Installs what is missing, builds Quern with its tests and runs every test: once in a normal build
# (core and window tests), then an install of that build into a temporary prefix, then the core
# tests again under AddressSanitizer and UBSan. Before the build, it checks that includes between the
# folders of src/ run one way and that every C++ file is as clang-format lays it out.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
quern_install_packages "${QUERN_BUILD_PACKAGES[@]}" "${QUERN_TEST_PACKAGES[@]}"
jobs="$(nproc)"

echo "== Layers and formatting"
"$root/scripts/check-layers.sh"
"$root/scripts/check-format.sh"

echo "== Build and test"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== Install check"
"$root/scripts/check-install.sh" "$root/build"

echo "== Core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUERN_SANITIZE=ON \
      -DQUERN_BUILD_GUI=OFF -DQUERN_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -L core
