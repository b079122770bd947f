#!/usr/bin/env bash
# An update of one large pack over a slow link with latency, by the engine and by the
# delta tools players know. tools/pack_versions.py makes a pack of random bytes and its
# next version under four patterns (replaced assets, appended assets with the table at
# the start rewritten, scattered small edits, nothing in common). nginx serves them on
# loopback (keep-alive, ranges) and an rsync daemon beside it, both through
# tools/latency_proxy.py (DELAY_MS each way, RATE_MBIT per direction). For each pattern,
# every client starts from the old pack, once what the machine wrote before is on disk
# and the memory freed before has settled (see settle):
#   engine delta   korvel-publish build as it is; bench_patch under Wine, from a state
#                  folder that has the old release installed (version and hash cache)
#   engine whole   the same, published with --no-delta
#   zsync          zsyncmake of the new pack; zsync -i OLD against its URL
#   casync         casync make into a chunk store; casync extract --seed=OLD
#   rsync          rsync from the daemon onto a copy of the old pack
# It prints the bytes the server sent (index and control files included: nginx's
# $bytes_sent, rsync's own count), the requests, the connections and the seconds (the
# engine's own run time, the others' wall clock), then each target.
# Usage: scripts/bench_delta.sh
#   PACK_MIB (256)  the pack's size        PATTERNS  (all four) which patterns
#   DELAY_MS (25)   latency each way       RATE_MBIT (100) the link's bandwidth
#   BIG_MIB (1024)  the pack for the working-set target, 0 skips it
#   BENCH_PUBLISH (1)  0 skips the publisher's target (scripts/bench_publish.sh)
#   BENCH_SEEDS (1)    0 skips the shared seeds and the large scattered pack
#                      (scripts/bench_seeds.sh, sized by its own variables)
#   STEP_TIMEOUT (900) seconds any one client may take
#   SETTLE_S (3)       seconds each client waits before it starts
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
pack_mib=${PACK_MIB:-256}
delay_ms=${DELAY_MS:-25}
rate_mbit=${RATE_MBIT:-100}
big_mib=${BIG_MIB:-1024}
step_timeout=${STEP_TIMEOUT:-900}
read -r -a patterns <<<"${PATTERNS:-replaced appended scattered unrelated}"
"$root/scripts/build.sh" >/dev/null
for c in nginx zsync zsyncmake casync rsync; do
    command -v "$c" >/dev/null || { echo "$c is needed (scripts/setup.sh installs it)" >&2; exit 1; }
done
tool=$build/native/bin/korvel-publish

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin delta
# shellcheck disable=SC2154  # $work comes from bench_begin
chmod 755 "$work"  # nginx's workers and the rsync daemon read as nobody when started by root
www=$work/www
mkdir -p "$www/zsync" "$www/casync" "$www/rsync" "$work/gen"

nginx_port=$(free_port)
start_nginx main "$nginx_port" "$www"

rsync_port=$(free_port)
cat >"$work/rsyncd.conf" <<EOF
use chroot = no
pid file = $work/rsyncd.pid
log file = $work/rsyncd.log
[packs]
    path = $www/rsync
    read only = yes
EOF
rsync --daemon --no-detach --config="$work/rsyncd.conf" --address=127.0.0.1 --port="$rsync_port" </dev/null \
    >/dev/null 2>&1 &
started+=($!)
wait_for "rsync daemon" rsync "rsync://127.0.0.1:$rsync_port/"

start_proxy http "$nginx_port" "$rate_mbit"
start_proxy rsync "$rsync_port" "$rate_mbit"
base=http://127.0.0.1:$(cat "$work/http.port")
rsync_base=rsync://127.0.0.1:$(cat "$work/rsync.port")/packs

