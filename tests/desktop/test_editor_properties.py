"""The editor properties dialog changes what an open document shows."""

import os
import unittest

import desktop

CPP = b"""int main(int argc, char** argv) {
    const char* text = "a string";
    return argc > 1 ? 42 : 0;
}
"""


def greens(image):
    """Pixels of a clear green: no token of the C++ highlighter is drawn in one."""
    counts = image.colours()
    return sum(n for (r, g, b), n in counts.items() if g > 140 and r < 60 and b < 60)


class EditorProperties(desktop.DesktopTestCase):
    def test_a_new_keyword_colour_shows_in_the_open_file_and_is_kept(self):
        app = self.start_morvane(self.write_file("main.cpp", CPP))
        before = app.steady_image()
        self.assertEqual(greens(before), 0)

        app.key("alt+e", "e")  # Edit > Editor properties
        dialog = app.wait_for_dialog("Editor options")
        app.key("alt+e")  # the element list
        app.type("Reserved")
        app.key("alt+r")  # its foreground colour: the label's key presses the button
        app.wait_for_dialog("Colour")
        app.key("alt+h", "ctrl+a")
        app.type("#00c000")
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("Colour"), "the colour dialog to close")
        app.focus(dialog)
        app.key("Return")  # OK
        self.wait_for(lambda: not app.dialogs("Editor options"), "the dialog to close")

        after = app.steady_image()
        self.assertGreater(greens(after), 30, "the keywords int, char, const and return")
        with open(os.path.join(self.dir, "config", "user.reg"), "rb") as f:
            self.assertIn(b"Highlighting - C++", f.read())


if __name__ == "__main__":
    unittest.main()
