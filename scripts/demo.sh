#!/usr/bin/env bash
# The demo: a local FTP server over a scratch copy of resources/demo/site, the account "Demo"
# pointing at it, and the editor showing the remote browser on that account; a second server
# over the same copy requires FTP over TLS with a certificate made here (account "DemoTLS": its
# first connection asks about the certificate). When sshd is installed, an SFTP server over the
# same copy too (account "DemoSFTP": its first connection asks about the host key; the editor
# logs in with a key made here, held by an agent of the demo's own). The password goes from a 0600 file to the servers
# and to the editor, never into a command line. The servers stop and the scratch copy is removed
# when the editor exits (also on Ctrl+C).
#
# Usage: scripts/demo.sh BUILD_DIR [EDITOR ARGUMENTS]...   (./scripts/run.sh --demo builds first)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: demo.sh BUILD_DIR [ARGUMENTS]...}"
shift
python=/usr/bin/python3 # the distribution's, which has pyftpdlib

scratch="$(mktemp -d "${TMPDIR:-/tmp}/morvane-demo.XXXXXX")"
server=""
tlsserver=""
sshserver=""
agent=""
cleanup() {
    for p in $server $tlsserver $sshserver $agent; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
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

# The TLS demo: optional, the plain one works without it.
if (umask 077 && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -days 30 -subj "/O=Morvane demo/CN=127.0.0.1" -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$scratch/tls.key" -out "$scratch/tls.crt" 2>/dev/null &&
    cat "$scratch/tls.crt" "$scratch/tls.key" >"$scratch/tls.pem"); then
    "$python" "$root/scripts/demo-ftp-server.py" "$scratch/site" demo "$scratch/password" \
        "$scratch/tlsport" "$scratch/tls.pem" >"$scratch/tlsserver.log" 2>&1 &
    tlsserver=$!
    for _ in $(seq 1 100); do
        [ -s "$scratch/tlsport" ] && break
        kill -0 "$tlsserver" 2>/dev/null || break
        sleep 0.1
    done
    if [ -s "$scratch/tlsport" ]; then
        "$build/morvane" --set-demo-account 127.0.0.1 "$(cat "$scratch/tlsport")" demo \
            - / --tls <"$scratch/password"
        echo "demo: FTP over TLS on 127.0.0.1:$(cat "$scratch/tlsport") (account \"DemoTLS\")." >&2
    else
        echo "demo: the TLS server did not start; only the plain demo runs." >&2
    fi
fi
# The SFTP demo: optional as well.
if [ -x /usr/sbin/sshd ] && command -v ssh-agent >/dev/null &&
    ssh-keygen -q -t ed25519 -N "" -C morvane-demo -f "$scratch/demo_key" >/dev/null 2>&1; then
    # The server's host key outlives the run: a user who answered "Always" is not refused as
    # "host key changed" when a later demo happens to get the same port.
    sshstate="${XDG_STATE_HOME:-$HOME/.local/state}/morvane/demo-sshd"
    mkdir -p -m 700 "$sshstate"
    "$python" "$root/scripts/sftp-server.py" "$sshstate" "$scratch/site" \
        "$scratch/demo_key.pub" "$scratch/sshport" >"$scratch/sshserver.log" 2>&1 &
    sshserver=$!
    ssh-agent -D -a "$scratch/agent.sock" >/dev/null 2>&1 &
    agent=$!
    for _ in $(seq 100); do
        [ -s "$scratch/sshport" ] && [ -S "$scratch/agent.sock" ] && break
        kill -0 "$sshserver" 2>/dev/null || break
        sleep 0.1
    done
    if [ -s "$scratch/sshport" ] && [ -S "$scratch/agent.sock" ] &&
        SSH_AUTH_SOCK="$scratch/agent.sock" ssh-add -q "$scratch/demo_key" 2>/dev/null; then
        echo | "$build/morvane" --set-demo-account 127.0.0.1 "$(cat "$scratch/sshport")" \
            "$(id -un)" - "$scratch/site" --sftp
        export SSH_AUTH_SOCK="$scratch/agent.sock"
        echo "demo: SFTP on 127.0.0.1:$(cat "$scratch/sshport") (account \"DemoSFTP\"; its key" \
            "is in the demo's own agent)." >&2
    else
        echo "demo: the SSH server did not start; no SFTP demo." >&2
    fi
fi
echo "demo: FTP server on 127.0.0.1:$port (account \"Demo\") serving a copy of the sample site;" \
    "it stops when the editor exits." >&2
status=0
"$build/morvane" --browse Demo "$@" || status=$?
exit "$status"
