#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor with the given arguments.
# --demo first: starts a local FTP server with a sample site and opens the editor on it
# (scripts/demo.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
dir="$("$root/scripts/build.sh")"
if [ "${1:-}" = "--demo" ]; then
    shift
    exec "$root/scripts/demo.sh" "$dir" "$@"
fi
exec "$dir/morvane" "$@"
