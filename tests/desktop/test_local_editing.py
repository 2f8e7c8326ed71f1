"""Editing a local file given on the command line: typing, saving, auto indent, undo, block indent."""

import unittest

import desktop


class LocalEditing(desktop.DesktopTestCase):
    def status_bar(self, app):
        """The bottom strip of the main window, where the status panels are."""
        image = app.window_image()
        strip = 18
        return image.crop(0, image.height - strip, image.width, strip)

    def test_typing_at_a_line_end_and_saving_writes_exactly_the_new_bytes(self):
        path = self.write_file("notes.txt", b"first line\r\nsecond line\r\nlast\r\n")
        app = self.start_morvane(path)
        unmodified = app.steady_image(lambda: self.status_bar(app)).pixels

        app.key("End")
        app.type(" & more")
        app.key("Home")
        self.wait_for(lambda: self.status_bar(app).pixels != unmodified, "the status bar to change")

        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("notes.txt") ==
                      b"first line & more\r\nsecond line\r\nlast\r\n", "the saved file")
        # Back at the same place and saved: the status bar looks as it did before any change.
        self.wait_for(lambda: self.status_bar(app).pixels == unmodified,
                      "the status bar to drop Modified")

    def test_enter_indents_the_new_line_and_ctrl_z_takes_back_the_last_word(self):
        path = self.write_file("indent.txt", b"top\n    inner\nend\n")
        app = self.start_morvane(path)
        app.key("Down", "End", "Return")
        app.type("ab cd")
        app.key("ctrl+z", "ctrl+s")
        self.wait_for(lambda: self.read_file("indent.txt") != b"top\n    inner\nend\n",
                      "the saved file")
        # The fill to column 4 is one TAB: tab stops every 4 columns and smart fill are the
        # defaults.
        self.assertEqual(self.read_file("indent.txt"), b"top\n    inner\n\tab \nend\n")

    def test_ctrl_k_i_indents_both_selected_lines(self):
        path = self.write_file("block.txt", b"alpha\nbeta\ngamma\n")
        app = self.start_morvane(path)
        app.key("shift+Down", "shift+Down", "ctrl+k", "i", "ctrl+s")
        self.wait_for(lambda: self.read_file("block.txt") not in (None, b"alpha\nbeta\ngamma\n"),
                      "the saved file")
        lines = self.read_file("block.txt").split(b"\n")
        self.assertEqual(lines[0].lstrip(), b"alpha")
        self.assertEqual(lines[1].lstrip(), b"beta")
        self.assertNotEqual(lines[0], b"alpha")
        self.assertEqual(lines[0][:-5], lines[1][:-4], "both lines get the same indent")
        self.assertEqual(lines[2:], [b"gamma", b""])


if __name__ == "__main__":
    unittest.main()
