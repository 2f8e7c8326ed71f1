"""Takes the user manual's pictures with the real program on a private X server.

    MORVANE_EXECUTABLE=$PWD/build/morvane python3 tests/desktop/manual_screenshots.py [OUT_DIR]

OUT_DIR defaults to docs/manual/images. The pictures are committed (a few tens of kilobytes
each, in 128 colours), so building or packaging needs no X server; run this again when the
windows change.
"""

import os
import secrets
import shutil
import subprocess
import sys
import unittest

import desktop

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.path.join(ROOT, "docs", "manual", "images")


def save(image_path, out_name, width):
    """A copy of the picture at most width pixels wide, in 128 colours."""
    subprocess.run(["convert", image_path, "-resize", "%dx>" % width, "-colors", "128",
                    "-strip", "PNG8:" + os.path.join(OUT, out_name)], check=True, timeout=60)


class ManualScreenshots(desktop.DesktopTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server.stop()
        cls.server = desktop.XServer("1024x720")  # the window opens at three quarters of it

    def start_demo_server(self):
        site = os.path.join(self.dir, "site")
        shutil.copytree(os.path.join(ROOT, "resources", "demo", "site"), site)
        password = secrets.token_hex(8)
        with open(os.path.join(self.dir, "password"), "w") as f:
            f.write(password)
        port_file = os.path.join(self.dir, "port")
        server = subprocess.Popen(["/usr/bin/python3",
                                   os.path.join(ROOT, "scripts", "demo-ftp-server.py"), site,
                                   "demo", os.path.join(self.dir, "password"), port_file],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (server.kill(), server.wait()))

        def port():
            try:
                with open(port_file) as f:
                    return f.read().strip()
            except FileNotFoundError:
                return None
        port = self.wait_for(port, "the FTP server's port")
        subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", port, "demo", "-",
                        "/"], input=password.encode(), env=self.environment(), check=True,
                       timeout=30)

    def test_take_the_pictures(self):
        os.makedirs(OUT, exist_ok=True)
        self.start_demo_server()
        app = self.start_morvane("--browse", "Demo")
        browser = app.wait_for_dialog("Open file")
        # The listing is in once the window stops changing after its first rows show.
        app.steady_image(lambda: app.window_image(browser))
        shot = os.path.join(self.dir, "shot.png")
        self.server.screenshot(shot, app.geometry(browser))
        save(shot, "demo-browser.png", 560)

        app.type("index.html")
        app.key("Return")
        app.wait_for_trace("remote-opened index.html")
        app.focus()
        app.steady_image()
        self.server.screenshot(shot, app.geometry())
        save(shot, "editor.png", 720)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        OUT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
