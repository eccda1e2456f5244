#!/usr/bin/python3
"""Writes TIFF stacks with tifffile, the library microscopy tools read and
write TIFF with, for the converter's TIFF tests and benchmark. Needs
Debian's python3-tifffile and python3-numpy (tools/deps.sh test).

    tools/make_tiffs.py samples DIR     the stacks, and tiffs.json: for each
                                        the threshold and the voxels tifffile
                                        reads it as (count, and the sample
                                        indices of the plain stack)
    tools/make_tiffs.py bench DIR       bench-stack.tif: 200 pages of 512 x
                                        512 uint16

A volume of values (a ball of falling density over a faint ramp) is
stored plain, compressed (zlib, lzma), tiled, as BigTIFF, as other sample types, as
colours, inside an ImageJ hyperstack and an OME-TIFF (the first channel and
time point; the other planes hold other values), and as a folder of
single-page slices named slice_1.tif ... slice_12.tif, whose natural order
is not the order of their names' bytes.
"""

import json
import os
import sys

import numpy
import tifffile

SHAPE = (12, 40, 50)  # pages (z), rows (y, top first), columns (x)
THRESHOLD = 1000


def density():
    z, y, x = numpy.indices(SHAPE)
    d = numpy.sqrt((x - 22.0) ** 2 + ((y - 18.0) * 1.2) ** 2 + ((z - 6.0) * 3.0) ** 2)
    return numpy.clip(3000 - 150 * d, 0, None).astype(numpy.uint16) + (x * 7).astype(numpy.uint16)


def passing(volume, threshold):
    """How tifffile's samples pass the converter's threshold, counted by numpy."""
    return int((volume.astype(numpy.float64) >= threshold).sum())


def write_samples(folder):
    os.makedirs(folder, exist_ok=True)
    values = density()
    expected = {}

    def stack(name, data, threshold=THRESHOLD, **options):
        path = os.path.join(folder, name)
        tifffile.imwrite(path, data, **options)
        read = tifffile.imread(path)
        expected[name] = {"threshold": threshold}
        if threshold is not None:
            expected[name]["count"] = passing(read, threshold)
        return read

    plain = stack("stack.tif", values)
    z, y, x = numpy.nonzero(plain >= THRESHOLD)
    expected["stack.tif"]["indices"] = [[int(a), int(b), int(c)] for a, b, c in zip(x, y, z)]
    stack("zlib.tif", values, compression="zlib")
    stack("lzma.tif", values, compression="lzma")
    stack("predictor.tif", values, compression="zlib", predictor=True)
    stack("tiled.tif", values, tile=(16, 16), compression="zlib")
    stack("bigtiff.tif", values, bigtiff=True)
    stack("uint8.tif", (values // 16).astype(numpy.uint8), threshold=THRESHOLD // 16)
    stack("int16.tif", values.astype(numpy.int16) - 2000, threshold=-1000)
    stack("int32.tif", values.astype(numpy.int32) * 1000, threshold=THRESHOLD * 1000)
    stack("float32.tif", values.astype(numpy.float32) / 1000, threshold=THRESHOLD / 1000)
    stack("float64.tif", values.astype(numpy.float64) / 1000, threshold=THRESHOLD / 1000)

    rgb = numpy.zeros(SHAPE + (3,), numpy.uint8)
    rgb[values >= THRESHOLD] = (200, 40, 10)
    # Colours: a black pixel is empty.
    read = stack("rgb.tif", rgb, threshold=None, photometric="rgb")
    expected["rgb.tif"]["count"] = int(read.any(axis=-1).sum())
    read = stack("rgb_planar.tif", numpy.moveaxis(rgb, -1, 1), threshold=None, photometric="rgb",
                 planarconfig="separate")
    expected["rgb_planar.tif"]["count"] = int(read.any(axis=1).sum())

    # Hyperstacks: the first channel and time point is the volume; the others
    # are all above the threshold, so that a wrong pick shows.
    hyper = numpy.full((2, SHAPE[0], 2) + SHAPE[1:], 4000, numpy.uint16)  # T Z C Y X
    hyper[0, :, 0] = values
    tifffile.imwrite(os.path.join(folder, "imagej.tif"), hyper, imagej=True,
                     resolution=(1 / 1.5, 1 / 1.5),
                     metadata={"axes": "TZCYX", "spacing": 1.5, "unit": "um"})
    tifffile.imwrite(os.path.join(folder, "ome.tif"), hyper, ome=True,
                     metadata={"axes": "TZCYX", "PhysicalSizeX": 0.75, "PhysicalSizeY": 0.75,
                               "PhysicalSizeZ": 0.75})
    count = passing(values, THRESHOLD)
    for name, size in (("imagej.tif", 1.5), ("ome.tif", 0.75)):
        with tifffile.TiffFile(os.path.join(folder, name)) as tif:
            first = tif.series[0].asarray()[0, :, 0]
        assert passing(first, THRESHOLD) == count
        expected[name] = {"threshold": THRESHOLD, "count": count, "voxel_size": size}

    slices = os.path.join(folder, "slices")
    os.makedirs(slices, exist_ok=True)
    for n in reversed(range(SHAPE[0])):
        tifffile.imwrite(os.path.join(slices, "slice_%d.tif" % (n + 1)), values[n])
    with open(os.path.join(slices, "README.txt"), "w") as f:
        f.write("not a slice\n")
    expected["slices"] = dict(expected["stack.tif"])

    with open(os.path.join(folder, "tiffs.json"), "w") as f:
        json.dump(expected, f)


def write_bench(folder):
    os.makedirs(folder, exist_ok=True)
    z, y, x = numpy.indices((200, 512, 512), dtype=numpy.float32)
    d = numpy.sqrt((x - 256) ** 2 + (y - 256) ** 2 + ((z - 100) * 2.5) ** 2)
    values = numpy.clip(4000 - 20 * d, 0, None).astype(numpy.uint16)
    tifffile.imwrite(os.path.join(folder, "bench-stack.tif"), values)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("samples", "bench"):
        sys.exit(__doc__)
    {"samples": write_samples, "bench": write_bench}[sys.argv[1]](sys.argv[2])


if __name__ == "__main__":
    main()
