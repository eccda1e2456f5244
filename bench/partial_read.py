#!/usr/bin/env python3
"""Memory and time of loads that need only the start of a huge file.

    python3 bench/partial_read.py [--build build]

Makes two files in BUILD/bench-models/ and opens each with the real viewer:

1. preview: the 6,000,000-voxel cloud (214 MB, generated as bench/run.py
   does) with its header's count cut to 1, as a user does to preview the
   start of a huge file. The viewer opens it on a private Xvfb; once the
   first frame is up its peak resident memory (VmHWM) is read.
2. zeros: a valid header ("1000 1") followed by zeros up to 6 GB, a sparse
   file that takes no disk. The viewer refuses it ("Error reading"); its peak
   resident memory comes from getrusage of the finished child.

Each is run three times; every run and the median are printed.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tests"))
import run as bench_run  # noqa: E402
import xvfb  # noqa: E402


def preview_file(build_dir):
    source = bench_run.model_path(build_dir, "cloud", 6000000)
    path = os.path.join(build_dir, "bench-models", "preview-1-of-6000000.vxl")
    if not os.path.exists(path):
        with open(source, "rb") as src, open(path + ".partial", "wb") as out:
            src.readline()  # "6000000 0.5"
            out.write(b"1 0.5\n")
            while True:
                block = src.read(1 << 20)
                if not block:
                    break
                out.write(block)
        os.replace(path + ".partial", path)
    return path


def zeros_file(build_dir):
    path = os.path.join(build_dir, "bench-models", "zeros-6GB.vxl")
    with open(path, "wb") as f:
        f.write(b"1000 1\n")
        f.truncate(6 * 10 ** 9)
    return path


def peak_of_window(binary, display, path):
    start = time.monotonic()
    proc = subprocess.Popen([binary, "-geometry", "400x300+0+0", path],
                            env=dict(os.environ, DISPLAY=display), stderr=subprocess.PIPE)
    try:
        # The window's frame is up once the process stops using the processor.
        last, quiet = None, 0
        while quiet < 10:
            time.sleep(0.05)
            with open("/proc/%d/stat" % proc.pid) as f:
                fields = f.read().split()
            cpu = int(fields[13]) + int(fields[14])
            quiet = quiet + 1 if cpu == last and time.monotonic() - start > 0.5 else 0
            last = cpu
        with open("/proc/%d/status" % proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024.0, time.monotonic() - start
    finally:
        proc.kill()
        proc.wait()


def peak_of_exit(binary, display, path):
    start = time.monotonic()
    proc = subprocess.Popen([binary, path], env=dict(os.environ, DISPLAY=display),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read().decode()
    _, status, usage = os.wait4(proc.pid, 0)
    took = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage.ru_maxrss / 1024.0, took, proc.returncode, err.splitlines()[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    bench_run.build(args.build)
    binary = os.path.join(args.build, "voxscope")

    zeros = zeros_file(args.build)
    preview = preview_file(args.build)
    server, display = xvfb.start("1024x768")
    try:
        zero_runs = [peak_of_exit(binary, display, zeros) for _ in range(3)]
        runs = [peak_of_window(binary, display, preview) for _ in range(3)]
    finally:
        xvfb.stop(server)
        os.remove(zeros)
    for peak, took, status, line in zero_runs:
        print("zeros (6 GB, header 1000 1): status %d, %r, peak resident %.1f MiB, %.3f s" %
              (status, line, peak, took))
    print("zeros: median peak %.1f MiB, %.3f s" % (statistics.median(r[0] for r in zero_runs),
                                                  statistics.median(r[1] for r in zero_runs)))
    for peak, took in runs:
        print("preview (214 MB, header 1 0.5): window drawn, peak resident %.1f MiB "
              "(with the GL driver's own), %.2f s to a quiet window" % (peak, took))
    print("preview: median peak %.1f MiB" % statistics.median(r[0] for r in runs))


if __name__ == "__main__":
    main()
