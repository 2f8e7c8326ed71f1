#!/usr/bin/env bash
# SFTP: morvane-ftp against OpenSSH's sftp and curl (when its build speaks SFTP) on the same
# local sshd (scripts/sftp-server.py: a throw-away server as this user, key login), download
# and upload of a 100 MB file. Every client logs in with the same key, checks the same
# known_hosts and writes to /dev/null or from the same local file.
# Usage: bench/ftp/sftp.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: sftp.sh BUILD_DIR [RUNS]}
runs=${2:-5}
here="$(cd "$(dirname "$0")" && pwd)"
tool="$build/src/tools/ftp/morvane-ftp"
[ -x "$tool" ] || { echo "no $tool: build the morvane-ftp target first" >&2; exit 1; }
command -v sftp >/dev/null || { echo "sftp is missing (Debian openssh-client)" >&2; exit 1; }

source "$(dirname "$0")/workdir.sh" sftp # sets work, root, pid and the EXIT trap
mkdir -p "$work/home/.ssh"
chmod 700 "$work/home/.ssh"
head -c $((100 * 1024 * 1024)) /dev/urandom >"$root/big.bin"
cp "$root/big.bin" "$work/upload.bin"
key="$work/home/.ssh/id_ed25519"
ssh-keygen -q -t ed25519 -N "" -f "$key"
"$here/../../scripts/sftp-server.py" "$work/sshd" "$root" "$key.pub" "$work/port" \
    >"$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
user=$(id -un)
known="$work/home/.ssh/known_hosts"
export HOME="$work/home" # morvane-ftp's ~/.ssh
unset SSH_AUTH_SOCK
# The host key goes into known_hosts once; every run after that checks it.
"$tool" -t 60 --accept-new-host-key "sftp://$user@127.0.0.1:$port" ls >/dev/null 2>&1

timed() {
    local t0=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    local t1=$EPOCHREALTIME
    python3 -c "print(f'{$t1 - $t0:.4f}')"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

declare -A results
bench() { # name, then the command
    local name=$1; shift
    local times=()
    "$@" >/dev/null 2>&1 # warm-up
    for _ in $(seq "$runs"); do times+=("$(timed "$@")"); done
    results[$name]=$(median "${times[@]}")
}

m=("$tool" -t 300 "sftp://$user@127.0.0.1:$port")
o=(sftp -q -P "$port" -i "$key" -o "UserKnownHostsFile=$known" -o StrictHostKeyChecking=yes
    -o BatchMode=yes -b -)
sftp_get() { echo "get big.bin /dev/null" | "${o[@]}" "$user@127.0.0.1"; }
sftp_put() { echo "put $work/upload.bin up-o.bin" | "${o[@]}" "$user@127.0.0.1"; }
bench morvane-get "${m[@]}" get big.bin /dev/null
bench sftp-get sftp_get
bench morvane-put "${m[@]}" put "$work/upload.bin" up-m.bin
bench sftp-put sftp_put
peers=(sftp)
if curl -V | grep -q '^Protocols:.* sftp'; then
    c=(curl -sS --key "$key" --pubkey "$key.pub" --hostpubsha256 "$(ssh-keygen -l -E sha256 -f \
        "$work/sshd/host_ed25519.pub" | awk '{print $2}' | sed 's/^SHA256://')" -u "$user:")
    bench curl-get "${c[@]}" -o /dev/null "sftp://127.0.0.1:$port/$root/big.bin"
    bench curl-put "${c[@]}" -T "$work/upload.bin" "sftp://127.0.0.1:$port/$root/up-c.bin"
    peers+=(curl)
fi
cmp -s "$root/up-m.bin" "$work/upload.bin" || echo "warning: morvane-ftp upload differs" >&2

printf '%-10s %10s' task morvane
for p in "${peers[@]}"; do printf ' %10s' "$p"; done
printf '   ratio (fastest peer time / morvane time; goal >= 0.8), median of %d runs\n' "$runs"
for task in get put; do
    a=${results[morvane-$task]}
    line=$(printf '%-10s %7.0f MB/s' "$task 100MB" "$(python3 -c "print(100/$a)")")
    best=""
    for p in "${peers[@]}"; do
        b=${results[$p-$task]:-}
        [ -n "$b" ] || { line+=$(printf ' %10s' "failed"); continue; }
        line+=$(printf ' %5.0f MB/s' "$(python3 -c "print(100/$b)")")
        if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $b < $best else 1)"; then best=$b; fi
    done
    echo "$line   $(python3 -c "print(f'{$best/$a:.2f}')")"
done
