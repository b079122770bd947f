#!/usr/bin/env bash
# Patch day: installs by the engine (tools/bench_patch under Wine) while servers fail,
# turn players away or stall. Every server is on loopback behind its own
# tools/latency_proxy.py (DELAY_MS each way; the nginx ones a RATE_MBIT link each);
# nginx serves the mirrors, the test patch server (tests/support/patch_server.py) the
# faults nginx cannot make. Bytes and requests are counted from the servers' own logs
# (nginx's $bytes_sent per request: bytes written to its socket; the test server's log
# with the Range each request asked for); the proxies count the bytes they handed on to
# the engine, which is what reached it. Four scenarios:
#   failover   a release of FILES small files and a PACK_MIB pack on three mirrors. A
#              clean install first (the first mirror's version document, the others'
#              as fallbacks); then one where the third answers 503 with Retry-After: 5
#              to everything and, at 40 % of the clean run's time, whichever of the
#              first two has sent more on its open connections (the pack's) goes away
#              (its proxy ends as if killed). Bytes served by all three (nginx's count,
#              and what reached the engine) against the release, time against the
#              clean run, and the requests the busy mirror received less than 5 s
#              after a 503 it sent.
#   overload   the pack alone on the test server: its first answer is reset at 90 %,
#              the next two are 503 (the first with Retry-After: 1). Bytes of the pack
#              served against its size.
#   stampede   ENGINES engines started within 2 s against one origin (nginx) that
#              serves ORIGIN_CONNS requests at a time and answers the rest 503 with
#              Retry-After: 2, its link RATE_MBIT Mbit/s; a release of STAMPEDE_FILES
#              small files and a STAMPEDE_MIB pack. The same engines one by one first.
#              Requests against one by one; the last finish against the time the
#              origin's link needs for every engine's bytes. Where the time went: the
#              CPU seconds of the engines, the origin's proxy and nginx, wineserver and
#              the whole machine, and the origin link's use per second.
#              STAMPEDE_MODE=threads runs the engines at once in one process.
#   stall      eight 4 MiB files; the mirror (the test server) sends half of any file
#              and then nothing. When the engine leaves it, and the byte the file
#              continues from on the base URL's nginx.
# Usage: scripts/bench_patchday.sh [PACK_MIB]
#   PACK_MIB (512)  FILES (2000)  DELAY_MS (25)  ENGINES (16)  ORIGIN_CONNS (4)
#   RATE_MBIT (100)  STAMPEDE_FILES (200)  STAMPEDE_MIB (16)  STAMPEDE_MODE (processes:
#   one process per engine, or threads)  STEP_TIMEOUT (900) seconds any one install
#   may take  SCENARIOS ("failover overload stampede stall")
#   PACK_MIB=32 is a quick round.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
pack_mib=${PACK_MIB:-${1:-512}}
small_files=${FILES:-2000}
delay_ms=${DELAY_MS:-25}
engines=${ENGINES:-16}
origin_conns=${ORIGIN_CONNS:-4}
rate_mbit=${RATE_MBIT:-100}
stampede_files=${STAMPEDE_FILES:-200}
stampede_mib=${STAMPEDE_MIB:-16}
stampede_mode=${STAMPEDE_MODE:-processes}
step_timeout=${STEP_TIMEOUT:-900}
read -r -a scenarios <<<"${SCENARIOS:-failover overload stampede stall}"
"$root/scripts/build.sh" >/dev/null
command -v nginx >/dev/null || { echo "nginx is needed (scripts/setup.sh installs it)" >&2; exit 1; }
tool=$build/native/bin/korvel-publish

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin patchday
now() { date +%s.%N; }
calc() { echo "$1" | bc -l; }
verdict() { if [ "$(calc "$1")" = 1 ]; then echo PASS; else echo FAIL; fi; }
win() { local p=${1//\//\\}; echo "Z:$p"; }  # without starting Wine: engines start together

declare -A pids
# A latency proxy (tools/latency_proxy.py) named NAME; its pid in pids[NAME-proxy].
proxy() {  # NAME TARGET_PORT [RATE_MBIT]
    start_proxy "$@"
    pids[$1-proxy]=$last_started
}

# nginx named NAME on PORT serving ROOT, its pid in pids[NAME]: MODE serve, busy (503
# with Retry-After: 5 to everything) or limited (ORIGIN_CONNS requests at a time, 503
# with Retry-After: 2 to the rest; the zone's key is the port, as an empty key, such as
# $server_name without a server_name, is never counted).
run_nginx() {  # NAME PORT ROOT MODE
    local server_lines
    case $4 in
        serve) server_lines="location / { }" ;;
        busy) server_lines="location / { add_header Retry-After 5 always; return 503; }" ;;
        limited) server_lines="location / { limit_conn origin $origin_conns; }
        error_page 503 @busy;
        location @busy { add_header Retry-After 2 always; return 503; }" ;;
    esac
    # shellcheck disable=SC2016  # nginx's variable
    start_nginx "$1" "$2" "$3" "$server_lines" 'limit_conn_zone $server_port zone=origin:1m;'
    pids[$1]=$last_started
}
stop() {  # NAME
    kill "${pids[$1]}" 2>/dev/null || true
    timeout 10 tail --pid="${pids[$1]}" -f /dev/null 2>/dev/null || kill -9 "${pids[$1]}" 2>/dev/null || true
}

