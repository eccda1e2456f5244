"""OpenVDB files written by the format's own library, Debian's python3-openvdb
(run under /usr/bin/python3), and what that library reads back from them.

    make_vdbs.py samples DIR   the end-to-end test's grids, and vdbs.json: for
                               each, the voxel count numpy finds in what
                               copyToArray gives over the active box, and a
                               few voxels' world centres
    make_vdbs.py bench DIR     a level-set sphere of radius 200 voxels and a
                               fog cloud of the same size, for the benchmark
    make_vdbs.py seeds DIR     the input fuzzer's two smallest grids (a tree's
                               topology alone takes some 10 KB; the table's
                               tests start a reading process for each
                               damaged version, so the second is kept
                               gzip-compressed)
"""

import json
import os
import sys

import numpy as np
import pyopenvdb as vdb


def linear(voxel_size, translation):
    """A linear transform: uniform scale, then the translation."""
    s = float(voxel_size)
    tx, ty, tz = (float(t) for t in translation)
    return vdb.createLinearTransform([[s, 0, 0, 0], [0, s, 0, 0], [0, 0, s, 0], [tx, ty, tz, 1]])


def dense(grid):
    """The grid's values over its active box, as copyToArray reads them, and
    the box's lowest index."""
    low, high = grid.evalActiveVoxelBoundingBox()
    shape = tuple(h - l + 1 for l, h in zip(low, high))
    if isinstance(grid, vdb.Vec3SGrid):
        array = np.zeros(shape + (3,), dtype=np.float32)
    elif isinstance(grid, vdb.BoolGrid):
        array = np.zeros(shape, dtype=bool)
    else:
        array = np.zeros(shape, dtype=np.float32)
    grid.copyToArray(array, ijk=low)
    return array, low


def fog_cloud(radius, seed, name="density"):
    """A noisy density ball: densities fall from 1 at the centre to 0 at
    `radius`, with noise, and are inactive (0) outside."""
    n = 2 * radius + 1
    axis = np.arange(n, dtype=np.float64) - radius
    y, z = np.meshgrid(axis, axis, indexing="ij")
    noise = np.random.RandomState(seed)
    grid = vdb.FloatGrid()
    grid.name = name
    grid.gridClass = vdb.GridClass.FOG_VOLUME
    # A slab of x at a time, so that a big cloud never needs its whole box
    # in doubles.
    for i, x in enumerate(axis):
        r = np.sqrt(x * x + y * y + z * z) / radius
        density = np.clip(1.0 - r + 0.35 * (noise.rand(n, n) - 0.5), 0.0, 1.0)
        density[r > 1.0] = 0.0
        grid.copyFromArray(density.astype(np.float32)[np.newaxis],
                           ijk=(i - radius, -radius, -radius), tolerance=0)
    return grid


def centres(grid, picked):
    """World centres of the voxels at the given indices."""
    return [[list(map(int, ijk)), list(grid.transform.indexToWorld(tuple(map(int, ijk))))]
            for ijk in picked]


