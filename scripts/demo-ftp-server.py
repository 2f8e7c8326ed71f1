#!/usr/bin/python3
"""The demo's FTP server: serves one folder on 127.0.0.1 on a free port.

Usage: demo-ftp-server.py FOLDER USER PASSWORD_FILE PORT_FILE [TLS_PEM]

With TLS_PEM (the server's certificate and key) the server requires FTP over TLS.

The password is read from a file so that it never shows in the process list. Once listening, the
port is written to PORT_FILE. The server stops on SIGINT or SIGTERM, and by itself when the
process that started it goes away, so a killed demo leaves no server behind.
"""
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    folder, user, password_file, port_file = sys.argv[1:5]
    pem = sys.argv[5] if len(sys.argv) == 6 else None
    with open(password_file, encoding="ascii") as f:
        password = f.read().strip()

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, folder, perm="elradfmwMT")
    handler = FTPHandler
    if pem:
        handler = TLS_FTPHandler
        handler.certfile = pem
        handler.tls_control_required = True
        handler.tls_data_required = True
    handler.authorizer = authorizer
    handler.banner = "Morvane demo server ready."
    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.socket.getsockname()[1]

    temp = port_file + ".tmp"
    with open(temp, "w", encoding="ascii") as f:
        f.write(f"{port}\n")
    os.replace(temp, port_file)

    parent = os.getppid()

    def watch_parent():
        while os.getppid() == parent:
            time.sleep(0.5)
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
