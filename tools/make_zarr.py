#!/usr/bin/python3
"""Writes Zarr stores for the converter's Zarr tests and benchmark: v2
stores and OME-Zarr 0.4 pyramids with zarr-python (Debian's python3-zarr,
2.13), and v3 stores, sharded or not, with the small writer below, which
compresses through numcodecs (zarr 2.13 writes no v3 sharding) and adds
CRC-32C checksums itself (numcodecs 0.11 has no crc32c codec).

    tools/make_zarr.py samples DIR    the stores, and zarrs.json: for each
                                      the threshold, the options and the
                                      voxels numpy counts in the array zarr
                                      (or the writer) was given
    tools/make_zarr.py bench DIR      bench.zarr: 200 x 512 x 1024 uint16
                                      (200 MiB), blosc lz4 with byte shuffle

A volume of values (a ball of falling density over a faint ramp) is stored
uncompressed and with every compressor numcodecs has (blosc with lz4, zstd,
zlib and blosclz and each shuffle, zlib, gzip, zstd), in C and F order, with
"/" as the separator, as every sample type of either byte order, with chunks
left unwritten (the fill value), as the largest array of a group, as a 5-D
OME-Zarr pyramid (time and channel first), and as v3 arrays and shards.
"""

import json
import os
import struct
import sys

import numpy
import zarr
from numcodecs import GZip, Blosc, Zlib, Zstd

SHAPE = (12, 30, 40)  # z, y, x
CHUNKS = (5, 16, 16)  # not dividing the shape: edge chunks are partly outside
THRESHOLD = 1000


def density(shape=SHAPE):
    z, y, x = numpy.indices(shape)
    d = numpy.sqrt((x - 17.0) ** 2 + ((y - 14.0) * 1.2) ** 2 + ((z - 6.0) * 3.0) ** 2)
    return numpy.clip(3000 - 150 * d, 0, None).astype(numpy.uint16) + (x * 7).astype(numpy.uint16)


def passing(volume, threshold):
    """How the samples pass the converter's threshold, counted by numpy."""
    return int((volume.astype(numpy.float64) >= threshold).sum())


def v2_store(path, data, **options):
    options.setdefault("compressor", None)
    array = zarr.open(path, mode="w", shape=data.shape, chunks=options.pop("chunks", CHUNKS),
                      dtype=data.dtype, write_empty_chunks=False, **options)
    array[...] = data
    return array


# CRC-32C (Castagnoli), as the v3 crc32c codec appends it little-endian.
def crc_entry(n):
    for _ in range(8):
        n = (0x82F63B78 ^ (n >> 1)) if n & 1 else n >> 1
    return n


CRC_TABLE = [crc_entry(n) for n in range(256)]


def crc32c(data):
    c = 0xFFFFFFFF
    for b in data:
        c = CRC_TABLE[(c ^ b) & 0xFF] ^ (c >> 8)
    return struct.pack("<I", c ^ 0xFFFFFFFF)


def encode_bytes(chunk, codecs):
    """A chunk (already in its stored axis order and byte order) through
    the bytes-to-bytes codecs, in order."""
    data = chunk.tobytes(order="C")
    for codec in codecs:
        name = codec["name"]
        if name == "crc32c":
            data = data + crc32c(data)
        else:
            data = {"gzip": lambda d: GZip(level=5).encode(d),
                    "zstd": lambda d: Zstd(level=3).encode(d),
                    # Blosc takes its type size from the array it is given.
                    "blosc": lambda d: Blosc(cname="zstd", shuffle=Blosc.SHUFFLE).encode(
                        numpy.frombuffer(d, chunk.dtype))}[name](data)
            data = bytes(data)
    return data


def encode_chunk(chunk, codecs):
    """Array codecs (transpose, bytes) then bytes codecs; returns bytes."""
    rest = list(codecs)
    while rest[0]["name"] == "transpose":
        chunk = numpy.transpose(chunk, rest.pop(0)["configuration"]["order"])
    endian = rest.pop(0).get("configuration", {}).get("endian", "little")
    chunk = numpy.ascontiguousarray(chunk).astype(chunk.dtype.newbyteorder(
        "<" if endian == "little" else ">"))
    return encode_bytes(chunk, rest)


