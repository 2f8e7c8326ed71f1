#!/usr/bin/env python3
"""An FTP server on 127.0.0.1 that requires TLS on the control and data connections.

Usage: tls_ftpd.py PORT ROOT USER PASSWORD PEM [--throttle BYTES_PER_SECOND]
PEM holds the server's certificate and key.
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, root, user, password, pem = sys.argv[1:6]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = TLS_FTPHandler
    handler.certfile = pem
    handler.authorizer = authorizer
    handler.tls_control_required = True
    handler.tls_data_required = True
    server = FTPServer(("127.0.0.1", int(port)), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
