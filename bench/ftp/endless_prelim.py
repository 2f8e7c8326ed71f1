#!/usr/bin/env python3
"""A server that answers LIST with LINES preliminary "150" replies before the listing itself:
the time and the peak memory (max RSS) of `morvane-ftp ls` against it, for each tool given.

Usage: bench/ftp/endless_prelim.py LINES TOOL [TOOL...]
       e.g. bench/ftp/endless_prelim.py 4000000 old/morvane-ftp build/src/tools/ftp/morvane-ftp
"""
import os
import socket
import sys
import threading
import time

LIMIT_SECONDS = 300


def serve(listener, lines):
    conn, _ = listener.accept()
    f = conn.makefile("rb")
    conn.sendall(b"220 ready\r\n")
    port = None
    burst = b"150 Here it comes\r\n" * 10000
    while True:
        line = f.readline()
        if not line:
            break
        verb, _, arg = line.decode("latin-1").strip().partition(" ")
        verb = verb.upper()
        if verb == "USER":
            conn.sendall(b"331 Password\r\n")
        elif verb == "PASS":
            conn.sendall(b"230 In\r\n")
        elif verb == "SYST":
            conn.sendall(b"215 UNIX Type: L8\r\n")
        elif verb == "PWD":
            conn.sendall(b'257 "/"\r\n')
        elif verb == "PORT":
            p = arg.split(",")
            port = (".".join(p[:4]), int(p[4]) * 256 + int(p[5]))
            conn.sendall(b"200 OK\r\n")
        elif verb == "LIST":
            try:
                for _ in range(lines // 10000):
                    conn.sendall(burst)
                data = socket.create_connection(port)
                data.sendall(b"-rw-r--r-- 1 u g 5 Jan  1 12:00 only.txt\r\n")
                data.close()
                conn.sendall(b"226 Done\r\n")
            except OSError:
                break
        elif verb == "QUIT":
            conn.sendall(b"221 Bye\r\n")
            break
        else:
            conn.sendall(b"502 No\r\n")
    conn.close()


def measure(tool, lines):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    server = threading.Thread(target=serve, args=(listener, lines), daemon=True)
    server.start()
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        os.dup2(null, 2)
        os.execv(tool, [tool, "-t", str(LIMIT_SECONDS), "-P", str(port), "127.0.0.1", "ls"])
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.monotonic() - start
    listener.close()
    code = os.waitstatus_to_exitcode(status)
    print(f"{tool}: {lines} replies: exit {code}, {elapsed:.1f} s, "
          f"max RSS {usage.ru_maxrss / 1024:.0f} MB", flush=True)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    lines = int(sys.argv[1])
    for tool in sys.argv[2:]:
        measure(tool, lines)


if __name__ == "__main__":
    main()
