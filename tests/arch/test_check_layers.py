"""The architecture check fails on scratch trees that break the layer table, naming the include."""
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "check_layers.py"

TABLE = """# Architecture
```layers
core/platform:
core/editor: core/platform
gui/app: core/editor core/platform
```
"""


def run(files, table=TABLE):
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        (root / "docs").mkdir()
        (root / "docs" / "ARCHITECTURE.md").write_text(table)
        for name, text in files.items():
            path = root / "src" / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        done = subprocess.run([sys.executable, "-B", str(SCRIPT), str(root)],
                              capture_output=True, text=True, timeout=60)
        return done.returncode, done.stderr


class CheckLayers(unittest.TestCase):
    def test_the_real_tree_passes(self):
        done = subprocess.run([sys.executable, "-B", str(SCRIPT), str(ROOT)],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_down_and_sideways_pass(self):
        rc, err = run({
            "core/platform/A.h": "#include <vector>\n",
            "core/editor/B.h": '#include "core/platform/A.h"\n#include "C.h"\n',
            "core/editor/C.h": "",
            "gui/app/D.cpp": '#include <QWidget>\n#include "core/editor/B.h"\n',
        })
        self.assertEqual(rc, 0, err)

    def test_an_upward_include_is_named(self):
        rc, err = run({
            "core/platform/A.h": "",
            "core/editor/B.h": '#include "core/platform/A.h"\n',
            "gui/app/D.h": "",
            "core/platform/Up.cpp": '// scratch\n#include "core/editor/B.h"\n',
        })
        self.assertEqual(rc, 1)
        self.assertIn('src/core/platform/Up.cpp:2: #include "core/editor/B.h"', err)
        self.assertIn("core/platform may not include core/editor", err)

    def test_a_qt_header_in_core_is_named(self):
        for header in ("<QString>", "<QtCore/QObject>", "<qglobal.h>"):
            rc, err = run({"core/editor/B.cpp": f"#include {header}\n"})
            self.assertEqual(rc, 1, header)
            self.assertIn(f"src/core/editor/B.cpp:1: #include {header}", err)
            self.assertIn("Qt header", err)

    def test_a_cycle_in_the_table_and_an_unknown_folder_fail(self):
        cyclic = TABLE.replace("core/platform:\n", "core/platform: gui/app\n")
        rc, err = run({"core/platform/A.h": ""}, table=cyclic)
        self.assertEqual(rc, 1)
        self.assertIn("cycle", err)
        rc, err = run({"core/newlib/X.h": ""})
        self.assertEqual(rc, 1)
        self.assertIn("src/core/newlib/X.h: its folder is not in the layer table", err)
        rc, err = run({"core/editor/B.h": '#include "core/newlib/X.h"\n'})
        self.assertEqual(rc, 1)
        self.assertIn("the included folder is not in the layer table", err)


if __name__ == "__main__":
    unittest.main()
