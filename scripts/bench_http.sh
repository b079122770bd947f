#!/usr/bin/env bash
# Download speed of the HTTP client against curl. Serves one large file (1 GiB unless
# BENCH_MIB says otherwise) from busybox httpd on loopback, then, for several rounds,
# downloads it with curl natively and with http_download under Wine (tools/bench_http),
# each into a file on the same disk. Prints MB/s for both (best round and every round),
# the ratio, and the Wine process's peak memory. A third figure, a bare WinHTTP read
# loop that keeps nothing, shows the ceiling that WinHTTP itself allows under Wine.
#   scripts/bench_http.sh            BENCH_MIB=1024 BENCH_ROUNDS=3 BUILD_DIR=build
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mib=${BENCH_MIB:-1024}
rounds=${BENCH_ROUNDS:-3}
work=$build/bench-http

# busybox httpd sends files with sendfile(): it keeps up with curl on loopback, where
# Python's threaded server copies through user space and costs the client CPU time.
if ! command -v busybox >/dev/null || ! busybox --list | grep -qx httpd; then
    echo "Installing busybox for its httpd"
    sudo_cmd=""; [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q busybox >/dev/null
fi

[ -x "$build/bin/bench_http.exe" ] || "$root/scripts/build.sh"
cmake --build "$build" --target bench_http >/dev/null

mkdir -p "$work/www"
size=$((mib * 1048576))
file=$work/www/big.bin
if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -ne "$size" ]; then
    echo "Writing a $mib MiB test file"
    head -c "$size" /dev/urandom >"$file"
fi

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
busybox httpd -f -p "127.0.0.1:$port" -h "$work/www" &
server=$!
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
trap 'kill $server 2>/dev/null || true; rm -f "$work/curl.bin" "$work/wine.bin"' EXIT
url=http://127.0.0.1:$port/big.bin
for _ in $(seq 50); do curl -sfo /dev/null -r 0-0 "$url" && break; sleep 0.1; done

winpath=$(winepath -w "$work/wine.bin" 2>/dev/null)
curl_all=() wine_all=() bare_all=() peak_ws=0 peak_rss=0
for round in $(seq "$rounds"); do
    rm -f "$work/curl.bin" "$work/wine.bin"; sync
    bps=$(curl -sf -o "$work/curl.bin" -w '%{speed_download}' "$url")
    curl_all+=("$(awk -v b="$bps" 'BEGIN { printf "%.1f", b / 1e6 }')")
    [ "$(stat -c %s "$work/curl.bin")" -eq "$size" ] || { echo "curl: wrong size" >&2; exit 1; }
    rm -f "$work/curl.bin"; sync

    out=$(/usr/bin/time -f 'rss_kib=%M' "$build/wine-run" "$build/bin/bench_http.exe" "$url" "$winpath" "$size" 2>&1)
    line=$(grep '^bytes=' <<<"$out") || { echo "bench_http failed: $out" >&2; exit 1; }
    wine_all+=("$(sed -E 's/.*mb_per_s=([0-9.]+).*/\1/' <<<"$line")")
    ws=$(sed -E 's/.*peak_working_set_kib=([0-9]+).*/\1/' <<<"$line")
    rss=$(grep -o 'rss_kib=[0-9]*' <<<"$out" | cut -d= -f2)
    (( ws > peak_ws )) && peak_ws=$ws
    (( rss > peak_rss )) && peak_rss=$rss

    line=$("$build/wine-run" "$build/bin/bench_http.exe" --winhttp-only "$url" 2>&1 | grep '^bytes=') \
        || { echo "bench_http --winhttp-only failed" >&2; exit 1; }
    bare_all+=("$(sed -E 's/.*mb_per_s=([0-9.]+).*/\1/' <<<"$line")")
    echo "round $round: curl ${curl_all[-1]} MB/s, http_download ${wine_all[-1]} MB/s," \
         "bare WinHTTP ${bare_all[-1]} MB/s"
done

# Under Wine every socket wait is a round trip to wineserver; on this virtual machine a
# wake-up on the other core costs far more than the work itself. One more round with
# the program and wineserver on one core shows what the code costs without that.
wineserver -k 2>/dev/null || true
taskset -c 0 wineserver -p </dev/null >/dev/null 2>&1
rm -f "$work/wine.bin"; sync
# Output goes through a file: the Wine services this first program starts keep
# whatever it had open, and a pipe would never close.
taskset -c 0 "$build/wine-run" "$build/bin/bench_http.exe" "$url" "$winpath" "$size" </dev/null >"$work/pinned.txt" 2>&1
line=$(grep '^bytes=' "$work/pinned.txt") || { echo "bench_http (one core) failed" >&2; exit 1; }
pinned=$(sed -E 's/.*mb_per_s=([0-9.]+).*/\1/' <<<"$line")
taskset -c 0 "$build/wine-run" "$build/bin/bench_http.exe" --winhttp-only "$url" </dev/null >"$work/pinned.txt" 2>&1
line=$(grep '^bytes=' "$work/pinned.txt") || { echo "bench_http --winhttp-only (one core) failed" >&2; exit 1; }
pinned_bare=$(sed -E 's/.*mb_per_s=([0-9.]+).*/\1/' <<<"$line")
wineserver -k 2>/dev/null || true

best() { printf '%s\n' "$@" | sort -g | tail -1; }
curl_best=$(best "${curl_all[@]}")
wine_best=$(best "${wine_all[@]}")
bare_best=$(best "${bare_all[@]}")
echo "file: $mib MiB over http://127.0.0.1 (busybox httpd), $rounds rounds, best of each:"
echo "  curl (native):          $curl_best MB/s"
echo "  http_download (Wine):   $wine_best MB/s"
echo "  bare WinHTTP (Wine):     $bare_best MB/s (no file, no checks: the ceiling under Wine)"
awk -v w="$wine_best" -v c="$curl_best" -v b="$bare_best" 'BEGIN {
    printf "  ratio http_download/curl:        %.2f\n", w / c
    printf "  ratio http_download/bare WinHTTP: %.2f\n", w / b }'
echo "  on one core with wineserver: http_download $pinned MB/s, bare WinHTTP $pinned_bare MB/s"
awk -v w="$pinned" -v c="$curl_best" 'BEGIN { printf "  ratio http_download (one core)/curl: %.2f\n", w / c }'
echo "  Wine process peak: working set $((peak_ws / 1024)) MiB, resident $((peak_rss / 1024)) MiB"