# What this build's publisher can do: --no-delta, and an index named in a large file's entry.
mkdir -p "$work/probe/in"
head -c 2097152 /dev/urandom >"$work/probe/in/probe.pak"
publish_args() { echo --client-version 1 --base-url "$base/probe"; }
no_delta=""
# shellcheck disable=SC2046
"$tool" build "$work/probe/in" "$work/probe/whole" $(publish_args) --no-delta >/dev/null 2>&1 && no_delta=--no-delta
# shellcheck disable=SC2046
"$tool" build "$work/probe/in" "$work/probe/delta" $(publish_args) >/dev/null 2>&1
indexes=$(python3 -c 'import json, sys; e = json.load(open(sys.argv[1]))["files"][0]; print(int(len(e) > 3))' \
    "$work/probe/delta/releases/1/manifest.json")
rm -rf "$work/probe"
if [ "$indexes" = 1 ] && [ -n "$no_delta" ]; then
    engines=(delta whole)
else
    engines=(whole)
    echo "This build's publisher writes no chunk indexes (or knows no --no-delta): the engine's delta is n/a." >&2
fi

# nginx's log since line FROM: requests and bytes sent.
log_lines() { wc -l <"$work/nginx-main/access.log"; }
log_since() {
    tail -n +"$(($1 + 1))" "$work/nginx-main/access.log" |
        awk '{ n++; b += $4; if (!seen[$5]++) c++ } END { printf "%d %d %d", n, b, c }'
}
field() { grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2 | tr -d "\r"; }
win() { winepath -w "$1" 2>/dev/null; }
now() { date +%s.%N; }
same_or_fail() { cmp -s "$1" "$2" || { echo "$3: the result differs from the new pack" >&2; exit 1; }; }

engine() {  # GAME STATE URL MODE [taskset args...] -> output in $work/engine.txt
    local game=$1 state=$2 url=$3 mode=$4
    shift 4
    timeout "$step_timeout" "$@" wine "$build/bin/bench_patch.exe" "$(win "$game")" "$(win "$state")" "$url" "$mode" \
        </dev/null >"$work/engine.txt" 2>&1 || { echo "engine ($mode) failed:" >&2; cat "$work/engine.txt" >&2; exit 1; }
}

# An engine column's server folder with the old pack published as release 1, and a
# state folder as a player's after installing it (version and hash cache).
prepare_engine() {  # KIND OLD_PACK
    local kind=$1 out=$www/eng-$1 flags=()
    [ "$kind" = whole ] && [ -n "$no_delta" ] && flags=("$no_delta")
    mkdir -p "$work/rel-$kind" "$work/game-$kind" "$work/state0-$kind"
    ln -f "$2" "$work/rel-$kind/pack.pak"
    "$tool" build "$work/rel-$kind" "$out" --client-version 1 --base-url "$base/eng-$kind" "${flags[@]}" \
        </dev/null >"$work/publish.log" 2>&1 || { cat "$work/publish.log" >&2; exit 1; }
    cp -p "$2" "$work/game-$kind/pack.pak"
    engine "$work/game-$kind" "$work/state0-$kind" "$base/eng-$kind/patch/version.json" quick
}
publish_next() {  # KIND VERSION NEW_PACK
    local flags=()
    [ "$1" = whole ] && [ -n "$no_delta" ] && flags=("$no_delta")
    ln -f "$3" "$work/rel-$1/pack.pak"
    "$tool" build "$work/rel-$1" "$www/eng-$1" --client-version "$2" --base-url "$base/eng-$1" "${flags[@]}" \
        </dev/null >"$work/publish.log" 2>&1 || { cat "$work/publish.log" >&2; exit 1; }
}

declare -A bytes reqs conns secs extra
# Before each client: what the machine wrote is on disk, and memory freed by the steps
# before has gone back to the host. A virtual machine's host may take freed memory back
# after a second or two and hand it out again on first touch, which costs about 2 ms per
# MiB written; a client started right after another step freed a pack would find that
# memory warm and write its output faster than one that did not. Every client starts
# with it cold.
settle() {
    sync
    sleep "${SETTLE_S:-3}"
}

