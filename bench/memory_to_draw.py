#!/usr/bin/env python3
"""What drawing a model costs in memory, and the largest model that opens.

    python3 bench/memory_to_draw.py [--build build] [--kind cloud]
                                    [--sizes 0,100000,500000,1000000,2000000]

For each size, runs first_frame_phases (the viewer's own start-up path, the
room check included) under a private Xvfb in an 800x600 window, and prints
what was mapped and filled where the viewer checks its room (right after
loading), the peaks at the first frame, our cube arrays (504 bytes a voxel)
and the rest, which is the GL driver's: its copy of the display list and its
own start-up. A least-squares line through the driver's share gives its cost
per voxel and its fixed part, for address space and resident memory, against
the estimate the viewer uses (render/draw_memory.cpp), and the time to the
first frame.

With --largest, the sizes are models to try one after the other, biggest
last; each line then says whether the viewer opened and drew it, or refused
it, or died, with its peak memory and time to the first frame.

Models are generated into BUILD/bench-models/ with make_models, as bench/run.py
does, and kept there.
"""

import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tests"))
import run as bench_run  # noqa: E402
import xvfb  # noqa: E402

ARRAY_BYTES_PER_VOXEL = 504
MIB = 1024.0 * 1024.0


def run_phases(build_dir, display, path):
    proc = subprocess.run(
        [os.path.join(build_dir, "bench", "first_frame_phases"), "-geometry", "800x600+0+0",
         path],
        env=dict(os.environ, DISPLAY=display), capture_output=True, text=True, timeout=3600)
    result = {"status": proc.returncode, "stderr": proc.stderr.strip()}
    for line in proc.stdout.splitlines():
        parts = line.rsplit(None, 2)
        if len(parts) == 3 and parts[2] in ("s", "MiB"):
            result[parts[0].strip()] = float(parts[1])
        elif len(parts) == 2:
            result[parts[0].strip()] = float(parts[1])
    return result


def fit(points):
    """Least-squares slope and intercept of (x, y) points."""
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    slope = sum((x - mx) * (y - my) for x, y in points) / sxx if sxx else 0.0
    return slope, my - slope * mx


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--kind", default="cloud", choices=["cloud", "ball", "terrain"])
    parser.add_argument("--sizes", default="0,100000,500000,1000000,2000000")
    parser.add_argument("--largest", action="store_true")
    args = parser.parse_args()

    bench_run.build(args.build)
    sizes = [int(s) for s in args.sizes.split(",") if s]
    server, display = xvfb.start("1024x768")
    mapped, resident = [], []
    try:
        for count in sizes:
            path = bench_run.model_path(args.build, args.kind, count)
            r = run_phases(args.build, display, path)
            if args.largest:
                if r["status"] == 0:
                    print("%d voxels (%s): opened and drew the first frame in %.1f s; peak "
                          "resident %.0f MiB, peak mapped %.0f MiB" %
                          (count, args.kind, r["total"], r["peak resident"], r["peak mapped"]),
                          flush=True)
                else:
                    print("%d voxels (%s): status %d: %s" % (count, args.kind, r["status"],
                                                             r["stderr"] or "(no message)"),
                          flush=True)
                continue
            if r["status"] != 0:
                raise SystemExit("%d voxels: status %d: %s" % (count, r["status"], r["stderr"]))
            arrays = count * ARRAY_BYTES_PER_VOXEL / MIB
            driver_mapped = r["peak mapped"] - r["check mapped"] - arrays
            driver_resident = r["peak resident"] - r["check resident"] - arrays
            mapped.append((count, driver_mapped))
            resident.append((count, driver_resident))
            print("%d voxels: at the check %.0f MiB mapped, %.0f MiB resident; peaks %.0f / "
                  "%.0f MiB; arrays %.0f MiB; the driver's share %.0f MiB mapped, %.0f MiB "
                  "resident; first frame after %.1f s" %
                  (count, r["check mapped"], r["check resident"], r["peak mapped"],
                   r["peak resident"], arrays, driver_mapped, driver_resident, r["total"]),
                  flush=True)
    finally:
        xvfb.stop(server)
    if len(mapped) >= 2:
        for name, points in (("mapped", mapped), ("resident", resident)):
            slope, intercept = fit(points)
            print("driver's share, %s: %.0f bytes a voxel + %.0f MiB (least squares over %d "
                  "sizes)" % (name, slope * MIB, intercept, len(points)))


if __name__ == "__main__":
    main()
