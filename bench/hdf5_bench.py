#!/usr/bin/env python3
"""Time vxlconv on a tomography-sized HDF5 volume, chunked+gzip and
contiguous, against reading the file and against h5py reading it whole, in
the same run.

    python3 bench/hdf5_bench.py [--build build] [--runs 3]

1. Builds vxlconv (Release) in BUILD.
2. Writes BUILD/bench-hdf5/bench-gzip.h5 and bench-plain.h5 if they are
   missing: the same 800 x 640 x 512 uint16 volume (500 MiB of samples) at
   /exchange/data, chunked 16 x 64 x 64 with gzip and shuffle, and
   contiguous (tools/make_hdf5.py bench, by h5py under Debian's
   /usr/bin/python3).
3. For each file runs, RUNS times each and alternately, one process each:
   `cat` of the file to /dev/null (the floor: reading the bytes), h5py
   reading the dataset whole under /usr/bin/python3, and `vxlconv FILE OUT
   --threshold 3900` (a few thousand voxels: reading and scanning the volume
   without the text); prints every run's wall time and peak resident memory
   (the kernel's maximum RSS of the child and its reaped children: vxlconv
   reads HDF5 in a child process), the medians, and the voxels written.
"""

import argparse
import os
import statistics
import subprocess
import sys

from tiff_bench import timed

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
DEBIAN_PYTHON = "/usr/bin/python3"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    for step in (["-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release"],
                 ["--build", args.build, "-j2", "--target", "vxlconv"]):
        subprocess.run(["cmake"] + step, check=True, stdout=subprocess.DEVNULL)
    work = os.path.join(args.build, "bench-hdf5")
    files = [os.path.join(work, name) for name in ("bench-gzip.h5", "bench-plain.h5")]
    if not all(os.path.exists(path) for path in files):
        subprocess.run([DEBIAN_PYTHON, os.path.join(ROOT, "tools", "make_hdf5.py"), "bench", work],
                       check=True)
    commands = {}
    for path in files:
        kind = "gzip" if "gzip" in path else "plain"
        out = os.path.join(work, kind + ".vxl")
        commands["cat " + kind] = ["sh", "-c", 'cat "$0" > /dev/null', path]
        commands["h5py " + kind] = [
            DEBIAN_PYTHON, "-c",
            "import sys, h5py; h5py.File(sys.argv[1], 'r')['exchange/data'][...]", path]
        commands["vxlconv " + kind] = [os.path.join(args.build, "vxlconv"), path, out,
                                       "--threshold", "3900"]
        print("input: %s (%.1f MiB)" % (path, os.path.getsize(path) / 2**20))
    # Alternately, so that a slower spell of the machine falls on all alike.
    results = {name: [] for name in commands}
    for run in range(1, args.runs + 1):
        for name in commands:
            results[name].append(timed(commands[name]))
            print("run %d %-13s %.3f s  peak %.1f MiB"
                  % (run, name, results[name][-1][0], results[name][-1][1] / 2**20))
    outputs = [os.path.join(work, kind + ".vxl") for kind in ("gzip", "plain")]
    for path in outputs:
        with open(path) as f:
            count = int(f.readline().split()[0])
        print("%s: %d voxels" % (os.path.basename(path), count))
    with open(outputs[0], "rb") as a, open(outputs[1], "rb") as b:
        print("the two voxel files are %s" % ("identical" if a.read() == b.read() else "DIFFERENT"))
    for name, runs in results.items():
        print("median %-13s %.3f s  peak %.1f MiB  (runs: %s)" % (
            name, statistics.median(s for s, _ in runs), max(p for _, p in runs) / 2**20,
            ", ".join("%.3f" % s for s, _ in runs)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
