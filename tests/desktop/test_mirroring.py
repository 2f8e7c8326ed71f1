"""Mirroring as a user reaches it: the account manager's Mirroring page copies an account's tree
from a local FTP server into a folder that does not exist yet."""

import os
import secrets
import subprocess
import unittest

import desktop

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVER = os.path.join(ROOT, "scripts", "demo-ftp-server.py")

# Two levels of folders, an empty one, a name with blanks, every byte value, an empty file.
TREE = {
    "index.html": b"<p>top</p>\r\n",
    "docs and notes/all bytes.bin": bytes(range(256)) * 3 + b"\r\n\r\r\n\x00",
    "docs and notes/empty.txt": b"",
    "docs and notes/deeper/last line.txt": b"no newline at the end",
    "css/style.css": b"a { color: red }\n",
}
EMPTY_FOLDERS = ["css/unused"]

# In the account manager: the Mirroring page's tab and its Mirror now button.
MIRRORING_TAB = (418, 24)
MIRROR_NOW = (290, 110)


def tree(folder):
    """The folders and the files with their bytes below folder, by relative path."""
    found = {}
    for top, dirs, files in os.walk(folder):
        for name in dirs:
            found[os.path.relpath(os.path.join(top, name), folder) + "/"] = None
        for name in files:
            with open(os.path.join(top, name), "rb") as f:
                found[os.path.relpath(os.path.join(top, name), folder)] = f.read()
    return found


class Mirroring(desktop.DesktopTestCase):
    def start_server(self):
        """A pyftpdlib server on 127.0.0.1 over TREE; the account "Demo" points at its root."""
        site = os.path.join(self.dir, "site")
        for name, data in TREE.items():
            path = os.path.join(site, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        for name in EMPTY_FOLDERS:
            os.makedirs(os.path.join(site, name))
        password = secrets.token_hex(8)
        with open(os.path.join(self.dir, "password"), "w") as f:
            f.write(password)
        port_file = os.path.join(self.dir, "port")
        server = subprocess.Popen(["/usr/bin/python3", SERVER, site, "demo",
                                   os.path.join(self.dir, "password"), port_file],
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
        return site

    def test_mirror_now_copies_the_whole_tree_into_a_new_folder(self):
        site = self.start_server()
        target = os.path.join(self.dir, "files", "mirror of demo", "site")
        app = self.start_morvane()
        app.key("alt+i", "a")  # Settings, Accounts...
        accounts = app.wait_for_dialog("Accounts")
        # The only account, "Demo", is the current one. (A click on it would start renaming it.)
        app.click(*MIRRORING_TAB, window=accounts)
        app.key("alt+m")  # Enable mirroring
        app.key("alt+f")  # the mirror folder
        app.type(target)
        app.click(*MIRROR_NOW, window=accounts)

        # The folder is missing: the program asks before it creates it.
        question = app.wait_for_dialog(desktop.MAIN_TITLE)
        app.key("y")
        self.wait_for(lambda: question not in app.dialogs(), "the question to close")
        self.wait_for(lambda: os.path.isdir(target), "the mirror folder")

        def finished():
            boxes = [w for w in app.dialogs() if w != accounts]
            return boxes[0] if boxes else None
        box = self.wait_for(finished, "the finished message", timeout=60)
        app.focus(box)
        self.server.screenshot(os.path.join(self.dir, "finished.png"))
        app.key("Return")
        self.wait_for(lambda: not self.server.visible_windows("Mirroring account"),
                      "the mirroring window to close")
        self.assertEqual(tree(target), tree(site))


if __name__ == "__main__":
    unittest.main()
