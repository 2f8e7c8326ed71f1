#!/usr/bin/env bash
# Runs a test program against a desktop keyring of its own: a private session bus
# (dbus-run-session) with gnome-keyring-daemon unlocked by a test password, in a temporary home,
# so that the developer's keyring is never touched. The daemon's pid is handed to the program
# (MORVANE_TEST_KEYRING_PID) so that it can stop, freeze or lock it.
#   run_with_keyring.sh PROGRAM [ARGS...]               with a keyring
#   run_with_keyring.sh --no-bus PROGRAM [ARGS...]      without any session bus
set -euo pipefail
nobus=0
if [ "${1:-}" = "--no-bus" ]; then
    nobus=1
    shift
fi
root=$(mktemp -d "${TMPDIR:-/tmp}/morvane-keyring-XXXXXX")
trap 'rm -rf "$root"' EXIT
# Set before the bus starts: services it activates (a restarted daemon) inherit them.
export HOME="$root/home" XDG_DATA_HOME="$root/home/data" XDG_CONFIG_HOME="$root/home/config"
export XDG_CACHE_HOME="$root/home/cache" XDG_RUNTIME_DIR="$root/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# No prompt may appear on the developer's screen.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS GNOME_KEYRING_CONTROL
if [ "$nobus" = 1 ]; then
    exec "$@"
fi
export MORVANE_KEYRING_PROGRAM="$1"
shift
exec dbus-run-session -- bash -c '
    set -eu
    echo -n keyring-test-password |
        gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
    export MORVANE_TEST_KEYRING_PID=$!
    for _ in $(seq 100); do
        if gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
            -m org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null |
            grep -q true; then
            break
        fi
        sleep 0.1
    done
    code=0
    "$MORVANE_KEYRING_PROGRAM" "$@" || code=$?
    kill "$MORVANE_TEST_KEYRING_PID" 2>/dev/null || true
    exit $code
' keyring "$@"