record() {  # KEY FROM_LINE START_TIME [SECONDS]
    local counts
    read -r -a counts <<<"$(log_since "$2")"
    reqs[$1]=${counts[0]}
    bytes[$1]=${counts[1]}
    conns[$1]=${counts[2]}
    secs[$1]=${4:-$(echo "$(now) - $3" | bc -l)}
}

run_engine() {  # KIND PATTERN VERSION OLD NEW [taskset args...]
    local kind=$1 key=$1_$2 game=$work/game-$1 state=$work/state-$1 from start
    rm -rf "$state"
    cp -a "$work/state0-$kind" "$state"
    cp -p "$4" "$game/pack.pak"
    settle
    from=$(log_lines)
    start=$(now)
    engine "$game" "$state" "$base/eng-$kind/patch/version.json" install "${@:6}"
    record "$key" "$from" "$start" "$(field "$work/engine.txt" total_s)"
    extra[${key}_peak]=$(field "$work/engine.txt" peak_working_set_mib)
    extra[${key}_seed]=$(field "$work/engine.txt" seed_s)
    same_or_fail "$game/pack.pak" "$5" "engine $kind"
}

peer() {  # TOOL PATTERN NEW COMMAND...: one tool's update, run in and into $work/TOOL
    local tool=$1 pattern=$2 new=$3 from start
    shift 3
    rm -rf "${work:?}/$tool"
    mkdir -p "$work/$tool"
    settle
    from=$(log_lines)
    start=$(now)
    (cd "$work/$tool" && timeout "$step_timeout" "$@" </dev/null >"$work/$tool.log" 2>&1) ||
        { echo "$tool failed:" >&2; cat "$work/$tool.log" >&2; exit 1; }
    record "${tool}_$pattern" "$from" "$start"
    same_or_fail "$work/$tool/pack.pak" "$new" "$tool"
}

run_zsync() {  # PATTERN OLD NEW
    peer zsync "$1" "$3" zsync -q -i "$2" -o "$work/zsync/pack.pak" "$base/zsync/$1.pak.zsync"
}

run_casync() {  # PATTERN OLD NEW
    peer casync "$1" "$3" casync extract --store="$base/casync/store" --seed="$2" "$base/casync/$1.caibx" \
        "$work/casync/pack.pak"
}

run_rsync() {  # PATTERN OLD NEW
    local start
    rm -rf "$work/rs"
    mkdir -p "$work/rs"
    cp "$2" "$work/rs/pack.pak"
    settle
    start=$(now)
    timeout "$step_timeout" rsync --stats --ignore-times "$rsync_base/$1.pak" "$work/rs/pack.pak" </dev/null \
        >"$work/rsync.log" 2>&1 || { echo "rsync failed:" >&2; cat "$work/rsync.log" >&2; exit 1; }
    secs[rsync_$1]=$(echo "$(now) - $start" | bc -l)
    bytes[rsync_$1]=$(sed -n 's/^Total bytes received: //p' "$work/rsync.log" | tr -d ,)
    reqs[rsync_$1]=-  # one session, no requests
    conns[rsync_$1]=1
    same_or_fail "$work/rs/pack.pak" "$3" rsync
}

echo "Generating a $pack_mib MiB pack..." >&2
python3 "$root/tools/pack_versions.py" "$work/gen" "$pack_mib" "${patterns[0]}" >"$work/new_bytes.txt"
old=$work/gen/old.pak
for kind in "${engines[@]}"; do prepare_engine "$kind" "$old"; done

