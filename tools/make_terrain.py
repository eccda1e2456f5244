#!/usr/bin/env python3
"""Generate a coloured voxel terrain in the voxscope text format.

The terrain is a square heightmap of SIZE x SIZE columns laid out in x and z,
with y pointing up.  Heights come from fractal value noise built on a small
integer hash, and every step is integer arithmetic, so the output is
byte-identical on every machine and every Python 3 version.

What the model contains:
  * flat blue water filling every low area up to a fixed water level,
  * sand along the shore, grass greens on the lowlands, grey rock on the
    slopes and white snow on the peaks,
  * outer walls that go down to a common floor, so the block looks solid from
    the sides; the walls show strata: soil brown under grass, banded grey
    stone deeper down and dark bedrock at the bottom.

Only voxels that can be seen are written: each column from its top down to
the lowest top among its four neighbours, and the whole column on the outer
edge.  Colours vary slightly per voxel so that neighbouring faces stay
distinguishable without lighting.

The viewer looks from +z toward -z with +y up, so the model is first seen from
its +z side, where the strata wall faces the camera.

Voxel size is 1, centres are integers and the block is centred near the
origin.  Output: a header line "COUNT 1.0", then one voxel per line as
"x y z r g b".

Usage:
    python3 tools/make_terrain.py [--size N] [--seed S] [-o FILE]

Without -o the model is written to standard output.
"""

import argparse
import sys

MASK32 = 0xFFFFFFFF
ONE = 1 << 16  # fixed-point one for noise values and interpolation weights


def hash32(seed, *values):
    """Mix a seed and integers into a well-spread 32-bit value (FNV-1a + fmix32)."""
    h = (0x811C9DC5 ^ (seed & MASK32)) & MASK32
    for v in values:
        v &= MASK32
        for shift in (0, 8, 16, 24):
            h ^= (v >> shift) & 0xFF
            h = (h * 0x01000193) & MASK32
    # Final avalanche so that nearby inputs give unrelated outputs.
    h ^= h >> 16
    h = (h * 0x85EBCA6B) & MASK32
    h ^= h >> 13
    h = (h * 0xC2B2AE35) & MASK32
    h ^= h >> 16
    return h


def smooth(t):
    """Smoothstep 3t^2 - 2t^3 on a fixed-point weight in [0, ONE]."""
    return (t * t * (3 * ONE - 2 * t)) // (ONE * ONE)


def lerp(a, b, t):
    return a + ((b - a) * t) // ONE


