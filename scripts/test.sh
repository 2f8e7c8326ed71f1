#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, GUI offscreen, integration,
# desktop journeys). MORVANE_SANITIZE=1 runs the same suite under AddressSanitizer +
# UndefinedBehaviorSanitizer instead.
# With CI=true (as .ci/run runs it) or MORVANE_FULL_CHECK=1 it first runs the fuzz short runs
# (scripts/fuzz.sh) and the suite without the desktop journeys under the sanitizers, then the
# whole suite in the normal build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

if [ "${CI:-}" = true ] || [ "${MORVANE_FULL_CHECK:-0}" = 1 ]; then
    "$root/scripts/fuzz.sh"
    asan="$(MORVANE_SANITIZE=1 "$root/scripts/build.sh")"
    (cd "$asan" && ctest --output-on-failure --timeout 900 -j"$jobs" -LE desktop "$@")
fi

dir="$("$root/scripts/build.sh")"
cd "$dir"
ctest --output-on-failure --timeout 600 -j"$jobs" "$@"
