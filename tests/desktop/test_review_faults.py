"""Roads where the program once went wrong in front of a user: a file named by a relative path, a
file with two names, a click on a drawn character, typing while the clipboard's owner hangs."""

import os
import signal
import subprocess
import time
import unittest

import desktop

DARK = 384  # a pixel whose red + green + blue is below this is ink


def ink_runs(image, y):
    """The runs of dark pixels along row y, as (first, last) x pairs."""
    runs, start = [], None
    for x in range(image.width):
        dark = sum(image.pixel(x, y)) < DARK
        if dark and start is None:
            start = x
        elif not dark and start is not None:
            runs.append((start, x - 1))
            start = None
    if start is not None:
        runs.append((start, image.width - 1))
    return runs


class ReviewFaults(desktop.DesktopTestCase):
    def test_a_relative_name_is_saved_in_the_folder_the_program_started_in(self):
        self.write_file("notes.txt", b"hello\n")
        stray = "/notes.txt"

        def state_of(path):
            try:
                st = os.stat(path)
            except FileNotFoundError:
                return None
            with open(path, "rb") as f:
                return (st.st_ino, st.st_mtime_ns, f.read())

        before = state_of(stray)
        app = self.start_morvane("notes.txt")
        app.key("End")
        app.type(" world")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("notes.txt") == b"hello world\n", "the saved file")
        self.assertEqual(state_of(stray), before, "the root folder's notes.txt is left alone")

    def test_saving_a_file_with_two_names_changes_it_under_both(self):
        path = self.write_file("page.html", b"<p>old</p>\n")
        os.link(path, self.path("alias.html"))
        owner = (65534, 65534) if os.geteuid() == 0 else (os.getuid(), os.getgid())
        os.chown(path, *owner)  # as root: another user's file, writable by this one
        os.chmod(path, 0o666)
        inode = os.stat(path).st_ino
        app = self.start_morvane(path)
        app.key("End")
        app.type("!")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("page.html") == b"<p>old</p>!\n", "the saved file")
        self.assertEqual(self.read_file("alias.html"), b"<p>old</p>!\n", "the other name too")
        after = os.stat(path)
        self.assertEqual((after.st_ino, after.st_uid, after.st_gid), (inode,) + owner,
                         "the same file, with its owner and group")

    def test_a_click_on_a_drawn_character_puts_typed_text_before_it(self):
        bars = 60
        self.write_file("bars.txt", b"|" * bars + b"\nend\n")
        app = self.start_morvane(self.path("bars.txt"))
        image = app.steady_image()
        # The row crossing the bars holds the longest stretch of evenly spaced runs of ink.
        def bars_in(y):
            runs, best, start = ink_runs(image, y), [], 0
            for i in range(1, len(runs) + 1):
                if i == len(runs) or (i - start >= 2 and abs(
                        (runs[i][0] - runs[i - 1][0]) - (runs[i - 1][0] - runs[i - 2][0])) > 1):
                    if i - start > len(best):
                        best = runs[start:i]
                    start = i - 1
            return best
        y, runs = max(((y, bars_in(y)) for y in range(image.height // 2)),
                      key=lambda row: len(row[1]))
        self.assertEqual(len(runs), bars, "the bars are drawn evenly")
        centres = [(a + b) / 2 for a, b in runs]
        cell = (centres[-1] - centres[0]) / (bars - 1)
        column = 50
        # A little left of the middle of the drawn bar: inside its cell, before its centre.
        x = centres[0] + column * cell - 0.3 * cell
        app.click(int(round(x)), y)
        app.type("Y")
        app.key("ctrl+s")
        expected = b"|" * column + b"Y" + b"|" * (bars - column) + b"\nend\n"
        self.wait_for(lambda: self.read_file("bars.txt") != b"|" * bars + b"\nend\n",
                      "the saved file")
        self.assertEqual(self.read_file("bars.txt"), expected)

    def test_typing_does_not_wait_for_a_clipboard_owner_that_hangs(self):
        self.write_file("typing.txt", b"start\n")
        app = self.start_morvane(self.path("typing.txt"))
        env = dict(os.environ, DISPLAY=self.server.display)
        owner = subprocess.Popen(["xclip", "-selection", "clipboard", "-quiet"],
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, env=env)
        self.addCleanup(lambda: (owner.send_signal(signal.SIGCONT), owner.kill(), owner.wait()))
        owner.stdin.write(b"from the clipboard")
        owner.stdin.close()
        time.sleep(1.0)  # the program hears of the new owner while it still answers
        owner.send_signal(signal.SIGSTOP)
        app.focus()
        app.key("End")
        app.type("abcdefghij")
        app.key("Left", "Right", "ctrl+s")
        # A request to the stopped owner takes seconds to time out; ten keys asking it would
        # take far longer than this bound.
        self.wait_for(lambda: self.read_file("typing.txt") == b"startabcdefghij\n",
                      "the saved file", timeout=12)


if __name__ == "__main__":
    unittest.main()
