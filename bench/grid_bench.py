#!/usr/bin/env python3
"""Time vxlconv on big voxel grids: a 256^3 binvox and a 512^3 uint8 .npy.

    python3 bench/grid_bench.py [--build build] [--runs 3]

1. Builds vxlconv (Release), as bench/convert_bench.py does.
2. Writes the inputs that are missing into BUILD/bench-models/ with
   tools/make_grids.py: ball-256.binvox (a solid ball of radius 100 in a
   256^3 grid, 4,187,857 voxels) and shell-512.npy (a 512^3 uint8 array of
   four labelled spherical shells, two samples thick, at radii 60 to 240).
3. Runs each conversion RUNS times, one process each: wall time from start
   to exit (the whole vxlconv process: reading, decoding, the stages and
   writing the text), the peak resident memory, and the number of voxels
   written. The binvox is converted in full and with --hollow.

Nothing is written to the repository.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import convert_bench  # noqa: E402  (build, timed, count_of)
import run as bench_run  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(bench_run.ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    convert_bench.build(args.build)
    vxlconv = os.path.join(args.build, "vxlconv")
    models = os.path.join(args.build, "bench-models")
    binvox = os.path.join(models, "ball-256.binvox")
    npy = os.path.join(models, "shell-512.npy")
    if not (os.path.exists(binvox) and os.path.exists(npy)):
        subprocess.run([sys.executable, os.path.join(bench_run.ROOT, "tools", "make_grids.py"),
                        "bench", models], check=True)
    work = tempfile.mkdtemp(prefix="grid-bench-", dir=args.build)
    out = os.path.join(work, "out.vxl")
    cases = [("ball-256.binvox", [binvox, out]), ("ball-256.binvox --hollow", [binvox, out, "--hollow"]),
             ("shell-512.npy", [npy, out])]
    for name, command in cases:
        rows = [convert_bench.timed([vxlconv] + command) for _ in range(args.runs)]
        for i, (seconds, peak) in enumerate(rows):
            print("  %s, run %d: %.3f s, peak RSS %.1f MiB" % (name, i + 1, seconds, peak / 2**20))
        print("  %s: %d voxels written; median %.3f s, peak RSS %.1f MiB"
              % (name, convert_bench.count_of(out), statistics.median(r[0] for r in rows),
                 statistics.median(r[1] for r in rows) / 2**20), flush=True)


if __name__ == "__main__":
    main()