# The test patch server named NAME serving ROOT; its port in port_of[NAME], its log in
# $work/NAME.jsonl.
start_test_server() {  # NAME ROOT
    python3 "$root/tests/support/patch_server.py" --root "$2" --ready "$work/$1.json" --log "$work/$1.jsonl" \
        </dev/null >/dev/null 2>&1 &
    started+=($!)
    pids[$1]=$!
    wait_for "test server $1" test -s "$work/$1.json"
    port_of[$1]=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["http_port"])' "$work/$1.json")
}

# A mirror: its nginx port and its proxy; the URL players use in $url_of[NAME].
declare -A port_of url_of
mirror() {  # NAME [RATE_MBIT]
    port_of[$1]=$(free_port)
    proxy "$1" "${port_of[$1]}" "${2:-}"
    url_of[$1]=http://127.0.0.1:$(cat "$work/$1.port")
}

# An nginx log since line FROM: "requests bytes".
log_lines() { wc -l <"$work/nginx-$1/access.log"; }
log_since() {  # NAME FROM
    tail -n +"$(($2 + 1))" "$work/nginx-$1/access.log" | awk '{ n++; b += $4 } END { printf "%d %d", n, b }'
}

# Publishes the folder IN into OUT with base URL BASE and the further mirrors.
publish() {  # IN OUT BASE [MIRROR...]
    local in=$1 out=$2 base=$3 args=()
    shift 3
    local m
    for m in "$@"; do args+=(--mirror "$m"); done
    "$tool" build "$in" "$out" --client-version 1 --base-url "$base" "${args[@]}" </dev/null \
        >"$work/publish.log" 2>&1 || { cat "$work/publish.log" >&2; exit 1; }
    chmod -R a+rX "$out"
}
# The bytes of the files below DIR (du would count the folders too).
release_bytes() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }'; }  # DIR

# One install into fresh folders below $work/runs/KEY; its start time in
# $work/runs/KEY/start, its CPU seconds (user, system) in $work/runs/KEY/cpu, its
# wall-clock seconds in secs[KEY]. When the engine fails or files are missing, it
# returns 1 and what went wrong is in $work/runs/KEY/error.
declare -A secs
bench_flags=()  # further options of bench_patch (before the folders)
engine() {  # KEY VERSION_URL EXPECTED_FILES [FALLBACK_VERSION_URL...]
    local dir=$work/runs/$1 start
    rm -rf "$dir"
    mkdir -p "$dir/game" "$dir/state"
    start=$(now)
    echo "$start" >"$dir/start"
    local rc=0
    timeout "$step_timeout" /usr/bin/time -f '%U %S' -o "$dir/cpu" wine "$build/bin/bench_patch.exe" \
        "${bench_flags[@]}" "$(win "$dir/game")" "$(win "$dir/state")" "$2" install "${@:4}" \
        </dev/null >"$dir/out.txt" 2>&1 || rc=$?
    if [ "$rc" = 124 ]; then
        echo "no end in $step_timeout s" >"$dir/error"
    elif [ "$rc" != 0 ]; then
        { grep -v '^files=' "$dir/out.txt" || echo "exit code $rc, no output"; } | tail -1 >"$dir/error"
    fi
    [ "$rc" = 0 ] || return 1
    secs[$1]=$(calc "$(now) - $start")
    [ "$(find "$dir/game" -type f | wc -l)" -eq "$3" ] || { echo "files missing" >"$dir/error"; return 1; }
}
# PASS, or FAIL with the engine's last words.
outcome() { if [ -s "$work/runs/$1/error" ]; then echo "FAIL ($(cat "$work/runs/$1/error"))"; else echo PASS; fi; }

