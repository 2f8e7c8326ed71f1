#!/usr/bin/env python3
"""Start-up time: from process start to the main window's first paint (offscreen), for morvane
and for a minimal Qt Widgets program, run alternately. Prints the medians in milliseconds.

usage: startup_bench.py BUILD_DIR [--runs N]
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time


def first_paint_ms(cmd, env, trace=None):
    start = time.time_ns() // 1000
    out = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         timeout=60, check=True).stdout.decode()
    text = open(trace).read() if trace else out
    for line in text.splitlines():
        parts = line.split()
        if parts and parts[-1] == "first-paint":
            return (int(parts[0]) - start) / 1000.0
    raise RuntimeError("no first paint reported by " + cmd[0])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build_dir")
    ap.add_argument("--runs", type=int, default=30)
    args = ap.parse_args()
    morvane = os.path.join(args.build_dir, "morvane")
    minimal = os.path.join(args.build_dir, "bench", "startup", "minimal_window")
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                   MORVANE_CONFIG_DIR=os.path.join(tmp, "cfg"),
                   MORVANE_HOME=os.path.join(tmp, "home"),
                   MORVANE_RUNTIME_DIR=os.path.join(tmp, "run"),
                   MORVANE_QUIT_ON_FIRST_PAINT="1")
        trace = os.path.join(tmp, "trace")
        env["MORVANE_TRACE_FILE"] = trace
        # One start to do the first-run set-up, which later starts do not repeat.
        open(trace, "w").close()
        first_paint_ms([morvane], env, trace)
        ours, theirs = [], []
        for _ in range(args.runs):
            open(trace, "w").close()
            ours.append(first_paint_ms([morvane], env, trace))
            theirs.append(first_paint_ms([minimal], env))
    m, q = statistics.median(ours), statistics.median(theirs)
    print(f"morvane        median {m:7.1f} ms  (min {min(ours):.1f}, max {max(ours):.1f})")
    print(f"minimal window median {q:7.1f} ms  (min {min(theirs):.1f}, max {max(theirs):.1f})")
    print(f"ratio {m / q:.2f}")


if __name__ == "__main__":
    main()
