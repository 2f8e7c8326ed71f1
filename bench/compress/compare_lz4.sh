#!/usr/bin/env bash
# The block method next to lz4 -1 and gzip -1 on 10 MB of source code and 10 MB of random bytes,
# in the same run; medians of 9 runs, MB/s of uncompressed bytes.
#   bench/compress/compare_lz4.sh BUILD_DIR [DATA_DIR]
# DATA_DIR holds src10.cpp from /work/shared/bench/gen_data.py (never committed).
set -euo pipefail
build="${1:?build dir}"
data="${2:-/work/benchdata}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
head -c 10485760 /dev/urandom >"$tmp/random10.bin"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
speed() { # command... ; prints MB/s of the input size for the median of 9 runs
    local size=$1
    shift
    for _ in 1 2 3 4 5 6 7 8 9; do
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null
        t1=$(date +%s.%N)
        echo "$size / 1000000 / ($t1 - $t0)" | bc -l
    done | median
}
for f in "$data/src10.cpp" "$tmp/random10.bin"; do
    size=$(stat -c %s "$f")
    echo "== $(basename "$f") ($size bytes)"
    "$build/bench/compress/morvane_compress_bench" "$f" 9
    for tool in "lz4 -1" "gzip -1"; do
        $tool -c "$f" >"$tmp/packed"
        c=$(speed "$size" $tool -c "$f")
        d=$(speed "$size" $tool -dc "$tmp/packed")
        printf '%-10s ratio %5.1f%%  compress %7.1f MB/s  decompress %7.1f MB/s\n' "$tool" \
            "$(echo "100 * $(stat -c %s "$tmp/packed") / $size" | bc -l)" "$c" "$d"
    done
done
