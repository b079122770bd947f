#!/bin/sh
# Follows the quick start of docs/operators.md on a fresh folder: every `mkdir` and
# `tools/korvel-publish` command between its quick-start marks runs, as written, with HOME
# a new temporary folder (the guide's ~/korvel). Commands that reach the example server or
# build programs are left out. Then checks that release 1.1.0 deletes the file it dropped.
# Usage: quick_start.sh BUILD_DIR
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
export BUILD_DIR=$1
HOME=$(mktemp -d /tmp/korvel-quick-start.XXXXXX)
export HOME
trap '[ -n "${KEEP:-}" ] || rm -rf "$HOME"' EXIT

# The game's files as the guide describes them: 1.1.0 changes one, adds one, drops one.
mkdir -p "$HOME/korvel/1.0.0/data" "$HOME/korvel/1.1.0/data"
printf 'client' >"$HOME/korvel/1.0.0/bat.exe"
printf 'world 1' >"$HOME/korvel/1.0.0/data/world.pak"
printf 'old map' >"$HOME/korvel/1.0.0/data/old.map"
printf 'client' >"$HOME/korvel/1.1.0/bat.exe"
printf 'world 2' >"$HOME/korvel/1.1.0/data/world.pak"
printf 'new map' >"$HOME/korvel/1.1.0/data/new.map"

# The guide's commands: indented lines of the marked part, continuation lines joined.
commands=$(sed -n '/<!-- quick-start -->/,/<!-- \/quick-start -->/p' "$root/docs/operators.md" |
    grep -E '^ {7}' | sed -E 's/^ +//' | sed -e ':a' -e '/\\$/N; s/\\\n */ /; ta' |
    grep -E '^(mkdir|tools/korvel-publish) ' | grep -v 'https://patch.example.com/patch/')
[ "$(printf '%s\n' "$commands" | grep -c 'korvel-publish build')" -eq 2 ] || {
    echo "the quick start no longer holds two builds:"; printf '%s\n' "$commands"; exit 1; }
cd "$root"
printf '%s\n' "$commands" | while IFS= read -r command; do
    echo "+ $command"
    sh -c "$command" </dev/null
done
grep -q '"data/old.map"' "$HOME/korvel/out/releases/1.1.0/manifest.json" ||
    { echo "release 1.1.0 does not delete data/old.map"; exit 1; }
echo "quick start followed"