version=1
declare -A new_bytes
for p in "${patterns[@]}"; do
    echo "Pattern $p: making the new version and every server's files..." >&2
    [ -f "$work/gen/$p.pak" ] || python3 "$root/tools/pack_versions.py" "$work/gen" "$pack_mib" "$p" >>"$work/new_bytes.txt"
    new_bytes[$p]=$(awk -v p="$p" '$1 == p { print $2 }' "$work/new_bytes.txt")
    new=$work/gen/$p.pak
    version=$((version + 1))
    for kind in "${engines[@]}"; do publish_next "$kind" "$version" "$new"; done
    ln -f "$new" "$www/zsync/$p.pak"
    zsyncmake -u "$p.pak" -o "$www/zsync/$p.pak.zsync" "$new" >/dev/null 2>&1
    casync make --store="$www/casync/store" "$www/casync/$p.caibx" "$new" >/dev/null 2>&1
    chmod -R a+rX "$www/casync"
    ln -f "$new" "$www/rsync/$p.pak"

    echo "Pattern $p: running the clients..." >&2
    for kind in "${engines[@]}"; do run_engine "$kind" "$p" "$version" "$old" "$new"; done
    run_zsync "$p" "$old" "$new"
    run_casync "$p" "$old" "$new"
    run_rsync "$p" "$old" "$new"
    if [ "$p" = replaced ] && [ "${engines[0]}" = delta ]; then  # reading the seed on one core
        run_engine delta replaced_1core "$version" "$old" "$new" taskset -c 0
    fi
    rm -rf "$www/zsync/$p.pak"* "$www/rsync/$p.pak" "$www/casync/store" "$www/casync/$p.caibx"
    for kind in "${engines[@]}"; do rm -rf "$www/eng-$kind/releases/$version"; done
    rm -f "$new"
done

# The working set of a delta update of a large pack.
big_peak=""
if [ "${engines[0]}" = delta ] && [ "$big_mib" -gt 0 ]; then
    echo "A $big_mib MiB pack with replaced assets, for the working set..." >&2
    rm -rf "$work/gen" "$www"/eng-* "$work"/rel-* "$work"/game-* "$work"/state*
    python3 "$root/tools/pack_versions.py" "$work/gen" "$big_mib" replaced >/dev/null
    prepare_engine delta "$work/gen/old.pak"
    publish_next delta 2 "$work/gen/replaced.pak"
    run_engine delta big 2 "$work/gen/old.pak" "$work/gen/replaced.pak"
    big_peak=${extra[delta_big_peak]}
fi

publish_line=""
if [ "${BENCH_PUBLISH:-1}" != 0 ]; then
    echo "The publisher next to sha256sum (scripts/bench_publish.sh)..." >&2
    publish_line=$("$root/scripts/bench_publish.sh" | grep -E '^(release:|korvel-publish build \(|sha256sum|ratio build)' || true)
fi

seeds_lines=""
if [ "${BENCH_SEEDS:-1}" != 0 ]; then
    echo "Seeds shared by new packs, and a large pack's working set (scripts/bench_seeds.sh)..." >&2
    seeds_lines=$("$root/scripts/bench_seeds.sh")
fi

# The table.
mb() { echo "$1 / 1000000" | bc -l; }
printf '\nA %d MiB pack, %s ms each way, %s Mbit/s each way; bytes the server sent, index and control files included\n' \
    "$pack_mib" "$delay_ms" "$rate_mbit"
declare -A names=([delta]="engine delta" [whole]="engine whole file" [zsync]=zsync [casync]=casync [rsync]=rsync)
for p in "${patterns[@]}"; do
    printf '%s (new bytes %.2f MB):\n' "$p" "$(mb "${new_bytes[$p]}")"
    for k in delta whole zsync casync rsync; do
        if [ -z "${bytes[${k}_$p]:-}" ]; then
            printf '  %-18s n/a (no index support in this build)\n' "${names[$k]}"
            continue
        fi
        printf '  %-18s %9.2f MB %6s requests %5d conn. %7.1f s\n' "${names[$k]}" "$(mb "${bytes[${k}_$p]}")" \
            "${reqs[${k}_$p]}" "${conns[${k}_$p]}" "${secs[${k}_$p]}"
    done