def samples(folder):
    expected = {}

    fog = fog_cloud(12, 1)
    fog.transform = linear(0.5, (10.0, -3.0, 2.25))
    vdb.write(os.path.join(folder, "fog.vdb"), grids=[fog])
    values, low = dense(fog)
    threshold = 0.3
    passing = np.argwhere(values.astype(np.float64) >= threshold)
    expected["fog.vdb"] = {
        "threshold": threshold,
        "count": int(len(passing)),
        "centres": centres(fog, [tuple(p + np.array(low)) for p in passing[:: max(1, len(passing) // 5)]]),
        "voxel_size": 0.5,
    }

    sphere = vdb.createLevelSetSphere(radius=10.0, center=(1.5, -2.0, 3.0), voxelSize=0.25,
                                      halfWidth=3.0)
    sphere.name = "surface"
    vdb.write(os.path.join(folder, "sphere.vdb"), grids=[sphere])
    values, low = dense(sphere)
    inside = np.argwhere(values < 0)
    expected["sphere.vdb"] = {
        "count": int(len(inside)),
        "centres": centres(sphere, [tuple(p + np.array(low)) for p in inside[:: max(1, len(inside) // 5)]]),
        "voxel_size": 0.25,
    }

    colours = np.zeros((4, 3, 2, 3), dtype=np.float32)
    colours[0, 0, 0] = (1.0, 0.0, 0.0)
    colours[1, 2, 1] = (0.5, 0.25, 2.0)  # clamped to 255 in blue
    colours[3, 1, 0] = (-1.0, 0.0, 0.2)  # below 0 is 0
    colours[2, 0, 1] = (0.0, 1.0, 0.0)
    grid = vdb.Vec3SGrid()
    grid.name = "Cd"
    grid.copyFromArray(colours, ijk=(5, 6, 7))
    vdb.write(os.path.join(folder, "colours.vdb"), grids=[grid])
    expected["colours.vdb"] = {
        "colours": [[[5, 6, 7], [255, 0, 0]], [[6, 8, 8], [128, 64, 255]],
                    [[8, 7, 7], [0, 0, 51]], [[7, 6, 8], [0, 255, 0]]],
    }

    mask = np.random.RandomState(2).rand(9, 7, 5) > 0.6
    grid = vdb.BoolGrid()
    grid.name = "mask"
    grid.copyFromArray(mask, ijk=(-4, 0, 3))
    vdb.write(os.path.join(folder, "mask.vdb"), grids=[grid])
    values, _ = dense(grid)
    expected["mask.vdb"] = {"count": int(values.sum())}

    # Several grids: a mask first, then a level set, then a fog volume.
    small = vdb.createLevelSetSphere(radius=4.0, center=(0.0, 0.0, 0.0), voxelSize=0.5)
    small.name = "surface"
    cloud = fog_cloud(5, 3)
    values, _ = dense(small)
    vdb.write(os.path.join(folder, "several.vdb"), grids=[grid, small, cloud])
    expected["several.vdb"] = {"surface": int((values < 0).sum()),
                               "density": int((dense(cloud)[0].astype(np.float64) >= 0.3).sum()),
                               "mask": expected["mask.vdb"]["count"]}

    frustum = fog_cloud(3, 4)
    frustum.transform = vdb.createFrustumTransform((0, 0, 0), (7, 7, 7), 0.5, 2.0, 1.0)
    vdb.write(os.path.join(folder, "frustum.vdb"), grids=[frustum])

    # Two voxels far apart: a box of 4001^3 floats, which no cap allows.
    sparse = vdb.FloatGrid()
    sparse.name = "sparks"
    access = sparse.getAccessor()
    access.setValueOn((0, 0, 0), 1.0)
    access.setValueOn((4000, -4000, 4000), 1.0)
    vdb.write(os.path.join(folder, "sparse.vdb"), grids=[sparse])

    with open(os.path.join(folder, "vdbs.json"), "w") as f:
        json.dump(expected, f, indent=1)


def seeds(folder):
    fog = vdb.FloatGrid()
    fog.name = "density"
    fog.copyFromArray(np.array([[[0, 1.5], [2, 0.5]], [[1, 0], [3, 1]]], dtype=np.float32),
                      ijk=(-1, 2, 0))
    fog.transform = linear(0.5, (1.0, 2.0, 3.0))
    vdb.write(os.path.join(folder, "vdb_fog.vdb"), grids=[fog])
    colours = vdb.Vec3SGrid()
    colours.name = "Cd"
    colours.copyFromArray(np.array([[[[1, 0.5, 0]], [[0, 0, 1]]]], dtype=np.float32))
    mask = vdb.BoolGrid()
    mask.name = "mask"
    mask.copyFromArray(np.array([[[True, False, True]]]))
    vdb.write(os.path.join(folder, "vdb_colours_and_mask.vdb"), grids=[colours, mask])


def bench(folder):
    sphere = vdb.createLevelSetSphere(radius=200.0, center=(0.0, 0.0, 0.0), voxelSize=1.0)
    sphere.name = "surface"
    vdb.write(os.path.join(folder, "sphere.vdb"), grids=[sphere])
    vdb.write(os.path.join(folder, "cloud.vdb"), grids=[fog_cloud(200, 5)])


if __name__ == "__main__":
    makers = {"samples": samples, "bench": bench, "seeds": seeds}
    if len(sys.argv) != 3 or sys.argv[1] not in makers:
        sys.exit("usage: make_vdbs.py samples|bench|seeds DIR")
    os.makedirs(sys.argv[2], exist_ok=True)
    makers[sys.argv[1]](sys.argv[2])