def chunk_indices(shape, chunks):
    grid = [-(-s // c) for s, c in zip(shape, chunks)]
    return list(numpy.ndindex(*grid))


def padded(data, index, chunks, fill):
    """The chunk at grid `index`, of the full chunk shape (edge chunks filled)."""
    part = data[tuple(slice(i * c, (i + 1) * c) for i, c in zip(index, chunks))]
    out = numpy.full(chunks, fill, data.dtype)
    out[tuple(slice(0, s) for s in part.shape)] = part
    return out


def v3_store(path, data, chunks, codecs, fill=0, shard=None, skip=(), separator="/",
             dimension_names=None):
    """A v3 array: `codecs` per chunk or, with `shard` = (inner chunk shape,
    inner codecs, index codecs, index location), shards of that."""
    os.makedirs(path, exist_ok=True)
    meta = {"zarr_format": 3, "node_type": "array", "shape": list(data.shape),
            "data_type": str(data.dtype), "fill_value": fill,
            "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": list(chunks)}},
            "chunk_key_encoding": {"name": "default", "configuration": {"separator": separator}},
            "attributes": {}}
    if dimension_names:
        meta["dimension_names"] = dimension_names
    if shard:
        inner, inner_codecs, index_codecs, location = shard
        meta["codecs"] = [{"name": "sharding_indexed", "configuration": {
            "chunk_shape": list(inner), "codecs": inner_codecs, "index_codecs": index_codecs,
            "index_location": location}}]
    else:
        meta["codecs"] = codecs
    with open(os.path.join(path, "zarr.json"), "w") as f:
        json.dump(meta, f, indent=2)
    for index in chunk_indices(data.shape, chunks):
        if index in skip:
            continue
        block = padded(data, index, chunks, fill)
        key = separator.join(["c"] + [str(i) for i in index])
        name = os.path.join(path, *key.split("/"))
        os.makedirs(os.path.dirname(name), exist_ok=True)
        if not shard:
            blob = encode_chunk(block, codecs)
        else:
            per = [c // i for c, i in zip(chunks, inner)]
            entries, pieces = [], []
            offset = 0
            index_bytes = 16 * int(numpy.prod(per)) + 4 * sum(
                c["name"] == "crc32c" for c in index_codecs)
            if location == "start":
                offset = index_bytes
            for sub in numpy.ndindex(*per):
                piece = block[tuple(slice(s * i, (s + 1) * i) for s, i in zip(sub, inner))]
                # An inner chunk of only the fill value is left out of the shard.
                if (piece == fill).all():
                    entries.append((2 ** 64 - 1, 2 ** 64 - 1))
                    continue
                encoded = encode_chunk(piece, inner_codecs)
                entries.append((offset, len(encoded)))
                pieces.append(encoded)
                offset += len(encoded)
            index_blob = encode_chunk(numpy.array(entries, numpy.uint64), index_codecs)
            body = b"".join(pieces)
            blob = index_blob + body if location == "start" else body + index_blob
        with open(name, "wb") as f:
            f.write(blob)


def samples(folder):
    os.makedirs(folder, exist_ok=True)
    volume = density()
    expected = {}

    def add(name, data, threshold=THRESHOLD, options=(), twin="plain.zarr"):
        expected[name] = {"threshold": threshold, "count": passing(data, threshold),
                          "options": list(options), "twin": twin}

    v2_store(os.path.join(folder, "plain.zarr"), volume)
    add("plain.zarr", volume)
    compressors = {
        "blosc-lz4": Blosc(cname="lz4", shuffle=Blosc.SHUFFLE),
        "blosc-lz4-bit": Blosc(cname="lz4", shuffle=Blosc.BITSHUFFLE),
        "blosc-zstd": Blosc(cname="zstd", shuffle=Blosc.BITSHUFFLE),
        "blosc-zlib": Blosc(cname="zlib", shuffle=Blosc.NOSHUFFLE),
        "blosc-blosclz": Blosc(cname="blosclz", shuffle=Blosc.SHUFFLE),
        "zlib": Zlib(level=6), "gzip": GZip(level=6), "zstd": Zstd(level=3),
    }
    for name, compressor in compressors.items():
        v2_store(os.path.join(folder, name + ".zarr"), volume, compressor=compressor)
        add(name + ".zarr", volume)
    v2_store(os.path.join(folder, "fortran.zarr"), volume, order="F", compressor=Zlib())
    add("fortran.zarr", volume)
    v2_store(os.path.join(folder, "nested.zarr"), volume, dimension_separator="/",
             compressor=Blosc(cname="lz4"))
    add("nested.zarr", volume)
    # The same samples, big-endian: the very voxels.
    v2_store(os.path.join(folder, "big-endian.zarr"), volume.astype(">u2"), compressor=GZip())
    add("big-endian.zarr", volume)
    # Chunks of only the fill value are not written: the reader fills them.
    holes = volume.copy()
    holes[:, :16, :16] = 2000
    holes[5:, 16:, :] = 2000
    v2_store(os.path.join(folder, "holes.zarr"), holes, fill_value=2000, compressor=Zstd())
    v2_store(os.path.join(folder, "holes-written.zarr"), holes)
    add("holes.zarr", holes, twin="holes-written.zarr")
    add("holes-written.zarr", holes, twin=None)
    for dtype in ("i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "f4", "f8", ">i2", ">u4",
                  ">i8", ">f4", ">f8"):
        scaled = (volume // 20).astype(numpy.int64) - (60 if dtype[-2] in "if" else 0)
        data = scaled.astype(dtype)
        name = "dtype-%s.zarr" % dtype.replace(">", "be-")
        v2_store(os.path.join(folder, name), data, compressor=Blosc(cname="lz4"),
                 order="F" if dtype[-1] == "8" else "C")
        add(name, data, threshold=40, twin=None)
    mask = volume >= THRESHOLD
    v2_store(os.path.join(folder, "dtype-bool.zarr"), mask, compressor=Zlib())
    add("dtype-bool.zarr", mask, threshold=1, twin=None)
    # NaN as the fill value of float32 chunks never written.
    floats = numpy.where(volume >= 500, volume, numpy.nan).astype(numpy.float32)
    v2_store(os.path.join(folder, "nan-fill.zarr"), floats, fill_value=numpy.nan)
    add("nan-fill.zarr", numpy.nan_to_num(floats, nan=-1), twin=None)

    # A group of two arrays: the larger one is read, the other named.
    group = zarr.open_group(os.path.join(folder, "group.zarr"), mode="w")
    group.create_dataset("labels/small", data=volume[:4, :10, :10], chunks=CHUNKS)
    group.create_dataset("raw", data=volume, chunks=CHUNKS, compressor=GZip())
    add("group.zarr", volume)
    add("group.zarr/labels/small", volume[:4, :10, :10], options=["--dataset", "labels/small"],
        twin=None)

    # An OME-Zarr 0.4 pyramid of a 5-D image: 2 time points, 2 channels;
    # each level halves every axis (cubes stay cubes, so numpy's count is
    # the converter's). Only t = 0, c = 0 holds the volume.
    ome = zarr.open_group(os.path.join(folder, "cells.ome.zarr"), mode="w")
    levels = []
    for level in range(3):
        step = 2 ** level
        image = volume[::step, ::step, ::step]
        full = numpy.zeros((2, 2) + image.shape, numpy.uint16)
        full[0, 0] = image
        full[0, 1] = 4000
        full[1] = 3000
        ome.create_dataset(str(level), data=full, chunks=(1, 1, 6, 16, 16),
                           compressor=Blosc(cname="zstd"))
        levels.append({"path": str(level), "coordinateTransformations": [
            {"type": "scale", "scale": [1.0, 1.0, 0.5 * step, 0.5 * step, 0.5 * step]},
            {"type": "translation", "translation": [0.0, 0.0, 10.0, 0.0, 0.0]}]})
        add("cells.ome.zarr/%d" % level, image, options=["--level", str(level)], twin=None)
    ome.attrs["multiscales"] = [{
        "version": "0.4", "name": "cells",
        "axes": [{"name": "t", "type": "time", "unit": "second"},
                 {"name": "c", "type": "channel"},
                 {"name": "z", "type": "space", "unit": "micrometer"},
                 {"name": "y", "type": "space", "unit": "micrometer"},
                 {"name": "x", "type": "space", "unit": "micrometer"}],
        "datasets": levels,
        "coordinateTransformations": [{"type": "scale", "scale": [1.0, 1.0, 1.0, 1.0, 1.0]}]}]

    # The same pyramid as OME-Zarr 0.5 in v3: 3-D levels, the multiscales
    # under "ome" in the group's zarr.json attributes.
    v3_levels = []
    for level in range(3):
        step = 2 ** level
        image = volume[::step, ::step, ::step]
        v3_store(os.path.join(folder, "cells-v3.ome.zarr", "s%d" % level), image, (6, 16, 16),
                 [{"name": "bytes", "configuration": {"endian": "little"}},
                  {"name": "zstd", "configuration": {"level": 3, "checksum": False}}],
                 dimension_names=["z", "y", "x"])
        v3_levels.append({"path": "s%d" % level, "coordinateTransformations": [
            {"type": "scale", "scale": [0.25 * step] * 3}]})
        add("cells-v3.ome.zarr/s%d" % level, image, options=["--level", str(level)], twin=None)
    with open(os.path.join(folder, "cells-v3.ome.zarr", "zarr.json"), "w") as f:
        json.dump({"zarr_format": 3, "node_type": "group", "attributes": {"ome": {
            "version": "0.5", "multiscales": [{
                "name": "cells", "datasets": v3_levels,
                "axes": [{"name": name, "type": "space"} for name in "zyx"]}]}}}, f)

    # v3: plain, big-endian with gzip, a transpose with zstd, blosc with a
    # checksum, missing chunks, and shards with their index at either end.
    little = [{"name": "bytes", "configuration": {"endian": "little"}}]
    v3_store(os.path.join(folder, "v3-plain.zarr"), volume, CHUNKS, little)
    add("v3-plain.zarr", volume)
    v3_store(os.path.join(folder, "v3-gzip.zarr"), volume, CHUNKS,
             [{"name": "bytes", "configuration": {"endian": "big"}},
              {"name": "gzip", "configuration": {"level": 5}}], separator=".")
    add("v3-gzip.zarr", volume)
    v3_store(os.path.join(folder, "v3-transpose.zarr"), volume, CHUNKS,
             [{"name": "transpose", "configuration": {"order": [2, 0, 1]}}] + little +
             [{"name": "zstd", "configuration": {"level": 3, "checksum": False}}])
    add("v3-transpose.zarr", volume)
    v3_store(os.path.join(folder, "v3-blosc.zarr"), volume, CHUNKS, little + [
        {"name": "blosc", "configuration": {"cname": "zstd", "clevel": 5, "shuffle": "shuffle",
                                            "typesize": 2, "blocksize": 0}},
        {"name": "crc32c"}])
    add("v3-blosc.zarr", volume)
    v3_store(os.path.join(folder, "v3-holes.zarr"), holes, CHUNKS, little, fill=2000,
             skip=[(0, 0, 0), (1, 1, 2), (2, 1, 0)], dimension_names=["z", "y", "x"])
    missing = holes.copy()
    for index in [(0, 0, 0), (1, 1, 2), (2, 1, 0)]:
        missing[tuple(slice(i * c, (i + 1) * c) for i, c in zip(index, CHUNKS))] = 2000
    add("v3-holes.zarr", missing, twin=None)
    crc = [{"name": "bytes", "configuration": {"endian": "little"}}, {"name": "crc32c"}]
    for location in ("end", "start"):
        name = "v3-shard-%s.zarr" % location
        v3_store(os.path.join(folder, name), holes, (10, 16, 32), None, fill=2000,
                 shard=((5, 8, 8), little + [{"name": "gzip", "configuration": {"level": 5}}],
                        crc, location))
        add(name, holes, twin="holes-written.zarr")
    with open(os.path.join(folder, "zarrs.json"), "w") as f:
        json.dump(expected, f, indent=1, sort_keys=True)


def bench(folder):
    """200 x 512 x 1024 uint16 (200 MiB) in chunks of 32 x 128 x 128: a
    flattened ball of falling density (about 4 million samples of 1000 or
    more) over a faint ramp, written a slab at a time."""
    os.makedirs(folder, exist_ok=True)
    shape = (200, 512, 1024)
    array = zarr.open(os.path.join(folder, "bench.zarr"), mode="w", shape=shape,
                      chunks=(32, 128, 128), dtype="u2",
                      compressor=Blosc(cname="lz4", shuffle=Blosc.SHUFFLE))
    for z0 in range(0, shape[0], 32):
        z, y, x = numpy.indices((min(32, shape[0] - z0), shape[1], shape[2]))
        d = numpy.sqrt((x - 512.0) ** 2 + (y - 256.0) ** 2 + ((z + z0 - 100.0) * 2.5) ** 2)
        slab = numpy.clip(3000 - 15 * d, 0, None).astype(numpy.uint16) + (x % 64).astype(
            numpy.uint16)
        array[z0:z0 + slab.shape[0]] = slab


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("samples", "bench"):
        sys.exit(__doc__)
    (samples if sys.argv[1] == "samples" else bench)(sys.argv[2])
