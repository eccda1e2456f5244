#!/usr/bin/env python3
"""Time vxlconv on a 200 MiB Zarr store against reading its chunk files and
against zarr-python reading it whole, in the same run.

    python3 bench/zarr_bench.py [--build build] [--runs 3]

1. Builds vxlconv (Release) in BUILD.
2. Writes BUILD/bench-zarr/bench.zarr if it is missing: 200 x 512 x 1024
   uint16 in chunks of 32 x 128 x 128, blosc lz4 with byte shuffle (a
   flattened ball of falling density; tools/make_zarr.py bench, by zarr
   2.13 under Debian's /usr/bin/python3).
3. Runs, RUNS times each and alternately, one process each: `cat` of every
   file of the store to /dev/null (the floor: reading the bytes),
   `zarr.open(STORE)[...]` under /usr/bin/python3 (the whole array
   decoded), `vxlconv bench.zarr OUT --threshold 1000`, and the same with
   `--threshold 2990` (a few voxels: reading, decoding and scanning without
   the text); prints every run's wall time and peak resident memory (the
   kernel's maximum RSS of the child), the medians, and the voxels written.
"""

import os
import sys

from tiff_bench import DEBIAN_PYTHON, prepare, run_alternately


def store_bytes(store):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(store)
               for f in files)


def main():
    args, store = prepare(__doc__, "bench-zarr", "make_zarr.py", "bench.zarr")
    work = os.path.dirname(store)
    out = os.path.join(work, "out.vxl")
    few = os.path.join(work, "few.vxl")
    vxlconv = os.path.join(args.build, "vxlconv")
    commands = {
        "cat": ["sh", "-c", 'find "$0" -type f -exec cat {} + > /dev/null', store],
        "zarr": [DEBIAN_PYTHON, "-c", "import sys, zarr; zarr.open(sys.argv[1], mode='r')[...]",
                 store],
        "vxlconv": [vxlconv, store, out, "--threshold", "1000"],
        # The same reading and scan with few voxels to write: the reader's share.
        "vxlconv-few": [vxlconv, store, few, "--threshold", "2990"],
    }
    print("input: %s (%.1f MiB in its files, 200.0 MiB decoded)" % (
        store, store_bytes(store) / 2**20))
    run_alternately(commands, args.runs, (out, few))
    return 0


if __name__ == "__main__":
    sys.exit(main())
