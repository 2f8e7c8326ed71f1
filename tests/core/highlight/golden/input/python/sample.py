#!/usr/bin/env python3
"""Module doc string
over several lines, with 'quotes' and "double" ones.
"""
import os, sys
from typing import Optional

CONST = 0x1F + 3.14e-2 + 1_000


@dataclass(frozen=True)
class Order(Base):
    '''Single-quoted triple string # not a comment'''

    def total(self, rate: float = 1.0) -> Optional[float]:
        # a comment with "quotes"
        s = "escaped \"quote\" and \\ backslash"
        t = 'it\'s'
        r = r"\d+\s*" + rb'\x00' + f"{self.name!r:>10}" + F'{x}'
        if not self.items or len(self.items) == 0:
            return None
        return sum(i.price for i in self.items) * rate

print(Order.__doc__, file=sys.stderr)
x = """unterminated triple
