#!/usr/bin/env bash
# A first install over a network with latency. The test patch server (keep-alive,
# ranges) serves generated releases on loopback, directly (0 ms) and through
# tools/latency_proxy.py, which delays every chunk by DELAY_MS each way and charges a
# new connection one more round trip. For each release and latency it installs into an
# empty folder with the engine (tools/bench_patch, under Wine), fetches the same URLs
# with curl --parallel --parallel-max 8 and with a bare parallel WinHTTP loop under the
# same Wine (8 threads, one session, each body written to a file, nothing else: the
# ceiling under Wine), and prints seconds, connections and ratios. Then the large file's
# transfer is cut at 90 % and the engine resumes it: the bytes the server sent twice.
# Last, the peak memory of an install of many small files.
# Usage: scripts/bench_network.sh [SMALL_FILES] [LARGE_MIB] [INSTALL_FILES]
#        (2000, 64, 20000; INSTALL_FILES 0 skips the last part). DELAY_MS=25.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
small_files=${1:-2000}
large_mib=${2:-64}
install_files=${3:-20000}
delay_ms=${DELAY_MS:-25}
"$root/scripts/build.sh" >/dev/null
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin network
proxy=""
trap 'bench_end; [ -n "$proxy" ] && kill "$proxy" 2>/dev/null || true' EXIT

www=$work/www
mkdir -p "$www/small" "$www/large" "$www/install"
echo "Generating $small_files files of 4..16 KiB, one of $large_mib MiB, $install_files of 0.5..16 KiB..." >&2
make_small_files "$www/small" "$small_files" 40 4096 16384
head -c "$((large_mib * 1048576))" /dev/urandom >"$www/large/big.bin"
[ "$install_files" -gt 0 ] && make_small_files "$www/install" "$install_files" 200

# The list of one release's files (path, size, SHA-256), made once; its manifest and
# version document are written per base URL.
for release in small large install; do
    python3 - "$www/$release" "$work/$release.entries" <<'PY'
import hashlib, json, os, sys
root, out = sys.argv[1], sys.argv[2]
files = []
for dirpath, _, names in os.walk(root):
    for name in names:
        path = os.path.join(dirpath, name)
        with open(path, "rb") as f:
            digest = hashlib.file_digest(f, "sha256").hexdigest()
        files.append({"path": os.path.relpath(path, root).replace(os.sep, "/"), "size": os.path.getsize(path),
                      "sha256": digest})
files.sort(key=lambda e: e["path"])
json.dump(files, open(out, "w"))
PY
done
publish() {  # RELEASE BASE -> prints the version URL; writes the URL list for the other clients
    local name=$1_${2##*:}
    python3 - "$work/$1.entries" "$2" "$1" "$www/m_$name.json" "$work/urls_$name" <<'PY'
import json, sys, urllib.parse
entries, base, release, manifest, urls = sys.argv[1:]
files = json.load(open(entries))
json.dump({"base_url": f"{base}/{release}", "files": files}, open(manifest, "w"))
with open(urls, "w") as f:
    for e in files:
        f.write(f"{base}/{release}/{urllib.parse.quote(e['path'])}\n")
PY
    printf '{"client_version": "1.0.0", "manifest_url": "%s/m_%s.json"}' "$2" "$name" >"$www/v_$name.json"
    echo "$2/v_$name.json"
}

python3 "$root/tests/support/patch_server.py" --root "$www" --ready "$work/server.json" --log "$work/requests.jsonl" \
    >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/server.json" ] && break; sleep 0.1; done
port=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["http_port"])' "$work/server.json")
python3 "$root/tools/latency_proxy.py" --target "$port" --delay-ms "$delay_ms" --ready "$work/proxy.port" \
    >/dev/null 2>&1 &
proxy=$!
for _ in $(seq 100); do [ -s "$work/proxy.port" ] && break; sleep 0.1; done
proxy_port=$(cat "$work/proxy.port")

# Connections the server accepted for the requests logged since line FROM.
log_lines() { wc -l <"$work/requests.jsonl"; }
connections_since() {
    tail -n +"$(($1 + 1))" "$work/requests.jsonl" |
        python3 -c 'import json, sys; print(len({json.loads(l)["connection"] for l in sys.stdin}))'
}
field() { grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2 | tr -d "\r"; }
win() { winepath -w "$1" 2>/dev/null; }

