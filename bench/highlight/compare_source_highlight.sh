#!/bin/sh
# Highlighting throughput through the editor next to GNU source-highlight's, on the same files in
# the same run, and the re-highlighting after one keystroke in the middle of big.c:
#   bench/highlight/compare_source_highlight.sh BUILD_DIR DATA_DIR
# DATA_DIR holds page10.html, src10.cpp and big.c from gen_data.py. source-highlight is installed
# with apt-get when it is missing.
set -e
build=${1:?usage: compare_source_highlight.sh BUILD_DIR DATA_DIR}
data=${2:?usage: compare_source_highlight.sh BUILD_DIR DATA_DIR}
html=$data/page10.html
cpp=$data/src10.cpp
big=$data/big.c

if ! command -v source-highlight >/dev/null 2>&1; then
    echo "source-highlight is missing; installing it" >&2
    if [ "$(id -u)" -eq 0 ]; then
        apt-get install -y source-highlight >/dev/null
    else
        sudo apt-get install -y source-highlight >/dev/null
    fi
fi

"$build/bench/highlight/morvane_rehighlight_bench" "$html" "$cpp" "$big" \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | grep -E 'median|^Bench'

# Median wall time of five runs, as MB/s.
median_rate() {
    lang=$1
    file=$2
    size=$(stat -c %s "$file")
    for i in 1 2 3 4 5; do
        start=$(date +%s.%N)
        source-highlight -s "$lang" -f html -i "$file" -o /dev/null
        end=$(date +%s.%N)
        echo "$start $end" | awk '{ printf "%.6f\n", $2 - $1 }'
    done | sort -n | sed -n 3p |
        awk -v size="$size" -v lang="$lang" '{ printf "source-highlight %s: median %.3f s, %.2f MB/s\n", lang, $1, size / $1 / 1048576 }'
}
median_rate html "$html"
median_rate cpp "$cpp"
