#!/bin/sh
# Runs the typing benchmark with recovery files off, then on, each in a fresh process.
# Usage: bench/recovery/compare.sh BUILD_DIR [FILE] [characters]
set -e
build=${1:-build}
file=${2:-/work/benchdata/big.c}
chars=${3:-10000}
"$build/bench/recovery/recovery_typing_bench" "$file" off "$chars"
"$build/bench/recovery/recovery_typing_bench" "$file" on "$chars"
