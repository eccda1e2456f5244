#!/usr/bin/env python3
"""Reproduce every load and first-frame figure of bench/RESULTS.md in one go.

    python3 bench/run.py [--build build] [--sizes 100000,1000000,10000000]
                         [--kind cloud] [--runs 3] [--ratio-runs 5]

1. Builds the benchmark programs (Release) in the build directory.
2. Generates the models that are missing into BUILD/bench-models/ with
   make_models (deterministic: KIND-COUNT.vxl, seed 1).
3. Reader ratio: runs load_bench on the 1,000,000-voxel model RATIO_RUNS
   times; each run loads the file 15 times each with the fscanf loop, the
   loader held to one thread and the loader as it runs (two threads),
   in turn, and takes each one's median; prints each run's ratios and the
   medians of the runs, and the cube-array time.
4. First frame: on a private Xvfb (800x600 window), runs first_frame_phases,
   the viewer's own start-up path timed step by step, once per process, RUNS
   times per size (once for 10,000,000 voxels); prints each run and the
   medians, with our own share (read + framing + arrays) of the time to the
   first frame.

Nothing is written to the repository; the models stay cached in the build
directory for the next run.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests"))
import xvfb  # noqa: E402

PHASES = ["read", "arrays", "window", "framing", "list compile", "first draw", "total"]


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "load_bench",
                    "first_frame_phases", "make_models"], check=True, stdout=subprocess.DEVNULL)


def model_path(build_dir, kind, count):
    cache = os.path.join(build_dir, "bench-models")
    os.makedirs(cache, exist_ok=True)
    path = os.path.join(cache, "%s-%d.vxl" % (kind, count))
    if not os.path.exists(path):
        print("generating %s" % path, flush=True)
        partial = path + ".partial"
        subprocess.run([os.path.join(build_dir, "bench", "make_models"), kind, "-o", partial,
                        str(count), "1"], check=True, timeout=1800)
        os.replace(partial, path)
    return path


def reader_ratio(build_dir, path, runs):
    rows = []
    for run in range(runs):
        out = subprocess.run(
            [os.path.join(build_dir, "bench", "load_bench"), "--file=" + path,
             "--benchmark_format=json", "--benchmark_filter=ReaderRatio|BuildVoxelArrays"],
            check=True, capture_output=True, text=True, timeout=1200).stdout
        found = {b["name"].split("/")[0]: b for b in json.loads(out)["benchmarks"]}
        r = found["BM_ReaderRatio"]
        row = {"fscanf": r["fscanf_ms"], "one": r["one_thread_ms"], "two": r["two_threads_ms"],
               "ratio one": r["ratio_one_thread"], "ratio two": r["ratio"],
               "arrays": found["BM_BuildVoxelArrays"]["real_time"]}
        rows.append(row)
        print("  run %d: " % (run + 1) + describe_ratio(row), flush=True)
    median = {k: statistics.median(row[k] for row in rows) for k in rows[0]}
    print("  median: " + describe_ratio(median))


def describe_ratio(row):
    return ("fscanf loop %.1f ms; loader on one thread %.1f ms (%.1fx), on two %.1f ms (%.1fx); "
            "cube arrays %.1f ms" % (row["fscanf"], row["one"], row["ratio one"], row["two"],
                                     row["ratio two"], row["arrays"]))


def first_frame_run(build_dir, display, path):
    proc = subprocess.run(
        [os.path.join(build_dir, "bench", "first_frame_phases"), "-geometry", "800x600+0+0",
         path],
        env=dict(os.environ, DISPLAY=display), capture_output=True, text=True, timeout=1800)
    if proc.returncode != 0:
        raise RuntimeError("first_frame_phases failed (%d): %s" % (proc.returncode, proc.stderr))
    result = {}
    for line in proc.stdout.splitlines():
        name, value = line.rsplit(None, 2)[0], line.rsplit(None, 2)[1]
        result[name.strip()] = float(value)
    return result


def first_frame(build_dir, paths, runs):
    server, display = xvfb.start("1024x768")
    try:
        for count, path in paths:
            results = []
            for run in range(1 if count >= 10000000 else runs):
                r = first_frame_run(build_dir, display, path)
                results.append(r)
                own = r["read"] + r["arrays"] + r["framing"]
                print("  %d voxels, run %d: " % (count, run + 1) +
                      ", ".join("%s %.3f s" % (p, r[p]) for p in PHASES) +
                      ", peak RSS %.0f MiB, own share %.1f%%" % (r["peak RSS"],
                                                                 100 * own / r["total"]),
                      flush=True)
            med = {k: statistics.median(r[k] for r in results) for k in results[0]}
            own = med["read"] + med["arrays"] + med["framing"]
            print("  %d voxels, median of %d: " % (count, len(results)) +
                  ", ".join("%s %.3f s" % (p, med[p]) for p in PHASES) +
                  ", peak RSS %.0f MiB, own share %.1f%%" % (med["peak RSS"], 100 * own / med["total"]))
    finally:
        xvfb.stop(server)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--sizes", default="100000,1000000,10000000")
    parser.add_argument("--kind", default="cloud", choices=["cloud", "ball", "terrain"])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--ratio-runs", type=int, default=5)
    args = parser.parse_args()

    build(args.build)
    sizes = [int(s) for s in args.sizes.split(",") if s]
    paths = [(n, model_path(args.build, args.kind, n)) for n in sizes]
    if args.ratio_runs > 0:
        print("reader and cube arrays, 1000000 voxels (%s):" % args.kind, flush=True)
        reader_ratio(args.build, model_path(args.build, args.kind, 1000000), args.ratio_runs)
    if args.runs > 0:
        print("first frame (800x600 on Xvfb, llvmpipe):", flush=True)
        first_frame(args.build, paths, args.runs)


if __name__ == "__main__":
    main()
