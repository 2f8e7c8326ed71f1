#!/bin/sh
# Rewrites golden/reference/ from golden/input/ with the engine as built; review the diff.
# Usage: tests/core/highlight/golden/regenerate.sh [build-dir]
set -e
build=${1:-build}
MORVANE_REGENERATE_GOLDEN=1 "$build/tests/core/highlight/morvane_highlight_tests" \
    --gtest_filter='Golden.*'
git -C "$(dirname "$0")" status --short -- reference
