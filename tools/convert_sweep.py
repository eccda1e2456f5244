#!/usr/bin/env python3
"""Runs vxlconv on every file under a directory (by default Debian's
assimp-testmodels, some 600 real, odd and deliberately broken models) and
checks that each one is either converted (status 0) or refused (status 1,
nothing on stdout); a crash, any other status or a run over the time limit is
a failure. Not part of the test suite (it takes minutes); run it after
changing the converter.

    tools/convert_sweep.py [--vxlconv build/vxlconv] [--timeout 30] [DIR]
"""

import argparse
import os
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory", nargs="?", default="/usr/share/assimp/models")
    parser.add_argument("--vxlconv", default="build/vxlconv")
    parser.add_argument("--timeout", type=float, default=30.0)
    parser.add_argument("--max-bytes", type=int, default=20 << 20)
    args = parser.parse_args()
    files = sorted(os.path.join(d, f) for d, _, names in os.walk(args.directory) for f in names)
    files = [f for f in files if os.path.getsize(f) <= args.max_bytes]
    converted = refused = 0
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.vxl")
        for path in files:
            try:
                done = subprocess.run([args.vxlconv, path, out], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, timeout=args.timeout)
            except subprocess.TimeoutExpired:
                failures.append((path, "still running after %gs" % args.timeout))
                continue
            if done.stdout:
                failures.append((path, "wrote to stdout"))
            elif done.returncode == 0:
                converted += 1
            elif done.returncode == 1 and not os.path.exists(out):
                refused += 1
            else:
                failures.append((path, "status %d: %s" % (done.returncode, done.stderr[-300:])))
            if os.path.exists(out):
                os.remove(out)
    for path, why in failures:
        print("FAILED %s: %s" % (path, why))
    print("%d files: %d converted, %d refused, %d failed" % (len(files), converted, refused, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
