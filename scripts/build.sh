#!/usr/bin/env bash
# Configures (once) and builds the project into build/ (or $MORVANE_BUILD_DIR).
# MORVANE_SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${MORVANE_SANITIZE:-0}" = 1 ]; then
    dir="${MORVANE_BUILD_DIR:-$root/build-asan}"
    # The sanitizer tree only runs the tests: no benchmarks.
    extra=(-DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_BUILD_BENCH=OFF)
else
    dir="${MORVANE_BUILD_DIR:-$root/build}"
    extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "${extra[@]}" >/dev/null
fi
cmake --build "$dir" -- -j"$(nproc)" >&2
echo "$dir"
