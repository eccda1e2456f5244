#!/usr/bin/env python3
"""Generate a large voxel file for load and draw benchmarks.

The model is a filled, roughly cubic lattice of COUNT voxels with colour
gradients along x (red), y (green) and z (blue).  The lattice spacing and
voxel size are 0.5, so about half of the coordinates carry a fractional part
("12.5", "-0.5") and the rest are whole numbers ("12"): both paths of the
number parser get exercised.  The lattice is filled plane by plane (z, then y,
then x), so when COUNT is not a perfect cube the last plane is partial.

The output is deterministic: same COUNT, same bytes.

Usage:
    python3 tools/make_large.py --count 1000000 -o /tmp/large.vxl

Without -o the model is written to standard output.
"""

import argparse
import sys


def cube_side(count):
    """Smallest side whose cube holds count voxels (integer arithmetic only)."""
    side = max(1, round(count ** (1.0 / 3.0)))
    while side ** 3 < count:
        side += 1
    while side > 1 and (side - 1) ** 3 >= count:
        side -= 1
    return side


def half_units(n):
    """Write n / 2 exactly: "12", "12.5", "-0.5"."""
    sign = "-" if n < 0 else ""
    whole, odd = divmod(abs(n), 2)
    return "%s%d.5" % (sign, whole) if odd else "%s%d" % (sign, whole)


def gradient(i, side):
    return i * 255 // (side - 1) if side > 1 else 128


def write_model(count, out):
    side = cube_side(count)
    # Coordinates in half units, centred on the origin.
    coords = [half_units(i - side // 2) for i in range(side)]
    shades = [gradient(i, side) for i in range(side)]
    out.write("%d 0.5\n" % count)
    left = count
    for k in range(side):
        if left == 0:
            break
        zs = coords[k]
        b = shades[k]
        plane = []
        for j in range(side):
            ys = coords[j]
            g = shades[j]
            n = min(side, left)
            plane.extend("%s %s %s %d %d %d\n" % (coords[i], ys, zs, shades[i], g, b)
                         for i in range(n))
            left -= n
            if left == 0:
                break
        out.write("".join(plane))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Generate a large voxel lattice.")
    parser.add_argument("--count", type=int, default=1000000,
                        help="number of voxels (default 1000000)")
    parser.add_argument("-o", "--output", help="output file (default: standard output)")
    args = parser.parse_args(argv)
    if args.count < 0:
        parser.error("--count must not be negative")

    if args.output:
        with open(args.output, "w", encoding="ascii", newline="\n") as f:
            write_model(args.count, f)
    else:
        write_model(args.count, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
