"""The journeys' harness fails, never skips, when the program it should drive is missing."""
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


class MissingProgram(unittest.TestCase):
    def run_journey(self, executable):
        with tempfile.TemporaryDirectory() as tmp:
            script = os.path.join(tmp, "test_probe.py")
            with open(script, "w") as f:
                f.write(textwrap.dedent("""\
                    import sys
                    sys.path.insert(0, %r)
                    import unittest
                    import desktop

                    class Probe(desktop.DesktopTestCase):
                        def test_nothing(self):
                            pass

                    unittest.main()
                    """ % HERE))
            env = dict(os.environ)
            env.pop("MORVANE_EXECUTABLE", None)
            if executable is not None:
                env["MORVANE_EXECUTABLE"] = executable
            return subprocess.run([sys.executable, "-B", script], env=env, capture_output=True,
                                  text=True, timeout=60)

    def test_unset_or_missing_program_fails_the_run(self):
        for executable in (None, "/nonexistent/morvane", HERE):
            done = self.run_journey(executable)
            self.assertNotEqual(done.returncode, 0, (executable, done.stderr))
            self.assertIn("does not name the built program", done.stderr)
            self.assertNotIn("skipped", done.stderr)


if __name__ == "__main__":
    unittest.main()
