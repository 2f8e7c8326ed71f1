#!/usr/bin/env python3
"""A throw-away OpenSSH server for the demo, the desktop tests and the benchmarks: sshd on
127.0.0.1 as the calling user, with its own host key and configuration in STATE_DIR, no PAM,
keys from AUTHORIZED_KEYS only, and SFTP starting in START_DIR. The port goes to PORT_FILE
before sshd starts; this process becomes sshd, so stopping it stops the server.

usage: sftp-server.py STATE_DIR START_DIR AUTHORIZED_KEYS PORT_FILE"""

import os
import socket
import subprocess
import sys

SSHD = "/usr/sbin/sshd"


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    state, start, keys, port_file = (os.path.abspath(a) for a in sys.argv[1:])
    if not os.access(SSHD, os.X_OK):
        sys.exit("sftp-server: %s is missing (Debian openssh-server)" % SSHD)
    os.makedirs(state, exist_ok=True)
    host_key = os.path.join(state, "host_ed25519")
    if not os.path.exists(host_key):
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", host_key],
                       check=True, stdout=subprocess.DEVNULL)
    if os.geteuid() == 0:
        os.makedirs("/run/sshd", exist_ok=True)  # sshd's privilege separation folder
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    config = os.path.join(state, "sshd_config")
    with open(config, "w") as f:
        f.write("Port %d\nListenAddress 127.0.0.1\nHostKey %s\nPidFile none\nUsePAM no\n"
                "StrictModes no\nAuthorizedKeysFile %s\nPermitRootLogin yes\n"
                "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                "Subsystem sftp internal-sftp -d %s\nLogLevel ERROR\n"
                % (port, host_key, keys, start))
    with open(port_file + ".tmp", "w") as f:
        f.write(str(port))
    os.rename(port_file + ".tmp", port_file)
    os.execv(SSHD, [SSHD, "-D", "-e", "-f", config])


if __name__ == "__main__":
    main()
