#!/usr/bin/env python3
"""Time vxlconv on raw NRRD volumes larger than what it holds: a 6 GiB one
and a 1 GiB one, each a ball of graded values (see tools/sparse_ball.py).

    /usr/bin/python3 bench/stream_bench.py [--build build] [--tmp /tmp]

1. Writes, in a fresh folder under TMP, big.nrrd (2048 x 2048 x 1536
   uint8, 6 GiB; a ball of radius 700, 1.44 billion samples, in the
   middle, the rest holes) and solid.nrrd (1024^3 uint8, 1 GiB, a ball of
   radius 480: 463 million samples).
2. For each: `cat FILE > /dev/null` twice (the second from the page cache:
   the floor), then vxlconv with the options below, then a peer: NumPy
   streaming three slices at a time through np.memmap, thresholding at 1
   and counting the samples and those whose six neighbours all pass.
   Each is one process, timed from start to exit, its peak resident
   memory read by /usr/bin/time.
3. Prints time, peak memory and the ratio to cat; removes the files.

Nothing is written to the repository.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import sparse_ball  # noqa: E402

PEER = r"""
import sys
import numpy as np
path, offset, nx, ny, nz = sys.argv[1], int(sys.argv[2]), *map(int, sys.argv[3:6])
data = np.memmap(path, dtype=np.uint8, mode="r", offset=offset, shape=(nz, ny, nx))
count = hidden = 0
window = [None, None, None]
for z in range(nz + 1):
    window = window[1:] + [data[z] >= 1 if z < nz else None]
    mid = window[1]
    if mid is None:
        continue
    count += int(mid.sum())
    if window[0] is None or window[2] is None:
        continue
    inner = mid[1:-1, 1:-1] & mid[:-2, 1:-1] & mid[2:, 1:-1] & mid[1:-1, :-2] & mid[1:-1, 2:]
    hidden += int((inner & window[0][1:-1, 1:-1] & window[2][1:-1, 1:-1]).sum())
print(count, count - hidden)
"""


def timed(command):
    """Runs `command` under /usr/bin/time: (seconds, peak KiB, stdout)."""
    done = subprocess.run(["/usr/bin/time", "-f", "TIME %e %M"] + command, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=True)
    line = [l for l in done.stderr.splitlines() if l.startswith("TIME ")][-1]
    seconds, peak = line.split()[1:]
    return float(seconds), int(peak), done.stdout


def header_bytes(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    return head.index(b"\n\n") + 2


def run_case(vxlconv, path, dims, option_sets):
    size = os.path.getsize(path)
    subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)
    cat, _, _ = timed(["sh", "-c", 'cat "$0" > /dev/null', path])
    print("%s: %.2f GiB; cat from the page cache %.2f s (%.2f GiB/s)"
          % (os.path.basename(path), size / 2**30, cat, size / 2**30 / cat), flush=True)
    out = os.path.join(os.path.dirname(path), "out.vxl")
    for options in option_sets:
        seconds, peak, _ = timed([vxlconv, path, out] + options)
        with open(out) as f:
            voxels = int(f.readline().split()[0])
        print("  vxlconv %s: %.2f s (%.2fx cat), peak RSS %.0f MiB, %d voxels"
              % (" ".join(options), seconds, seconds / cat, peak / 1024, voxels), flush=True)
    seconds, peak, text = timed([sys.executable, "-c", PEER, path, str(header_bytes(path))]
                                + [str(d) for d in dims])
    print("  peer (NumPy memmap, three slices at a time): %.2f s (%.2fx cat), peak RSS %.0f MiB;"
          " %s samples pass, %s left hollow" % ((seconds, seconds / cat, peak / 1024)
                                                + tuple(text.split())), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--tmp", default="/tmp")
    args = parser.parse_args()
    vxlconv = os.path.abspath(os.path.join(args.build, "vxlconv"))
    work = tempfile.mkdtemp(prefix="stream-bench-", dir=args.tmp)
    try:
        big = os.path.join(work, "big.nrrd")
        sparse_ball.write_ball(big, (2048, 2048, 1536), 700)
        run_case(vxlconv, big, (2048, 2048, 1536),
                 [["--threshold", "1", "--resolution", "256", "--hollow"]])
        os.remove(big)
        solid = os.path.join(work, "solid.nrrd")
        sparse_ball.write_ball(solid, (1024, 1024, 1024), 480)
        run_case(vxlconv, solid, (1024, 1024, 1024),
                 [["--threshold", "1", "--hollow"],
                  ["--threshold", "1", "--resolution", "256", "--hollow"]])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
