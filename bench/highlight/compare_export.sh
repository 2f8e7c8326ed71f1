#!/bin/sh
# Export of page10.html and src10.cpp to HTML (and RTF) through the editor, next to GNU
# source-highlight and pygmentize (when installed) on the same files in the same run.
#   bench/highlight/compare_export.sh BUILD_DIR [DATA_DIR]
# DATA_DIR holds page10.html and src10.cpp from gen_data.py (never committed).
set -e
build=${1:?usage: compare_export.sh BUILD_DIR [DATA_DIR]}
data=${2:-/work/benchdata}
html=$data/page10.html
cpp=$data/src10.cpp

"$build/bench/highlight/morvane_export_bench" "$html" "$cpp" \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | grep -E 'median|^Bench'

# Median wall time of five runs, as MB/s of input (1 MB = 10^6 bytes).
median_rate() {
    name=$1
    file=$2
    shift 2
    size=$(stat -c %s "$file")
    for i in 1 2 3 4 5; do
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        echo "$start $end" | awk '{ printf "%.6f\n", $2 - $1 }'
    done | sort -n | sed -n 3p |
        awk -v size="$size" -v name="$name" '{ printf "%-34s median %7.3f s  %8.2f MB/s\n", name, $1, size / $1 / 1000000 }'
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export MORVANE_CONFIG_DIR="$tmp/cfg" MORVANE_HOME="$tmp/home"
median_rate "morvane --export html page10.html" "$html" "$build/morvane" --export html "$html" -o "$tmp/o.html"
median_rate "morvane --export html src10.cpp" "$cpp" "$build/morvane" --export html "$cpp" -o "$tmp/o.html"
if command -v source-highlight >/dev/null 2>&1; then
    median_rate "source-highlight html page10.html" "$html" source-highlight -s html -f html -i "$html" -o "$tmp/s.html"
    median_rate "source-highlight html src10.cpp" "$cpp" source-highlight -s cpp -f html -i "$cpp" -o "$tmp/s.html"
fi
if command -v pygmentize >/dev/null 2>&1; then
    median_rate "pygmentize html page10.html" "$html" pygmentize -l html -f html -o "$tmp/p.html" "$html"
    median_rate "pygmentize html src10.cpp" "$cpp" pygmentize -l cpp -f html -o "$tmp/p.html" "$cpp"
fi
