#!/usr/bin/env python3
"""Time vxlconv on a microscopy-sized TIFF stack against reading the file
and against tifffile reading it, in the same run.

    python3 bench/tiff_bench.py [--build build] [--runs 3]

1. Builds vxlconv (Release) in BUILD.
2. Writes BUILD/bench-tiff/bench-stack.tif if it is missing: 200 pages of
   512 x 512 uint16 (a ball of falling density; tools/make_tiffs.py bench,
   by tifffile under Debian's /usr/bin/python3).
3. Runs, RUNS times each and alternately, one process each: `cat` of the
   file to /dev/null (the floor: reading the bytes), tifffile.imread of the
   whole stack under /usr/bin/python3, and `vxlconv bench-stack.tif OUT
   --threshold 1000`, and the same with `--threshold 3990` (a few hundred
   voxels: reading and scanning the stack without the text); prints every run's wall time and peak resident memory
   (the kernel's maximum RSS of the child), the medians, and the voxels
   written.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
DEBIAN_PYTHON = "/usr/bin/python3"


def timed(args):
    """Runs a command to its end; returns (seconds, peak RSS in bytes)."""
    start = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(args), err))
    return seconds, usage.ru_maxrss * 1024


def run_alternately(commands, runs, outputs):
    """Runs each of `commands` ({name: argv}) in turn, `runs` rounds; prints
    every run, the voxels in each of the .vxl `outputs`, and the medians."""
    results = {name: [] for name in commands}
    for run in range(runs):
        for name, command in commands.items():
            seconds, peak = timed(command)
            results[name].append((seconds, peak))
            print("run %d %-11s %.3f s  peak %.1f MiB" % (run + 1, name, seconds, peak / 2**20))
    for path in outputs:
        with open(path) as f:
            print("%s: %d voxels" % (os.path.basename(path), int(f.readline().split()[0])))
    for name, runs in results.items():
        print("median %-11s %.3f s  peak %.1f MiB" % (
            name, statistics.median(s for s, _ in runs), max(p for _, p in runs) / 2**20))


def prepare(doc, folder, tool, name):
    """Reads --build and --runs, builds vxlconv (Release) there and writes
    BUILD/FOLDER/NAME with `tools/TOOL bench` when it is missing; returns
    the arguments and the input's path."""
    parser = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "-j2", "--target", "vxlconv"], check=True,
                   stdout=subprocess.DEVNULL)
    work = os.path.join(args.build, folder)
    path = os.path.join(work, name)
    if not os.path.exists(path):
        subprocess.run([DEBIAN_PYTHON, os.path.join(ROOT, "tools", tool), "bench", work],
                       check=True)
    return args, path


def main():
    args, stack = prepare(__doc__, "bench-tiff", "make_tiffs.py", "bench-stack.tif")
    work = os.path.dirname(stack)
    out = os.path.join(work, "out.vxl")
    few = os.path.join(work, "few.vxl")
    commands = {
        "cat": ["sh", "-c", 'cat "$0" > /dev/null', stack],
        "tifffile": [DEBIAN_PYTHON, "-c", "import sys, tifffile; tifffile.imread(sys.argv[1])",
                     stack],
        "vxlconv": [os.path.join(args.build, "vxlconv"), stack, out, "--threshold", "1000"],
        # The same reading and scan with few voxels to write: the reader's share.
        "vxlconv-few": [os.path.join(args.build, "vxlconv"), stack, few, "--threshold",
                        "3990"],
    }
    print("input: %s (%.1f MiB)" % (stack, os.path.getsize(stack) / 2**20))
    run_alternately(commands, args.runs, (out, few))
    return 0


if __name__ == "__main__":
    sys.exit(main())
