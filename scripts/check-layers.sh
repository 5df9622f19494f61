#!/usr/bin/env bash
# Checks that includes between the folders of src/ run one way: no subsystem includes the window
# (shell/), the window does not include the command line (cli/), the codec and the store do not
# include each other, and no two folders include each other. Prints each include that breaks a
# rule and exits 1; exits 0 when there is none.
set -uo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/../src" && pwd)"
# One line per include between two folders: FROM TO FILE:LINE
edges="$(cd "$src" && grep -rnE '^#include "[a-z]+/' --include='*.cpp' --include='*.h' . |
    sed -E 's|^\./([a-z]+)/([^:]+):([0-9]+):#include "([a-z]+)/.*|\1 \4 \1/\2:\3|' | awk '$1 != $2' | sort)"
bad=0
say() {
    echo "check-layers: $1"
    bad=1
}
while read -r from to where; do
    [ -z "$from" ] && continue
    if [ "$from" != shell ] && [ "$to" = shell ]; then
        say "$where: $from/ includes shell/ (the window wires the subsystems, never the reverse)"
    fi
    if [ "$from" = shell ] && [ "$to" = cli ]; then say "$where: shell/ includes cli/"; fi
    if [ "$from-$to" = codec-store ] || [ "$from-$to" = store-codec ]; then
        say "$where: $from/ includes $to/ (the codec and the store build on the floor below them)"
    fi
    if grep -q "^$to $from " <<<"$edges"; then say "$where: $from/ includes $to/, which includes $from/"; fi
done <<<"$edges"
if [ "$bad" -eq 0 ]; then echo "check-layers: every include runs one way"; fi
exit "$bad"
