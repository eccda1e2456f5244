#!/usr/bin/env python3
"""Time vxlrender drawing a converter input directly against vxlconv to a
voxel file and vxlrender of that file.

    python3 bench/render_inputs_bench.py [--build build] [--runs 3]

1. Needs vxlconv and vxlrender built (Release) in BUILD.
2. Writes the inputs that are missing into BUILD/bench-models/:
   ball-256.binvox (tools/make_grids.py: a solid ball of radius 100 in a
   256^3 grid, 4,187,857 voxels) and ball-256.vox (the same ball written
   by vxlconv as a MagicaVoxel file).
3. Runs each way RUNS times and prints the wall time and the peak resident
   memory: of the one vxlrender process, and of the two steps (times added,
   the larger of the two peaks). The two pictures are compared byte for byte.

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
import convert_bench  # noqa: E402  (timed)
import run as bench_run  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(bench_run.ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    vxlconv = os.path.join(args.build, "vxlconv")
    vxlrender = os.path.join(args.build, "vxlrender")
    models = os.path.join(args.build, "bench-models")
    binvox = os.path.join(models, "ball-256.binvox")
    vox = os.path.join(models, "ball-256.vox")
    if not os.path.exists(binvox):
        subprocess.run([sys.executable, os.path.join(bench_run.ROOT, "tools", "make_grids.py"),
                        "bench", models], check=True)
    if not os.path.exists(vox):
        subprocess.run([vxlconv, binvox, vox], check=True)
    work = tempfile.mkdtemp(prefix="render-inputs-bench-", dir=args.build)
    direct, ref, vxl = (os.path.join(work, n) for n in ("direct.png", "ref.png", "t.vxl"))
    cases = [
        ("ball-256.vox", [vox], []),
        ("ball-256.binvox", [binvox], []),
        ("ball-256.binvox --hollow", [binvox], ["--hollow"]),
    ]
    for name, source, options in cases:
        one, two = [], []
        for _ in range(args.runs):
            one.append(convert_bench.timed([vxlrender] + source + [direct] + options))
            conv = convert_bench.timed([vxlconv] + source + [vxl] + options)
            draw = convert_bench.timed([vxlrender, vxl, ref])
            two.append((conv[0] + draw[0], max(conv[1], draw[1])))
        with open(direct, "rb") as a, open(ref, "rb") as b:
            same = a.read() == b.read()
        ways = (("vxlrender IN out.png", one), ("vxlconv IN t.vxl + vxlrender t.vxl", two))
        for label, rows in ways:
            print("  %s, %s: median %.3f s (runs %s), peak RSS %.1f MiB" % (
                name, label, statistics.median(r[0] for r in rows),
                ", ".join("%.3f" % r[0] for r in rows),
                statistics.median(r[1] for r in rows) / 2**20))
        print("  %s: %d voxels; pictures %s" % (name, convert_bench.count_of(vxl),
                                                "identical" if same else "DIFFER"), flush=True)


if __name__ == "__main__":
    main()
