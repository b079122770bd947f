#!/bin/sh
# Prints which product folder includes which, read from the #include lines: one line per
# folder with the folders it stands on. The README's layout section shows its output.
# Usage: tools/folder_graph.sh [REPOSITORY_ROOT]
set -eu
root=${1:-$(dirname "$0")/..}
cd "$root"
folders="core platform patcher window gamecfg launcher publisher swapper"
for folder in $folders; do
    uses=$(grep -rhoE '^#include "[a-z_]+/' "$folder" --include='*.cpp' --include='*.h' |
        sed -E 's/^#include "([a-z_]+)\//\1/' | sort -u | grep -vx "$folder" |
        grep -xE "$(echo $folders | tr ' ' '|')" | tr '\n' ' ' || true)
    printf '%-10s -> %s\n' "$folder/" "${uses:-(nothing)}"
done
