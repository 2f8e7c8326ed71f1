"""Code templates, auto-replace and numbered bookmarks, typed into the real program."""

import os
import struct
import unittest

import desktop


def str8(b):
    return bytes([len(b)]) + b


def str32(b):
    return struct.pack("<I", len(b)) + b


def stream_form(entries, end_keys=None):
    """The stream form of a template or auto-replace store: (name, description, text) each."""
    out = struct.pack("<I", len(entries))
    for name, description, text in entries:
        out += str8(name) + str8(description) + str32(text)
    out += str32(b"Ctrl+J") + struct.pack("<I", 1)
    if end_keys is not None:
        out += str8(end_keys)
    return out


class EditorAids(desktop.DesktopTestCase):
    def program_file(self, name, data):
        home = self.environment()["MORVANE_HOME"]
        os.makedirs(home, exist_ok=True)
        with open(os.path.join(home, name), "wb") as f:
            f.write(data)

    def test_a_template_name_and_ctrl_j_expand_with_the_caret_at_the_marker(self):
        self.program_file("Templates.txt",
                          stream_form([(b"blk", b"block", b"begin\r\n  |\r\nend")]))
        path = self.write_file("t.c", b"\n")
        app = self.start_morvane(path)
        app.type("  blk")
        app.key("ctrl+j")
        app.type("Z")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("t.c") != b"\n", "the saved file")
        self.assertEqual(self.read_file("t.c"), b"  begin\n    Z\n  end\n")

    def test_a_misspelling_and_a_blank_are_replaced(self):
        self.program_file("AutoReplace.txt",
                          stream_form([(b"teh", b"", b"the")], b";,:.=()[]\\{Return}\\{Tab}\\{Space}"))
        path = self.write_file("a.txt", b"")
        app = self.start_morvane(path)
        app.type("see teh cat and foxteh ")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("a.txt") != b"", "the saved file")
        self.assertEqual(self.read_file("a.txt"), b"see the cat and foxteh ")

    def test_ctrl_k_3_then_ctrl_q_3_from_elsewhere_returns_to_the_line(self):
        lines = [b"line %d" % i for i in range(1, 61)]
        path = self.write_file("b.txt", b"\n".join(lines) + b"\n")
        app = self.start_morvane(path)
        app.key("Down", "Down", "Right", "Right", "ctrl+k", "3")
        app.key("ctrl+End", "Up")
        app.key("ctrl+q", "3")
        app.type("X")
        app.key("ctrl+s")
        self.wait_for(lambda: self.read_file("b.txt") != b"\n".join(lines) + b"\n",
                      "the saved file")
        saved = self.read_file("b.txt").split(b"\n")
        self.assertEqual(saved[2], b"liXne 3")
        self.assertEqual(saved[58], b"line 59")


if __name__ == "__main__":
    unittest.main()
