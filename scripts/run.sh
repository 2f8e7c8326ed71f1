#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor with the given arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
dir="$("$root/scripts/build.sh")"
exec "$dir/morvane" "$@"
