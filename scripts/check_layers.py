#!/usr/bin/env python3
"""Checks that every include under src/ points down or sideways in the layer table.

The table is the ```layers block of docs/ARCHITECTURE.md: one line per folder, the folders it
may include after the colon. A core folder never includes a Qt header; a folder not in the
table, an include of a folder the table does not allow, or a cycle in the table itself fails
the check with the file, the line and the include named.

Usage: check_layers.py [ROOT]   (ROOT defaults to the repository this script lives in)
"""
import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Qt's own headers: <QString>, <QtCore/QObject>, <qglobal.h>.
QT_HEADER = re.compile(r'^(Qt[A-Za-z]*/|Q[A-Z][A-Za-z]*$|q[a-z_]+\.h$)')
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}


def read_table(doc: Path):
    text = doc.read_text(encoding="utf-8")
    m = re.search(r"```layers\n(.*?)```", text, re.S)
    if not m:
        raise SystemExit(f"{doc}: no ```layers block")
    table = {}
    for n, line in enumerate(m.group(1).splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        name, _, allowed = line.partition(":")
        table[name.strip()] = set(allowed.split())
    return table


def find_cycle(table):
    """A cycle among the table's folders as a list, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for dep in sorted(table.get(node, ())):
            if state.get(dep) == 1:
                return stack[stack.index(dep):] + [dep]
            if dep not in state:
                found = visit(dep)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(table):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def folder_of(rel: str, table):
    """The table folder a path below src/ belongs to: the longest prefix that is one."""
    parts = rel.split("/")
    for n in range(len(parts) - 1, 0, -1):
        candidate = "/".join(parts[:n])
        if candidate in table:
            return candidate
    return None


def check(root: Path):
    table = read_table(root / "docs" / "ARCHITECTURE.md")
    problems = []
    for name, deps in sorted(table.items()):
        for dep in sorted(deps):
            if dep not in table:
                problems.append(f"docs/ARCHITECTURE.md: {name} may include {dep}, "
                                "which is not a folder of the table")
    cycle = find_cycle(table)
    if cycle:
        problems.append("docs/ARCHITECTURE.md: the layer table has a cycle: " + " -> ".join(cycle))

    src = root / "src"
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        rel = path.relative_to(src).as_posix()
        own = folder_of(rel, table)
        if own is None:
            problems.append(f"src/{rel}: its folder is not in the layer table")
            continue
        for n, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, target = m.groups()
            close = ">" if kind == "<" else '"'
            where = f"src/{rel}:{n}: #include {kind}{target}{close}"
            if kind == "<":
                if own.startswith("core/") and QT_HEADER.match(target):
                    problems.append(f"{where}: a core library includes a Qt header")
                continue
            if "/" not in target:
                continue  # beside the including file
            other = folder_of(target, table)
            if other is None:
                if (src / target).exists() or target.split("/", 1)[0] in ("core", "gui", "tools"):
                    problems.append(f"{where}: the included folder is not in the layer table")
                continue
            if other != own and other not in table[own]:
                problems.append(f"{where}: {own} may not include {other}")
    return problems


def main(argv):
    root = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent
    problems = check(root)
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print(f"layer check: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    print("layer check: every include follows docs/ARCHITECTURE.md")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