mb() { calc "$1 / 1000000"; }
declare -a lines
# shellcheck disable=SC2059  # the format is the first argument
say() { lines+=("$(printf "$@")"); }  # FORMAT ARGS...

echo "Generating $small_files small files and a $pack_mib MiB pack..." >&2
make_small_files "$work/release" "$small_files" 40 512 16384
head -c "$((pack_mib * 1048576))" /dev/urandom >"$work/release/pack.pak"
total_files=$((small_files + 1))

# The bytes nginx NAME has sent on the connections open now.
bytes_out() {  # NAME
    ss -tinH state established "( sport = :${port_of[$1]} )" | grep -o 'bytes_sent:[0-9]*' |
        awk -F: '{ s += $2 } END { print s + 0 }'
}

# The bytes of answers the proxy NAME has handed on to its clients: as it stopped
# (delivered_in), or now (delivered).
delivered_in() {  # NAME
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["delivered"])' "$work/$1.stats"
}
delivered() {  # NAME
    proxy_stats "$1" "${pids[$1-proxy]}"
    delivered_in "$1"
}

per_mirror() {  # FROM1 FROM2 FROM3: "requests/MB" of m1, m2 and m3 since those lines
    local counts i=1 m out=()
    for m in m1 m2 m3; do
        read -r -a counts <<<"$(log_since "$m" "${!i}")"
        out+=("$(printf '%d/%.1f' "${counts[0]}" "$(mb "${counts[1]}")")")
        i=$((i + 1))
    done
    echo "${out[*]}"
}

