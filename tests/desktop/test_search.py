"""Find, replace all with regular expressions and its undo, and Goto line, by keyboard."""

import unittest

import desktop


class Search(desktop.DesktopTestCase):
    def save_and_read(self, app, name, before):
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file(name) != before, "the saved file")
        return self.read_file(name)

    def test_ctrl_f_and_enter_select_the_word(self):
        original = b"alpha beta\ngamma needle delta\nneedle again\n"
        path = self.write_file("find.txt", original)
        app = self.start_morvane(path)
        app.key("ctrl+f")
        app.wait_for_dialog("Find")
        app.type("needle")
        app.key("Return")
        app.key("Escape")
        app.focus()
        # Typing replaces the selection: the first needle was selected, not the second.
        app.type("X")
        saved = self.save_and_read(app, "find.txt", original)
        self.assertEqual(saved, b"alpha beta\ngamma X delta\nneedle again\n")

    def replace_all(self, app, pattern, replacement, *option_keys):
        app.key("ctrl+r")
        app.wait_for_dialog("Replace")
        app.type(pattern)
        app.key("alt+p")
        app.type(replacement)
        app.key(*option_keys, "alt+a")
        app.key("Escape")
        self.wait_for(lambda: not app.dialogs("Replace"), "the dialog to close")
        app.focus()

    def test_replace_all_with_a_regular_expression_and_one_undo(self):
        original = b"key1=value1\nkey2=value2\nplain line\nkey3=value3\n"
        path = self.write_file("pairs.txt", original)
        app = self.start_morvane(path)
        # Regular expressions switched on in the dialog: the pieces swap places.
        self.replace_all(app, "(\\w+)=(\\w+)", "%3:%1", "alt+x")
        replaced = self.save_and_read(app, "pairs.txt", original)
        self.assertEqual(replaced, b"value1:key1\nvalue2:key2\nplain line\nvalue3:key3\n")
        # The document keeps the mode; one Ctrl+Z takes back every replacement (saving
        # cleared the undo log, so this is the second replace all alone). Replace all goes from
        # the caret to the end.
        app.key("ctrl+Home")
        self.replace_all(app, "(\\w+):(\\w+)", "%3=%1")
        app.key("ctrl+z", "ctrl+End")
        app.type("END")
        restored = self.save_and_read(app, "pairs.txt", replaced)
        self.assertEqual(restored, replaced + b"END")

    def test_ctrl_g_puts_the_caret_on_the_line(self):
        original = b"".join(b"line %d\n" % n for n in range(1, 41))
        path = self.write_file("lines.txt", original)
        app = self.start_morvane(path)
        app.key("ctrl+g")
        app.wait_for_dialog("Goto line number")
        app.type("20")
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("Goto line number"), "the dialog to close")
        app.focus()
        app.type("X")
        saved = self.save_and_read(app, "lines.txt", original)
        self.assertEqual(saved.split(b"\n")[19], b"Xline 20")
        self.assertEqual(saved.count(b"X"), 1)

    def test_goto_line_refuses_a_text_that_is_not_a_number(self):
        path = self.write_file("short.txt", b"one\ntwo\n")
        app = self.start_morvane(path)
        app.key("ctrl+g")
        app.wait_for_dialog("Goto line number")
        app.type("2x")
        app.key("Return")
        # The error comes in a message box of its own; Return closes it.
        app.wait_for_dialog("Morvane")
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("Morvane"), "the message to close")
        app.focus()
        app.type("Y")
        saved = self.save_and_read(app, "short.txt", b"one\ntwo\n")
        self.assertEqual(saved, b"Yone\ntwo\n")

    def test_find_wraps_around_and_marks_every_match(self):
        original = b"needle one\nhay\nneedle two\nhay\nneedle three\nhay\n"
        path = self.write_file("wrap.txt", original)
        app = self.start_morvane(path)
        plain = app.steady_image()
        app.key("ctrl+End")
        app.key("ctrl+f")
        app.wait_for_dialog("Find")
        app.type("needle")
        app.key("Return")

        # The three lines with a match show the marks' orange; the hay lines do not.
        def marked_rows():
            image = app.window_image()
            rows = set()
            for y in range(image.height):
                for x in range(0, min(image.width, 400)):
                    r, g, b = image.pixel(x, y)
                    if r > 200 and 150 < g < 235 and b < 170 and (r, g, b) != plain.pixel(x, y):
                        rows.add(y)
                        break
            # Pixel rows grouped into text lines: a gap of more than two pixels starts another.
            lines, last = 0, -10
            for y in sorted(rows):
                if y - last > 2:
                    lines += 1
                last = y
            return lines if lines >= 3 else None
        self.assertEqual(self.wait_for(marked_rows, "three marked lines"), 3)

        # From the end of the text the search went on at the top: the first needle is selected.
        app.key("Escape")
        self.wait_for(lambda: not app.dialogs("Find"), "the dialog to close")
        app.focus()
        app.type("X")
        saved = self.save_and_read(app, "wrap.txt", original)
        self.assertEqual(saved, original.replace(b"needle", b"X", 1))


if __name__ == "__main__":
    unittest.main()
