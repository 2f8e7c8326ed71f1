#!/usr/bin/env bash
# The demo: a local FTP server over a scratch copy of resources/demo/site, the account "Demo"
# pointing at it, and the editor showing the remote browser on that account. The password goes
# from a 0600 file to the server and to the editor, never into a command line. The server stops
# and the scratch copy is removed when the editor exits (also on Ctrl+C).
#
# Usage: scripts/demo.sh BUILD_DIR [EDITOR ARGUMENTS]...   (./scripts/run.sh --demo builds first)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: demo.sh BUILD_DIR [ARGUMENTS]...}"
shift
python=/usr/bin/python3 # the distribution's, which has pyftpdlib

scratch="$(mktemp -d "${TMPDIR:-/tmp}/morvane-demo.XXXXXX")"
server=""
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

cp -R "$root/resources/demo/site" "$scratch/site"
(umask 077 && head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$scratch/password")
"$python" "$root/scripts/demo-ftp-server.py" "$scratch/site" demo "$scratch/password" \
    "$scratch/port" >"$scratch/server.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do
    [ -s "$scratch/port" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
        echo "demo: the FTP server did not start:" >&2
        cat "$scratch/server.log" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$scratch/port" ]; then
    echo "demo: the FTP server did not start within 10 seconds." >&2
    exit 1
fi
port="$(cat "$scratch/port")"
"$build/morvane" --set-demo-account 127.0.0.1 "$port" demo - / <"$scratch/password"
echo "demo: FTP server on 127.0.0.1:$port (account \"Demo\") serving a copy of the sample site;" \
    "it stops when the editor exits." >&2
status=0
"$build/morvane" --browse Demo "$@" || status=$?
exit "$status"
