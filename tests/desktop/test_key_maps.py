"""The window's title shows the document and its state; the first start's question and the
desktop key map: Ctrl+Y redoes, Ctrl+W closes the tab and asks when the text is modified."""

import unittest

import desktop


class KeyMaps(desktop.DesktopTestCase):
    def start_with_desktop_map(self, *files):
        """A first start that answers the key map question with Desktop (its Alt+D key)."""
        app = self.start_morvane(*files, env={"MORVANE_NO_KEY_MAP_QUESTION": None})
        app.key("alt+d")
        return app

    def test_the_title_shows_name_folder_and_the_modified_marker_until_saved(self):
        path = self.write_file("notes.txt", b"one\n")
        folder = self.path("")[:-1]
        app = self.start_morvane(path)
        plain = "notes.txt - %s - Morvane" % folder
        self.wait_for(lambda: app.title() == plain, "the title %r" % plain)
        app.key("End")
        app.type("!")
        self.wait_for(lambda: app.title() == "*" + plain, "the modified marker")
        app.key("ctrl+s")
        self.wait_for(lambda: app.title() == plain, "the marker to go after Ctrl+S")
        self.assertEqual(self.read_file("notes.txt"), b"one!\n")

    def test_ctrl_y_redoes_under_the_desktop_map(self):
        path = self.write_file("redo.txt", b"keep\n")
        app = self.start_with_desktop_map(path)
        app.key("End")
        app.type("a")
        app.key("ctrl+z")
        self.wait_for(lambda: not app.title().startswith("*"), "the undo")
        app.key("ctrl+y", "ctrl+s")
        # Under the classic map Ctrl+Y would have deleted the line.
        self.wait_for(lambda: self.read_file("redo.txt") == b"keepa\n", "the redone text saved")

    def test_ctrl_w_closes_the_tab_and_asks_first_when_modified(self):
        a = self.write_file("a.txt", b"a\n")
        b = self.write_file("b.txt", b"b\n")
        app = self.start_with_desktop_map(a, b)
        self.wait_for(lambda: app.title().startswith("b.txt - "), "the second document")
        app.type("x")
        self.wait_for(lambda: app.title().startswith("*b.txt"), "the modified marker")
        app.key("ctrl+w")
        app.wait_for_dialog("Morvane")
        app.key("Escape")  # Cancel: the document stays
        self.wait_for(lambda: not app.dialogs("Morvane"), "the question to close")
        app.focus()
        self.assertTrue(app.title().startswith("*b.txt"), app.title())
        app.key("ctrl+w")
        app.wait_for_dialog("Morvane")
        app.key("alt+n")  # No: closed without saving
        self.wait_for(lambda: app.title().startswith("a.txt - "), "the other tab")
        self.assertEqual(self.read_file("b.txt"), b"b\n")
        app.focus()
        app.key("ctrl+w")  # unmodified: no question
        self.wait_for(lambda: app.title() == "Morvane", "the last tab to close")
        self.assertEqual(app.dialogs("Morvane"), [])


if __name__ == "__main__":
    unittest.main()
