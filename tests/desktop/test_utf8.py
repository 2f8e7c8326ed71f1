"""UTF-8 text on screen and from the keyboard: characters, not their bytes."""

import unittest

import desktop

LINE = "café — naïve € 5"
WIDE = " 日本"


def dark(c):
    return max(c) < 110


class Utf8Text(desktop.DesktopTestCase):
    def test_utf8_characters_render_as_the_same_text_in_windows_1252_does(self):
        # The same characters from UTF-8 bytes in one tab and from Windows-1252 bytes in the
        # other (which cannot hold the CJK pair): up to the "5" the two rows must be the same
        # pixels, and the UTF-8 row goes on with two wide characters.
        rows = 4
        utf8 = self.write_file("utf8.html", ((LINE + WIDE + "\n") * rows).encode("utf-8"))
        latin = self.write_file("latin.html", ((LINE + "\n") * rows).encode("cp1252"))
        app = self.start_morvane(utf8, latin)
        shown_latin = app.steady_image()
        app.key("ctrl+Tab")
        self.wait_for(lambda: app.window_image().differing_pixels(shown_latin) > 50,
                      "the UTF-8 tab")
        shown_utf8 = app.steady_image()
        width, height = shown_utf8.width, shown_utf8.height

        # Runs of rows where the two pictures differ; text rows differ only right of the "5".
        differing_rows = []
        for y in range(height - 40):  # the status bar names the encodings
            xs = [x for x in range(width) if shown_utf8.pixel(x, y) != shown_latin.pixel(x, y)]
            differing_rows.append(min(xs) if xs else None)
        bands, start = [], None
        for y, x in enumerate(differing_rows + [None]):
            if x is not None and start is None:
                start = y
            elif x is None and start is not None:
                bands.append((start, y))
                start = None
        # The text rows are the last bands (the tab bar differs above them); the caret may
        # blink in the first row, so it is left out.
        text_bands = [(a, b) for a, b in bands
                      if min(x for x in differing_rows[a:b]) > width // 10][-(rows - 1):]
        self.assertEqual(len(text_bands), rows - 1, "bands of differing rows: %r" % bands)
        for top, bottom in text_bands:
            first_difference = min(x for x in differing_rows[top:bottom])
            latin_xs = [x for y in range(top, bottom) for x in range(width)
                        if dark(shown_latin.pixel(x, y))]
            utf8_xs = [x for y in range(top, bottom) for x in range(width)
                       if dark(shown_utf8.pixel(x, y))]
            self.assertTrue(latin_xs and utf8_xs)
            text_left, text_right = min(latin_xs), max(latin_xs)
            self.assertGreater(first_difference, text_right,
                               "the rows differ before the end of %r" % LINE)
            cell = (text_right - text_left) / (len(LINE) - 0.5)
            # A blank, then two characters of two cells each.
            self.assertGreater(max(utf8_xs) - text_right, 3.5 * cell,
                               "the wide characters take two cells each")
            self.assertLess(max(utf8_xs) - text_right, 6 * cell)

    def test_end_then_typing_e_acute_saves_its_two_utf8_bytes(self):
        text = (LINE + WIDE).encode("utf-8")
        path = self.write_file("cafe.html", text)
        app = self.start_morvane(path)
        app.key("End")
        app.type("é")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("cafe.html") != text, "the saved file")
        saved = self.read_file("cafe.html")
        self.assertEqual(saved, text + b"\xc3\xa9")
        self.assertTrue(saved.endswith(b"\xc3\xa9"))


if __name__ == "__main__":
    unittest.main()
