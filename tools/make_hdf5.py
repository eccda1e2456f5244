"""HDF5 files written by h5py (Debian's python3-h5py, run by /usr/bin/python3)
for vxlconv's tests, with what h5py reads back from each.

    make_hdf5.py samples DIR   writes the files and DIR/hdf5.json: for each
                               file the threshold and the voxels h5py reads
                               it as (count, numpy's >= threshold), the voxel
                               size, or the refusal's words
    make_hdf5.py seeds DIR     writes the few small files the input fuzzer
                               and the input table's tests start from
    make_hdf5.py bench DIR     writes DIR/bench-gzip.h5 (chunked, gzip and
                               shuffle) and DIR/bench-plain.h5 (contiguous):
                               the same 800 x 640 x 512 uint16 volume (500
                               MiB), a ball of falling density with noise
"""

import json
import os
import sys

import h5py
import numpy

THRESHOLD = 600


def passing(samples, threshold):
    """How h5py's samples pass the converter's threshold, counted by numpy."""
    return int((numpy.asarray(samples).astype(numpy.float64) >= threshold).sum())


def volume(shape=(12, 10, 9), seed=7):
    return numpy.random.default_rng(seed).integers(0, 1000, shape).astype(numpy.uint16)


def samples(folder):
    expected = {}
    values = volume()

    def record(name, path_in_file=None, threshold=THRESHOLD, **extra):
        """Reads back what h5py holds at `path_in_file` and counts it."""
        with h5py.File(os.path.join(folder, name), "r") as f:
            read = f[path_in_file][...]
        while read.ndim > 3:
            read = read[0]
        entry = {"threshold": threshold, "count": passing(read, threshold)}
        entry.update(extra)
        expected[name] = entry

    def write(name, data, path="v", record_it=True, threshold=THRESHOLD, **options):
        with h5py.File(os.path.join(folder, name), "w") as f:
            f.create_dataset(path, data=data, **options)
        if record_it:
            record(name, path, threshold)

    # One volume four ways: its twins must give the very same voxel file.
    write("contiguous.h5", values)
    # Where its voxels lie: at the samples' indices, the last axis as x.
    expected["contiguous.h5"]["positions"] = sorted(
        [int(x), int(y), int(z)] for z, y, x in zip(*numpy.nonzero(values >= THRESHOLD)))
    write("chunked.h5", values, chunks=(4, 5, 3))
    write("gzip.h5", values, chunks=(5, 4, 9), compression="gzip", compression_opts=6,
          shuffle=True)
    write("lzf.h5", values, chunks=(4, 5, 3), compression="lzf", record_it=False)
    write("fletcher.hdf5", values, chunks=(3, 10, 9), fletcher32=True)
    with h5py.File(os.path.join(folder, "userblock.h5"), "w", userblock_size=512) as f:
        f["v"] = values
    record("userblock.h5", "v")

    # Every sample type, either byte order.
    scaled = values.astype(numpy.float64) - 500
    for dtype, threshold in (("i1", 60), ("u1", 150), ("<i2", 100), (">i2", 100), ("u2", 600),
                             (">u2", 600), ("<i4", 100), (">i4", 100), ("u4", 600), ("i8", 100),
                             (">u8", 600), ("f2", 100.5), ("<f4", 100.5), (">f4", 100.5),
                             ("f8", 100.25), (">f8", 100.25)):
        kind = numpy.dtype(dtype)
        data = values if kind.kind == "u" else scaled
        if kind.itemsize == 1:
            data = (values // 4) if kind.kind == "u" else (scaled // 8)
        name = "type_%s%s.h5" % ("be_" if dtype.startswith(">") else "", dtype.strip("<>"))
        write(name, data.astype(dtype), threshold=threshold)
    mask = values >= THRESHOLD
    write("bool.h5", mask, record_it=False)
    expected["bool.h5"] = {"threshold": None, "count": int(mask.sum())}

    # Several volumes: the largest is read, the others named; --dataset picks.
    with h5py.File(os.path.join(folder, "several.h5"), "w") as f:
        f["small"] = volume((4, 5, 6), seed=1)
        f["group/big"] = values
        f["flat"] = numpy.ones((300, 300), numpy.uint16) * 999
        f["line"] = numpy.arange(10)
    record("several.h5", "group/big")
    expected["several.h5/small"] = {"threshold": THRESHOLD,
                                    "count": passing(volume((4, 5, 6), seed=1), THRESHOLD)}

    # Data Exchange: the projections, not the larger dark and flat fields.
    with h5py.File(os.path.join(folder, "exchange.h5"), "w") as f:
        f["exchange/data"] = values
        f["exchange/data_dark"] = numpy.full((30, 10, 9), 999, numpy.uint16)
        f["exchange/data_white"] = numpy.full((20, 10, 9), 999, numpy.uint16)
        f.create_group("measurement/instrument")
    record("exchange.h5", "exchange/data")

    # NeXus: the NXdata group's signal, not the larger dataset beside it.
    with h5py.File(os.path.join(folder, "nexus.nxs"), "w") as f:
        entry = f.create_group("entry")
        entry.attrs["NX_class"] = "NXentry"
        data = entry.create_group("data")
        data.attrs["NX_class"] = "NXdata"
        data.attrs["signal"] = "counts"
        data["counts"] = values
        entry["raw"] = numpy.full((30, 30, 30), 999, numpy.uint16)
    record("nexus.nxs", "entry/data/counts")

    # A series of volumes: the first; spacing from element_size_um (z, y, x).
    series = numpy.stack([values, 999 - values, values // 2])
    write("series.h5", series, chunks=(1, 6, 5, 9), compression="gzip")
    with h5py.File(os.path.join(folder, "spaced.h5"), "w") as f:
        f["v"] = values
        f["v"].attrs["element_size_um"] = numpy.array([0.5, 0.5, 0.5], numpy.float32)
    record("spaced.h5", "v", voxel_size=0.5)
    with h5py.File(os.path.join(folder, "pixel_size.h5"), "w") as f:
        f["v"] = values
        f["v"].attrs["pixel_size"] = 0.25
    record("pixel_size.h5", "v", voxel_size=0.25)

    # What is refused, and why.
    refusals = {}
    write("lines.h5", numpy.ones((4, 5), numpy.uint8), record_it=False)
    refusals["lines.h5"] = "it holds no dataset of 3 or more dimensions; its datasets: /v (4 x 5)"
    with h5py.File(os.path.join(folder, "records.h5"), "w") as f:
        f["v"] = numpy.zeros((2, 3, 4), dtype=[("a", "i4"), ("b", "f8")])
    refusals["records.h5"] = ("its dataset /v (2 x 3 x 4) holds compound records; vxlconv reads "
                              "integers, booleans and floats")
    with h5py.File(os.path.join(folder, "words.h5"), "w") as f:
        f.create_dataset("v", (2, 3, 4), dtype=h5py.string_dtype())
    refusals["words.h5"] = ("its dataset /v (2 x 3 x 4) holds strings; vxlconv reads integers, "
                            "booleans and floats")
    raw = os.path.join(folder, "outside.raw")
    values.tofile(raw)
    with h5py.File(os.path.join(folder, "external.h5"), "w") as f:
        f.create_dataset("v", values.shape, values.dtype,
                         external=[("outside.raw", 0, values.nbytes)])
    refusals["external.h5"] = ("its dataset /v (12 x 10 x 9) keeps its samples in external "
                               "files, which vxlconv does not follow")
    layout = h5py.VirtualLayout(shape=values.shape, dtype=values.dtype)
    layout[...] = h5py.VirtualSource("contiguous.h5", "v", shape=values.shape)
    with h5py.File(os.path.join(folder, "virtual.h5"), "w") as f:
        f.create_virtual_dataset("v", layout)
    refusals["virtual.h5"] = ("its dataset /v (12 x 10 x 9) is a virtual dataset, mapped from "
                              "other files, which vxlconv does not follow")
    with h5py.File(os.path.join(folder, "huge.h5"), "w") as f:
        f.create_dataset("v", (100000, 100000, 100000), numpy.uint16, chunks=(1, 64, 64))
    refusals["huge.h5"] = ("its dataset /v (100000 x 100000 x 100000) is larger than the memory "
                           "allowed")
    refusals["lzf.h5"] = ("its dataset /v (12 x 10 x 9) is stored through filter 32000 (lzf), "
                          "which this system's libhdf5 does not have")
    # A small volume in one chunk of 128 MiB, which the library would
    # decompress whole.
    with h5py.File(os.path.join(folder, "big_chunk.h5"), "w") as f:
        f.create_dataset("v", (2, 2, 2), numpy.uint8, maxshape=(None, None, None),
                         chunks=(512, 512, 512))
    chunk_loop(os.path.join(folder, "chunk_loop.h5"))
    refusals["chunk_loop.h5"] = "its data cannot be parsed (the reader stopped"
    expected["refusals"] = refusals
    with open(os.path.join(folder, "hdf5.json"), "w") as f:
        json.dump(expected, f, indent=1, sort_keys=True)


def chunk_loop(path):
    """A chunked dataset whose chunk index (a version 1 B-tree of two levels)
    has its root's first child point back at the root: libhdf5 follows it
    until its stack runs out and the process dies (h5py's too)."""
    with h5py.File(path, "w", libver="earliest") as f:
        f.create_dataset("v", data=numpy.arange(200, dtype=numpy.uint8).reshape(200, 1, 1),
                         chunks=(1, 1, 1))
    with open(path, "rb") as f:
        data = bytearray(f.read())
    at = data.find(b"TREE")
    while at >= 0 and not (data[at + 4] == 1 and data[at + 5] == 1):  # chunk node, level 1
        at = data.find(b"TREE", at + 1)
    assert at >= 0, "no chunk index node of level 1"
    # Signature, type, level, entries (8 bytes), two sibling addresses (16),
    # then the first key (chunk size, filter mask, 4 offsets: 40) and child.
    data[at + 64:at + 72] = at.to_bytes(8, "little")
    with open(path, "wb") as f:
        f.write(data)


def seeds(folder):
    """Two files of about 2 kB, each cut at every length by the input table's
    tests: one of the oldest layout (superblock 0, contiguous), one of the
    newest (superblock 3, chunked gzip and shuffle, a second dataset)."""
    small = volume((3, 4, 5), seed=3)
    with h5py.File(os.path.join(folder, "hdf5_plain.h5"), "w", libver="earliest") as f:
        f["v"] = small
        f["v"].attrs["element_size_um"] = [2.0, 1.0, 1.0]
    with h5py.File(os.path.join(folder, "hdf5_gzip.h5"), "w", libver="latest") as f:
        f.create_dataset("exchange/data", data=small, chunks=(3, 4, 5), compression="gzip",
                         shuffle=True)
        f["exchange/data_dark"] = small[:1]


BENCH_SHAPE = (800, 640, 512)


def bench(folder):
    depth, height, width = BENCH_SHAPE
    y, x = numpy.mgrid[0:height, 0:width]
    rng = numpy.random.default_rng(5)
    with h5py.File(os.path.join(folder, "bench-gzip.h5"), "w") as packed, \
            h5py.File(os.path.join(folder, "bench-plain.h5"), "w") as plain:
        a = packed.create_dataset("exchange/data", BENCH_SHAPE, numpy.uint16,
                                  chunks=(16, 64, 64), compression="gzip", shuffle=True)
        b = plain.create_dataset("exchange/data", BENCH_SHAPE, numpy.uint16)
        # Written 16 planes at a time, so that the writer holds no whole copy.
        for z0 in range(0, depth, 16):
            z = numpy.arange(z0, z0 + 16)[:, None, None]
            r = numpy.sqrt(((x - width / 2) / width) ** 2 + ((y - height / 2) / height) ** 2 +
                           ((z - depth / 2) / depth) ** 2)
            slab = numpy.clip(4000 * (1 - 2 * r), 0, None) + rng.integers(0, 64, (16, height, width))
            a[z0:z0 + 16] = slab.astype(numpy.uint16)
            b[z0:z0 + 16] = slab.astype(numpy.uint16)


if __name__ == "__main__":
    modes = {"samples": samples, "seeds": seeds, "bench": bench}
    if len(sys.argv) != 3 or sys.argv[1] not in modes:
        sys.exit(__doc__)
    os.makedirs(sys.argv[2], exist_ok=True)
    modes[sys.argv[1]](sys.argv[2])
