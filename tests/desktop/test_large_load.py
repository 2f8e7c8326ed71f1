"""A file of a gigabyte: the load shows its progress, the window keeps painting, and a click on
Cancel closes the document and gives its memory back."""

import os
import re
import subprocess
import time
import unittest

import desktop

SIZE = 1 << 30


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise desktop.DesktopError("no VmRSS for %d" % pid)


class LargeLoad(desktop.DesktopTestCase):
    def make_big_file(self):
        line = b"2024-06-01 12:00:00 INFO request served in 12 ms from cache node 7\n"
        block = line * ((8 << 20) // len(line))
        path = self.path("big.log")
        with open(path, "wb") as f:
            written = 0
            while written < SIZE:
                part = block[:SIZE - written]
                f.write(part)
                written += len(part)
        self.addCleanup(lambda: os.path.exists(path) and os.remove(path))
        return path

    def progress_events(self, app):
        """(percent, (x, y) of the Cancel button, time) of each progress event so far."""
        found = []
        for event in app.trace():
            m = re.match(r"load-progress big\.log (\d+)% cancel (-?\d+),(-?\d+)$", event)
            if m:
                found.append((int(m.group(1)), (int(m.group(2)), int(m.group(3)))))
        return found

    def event_time(self, app, event):
        """The program's own clock (microseconds) for its first trace line starting so."""
        with open(app.trace_file, "rb") as f:
            for line in f.read().decode(errors="replace").splitlines():
                fields = line.split(" ", 2)
                if len(fields) == 3 and fields[1] == str(app.process.pid) and \
                        fields[2].startswith(event):
                    return int(fields[0])
        return None

    def test_progress_repaints_and_cancel_frees_the_memory(self):
        path = self.make_big_file()
        app = self.start_morvane()
        app.steady_image()
        before = rss_kb(app.process.pid)

        # Handed over to the running window, so that its memory is measured before the load.
        run = subprocess.run([self.executable, path], env=self.environment(),
                             cwd=os.path.dirname(path), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=20)
        self.assertEqual(run.returncode, 0, run.stdout.decode(errors="replace"))
        app.wait_for_trace("loading big.log")
        self.wait_for(lambda: self.progress_events(app), "the load's progress")
        # Shown within a second of the start, by the program's own clock.
        started = self.event_time(app, "loading big.log")
        shown = self.event_time(app, "load-progress big.log")
        self.assertLess(shown - started, 1_000_000)

        # The status bar at the bottom of the window: its picture changes while the file loads.
        x, y, w, h = app.geometry()
        status = (x, y + h - 40, w, 40)
        first = self.server.screenshot(rect=status)
        first_percent = self.progress_events(app)[-1][0]
        self.wait_for(lambda: self.progress_events(app)[-1][0] >= first_percent + 3,
                      "more progress")
        time.sleep(0.1)
        second = self.server.screenshot(rect=status)
        self.assertGreater(second.differing_pixels(first), 0, "the window repaints while loading")
        self.server.screenshot(os.path.join(self.dir, "large-load.png"))

        percent, (bx, by) = self.progress_events(app)[-1]
        self.assertLess(percent, 100, "the load was still running")
        loading = rss_kb(app.process.pid)
        self.assertGreater(loading, before + 100 * 1024, "the text is in memory while loading")
        app.click(bx, by)
        app.wait_for_trace("load-cancelled big.log")
        self.wait_for(lambda: app.title() == "Morvane", "the document closed")
        # The memory goes back to near what it was before the file was opened.
        self.wait_for(lambda: rss_kb(app.process.pid) < before + 64 * 1024,
                      "the memory given back (%d KB before, %d KB while loading, %d KB now)"
                      % (before, loading, rss_kb(app.process.pid)))
        self.assertNotIn("loaded big.log", app.trace())


if __name__ == "__main__":
    unittest.main()
