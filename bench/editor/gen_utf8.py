#!/usr/bin/python3
"""Writes a UTF-8 benchmark text full of multibyte characters.

Usage: gen_utf8.py OUTPUT [--size BYTES] [--seed N]
The same seed and size always give the same bytes. Lines of 20 to 120 characters mix ASCII
words with accented Latin, Greek, Cyrillic, CJK (two cells each) and emoji (four bytes).
"""
import argparse
import random

WORDS = [
    "caf\u00e9", "na\u00efve", "\u00fcber", "stra\u00dfe", "fa\u00e7ade", "\u00e5ngstr\u00f6m",
    "\u03b1\u03bb\u03c6\u03b1", "\u03bb\u03cc\u03b3\u03bf\u03c2", "\u043f\u0440\u0438\u0432\u0435\u0442",
    "\u043c\u0438\u0440", "\u65e5\u672c\u8a9e", "\u6f22\u5b57", "\ud55c\uad6d\uc5b4",
    "\u3072\u3089\u304c\u306a", "\u2014", "\u20ac5", "\U0001f600", "\U0001f680", "int",
    "return", "value_1", "x", "=", "+", "(", ")", ";", "#include", "<p>", "</p>",
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("output")
    ap.add_argument("--size", type=int, default=100_000_000)
    ap.add_argument("--seed", type=int, default=20240601)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    written = 0
    with open(a.output, "wb") as out:
        chunk = []
        while written < a.size:
            n = rng.randint(3, 18)
            line = ("    " if rng.random() < 0.3 else "") + " ".join(
                rng.choice(WORDS) for _ in range(n)) + "\n"
            b = line.encode("utf-8")
            chunk.append(b)
            written += len(b)
            if len(chunk) >= 4096:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))


if __name__ == "__main__":
    main()
