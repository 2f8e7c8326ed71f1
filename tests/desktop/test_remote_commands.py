"""Tools > RExec in the real program: a configured remote command runs from its key while the
editor has the focus, and the server's output appears in the output pane as it arrives."""

import os
import socket
import subprocess
import threading
import unittest

import desktop


class RExecServer:
    """A loopback rexec server: reads the four NUL-ended fields, answers with the success
    status and the given lines, the last one only after the test lets it go."""

    def __init__(self, first, last):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.received = b""
        self.release = threading.Event()
        self.thread = threading.Thread(target=self.serve, args=(first, last), daemon=True)
        self.thread.start()

    def serve(self, first, last):
        conn, _ = self.listener.accept()
        conn.settimeout(30)
        with conn:
            while self.received.count(b"\0") < 4 and len(self.received) < 10000:
                data = conn.recv(1024)
                if not data:
                    return
                self.received += data
            conn.sendall(b"\0" + first)
            self.release.wait(30)
            conn.sendall(last)

    def stop(self):
        self.release.set()
        self.listener.close()
        self.thread.join(5)


class RemoteCommands(desktop.DesktopTestCase):
    def configure(self, port):
        """The account Demo and one remote command on it with the key Ctrl+Alt+R."""
        subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", "21",
                        "deploy", "-", "/srv/site"], input=b"s3cret", env=self.environment(),
                       check=True, timeout=30)
        store = os.path.join(self.dir, "config", "user.reg")
        root = "HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1"
        with open(store, "a", encoding="utf-8") as f:
            f.write('\n[%s\\RExec commands\\0]\n@="Disk use"\n"Command"="du -s %%d"\n'
                    '"Shortcut"="Ctrl+Alt+R"\n"Clear output"=dword:00000001\n'
                    '"AccountType"=dword:00000001\n"Account"="Demo"\n' % root)
            f.write('\n[%s\\Settings]\n"RExec port"="%d"\n' % (root, port))

    def outputs(self, app):
        return [e[len("output "):] for e in app.trace() if e.startswith("output ")]

    def test_the_key_runs_the_command_and_its_output_streams_into_the_pane(self):
        server = RExecServer(b"4\t/srv/site/a\n", b"12\t/srv/site/\n")
        self.addCleanup(server.stop)
        self.configure(server.port)

        path = self.write_file("notes.txt", b"keep\n")
        app = self.start_morvane(path)
        app.focus()
        app.key("ctrl+End")
        app.type("x")
        app.key("ctrl+alt+r")
        # "%d" on a named account: the folder chooser offers the account, its start folder
        # chosen.
        chooser = app.wait_for_dialog("Select a directory")
        app.focus(chooser)
        app.key("Return")
        self.wait_for(lambda: server.received.count(b"\0") >= 4, "the command at the server")
        self.assertEqual(server.received, b"\0deploy\0s3cret\0du -s /srv/site/\0")
        # The first line is in the pane while the command is still running.
        self.wait_for(lambda: "4\t/srv/site/a" in self.outputs(app), "the first output line")
        self.assertEqual(self.outputs(app), ["-- Executing du -s /srv/site/", "4\t/srv/site/a"])
        server.release.set()
        self.wait_for(lambda: "-- End of output" in self.outputs(app), "the end of the output")
        self.assertEqual(self.outputs(app), ["-- Executing du -s /srv/site/", "4\t/srv/site/a",
                                             "12\t/srv/site/", "-- End of output"])
        # The key went to the command, not into the text.
        app.focus()
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("notes.txt") != b"keep\n", "the saved file")
        self.assertEqual(self.read_file("notes.txt"), b"keep\nx")


if __name__ == "__main__":
    unittest.main()
