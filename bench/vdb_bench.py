#!/usr/bin/env python3
"""Time vxlconv on film-sized OpenVDB grids against reading the file and
against pyopenvdb reading it, in the same run.

    python3 bench/vdb_bench.py [--build build] [--runs 3]

1. Builds vxlconv (Release) in BUILD, as bench/convert_bench.py does.
2. Writes BUILD/bench-vdb/sphere.vdb (a level-set sphere of radius 200
   voxels) and cloud.vdb (a noisy fog ball of radius 200 voxels) if they are
   missing (tools/make_vdbs.py bench, by pyopenvdb under Debian's
   /usr/bin/python3).
3. Runs, RUNS times each and alternately, one process each: `cat` of the
   file to /dev/null (the floor: reading the bytes), pyopenvdb reading the
   grid and copying its active box to a numpy array (copyToArray), and
   vxlconv with --hollow (the sphere's inside, the cloud at --threshold 0.5:
   the hollow shell keeps the text written small, so the reading shows);
   prints every run's wall time and peak resident memory (the kernel's
   maximum RSS of the process and the children it waited for, vxlconv's
   reading process among them), the medians, and the voxels written.
"""

import argparse
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import convert_bench  # noqa: E402  (build, timed)

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
DEBIAN_PYTHON = "/usr/bin/python3"

# pyopenvdb's reading of a grid into a dense array over its active box.
COPY_TO_ARRAY = """
import sys, numpy, pyopenvdb
grid = pyopenvdb.read(sys.argv[1], sys.argv[2])
low, high = grid.evalActiveVoxelBoundingBox()
array = numpy.zeros(tuple(h - l + 1 for l, h in zip(low, high)), dtype=numpy.float32)
grid.copyToArray(array, ijk=low)
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    convert_bench.build(args.build)
    work = os.path.join(args.build, "bench-vdb")
    sphere, cloud = os.path.join(work, "sphere.vdb"), os.path.join(work, "cloud.vdb")
    if not (os.path.exists(sphere) and os.path.exists(cloud)):
        subprocess.run([DEBIAN_PYTHON, os.path.join(ROOT, "tools", "make_vdbs.py"), "bench", work],
                       check=True)
    vxlconv = os.path.join(args.build, "vxlconv")
    outputs = []
    commands = {}
    for name, path, grid, options in (("sphere", sphere, "surface", []),
                                      ("cloud", cloud, "density", ["--threshold", "0.5"])):
        out = os.path.join(work, name + ".vxl")
        outputs.append(out)
        print("input: %s (%.1f MiB)" % (path, os.path.getsize(path) / 2**20))
        commands[name + " cat"] = ["sh", "-c", 'cat "$0" > /dev/null', path]
        commands[name + " pyopenvdb"] = [DEBIAN_PYTHON, "-c", COPY_TO_ARRAY, path, grid]
        commands[name + " vxlconv"] = [vxlconv, path, out, "--hollow"] + options
    results = {name: [] for name in commands}
    for run in range(args.runs):
        for name, command in commands.items():
            seconds, peak = convert_bench.timed(command)
            results[name].append((seconds, peak))
            print("run %d %-17s %.3f s  peak %.1f MiB" % (run + 1, name, seconds, peak / 2**20))
    for path in outputs:
        with open(path) as f:
            print("%s: %d voxels" % (os.path.basename(path), int(f.readline().split()[0])))
    for name, runs in results.items():
        print("median %-17s %.3f s  peak %.1f MiB" % (
            name, statistics.median(s for s, _ in runs), max(p for _, p in runs) / 2**20))
    return 0


if __name__ == "__main__":
    sys.exit(main())
