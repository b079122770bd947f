#!/usr/bin/env bash
# Delta seeds at the size of a real release, by the engine (bench_patch under Wine,
# nginx on loopback, no latency: what is measured here is reading and memory):
#   split    four deleted packs of SEED_MIB MiB turn into eight new packs, of which two
#            share content with them (each holds one half of every old pack, with EDITS
#            small edits) and six of FRESH_MIB MiB share nothing: each deleted pack is
#            offered to all eight. Prints each seed's bytes read, all seed reading
#            against the seeds' size, and the engine's peak working set.
#   large    one pack of LARGE_MIB MiB with 300 scattered small edits (tools/pack_versions.py):
#            the peak working set, the bytes the server sent, and how fast the seed was
#            read (its size over the time the progress said it was being compared).
# Then each target. Called by scripts/bench_delta.sh; runs alone as well.
# Usage: scripts/bench_seeds.sh
#   SEED_MIB (1024)  each deleted pack     FRESH_MIB (64)  each new pack of new bytes
#   EDITS (50)       edits in each of the two sharing packs
#   LARGE_MIB (4096) the scattered pack, 0 skips it      SPLIT (1)  0 skips the split
#   STEP_TIMEOUT (1800) seconds any one engine run may take
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
seed_mib=${SEED_MIB:-1024}
fresh_mib=${FRESH_MIB:-64}
edits=${EDITS:-50}
large_mib=${LARGE_MIB:-4096}
step_timeout=${STEP_TIMEOUT:-1800}
"$root/scripts/build.sh" >/dev/null
tool=$build/native/bin/korvel-publish

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin seeds
# shellcheck disable=SC2154  # $work comes from bench_begin
www=$work/www
mkdir -p "$www"
port=$(free_port)
start_nginx main "$port" "$www"
base=http://127.0.0.1:$port

win() { winepath -w "$1" 2>/dev/null; }
field() { grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2 | tr -d "\r"; }
sent_since() { tail -n +"$(($1 + 1))" "$work/nginx-main/access.log" | awk '{ b += $4 } END { printf "%d", b }'; }
engine() {  # GAME STATE MODE -> output in $work/engine.txt
    timeout "$step_timeout" wine "$build/bin/bench_patch.exe" "$(win "$1")" "$(win "$2")" \
        "$base/out/patch/version.json" "$3" </dev/null >"$work/engine.txt" 2>&1 ||
        { echo "engine ($3) failed:" >&2; cat "$work/engine.txt" >&2; exit 1; }
}
publish() {  # RELEASE_DIR VERSION
    "$tool" build "$1" "$www/out" --client-version "$2" --base-url "$base/out" </dev/null >"$work/publish.log" 2>&1 ||
        { cat "$work/publish.log" >&2; exit 1; }
}
# Release 1 from REL1 installed in $work/game (its files hard-linked there, a quick
# check recording them), release 2 from REL2 published, then the update run.
update() {  # REL1 REL2
    rm -rf "$www/out" "$work/game" "$work/state"
    publish "$1" 1
    cp -al "$1" "$work/game"
    mkdir -p "$work/state"
    engine "$work/game" "$work/state" quick
    rm -rf "$www/out/releases/1/files"  # nothing of it is fetched again
    publish "$2" 2
    local from
    from=$(wc -l <"$work/nginx-main/access.log")
    engine "$work/game" "$work/state" install
    sent=$(sent_since "$from")
    for f in $(cd "$2" && find . -type f); do
        cmp -s "$2/$f" "$work/game/$f" || { echo "the update's $f differs from the release's" >&2; exit 1; }
    done
}

mb() { echo "$1 / 1000000" | bc -l; }
verdict() { if [ "$(echo "$1" | bc -l)" = 1 ]; then echo PASS; else echo FAIL; fi; }
limit_mib=$(echo "64 / 1.048576" | bc -l)  # 64 MB
lines=()

if [ "${SPLIT:-1}" != 0 ]; then
    echo "Split: 4 x $seed_mib MiB deleted packs into 8 new ones..." >&2
    python3 - "$work/rel1/old" "$work/rel2/new" "$seed_mib" "$fresh_mib" "$edits" <<'PY'
import os, random, sys
old_dir, new_dir, seed_mib, fresh_mib, edits = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
MIB = 1 << 20
size, half = seed_mib * MIB, seed_mib * MIB // 2
os.makedirs(old_dir), os.makedirs(new_dir)

