#!/usr/bin/env python3
"""Write solid voxel sets for the converter's tests: a ball or a box of
voxels, every one of them present (interior included), on the lattice of
multiples of the voxel size, coloured by position so that any interior voxel
that showed would change the picture.

Usage:
    python3 tools/make_solid.py ball RADIUS [--size S] -o FILE
    python3 tools/make_solid.py box NX NY NZ [--size S] -o FILE

The same arguments always give the same bytes.
"""

import argparse
import sys


def colour(i, j, k):
    return ((37 * i + 11 * k) % 200 + 40, (53 * j + 7 * i) % 200 + 40, (29 * k + 13 * j) % 200 + 40)


def ball_cells(radius):
    """Cells (i, j, k) within `radius` cells of the origin cell, in x, y, z order."""
    r2 = radius * radius
    return [(i, j, k) for i in range(-radius, radius + 1) for j in range(-radius, radius + 1)
            for k in range(-radius, radius + 1) if i * i + j * j + k * k <= r2]


def box_cells(nx, ny, nz):
    return [(i, j, k) for i in range(nx) for j in range(ny) for k in range(nz)]


def voxels(cells, size):
    """(x, y, z, r, g, b) for each cell, centres at the cell index times `size`."""
    return [(i * size, j * size, k * size) + colour(i, j, k) for i, j, k in cells]


def hidden_cells(cells):
    """The cells whose six face neighbours are all in the set."""
    present = set(cells)
    steps = ((1, 0, 0), (-1, 0, 0), (0, 1, 0), (0, -1, 0), (0, 0, 1), (0, 0, -1))
    return {c for c in cells if all((c[0] + a, c[1] + b, c[2] + d) in present for a, b, d in steps)}


def voxel_text(voxels, size):
    lines = ["%d %r" % (len(voxels), size)]
    lines += ["%r %r %r %d %d %d" % v for v in voxels]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("shape", choices=("ball", "box"))
    parser.add_argument("dims", type=int, nargs="+")
    parser.add_argument("--size", type=float, default=0.5)
    parser.add_argument("-o", "--output")
    args = parser.parse_args()
    if args.shape == "ball":
        cells = ball_cells(args.dims[0])
    elif len(args.dims) == 3:
        cells = box_cells(*args.dims)
    else:
        parser.error("box needs NX NY NZ")
    text = voxel_text(voxels(cells, args.size), args.size)
    if args.output:
        with open(args.output, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
