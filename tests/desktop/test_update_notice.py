"""The daily update notice against a news server on loopback: one question, once a day."""

import os
import subprocess
import sys
import time
import unittest

import desktop

NEWS_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "core", "app",
                           "news_server.py")


class UpdateNotice(desktop.DesktopTestCase):
    def setUp(self):
        super().setUp()
        site = os.path.join(self.dir, "site")
        os.mkdir(site)
        with open(os.path.join(site, "news.txt"), "w") as f:
            f.write("Morvane news\r\nVersion: 2.30 is out\r\nVersion: 2.25 was out\r\n")
        self.requests = os.path.join(self.dir, "requests.log")
        self.news = subprocess.Popen([sys.executable, NEWS_SERVER, self.requests, "files", site],
                                       stdout=subprocess.PIPE, start_new_session=True)
        self.addCleanup(self.news.stdout.close)
        self.addCleanup(desktop._kill, self.news)
        self.port = int(self.news.stdout.readline())

    def environment(self):
        env = super().environment()
        del env["MORVANE_NO_UPDATE_CHECK"]
        bin_dir = os.path.join(self.dir, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        opener = os.path.join(bin_dir, "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s"\n'
                    % os.path.join(self.dir, "opened.txt"))
        os.chmod(opener, 0o755)
        env["PATH"] = bin_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin")
        return env

    def request_count(self):
        try:
            with open(self.requests) as f:
                return f.read().count("\n--\n")
        except FileNotFoundError:
            return 0

    def test_asks_once_for_the_newest_version_and_not_again_that_day(self):
        settings = os.path.join(self.dir, "news.reg")
        with open(settings, "w") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Settings]\r\n"
                    "\"Update server\"=\"127.0.0.1\"\r\n"
                    "\"Update server port\"=\"%d\"\r\n"
                    "\"Update server path\"=\"/news.txt\"\r\n" % self.port)
        imported = subprocess.run([self.executable, "--import-settings", settings],
                                  env=self.environment(), timeout=30, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT)
        self.assertEqual(imported.returncode, 0, imported.stdout)

        app = self.start_morvane()
        app.wait_for_dialog()
        app.key("alt+y")
        self.wait_for(lambda: os.path.exists(os.path.join(self.dir, "opened.txt")),
                      "the home page handed to the desktop")
        self.wait_for(lambda: not app.dialogs(), "the question to close")
        self.assertEqual(self.request_count(), 1)
        with open(self.requests) as f:
            request = f.read()
        self.assertIn("Referer: Morvane\n", request)
        self.assertIn("Host: 127.0.0.1:%d\n" % self.port, request)
        app.focus()
        app.key("alt+f", "x")  # File > Exit
        self.assertEqual(app.wait_for_exit(), 0)

        # The same day: the server is not asked again, and nothing is asked.
        again = self.start_morvane()
        time.sleep(1.0)  # time for a check that should not happen to show itself
        self.assertEqual(again.dialogs(), [])
        self.assertEqual(self.request_count(), 1)


if __name__ == "__main__":
    unittest.main()
