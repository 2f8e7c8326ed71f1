"""The main window's own roads: its dialogs, the output pane, tabs, closing, a second start."""

import os
import subprocess
import unittest

import desktop


class Window(desktop.DesktopTestCase):
    def test_output_pane_file_dialog_and_next_tab_from_the_keyboard(self):
        first = self.write_file("first.txt", b"one\n")
        second = self.write_file("second.txt", b"two\n")
        app = self.start_morvane(first, second)

        # The pane takes the lower part of the window and gives it back when hidden again. The
        # right edge is left out: the text's scroll bar may come or go with the height.
        def lower_part():
            image = app.window_image()
            return image.crop(0, image.height // 2, image.width - 40, image.height // 2)

        before = app.steady_image(lower_part)
        app.key("ctrl+shift+o")
        # The pane is as white as the text; its splitter and frame cross the whole width, and
        # the text's grey gutter ends above it.
        self.wait_for(lambda: lower_part().differing_pixels(before) > before.width * 4,
                      "the output pane to show")
        app.key("ctrl+shift+o")
        self.wait_for(lambda: lower_part().differing_pixels(before) == 0,
                      "the output pane to hide")

        app.key("ctrl+l")
        app.wait_for_dialog("Open local file")
        app.key("Escape")
        self.wait_for(lambda: not app.dialogs("Open local file"), "the file dialog to close")
        app.focus()

        # Typing goes to the active tab; after Ctrl+Tab it goes to the other one.
        app.key("1", "ctrl+s")
        changed = self.wait_for(
            lambda: [n for n, t in (("first.txt", b"one\n"), ("second.txt", b"two\n"))
                     if self.read_file(n) != t], "one file to be saved")
        self.assertEqual(len(changed), 1)
        other = "second.txt" if changed == ["first.txt"] else "first.txt"
        app.key("ctrl+Tab", "2", "ctrl+s")
        self.wait_for(lambda: self.read_file(other).startswith(b"2"), "the other tab's file")

    def test_closing_with_a_modified_document_asks_and_no_keeps_the_file(self):
        path = self.write_file("draft.txt", b"draft\n")
        app = self.start_morvane(path)
        app.type("changed ")
        app.key("alt+f", "x")  # File > Exit
        app.wait_for_dialog()
        app.key("alt+n")
        self.assertEqual(app.wait_for_exit(), 0)
        self.assertEqual(self.read_file("draft.txt"), b"draft\n")

    def test_a_second_start_opens_its_file_in_the_first_window(self):
        first = self.write_file("first.txt", b"one\n")
        second = self.write_file("second.txt", b"two\n")
        app = self.start_morvane(first)
        before = app.window_image()

        run = subprocess.run([self.executable, second], env=self.environment(),
                             cwd=os.path.dirname(second), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=20)
        self.assertEqual(run.returncode, 0, run.stdout.decode(errors="replace"))
        self.assertEqual(self.server.main_windows(), [app.window])

        # The handed-over file is the active tab of the first window.
        app.wait_for_trace("hand-over")
        self.wait_for(lambda: app.window_image().differing_pixels(before) > 100, "a new tab")
        app.focus()
        app.key("End")
        app.type("!")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("second.txt") == b"two!\n", "the second file saved")
        self.assertEqual(self.read_file("first.txt"), b"one\n")


if __name__ == "__main__":
    unittest.main()
