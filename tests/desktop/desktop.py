"""Drives the real morvane executable on a private X server, as a person does.

Each test class gets its own Xvfb (the server picks a free display itself through -displayfd, so
parallel runs never race for a number); each test gets a fresh program with its own settings,
program folder, state and runtime folders. Keys and clicks are real X input (xdotool), pictures
come from the screen (ImageMagick's import). Every wait is bounded, and every process started
here is killed at the end, also when a test fails. A failing test keeps a screenshot of the whole
screen under $MORVANE_DESKTOP_FAILURES (build/desktop-failures by default).

    class Journeys(desktop.DesktopTestCase):
        def test_typing_is_saved(self):
            path = self.write_file("a.txt", b"one\\n")
            app = self.start_morvane(path)
            app.key("End")
            app.type("!")
            app.key("ctrl+s")
            self.wait_for(lambda: self.read_file("a.txt") == b"one!\\n", "the saved file")
"""

import collections
import functools
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import types
import unittest

MAIN_TITLE = "Morvane"
MAIN_TITLE_PATTERN = "(^| - )Morvane$"
DEFAULT_TIMEOUT = 15.0
# A loaded machine (a parallel build, ctest -j) can take long to start the first program.
START_TIMEOUT = 30.0


class DesktopError(Exception):
    pass


