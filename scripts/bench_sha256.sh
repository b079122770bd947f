#!/usr/bin/env bash
# Hashes the same 1 GiB file (in the page cache) with sha256_file under Wine and with
# openssl and sha256sum natively, and prints MB/s for each and the ratios.
# Usage: scripts/bench_sha256.sh [SIZE_MIB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
size_mib=${1:-1024}
"$root/scripts/build.sh" >/dev/null

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin sha
file=$work/data.bin
small=$work/small.bin
head -c "$((size_mib * 1048576))" /dev/urandom >"$file"
head -c "$((16 * 1048576))" /dev/urandom >"$small"
cat "$file" "$small" >/dev/null  # into the page cache

bench="$build/bin/bench_sha256.exe"
wine "$bench" "$small" >/dev/null  # warm up Wine itself

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
rate() { echo "scale=1; $size_mib * 1048576 / $1 / 1000000" | bc -l; }

echo "file: $size_mib MiB of random bytes, in the page cache"
ours=$(wine "$bench" "$file")
portable=$(wine "$bench" "$file" --portable)
bmi2=$(wine "$bench" "$file" --bmi2 2>/dev/null || true)
ours_small=$(wine "$bench" "$small")
t_openssl=$(seconds openssl dgst -sha256 "$file")
t_sha256sum=$(seconds sha256sum "$file")

digest_native=$(sha256sum "$file" | cut -d' ' -f1)
[ "$(echo "$ours" | cut -d' ' -f1)" = "$digest_native" ] || { echo "digest differs from sha256sum!"; exit 1; }
[ "$(echo "$portable" | cut -d' ' -f1)" = "$digest_native" ] || { echo "portable digest differs!"; exit 1; }

ours_rate=$(echo "$ours" | sed -E 's/.* ([0-9.]+) MB\/s.*/\1/')
portable_rate=$(echo "$portable" | sed -E 's/.* ([0-9.]+) MB\/s.*/\1/')
openssl_rate=$(rate "$t_openssl")
sha256sum_rate=$(rate "$t_sha256sum")
printf '%-34s %9s MB/s   %s\n' "sha256_file (Wine)" "$ours_rate" "$(echo "$ours" | grep -o 'peak_working_set=.*')"
printf '%-34s %9s MB/s   %s\n' "portable compression (Wine)" "$portable_rate" "$(echo "$portable" | grep -o 'peak_working_set=[^ ]*')"
if [ -n "$bmi2" ]; then
    [ "$(echo "$bmi2" | cut -d' ' -f1)" = "$digest_native" ] || { echo "BMI2 digest differs!"; exit 1; }
    bmi2_rate=$(echo "$bmi2" | sed -E 's/.* ([0-9.]+) MB\/s.*/\1/')
    printf '%-34s %9s MB/s   %s\n' "portable code built for BMI2 (Wine)" "$bmi2_rate" "$(echo "$bmi2" | grep -o 'peak_working_set=[^ ]*')"
fi
printf '%-34s %9s MB/s\n' "openssl dgst -sha256 (native)" "$openssl_rate"
printf '%-34s %9s MB/s\n' "sha256sum (native)" "$sha256sum_rate"
printf 'ratio sha256_file / openssl:   %.2f (target >= 0.80)\n' "$(echo "$ours_rate / $openssl_rate" | bc -l)"
printf 'ratio portable / sha256sum:    %.2f (target >= 1.00)\n' "$(echo "$portable_rate / $sha256sum_rate" | bc -l)"
[ -n "$bmi2" ] && printf 'ratio BMI2 build / sha256sum:  %.2f (what a CPU with BMI2 but no SHA extensions runs)\n' "$(echo "$bmi2_rate / $sha256sum_rate" | bc -l)"
echo "memory: 16 MiB file $(echo "$ours_small" | grep -o 'peak_working_set=[^ ]*'), $size_mib MiB file $(echo "$ours" | grep -o 'peak_working_set=[^ ]*')"
