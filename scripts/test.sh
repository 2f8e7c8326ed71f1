#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, GUI offscreen, integration).
# MORVANE_SANITIZE=1 runs the same suite under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
dir="$("$root/scripts/build.sh")"
export QT_QPA_PLATFORM=offscreen
cd "$dir"
ctest --output-on-failure --timeout 600 -j"$(nproc)" "$@"
