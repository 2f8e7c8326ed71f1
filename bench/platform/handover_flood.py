#!/usr/bin/env python3
"""Floods a running Morvane with hand-overs, as a script starting the program in a loop would.

    handover_flood.py EXECUTABLE [--count 2000] [--parallel 8] [--missing]

Starts a first instance on a private Xvfb with its own settings and runtime folders, then starts
the program COUNT times (PARALLEL at once), each start handing one file to the first instance.
With --missing the files do not exist, so each hand-over raises an error message; a helper
presses Return on the screen every few milliseconds, as a user dismissing the boxes would.
Prints how many hand-overs the first instance received, whether it survived, how many starts
failed and the time from the first start to the last hand-over's arrival.
"""

import argparse
import concurrent.futures
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def count_lines(path, prefix):
    """Trace lines are "TIME PID EVENT"; counts the events that start with prefix."""
    try:
        with open(path, "rb") as f:
            return sum(1 for line in f if line.split(b" ", 2)[-1].startswith(prefix))
    except FileNotFoundError:
        return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("executable")
    ap.add_argument("--count", type=int, default=2000)
    ap.add_argument("--parallel", type=int, default=8)
    ap.add_argument("--missing", action="store_true")
    ap.add_argument("--timeout", type=float, default=600.0)
    args = ap.parse_args()
    args.executable = os.path.abspath(args.executable)

    work = tempfile.mkdtemp(prefix="morvane-flood-")
    files = os.path.join(work, "files")
    os.makedirs(files)
    trace = os.path.join(work, "trace.log")
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten",
                             "tcp"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    display = ":" + xvfb.stdout.readline().decode().strip()
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("MORVANE_", "QT_", "XDG_", "DBUS_"))}
    env.update({
        "DISPLAY": display, "QT_QPA_PLATFORM": "xcb", "HOME": files,
        "MORVANE_CONFIG_DIR": os.path.join(work, "config"),
        "MORVANE_HOME": os.path.join(work, "home"),
        "MORVANE_RUNTIME_DIR": os.path.join(work, "run"),
        "XDG_RUNTIME_DIR": os.path.join(work, "run"),
        "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(work, "no-bus"),
        "NO_AT_BRIDGE": "1", "MORVANE_TRACE_FILE": trace,
    })
    first = presser = None
    try:
        first = subprocess.Popen([args.executable], env=env, cwd=files,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while count_lines(trace, b"activated") == 0:
            if time.monotonic() > deadline or first.poll() is not None:
                print("the first instance did not start")
                return 1
            time.sleep(0.1)
        names = []
        for i in range(args.count):
            name = os.path.join(files, "f%05d.txt" % i)
            if not args.missing:
                with open(name, "w") as f:
                    f.write("file %d\n" % i)
            names.append(name)
        if args.missing:
            presser = subprocess.Popen(
                ["sh", "-c", "while :; do xdotool key --clearmodifiers Return; sleep 0.005; done"],
                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def start(name):
            try:
                return subprocess.run([args.executable, name], env=env, cwd=files,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      timeout=60).returncode
            except subprocess.TimeoutExpired:
                return -1

        t0 = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(args.parallel) as pool:
            codes = list(pool.map(start, names))
        sent = time.monotonic() - t0
        failed = sum(1 for c in codes if c != 0)
        deadline = time.monotonic() + args.timeout
        last_count, last_change = -1, time.monotonic()
        while True:
            got = count_lines(trace, b"hand-over ")
            if got != last_count:
                last_count, last_change = got, time.monotonic()
            if got >= args.count - failed or first.poll() is not None:
                break
            if time.monotonic() > deadline or time.monotonic() - last_change > 30:
                break
            time.sleep(0.05)
        drained = time.monotonic() - t0
        alive = first.poll() is None
        status = "alive" if alive else "died (%s)" % (
            signal.Signals(-first.returncode).name if first.returncode < 0 else first.returncode)
        print("hand-overs started %d, failed %d, received %d; first instance %s; "
              "starts done in %.1f s, last hand-over received after %.1f s"
              % (args.count, failed, last_count, status, sent, drained))
        return 0 if alive and last_count == args.count else 1
    finally:
        if presser:
            presser.kill()
            presser.wait()
        for p in (first, xvfb):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
