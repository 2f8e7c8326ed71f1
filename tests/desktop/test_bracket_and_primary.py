"""The primary selection shared with another X client, and the bracket pair beside the caret
drawn in the match colour."""

import subprocess
import time
import unittest

import desktop

MATCH_COLOUR = (150, 225, 150)  # multiplied into the white text background


class PrimarySelection(desktop.DesktopTestCase):
    def primary(self):
        return self.server.tool("xclip", "-o", "-selection", "primary", check=False)

    def test_a_middle_click_pastes_another_clients_selection_as_one_step(self):
        path = self.write_file("m.txt", b"abc")
        app = self.start_morvane(path)
        owner = subprocess.Popen(
            ["xclip", "-quiet", "-selection", "primary", "-i"],
            env=dict(self.environment(), DISPLAY=self.server.display),
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            owner.stdin.write("pasted \u00e9".encode())
            owner.stdin.close()
            self.wait_for(lambda: self.primary() == "pasted \u00e9".encode(), "xclip's selection")
            # Below the last line: the paste goes to the end of the text.
            x, y, w, h = app.geometry()
            app.click(w // 2, h // 2, button=2)
            app.key("ctrl+s")
            self.wait_for(lambda: self.read_file("m.txt") != b"abc", "the saved file")
            self.assertEqual(self.read_file("m.txt"), "abcpasted \u00e9".encode())
            app.key("ctrl+z", "ctrl+s")
            self.wait_for(lambda: self.read_file("m.txt") == b"abc", "one undo takes it back")
        finally:
            owner.kill()
            owner.wait(timeout=5)

    def test_selecting_text_offers_it_to_other_clients(self):
        path = self.write_file("s.txt", b"first line\nsecond\n")
        app = self.start_morvane(path)
        app.key("shift+End")
        self.wait_for(lambda: self.primary() == b"first line", "the selection as primary")
        # The caret moving on keeps the last selection on offer, as other programs do.
        app.key("Down")
        time.sleep(0.3)
        self.assertEqual(self.primary(), b"first line")
        app.key("Home", "shift+End")
        self.wait_for(lambda: self.primary() == b"second", "the new selection")


class BracketMatch(desktop.DesktopTestCase):
    def match_rows(self, image):
        return sorted({y for y in range(image.height) for x in range(image.width)
                       if image.pixel(x, y) == MATCH_COLOUR})

    def test_the_bracket_beside_the_caret_and_its_partner_are_tinted(self):
        path = self.write_file("b.c", b"int f(int x)\n{\n    return x;\n}\nint y;\n")
        app = self.start_morvane(path)
        app.key("ctrl+End")
        plain = app.steady_image()
        self.assertEqual(self.match_rows(plain), [], "no bracket beside the caret")
        app.key("ctrl+Home", "Down")  # before "{"
        tinted = app.steady_image()
        rows = self.match_rows(tinted)
        self.assertTrue(rows, "the pair is drawn in the match colour")
        # Two bands of tinted rows: the "{" on line 2 and the "}" on line 4.
        bands = 1 + sum(1 for a, b in zip(rows, rows[1:]) if b - a > 1)
        self.assertEqual(bands, 2, rows)
        # Ctrl+M jumps to the partner: typing there lands before the "}".
        app.key("ctrl+m")
        app.type("Q")
        app.key("ctrl+s")
        self.wait_for(lambda: b"Q" in self.read_file("b.c"), "the saved file")
        self.assertEqual(self.read_file("b.c"),
                         b"int f(int x)\n{\n    return x;\nQ}\nint y;\n")


if __name__ == "__main__":
    unittest.main()
