#!/usr/bin/env bash
# Builds a fuzz target with clang and runs it:
#   tests/core/highlight/fuzz/run_fuzz.sh [seconds] [compiler|regex]   the script compiler (seeded with
#       the built-in scripts, the default) or the search engine (seeded with fuzz/re-corpus)
#   tests/core/highlight/fuzz/run_fuzz.sh stored [seconds]               the decoders and the stored form
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
build="$root/build-hl-fuzz"
target=morvane_highlight_fuzz
if [ "${1:-}" = stored ]; then
    target=morvane_stored_fuzz
    shift
fi
seconds="${1:-60}"
which="${2:-compiler}"
# The libraries are instrumented too, so that libFuzzer sees the coverage inside the compiler.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVANE_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
if [ "$which" = regex ]; then
    cmake --build "$build" --target morvane_re_fuzz -j2
    corpus="$build/re-corpus"
    mkdir -p "$corpus"
    cp "$root"/tests/core/highlight/fuzz/re-corpus/* "$corpus"/
    exec "$build/tests/core/highlight/morvane_re_fuzz" -max_total_time="$seconds" -max_len=4096 \
        -timeout=10 -rss_limit_mb=2048 "$corpus"
fi
cmake --build "$build" --target "$target" -j2
corpus="$build/$target-corpus"
mkdir -p "$corpus"
[ "$target" = morvane_highlight_fuzz ] && cp "$root"/resources/highlighters/*.stx "$corpus"/
"$build/tests/core/highlight/$target" -max_total_time="$seconds" -max_len=65536 \
    -timeout=10 -rss_limit_mb=2048 "$corpus"
