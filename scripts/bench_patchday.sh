#!/usr/bin/env bash
# Patch day: the engine (tools/bench_patch under Wine) installing a release while servers
# fail, against nginx (one process, a server block per site, each behind its own
# tools/latency_proxy.py with DELAY_MS each way) and the test patch server for the faults
# nginx cannot make. Four rounds, each printing its figures and targets:
#   failover   a release (SMALL_FILES files of 4..16 KiB and a PACK_MIB pack) published
#              with two --mirror, each site behind a link of MIRROR_MBIT: a clean run,
#              then one in which mirror B answers 503 with Retry-After 5 throughout and
#              host A's link is cut when the game folder holds 40 % of the release.
#              Bytes served against the release, seconds against the clean run, and the
#              busy mirror's requests after each 503 it sent.
#   overload   the pack alone, cut at 90 % and then answered 503 twice: bytes served.
#   stampede   STAMPEDE engines started within 2 s against one origin that serves
#              ORIGIN_CONNECTIONS connections at a time (nginx limit_conn) and answers
#              503 with Retry-After 2 beyond them, behind a link of RATE_MBIT: every
#              engine finishes; requests against the same engines run one by one; the
#              last one's time against the link's time for all the bytes.
#   stalled    the pack on a host that sends 1 MiB and then nothing, with a mirror: how
#              long until the mirror is asked, and from which byte.
# Usage: scripts/bench_patchday.sh
#   SMALL_FILES (2000)  PACK_MIB (512)  DELAY_MS (25)  MIRROR_MBIT (200)  STAMPEDE (16)
#   STAMPEDE_FILES (200)  STAMPEDE_PACK_MIB (16)  RATE_MBIT (400)  ORIGIN_CONNECTIONS (3)
# nginx logs the bytes it handed to a proxy, which holds at most a quarter second of its
# link: a cut link's last answer counts up to that much more than the engine received.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
small_files=${SMALL_FILES:-2000}
pack_mib=${PACK_MIB:-512}
delay_ms=${DELAY_MS:-25}
mirror_mbit=${MIRROR_MBIT:-200}
stampede=${STAMPEDE:-16}
stampede_files=${STAMPEDE_FILES:-200}
stampede_pack_mib=${STAMPEDE_PACK_MIB:-16}
rate_mbit=${RATE_MBIT:-400}
origin_connections=${ORIGIN_CONNECTIONS:-3}
"$root/scripts/build.sh" >/dev/null
command -v nginx >/dev/null || { echo "nginx is needed (scripts/setup.sh installs it)" >&2; exit 1; }
tool=$build/native/bin/korvel-publish

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin patchday
bench_with_servers
# shellcheck disable=SC2154  # $work comes from bench_begin
chmod 755 "$work"  # nginx's workers read as nobody when started by root
www=$work/www
mkdir -p "$www"

win() { winepath -w "$1" 2>/dev/null; }
field() { grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2 | tr -d "\r"; }
start_proxy() {  # NAME TARGET_PORT [RATE_MBIT] -> pid in $proxy_pid, port in $work/NAME.port
    local rate=()
    [ -n "${3:-}" ] && rate=(--rate-mbit "$3")
    rm -f "$work/$1.port"
    python3 "$root/tools/latency_proxy.py" --target "$2" --delay-ms "$delay_ms" "${rate[@]}" \
        --ready "$work/$1.port" </dev/null >/dev/null 2>&1 &
    proxy_pid=$!
    started+=("$proxy_pid")
    wait_for "$1 proxy" test -s "$work/$1.port"
}
engine() {  # NAME VERSION_URL: installs into a fresh folder; its output in $work/NAME.txt
    rm -rf "$work/$1"; mkdir -p "$work/$1/game" "$work/$1/state"
    [ -n "${seed_notes:-}" ] && cp "$seed_notes" "$work/$1/state/hosts.json"
    wine "$build/bin/bench_patch.exe" "$(win "$work/$1/game")" "$(win "$work/$1/state")" "$2" install \
        </dev/null >"$work/$1.txt" 2>&1
}

echo "Generating $small_files small files and a $pack_mib MiB pack..." >&2
make_small_files "$work/release" "$small_files" 40 4096 16384
mkdir -p "$work/release/packs" "$work/stampede/packs"
head -c "$((pack_mib << 20))" /dev/urandom >"$work/release/packs/big.pak"
make_small_files "$work/stampede" "$stampede_files" 10 4096 16384
head -c "$((stampede_pack_mib << 20))" /dev/urandom >"$work/stampede/packs/big.pak"
release_bytes=$(du -sb --apparent-size "$work/release" | cut -f1)

# nginx: sites a, b (busy while $work/b.busy exists), c and origin (limited), all serving
# $www; one log line per request with its time, site, status, bytes sent and range.
declare -A port
for site in a b c origin; do port[$site]=$(free_port); done
nginx_up '$msec $server_port $status $bytes_sent $uri "$http_range"' "    limit_conn_zone \$server_port zone=origin:1m;
    server { listen 127.0.0.1:${port[a]}; root $www; }
    server {
        listen 127.0.0.1:${port[b]}; root $www;
        location /releases/ {
            if (-f $work/b.busy) { add_header Retry-After 5 always; return 503; }
        }
    }
    server { listen 127.0.0.1:${port[c]}; root $www; }
    server {
        listen 127.0.0.1:${port[origin]}; root $www;
        limit_conn origin $origin_connections;
        error_page 503 @busy;
        location @busy { add_header Retry-After 2 always; return 503; }
    }"
