# shellcheck shell=bash disable=SC2154  # $root, $build, $delay_ms come from the script that sources this
# Sourced by the benchmark scripts, after they have set $root and $build ($delay_ms too
# for start_proxy).

# A work folder below /tmp in $work and the build's Wine prefix with a persistent
# wineserver; on exit the wineserver stops, the server in $server too when the script
# started one, and the work folder goes.
bench_begin() {  # NAME
    work=$(mktemp -d "/tmp/korvel-bench-$1.XXXXXX")
    export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    trap bench_end EXIT
    [ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
}
bench_end() {
    [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
    stop_started
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}

# Servers and proxies a benchmark started in the background add their pid to $started;
# they are stopped on exit (killed when one has not gone within ten seconds).
started=()
stop_started() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${started[@]}"; do
        timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
    done
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() {  # DESCRIPTION COMMAND...: polls for ten seconds
    local _
    for _ in $(seq 100); do "${@:2}" >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "$1 did not come up" >&2
    exit 1
}

# nginx named NAME on 127.0.0.1:PORT serving ROOT, with further lines for the server
# block (locations) and the http block: its own prefix and temp folders in
# $work/nginx-NAME, one line per request in its access.log: end time, seconds, status,
# bytes sent, connection, path, Range. Its pid in $started and $last_started.
start_nginx() {  # NAME PORT ROOT [SERVER_LINES [HTTP_LINES]]
    local dir=$work/nginx-$1
    mkdir -p "$dir/tmp"
    chmod 755 "$work"  # nginx's workers read as nobody when started by root
    cat >"$dir/nginx.conf" <<EOF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
    log_format bench '\$msec \$request_time \$status \$bytes_sent \$connection \$uri \$http_range';
    access_log $dir/access.log bench;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    keepalive_timeout 60s;
    keepalive_requests 100000;
    ${5:-}
    server {
        listen 127.0.0.1:$2;
        root $3;
        ${4:-}
    }
}
EOF
    touch "$dir/access.log"
    nginx -p "$dir" -e "$dir/error.log" -c "$dir/nginx.conf" -g 'daemon off;' </dev/null >/dev/null 2>&1 &
    last_started=$!
    started+=("$last_started")
    wait_for "nginx $1" curl -s -o /dev/null "http://127.0.0.1:$2/"
}

# tools/latency_proxy.py named NAME in front of 127.0.0.1:TARGET_PORT, $delay_ms each way
# (RATE_MBIT: a link of that bandwidth); its port in $work/NAME.port, its pid in $started
# and $last_started; the bytes it delivered in $work/NAME.stats (see proxy_stats).
start_proxy() {  # NAME TARGET_PORT [RATE_MBIT]
    local rate_args=()
    [ -n "${3:-}" ] && rate_args=(--rate-mbit "$3")
    python3 "$root/tools/latency_proxy.py" --target "$2" --delay-ms "$delay_ms" "${rate_args[@]}" \
        --ready "$work/$1.port" --stats "$work/$1.stats" </dev/null >/dev/null 2>&1 &
    last_started=$!
    started+=("$last_started")
    wait_for "$1 proxy" test -s "$work/$1.port"
}

# The proxy NAME (pid PID) writes $work/NAME.stats now: the bytes of the answers it has
# handed to the clients' sockets since it started, in all and per tenth of a second.
proxy_stats() {  # NAME PID
    rm -f "$work/$1.stats"
    kill -USR2 "$2"
    wait_for "$1 proxy's figures" test -s "$work/$1.stats"
}

# The CPU seconds (user and system) the processes PID... have used so far.
cpu_seconds() {  # PID...
    local pid
    for pid in "$@"; do cat "/proc/$pid/stat" 2>/dev/null || true; done |
        awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); s += $12 + $13 } END { printf "%.2f", s / hz }'
}

# The pid of this benchmark's wineserver (the one of $WINEPREFIX), if it runs.
wineserver_pid() {
    local pid
    for pid in $(pgrep wineserver); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid" && return
    done
    return 0
}

# Wall-clock seconds of one command, its output discarded.
elapsed() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

# FILES small files of random bytes (MIN..MAX bytes each, by default 512..16384, the
# same bytes on every run) in FOLDERS folders below DIR/data.
make_small_files() {  # DIR FILES FOLDERS [MIN MAX]
    python3 - "$@" <<'PY'
import os, random, sys
root, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
smallest, largest = (int(sys.argv[4]), int(sys.argv[5])) if len(sys.argv) > 5 else (512, 16384)
rng = random.Random(1)
for i in range(count):
    folder = os.path.join(root, "data", f"d{i % folders:04d}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"file{i:06d}.bin"), "wb") as f:
        f.write(rng.randbytes(rng.randint(smallest, largest)))
PY
}
