"""SFTP: an account on a real sshd started here, its unknown host key accepted with "Always",
the home folder browsed, a file opened by double-click, typed into and saved back; the second
connection is not asked about the host again."""

import os
import shutil
import subprocess
import unittest

import desktop

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVER = os.path.join(ROOT, "scripts", "sftp-server.py")


@unittest.skipUnless(os.path.exists("/usr/sbin/sshd") or os.environ.get("CI"),
                     "needs Debian openssh-server")
class SftpEditing(desktop.DesktopTestCase):
    def start_server(self, files):
        """sshd on 127.0.0.1 whose SFTP starts in a folder holding files; the program's
        ~/.ssh holds the one key it accepts, and the account "DemoSFTP" points at it."""
        self.site = os.path.join(self.dir, "site")
        os.makedirs(self.site)
        for name, data in files.items():
            with open(os.path.join(self.site, name), "wb") as f:
                f.write(data)
        ssh = os.path.join(self.dir, "files", ".ssh")
        os.makedirs(ssh, mode=0o700)
        key = os.path.join(ssh, "id_ed25519")
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key], check=True)
        port_file = os.path.join(self.dir, "sshd-port")
        server = subprocess.Popen([SERVER, os.path.join(self.dir, "sshd"), self.site,
                                   key + ".pub", port_file],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (server.kill(), server.wait()))

        def port():
            try:
                with open(port_file) as f:
                    return f.read().strip()
            except FileNotFoundError:
                return None
        port = self.wait_for(port, "the SSH server's port")
        user = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
        # No password: the key in ~/.ssh logs in. No directory: the login's home folder.
        subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", port, user, "-", "",
                        "--sftp"], input=b"\n", env=self.environment(), check=True, timeout=30)
        self.known_hosts = os.path.join(ssh, "known_hosts")

    def server_file(self, name):
        with open(os.path.join(self.site, name), "rb") as f:
            return f.read()

    def test_always_remembers_the_host_and_a_file_is_edited_over_sftp(self):
        original = b"first line\r\nsecond line\r\n"
        self.start_server({"notes.txt": original})
        app = self.start_morvane()
        app.key("ctrl+o")  # browses the default (only) account
        question = app.wait_for_dialog("Unknown host")
        self.server.tool("xdotool", "windowfocus", "--sync", str(question))
        app.key("alt+a")  # "Always (add to known_hosts)"
        self.wait_for(lambda: os.path.exists(self.known_hosts), "known_hosts to be written")
        browser = app.wait_for_dialog("Open file")
        x, y = 70, 68  # the list's first row, below its header

        def first_row():
            return app.window_image(browser).crop(40, y - 5, 200, 10).pixels

        self.wait_for(lambda: any(b < 128 for b in first_row()), "the home folder's listing")
        self.server.tool("xdotool", "mousemove", "--window", str(browser), str(x), str(y),
                         "click", "--repeat", "2", "--delay", "80", "1")
        app.wait_for_trace("remote-opened notes.txt")
        self.wait_for(lambda: not self.server.visible_windows("Open file"), "the browser to close")
        app.focus()
        app.key("ctrl+End")
        app.type("typed over ssh")
        app.key("ctrl+s")
        self.wait_for(lambda: self.server_file("notes.txt") == original + b"typed over ssh",
                      "the server's file")
        self.assertEqual(os.listdir(self.site), ["notes.txt"], "no temporary file left behind")
        app.stop()

        # The second connection: the key is known, nothing is asked.
        second = self.start_morvane("MORVANE://DemoSFTP:" + self.site + "/notes.txt")
        second.wait_for_trace("remote-opened notes.txt")
        self.assertEqual(self.server.visible_windows("Unknown host"), [])
        with open(self.known_hosts) as f:
            self.assertEqual(len(f.read().splitlines()), 1)


if __name__ == "__main__":
    unittest.main()
