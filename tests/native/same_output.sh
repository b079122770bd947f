#!/bin/sh
# The native and the Windows korvel-publish write byte-identical manifest.json,
# version.json and chunk indexes for the same release folders: a first release offering
# the unkeyed launcher build, then a second one (offering it still) built with --previous,
# which hard-links, deletes, renames a file's letter case, keeps one large file's index and
# makes another's anew, and then mends the second one's base URL (--mend-base-url: a new
# manifest beside the old one). Both then answer `verify OUT_DIR` and refused builds alike:
# going back to release 1, and offering the test-key launcher, whose keys both read from
# the file.
# Usage: same_output.sh NATIVE_TOOL WINE_RUN WINDOWS_TOOL
set -eu
native=$1 wine_run=$2 windows=$3
# The real launcher builds beside the Windows tool: the unkeyed one is offered, the
# test-key one refused.
bin=$(cd "$(dirname "$windows")" && pwd)
launcher=$bin/davari.exe
test_key_launcher=$(dirname "$bin")/test-keys/davari_test_key_NOT_FOR_PLAYERS.exe
work=$(mktemp -d /tmp/korvel-same-output.XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" >"$1"; }
put "$work/r1/data/pack.bin" "$(seq 1 200000)"
put "$work/r1/data/big.bin" "$(seq 1 300000)"
put "$work/r1/Readme.TXT" "readme"
put "$work/r1/old/gone.txt" "gone"
put "$work/r1/Ékezetes/árvíztűrő tükörfúrógép.txt" "ő"
put "$work/r1/data/empty" ""
mkdir -p "$work/new"; cp "$launcher" "$work/new/davari.exe"
put "$work/r2/data/pack.bin" "$(seq 1 200000)"
put "$work/r2/data/big.bin" "$(seq 3 300000)"
put "$work/r2/readme.txt" "readme 2"
put "$work/r2/Ékezetes/árvíztűrő tükörfúrógép.txt" "ő"
put "$work/r2/sub dir/new % file.txt" "new"

publish() {  # NAME RUN... : both releases into $work/out-NAME, paths given as the tool reads them
    name=$1; shift
    prefix=""
    [ "$name" = windows ] && prefix="Z:"
    out=$work/out-$name
    "$@" build "$prefix$work/r1" "$prefix$out" --client-version 1 --base-url https://patch.example.com/ \
        --launcher "$prefix$work/new/davari.exe" --launcher-version 2.2.0 >"$work/$name-1.log" 2>&1
    "$@" build "$prefix$work/r2" "$prefix$out" --client-version 2 --base-url https://patch.example.com/ \
        --previous "$prefix$out/releases/1/manifest.json" --launcher "$prefix$work/new/davari.exe" \
        --launcher-version 2.2.0 >"$work/$name-2.log" 2>&1
    "$@" build "$prefix$work/r2" "$prefix$out" --client-version 2 --base-url https://cdn.example.com/ \
        --launcher "$prefix$work/new/davari.exe" --launcher-version 2.2.0 --mend-base-url >"$work/$name-3.log" 2>&1
}
publish native "$native" || { cat "$work"/native-*.log; exit 1; }
publish windows "$wine_run" "$windows" || { cat "$work"/windows-*.log; exit 1; }

status=0
indexes=$(cd "$work/out-native" && ls releases/*/chunks/*.idx)
[ "$(echo "$indexes" | wc -l)" -eq 4 ] || { echo "expected 4 chunk indexes, found: $indexes"; status=1; }
mended=$(cd "$work/out-native" && ls releases/2/manifest-*.json)
[ "$(echo "$mended" | wc -l)" -eq 1 ] || { echo "expected 1 mended manifest, found: $mended"; status=1; }
grep -q "$mended" "$work/out-native/patch/version.json" || { echo "version.json does not name $mended"; status=1; }
for f in releases/1/manifest.json releases/2/manifest.json "$mended" patch/version.json $indexes; do
    if ! cmp "$work/out-native/$f" "$work/out-windows/$f"; then
        diff "$work/out-native/$f" "$work/out-windows/$f" || true
        status=1
    fi
done
grep -q '"delete"' "$work/out-native/releases/2/manifest.json" || { echo "release 2 lists no deletions"; status=1; }

# The same answers: verify of each tool's release on disk, and the refusal of going back
# to release 1 (its exit code and text), which writes nothing.
answers() {  # NAME RUN...
    name=$1; shift
    prefix=""
    [ "$name" = windows ] && prefix="Z:"
    out=$work/out-$name
    code=0
    "$@" verify "$prefix$out" >"$work/$name-verify.txt" 2>/dev/null || code=$?
    echo "exit $code" >>"$work/$name-verify.txt"
    code=0
    "$@" build "$prefix$work/r1" "$prefix$out" --client-version 1 --base-url https://patch.example.com/ \
        >/dev/null 2>"$work/$name-refusal.txt" || code=$?
    echo "exit $code" >>"$work/$name-refusal.txt"
    code=0
    "$@" build "$prefix$work/r2" "$prefix$out" --client-version 3 --base-url https://patch.example.com/ \
        --launcher "$prefix$test_key_launcher" --launcher-version 2.3.0 >/dev/null 2>>"$work/$name-refusal.txt" \
        || code=$?
    echo "exit $code" >>"$work/$name-refusal.txt"
    # The Windows tool names the launcher by the Z: path it was given.
    cat "$work/$name-verify.txt" "$work/$name-refusal.txt" | tr -d '\r' | sed 's#Z:/#/#g' | grep -v '^$' \
        >"$work/$name-answers.txt"
}
answers native "$native"
answers windows "$wine_run" "$windows"
if ! cmp -s "$work/native-answers.txt" "$work/windows-answers.txt"; then
    diff "$work/native-answers.txt" "$work/windows-answers.txt" || true
    status=1
fi
for answer in 'give --go-back' 'Offered launcher 2.2.0 trusts no release key' 'give --allow-keyed-launcher' \
        'give --allow-test-key-launcher'; do
    grep -q -- "$answer" "$work/native-answers.txt" || { echo "no answer says: $answer"; cat "$work/native-answers.txt"; status=1; }
done
exit $status
