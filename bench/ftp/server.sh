# Sourced by the FTP benchmarks: starts a loopback FTP server over $root ($SERVER: vsftpd, the
# default, or pyftpdlib) with its files in $work, and sets port, user, pass and pid. The caller's
# EXIT trap kills $pid. $VSFTPD_EXTRA, if set, holds more vsftpd.conf lines (TLS). Also defines
# timed (seconds a command takes) and median.

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/empty"
if [ "${SERVER:-vsftpd}" = vsftpd ]; then
    user=anonymous pass=bench
    cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
seccomp_sandbox=NO
connect_from_port_20=NO
run_as_launching_user=YES
anonymous_enable=YES
local_enable=NO
no_anon_password=YES
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_world_readable_only=NO
secure_chroot_dir=$work/empty
pasv_enable=YES
xferlog_enable=NO
vsftpd_log_file=$work/vsftpd.log
${VSFTPD_EXTRA:-}
CONF
    /usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/server.out" 2>&1 &
    pid=$!
else
    user=bench pass=bench
    /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$root" -u $user -P $pass \
        >"$work/server.out" 2>&1 &
    pid=$!
fi
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

# Seconds taken by a command, as a decimal number.
timed() {
    local t0=$EPOCHREALTIME
    "$@" >/dev/null
    local t1=$EPOCHREALTIME
    python3 -c "print(f'{$t1 - $t0:.4f}')"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
