"""Saving never loses text behind the user's back: a file another program changed is not
overwritten without a question whose Enter and Escape keep everything, a reload can be undone,
and typing while a save is on its way stays unsaved."""

import os
import secrets
import subprocess
import unittest

import desktop

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "throttled_ftp_server.py")


class ChangedOnDisk(desktop.DesktopTestCase):
    def question(self, app):
        """Waits for a message box over the main window and focuses it."""
        return app.wait_for_dialog()

    def answer(self, app, *keys):
        box = self.question(app)
        app.key(*keys)
        self.wait_for(lambda: box not in app.dialogs(), "the question to close")
        app.focus()

    def test_save_asks_before_overwriting_a_file_another_program_changed(self):
        path = self.write_file("notes.txt", b"one\n")
        app = self.start_morvane(path)
        app.key("ctrl+End")
        app.type("mine")
        with open(path, "ab") as f:
            f.write(b"theirs\n")
        theirs = b"one\ntheirs\n"
        # The watch offers a reload at once; Escape keeps the typing.
        self.answer(app, "Escape")
        # Saving asks all the same; Escape and Enter both keep the file and the typing.
        app.key("ctrl+s")
        self.answer(app, "Escape")
        app.key("ctrl+s")
        self.answer(app, "Return")
        self.assertEqual(self.read_file("notes.txt"), theirs)
        # Overwrite writes the typing (which is still there) over the other program's change.
        app.key("ctrl+s")
        self.answer(app, "alt+o")
        self.wait_for(lambda: self.read_file("notes.txt") == b"one\nmine", "the overwritten file")
        # After the document's own save, the next one asks nothing.
        app.type("!")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("notes.txt") == b"one\nmine!", "the second save")
        self.assertEqual(app.dialogs(), [])

    def test_reload_takes_the_other_programs_text_and_ctrl_z_brings_the_typing_back(self):
        path = self.write_file("page.txt", b"one\n")
        app = self.start_morvane(path)
        app.key("ctrl+End")
        app.type("mine")
        # Replaced by a new file of the same size and time: only the file's identity tells.
        stat = os.stat(path)
        other = self.write_file("new.txt", b"two\n")
        os.utime(other, ns=(stat.st_atime_ns, stat.st_mtime_ns))
        os.replace(other, path)
        self.answer(app, "Escape")  # the watch's offer
        app.key("ctrl+s")
        self.answer(app, "alt+r")
        # The document holds the new text: typing at its end and saving shows it.
        app.key("ctrl+End")
        app.type("+")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("page.txt") == b"two\n+", "the reloaded text saved")
        # Two steps back: the "+", then the reload itself.
        app.key("ctrl+z", "ctrl+z", "ctrl+s")
        self.wait_for(lambda: self.read_file("page.txt") == b"one\nmine", "the typing saved again")

    def test_an_unmodified_document_offers_to_reload_a_file_changed_on_disk(self):
        path = self.write_file("log.txt", b"first\n")
        app = self.start_morvane(path)
        with open(path, "ab") as f:
            f.write(b"second\n")
        self.answer(app, "Return")  # reload: nothing of the user's is at stake
        app.key("ctrl+End")
        app.type("third")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("log.txt") == b"first\nsecond\nthird", "the saved file")
        # A modified document is asked too; Escape keeps the typing.
        app.type("!")
        with open(path, "ab") as f:
            f.write(b"\nfourth")
        self.answer(app, "Escape")
        app.key("ctrl+s")
        self.answer(app, "alt+o")
        self.wait_for(lambda: self.read_file("log.txt") == b"first\nsecond\nthird!", "the saved file")


class RemoteSaving(desktop.DesktopTestCase):
    def start_server(self, files, upload_rate=10 ** 9):
        """A pyftpdlib server on 127.0.0.1 over a folder holding files, taking uploads at
        upload_rate bytes a second; the account "Demo" points at it."""
        site = os.path.join(self.dir, "site")
        os.makedirs(site)
        for name, data in files.items():
            with open(os.path.join(site, name), "wb") as f:
                f.write(data)
        password = secrets.token_hex(8)
        with open(os.path.join(self.dir, "password"), "w") as f:
            f.write(password)
        port_file = os.path.join(self.dir, "port")
        server = subprocess.Popen(["/usr/bin/python3", SERVER, site, "demo",
                                   os.path.join(self.dir, "password"), port_file,
                                   str(upload_rate)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (server.kill(), server.wait()))

        def port():
            try:
                with open(port_file) as f:
                    return f.read().strip()
            except FileNotFoundError:
                return None
        port = self.wait_for(port, "the FTP server's port")
        subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", port, "demo",
                        "-", "/"], input=password.encode(), env=self.environment(), check=True,
                       timeout=30)
        self.site = site

    def site_file(self, name):
        with open(os.path.join(self.site, name), "rb") as f:
            return f.read()

    def answer(self, app, *keys):
        box = app.wait_for_dialog()
        app.key(*keys)
        self.wait_for(lambda: box not in app.dialogs(), "the question to close")
        app.focus()

    def test_enter_on_the_changed_on_server_question_keeps_the_edits(self):
        self.start_server({"page.html": b"<p>one</p>\n"})
        app = self.start_morvane("MORVANE://Demo:/page.html")
        app.wait_for_trace("remote-opened page.html")
        app.focus()
        app.key("ctrl+End")
        app.type("mine")
        with open(os.path.join(self.site, "page.html"), "wb") as f:
            f.write(b"<p>someone else's</p>\n")
        app.key("ctrl+s")
        self.answer(app, "Return")
        self.assertEqual(self.site_file("page.html"), b"<p>someone else's</p>\n")
        # Reload takes the server's text; Ctrl+Z brings the edits back, and they save.
        app.key("ctrl+s")
        self.answer(app, "alt+r")
        self.wait_for(lambda: app.trace().count("remote-opened page.html") == 2, "the reload")
        app.key("ctrl+z", "ctrl+s")
        self.wait_for(lambda: self.site_file("page.html") == b"<p>one</p>\nmine",
                      "the edits on the server")

    def test_typing_during_a_slow_upload_stays_unsaved_and_closing_asks(self):
        original = b"".join(b"line %06d\n" % n for n in range(30000))  # 360 KB
        self.start_server({"big.txt": original}, upload_rate=64 * 1024)
        app = self.start_morvane("MORVANE://Demo:/big.txt")
        app.wait_for_trace("remote-opened big.txt", timeout=60)
        app.focus()
        app.key("ctrl+End")
        app.type("first")
        app.key("ctrl+s")
        app.type(" second")
        self.assertNotIn("remote-saved big.txt", app.trace(), "the upload outlasts the typing")
        self.wait_for(lambda: "remote-saved big.txt" in app.trace(), "the upload", timeout=60)
        self.assertEqual(self.site_file("big.txt"), original + b"first")
        # The later typing is not on the server: closing asks, and Yes saves it.
        app.key("ctrl+F4")
        self.answer(app, "alt+y")
        self.wait_for(lambda: self.site_file("big.txt") == original + b"first second",
                      "the second upload", timeout=60)


if __name__ == "__main__":
    unittest.main()
