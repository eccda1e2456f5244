#!/usr/bin/env python3
"""Time the shade stage and the finer resampling of samples on 256^3 volumes.

    python3 bench/shade_finer_bench.py [--build build] [--runs 3]

1. Builds vxlconv (Release), as bench/convert_bench.py does.
2. Writes the inputs that are missing into BUILD/bench-models/:
   ball-256.binvox (tools/make_grids.py: a solid ball of radius 100 in a
   256^3 grid, 4,187,857 voxels) and thick-256.nii (a 256 x 256 x 128 uint8
   NIfTI-1 volume of 1 x 1 x 2 mm samples, 200 inside a ball of radius 100
   mm about the volume's centre and 0 outside).
3. Runs each conversion RUNS times, one process each, and prints the wall
   time and the peak resident memory of the whole vxlconv process (reading,
   the stages, writing the text) and the voxels written. The shade stage's
   own cost is the shaded run less the one with --no-shade; the finer
   resampling's is the --voxel-size 1 run (a 256^3 lattice) against the
   cubes of the largest spacing (128^3), which write an eighth of the voxels
   (both with --no-shade: one value inside is shaded by default).

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
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import convert_bench  # noqa: E402  (build, timed, count_of)
import make_grids  # noqa: E402
import run as bench_run  # noqa: E402


def write_thick(path):
    ni, nj, nk = 256, 256, 128
    with open(path, "wb") as f:
        f.write(make_grids.nifti((ni, nj, nk), "u1", [], pixdim=(1.0, 1.0, 2.0)))
        for k in range(nk):
            z = (k - 63.5) * 2
            plane = bytearray(ni * nj)
            for j in range(nj):
                d2 = (j - 127.5) ** 2 + z * z
                if d2 > 100 * 100:
                    continue
                half = (100 * 100 - d2) ** 0.5
                lo, hi = max(0, int(127.5 - half + 1)), min(ni - 1, int(127.5 + half))
                plane[j * ni + lo : j * ni + hi + 1] = b"\xc8" * (hi - lo + 1)
            f.write(bytes(plane))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(bench_run.ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    convert_bench.build(args.build)
    vxlconv = os.path.join(args.build, "vxlconv")
    models = os.path.join(args.build, "bench-models")
    binvox = os.path.join(models, "ball-256.binvox")
    thick = os.path.join(models, "thick-256.nii")
    if not os.path.exists(binvox):
        subprocess.run([sys.executable, os.path.join(bench_run.ROOT, "tools", "make_grids.py"),
                        "bench", models], check=True)
    if not os.path.exists(thick):
        write_thick(thick)
    work = tempfile.mkdtemp(prefix="shade-finer-bench-", dir=args.build)
    out = os.path.join(work, "out.vxl")
    cases = [
        ("ball-256.binvox --no-shade", [binvox, out, "--no-shade"]),
        ("ball-256.binvox (shaded)", [binvox, out]),
        ("ball-256.binvox --hollow --no-shade", [binvox, out, "--hollow", "--no-shade"]),
        ("ball-256.binvox --hollow (shaded)", [binvox, out, "--hollow"]),
        # One value inside: shaded by default, which these leave out.
        ("thick-256.nii --threshold 100 --no-shade", [thick, out, "--threshold", "100",
                                                      "--no-shade"]),
        ("thick-256.nii --threshold 100 --voxel-size 1 --no-shade",
         [thick, out, "--threshold", "100", "--voxel-size", "1", "--no-shade"]),
    ]
    for name, command in cases:
        rows = [convert_bench.timed([vxlconv] + command) for _ in range(args.runs)]
        for i, (seconds, peak) in enumerate(rows):
            print("  %s, run %d: %.3f s, peak RSS %.1f MiB" % (name, i + 1, seconds, peak / 2**20))
        print("  %s: %d voxels written; median %.3f s, peak RSS %.1f MiB"
              % (name, convert_bench.count_of(out), statistics.median(r[0] for r in rows),
                 statistics.median(r[1] for r in rows) / 2**20), flush=True)


if __name__ == "__main__":
    main()