failover() {
    local m from1 from2 from3 start pid fail_s served fails
    for m in m1 m2 m3; do mirror "$m" "$rate_mbit"; done
    publish "$work/release" "$work/fail" "${url_of[m1]}" "${url_of[m2]}" "${url_of[m3]}"
    for m in m1 m2 m3; do run_nginx "$m" "${port_of[$m]}" "$work/fail" serve; done
    local size
    size=$(release_bytes "$work/fail/releases/1/files")
    echo "Failover: a clean install from three mirrors..." >&2
    from1=$(log_lines m1) from2=$(log_lines m2) from3=$(log_lines m3)
    local versions=()  # the first mirror's version document, then the others' as fallbacks
    for m in m1 m2 m3; do versions+=("${url_of[$m]}/patch/version.json"); done
    engine clean "${versions[0]}" "$total_files" "${versions[@]:1}" ||
        { echo "the clean install failed: $(cat "$work/runs/clean/error")" >&2; exit 1; }
    local clean_split
    clean_split=$(per_mirror "$from1" "$from2" "$from3")

    echo "Failover: m1 or m2 stopped at 40 %, m3 busy..." >&2
    stop m3
    run_nginx m3 "${port_of[m3]}" "$work/fail" busy
    from1=$(log_lines m1) from2=$(log_lines m2) from3=$(log_lines m3)
    local -A delivered_before
    for m in m1 m2 m3; do delivered_before[$m]=$(delivered "$m"); done
    start=$(now)
    engine failover "${versions[0]}" "$total_files" "${versions[@]:1}" &
    pid=$!
    sleep "$(calc "0.4 * ${secs[clean]}")"
    # Of m1 and m2, the one that has sent the most on its open connections (the pack's,
    # wherever this run started it) goes away: its connections break, new ones are refused.
    local gone=m1
    [ "$(bytes_out m2)" -gt "$(bytes_out m1)" ] && gone=m2
    kill -USR1 "${pids[$gone-proxy]}"  # its figures written, it ends as if killed
    wait "${pids[$gone-proxy]}" 2>/dev/null || true
    local ok=1
    wait "$pid" || ok=0
    fail_s=$(calc "$(now) - $start")
    served=$(($(log_since m1 "$from1" | cut -d' ' -f2) + $(log_since m2 "$from2" | cut -d' ' -f2) +
        $(log_since m3 "$from3" | cut -d' ' -f2)))
    # What reached the engine: the bytes the mirrors' proxies handed on to it.
    local arrived=0 now_delivered
    for m in m1 m2 m3; do
        if [ "$m" = "$gone" ]; then now_delivered=$(delivered_in "$m"); else now_delivered=$(delivered "$m"); fi
        arrived=$((arrived + now_delivered - delivered_before[$m]))
    done
    local split pack
    split=$(per_mirror "$from1" "$from2" "$from3")
    pack=$(for m in "m1 $from1" "m2 $from2" "m3 $from3"; do
        tail -n +"$((${m#* } + 1))" "$work/nginx-${m% *}/access.log" |
            awk -v m="${m% *}" '$6 ~ /pack.pak$/ { printf "%s %s %.1f MB; ", m, $7, $4 / 1e6 }'
    done)
    # The busy mirror: requests that arrived after a 503 had reached the engine (one
    # round trip after it was sent) and less than 5 s after it was sent.
    fails=$(tail -n +"$((from3 + 1))" "$work/nginx-m3/access.log" | python3 -c '
import sys
rtt = float(sys.argv[1]) * 4 / 1000  # a request sent before the 503 arrived, on a new connection
rows = [(float(t) - float(d), float(t), s) for t, d, s, *_ in (l.split() for l in sys.stdin)]
busy = [end for _, end, s in rows if s == "503"]
early = sum(1 for start, _, _ in rows if any(b + rtt < start < b + 5 for b in busy))
gaps = [start - b for start, _, _ in rows for b in busy if start > b + rtt]
print(len(rows), len(busy), early, f"{min(gaps):.2f}" if gaps else "-")' "$delay_ms")
    read -r -a fails <<<"$fails"
    say 'Failover (%d files, %.1f MB; %d ms each way; %s stopped at %.1f s, m3 503 with Retry-After: 5):' \
        "$total_files" "$(mb "$size")" "$delay_ms" "$gone" "$(calc "0.4 * ${secs[clean]}")"
    say '  requests, MB per mirror m1 m2 m3: clean run %s; this run %s' "$clean_split" "$split"
    # What the stopped mirror sent of the pack beyond the byte it continued from elsewhere:
    # lost in the buffers between them when the host went away, not asked for twice.
    local lost
    lost=$(for m in "m1 $from1" "m2 $from2"; do tail -n +"$((${m#* } + 1))" "$work/nginx-${m% *}/access.log"; done |
        awk '$6 ~ /pack.pak$/ { if ($7 == "-") whole += $4; else { sub(/^bytes=/, "", $7); from = $7 + 0 } }
            END { print (from > 0 && whole > from) ? whole - from : 0 }')
    say '  the pack (mirror, Range, MB sent): %s%.1f MB of it in flight when %s went away' "$pack" "$(mb "$lost")" "$gone"
    say '  completes in one run: %s' "$(outcome failover)"
    say '  bytes served (nginx'"'"'s $bytes_sent) %.2f MB = %.4f x the release <= 1.02: %s' "$(mb "$served")" \
        "$(calc "$served / $size")" "$(verdict "$ok && $served <= 1.02 * $size")"
    say '  bytes that reached the engine (the mirrors'"'"' proxies'"'"' count) %.2f MB = %.4f x the release <= 1.02: %s' \
        "$(mb "$arrived")" "$(calc "$arrived / $size")" "$(verdict "$ok && $arrived <= 1.02 * $size")"
    say '  time %.1f s <= clean run %.1f s + 20 s: %s' "$fail_s" "${secs[clean]}" \
        "$(verdict "$ok && $fail_s <= ${secs[clean]} + 20")"
    say '  busy mirror: %d requests, %d answered 503, %d within 5 s of a 503 (shortest gap %s s): %s' \
        "${fails[0]}" "${fails[1]}" "${fails[2]}" "${fails[3]}" "$(verdict "$ok && ${fails[2]} == 0")"
    for m in m1 m2 m3; do stop "$m"; done
    for m in m1 m2 m3; do kill "${pids[$m-proxy]}" 2>/dev/null || true; done
    rm -rf "$work/fail" "$work/runs"
}

overload() {
    local size cut served
    mkdir -p "$work/over/in" "$work/over/out"
    start_test_server over "$work/over/out"
    proxy over "${port_of[over]}"
    ln "$work/release/pack.pak" "$work/over/in/pack.pak"
    publish "$work/over/in" "$work/over/out" "http://127.0.0.1:$(cat "$work/over.port")"
    size=$((pack_mib * 1048576))
    cut=$((size * 9 / 10))
    printf '{"attempts": [{"reset_after": %d}, {"status": 503, "headers": {"Retry-After": "1"}}, {"status": 503}]}' \
        "$cut" >"$work/over/out/releases/1/files/pack.pak.fault.json"
    echo "Overload: the pack cut at 90 %, then two 503s..." >&2
    local ok=1
    engine overload "http://127.0.0.1:$(cat "$work/over.port")/patch/version.json" 1 || ok=0
    # The first answer sent `cut` bytes; each later 2xx answer from its Range start to the end.
    served=$(python3 -c '
import json, re, sys
log, cut, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rows = [json.loads(l) for l in open(log) if "/files/pack.pak" in json.loads(l)["path"]]
sent = 0
for r in rows:
    if r["attempt"] == 1:
        sent += cut
    elif r["attempt"] > 3:
        ranges = [v for k, v in r["headers"] if k.lower() == "range"]
        sent += size - (int(re.match(r"bytes=(\d+)-", ranges[0]).group(1)) if ranges else 0)
print(sent, len(rows), " ".join(next((v for k, v in r["headers"] if k.lower() == "range"), "whole") for r in rows))' \
        "$work/over.jsonl" "$cut" "$size")
    read -r -a served <<<"$served"
    say 'Overload keeps progress (%d MiB pack cut at 90 %%, then two 503s; %d ms each way; %.1f s):' "$pack_mib" \
        "$delay_ms" "${secs[overload]:-0}"
    say '  the install completes: %s' "$(outcome overload)"
    say '  %d requests for the pack (%s); served %.2f MB = %.4f x its size <= 1.02: %s' "${served[1]}" \
        "${served[*]:2}" "$(mb "${served[0]}")" "$(calc "${served[0]} / $size")" \
        "$(verdict "$ok && ${served[0]} <= 1.02 * $size")"
    stop over
    kill "${pids[over-proxy]}" 2>/dev/null || true
    rm -rf "$work/over" "$work/runs"
}

# CPU seconds so far of the origin's proxy, its nginx (master and worker) and wineserver.
origin_cpu() {
    # shellcheck disable=SC2046  # one pid per word
    echo "$(cpu_seconds "${pids[origin-proxy]}") $(cpu_seconds "${pids[origin]}" $(pgrep -P "${pids[origin]}"))" \
        "$(cpu_seconds $(wineserver_pid))"
}
# The CPU seconds the whole machine (every core, every process) has been busy so far.
machine_cpu() { awk -v hz="$(getconf CLK_TCK)" '/^cpu / { print ($2 + $3 + $4 + $7 + $8 + $9) / hz }' /proc/stat; }
# The CPU seconds of the engines whose run folders are $work/runs/PREFIX*.
engines_cpu() {  # PREFIX
    tail -qn 1 "$work/runs/$1"*/cpu | awk '{ s += $1 + $2 } END { printf "%.1f", s }'
}

stampede() {
    local i from start one_reqs one_bytes reqs last need failed
    mkdir -p "$work/stamp/in"
    make_small_files "$work/stamp/in" "$stampede_files" 10 512 16384
    head -c "$((stampede_mib * 1048576))" /dev/urandom >"$work/stamp/in/pack.pak"
    mirror origin "$rate_mbit"
    publish "$work/stamp/in" "$work/stamp/out" "${url_of[origin]}"
    run_nginx origin "${port_of[origin]}" "$work/stamp/out" limited
    local version=${url_of[origin]}/patch/version.json count=$((stampede_files + 1))
    echo "Stampede: $engines engines one by one..." >&2
    from=$(log_lines origin)
    start=$(now)
    for i in $(seq "$engines"); do
        engine "one$i" "$version" "$count" || { echo "one by one, engine $i: $(outcome "one$i")" >&2; exit 1; }
    done
    local one_s
    one_s=$(calc "$(now) - $start")
    read -r one_reqs one_bytes <<<"$(log_since origin "$from")"
    echo "Stampede: $engines engines at once..." >&2
    from=$(log_lines origin)
    local cpu_before load_before
    load_before=$(cut -d' ' -f1-3 /proc/loadavg)
    read -r -a cpu_before <<<"$(origin_cpu) $(machine_cpu)"
    start=$(now)
    # The wall-clock time each engine finished at, one line per engine that finished.
    local launched
    if [ "$stampede_mode" = threads ]; then
        local bench_flags=(--engines "$engines")
        engine at "$version" "$((count * engines))" || true
        launched=0
        for i in $(seq "$engines"); do
            local line
            line=$(grep "^engine=$i " "$work/runs/at/out.txt" || true)
            if [[ $line == *" files="* ]] && [ "$(find "$work/runs/at/game/$i" -type f | wc -l)" -eq "$count" ]; then
                sed 's/.* end_unix=\([0-9.]*\) .*/\1/' <<<"$line"
            else
                echo "  engine $i: ${line#* end_unix=* }" >&2
            fi
        done >"$work/runs/finished"
    else
        local running=()
        for i in $(seq "$engines"); do
            (engine "at$i" "$version" "$count" && now >"$work/runs/at$i.done") 2>"$work/at$i.err" &
            running+=($!)
        done
        for i in "${running[@]}"; do wait "$i" || true; done
        launched=$(cat "$work"/runs/at*/start | sort -n | awk 'NR == 1 { f = $1 } { l = $1 } END { print l - f }')
        for i in $(seq "$engines"); do
            if [ -s "$work/runs/at$i.done" ]; then
                cat "$work/runs/at$i.done"
            else
                echo "  engine $i: $(outcome "at$i")" >&2
            fi
        done >"$work/runs/finished"
    fi
    failed=$((engines - $(wc -l <"$work/runs/finished")))
    last=$(sort -n "$work/runs/finished" | tail -1 | awk -v s="$start" '{ print $1 - s }')
    local cpu_after
    read -r -a cpu_after <<<"$(origin_cpu) $(machine_cpu)"
    read -r reqs _ <<<"$(log_since origin "$from")"
    local busy
    busy=$(tail -n +"$((from + 1))" "$work/nginx-origin/access.log" | awk '$3 == 503' | wc -l)
    need=$(calc "$one_bytes * 8 / ($rate_mbit * 1000000)")
    say 'Stampede (%d engines (%s) started in %.2f s; origin: %d requests at a time, %d Mbit/s, %d ms each way; %s):' \
        "$engines" "$([ "$stampede_mode" = threads ] && echo "in one process" || echo "a process each")" \
        "$launched" "$origin_conns" "$rate_mbit" "$delay_ms" \
        "$(printf '%d files, %.1f MB each' "$count" "$(mb "$((one_bytes / engines))")")"
    say '  every engine finishes: %d of %d: %s' "$((engines - failed))" "$engines" "$(verdict "$failed == 0")"
    say '  requests %d (%d answered 503) = %.3f x one by one (%d, %.1f s in all) <= 1.15: %s' "$reqs" "$busy" \
        "$(calc "$reqs / $one_reqs")" "$one_reqs" "$one_s" "$(verdict "$reqs <= 1.15 * $one_reqs")"
    say '  last finish %.1f s <= 1.3 x the origin link'"'"'s time for all %.1f s (%.1f s): %s' "${last:-0}" "$need" \
        "$(calc "1.3 * $need")" "$(verdict "$failed == 0 && ${last:-0} <= 1.3 * $need")"
    # Where the time went: CPU of every party, and the origin link's use (the bytes its
    # proxy handed on per second, against what the link carries in a second).
    proxy_stats origin "${pids[origin-proxy]}"
    local use
    use=$(python3 -c '
import json, sys
stats, t0, length = json.load(open(sys.argv[1])), float(sys.argv[2]), float(sys.argv[3])
rate = float(sys.argv[4]) * 1e6 / 8
def used(a, z):  # the share of [a, z) the link was busy
    slot = lambda t: max(0, round((t - stats["start"]) / stats["slot"]))
    return sum(stats["timeline"][slot(a):slot(z)]) / (rate * (z - a))
seconds = [used(t0 + i, min(t0 + i + 1, t0 + length)) for i in range(int(length + 0.999))]
print(f"{100 * used(t0, t0 + length):.0f}", sum(1 for u in seconds if u < 0.5),
      " ".join(f"{100 * u:.0f}" for u in seconds))
' "$work/origin.stats" "$start" "${last:-1}" "$rate_mbit")
    read -r -a use <<<"$use"
    say '  CPU seconds (user + system): engines %s at once, %s one by one; the origin'"'"'s proxy %.1f, nginx %.1f;' \
        "$(engines_cpu at)" "$(engines_cpu one)" "$(calc "${cpu_after[0]} - ${cpu_before[0]}")" \
        "$(calc "${cpu_after[1]} - ${cpu_before[1]}")"
    say '    wineserver %.1f; the whole machine %.1f of its %d cores busy on average (load before: %s)' \
        "$(calc "${cpu_after[2]} - ${cpu_before[2]}")" "$(calc "(${cpu_after[3]} - ${cpu_before[3]}) / ${last:-1}")" \
        "$(nproc)" "$load_before"
    say '  origin link busy %d %% until the last finish, %d seconds under half; %% per second: %s' "${use[0]}" \
        "${use[1]}" "${use[*]:2}"
    stop origin
    kill "${pids[origin-proxy]}" 2>/dev/null || true
    rm -rf "$work/stamp" "$work/runs"
}

stall() {
    local f results
    mkdir -p "$work/stall/in"
    for f in $(seq 8); do head -c 4194304 /dev/urandom >"$work/stall/in/asset$f.bin"; done
    mirror good
    mkdir -p "$work/stall/stuck"
    start_test_server stuck "$work/stall/stuck"
    proxy stuck "${port_of[stuck]}"
    publish "$work/stall/in" "$work/stall/out" "${url_of[good]}" "http://127.0.0.1:$(cat "$work/stuck.port")"
    run_nginx good "${port_of[good]}" "$work/stall/out" serve
    cp -al "$work/stall/out/." "$work/stall/stuck/"
    for f in "$work"/stall/stuck/releases/1/files/*.bin; do
        printf '{"stall_after": 2097152, "stall_ms": 60000}' >"$f.fault.json"
    done
    echo "Stalled host: the mirror sends half of each file, then nothing..." >&2
    local ok=1
    engine stall "${url_of[good]}/patch/version.json" 8 || ok=0
    # Each file the stuck mirror began: when its request came, and the good mirror's
    # ranged request for the same path (its start: its end time less its seconds).
    results=$(python3 -c '
import json, sys
stuck = [(r["time"], r["path"]) for r in map(json.loads, open(sys.argv[1])) if r["path"].endswith(".bin")]
good = {}
for l in open(sys.argv[2]):
    t, d, status, sent, conn, path, rng = l.split()
    if rng != "-":
        good.setdefault(path, []).append((float(t) - float(d), rng))
out = []
for t, path in stuck:
    later = [(s - t, rng) for s, rng in good.get(path, []) if s > t]
    name = path.rsplit("/", 1)[1]
    out.append(f"{name}:{later[0][0]:.1f}s:{later[0][1]}" if later else f"{name}:never:-")
print(len(stuck), " ".join(out))' "$work/stuck.jsonl" "$work/nginx-good/access.log")
    read -r -a results <<<"$results"
    local worst=0 from_offset=1 r secs_left
    for r in "${results[@]:1}"; do
        secs_left=${r#*:}
        secs_left=${secs_left%%s:*}
        [ "$secs_left" = never:- ] && { worst=999; from_offset=0; continue; }
        worst=$(calc "if ($secs_left > $worst) $secs_left else $worst")
        [ "${r##*:}" = "bytes=2097152-" ] || from_offset=0
    done
    say 'Stalled host (8 files of 4 MiB; the mirror sends 2 MiB of each, then nothing; %d ms each way; %.1f s):' \
        "$delay_ms" "${secs[stall]:-0}"
    say '  the install completes: %s' "$(outcome stall)"
    say '  %d files began on it; each continued on the other host (from its request to the ranged one): %s' \
        "${results[0]}" "${results[*]:1}"
    say '  left within %.1f s <= 25 s: %s; continued from its offset (bytes=2097152-): %s' "$worst" \
        "$(verdict "$ok && ${results[0]} > 0 && $worst <= 25")" \
        "$(verdict "$ok && ${results[0]} > 0 && $from_offset == 1")"
    stop good
    stop stuck
    kill "${pids[good-proxy]}" "${pids[stuck-proxy]}" 2>/dev/null || true
    rm -rf "$work/stall" "$work/runs"
}

for s in "${scenarios[@]}"; do "$s"; done
printf '\n'
printf '%s\n' "${lines[@]}"
