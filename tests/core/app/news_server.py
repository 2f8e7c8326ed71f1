#!/usr/bin/env python3
"""A news server on 127.0.0.1 for the update check's tests. Prints its port, then serves until
killed. Every request is appended to LOG (request line and headers, then a line "--").

    news_server.py LOG files DIR   http.server over DIR
    news_server.py LOG raw FILE    answers every request with FILE's bytes, then closes
    news_server.py LOG big         a 200 reply of 10 MB
    news_server.py LOG endless     a 200 reply that never ends
    news_server.py LOG silent      reads the request and never answers
"""
import http.server
import socket
import socketserver
import sys
import threading
import time

log_path, mode = sys.argv[1], sys.argv[2]
log_lock = threading.Lock()


def log(request_text):
    with log_lock, open(log_path, "a", encoding="latin-1") as f:
        f.write(request_text.rstrip("\r\n") + "\n--\n")


class Files(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=sys.argv[3], **kwargs)

    def parse_request(self):
        ok = super().parse_request()
        log(self.raw_requestline.decode("latin-1") + str(self.headers))
        return ok

    def log_message(self, *args):
        pass


class Raw(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        data = b""
        while b"\r\n\r\n" not in data and len(data) < 65536:
            chunk = conn.recv(4096)
            if not chunk:
                break
            data += chunk
        log(data.decode("latin-1"))
        try:
            if mode == "raw":
                with open(sys.argv[3], "rb") as f:
                    conn.sendall(f.read())
            elif mode == "big":
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nVersion: 9.9 big\n")
                line = b"x" * 1023 + b"\n"
                for _ in range(10 * 1024):
                    conn.sendall(line)
            elif mode == "endless":
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
                while True:
                    conn.sendall(b"more news\n" * 100)
                    time.sleep(0.001)
            elif mode == "silent":
                while conn.recv(4096):
                    pass
        except OSError:
            pass  # the client went away, as it should


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", 0), Files if mode == "files" else Raw)
print(server.server_address[1], flush=True)
server.serve_forever()
