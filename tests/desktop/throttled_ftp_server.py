#!/usr/bin/python3
"""A pyftpdlib server on 127.0.0.1 that takes uploads slowly, so that a journey can act while a
save is on its way.

Usage: throttled_ftp_server.py FOLDER USER PASSWORD_FILE PORT_FILE UPLOAD_BYTES_PER_SECOND

Once listening, the port is written to PORT_FILE. The server stops when the process that started
it goes away.
"""
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    folder, user, password_file, port_file, rate = sys.argv[1:]
    with open(password_file, encoding="ascii") as f:
        password = f.read().strip()

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, folder, perm="elradfmwMT")
    dtp = ThrottledDTPHandler
    dtp.read_limit = int(rate)  # what the server reads: the client's uploads
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = dtp
    server = FTPServer(("127.0.0.1", 0), handler)

    temp = port_file + ".tmp"
    with open(temp, "w", encoding="ascii") as f:
        f.write("%d\n" % server.socket.getsockname()[1])
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