touch "$www/ready"
wait_for nginx curl -sf -o /dev/null "http://127.0.0.1:${port[a]}/ready"
declare -A proxy
for site in a b c; do
    start_proxy "$site" "${port[$site]}" "$mirror_mbit"
    proxy[$site]=$proxy_pid
done
start_proxy origin "${port[origin]}" "$rate_mbit"
url() { echo "http://127.0.0.1:$(cat "$work/$1.port")"; }
log_lines() { wc -l <"$work/nginx/access.log"; }
log_since() { tail -n +"$(($1 + 1))" "$work/nginx/access.log"; }

# ---- failover ----
"$tool" build "$work/release" "$www" --client-version 1 --base-url "$(url a)" --mirror "$(url b)" \
    --mirror "$(url c)" --no-delta >/dev/null
echo "Failover: a clean run..." >&2
engine clean "$(url a)/patch/version.json" || { cat "$work/clean.txt" >&2; exit 1; }
clean_s=$(field "$work/clean.txt" total_s)

echo "Failover: B busy throughout, A cut at 40 %..." >&2
touch "$work/b.busy"
from=$(log_lines)
engine failover "$(url a)/patch/version.json" &
engine_pid=$!
# The engine's own progress: what its game folder holds, parts included.
until [ "$(du -sb --apparent-size "$work/failover/game" 2>/dev/null | cut -f1)" -ge "$((release_bytes * 4 / 10))" ]; do
    kill -0 "$engine_pid" 2>/dev/null || break
    sleep 0.2
