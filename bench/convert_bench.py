#!/usr/bin/env python3
"""Time vxlconv on big voxel files, and what hollowing buys the viewer.

    python3 bench/convert_bench.py [--build build] [--sizes 1000000,10000000]
                                   [--runs 3] [--frame-runs 3]
                                   [--coarse 50000000 [--coarse-runs 1]]

1. Builds vxlconv, first_frame_phases and make_models (Release).
2. Generates the models that are missing into BUILD/bench-models/ (the solid
   ball and the random cloud of bench/run.py, seed 1).
3. For each size, runs `vxlconv ball-N.vxl OUT --hollow` RUNS times, one
   process each: wall time from start to exit and the peak resident memory
   (the kernel's maximum RSS of the child). The memory beyond the loaded
   model is the peak, less the peak of the same command on a one-voxel file,
   less the model itself (15 bytes a voxel: three floats and three bytes).
   The 1,000,000-voxel random cloud, where nothing is hidden and every voxel
   is written, is timed the same way.
4. With --coarse N: the solid ball of N voxels made coarser to about
   2,000,000 (`--resolution 156`), and coarser and hollowed, COARSE_RUNS
   times each, timed the same way. (The 50,000,000-voxel ball is a 1.2 GB file and takes a minute and a
   half to generate.)
5. First frame: the 1,000,000-voxel ball, full and hollowed, each opened by
   first_frame_phases (the viewer's own start-up path) on one private Xvfb,
   alternately, FRAME_RUNS times each; prints every run and the medians side
   by side.

Nothing is written to the repository; models and outputs stay in the build
directory.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run as bench_run  # noqa: E402  (bench/run.py: models and the first-frame run)

MODEL_BYTES_PER_VOXEL = 15


def build(build_dir):
    subprocess.run(["cmake", "-S", bench_run.ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "vxlconv",
                    "first_frame_phases", "make_models"], check=True, stdout=subprocess.DEVNULL)


def timed(args):
    """Runs a command to its end; returns (seconds, peak RSS in bytes)."""
    start = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(args), proc.returncode, err))
    return seconds, usage.ru_maxrss * 1024


def count_of(path):
    with open(path) as f:
        return int(f.readline().split()[0])


def conversions(vxlconv, work, models, runs):
    tiny = os.path.join(work, "one.vxl")
    with open(tiny, "w") as f:
        f.write("1 0.5\n0 0 0 1 2 3\n")
    _, base = timed([vxlconv, tiny, os.path.join(work, "one-out.vxl"), "--hollow"])
    print("vxlconv --hollow (base: %.1f MiB peak on a one-voxel file):" % (base / 2**20))
    for name, path in models:
        count = count_of(path)
        out = os.path.join(work, "hollow-" + os.path.basename(path))
        rows = [timed([vxlconv, path, out, "--hollow"]) for _ in range(runs)]
        kept = count_of(out)
        for i, (seconds, peak) in enumerate(rows):
            beyond = (peak - base) / count - MODEL_BYTES_PER_VOXEL
            print("  %s, run %d: %.3f s, peak RSS %.1f MiB, %.1f bytes a voxel beyond the model"
                  % (name, i + 1, seconds, peak / 2**20, beyond))
        seconds = statistics.median(r[0] for r in rows)
        peak = statistics.median(r[1] for r in rows)
        print("  %s: %d voxels in, %d out; median %.3f s, peak RSS %.1f MiB, %.1f bytes a voxel "
              "beyond the model" % (name, count, kept, seconds, peak / 2**20,
                                    (peak - base) / count - MODEL_BYTES_PER_VOXEL), flush=True)


def coarser(vxlconv, work, path, runs):
    count = count_of(path)
    for extra in ((), ("--hollow",)):
        out = os.path.join(work, "coarse.vxl")
        command = [vxlconv, path, out, "--resolution", "156"] + list(extra)
        rows = [timed(command) for _ in range(runs)]
        for i, (seconds, peak) in enumerate(rows):
            print("  run %d: %.3f s, peak RSS %.1f MiB" % (i + 1, seconds, peak / 2**20))
        print("  %s: %d voxels in, %d out; median %.3f s, peak RSS %.1f MiB, %.1f bytes a voxel"
              % (" ".join(command[3:]), count, count_of(out), statistics.median(r[0] for r in rows),
                 statistics.median(r[1] for r in rows) / 2**20,
                 statistics.median(r[1] for r in rows) / count), flush=True)


def first_frames(build_dir, work, vxlconv, ball, runs):
    hollow = os.path.join(work, "hollow-first-frame.vxl")
    timed([vxlconv, ball, hollow, "--hollow"])
    server, display = bench_run.xvfb.start("1024x768")
    results = {"full": [], "hollowed": []}
    try:
        for run in range(runs):
            for name, path in (("full", ball), ("hollowed", hollow)):
                r = bench_run.first_frame_run(build_dir, display, path)
                results[name].append(r)
                print("  %s (%d voxels), run %d: " % (name, count_of(path), run + 1) +
                      ", ".join("%s %.3f s" % (p, r[p]) for p in bench_run.PHASES) +
                      ", peak RSS %.0f MiB" % r["peak RSS"], flush=True)
    finally:
        bench_run.xvfb.stop(server)
    print("  medians of %d:" % runs)
    print("  | phase | full | hollowed |")
    for p in bench_run.PHASES + ["peak RSS"]:
        form = "%.0f MiB" if p == "peak RSS" else "%.3f s"
        print("  | %s | %s | %s |" % (p, *(form % statistics.median(r[p] for r in results[n])
                                         for n in ("full", "hollowed"))))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(bench_run.ROOT, "build"))
    parser.add_argument("--sizes", default="1000000,10000000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--frame-runs", type=int, default=3)
    parser.add_argument("--coarse", type=int, default=0)
    parser.add_argument("--coarse-runs", type=int, default=1)
    args = parser.parse_args()

    build(args.build)
    vxlconv = os.path.join(args.build, "vxlconv")
    sizes = [int(s) for s in args.sizes.split(",") if s]
    models = [("ball %d" % n, bench_run.model_path(args.build, "ball", n)) for n in sizes]
    models.append(("cloud 1000000", bench_run.model_path(args.build, "cloud", 1000000)))
    work = tempfile.mkdtemp(prefix="convert-bench-", dir=args.build)
    conversions(vxlconv, work, models, args.runs)
    if args.coarse > 0:
        print("vxlconv, %d-voxel ball made coarser:" % args.coarse, flush=True)
        coarser(vxlconv, work, bench_run.model_path(args.build, "ball", args.coarse),
                args.coarse_runs)
    if args.frame_runs > 0:
        print("first frame (800x600 on Xvfb, llvmpipe), 1000000-voxel ball:", flush=True)
        first_frames(args.build, work, vxlconv, bench_run.model_path(args.build, "ball", 1000000),
                     args.frame_runs)


if __name__ == "__main__":
    main()
