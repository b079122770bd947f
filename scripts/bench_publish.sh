#!/usr/bin/env bash
# The native korvel-publish over a generated release (by default the patch benchmark's
# tree: 20,000 small files plus four 256 MiB packs):
#   build   next to sha256sum over the same files, all in the page cache. The build also
#           writes a copy of every file and flushes it to disk before the release folder
#           appears, which sha256sum does not.
#   verify  of that release served by busybox httpd on loopback, next to
#           curl --parallel --parallel-max 16 fetching the same URLs to /dev/null.
# BENCH_WINE=1 also times the Windows build of the tool under Wine. Other programs on
# the machine make the figures noisy: run it a few times and compare the ratios.
# Usage: scripts/bench_publish.sh [SMALL_FILES] [LARGE_MIB_EACH] [LARGE_FILES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
small_files=${1:-20000}
large_mib=${2:-256}
large_files=${3:-4}
"$root/scripts/build.sh" >/dev/null
tool=$build/native/bin/korvel-publish

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin publish

release=$work/release
echo "Generating $small_files small files and $large_files x $large_mib MiB..."
make_small_files "$release" "$small_files" 200
for i in $(seq 1 "$large_files"); do head -c "$((large_mib * 1048576))" /dev/urandom >"$release/pack$i.pak"; done
total_bytes=$(du -sb --apparent-size "$release" | cut -f1)
file_count=$(find "$release" -type f | wc -l)
find "$release" -type f -exec cat {} + >/dev/null  # into the page cache

# busybox httpd answers from sendfile(), so the server costs the clients little; the
# release's base URL must name it before the build writes the manifest.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=http://127.0.0.1:$port

publish() {
    sync  # what earlier steps left dirty is not this build's to flush
    rm -rf "$work/out"
    "$tool" build "$release" "$work/out" --client-version 1 --base-url "$base" </dev/null >"$work/publish.log" 2>&1
}
relink() {  # a second release of the same files: hashed again, hard-linked, not copied
    "$tool" build "$release" "$work/out" --client-version 2 --base-url "$base" \
        --previous "$work/out/releases/1/manifest.json" </dev/null >"$work/relink.log" 2>&1
}
sha256sum_all() { find "$release" -type f -print0 | xargs -0 sha256sum; }
t_sha256sum=$(elapsed sha256sum_all)
t_build=$(elapsed publish)
t_relink=$(elapsed relink)
t_sha256sum2=$(elapsed sha256sum_all)
t_sha=$(echo "if ($t_sha256sum < $t_sha256sum2) $t_sha256sum else $t_sha256sum2" | bc -l)
grep -q "^Release 1: $file_count files" "$work/publish.log" || { cat "$work/publish.log"; exit 1; }

mb=$(echo "$total_bytes / 1000000" | bc -l)
printf 'release: %d files, %.1f MB\n' "$file_count" "$mb"
printf 'korvel-publish build (native, hash + copy):   %7.3f s  %7.1f MB/s\n' "$t_build" "$(echo "$mb / $t_build" | bc -l)"
printf 'korvel-publish build --previous (hard links): %7.3f s  %7.1f MB/s\n' "$t_relink" "$(echo "$mb / $t_relink" | bc -l)"
printf 'sha256sum (best of two):                      %7.3f s  %7.1f MB/s\n' "$t_sha" "$(echo "$mb / $t_sha" | bc -l)"
printf 'ratio build / sha256sum: %.2f (target <= 1.5)\n' "$(echo "$t_build / $t_sha" | bc -l)"

if [ -n "${BENCH_WINE:-}" ]; then
    wine_publish() {
        sync
        rm -rf "$work/out-wine"
        wine "$build/bin/korvel-publish.exe" build "$(winepath -w "$release" 2>/dev/null)" \
            "$(winepath -w "$work/out-wine" 2>/dev/null)" --client-version 1 --base-url "$base" </dev/null >/dev/null 2>&1
    }
    t_wine=$(elapsed wine_publish)
    printf 'korvel-publish.exe build (Wine):              %7.3f s  (%.2f x sha256sum)\n' "$t_wine" \
        "$(echo "$t_wine / $t_sha" | bc -l)"
    rm -rf "$work/out-wine"
fi

busybox httpd -f -p "127.0.0.1:$port" -h "$work/out" &
server=$!
for _ in $(seq 1 50); do curl -s -o /dev/null "$base/patch/version.json" && break; sleep 0.1; done

# The same URLs for curl: every listed file, percent-encoded as the manifest reader builds them.
python3 - "$work/out/releases/1/manifest.json" >"$work/curl.cfg" <<'PY'
import json, sys, urllib.parse
m = json.load(open(sys.argv[1]))
for f in m["files"]:
    print(f'url = "{m["base_url"]}/{urllib.parse.quote(f["path"], safe="/-._~")}"\noutput = "/dev/null"')
PY
verify() { "$tool" verify "$base/patch/version.json" </dev/null >"$work/verify.log" 2>&1; }
curl_all() { curl -s --fail --parallel --parallel-max 16 -K "$work/curl.cfg"; }
t_verify=$(elapsed verify)
t_curl=$(elapsed curl_all)
t_verify2=$(elapsed verify)
t_curl2=$(elapsed curl_all)
grep -q "^OK: $file_count files checked, 0 problems" "$work/verify.log" || { cat "$work/verify.log"; exit 1; }
t_v=$(echo "if ($t_verify < $t_verify2) $t_verify else $t_verify2" | bc -l)
t_c=$(echo "if ($t_curl < $t_curl2) $t_curl else $t_curl2" | bc -l)
printf 'korvel-publish verify (native, best of two):  %7.3f s  %7.1f MB/s\n' "$t_v" "$(echo "$mb / $t_v" | bc -l)"
printf 'curl --parallel-max 16 (best of two):         %7.3f s  %7.1f MB/s\n' "$t_c" "$(echo "$mb / $t_c" | bc -l)"
printf 'throughput verify / curl: %.2f (target >= 0.8)\n' "$(echo "$t_c / $t_v" | bc -l)"
