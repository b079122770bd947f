#!/usr/bin/env bash
# Generated game folders checked by the engine under Wine: the quick check next to a
# native metadata walk (find), the full repair next to sha256sum and openssl over the
# same files, each run's peak memory, and how both checks grow from the smaller folder
# (small files in 200 folders plus a few large packs) to the larger one (five times the
# small files in 1,000 folders).
# Usage: scripts/bench_patch.sh [SMALL_FILES] [LARGE_MIB_EACH] [LARGE_FILES] [MORE_SMALL_FILES]
# BENCH_BASELINE=path/to/bench_patch.exe (an older build) adds a "before" column.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
small_files=${1:-20000}
large_mib=${2:-256}
large_files=${3:-4}
more_small_files=${4:-100000}
baseline=${BENCH_BASELINE:-}
"$root/scripts/build.sh" >/dev/null

# shellcheck source=bench_common.sh
. "$root/scripts/bench_common.sh"
bench_begin patch

www=$work/www
mkdir -p "$www"
make_small_tree() {  # NAME FILES FOLDERS
    echo "Generating $2 small files in $3 folders..." >&2
    make_small_files "$work/$1" "$2" "$3"
}
# A manifest of every file below the folder whose path matches the pattern.
write_manifest() {  # GAME_DIR OUT_NAME PATTERN
    python3 - "$1" "$www/$2" "$3" <<'PY'
import hashlib, json, os, re, sys
game, out, pattern = sys.argv[1], sys.argv[2], re.compile(sys.argv[3])
files = []
for dirpath, _, names in os.walk(game):
    for name in names:
        path = os.path.join(dirpath, name)
        rel = os.path.relpath(path, game).replace(os.sep, "/")
        if not pattern.search(rel):
            continue
        with open(path, "rb") as f:
            digest = hashlib.file_digest(f, "sha256").hexdigest()
        files.append({"path": rel, "size": os.path.getsize(path), "sha256": digest})
files.sort(key=lambda e: e["path"])
with open(out, "w") as f:
    json.dump({"base_url": "http://127.0.0.1:1/unused", "files": files}, f)
PY
}
make_small_tree small "$small_files" 200
make_small_tree more "$more_small_files" 1000
echo "Generating $large_files x $large_mib MiB..." >&2
for i in $(seq 1 "$large_files"); do head -c "$((large_mib * 1048576))" /dev/urandom >"$work/small/pack$i.pak"; done
write_manifest "$work/small" small.json '.'
write_manifest "$work/small" packs.json '^pack'
write_manifest "$work/more" more.json '.'

port_file=$work/port
python3 -c '
import http.server, functools, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
open(sys.argv[2], "w").write(str(server.server_address[1]))
server.serve_forever()' "$www" "$port_file" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 100); do [ -s "$port_file" ] && break; sleep 0.1; done
port=$(cat "$port_file")
for m in small packs more; do
    printf '{"client_version": "1.0.0", "manifest_url": "http://127.0.0.1:%s/%s.json"}' "$port" "$m" >"$www/v_$m.json"
done

find "$work/small" "$work/more" -type f -exec cat {} + >/dev/null  # into the page cache

field() { grep -o "$2=[^ ]*" "$1" | cut -d= -f2; }

