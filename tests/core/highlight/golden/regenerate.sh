#!/bin/sh
# Rewrites golden/reference/ from golden/input/ with the highlighters as built; review the diff
# by hand before committing it.
# Usage: tests/core/highlight/golden/regenerate.sh [build-dir]
set -e
build=${1:-build}
cmake --build "$build" --target morvane_golden_regenerate
"$build/tests/core/highlight/morvane_golden_regenerate"
git -C "$(dirname "$0")" status --short -- reference