def wait_for(condition, what, timeout=DEFAULT_TIMEOUT, interval=0.05):
    """Polls condition until it returns something true; raises after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DesktopError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def _kill(process, grace=2.0):
    if process is None or process.poll() is not None:
        return
    try:
        process.terminate()
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=grace)


class Image:
    """An RGB picture read from a binary PPM (P6, 8 bits)."""

    def __init__(self, data):
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos : pos + 1].isspace():
                pos += 1
            if data[pos : pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end : end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise DesktopError("not an 8-bit binary PPM")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[pos + 1 : pos + 1 + 3 * self.width * self.height]

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i : i + 3])

    def crop(self, left, top, width, height):
        rows = b"".join(self.pixels[3 * (y * self.width + left) : 3 * (y * self.width + left + width)]
                        for y in range(top, top + height))
        return Image(b"P6 %d %d 255\n" % (width, height) + rows)

    def colours(self, left=0, top=0, width=None, height=None):
        """How many pixels of each colour the rectangle holds."""
        width = self.width - left if width is None else width
        height = self.height - top if height is None else height
        channels = iter(self.crop(left, top, width, height).pixels)
        return collections.Counter(zip(channels, channels, channels))

    def differing_pixels(self, other):
        if (self.width, self.height) != (other.width, other.height):
            return self.width * self.height
        n = len(self.pixels)
        changed = (int.from_bytes(self.pixels, "big") ^ int.from_bytes(other.pixels, "big"))
        changed = changed.to_bytes(n, "big").translate(_NONZERO_TO_ONE)
        r, g, b = (int.from_bytes(changed[i::3], "big") for i in range(3))
        return (r | g | b).to_bytes(n // 3, "big").count(1)


_NONZERO_TO_ONE = bytes([0] + [1] * 255)


class XServer:
    """A private Xvfb. No window manager: a window is active for Qt once it has the focus."""

    def __init__(self, size="1280x1024"):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size + "x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
        finally:
            os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise DesktopError("Xvfb did not start within 10 s")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise DesktopError("Xvfb exited before it was ready")
                number += chunk
        except BaseException:
            _kill(self.process)
            raise
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()

    def tool(self, *args, check=True, timeout=DEFAULT_TIMEOUT):
        """Runs an X client (xdotool, import, ...) on this display; returns its stdout."""
        r = subprocess.run(list(args), env=dict(os.environ, DISPLAY=self.display),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        if check and r.returncode != 0:
            raise DesktopError("%s failed (%d): %s" % (" ".join(args), r.returncode,
                                                       r.stderr.decode(errors="replace")))
        return r.stdout

    def visible_windows(self, title):
        """Ids of the mapped windows whose title is exactly title."""
        return self.visible_windows_matching("^%s$" % _regex_quote(title))

    def visible_windows_matching(self, pattern):
        out = self.tool("xdotool", "search", "--onlyvisible", "--name", pattern, check=False)
        return [int(w) for w in out.split()]

    def main_windows(self):
        """The main window: "Morvane" alone, or "*name - place - Morvane" with a document."""
        return self.visible_windows_matching(MAIN_TITLE_PATTERN)

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        fields = {}
        for line in self.tool("xdotool", "getwindowgeometry", "--shell", str(window)).split():
            name, _, value = line.decode().partition("=")
            fields[name] = int(value) if value.lstrip("-").isdigit() else value
        return fields["X"], fields["Y"], fields["WIDTH"], fields["HEIGHT"]

    def screenshot(self, path=None, rect=None):
        """The screen, or the rectangle (x, y, width, height) of it, as an Image; also written
        to path (any format import knows)."""
        crop = ["-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]), "+repage"] \
            if rect else []
        if path:
            self.tool("import", "-window", "root", *crop, path)
        return Image(self.tool("import", "-window", "root", *crop, "-depth", "8", "ppm:-"))

    def stop(self):
        _kill(self.process)


def _regex_quote(text):
    return "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in text)


class Morvane:
    """One running morvane process and its main window."""

    def __init__(self, server, executable, args, env, cwd):
        self.server = server
        self.trace_file = env.get("MORVANE_TRACE_FILE")
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([executable] + list(args), env=env, cwd=cwd,
                                        stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        self.window = None

    def trace(self):
        """The start-up events this process wrote to its trace file ("activated", "open F"...)."""
        try:
            with open(self.trace_file, "rb") as f:
                lines = f.read().decode(errors="replace").splitlines()
        except (OSError, TypeError):
            return []
        fields = [line.split(" ", 2) for line in lines]
        return [f[2] for f in fields if len(f) == 3 and f[1] == str(self.process.pid)]

    def wait_for_trace(self, event, timeout=DEFAULT_TIMEOUT):
        wait_for(lambda: any(e.startswith(event) for e in self.trace()),
                 "the program's %r event" % event, timeout)

    def wait_for_main_window(self, timeout=START_TIMEOUT):
        """Finds the main window (visible, titled Morvane), waits until the program
        has opened its arguments, and gives the window the focus."""
        def find():
            if self.process.poll() is not None:
                raise DesktopError("morvane exited with %d: %s" % (self.process.returncode,
                                                                   self.output()))
            windows = self.server.main_windows()
            return windows[0] if windows else None
        self.window = wait_for(find, "the main window", timeout)
        self.wait_for_trace("activated", timeout)
        self.focus()
        return self.window

    def focus(self, window=None):
        """Gives a window the input focus; Qt only activates a window that really has it."""
        self.server.tool("xdotool", "windowfocus", "--sync", str(window or self.window))
        # Qt makes the window its focus window a moment after X says so: keys sent before then
        # go to the window that had the focus, which may be a dialog already gone.
        time.sleep(0.15)

    def dialogs(self, title=MAIN_TITLE):
        """Visible windows with this title other than the main window."""
        return [w for w in self.server.visible_windows(title) if w != self.window]

    def wait_for_dialog(self, title=MAIN_TITLE, timeout=DEFAULT_TIMEOUT):
        """Waits for a visible window with this title (not the main window) and focuses it."""
        window = wait_for(lambda: (self.dialogs(title) or [None])[0],
                          "a window titled %r" % title, timeout)
        self.focus(window)
        return window

    def title(self):
        """The main window's title as X shows it."""
        return self.server.tool("xdotool", "getwindowname", str(self.window)).decode().strip()

    def key(self, *keys):
        """Presses keys one after the other, xdotool names: "ctrl+s", "Return", "shift+Down"."""
        self.server.tool("xdotool", "key", "--delay", "30", *keys)

    def type(self, text):
        self.server.tool("xdotool", "type", "--delay", "30", text)

    def click(self, x, y, button=1, window=None):
        """Clicks at a point relative to the window's top left corner."""
        self.server.tool("xdotool", "mousemove", "--window", str(window or self.window),
                         str(x), str(y), "click", str(button))

    def geometry(self, window=None):
        return self.server.geometry(window or self.window)

    def window_image(self, window=None):
        """The window's part of the screen."""
        return self.server.screenshot(rect=self.geometry(window))

    def steady_image(self, grab=None, timeout=DEFAULT_TIMEOUT):
        """A picture (of the window, or what grab returns) once two grabs in a row agree: the
        program has finished painting."""
        grab = grab or self.window_image
        previous = [grab()]

        def same():
            current = grab()
            if current.pixels == previous[0].pixels:
                return current
            previous[0] = current
            return None
        return wait_for(same, "a steady picture", timeout)

    def wait_for_exit(self, timeout=DEFAULT_TIMEOUT):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise DesktopError("morvane did not exit within %.1f s" % timeout) from None

    def output(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def stop(self):
        _kill(self.process)
        self.log.close()


class DesktopTestCase(unittest.TestCase):
    """One X server for the class, fresh folders and programs for each test."""

    @classmethod
    def setUpClass(cls):
        cls.executable = os.environ.get("MORVANE_EXECUTABLE")
        if not cls.executable or not os.path.isfile(cls.executable) \
                or not os.access(cls.executable, os.X_OK):
            # A journey that cannot start the program has checked nothing: that is a failure.
            raise DesktopError("MORVANE_EXECUTABLE does not name the built program: %r"
                               % (cls.executable,))
        missing = [t for t in ("Xvfb", "xdotool", "import") if not shutil.which(t)]
        if missing:
            raise DesktopError("missing programs (run scripts/deps.sh): " + " ".join(missing))
        cls.server = XServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def __init__(self, methodName="runTest"):
        super().__init__(methodName)
        method = getattr(self, methodName, None)
        if method is not None:
            @functools.wraps(method)
            def keep_screen_on_failure(test):
                try:
                    return method()
                except BaseException:
                    test._keep_screenshot()
                    raise
            setattr(self, methodName, types.MethodType(keep_screen_on_failure, self))

    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix="morvane-desktop-")
        self.dir = self._dir.name
        for sub in ("files", "config", "home", "state", "run", "xdg-config"):
            os.mkdir(os.path.join(self.dir, sub), 0o700)
        self.apps = []
        self.addCleanup(self._dir.cleanup)
        self.addCleanup(self._stop_apps)

    def _stop_apps(self):
        for app in self.apps:
            app.stop()

    def _keep_screenshot(self):
        folder = os.environ.get("MORVANE_DESKTOP_FAILURES") or os.path.join(
            os.path.dirname(self.executable), "desktop-failures")
        try:
            os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, self.id().rsplit(".", 2)[-2] + "." +
                                self._testMethodName + ".png")
            self.server.screenshot(path)
            print("\nscreenshot kept: " + path)
            for app in self.apps:
                print("morvane's output:\n" + app.output())
        except Exception as e:  # the test's own failure matters more
            print("\nno screenshot: %s" % e)

    def environment(self):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("MORVANE_", "QT_", "XDG_", "DBUS_"))}
        env.update({
            "DISPLAY": self.server.display,
            "QT_QPA_PLATFORM": "xcb",
            "HOME": os.path.join(self.dir, "files"),
            "MORVANE_CONFIG_DIR": os.path.join(self.dir, "config"),
            "MORVANE_HOME": os.path.join(self.dir, "home"),
            "MORVANE_RUNTIME_DIR": os.path.join(self.dir, "run"),
            "XDG_STATE_HOME": os.path.join(self.dir, "state"),
            "XDG_CONFIG_HOME": os.path.join(self.dir, "xdg-config"),
            "XDG_RUNTIME_DIR": os.path.join(self.dir, "run"),
            # No session bus: nothing may start one behind the test's back.
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.dir, "no-bus"),
            "NO_AT_BRIDGE": "1",
            "MORVANE_TRACE_FILE": os.path.join(self.dir, "trace.log"),
            # The daily update check would reach out to the internet.
            "MORVANE_NO_UPDATE_CHECK": "1",
            # The first start's key map question would push the documents down.
            "MORVANE_NO_KEY_MAP_QUESTION": "1",
        })
        return env

    def start_morvane(self, *args, wait=True, env=None):
        """Starts the program in the test's files folder; by default waits for its window.
        env: changes to the environment (a value of None removes the variable)."""
        environment = self.environment()
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = value
        app = Morvane(self.server, self.executable, args, environment,
                      os.path.join(self.dir, "files"))
        self.apps.append(app)
        if wait:
            app.wait_for_main_window()
        return app

    def path(self, name):
        return os.path.join(self.dir, "files", name)

    def write_file(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read_file(self, name):
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def wait_for(self, condition, what, timeout=DEFAULT_TIMEOUT):
        return wait_for(condition, what, timeout)
