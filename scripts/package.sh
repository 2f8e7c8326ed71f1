#!/usr/bin/env bash
# Builds the program alone (no tests, no benchmarks) into build-package/ and makes the Debian
# package there: build-package/morvane_VERSION-BUILD_ARCH.deb. Install it with
#   sudo apt install ./build-package/morvane_*.deb
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build-package}"
"$root/scripts/deps.sh"
launcher=()
command -v ccache >/dev/null &&
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir"
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/morvane_*.deb
