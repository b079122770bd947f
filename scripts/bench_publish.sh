#!/usr/bin/env bash
# korvel-publish build over a generated release (by default the patch benchmark's tree:
# 20,000 small files plus four 256 MiB packs) next to sha256sum over the same files,
# both with the files in the page cache. The build also writes a copy of every file,
# which sha256sum does not. Other programs on the machine make the figures noisy: run it
# a few times and compare the ratios.
# Usage: scripts/bench_publish.sh [SMALL_FILES] [LARGE_MIB_EACH] [LARGE_FILES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
small_files=${1:-20000}
large_mib=${2:-256}
large_files=${3:-4}
"$root/scripts/build.sh" >/dev/null

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin publish

release=$work/release
echo "Generating $small_files small files and $large_files x $large_mib MiB..."
make_small_files "$release" "$small_files" 200
for i in $(seq 1 "$large_files"); do head -c "$((large_mib * 1048576))" /dev/urandom >"$release/pack$i.pak"; done
total_bytes=$(du -sb "$release" | cut -f1)
file_count=$(find "$release" -type f | wc -l)
find "$release" -type f -exec cat {} + >/dev/null  # into the page cache

publish() {
    rm -rf "$work/out"
    wine "$build/bin/korvel-publish.exe" build "$(winepath -w "$release" 2>/dev/null)" \
        "$(winepath -w "$work/out" 2>/dev/null)" --client-version 1 --base-url https://patch.example.com \
        </dev/null >"$work/publish.log" 2>&1
}
relink() {  # a second release of the same files: hashed again, hard-linked, not copied
    wine "$build/bin/korvel-publish.exe" build "$(winepath -w "$release" 2>/dev/null)" \
        "$(winepath -w "$work/out" 2>/dev/null)" --client-version 2 --base-url https://patch.example.com \
        --previous "$(winepath -w "$work/out/releases/1/manifest.json" 2>/dev/null)" </dev/null >"$work/relink.log" 2>&1
}
t_sha256sum=$(elapsed sh -c "find '$release' -type f -print0 | xargs -0 sha256sum")
t_build=$(elapsed publish)
t_relink=$(elapsed relink)
t_sha256sum2=$(elapsed sh -c "find '$release' -type f -print0 | xargs -0 sha256sum")
sync
t_sha=$(echo "if ($t_sha256sum < $t_sha256sum2) $t_sha256sum else $t_sha256sum2" | bc -l)

mb=$(echo "$total_bytes / 1000000" | bc -l)
printf 'release: %d files, %.1f MB\n' "$file_count" "$mb"
printf 'korvel-publish build (Wine, hash + copy):   %7.3f s  %7.1f MB/s\n' "$t_build" "$(echo "$mb / $t_build" | bc -l)"
printf 'korvel-publish build --previous (hard links): %5.3f s  %7.1f MB/s\n' "$t_relink" "$(echo "$mb / $t_relink" | bc -l)"
printf 'sha256sum (native, best of two):            %7.3f s  %7.1f MB/s\n' "$t_sha" "$(echo "$mb / $t_sha" | bc -l)"
printf 'ratio build / sha256sum: %.2f (target <= 1.5)\n' "$(echo "$t_build / $t_sha" | bc -l)"
tail -n 4 "$work/publish.log" | tr '\r' '\n' | grep -v '^ *$' | tail -n 3
