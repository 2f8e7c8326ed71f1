#!/bin/sh
# Load time and peak memory of the editor core next to vim's, on the same file:
#   bench/editor/compare_vim.sh BUILD_DIR FILE
set -e
build=${1:?usage: compare_vim.sh BUILD_DIR FILE}
file=${2:?usage: compare_vim.sh BUILD_DIR FILE}
"$build/bench/editor/editor_bench" "$file" --benchmark_filter=BM_Load \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | grep median
if command -v vim >/dev/null 2>&1; then
    for i in 1 2 3 4 5; do
        /usr/bin/time -f "%e %M" vim -u NONE -es -c q "$file" 2>&1 | tail -n 1
    done | sort -n | sed -n 3p | awk '{ printf "vim load median: %s s, peak %.1f MB\n", $1, $2 / 1024 }'
fi
