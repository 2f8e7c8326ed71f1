"""The HTML menu's keys and the HTML on-line help weblink, by keyboard on the real program."""

import os
import subprocess
import unittest

import desktop


class HtmlTools(desktop.DesktopTestCase):
    def environment(self):
        # A stand-in for the desktop's URL opener, found first on the PATH: it writes the
        # address it is asked to open into a file instead of starting a browser.
        env = super().environment()
        bin_dir = os.path.join(self.dir, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        opener = os.path.join(bin_dir, "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s"\n' % self.opened_file())
        os.chmod(opener, 0o755)
        env["PATH"] = bin_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin")
        env.pop("BROWSER", None)
        env.pop("DEFAULT_BROWSER", None)
        return env

    def opened_file(self):
        return os.path.join(self.dir, "opened.txt")

    def opened(self):
        try:
            with open(self.opened_file()) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def test_ctrl_b_wraps_the_selection_in_bold_tags(self):
        original = b"<p>say word now</p>\n"
        path = self.write_file("page.html", original)
        app = self.start_morvane(path)
        app.key("Home", *["Right"] * 7, *["shift+Right"] * 4)
        app.key("ctrl+b")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("page.html") != original, "the saved file")
        self.assertEqual(self.read_file("page.html"), b"<p>say <B>word</B> now</p>\n")

    def test_f1_on_a_tag_name_opens_its_reference_page(self):
        # The default weblinks, as a user installs them.
        installed = subprocess.run([self.executable, "/InstWeblinks"], env=self.environment(),
                                   cwd=os.path.join(self.dir, "files"), timeout=30,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(installed.returncode, 0, installed.stdout)
        path = self.write_file("table.html", b"<html>\n<TABLE border=1>\n</TABLE>\n")
        app = self.start_morvane(path)
        app.key("ctrl+Home", "Down", "Right", "Right", "Right")  # inside TABLE
        app.key("F1")
        self.wait_for(self.opened, "the address handed to the desktop")
        self.assertEqual(self.opened(),
                         ["https://developer.mozilla.org/docs/Web/HTML/Element/table"])


if __name__ == "__main__":
    unittest.main()
