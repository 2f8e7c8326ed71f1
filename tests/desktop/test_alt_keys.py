"""Alt keys reach what their underlined letter promises, with one press."""

import os
import re
import subprocess
import unittest

import desktop


class AltKeys(desktop.DesktopTestCase):
    def popups(self, app):
        """The program's visible windows other than the main one: an open menu."""
        out = app.server.tool("xdotool", "search", "--onlyvisible", "--pid",
                              str(app.process.pid), check=False)
        return [int(w) for w in out.split() if int(w) != app.window]

    def test_alt_m_opens_the_html_menu_and_alt_h_the_help_menu(self):
        app = self.start_morvane(self.write_file("page.html", b"<p>x</p>\n"))
        app.key("alt+m")
        html = self.wait_for(lambda: self.popups(app), "the HTML menu to open")
        html_x = app.server.geometry(html[0])[0]
        app.key("Escape", "Escape")
        self.wait_for(lambda: not self.popups(app), "the HTML menu to close")

        # Help is the last menu: its popup opens right of the HTML one, and A is its About.
        app.key("alt+h")
        help_menu = self.wait_for(lambda: self.popups(app), "the Help menu to open")
        self.assertGreater(app.server.geometry(help_menu[0])[0], html_x)
        app.key("a")
        app.wait_for_dialog("About Morvane")

    def test_alt_d_in_the_account_form_types_into_the_directory(self):
        done = subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", "2121",
                               "user", "secret", "/start"], env=self.environment(),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        self.assertEqual(done.returncode, 0, done.stdout)
        app = self.start_morvane()
        app.key("alt+i", "a")  # Settings > Accounts
        app.wait_for_dialog("Accounts")
        app.key("alt+d")
        app.type("/www/new")
        app.key("Return")  # OK
        self.wait_for(lambda: not app.dialogs("Accounts"), "the account form to close")
        with open(os.path.join(self.dir, "config", "user.reg"), "rb") as f:
            stored = f.read()
        self.assertRegex(stored, rb'"Directory"="/www/new"\r?\n')
        self.assertNotIn(b"/start", stored)


if __name__ == "__main__":
    unittest.main()