declare -A secs conns peak
run_all() {  # RELEASE LATENCY_MS BASE
    local release=$1 ms=$2 base=$3 key=$1_$2 url from out
    url=$(publish "$release" "$base")
    local list=$work/urls_${release}_${base##*:}

    rm -rf "$work/game" "$work/state"; mkdir -p "$work/game" "$work/state"
    from=$(log_lines)
    out=$work/engine_$key.txt
    wine "$build/bin/bench_patch.exe" "$(win "$work/game")" "$(win "$work/state")" "$url" install \
        </dev/null >"$out" 2>&1 || { echo "engine failed:" >&2; cat "$out" >&2; exit 1; }
    secs[engine_$key]=$(field "$out" total_s)
    peak[engine_$key]=$(field "$out" peak_working_set_mib)
    conns[engine_$key]=$(connections_since "$from")
    [ "$(find "$work/game" -type f | wc -l)" -eq "$(wc -l <"$list")" ] || { echo "engine: files missing" >&2; exit 1; }

    rm -rf "$work/out"; mkdir -p "$work/out"
    awk -v d="$work/out" '{ printf "url = \"%s\"\noutput = \"%s/%d\"\n", $0, d, NR }' "$list" >"$work/curl.cfg"
    from=$(log_lines)
    secs[curl_$key]=$(elapsed curl -sf --parallel --parallel-max 8 -K "$work/curl.cfg")
    conns[curl_$key]=$(connections_since "$from")

    rm -rf "$work/out"; mkdir -p "$work/out"
    from=$(log_lines)
    out=$work/bare_$key.txt
    wine "$build/bin/bench_http.exe" --parallel 8 "$(win "$list")" "$(win "$work/out")" </dev/null >"$out" 2>&1 ||
        { echo "bare WinHTTP failed:" >&2; cat "$out" >&2; exit 1; }
    secs[bare_$key]=$(field "$out" seconds)
    conns[bare_$key]=$(connections_since "$from")
}

echo "Running (engine, curl, bare WinHTTP) at 0 ms and $delay_ms ms each way..." >&2
for release in small large; do
    run_all "$release" 0 "http://127.0.0.1:$port"
    run_all "$release" "$delay_ms" "http://127.0.0.1:$proxy_port"
done

# The large file cut at 90 % on its first request; the engine's next attempt asks for
# the rest. Sent twice: what the first answer sent beyond where the second one starts.
size=$((large_mib * 1048576))
cut=$((size * 9 / 10))
url=$(publish large "http://127.0.0.1:$proxy_port")
printf '{"attempts": [{"reset_after": %d}]}' "$cut" >"$www/large/big.bin.fault.json"
rm -rf "$work/game" "$work/state"; mkdir -p "$work/game" "$work/state"
from=$(log_lines)
wine "$build/bin/bench_patch.exe" "$(win "$work/game")" "$(win "$work/state")" "$url" install \
    </dev/null >"$work/resume.txt" 2>&1 || { echo "engine failed:" >&2; cat "$work/resume.txt" >&2; exit 1; }
rm -f "$www/large/big.bin.fault.json"
resumed_from=$(tail -n +"$((from + 1))" "$work/requests.jsonl" | python3 -c '
import json, re, sys
starts = [re.match(r"bytes=(\d+)-", v).group(1) for l in sys.stdin for k, v in json.loads(l)["headers"]
          if k.lower() == "range" and "big.bin" in json.loads(l)["path"]]
print(starts[0] if starts else 0)')
cmp -s "$work/game/big.bin" "$www/large/big.bin" || { echo "resumed file differs" >&2; exit 1; }

if [ "$install_files" -gt 0 ]; then
    echo "Installing $install_files small files at 0 ms..." >&2
    url=$(publish install "http://127.0.0.1:$port")
    rm -rf "$work/game" "$work/state"; mkdir -p "$work/game" "$work/state"
    wine "$build/bin/bench_patch.exe" "$(win "$work/game")" "$(win "$work/state")" "$url" install \
        </dev/null >"$work/install.txt" 2>&1 || { echo "engine failed:" >&2; cat "$work/install.txt" >&2; exit 1; }
fi

ratio() { echo "$1 / $2" | bc -l; }
mb() { du -sb --apparent-size "$www/$1" | awk '{printf "%.1f", $1 / 1e6}'; }
for release in small large; do
    if [ "$release" = small ]; then
        printf '\n%d small files (%s MB):\n' "$small_files" "$(mb small)"
    else
        printf '\nOne file of %d MiB:\n' "$large_mib"
    fi
    for ms in 0 "$delay_ms"; do
        key=${release}_$ms
        printf '  %3s ms each way:  engine %7.2f s (%3d conn., peak %5.1f MiB)   curl -Z 8 %7.2f s (%3d conn.)   bare WinHTTP x8 %7.2f s (%3d conn.)\n' \
            "$ms" "${secs[engine_$key]}" "${conns[engine_$key]}" "${peak[engine_$key]}" "${secs[curl_$key]}" \
            "${conns[curl_$key]}" "${secs[bare_$key]}" "${conns[bare_$key]}"
        printf '                    engine / curl %.2f   engine / bare WinHTTP %.2f\n' \
            "$(ratio "${secs[engine_$key]}" "${secs[curl_$key]}")" "$(ratio "${secs[engine_$key]}" "${secs[bare_$key]}")"
    done
done
again=$((cut > resumed_from ? cut - resumed_from : 0))
printf '\nCut at 90 %% (%d of %d bytes, %d ms each way): resumed from byte %d; sent twice %d bytes (%.2f %% of the file; target <= 10 %%)\n' \
    "$cut" "$size" "$delay_ms" "$resumed_from" "$again" "$(echo "$again * 100 / $size" | bc -l)"
if [ "$install_files" -gt 0 ]; then
    printf '%d-file install at 0 ms: %.2f s, peak working set %s MiB (target < 64 MB)\n' "$install_files" \
        "$(field "$work/install.txt" total_s)" "$(field "$work/install.txt" peak_working_set_mib)"
fi
printf '\nTargets: %d files at %d ms each way <= 1.5x curl (%.2fx); at 0 ms <= 1.5x bare WinHTTP (%.2fx).\n' \
    "$small_files" "$delay_ms" "$(ratio "${secs[engine_small_$delay_ms]}" "${secs[curl_small_$delay_ms]}")" \
    "$(ratio "${secs[engine_small_0]}" "${secs[bare_small_0]}")"
