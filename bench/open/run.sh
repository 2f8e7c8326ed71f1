#!/bin/bash
# Open to ready of big files, whole process, next to vim in the same run:
#   bench/open/run.sh BUILD_DIR [RUNS]          (RUNS: 7 by default; medians are printed)
# Files:
#   BIG_FILE   a normal source file of about 100 MB (default /work/benchdata/big.c, made by
#              python3 /work/shared/bench/gen_data.py /work/benchdata --seed 20240601)
#   GB_FILE    a 1 GB file; by default ten copies of BIG_FILE are written to a temporary folder
#              (under BENCH_TMP, default /tmp) and removed at the end. SKIP_GB=1 leaves it out.
#   ONE_LINE=1 adds a 2.2 GB file of NUL bytes without a line break (ONE_LINE_FILE, or made in
#              the temporary folder); only the program opens it, vim takes minutes.
# Time is wall-clock seconds from start to exit with MORVANE_QUIT_WHEN_READY=1 (the program quits
# once the document is shown); peak is the maximum resident set from /usr/bin/time. "above empty"
# subtracts the peak of the program opening an empty file.
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR [RUNS]}
runs=${2:-7}
program=$(cd "$build" && pwd)/morvane
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 1; }
big=${BIG_FILE:-/work/benchdata/big.c}
[ -f "$big" ] || { echo "no $big (see the comment at the top)" >&2; exit 1; }

tmp=$(mktemp -d "${BENCH_TMP:-/tmp}/open-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# Private state, settings and runtime folders: no session of another run is restored, and no
# running instance is handed the file instead of this one opening it.
mkdir -p "$tmp/state" "$tmp/config" "$tmp/runtime"
chmod 700 "$tmp/runtime"
export MORVANE_STATE_DIR=$tmp/state MORVANE_CONFIG_DIR=$tmp/config MORVANE_RUNTIME_DIR=$tmp/runtime

# One measurement: "seconds peakKiB".
measure() {
    /usr/bin/time -f "%e %M" -o "$tmp/time" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$tmp/time"
}
open_morvane() {
    MORVANE_QUIT_WHEN_READY=1 QT_QPA_PLATFORM=offscreen measure "$program" "$1"
}
open_vim() {
    measure vim -u NONE -es -c q "$1"
}
# Median of column $1 over lines on stdin.
median() { sort -g -k"$1","$1" | awk -v c="$1" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'; }

# Runs one opener RUNS times; prints "median_seconds median_peakKiB".
series() {
    local opener=$1 file=$2 i
    for ((i = 0; i < runs; i++)); do "$opener" "$file"; done >"$tmp/series"
    echo "$(median 1 <"$tmp/series") $(median 2 <"$tmp/series")"
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

: >"$tmp/empty"
read -r _ empty_peak < <(series open_morvane "$tmp/empty")
echo "empty document: peak $(mib "$empty_peak") MiB (median of $runs)"

report() {
    local name=$1 file=$2 with_vim=$3
    local size kib
    size=$(stat -c %s "$file")
    kib=$((size / 1024))
    cat "$file" >/dev/null # in the page cache for every run alike
    read -r m_time m_peak < <(series open_morvane "$file")
    echo "$name: $size bytes, median of $runs"
    awk -v t="$m_time" -v p="$m_peak" -v e="$empty_peak" -v k="$kib" 'BEGIN {
        printf "  morvane  %6.2f s   peak %8.1f MiB = %.2fx file   above empty %8.1f MiB = %.2fx file\n",
               t, p / 1024, p / k, (p - e) / 1024, (p - e) / k }'
    if [ "$with_vim" = 1 ] && command -v vim >/dev/null; then
        read -r v_time v_peak < <(series open_vim "$file")
        awk -v t="$v_time" -v p="$v_peak" -v k="$kib" 'BEGIN {
            printf "  vim      %6.2f s   peak %8.1f MiB = %.2fx file\n", t, p / 1024, p / k }'
        awk -v mt="$m_time" -v vt="$v_time" -v mp="$m_peak" -v vp="$v_peak" 'BEGIN {
            printf "  morvane/vim: time %.2fx, peak %.2fx\n", mt / vt, mp / vp }'
    fi
}

report "$(basename "$big")" "$big" 1

if [ "${SKIP_GB:-0}" != 1 ]; then
    gb=${GB_FILE:-}
    if [ -z "$gb" ]; then
        gb=$tmp/ten-copies.c
        for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$big"; done >"$gb"
    fi
    report "1 GB ($(basename "$gb"))" "$gb" 1
    if [ -z "${GB_FILE:-}" ]; then rm -f "$gb"; fi
fi

if [ "${ONE_LINE:-0}" = 1 ]; then
    one=${ONE_LINE_FILE:-}
    if [ -z "$one" ]; then
        one=$tmp/one-line.bin
        head -c 2200000000 /dev/zero >"$one"
    fi
    report "one line ($(basename "$one"))" "$one" 0
    if [ -z "${ONE_LINE_FILE:-}" ]; then rm -f "$one"; fi
fi
