"""What the view shows of a file's lines: line numbers with word wrap, the gutter of a long file,
the first window's size and its scroll bar."""

import collections
import unittest

import desktop

WHITE = (255, 255, 255)

# Eleven lines; the long ones take several rows each once wrapped.
WRAPPED = b"".join(
    (b"%d " % n + b"word " * (80 if n % 3 else 0)).rstrip() + b"\n" for n in range(1, 11)
) + b"end"


class WordWrap(desktop.DesktopTestCase):
    def status_bar(self, app):
        """The bottom strip of the main window, where the caret's line and column show."""
        image = app.window_image()
        strip = 18
        return image.crop(0, image.height - strip, image.width // 3, strip)

    def goto(self, app, line):
        app.key("ctrl+g")
        app.wait_for_dialog("Goto line number")
        app.type(str(line))
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("Goto line number"), "the dialog to close")
        app.focus()

    def test_status_bar_and_goto_count_the_files_lines_when_wrapped(self):
        path = self.write_file("wrapped.txt", WRAPPED)
        app = self.start_morvane(path)
        steady = lambda: app.steady_image(lambda: self.status_bar(app)).pixels

        # Unwrapped, each row is a line: what the status bar shows at line 10 and at the end.
        self.goto(app, 10)
        at_ten = steady()
        app.key("ctrl+End")
        self.wait_for(lambda: self.status_bar(app).pixels != at_ten, "the status bar to move")
        at_end = steady()

        # Wrapped, the rows above are several per line: the status bar reads the same.
        before = app.steady_image()
        app.key("alt+e", "w")  # Edit > Word wrap
        self.wait_for(lambda: app.window_image().differing_pixels(before) > 1000,
                      "the lines to wrap")
        app.key("ctrl+Home", "ctrl+End")
        self.assertTrue(steady() == at_end, "line 11, column 4 at the end of the text")
        self.goto(app, 10)
        self.assertTrue(steady() == at_ten, "line 10, column 1 after Goto 10")

        # And the caret is at the start of the file's tenth line.
        app.type("X")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("wrapped.txt") != WRAPPED, "the saved file")
        lines = self.read_file("wrapped.txt").split(b"\n")
        self.assertEqual(lines[9], b"X" + WRAPPED.split(b"\n")[9])
        self.assertEqual(self.read_file("wrapped.txt").count(b"X"), 1)


def gutter_numbers(image):
    """The line numbers in the gutter of the text in the middle of a window image: for each
    number from top to bottom, (blank columns left of its ink inside the gutter, blank columns
    right of it before the separator, how many glyphs it has). The gutter is the run of its
    grey left of the one-pixel white separator line."""
    w, h = image.width, image.height
    px = image.pixel
    ink = lambda c: sum(c) < 3 * 150
    mid = range(h // 4, 3 * h // 4)
    grey = collections.Counter(px(x, y) for x in range(2, 7) for y in mid).most_common(1)[0][0]
    left = next(x for x in range(w) if px(x, h // 2) == grey)

    def grey_run(y):
        x = left
        while x < w and px(x, y) == grey:
            x += 1
        return x
    right = max(grey_run(y) for y in mid)  # on a row without a number: the separator

    def gutter_row(y):
        return px(right, y) == WHITE and px(right + 1, y) == grey
    top = bottom = h // 2
    while top > 0 and gutter_row(top - 1):
        top -= 1
    while bottom + 1 < h and gutter_row(bottom + 1):
        bottom += 1
    bands, current = [], []
    for y in range(top, bottom + 1):
        if any(ink(px(x, y)) for x in range(left, right)):
            current.append(y)
        elif current:
            bands.append(current)
            current = []
    if current:
        bands.append(current)
    numbers = []
    for band in bands:
        cols = [x for x in range(left, right) if any(ink(px(x, y)) for y in band)]
        glyphs = 1 + sum(1 for a, b in zip(cols, cols[1:]) if b > a + 1)
        numbers.append((cols[0] - left, right - 1 - cols[-1], glyphs))
    return numbers


class Gutter(desktop.DesktopTestCase):
    def test_the_last_line_number_of_a_long_file_shows_whole(self):
        path = self.write_file("long.txt", b"".join(b"line %d\n" % n for n in range(1, 100001)))
        # Line numbers are on from the start, for every highlighter.
        app = self.start_morvane(path)
        app.key("ctrl+End")
        numbers = gutter_numbers(app.steady_image())
        # Near the end: 99999 in five glyphs above 100000 in six, each with blank gutter on
        # both sides (nothing cut at either edge), right-aligned.
        self.assertGreaterEqual(len(numbers), 10, numbers)
        *_, (left5, right5, glyphs5), (left6, right6, glyphs6) = numbers
        self.assertEqual((glyphs5, glyphs6), (5, 6), numbers)
        self.assertGreaterEqual(left6, 1, numbers)
        self.assertGreaterEqual(right6, 2, numbers)
        self.assertLessEqual(abs(right5 - right6), 1, numbers)
        self.assertGreater(left5, left6, numbers)


class FirstWindow(desktop.DesktopTestCase):
    """A screen of 1400x950 and no stored window size."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server.stop()
        cls.server = desktop.XServer("1400x950")

    def test_the_first_window_takes_a_share_of_the_screen_and_shows_its_toolbars(self):
        short = self.write_file("short.txt", b"one\ntwo\nthree\n")
        long = self.write_file("long.txt", b"".join(b"row %d\n" % n for n in range(500)))
        app = self.start_morvane(long, short)
        x, y, width, height = app.geometry()
        self.assertGreaterEqual(width, 1400 * 3 // 4)
        self.assertGreaterEqual(height, 950 * 3 // 4)
        self.assertLessEqual(x + width, 1400)
        self.assertLessEqual(y + height, 950)
        image = app.steady_image()
        # The toolbar row ends short of the window's right edge: nothing is cut off into an
        # overflow button there (the menu bar is blank on the right too).
        top = image.crop(image.width * 9 // 10, 0, image.width // 10, 64)
        self.assertEqual([c for c in top.colours() if sum(c) < 3 * 150], [])

        # The short text (the active tab) fits: no scroll bar at the text's right edge, where
        # the long text has one.
        def right_edge():
            image = app.window_image()
            return image.crop(image.width - 14, image.height // 3, 10, image.height // 3)
        self.assertEqual(set(app.steady_image(right_edge).colours()), {WHITE})
        app.key("ctrl+Tab")
        self.wait_for(lambda: set(right_edge().colours()) != {WHITE}, "the long text's bar")


if __name__ == "__main__":
    unittest.main()
