"""Help > Help Topics hands the user manual to the desktop, and the manual's first page reads."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import desktop

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
MANUAL = os.path.join(ROOT, "docs", "manual", "index.html")


class HelpTopics(desktop.DesktopTestCase):
    def setUp(self):
        super().setUp()
        # Qt opens a local file with the first xdg-open on PATH: this one notes the address.
        self.bin = os.path.join(self.dir, "bin")
        os.mkdir(self.bin)
        self.opened = os.path.join(self.dir, "opened.txt")
        opener = os.path.join(self.bin, "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s"\n' % self.opened)
        os.chmod(opener, 0o755)
        self.resources = None

    def environment(self):
        env = super().environment()
        env["PATH"] = self.bin + os.pathsep + os.environ.get("PATH", "")
        if self.resources:
            env["MORVANE_RESOURCES"] = self.resources
        return env

    def ask_for_help(self):
        app = self.start_morvane()
        app.key("alt+h")
        app.key("h")  # &Help Topics

        def address():
            try:
                with open(self.opened) as f:
                    lines = f.read().split()
            except FileNotFoundError:
                return None
            return lines[-1] if lines else None
        url = self.wait_for(address, "the address handed to the desktop")
        self.assertTrue(url.startswith("file:///"), url)
        path = urllib.parse.unquote(urllib.parse.urlsplit(url).path)
        self.assertTrue(os.path.isfile(path), path)
        return path

    def test_help_topics_opens_the_manual_of_the_source_tree(self):
        path = self.ask_for_help()
        self.assertTrue(os.path.samefile(path, MANUAL), path)

    def test_an_installed_manual_is_found_beside_the_resources_even_in_a_folder_with_blanks(self):
        # The installed layout: manual/ inside the resources folder.
        self.resources = os.path.join(self.dir, "share dir", "morvane")
        os.makedirs(self.resources)
        for name in os.listdir(os.path.join(ROOT, "resources")):
            os.symlink(os.path.join(ROOT, "resources", name), os.path.join(self.resources, name))
        shutil.copytree(os.path.dirname(MANUAL), os.path.join(self.resources, "manual"))
        path = self.ask_for_help()
        self.assertEqual(path, os.path.join(self.resources, "manual", "index.html"))


class ManualInABrowser(unittest.TestCase):
    def test_the_first_page_renders_readable_text(self):
        with open(MANUAL, encoding="utf-8") as f:
            page = f.read()
        pictures = re.findall(r'<img src="([^"]+)"', page)
        self.assertGreaterEqual(len(pictures), 2)
        for picture in pictures:
            self.assertTrue(os.path.getsize(os.path.join(os.path.dirname(MANUAL), picture)) > 0,
                            picture)
        browser = shutil.which("chromium") or shutil.which("chromium-browser")
        if not browser or not shutil.which("convert"):
            raise desktop.DesktopError("chromium and ImageMagick are needed (scripts/deps.sh)")
        with tempfile.TemporaryDirectory(prefix="morvane-manual-") as folder:
            shot = os.path.join(folder, "manual.png")
            subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu",
                            "--hide-scrollbars", "--user-data-dir=" + os.path.join(folder, "p"),
                            "--window-size=1000,1400", "--screenshot=" + shot,
                            "file://" + urllib.parse.quote(MANUAL)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                           check=True)
            ppm = subprocess.run(["convert", shot, "-depth", "8", "ppm:-"], check=True,
                                 stdout=subprocess.PIPE, timeout=30).stdout
            keep = os.environ.get("MORVANE_MANUAL_SCREENSHOT")
            if keep:
                shutil.copyfile(shot, keep)
        image = desktop.Image(ppm)
        self.assertEqual((image.width, image.height), (1000, 1400))
        # Text: many rows with dark ink, in lines separated by white, on a white page; and the
        # heading's blue and the pictures' colours beside the black.
        inked = [y for y in range(image.height)
                 if any(sum(image.pixel(x, y)) < 200 for x in range(0, image.width, 2))]
        self.assertGreater(len(inked), 300, "rows holding dark text")
        lines = sum(1 for a, b in zip(inked, inked[1:]) if b - a > 3)
        self.assertGreater(lines, 25, "separate lines of text")
        colours = image.colours()
        white = colours.get((255, 255, 255), 0)
        self.assertGreater(white, image.width * image.height // 2, "a light page")
        self.assertGreater(len(colours), 100, "more than a few flat colours")


if __name__ == "__main__":
    unittest.main()
