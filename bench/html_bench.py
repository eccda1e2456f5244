#!/usr/bin/env python3
"""What vxlconv's web page costs for large voxel sets.

    python3 bench/html_bench.py [--build build] [--count 1000000] [--runs 3]
                                [--kinds ball,terrain,cloud] [--size 800x600]
                                [--chromium /usr/bin/chromium]

1. Builds vxlconv and make_models (Release) and generates the benchmark
   models of COUNT voxels (solid ball, terrain, random cloud, seed 1: the
   cloud's voxels lie on no lattice, so each is a whole cube, the largest
   mesh a million voxels make) into BUILD/bench-models/, as bench/run.py
   does.
2. For each: `vxlconv MODEL.vxl MODEL.glb` and `vxlconv MODEL.vxl
   MODEL.html` (wall time, peak memory), the sizes of both and the
   triangles of the mesh.
3. Opens the page RUNS times in headless Chromium (software GL, as the
   end-to-end test does, through tests/e2e/node/open_page.js and the
   playwright-core the e2e_node_tools test installs into BUILD/node-tools):
   seconds from navigation to the first picture, and the median time from a
   pointer move to its frame during a left drag.

Nothing is written to the repository.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import export_bench  # noqa: E402  (timed, glb_triangles)
import run as bench_run  # noqa: E402  (the models)


def open_page(build_dir, chromium, page, folder, width, height):
    env = dict(os.environ, NODE_PATH=os.path.join(build_dir, "node-tools", "node_modules"))
    done = subprocess.run(["node", os.path.join(bench_run.ROOT, "tests", "e2e", "node", "open_page.js"),
                           chromium, page, folder, str(width), str(height), "measure"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=1200)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.decode(errors="replace"))
    seen = json.loads(done.stdout)
    if seen["errors"] or seen["pageError"]:
        raise RuntimeError("the page failed: %r %r" % (seen["errors"], seen["pageError"]))
    return seen


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(bench_run.ROOT, "build"))
    parser.add_argument("--count", type=int, default=1000000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--kinds", default="ball,terrain,cloud")
    parser.add_argument("--size", default="800x600")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build)
    export_bench.build(build_dir)
    width, height = (int(v) for v in args.size.split("x"))
    vxlconv = os.path.join(build_dir, "vxlconv")
    print("load average %.2f %.2f %.2f" % os.getloadavg())
    with tempfile.TemporaryDirectory(prefix="html-bench-", dir=build_dir) as work:
        for kind in args.kinds.split(","):
            model = bench_run.model_path(build_dir, kind, args.count)
            glb, page = os.path.join(work, kind + ".glb"), os.path.join(work, kind + ".html")
            glb_time, glb_peak = export_bench.timed([vxlconv, model, glb])
            page_time, page_peak = export_bench.timed([vxlconv, model, page])
            glb_size, page_size = os.path.getsize(glb), os.path.getsize(page)
            print("%s, %d voxels: %d triangles" % (kind, args.count, export_bench.glb_triangles(glb)))
            print("  vxlconv %s.vxl %s.glb   %.2f s, peak %.0f MiB, %.1f MiB" % (
                kind, kind, glb_time, glb_peak / 2**20, glb_size / 2**20))
            print("  vxlconv %s.vxl %s.html  %.2f s, peak %.0f MiB, %.1f MiB (%.0f%% of the .glb)" % (
                kind, kind, page_time, page_peak / 2**20, page_size / 2**20,
                100.0 * page_size / glb_size))
            firsts, frames = [], []
            for run in range(args.runs):
                shots = os.path.join(work, "%s-%d" % (kind, run))
                os.mkdir(shots)
                seen = open_page(build_dir, args.chromium, page, shots, width, height)
                firsts.append(seen["firstPictureSeconds"])
                frames.append(statistics.median(seen["dragFrameSeconds"]))
            print("  first picture at %s: %s s, median %.2f s; drag frame median %s s" % (
                args.size, ", ".join("%.2f" % t for t in firsts), statistics.median(firsts),
                ", ".join("%.3f" % t for t in frames)))
    print("load average %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
