"""What reaches the eye and the paper: highlighted text on screen, a printed page in a PDF."""

import colorsys
import os
import subprocess
import unittest

import desktop

CPP = b"""#include <stdio.h>
// a comment line
int main(int argc, char** argv) {
    const char* text = "a string";
    return argc > 1 ? 42 : 0;
}
"""

CSS = b"""/* the site's colours */
@media screen {
  body > p.note, #main a:hover { color: #ff0000; margin: 0 auto !important; }
}
h1 { font-family: "Open Sans", sans-serif; width: 42px; }
"""


def hue_of(c):
    """The hue of a clearly coloured pixel in twelve steps, None for greys and near-greys."""
    if max(c) - min(c) <= 60:
        return None
    h, _, _ = colorsys.rgb_to_hsv(*(v / 255 for v in c))
    return round(h * 12) % 12


class Rendering(desktop.DesktopTestCase):
    def token_hues(self, name, text):
        """The hues (with their pixel counts) in which `name` is drawn and the same bytes as plain
        text in a second tab are not: the colour of the text, not icons or frames."""
        self.write_file("plain.txt", text)
        app = self.start_morvane(self.path("plain.txt"), self.write_file(name, text))
        highlighted = app.steady_image()
        app.key("ctrl+Tab")
        self.wait_for(lambda: app.window_image().differing_pixels(highlighted) > 100,
                      "the plain text tab")
        plain = app.window_image()

        hues = {}
        for i in range(0, len(plain.pixels), 3):
            c = tuple(highlighted.pixels[i : i + 3])
            if c != tuple(plain.pixels[i : i + 3]):
                hue = hue_of(c)
                if hue is not None:
                    hues[hue] = hues.get(hue, 0) + 1
        return hues

    def test_a_cpp_file_shows_several_token_colours(self):
        hues = self.token_hues("main.cpp", CPP)
        token_hues = [h for h, n in hues.items() if n >= 20]
        self.assertGreaterEqual(len(token_hues), 3, "hues and their pixels: %r" % hues)

    def test_a_css_file_shows_several_token_colours(self):
        hues = self.token_hues("style.css", CSS)
        token_hues = [h for h, n in hues.items() if n >= 20]
        self.assertGreaterEqual(len(token_hues), 3, "hues and their pixels: %r" % hues)

    def test_a_dark_style_turns_the_text_and_its_colours_dark(self):
        # A style sheet gives the window a dark palette, as a dark desktop theme does.
        sheet = self.write_file("dark.qss", b"QWidget { background-color: #202020; color: #ddd; }")
        app = self.start_morvane("-stylesheet", sheet, self.write_file("main.cpp", CPP))
        image = app.steady_image()
        # The text area: the lower half of the window, right of the gutter.
        left, top = image.width // 4, image.height // 3
        area = image.colours(left, top, image.width // 2, image.height // 3)
        paper, n = area.most_common(1)[0]
        self.assertLess(max(paper), 60, "dark paper, not %r" % (paper,))
        self.assertGreater(n, sum(area.values()) // 2)
        # The top third (the code, and the bars above it): light colours in several hues.
        lines = image.colours(0, 0, image.width, image.height // 3)
        light = [c for c, k in lines.items() if sum(c) > 3 * 150 and k >= 3]
        self.assertGreaterEqual(len(light), 3, "light ink colours: %r" % light)
        hues = {hue_of(c) for c in light} - {None}
        self.assertGreaterEqual(len(hues), 2, "token colours kept their hues: %r" % hues)

    def test_print_to_a_pdf_file_shows_the_text_on_the_first_page(self):
        # Enough lines to reach below the page's middle: the header alone does not.
        path = self.write_file("page.txt", b"".join(
            b"%02d PRINTED TEXT ON THE PAGE\n" % i for i in range(60)))
        app = self.start_morvane(path)
        app.key("alt+f", "p")  # File > Print
        app.wait_for_dialog("Print")
        pdf = self.path("out.pdf")
        # Without printers the dialog offers only the PDF file; Alt+F reaches its name.
        app.key("alt+f", "ctrl+a")
        app.type(pdf)
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("Print"), "the print dialog to close")
        self.wait_for(lambda: (self.read_file("out.pdf") or b"").rstrip().endswith(b"%%EOF"),
                      "the whole PDF file")

        # The printed text, read back from the PDF: every line once, in order, after its line
        # number, the first page running from the first line to below the page's middle.
        def printed(*pages):
            text = subprocess.run(["pdftotext", "-layout", *pages, pdf, "-"], check=True,
                                  stdout=subprocess.PIPE, timeout=30).stdout.decode()
            return [" ".join(l.split()) for l in text.splitlines() if "PRINTED" in l]
        lines = ["%d: %02d PRINTED TEXT ON THE PAGE" % (i + 1, i) for i in range(60)]
        self.assertEqual(printed(), lines, "the whole text, line by line")
        first = printed("-f", "1", "-l", "1")
        self.assertGreaterEqual(len(first), 30, "the first page: %r" % first)
        self.assertEqual(first, lines[:len(first)], "the first page")


if __name__ == "__main__":
    unittest.main()
