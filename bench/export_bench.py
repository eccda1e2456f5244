#!/usr/bin/env python3
"""Time vxlconv's mesh and .vox outputs against the hollow voxel file.

    python3 bench/export_bench.py [--build build] [--runs 5] [--big 10000000]
                                  [--big-runs 1]

1. Builds vxlconv and make_models (Release).
2. Generates the solid ball of 1,000,000 voxels (and of --big voxels) into
   BUILD/bench-models/ with make_models, seed 1, as bench/run.py does.
3. Runs, alternately and RUNS times each, one process a run:
   `vxlconv ball.vxl shell.vxl --hollow` and `vxlconv ball.vxl ball.glb`,
   and once each the other mesh outputs (.gltf, .obj, .ply, .stl, .vox, and
   .glb with --mesh faces and cubes); prints every run's wall time (start to
   exit) and peak resident memory (the kernel's maximum RSS of the child),
   the medians, and the ratio of the .glb median to the hollow median.
4. With --big N: `vxlconv ball-N.vxl ball-N.glb` BIG_RUNS times, with time,
   peak memory, triangles and file size.

Nothing is written to the repository; models and outputs stay in the build
directory.
"""

import argparse
import json
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run as bench_run  # noqa: E402  (bench/run.py: the models)


def build(build_dir):
    subprocess.run(["cmake", "-S", bench_run.ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "vxlconv", "make_models"],
                   check=True, stdout=subprocess.DEVNULL)


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


def glb_triangles(path):
    with open(path, "rb") as f:
        head = f.read(20)
        (length,) = struct.unpack_from("<I", head, 12)
        doc = json.loads(f.read(length))
    prim = doc["meshes"][0]["primitives"][0]
    return doc["accessors"][prim["indices"]]["count"] // 3


def row(label, runs):
    times = [t for t, _ in runs]
    peak = max(m for _, m in runs)
    print("  %-34s %s  median %.3f s  peak %.1f MiB" % (
        label, ", ".join("%.3f" % t for t in times), statistics.median(times), peak / 2**20))
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(bench_run.ROOT, "build"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--big", type=int, default=0)
    parser.add_argument("--big-runs", type=int, default=1)
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build)
    build(build_dir)
    vxlconv = os.path.join(build_dir, "vxlconv")
    ball = bench_run.model_path(build_dir, "ball", 1000000)
    print("load average %.2f %.2f %.2f" % os.getloadavg())
    with tempfile.TemporaryDirectory(prefix="export-bench-", dir=build_dir) as work:
        hollow, glb = [], []
        for _ in range(args.runs):
            hollow.append(timed([vxlconv, ball, os.path.join(work, "shell.vxl"), "--hollow"]))
            glb.append(timed([vxlconv, ball, os.path.join(work, "ball.glb")]))
        print("1,000,000-voxel ball (%s):" % os.path.basename(ball))
        h = row("vxlconv ball.vxl shell.vxl --hollow", hollow)
        g = row("vxlconv ball.vxl ball.glb", glb)
        print("  .glb / hollow: %.2f (%d triangles)" % (g / h, glb_triangles(
            os.path.join(work, "ball.glb"))))
        for name, extra in (("ball.gltf", []), ("ball.obj", []), ("ball.ply", []),
                            ("ball.stl", []), ("ball.vox", []),
                            ("faces.glb", ["--mesh", "faces"]),
                            ("cubes.glb", ["--mesh", "cubes"])):
            out = os.path.join(work, name)
            row(" ".join(["vxlconv ball.vxl", name] + extra),
                [timed([vxlconv, ball, out] + extra)])
        if args.big:
            big = bench_run.model_path(build_dir, "ball", args.big)
            out = os.path.join(work, "big.glb")
            runs = [timed([vxlconv, big, out]) for _ in range(args.big_runs)]
            print("%d-voxel ball (%s):" % (args.big, os.path.basename(big)))
            row("vxlconv %s big.glb" % os.path.basename(big), runs)
            print("  %d triangles, %.1f MiB" % (glb_triangles(out), os.path.getsize(out) / 2**20))
    print("load average %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
