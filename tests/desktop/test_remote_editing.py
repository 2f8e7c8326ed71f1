"""The remote road: a file on a local FTP server opened from a reference and from the browser,
edited and saved back; and the demo command."""

import os
import secrets
import subprocess
import unittest

import desktop

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVER = os.path.join(ROOT, "scripts", "demo-ftp-server.py")


class RemoteEditing(desktop.DesktopTestCase):
    def start_server(self, files):
        """A pyftpdlib server on 127.0.0.1 over a folder holding files; the account "Demo"
        points at it."""
        site = os.path.join(self.dir, "site")
        for name, data in files.items():
            path = os.path.join(site, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
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
        self.site = site

    def server_file(self, name):
        with open(os.path.join(self.site, name), "rb") as f:
            return f.read()

    def test_a_reference_on_the_command_line_opens_the_file_and_ctrl_s_saves_it_back(self):
        original = b"<p>\r\nhello\r\n</p>\r\n"
        self.start_server({"www/index.html": original})
        app = self.start_morvane("MORVANE://Demo:/www/index.html")
        app.wait_for_trace("remote-opened index.html")
        app.focus()
        app.key("ctrl+End")
        app.type("<!-- saved -->")
        app.key("ctrl+s")
        # The server's file gets exactly the new bytes, with its own CR LF line ends kept.
        self.wait_for(lambda: self.server_file("www/index.html") == original + b"<!-- saved -->",
                      "the server's file")
        self.assertEqual(sorted(os.listdir(os.path.join(self.site, "www"))), ["index.html"],
                         "no temporary file left behind")

    def test_a_large_file_arrives_whole_and_saves_back_exactly(self):
        # Several megabytes arrive in many pieces, which the document loads as they come.
        original = b"".join(b"line %07d caf\xc3\xa9\n" % n for n in range(250000))
        self.start_server({"big.txt": original})
        app = self.start_morvane("MORVANE://Demo:/big.txt")
        app.wait_for_trace("remote-opened big.txt", timeout=60)
        self.server.screenshot(os.path.join(self.dir, "large-remote.png"))
        app.focus()
        app.key("ctrl+End")
        app.type("end")
        app.key("ctrl+Home")
        app.type("top ")
        app.key("ctrl+s")
        self.wait_for(lambda: self.server_file("big.txt") == b"top " + original + b"end",
                      "the server's file", timeout=60)

    def test_the_browser_enters_a_folder_and_opens_a_file_by_double_click(self):
        original = b"<h1>page</h1>\n"
        self.start_server({"docs/page.html": original})
        app = self.start_morvane()
        app.key("ctrl+o")  # the Open command browses the default account, "Demo"
        browser = app.wait_for_dialog("Open file")
        x, y = 70, 68  # the list's first row, below its header, in the browser window

        def first_row():
            return app.window_image(browser).crop(40, y - 5, 200, 10).pixels

        def double_click():
            self.server.tool("xdotool", "mousemove", "--window", str(browser), str(x), str(y),
                             "click", "--repeat", "2", "--delay", "80", "1")

        self.wait_for(lambda: any(b < 128 for b in first_row()), "the folder listing")
        folder = first_row()
        double_click()  # "docs" is entered: its listing shows "page.html" in the first row
        self.wait_for(lambda: first_row() != folder and any(b < 128 for b in first_row()),
                      "the folder's listing")
        double_click()
        app.wait_for_trace("remote-opened page.html")
        self.wait_for(lambda: not self.server.visible_windows("Open file"), "the browser to close")
        # The document opened is the server's file: an edit saved from it reaches that file.
        app.focus()
        app.key("ctrl+End")
        app.type("<p>added</p>")
        app.key("ctrl+s")
        self.wait_for(lambda: self.server_file("docs/page.html") == original + b"<p>added</p>",
                      "the server's file")
        self.assertEqual(os.listdir(os.path.join(self.site, "docs")), ["page.html"],
                         "no temporary file left behind")

    def test_a_path_typed_into_the_open_dialog_opens_that_file(self):
        self.start_server({"css/style.css": b"a { color: red }\n", "index.html": b"<p>\n"})
        app = self.start_morvane()
        app.key("ctrl+o")
        app.wait_for_dialog("Open file")
        # The name box has the focus: the path goes there, and Enter opens the file in its folder.
        app.type("css/style.css")
        app.key("Return")
        app.wait_for_trace("remote-opened style.css")
        self.wait_for(lambda: not self.server.visible_windows("Open file"), "the browser to close")
        app.focus()
        app.key("ctrl+End")
        app.type("p {}")
        app.key("ctrl+s")
        self.wait_for(lambda: self.server_file("css/style.css") == b"a { color: red }\np {}",
                      "the server's file")

    def test_the_demo_shows_the_browser_and_leaves_no_server_behind(self):
        env = self.environment()
        env["TMPDIR"] = self.dir
        demo = subprocess.Popen([os.path.join(ROOT, "scripts", "demo.sh"),
                                 os.path.dirname(self.executable)], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: demo.poll() is None and (demo.kill(), demo.wait()))
        self.wait_for(lambda: self.server.visible_windows("Open file"),
                      "the browser on the demo account", timeout=30)
        browser = self.server.visible_windows("Open file")[0]
        self.server.tool("xdotool", "windowfocus", "--sync", str(browser))
        self.server.tool("xdotool", "key", "Escape")
        self.wait_for(lambda: not self.server.visible_windows("Open file"), "the browser to close")
        main = self.server.main_windows()[0]
        self.server.tool("xdotool", "windowfocus", "--sync", str(main))
        self.server.tool("xdotool", "key", "--delay", "100", "alt+f", "x")
        code = demo.wait(timeout=30)
        errors = demo.stderr.read().decode(errors="replace")
        demo.stderr.close()
        self.assertEqual(code, 0, errors)
        left = subprocess.run(["pgrep", "-f", self.dir], capture_output=True, text=True).stdout
        self.assertEqual(left.split(), [], "no process of the demo is left")
        self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("morvane-demo")], [],
                         "the scratch copy is removed")


if __name__ == "__main__":
    unittest.main()