# One engine run; its figures go to $work/out/WHO_TREE_MODE_CORES.txt. Output goes
# through files: the Wine services the first program starts keep a pipe open.
mkdir -p "$work/out"
run_bench() {  # WHO EXE TREE GAME MODE CORES
    local state=$work/state/$1_$3
    mkdir -p "$state"
    local pin=()
    [ "$6" = one ] && pin=(taskset -c 0)
    "${pin[@]}" wine "$2" "$(winepath -w "$4" 2>/dev/null)" "$(winepath -w "$state" 2>/dev/null)" \
        "http://127.0.0.1:$port/v_$3.json" "$5" </dev/null >"$work/out/$1_$3_$5_$6.txt" 2>&1 || {
        echo "bench_patch failed:" >&2
        cat "$work/out/$1_$3_$5_$6.txt" >&2
        exit 1
    }
}
runners=("after $build/bin/bench_patch.exe")
[ -n "$baseline" ] && runners=("before $baseline" "${runners[@]}")
all_runs() {  # CORES
    local cores=$1 r who exe
    for r in "${runners[@]}"; do
        who=${r%% *} exe=${r#* }
        # The full repair hashes everything and fills the cache; the quick check trusts it.
        run_bench "$who" "$exe" small "$work/small" full "$cores"
        run_bench "$who" "$exe" small "$work/small" quick "$cores"
        run_bench "$who" "$exe" packs "$work/small" full "$cores"
        run_bench "$who" "$exe" more "$work/more" full "$cores"
        run_bench "$who" "$exe" more "$work/more" quick "$cores"
    done
}
echo "Running the engine..." >&2
all_runs both
# Every file open and close under Wine is a round trip to wineserver. On this virtual
# machine a wake-up on the other core costs about 150 us, which dwarfs the work itself;
# with the program and wineserver on one core the same runs show what the code costs.
wineserver -k 2>/dev/null || true
taskset -c 0 wineserver -p </dev/null >/dev/null 2>&1
all_runs one

echo "Running the native tools..." >&2
declare -A native
for tree in small more; do
    native[find_$tree]=$(elapsed find "$work/$tree" -type f -printf '%s %T@\n')
    native[openssl_$tree]=$(elapsed sh -c "find '$work/$tree' -type f -print0 | xargs -0 openssl dgst -sha256")
done
native[openssl_packs]=$(elapsed sh -c "openssl dgst -sha256 '$work/small'/pack*.pak")
native[sha256sum_small]=$(elapsed sh -c "find '$work/small' -type f -print0 | xargs -0 sha256sum")

count() { find "$1" -type f "${@:2}" | wc -l; }
megabytes() { echo "$(du -sb --apparent-size "$@" | awk '{s += $1} END {print s}') / 1000000" | bc -l; }
files_small=$(count "$work/small"); mb_small=$(megabytes "$work/small")
files_more=$(count "$work/more"); mb_more=$(megabytes "$work/more")
mb_packs=$(megabytes "$work/small"/pack*.pak)

v() { field "$work/out/$1.txt" verify_s; }
peak() { field "$work/out/$1.txt" peak_working_set_mib; }
us() { echo "$1 * 1000000 / $2" | bc -l; }
mbs() { echo "$2 / $1" | bc -l; }
row() {  # LABEL TREE MODE AMOUNT CORES; AMOUNT is files for a quick check, MB for a full repair
    local rate=us unit='%6.1f us/file'
    [ "$3" = full ] && rate=mbs unit='%7.1f MB/s  '
    printf '%-34s' "$1"
    for r in "${runners[@]}"; do
        local who=${r%% *} run t
        run=${who}_$2_$3_$5
        t=$(v "$run")
        printf "  %-6s %7.3f s $unit peak %5s MiB" "$who" "$t" "$($rate "$t" "$4")" "$(peak "$run")"
    done
    echo
}

printf '\nSmaller folder: %d files, %.1f MB (%d small files in 200 folders, %d x %d MiB)\n' \
    "$files_small" "$mb_small" "$small_files" "$large_files" "$large_mib"
row 'quick check (Wine, both cores)' small quick "$files_small" both
row 'quick check (Wine, one core)' small quick "$files_small" one
printf '%-34s  %7.3f s %6.1f us/file\n' 'find -printf size,mtime (native)' "${native[find_small]}" "$(us "${native[find_small]}" "$files_small")"
row 'full repair (Wine, both cores)' small full "$mb_small" both
row 'full repair (Wine, one core)' small full "$mb_small" one
printf '%-34s  %7.3f s %7.1f MB/s\n' 'sha256sum (native)' "${native[sha256sum_small]}" "$(mbs "${native[sha256sum_small]}" "$mb_small")"
printf '%-34s  %7.3f s %7.1f MB/s\n' 'openssl dgst -sha256 (native)' "${native[openssl_small]}" "$(mbs "${native[openssl_small]}" "$mb_small")"
row 'packs alone: full repair (both)' packs full "$mb_packs" both
row 'packs alone: full repair (one)' packs full "$mb_packs" one
printf '%-34s  %7.3f s %7.1f MB/s\n' 'packs alone: openssl (native)' "${native[openssl_packs]}" "$(mbs "${native[openssl_packs]}" "$mb_packs")"

printf '\nLarger folder: %d files, %.1f MB (in 1,000 folders)\n' "$files_more" "$mb_more"
row 'quick check (Wine, both cores)' more quick "$files_more" both
row 'quick check (Wine, one core)' more quick "$files_more" one
printf '%-34s  %7.3f s %6.1f us/file\n' 'find -printf size,mtime (native)' "${native[find_more]}" "$(us "${native[find_more]}" "$files_more")"
row 'full repair (Wine, both cores)' more full "$mb_more" both
row 'full repair (Wine, one core)' more full "$mb_more" one
printf '%-34s  %7.3f s %7.1f MB/s\n' 'openssl dgst -sha256 (native)' "${native[openssl_more]}" "$(mbs "${native[openssl_more]}" "$mb_more")"

echo
for r in "${runners[@]}"; do
    who=${r%% *}
    printf '%s, both cores: quick check / find %.2fx (target <= 3); full repair / openssl %.2f (target >= 0.5); packs %.2f (target >= 0.9)\n' \
        "$who" "$(echo "$(v "${who}_small_quick_both") / ${native[find_small]}" | bc -l)" \
        "$(echo "${native[openssl_small]} / $(v "${who}_small_full_both")" | bc -l)" \
        "$(echo "${native[openssl_packs]} / $(v "${who}_packs_full_both")" | bc -l)"
    # Growth per small file from the smaller folder to the larger one; the packs' own
    # time is taken out of the smaller folder's full repair. 1.00 is linear.
    for cores in both one; do
        q_small=$(us "$(v "${who}_small_quick_$cores")" "$files_small")
        q_more=$(us "$(v "${who}_more_quick_$cores")" "$files_more")
        f_small=$(us "$(echo "$(v "${who}_small_full_$cores") - $(v "${who}_packs_full_$cores")" | bc -l)" "$small_files")
        f_more=$(us "$(v "${who}_more_full_$cores")" "$files_more")
        printf '%s, %s: per small file %d -> %d files: quick %.1f -> %.1f us (x%.2f), full repair %.1f -> %.1f us (x%.2f)\n' \
            "$who" "$cores" "$small_files" "$more_small_files" "$q_small" "$q_more" "$(echo "$q_more / $q_small" | bc -l)" \
            "$f_small" "$f_more" "$(echo "$f_more / $f_small" | bc -l)"
    done
done
