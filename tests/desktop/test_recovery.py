"""Unsaved edits survive a killed program: typed text is kept in a recovery file, offered at the
next start, and saved where it belongs, for a local file and for one on an FTP server that was
out of reach while the program died."""

import glob
import os
import secrets
import signal
import socket
import subprocess
import unittest

import desktop

RECOVERY_TITLE = "Recover Unsaved Changes"

SERVER_CODE = r"""
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
folder, password, port = sys.argv[1:4]
auth = DummyAuthorizer()
auth.add_user("demo", password, folder, perm="elradfmwMT")
handler = FTPHandler
handler.authorizer = auth
handler.passive_ports = None
server = FTPServer(("127.0.0.1", int(port)), handler)
print("ready", flush=True)
server.serve_forever()
"""


class Recovery(desktop.DesktopTestCase):
    def recovery_files(self):
        return glob.glob(os.path.join(self.dir, "state", "morvane", "recovery", "*.recovery"))

    def wait_for_recovery_file(self, text):
        def holds():
            for name in self.recovery_files():
                with open(name, "rb") as f:
                    if f.read().endswith(text):
                        return name
            return None
        return self.wait_for(holds, "a recovery file holding the typed text")

    def kill(self, app):
        os.killpg(app.process.pid, signal.SIGKILL)
        app.process.wait(timeout=10)

    def recover_first(self, app):
        app.wait_for_dialog(RECOVERY_TITLE)
        app.key("alt+r")
        app.wait_for_trace("recovered")
        app.focus()

    def test_a_killed_program_offers_the_typed_text_and_save_writes_it_to_the_file(self):
        path = self.write_file("notes.txt", b"first line\nsecond line\n")
        app = self.start_morvane(path)
        app.key("ctrl+End")
        app.type("typed before the crash")
        self.wait_for_recovery_file(b"second line\ntyped before the crash")
        self.kill(app)
        self.assertEqual(self.read_file("notes.txt"), b"first line\nsecond line\n")

        again = self.start_morvane()
        self.recover_first(again)
        again.key("ctrl+s")
        self.wait_for(lambda: self.read_file("notes.txt") ==
                      b"first line\nsecond line\ntyped before the crash", "the saved file")
        self.wait_for(lambda: not self.recovery_files(), "the recovery file to go after saving")

    def start_ftp(self, site, password, port):
        server = subprocess.Popen(["/usr/bin/python3", "-c", SERVER_CODE, site, password, str(port)],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (server.kill(), server.wait(), server.stdout.close()))
        line = server.stdout.readline()
        if line.strip() != b"ready":
            raise desktop.DesktopError("the FTP server did not start")
        return server

    def start_site(self):
        """An FTP server on a free loopback port serving a folder with page.html, and the Demo
        account for it: (folder, password, port, server)."""
        site = os.path.join(self.dir, "site")
        os.mkdir(site)
        with open(os.path.join(site, "page.html"), "wb") as f:
            f.write(b"<p>old</p>\n")
        password = secrets.token_hex(8)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        server = self.start_ftp(site, password, port)
        subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", str(port), "demo",
                        "-", "/"], input=password.encode(), env=self.environment(), check=True,
                       timeout=30)
        return site, password, port, server

    def test_a_remote_document_is_recovered_and_saved_to_the_server_once_it_is_back(self):
        site, password, port, server = self.start_site()
        app = self.start_morvane("MORVANE://Demo:/page.html")
        app.wait_for_trace("remote-opened page.html")
        app.focus()
        app.key("ctrl+End")
        app.type("<p>new</p>")
        self.wait_for_recovery_file(b"<p>old</p>\n<p>new</p>")
        server.kill()
        server.wait()
        self.kill(app)

        again = self.start_morvane()
        again.wait_for_trace("recovery-original Not checked")
        self.recover_first(again)
        self.start_ftp(site, password, port)
        again.key("ctrl+s")

        def on_server():
            with open(os.path.join(site, "page.html"), "rb") as f:
                return f.read() == b"<p>old</p>\n<p>new</p>"
        self.wait_for(on_server, "the server's file")
        self.wait_for(lambda: not self.recovery_files(), "the recovery file to go after saving")

    def test_show_differences_fetches_the_servers_copy_of_a_remote_document(self):
        site, password, port, _ = self.start_site()
        app = self.start_morvane("MORVANE://Demo:/page.html")
        app.wait_for_trace("remote-opened page.html")
        app.focus()
        app.key("ctrl+End")
        app.type("<p>typed</p>")
        self.wait_for_recovery_file(b"<p>old</p>\n<p>typed</p>")
        self.kill(app)
        # Someone changes the server's file meanwhile: the view shows both sides.
        with open(os.path.join(site, "page.html"), "wb") as f:
            f.write(b"<p>changed on the server</p>\n")

        again = self.start_morvane()
        again.wait_for_dialog(RECOVERY_TITLE)
        again.wait_for_trace("recovery-original Changed on the server since")
        again.key("alt+f")
        again.wait_for_dialog("Differences: page.html")
        listing = [e for e in again.trace() if e.startswith("differences ")]
        self.assertTrue(listing)
        self.assertIn("-<p>changed on the server</p>", listing[-1])
        self.assertIn("+<p>typed</p>", listing[-1])
        again.key("Escape")
        self.wait_for(lambda: not again.dialogs("Differences: page.html"),
                      "the differences to close")
        with open(os.path.join(site, "page.html"), "rb") as f:
            self.assertEqual(f.read(), b"<p>changed on the server</p>\n")
        self.assertEqual(len(self.recovery_files()), 1)

        # Recovered and saved: the change on the server is still seen, and Cancel keeps it.
        again.wait_for_dialog(RECOVERY_TITLE)
        again.key("alt+r")
        again.wait_for_trace("recovered")
        again.focus()
        again.key("ctrl+s")
        again.wait_for_dialog()
        again.key("Escape")
        self.wait_for(lambda: again.dialogs() == [], "the question to close")
        with open(os.path.join(site, "page.html"), "rb") as f:
            self.assertEqual(f.read(), b"<p>changed on the server</p>\n")

    def test_a_normal_exit_reopens_its_documents_and_lists_a_missing_one(self):
        kept = self.write_file("kept.txt", b"one\ntwo\nthree\n")
        gone = self.write_file("gone.txt", b"soon deleted\n")
        app = self.start_morvane(kept, gone)
        app.key("alt+f", "x")  # File > Exit
        self.assertEqual(app.wait_for_exit(), 0)
        os.remove(gone)

        again = self.start_morvane()
        again.wait_for_trace("session-restored")
        trace = again.trace()
        self.assertIn("session-reopened " + kept, trace)
        self.assertIn("session-missing " + gone, trace)
        self.assertEqual(again.dialogs(), [], "no message box for the missing file")
        # The reopened document is the real file: typing and saving writes it.
        again.focus()
        again.key("ctrl+Home")
        again.type("zero ")
        again.key("ctrl+s")
        self.wait_for(lambda: self.read_file("kept.txt") == b"zero one\ntwo\nthree\n",
                      "the saved file")

    def test_compare_on_the_changed_on_server_question_shows_both_lines_and_cancel_keeps_both(self):
        site = os.path.join(self.dir, "site")
        os.mkdir(site)
        page = os.path.join(site, "page.html")
        with open(page, "wb") as f:
            f.write(b"<p>one</p>\n")
        password = secrets.token_hex(8)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        self.start_ftp(site, password, port)
        subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", str(port), "demo",
                        "-", "/"], input=password.encode(), env=self.environment(), check=True,
                       timeout=30)
        app = self.start_morvane("MORVANE://Demo:/page.html")
        app.wait_for_trace("remote-opened page.html")
        app.focus()
        app.key("ctrl+End")
        app.type("typed by me")
        with open(page, "wb") as f:
            f.write(b"<p>one</p>\n<p>written on the server</p>\n")
        app.key("ctrl+s")
        app.wait_for_dialog()
        app.key("alt+p")
        app.wait_for_dialog("Differences: page.html")
        listing = [e for e in app.trace() if e.startswith("differences ")]
        self.assertEqual(len(listing), 1)
        self.assertIn("-<p>written on the server</p>", listing[0])
        self.assertIn("+typed by me", listing[0])
        app.key("Escape")
        # The same question again; Cancel keeps the server's file and the typed text.
        self.wait_for(lambda: not app.dialogs("Differences: page.html"),
                      "the differences to close")
        app.wait_for_dialog()
        app.key("Escape")
        self.wait_for(lambda: app.dialogs() == [], "the question to close")
        with open(page, "rb") as f:
            self.assertEqual(f.read(), b"<p>one</p>\n<p>written on the server</p>\n")
        app.focus()
        app.key("ctrl+s")
        app.wait_for_dialog()
        app.key("alt+o")

        def saved():
            with open(page, "rb") as f:
                return f.read() == b"<p>one</p>\ntyped by me"
        self.wait_for(saved, "the typed text on the server after Overwrite")


if __name__ == "__main__":
    unittest.main()
