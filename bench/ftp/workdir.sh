# Sourced first by the transfer benchmarks: a scratch folder $work (named after $1) holding the
# served tree $root; on exit the server in $pid, if one was started, is stopped and both go.
work=$(mktemp -d "/tmp/morvane-$1-bench-XXXXXX")
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
root="$work/root"
mkdir -p "$root"
chmod 755 "$root"