def write(path, pieces):  # ("old", k, offset, length) or ("new", seed, length)
    with open(path, "wb") as out:
        for p in pieces:
            if p[0] == "new":
                rng, left = random.Random(p[1]), p[2]
                while left:
                    out.write(rng.randbytes(min(left, MIB)))
                    left -= min(left, MIB)
                continue
            with open(os.path.join(old_dir, f"{p[1]}.pak"), "rb") as f:
                f.seek(p[2])
                left = p[3]
                while left:
                    out.write(f.read(min(left, MIB)))
                    left -= min(left, MIB)

for k in range(4):
    write(os.path.join(old_dir, f"{k}.pak"), [("new", 1000 + k, size)])
# The two sharing packs: every old pack's first half, or its second; edits of 1-4 KiB
# in place, one in each of `edits` equal stretches.
rng = random.Random(7)
per_pack = max(1, edits // 4)
stretch = half // per_pack
for n, first in enumerate((0, half)):
    stretches = [(k, first + i * stretch, stretch) for k in range(4) for i in range(per_pack)]
    pieces = []
    for k, at, length in stretches:
        cut = rng.randint(1024, 4096)
        edit = at + rng.randint(0, length - cut)
        pieces += [("old", k, at, edit - at), ("new", rng.getrandbits(64), cut), ("old", k, edit + cut, at + length - edit - cut)]
    write(os.path.join(new_dir, f"shared{n}.pak"), pieces)
for n in range(6):
    write(os.path.join(new_dir, f"fresh{n}.pak"), [("new", 2000 + n, fresh_mib * MIB)])
PY
    update "$work/rel1" "$work/rel2"
    grep -q '^seed_read ' "$work/engine.txt" || lines+=("   (this engine prints no seed_read lines: reading n/a)")
    total=0
    for k in 0 1 2 3; do
        read_k=$(awk -v n="old/$k.pak" '$1 == "seed_read" && $2 == n { print $3 }' "$work/engine.txt" | tr -d '\r')
        read_k=${read_k:-0}
        total=$((total + read_k))
        lines+=("$(printf '   old/%d.pak (%d MiB): read %.2f MB, %.3f times' "$k" "$seed_mib" "$(mb "$read_k")" \
            "$(echo "$read_k / ($seed_mib * 1048576)" | bc -l)")")
    done
    peak=$(field "$work/engine.txt" peak_working_set_mib)
    ratio=$(echo "$total / (4 * $seed_mib * 1048576)" | bc -l)
    lines+=("$(printf '7. split 4 x %d MiB into 8 packs: seeds read %.3f x their size <= 1.1: %s (server sent %.2f MB)' \
        "$seed_mib" "$ratio" "$(verdict "$ratio <= 1.1")" "$(mb "$sent")")")
    lines+=("$(printf '8. split: peak working set %s MiB < 64 MB (%.1f MiB): %s' "$peak" "$limit_mib" \
        "$(verdict "$peak < $limit_mib")")")
    rm -rf "$work/rel1" "$work/rel2" "$work/game" "$www/out"
fi

if [ "$large_mib" -gt 0 ]; then
    echo "A $large_mib MiB pack with scattered edits..." >&2
    python3 "$root/tools/pack_versions.py" "$work/gen" "$large_mib" scattered >/dev/null
    mkdir -p "$work/rel1" "$work/rel2"
    ln "$work/gen/old.pak" "$work/rel1/pack.pak"
    ln "$work/gen/scattered.pak" "$work/rel2/pack.pak"
    update "$work/rel1" "$work/rel2"
    peak=$(field "$work/engine.txt" peak_working_set_mib)
    seed_s=$(field "$work/engine.txt" seed_s)
    read_bytes=$(awk '$1 == "seed_read" && $2 == "pack.pak" { print $3 }' "$work/engine.txt" | tr -d '\r')
    lines+=("$(printf '9. %d MiB pack, scattered edits: peak working set %s MiB < 64 MB (%.1f MiB): %s (server sent %.2f MB)' \
        "$large_mib" "$peak" "$limit_mib" "$(verdict "$peak < $limit_mib")" "$(mb "$sent")")")
    if [ "$(echo "${seed_s:-0} > 0" | bc -l)" = 1 ]; then
        rate=$(echo "${read_bytes:-0} / 1000000 / $seed_s" | bc -l)
        lines+=("$(printf '10. reading the %d MiB seed under Wine: %.0f MB/s >= 300 MB/s: %s' "$large_mib" "$rate" \
            "$(verdict "$rate >= 300")")")
    fi
fi

printf '%s\n' "${lines[@]}"
