#!/usr/bin/env bash
# Checks that every C++ file git tracks is as clang-format (Debian's) lays it out with the
# repository's .clang-format; names each file that is not and exits 1. With --fix, formats them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
fix=0
[ "${1:-}" = "--fix" ] && fix=1
bad=0
while IFS= read -r file; do
    if [ "$fix" -eq 1 ]; then
        clang-format -i "$file"
    elif ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "check-format: $file is not as clang-format lays it out (scripts/check-format.sh --fix)"
        bad=1
    fi
done < <(git ls-files '*.cpp' '*.h')
[ "$bad" -eq 0 ] && [ "$fix" -eq 0 ] && echo "check-format: every file is formatted"
exit "$bad"
