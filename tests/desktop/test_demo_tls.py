"""The demo's FTP-over-TLS account: its certificate is made by the demo, so the first connection
asks about it; once the user accepts, a file opens, and its edit is saved on the server."""

import glob
import os
import subprocess
import unittest

import desktop

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


class DemoTls(desktop.DesktopTestCase):
    def test_accepting_the_certificate_opens_a_file_that_saves_back_over_tls(self):
        env = self.environment()
        env["TMPDIR"] = self.dir
        demo = subprocess.Popen([os.path.join(ROOT, "scripts", "demo.sh"),
                                 os.path.dirname(self.executable)], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

        def stop_demo():
            if demo.poll() is None:
                demo.terminate()
                try:
                    demo.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    demo.kill()
                    demo.wait()
            demo.stderr.close()
        self.addCleanup(stop_demo)
        self.wait_for(lambda: self.server.visible_windows("Open file"),
                      "the browser on the demo account", timeout=30)
        sites = glob.glob(os.path.join(self.dir, "morvane-demo.*", "site"))
        self.assertEqual(len(sites), 1, "the demo's scratch copy")
        scratch = os.path.dirname(sites[0])
        self.assertTrue(os.path.exists(os.path.join(scratch, "tlsport")),
                        "the demo's TLS server is up")
        page = os.path.join(sites[0], "index.html")
        fingerprint = subprocess.run(
            ["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
             os.path.join(scratch, "tls.crt")], capture_output=True, text=True, check=True,
            timeout=10).stdout.split("=", 1)[1].strip().replace(":", "").upper()
        with open(page, "rb") as f:
            original = f.read()

        # The account box at the browser's top lists "Demo", "DemoTLS", "Quick-connect": the
        # one below the current account is the TLS one.
        browser = self.server.visible_windows("Open file")[0]
        self.server.tool("xdotool", "windowfocus", "--sync", str(browser))
        self.server.tool("xdotool", "mousemove", "--window", str(browser), "120", "20",
                         "click", "1")
        self.server.tool("xdotool", "key", "--delay", "150", "Down", "Return")

        question = self.wait_for(
            lambda: (self.server.visible_windows("Certificate not trusted") or [None])[0],
            "the certificate question", timeout=30)
        self.server.tool("xdotool", "windowfocus", "--sync", str(question))
        self.server.tool("xdotool", "key", "alt+t")  # Always trust this certificate
        self.wait_for(lambda: not self.server.visible_windows("Certificate not trusted"),
                      "the question to close")

        # The listing of the TLS account arrives; the file is named in the name box.
        self.server.tool("xdotool", "windowfocus", "--sync", str(browser))
        self.server.tool("xdotool", "key", "--delay", "50", "alt+n")
        self.server.tool("xdotool", "type", "--delay", "30", "index.html")
        self.server.tool("xdotool", "key", "Return")
        self.wait_for(lambda: not self.server.visible_windows("Open file"),
                      "the browser to close", timeout=30)

        def opened():
            try:
                with open(os.path.join(self.dir, "trace.log"), "rb") as f:
                    return b"remote-opened index.html" in f.read()
            except FileNotFoundError:
                return False
        self.wait_for(opened, "the document to arrive", timeout=30)
        main = self.server.main_windows()[0]
        self.server.tool("xdotool", "windowfocus", "--sync", str(main))
        self.server.tool("xdotool", "key", "--delay", "50", "ctrl+End")
        self.server.tool("xdotool", "type", "--delay", "30", "<!-- over TLS -->")
        self.server.tool("xdotool", "key", "ctrl+s")

        def saved():
            with open(page, "rb") as f:
                return f.read() == original + b"<!-- over TLS -->"
        self.wait_for(saved, "the server's file with the new bytes", timeout=30)
        self.server.tool("xdotool", "key", "--delay", "100", "alt+f", "x")
        self.assertEqual(demo.wait(timeout=30), 0)
        # "Always trust" was kept for the account: its settings name the certificate.
        with open(os.path.join(self.dir, "config", "user.reg"), "rb") as f:
            settings = f.read().decode(errors="replace").upper().replace(":", "")
        self.assertIn(fingerprint, settings)


if __name__ == "__main__":
    unittest.main()