done

verdict() { if [ "$(echo "$1" | bc -l)" = 1 ]; then echo PASS; else echo FAIL; fi; }
printf '\nTargets:\n'
for p in replaced appended scattered; do
    [ -n "${bytes[zsync_$p]:-}" ] || continue
    fewest=${bytes[zsync_$p]}
    for k in casync rsync; do [ "${bytes[${k}_$p]}" -lt "$fewest" ] && fewest=${bytes[${k}_$p]}; done
    if [ -n "${bytes[delta_$p]:-}" ]; then
        printf '1. %-9s engine %.2f MB <= fewest of zsync, casync, rsync %.2f MB: %s\n' "$p" "$(mb "${bytes[delta_$p]}")" \
            "$(mb "$fewest")" "$(verdict "${bytes[delta_$p]} <= $fewest")"
        printf '1. %-9s engine %.1f s <= zsync %.1f s (rsync %.1f s): %s\n' "$p" "${secs[delta_$p]}" \
            "${secs[zsync_$p]}" "${secs[rsync_$p]}" "$(verdict "${secs[delta_$p]} <= ${secs[zsync_$p]}")"
    else
        printf '1. %-9s fewest of zsync, casync, rsync %.2f MB; engine n/a\n' "$p" "$(mb "$fewest")"
    fi
done
if [ -n "${bytes[delta_unrelated]:-}" ]; then
    printf '2. unrelated  engine %.2f MB, %.1f s <= 1.01 x whole file (%.2f MB, %.1f s): %s\n' \
        "$(mb "${bytes[delta_unrelated]}")" "${secs[delta_unrelated]}" "$(mb "${bytes[whole_unrelated]}")" \
        "${secs[whole_unrelated]}" "$(verdict "${bytes[delta_unrelated]} <= 1.01 * ${bytes[whole_unrelated]} && \
${secs[delta_unrelated]} <= 1.01 * ${secs[whole_unrelated]}")"
else
    echo "2. unrelated  n/a"
fi
if [ -n "${secs[delta_replaced]:-}" ]; then
    printf '3. replaced   whole update %.1f s <= 0.15 x whole file %.1f s at %s Mbit/s: %s\n' "${secs[delta_replaced]}" \
        "${secs[whole_replaced]}" "$rate_mbit" "$(verdict "${secs[delta_replaced]} <= 0.15 * ${secs[whole_replaced]}")"
else
    echo "3. replaced   n/a"
fi
seed_s=${extra[delta_replaced_1core_seed]:-0}
if [ "$(echo "$seed_s > 0" | bc -l)" = 1 ]; then
    rate=$(echo "$pack_mib * 1.048576 / $seed_s" | bc -l)
    printf '4. reading the seed under Wine on one core: %.0f MB/s >= 300 MB/s: %s\n' "$rate" "$(verdict "$rate >= 300")"
else
    echo "4. reading the seed: n/a (no seed comparison reported in this build)"
fi
if [ -n "$big_peak" ]; then
    printf '5. %d MiB pack delta: peak working set %s MiB < 64 MB (%.1f MiB): %s\n' "$big_mib" "$big_peak" \
        "$(echo "64 / 1.048576" | bc -l)" "$(verdict "$big_peak * 1.048576 < 64")"
else
    echo "5. working set of a large pack's delta: n/a"
fi
if [ -n "$publish_line" ]; then
    ratio=$(echo "$publish_line" | sed -n 's/^ratio build \/ sha256sum: \([0-9.]*\).*/\1/p')
    echo "$publish_line" | grep -v '^ratio' | sed 's/^/   /'
    printf '6. publisher build / sha256sum %s <= 1.5: %s\n' "$ratio" "$(verdict "$ratio <= 1.5")"
else
    echo "6. publisher: n/a"
fi
[ -z "$seeds_lines" ] || echo "$seeds_lines"
