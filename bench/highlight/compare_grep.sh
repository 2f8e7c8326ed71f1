#!/bin/sh
# The search engine and find and replace next to grep on the same file, in the same run
# (medians of 5):
#   bench/highlight/compare_grep.sh BUILD_DIR FILE
# grep -c counts matching lines; the engine counts every match.
set -e
build=${1:?usage: compare_grep.sh BUILD_DIR FILE}
file=${2:?usage: compare_grep.sh BUILD_DIR FILE}
"$build/bench/highlight/morvane_regex_bench" "$file" 5
size=$(stat -c %s "$file")
run_grep() {
    label=$1
    shift
    for i in 1 2 3 4 5; do
        t0=$(date +%s%N)
        # Through a pipe: grep stops at the first match when its output is /dev/null.
        grep "$@" "$file" | cat >/dev/null
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000))
    done | sort -n | sed -n 3p |
        awk -v s="$size" -v l="$label" '{ printf "%-35s median %7.3f s  %7.0f MB/s\n", l, $1 / 1e6, s / $1 }'
}
echo "grep -E -c 'free[[:space:]]*\\(': $(grep -E -c 'free[[:space:]]*\(' "$file") lines"
run_grep "grep -E -c 'free[[:space:]]*\\('" -E -c 'free[[:space:]]*\('
echo "grep -E -c '[0-9]+\\.[0-9]+': $(grep -E -c '[0-9]+\.[0-9]+' "$file") lines"
run_grep "grep -E -c '[0-9]+\\.[0-9]+'" -E -c '[0-9]+\.[0-9]+'
run_grep "grep -E -c 'printf[[:space:]]*\\('" -E -c 'printf[[:space:]]*\('
run_grep "grep -F -c 'free'" -F -c 'free'
# Find and replace through the editor, and grep -F on the word it searches for.
"$build/bench/highlight/morvane_search_bench" "$file" 5 | tee /tmp/morvane_search_bench.$$
word=$(sed -n 's/^word near the end: //p' /tmp/morvane_search_bench.$$)
rm -f /tmp/morvane_search_bench.$$
run_grep "grep -F -c '$word'" -F -c "$word"
run_grep "grep -i -F -c '$word'" -i -F -c "$word"
