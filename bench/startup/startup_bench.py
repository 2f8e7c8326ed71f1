#!/usr/bin/env python3
"""Start-up time, offscreen: from process start to the main window's first paint, for morvane and
for a minimal Qt Widgets program run alternately, and for morvane also to "ready" (highlighters
compiled, command-line files open). Prints medians in milliseconds.

usage: startup_bench.py BUILD_DIR [--runs N]
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time


def run_events(cmd, env, trace=None):
    """Runs cmd to its end; returns {event: milliseconds after the start} from its trace file
    (or its output, for a program without one)."""
    start = time.time_ns() // 1000
    out = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         timeout=60, check=True).stdout.decode()
    text = open(trace).read() if trace else out
    events = {}
    for line in text.splitlines():
        parts = line.split()
        if len(parts) >= 2:
            events.setdefault(parts[-1], (int(parts[0]) - start) / 1000.0)
    return events


def describe(name, values):
    return (f"{name:15s} median {statistics.median(values):7.1f} ms"
            f"  (min {min(values):.1f}, max {max(values):.1f})")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build_dir")
    ap.add_argument("--runs", type=int, default=30)
    args = ap.parse_args()
    morvane = os.path.join(args.build_dir, "morvane")
    minimal = os.path.join(args.build_dir, "bench", "startup", "minimal_window")
    with tempfile.TemporaryDirectory() as tmp:
        trace = os.path.join(tmp, "trace")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                   MORVANE_CONFIG_DIR=os.path.join(tmp, "cfg"),
                   MORVANE_HOME=os.path.join(tmp, "home"),
                   MORVANE_RUNTIME_DIR=os.path.join(tmp, "run"),
                   MORVANE_TRACE_FILE=trace,
                   MORVANE_QUIT_ON_FIRST_PAINT="1")
        ready_env = dict(env, MORVANE_QUIT_ON_FIRST_PAINT="0", MORVANE_QUIT_WHEN_READY="1")
        open(trace, "w").close()
        run_events([morvane], env, trace)  # the first-run set-up, not repeated later
        paint, ready, minimal_paint = [], [], []
        for _ in range(args.runs):
            open(trace, "w").close()
            paint.append(run_events([morvane], env, trace)["first-paint"])
            open(trace, "w").close()
            ready.append(run_events([morvane], ready_env, trace)["activated"])
            minimal_paint.append(run_events([minimal], env)["first-paint"])
    print(describe("morvane paint", paint))
    print(describe("morvane ready", ready))
    print(describe("minimal window", minimal_paint))
    print(f"ratio (first paint) {statistics.median(paint) / statistics.median(minimal_paint):.2f}")


if __name__ == "__main__":
    main()