def value_noise(seed, octave, x, z, period):
    """Smoothly interpolated lattice noise in [0, ONE) with the given cell size."""
    cx, fx = divmod(x, period)
    cz, fz = divmod(z, period)
    tx = smooth(fx * ONE // period)
    tz = smooth(fz * ONE // period)

    def corner(i, k):
        return hash32(seed, octave, cx + i, cz + k) & (ONE - 1)

    top = lerp(corner(0, 0), corner(1, 0), tx)
    bottom = lerp(corner(0, 1), corner(1, 1), tx)
    return lerp(top, bottom, tz)


def heightmap(size, seed, max_height):
    """Fractal value noise, stretched to 0..max_height with steeper peaks."""
    periods = []
    p = max(2, size // 2)
    while p >= 2 and len(periods) < 5:
        periods.append(p)
        p //= 2
    raw = []
    for z in range(size):
        row = []
        for x in range(size):
            total = 0
            amp = 1 << len(periods)
            for octave, period in enumerate(periods):
                total += amp * value_noise(seed, octave, x, z, period)
                amp //= 2
            row.append(total)
        raw.append(row)

    lo = min(min(r) for r in raw)
    hi = max(max(r) for r in raw)
    span = max(1, hi - lo)
    heights = []
    for row in raw:
        out = []
        for v in row:
            n = (v - lo) * ONE // span  # 0..ONE
            # Mix of linear and squared: broad lowlands, sharper mountains.
            curved = (n + n * n // ONE) // 2
            out.append(curved * max_height // ONE)
        heights.append(out)
    return heights


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else v


def jitter(seed, x, y, z, base, amount):
    """Shift a colour by a small per-voxel brightness and tint change."""
    h = hash32(seed ^ 0x5A5A5A5A, x, y, z)
    shade = (h & 0xFF) * (2 * amount + 1) // 256 - amount
    tint = ((h >> 8) & 0xFF) * 7 // 256 - 3
    r, g, b = base
    return clamp(r + shade + tint), clamp(g + shade), clamp(b + shade - tint)


WATER = (38, 92, 178)
SAND = (214, 196, 138)
WET_SAND = (176, 156, 104)
GRASS_LOW = (86, 160, 62)
GRASS_HIGH = (58, 124, 48)
SOIL = (122, 84, 52)
ROCK = (128, 126, 122)
SNOW = (242, 244, 250)
STONE_BANDS = ((104, 102, 100), (88, 86, 86), (116, 110, 102), (96, 96, 104))
BEDROCK = (52, 50, 54)


def voxel_colour(seed, x, y, z, top, water_level, snow_line, rock_line, floor):
    """Colour of the ground voxel at height y in a column whose surface is top."""
    depth = top - y
    if y == floor:
        return jitter(seed, x, y, z, BEDROCK, 6)
    if top <= water_level + 1:
        # Shore and sea bed: sand on top, packed sand under it, stone deeper.
        if depth == 0:
            base = WET_SAND if top <= water_level else SAND
            return jitter(seed, x, y, z, base, 10)
        if depth <= 2:
            return jitter(seed, x, y, z, WET_SAND, 8)
    elif top >= snow_line:
        if depth == 0:
            return jitter(seed, x, y, z, SNOW, 5)
        if depth <= 1:
            return jitter(seed, x, y, z, ROCK, 10)
    elif top >= rock_line:
        if depth <= 1:
            return jitter(seed, x, y, z, ROCK, 12)
    else:
        if depth == 0:
            # Grass darkens gently with altitude.
            span = max(1, rock_line - water_level)
            k = (top - water_level) * 256 // span
            base = tuple(lo + (hi - lo) * k // 256 for lo, hi in zip(GRASS_LOW, GRASS_HIGH))
            return jitter(seed, x, y, z, base, 12)
        if depth <= 3:
            return jitter(seed, x, y, z, SOIL, 10)
    # Banded stone, three voxels per band, so the walls show layering.
    band = STONE_BANDS[(y // 3) % len(STONE_BANDS)]
    return jitter(seed, x, y, z, band, 6)


def generate(size, seed):
    max_height = max(8, size * 9 // 16)  # 36 for the default size
    floor = -max(4, size // 10)  # stone under the lowest valley
    water_level = max_height * 8 // 36
    rock_line = max_height * 19 // 36
    snow_line = max_height * 28 // 36

    heights = heightmap(size, seed, max_height)
    # The visible surface of a flooded column is the water, not the sea bed.
    surface = [[max(h, water_level) for h in row] for row in heights]

    # Centre the block on the origin.
    off_x = size // 2
    off_z = size // 2
    off_y = (floor + max_height) // 2

    voxels = []
    for zi in range(size):
        for xi in range(size):
            ground = heights[zi][xi]
            top = surface[zi][xi]
            on_edge = xi in (0, size - 1) or zi in (0, size - 1)
            if on_edge:
                bottom = floor
            else:
                lowest = min(surface[zi - 1][xi], surface[zi + 1][xi],
                             surface[zi][xi - 1], surface[zi][xi + 1])
                bottom = min(top, lowest + 1)
            x = xi - off_x
            z = zi - off_z
            for y in range(top, bottom - 1, -1):
                if y > ground:
                    # Water: a touch darker with depth.
                    d = water_level - y
                    base = (WATER[0] - 6 * d, WATER[1] - 8 * d, WATER[2] - 10 * d)
                    colour = jitter(seed, xi, y, zi, base, 4)
                else:
                    colour = voxel_colour(seed, xi, y, zi, ground, water_level,
                                          snow_line, rock_line, floor)
                voxels.append((x, y - off_y, z) + colour)
    return voxels


def main(argv=None):
    parser = argparse.ArgumentParser(description="Generate a coloured voxel terrain.")
    parser.add_argument("--size", type=int, default=64, help="columns per side (default 64)")
    parser.add_argument("--seed", type=int, default=1, help="noise seed (default 1)")
    parser.add_argument("-o", "--output", help="output file (default: standard output)")
    args = parser.parse_args(argv)
    if args.size < 3:
        parser.error("--size must be at least 3")

    voxels = generate(args.size, args.seed)
    lines = ["%d 1.0" % len(voxels)]
    lines.extend("%d %d %d %d %d %d" % v for v in voxels)
    text = "\n".join(lines) + "\n"
    if args.output:
        with open(args.output, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
