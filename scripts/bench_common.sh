# shellcheck shell=bash disable=SC2154  # $build comes from the script that sources this
# Sourced by the benchmark scripts, after they have set $build.

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
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
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

# For a script that starts servers of its own (nginx, proxies, daemons): each pid it adds
# to $started is stopped on exit, before bench_end.
bench_with_servers() {
    started=()
    trap 'stop_started; bench_end' EXIT
}
stop_started() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() {  # DESCRIPTION COMMAND...: polls for ten seconds
    local _
    for _ in $(seq 100); do "${@:2}" >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "$1 did not come up" >&2
    exit 1
}

# nginx in its own prefix ($work/nginx: log and temp folders), keep-alive and sendfile,
# one line per request in LOG_FORMAT to $work/nginx/access.log, with HTTP_LINES (server
# blocks and any http-level lines) added; started in the background, its pid added to
# the caller's $started. The caller waits for it to answer.
nginx_up() {  # LOG_FORMAT HTTP_LINES
    mkdir -p "$work/nginx/tmp"
    cat >"$work/nginx/nginx.conf" <<EOF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
    log_format bench '$1';
    access_log $work/nginx/access.log bench;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    keepalive_timeout 60s;
    keepalive_requests 100000;
$2
}
EOF
    nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" -g 'daemon off;' </dev/null \
        >/dev/null 2>&1 &
    started+=($!)
}
