#!/bin/sh
# Usage: script.sh FILE...
set -eu

if [ "$#" -eq 0 ]; then
    echo "usage: $0 FILE..." >&2
    exit 2
fi

for file in "$@"; do
    printf '%s\n' "$file"
done