done
kill "${proxy[a]}" 2>/dev/null || true
failover_ok=0
wait "$engine_pid" && failover_ok=1
rm -f "$work/b.busy"
failover_s=$(field "$work/failover.txt" total_s)
# A request B logs less than two round trips after a 503 was sent before the engine had
# that answer (nginx logs an answer when it is sent); one later than that, but within
# 5 s, was sent against the Retry-After.
read -r served b_requests b_early < <(log_since "$from" | python3 -c '
import sys
b_port, in_flight = sys.argv[1], 4 * float(sys.argv[2]) / 1000
served, last_503, b_requests, early = 0, None, 0, 0
for line in sys.stdin:
    t, site, status, sent = float(line.split()[0]), *line.split()[1:4]
    if "/releases/" in line: served += int(sent)
    if site != b_port: continue
    b_requests += 1
    if last_503 is not None and in_flight < t - last_503 < 5.0: early += 1
    if status == "503": last_503 = t
print(served, b_requests, early)' "${port[b]}" "$delay_ms")

# ---- overload: the test patch server cuts the pack at 90 %, then answers 503 twice ----
python3 "$root/tests/support/patch_server.py" --root "$www" --ready "$work/server.json" --log "$work/requests.jsonl" \
    </dev/null >/dev/null 2>&1 &
server=$!
wait_for "the test patch server" test -s "$work/server.json"
server_port=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["http_port"])' "$work/server.json")
start_proxy faults "$server_port"
mkdir -p "$work/pack/packs"
ln "$work/release/packs/big.pak" "$work/pack/packs/big.pak"
"$tool" build "$work/pack" "$www/overload" --client-version 1 --base-url "$(url faults)/overload" --no-delta >/dev/null
pack=$www/overload/releases/1/files/packs/big.pak
pack_size=$(stat -c %s "$pack")
cut=$((pack_size * 9 / 10))
printf '{"attempts": [{"reset_after": %d}, {"status": 503}, {"status": 503}]}' "$cut" >"$pack.fault.json"
echo "Overload: the pack cut at 90 %, then 503 twice..." >&2
overload_ok=0
engine overload "$(url faults)/overload/patch/version.json" && overload_ok=1
rm -f "$pack.fault.json"
overload_served=$(python3 -c '
import json, re, sys
size, cut = int(sys.argv[2]), int(sys.argv[3])
served = 0
for line in open(sys.argv[1]):
    r = json.loads(line)
    if not r["path"].endswith("/overload/releases/1/files/packs/big.pak"): continue
    rng = [v for k, v in r["headers"] if k.lower() == "range"]
    if r["attempt"] == 1: served += cut
    elif r["attempt"] > 3: served += size - (int(re.match(r"bytes=(\d+)-", rng[0]).group(1)) if rng else 0)
print(served)' "$work/requests.jsonl" "$pack_size" "$cut")

# ---- stalled: the pack's first answer on the first host stalls after 1 MiB ----
"$tool" build "$work/pack" "$www/stalled" --client-version 1 --base-url "$(url faults)/stalled" \
    --mirror "http://localhost:$(cat "$work/faults.port")/stalled" --no-delta >/dev/null
printf '{"attempts": [{"stall_after": 1048576, "stall_ms": 120000}]}' \
    >"$www/stalled/releases/1/files/packs/big.pak.fault.json"
# The mirror noted as failed by an earlier start: the run begins on the host that stalls.
printf '{"http://localhost:%s": %d}' "$(cat "$work/faults.port")" "$(($(date +%s) + 120))" >"$work/notes.json"
echo "Stalled host: 1 MiB, then nothing..." >&2
stalled_ok=0
seed_notes=$work/notes.json engine stalled "$(url faults)/stalled/patch/version.json" && stalled_ok=1
read -r left_after continued_from < <(python3 -c '
import json, sys
asked = [json.loads(l) for l in open(sys.argv[1]) if "/stalled/releases/1/files/packs/big.pak" in l]
ranges = [dict((k.lower(), v) for k, v in r["headers"]).get("range", "") for r in asked]
print("%.1f" % (asked[1]["time"] - asked[0]["time"]) if len(asked) > 1 else "n/a", ranges[1] if len(asked) > 1 else "n/a")
' "$work/requests.jsonl")

# ---- stampede ----
"$tool" build "$work/stampede" "$www/stampede" --client-version 1 --base-url "$(url origin)/stampede" --no-delta >/dev/null
stampede_bytes=$(du -sb --apparent-size "$work/stampede" | cut -f1)
echo "Stampede: one engine alone, then $stampede at once..." >&2
from=$(log_lines)
engine alone "$(url origin)/stampede/patch/version.json" || { cat "$work/alone.txt" >&2; exit 1; }
alone_requests=$(log_since "$from" | grep -c /stampede/)
from=$(log_lines)
start=$(date +%s.%N)
pids=()
for i in $(seq "$stampede"); do
    engine "crowd$i" "$(url origin)/stampede/patch/version.json" &
    pids+=($!)
    sleep "$(echo "2 / $stampede" | bc -l)"
done
finished=0
for pid in "${pids[@]}"; do wait "$pid" && finished=$((finished + 1)); done
crowd_s=$(echo "$(date +%s.%N) - $start" | bc -l)
crowd_requests=$(log_since "$from" | grep -c /stampede/)
link_s=$(echo "$stampede * $stampede_bytes * 8 / ($rate_mbit * 1000000)" | bc -l)

yes_no() { [ "$1" = 1 ] && echo yes || echo NO; }
check() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "PASS" : "FAIL" }'; }
printf '\nFailover (%d files, %d MiB pack, %d ms each way, %d Mbit/s per site; B 503 + Retry-After 5, A cut at 40 %%):\n' \
    "$small_files" "$pack_mib" "$delay_ms" "$mirror_mbit"
printf '  completed in one run: %s\n' "$(yes_no "$failover_ok")"
printf '  bytes served %.3f x the release (target <= 1.02): %s\n' "$(echo "$served / $release_bytes" | bc -l)" \
    "$(check "$(echo "$served / $release_bytes" | bc -l)" 1.02)"
printf '  %.1f s, clean run %.1f s: +%.1f s (target <= +20 s): %s\n' "${failover_s:-0}" "$clean_s" \
    "$(echo "${failover_s:-0} - $clean_s" | bc -l)" "$(check "$(echo "${failover_s:-0} - $clean_s" | bc -l)" 20)"
printf '  busy mirror: %d requests, %d sent within 5 s of a 503 it had answered (target 0): %s\n' "$b_requests" "$b_early" \
    "$(check "$b_early" 0)"
printf '\nOverload keeps progress (%d MiB pack cut at 90 %%, then 503 twice): completed %s, served %.3f x its size (target <= 1.02): %s\n' \
    "$pack_mib" "$(yes_no "$overload_ok")" "$(echo "$overload_served / $pack_size" | bc -l)" \
    "$(check "$(echo "$overload_served / $pack_size" | bc -l)" 1.02)"
printf '\nStalled host (1 MiB, then nothing): completed %s, mirror asked %s s later with Range %s (target <= 25 s): %s\n' \
    "$(yes_no "$stalled_ok")" "$left_after" "$continued_from" "$(check "$left_after" 25)"
printf '\nStampede (%d engines within 2 s; origin %d connections, 503 + Retry-After 2 beyond; %d Mbit/s):\n' \
    "$stampede" "$origin_connections" "$rate_mbit"
printf '  finished: %d of %d\n' "$finished" "$stampede"
printf '  requests %d, one by one %d (%.2f x; target <= 1.15): %s\n' "$crowd_requests" \
    "$((alone_requests * stampede))" "$(echo "$crowd_requests / ($alone_requests * $stampede)" | bc -l)" \
    "$(check "$(echo "$crowd_requests / ($alone_requests * $stampede)" | bc -l)" 1.15)"
printf '  last finished after %.1f s; the link needs %.1f s for all (%.2f x; target <= 1.3): %s\n' "$crowd_s" "$link_s" \
    "$(echo "$crowd_s / $link_s" | bc -l)" "$(check "$(echo "$crowd_s / $link_s" | bc -l)" 1.3)"
