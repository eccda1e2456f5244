#!/usr/bin/env python3
"""Times vxlrender as a whole process, start to written PNG, as a user or a
file manager runs it:

    python3 bench/vxlrender_bench.py [--build build] [--runs 5]

1. Builds vxlrender and make_models (Release) in the build directory.
2. Generates the models that are missing (bench/run.py's cache,
   BUILD/bench-models/cloud-COUNT.vxl, seed 1).
3. Runs, RUNS times each, one process after another:
     - 100,000 voxels to an 800x600 PNG (front view),
     - 1,000,000 voxels to an 800x600 PNG (front view),
     - a 256-pixel thumbnail of the bundled example (examples/terrain.vxl),
   and prints every run's wall time, the median, the median processor time
   (user and system, all threads: less swayed by other work on the machine
   than the wall time) and the load average before and after.

No display is used. Outputs go to a scratch folder that is removed at the end.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import run as bench_run  # noqa: E402  (bench/run.py: the model cache)


def timed(command):
    """(wall seconds, processor seconds of all its threads) of one run."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    subprocess.run(command, check=True, env=env, stdin=subprocess.DEVNULL, timeout=600)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build)
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "vxlrender", "make_models"],
                   check=True, stdout=subprocess.DEVNULL)
    vxlrender = os.path.join(build_dir, "vxlrender")
    scratch = tempfile.mkdtemp(prefix="vxlrender-bench-")
    cases = [
        ("100,000 voxels to an 800x600 PNG", 0.5,
         [vxlrender, bench_run.model_path(build_dir, "cloud", 100000), "OUT"]),
        ("1,000,000 voxels to an 800x600 PNG", 3.0,
         [vxlrender, bench_run.model_path(build_dir, "cloud", 1000000), "OUT"]),
        ("256-pixel thumbnail of examples/terrain.vxl", 0.3,
         [vxlrender, "--thumbnail", "256", os.path.join(ROOT, "examples", "terrain.vxl"), "OUT"]),
    ]
    print("load average before: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    try:
        for name, hoped, command in cases:
            out = os.path.join(scratch, "out.png")
            command = [out if word == "OUT" else word for word in command]
            timed(command)  # warm the file cache and the driver's libraries
            runs = [timed(command) for _ in range(args.runs)]
            median = statistics.median(wall for wall, _ in runs)
            cpu = statistics.median(cpu for _, cpu in runs)
            print("%-45s median %.3f s (hoped <= %.1f s: %s), processor %.3f s; runs %s" % (
                name, median, hoped, "met" if median <= hoped else "NOT met", cpu,
                " ".join("%.3f" % wall for wall, _ in runs)), flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("load average after: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))


if __name__ == "__main__":
    main()
