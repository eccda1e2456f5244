#!/usr/bin/env python3
"""Time from starting voxscope on a big file to its first frame on screen.

    python3 bench/first_frame.py [--binary build/voxscope] [--voxels 1000000]

Writes a lattice with tools/make_large.py, starts a private Xvfb, starts the
viewer and polls the window until it shows a non-black picture. Prints the
seconds to the window appearing and to the first frame, and the viewer's peak
resident memory, for each run.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests"))
import xvfb  # noqa: E402


def window_of(display, title, proc, deadline):
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("viewer exited with status %d" % proc.returncode)
        out = subprocess.run(
            ["xdotool", "search", "--name", "^%s$" % title],
            env=dict(os.environ, DISPLAY=display),
            capture_output=True,
            text=True,
        ).stdout.split()
        if out:
            return out[0]
        time.sleep(0.01)
    raise RuntimeError("no window")


def drawn(display, window):
    # The window's brightest channel value: 0 while nothing is drawn.
    shot = subprocess.run(
        ["import", "-window", window, "-format", "%[max]", "info:"],
        env=dict(os.environ, DISPLAY=display),
        capture_output=True,
        text=True,
    )
    try:
        return shot.returncode == 0 and float(shot.stdout or 0) > 0
    except ValueError:
        return False


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "voxscope"))
    parser.add_argument("--voxels", type=int, default=1000000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "lattice.vxl")
        subprocess.run(
            [sys.executable, os.path.join(ROOT, "tools", "make_large.py"),
             "--count", str(args.voxels), "-o", path],
            check=True,
        )
        server, display = xvfb.start("1024x768")
        try:
            for run in range(args.runs):
                start = time.monotonic()
                proc = subprocess.Popen(
                    [args.binary, "-geometry", "800x600+0+0", path],
                    env=dict(os.environ, DISPLAY=display),
                )
                try:
                    deadline = start + 300
                    window = window_of(display, args.binary, proc, deadline)
                    shown = time.monotonic() - start
                    while not drawn(display, window):
                        if time.monotonic() > deadline or proc.poll() is not None:
                            raise RuntimeError("no frame")
                        time.sleep(0.02)
                    first = time.monotonic() - start
                    print(
                        "run %d: %d voxels, window after %.2f s, first frame after %.2f s, "
                        "peak RSS %.0f MiB" % (run + 1, args.voxels, shown, first,
                                               peak_rss_kib(proc.pid) / 1024.0)
                    )
                finally:
                    proc.kill()
                    proc.wait()
        finally:
            xvfb.stop(server)


if __name__ == "__main__":
    main()
