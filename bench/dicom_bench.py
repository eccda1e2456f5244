#!/usr/bin/env python3
"""vxlconv on DICOM series against the same samples as one NIfTI file:
prints the median wall time of each (and their ratio) and the peak resident
memory of the parent and of the child that decodes the series, as
/usr/bin/time -v and getrusage see them. Needs Debian's python3-pydicom and
python3-nibabel (tools/deps.sh test); the series are written once into
build/bench-dicom/ by tools/make_dicom.py.

    bench/dicom_bench.py [--vxlconv build/vxlconv] [--runs 5]
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")


def make(folder, slices, size):
    if os.path.isdir(os.path.join(folder, "big")):
        return
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "make_dicom.py"), folder,
                    str(slices), str(size)], check=True, timeout=1800)


def timed(vxlconv, source, out, runs):
    """Median seconds of `runs` conversions, and the peak RSS (KiB) of the
    children they started, as getrusage reports it."""
    seconds = []
    for _ in range(runs):
        started = time.monotonic()
        subprocess.run([vxlconv, source, out, "--threshold", "300"], check=True,
                       stderr=subprocess.DEVNULL, timeout=600)
        seconds.append(time.monotonic() - started)
    return statistics.median(seconds), seconds


def peak_memory(vxlconv, source, out):
    done = subprocess.run(["/usr/bin/time", "-v", vxlconv, source, out, "--threshold", "300"],
                          stderr=subprocess.PIPE, check=True, timeout=600)
    for line in done.stderr.decode().splitlines():
        if "Maximum resident set size" in line:
            return int(line.split()[-1])
    return -1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vxlconv", default=os.path.join(ROOT, "build", "vxlconv"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    vxlconv = os.path.abspath(args.vxlconv)
    base = os.path.join(ROOT, "build", "bench-dicom")
    out = os.path.join(base, "out.vxl")
    for slices, size in ((100, 256), (512, 512)):
        folder = os.path.join(base, "%dx%d" % (slices, size))
        make(folder, slices, size)
        series, nifti = os.path.join(folder, "big"), os.path.join(folder, "big.nii")
        runs = args.runs if slices == 100 else 1
        dicom_median, dicom_all = timed(vxlconv, series, out, runs)
        nifti_median, nifti_all = timed(vxlconv, nifti, out, runs)
        print("%d slices of %dx%d: DICOM series %.2f s, the same samples as NIfTI %.2f s, "
              "ratio %.2f (medians of %d; DICOM %s, NIfTI %s)"
              % (slices, size, size, dicom_median, nifti_median, dicom_median / nifti_median,
                 runs, " ".join("%.2f" % s for s in dicom_all),
                 " ".join("%.2f" % s for s in nifti_all)))
        # /usr/bin/time -v reports the largest of the process and the
        # children it waited for: the reader's child is one of them.
        print("  peak resident memory (/usr/bin/time -v): DICOM %d MiB, NIfTI %d MiB"
              % (peak_memory(vxlconv, series, out) // 1024,
                 peak_memory(vxlconv, nifti, out) // 1024))
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    print("largest child of this script (getrusage): %d MiB" % (children.ru_maxrss // 1024))


if __name__ == "__main__":
    sys.exit(main())
