#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (the libraries instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer) and runs their short runs.
# Fails when clang or a fuzz target is missing: a run that fuzzed nothing must not look green.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${MORVANE_FUZZ_BUILD_DIR:-$root/build-fuzz}"
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (scripts/deps.sh installs it)" >&2; exit 1; }
if [ ! -f "$dir/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMORVANE_BUILD_BENCH=OFF \
        "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
        >/dev/null
fi
targets=(morvane_highlight_fuzz morvane_re_fuzz morvane_stored_fuzz)
cmake --build "$dir" --target "${targets[@]}" -- -j"$(nproc)" >&2
cd "$dir"
ctest --output-on-failure --no-tests=error -R 'FuzzShortRun' "$@"
