#!/usr/bin/env python3
"""Writes voxel grids and volumes byte by byte: binvox, NumPy .npy and .npz,
NRRD, NIfTI-1, MetaImage, FreeSurfer MGH and uncompressed TIFF stacks, for the converter's tests, its fuzzing seeds and its
benchmarks. Python's standard library only (struct, zlib, gzip, zipfile).

    tools/make_grids.py samples DIR     the small samples the tests convert,
                                        and samples.json: what each must give
    tools/make_grids.py seeds DIR       fuzzing seeds of input_fuzz, in DIR/input_fuzz
    tools/make_grids.py bench DIR       ball-256.binvox (a solid ball in a
                                        256^3 grid) and shell-512.npy (a
                                        512^3 uint8 array of labelled shells)

Also a module: `binvox`, `npy`, `npz`, `nrrd`, `nifti`, `metaimage`, `mgh`, `tiff` build the bytes from
a shape and a function of (i, j, k), or from a flat list of samples.
"""

import gzip
import io
import json
import os
import struct
import sys
import zipfile
import zlib

# NumPy dtype codes: struct format and item size.
NPY_TYPES = {
    "b1": ("?", 1), "i1": ("b", 1), "u1": ("B", 1), "i2": ("h", 2), "u2": ("H", 2),
    "i4": ("i", 4), "u4": ("I", 4), "i8": ("q", 8), "u8": ("Q", 8), "f4": ("f", 4), "f8": ("d", 8),
}


def pack_samples(code, values, big_endian=False):
    fmt, _ = NPY_TYPES[code]
    return struct.pack((">" if big_endian else "<") + fmt * len(values), *values)


def samples_in_order(shape, value, fortran=False):
    """value(i, j, k) for every element: C order (k fastest) or Fortran (i fastest)."""
    ni, nj, nk = shape
    if fortran:
        return [value(i, j, k) for k in range(nk) for j in range(nj) for i in range(ni)]
    return [value(i, j, k) for i in range(ni) for j in range(nj) for k in range(nk)]


def binvox(dim, filled, translate=(0.0, 0.0, 0.0), scale=1.0):
    """A binvox file of a dim^3 grid; filled(x, y, z) says which voxels are
    set. Runs go y fastest, then z, then x, as the format stores them."""
    header = "#binvox 1\ndim %d %d %d\ntranslate %r %r %r\nscale %r\ndata\n" % (
        (dim, dim, dim) + tuple(translate) + (scale,))
    runs = bytearray()
    value, count = None, 0
    for x in range(dim):
        for z in range(dim):
            for y in range(dim):
                v = 1 if filled(x, y, z) else 0
                if v == value and count < 255:
                    count += 1
                else:
                    if value is not None:
                        runs += bytes((value, count))
                    value, count = v, 1
    runs += bytes((value, count))
    return header.encode() + bytes(runs)


def npy(shape, code, values, fortran=False, big_endian=False, version=1):
    """A .npy file; `values` in the file's order (see samples_in_order)."""
    order = "|" if NPY_TYPES[code][1] == 1 else (">" if big_endian else "<")
    descr = order + code
    text = "{'descr': '%s', 'fortran_order': %s, 'shape': (%s), }" % (
        descr, "True" if fortran else "False", ", ".join(str(n) for n in shape) + ("," if len(shape) == 1 else ""))
    length_size = 2 if version == 1 else 4
    start = 6 + 2 + length_size
    padded = len(text) + 1
    padded += (64 - (start + padded) % 64) % 64
    header = (text + " " * (padded - len(text) - 1) + "\n").encode("latin1" if version < 3 else "utf8")
    length = struct.pack("<H" if version == 1 else "<I", len(header))
    return b"\x93NUMPY" + bytes((version, 0)) + length + header + pack_samples(code, values, big_endian)


def npz(members, compressed=True, force_zip64=False):
    """A zip archive of .npy members (name -> bytes), as numpy.savez writes."""
    out = io.BytesIO()
    method = zipfile.ZIP_DEFLATED if compressed else zipfile.ZIP_STORED
    with zipfile.ZipFile(out, "w", compression=method) as archive:
        for name, data in members.items():
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = method
            with archive.open(info, "w", force_zip64=force_zip64) as f:
                f.write(data)
    return out.getvalue()


NRRD_TYPES = {"u1": "uint8", "i1": "int8", "i2": "short", "u2": "ushort", "i4": "int",
              "u4": "uint", "i8": "int64", "u8": "uint64", "f4": "float", "f8": "double"}


def nrrd(dims, code, values, encoding="raw", spacings=None, directions=None, origin=None,
         big_endian=False, data_file=None, extra="", space="right-anterior-superior"):
    """An NRRD header and its data (i fastest): returns (header+data, None)
    for attached data, or (header, data) when `data_file` names a detached
    data file."""
    lines = ["NRRD0004", "# made by make_grids.py", "type: " + NRRD_TYPES[code],
             "dimension: %d" % len(dims), "sizes: " + " ".join("%d" % n for n in dims),
             "encoding: " + encoding]
    if NPY_TYPES[code][1] > 1:
        lines.append("endian: " + ("big" if big_endian else "little"))
    if spacings:
        lines.append("spacings: " + " ".join("%r" % s for s in spacings))
    if directions:
        lines.append("space: " + space)
        lines.append("space directions: " + " ".join("(%r,%r,%r)" % tuple(d) for d in directions))
    if origin:
        lines.append("space origin: (%r,%r,%r)" % tuple(origin))
    if data_file:
        lines.append("data file: " + data_file)
    header = ("\n".join(lines) + "\n" + extra).encode()
    data = pack_samples(code, values, big_endian)
    if encoding == "gzip":
        data = gzip.compress(data, mtime=0)
    if data_file:
        return header, data
    return header + b"\n" + data, None


NIFTI_TYPES = {"u1": 2, "i2": 4, "i4": 8, "f4": 16, "f8": 64, "i1": 256, "u2": 512, "u4": 768,
               "i8": 1024, "u8": 1280}


def nifti(dims, code, values, pixdim=(1.0, 1.0, 1.0), slope=0.0, inter=0.0, big_endian=False,
          pair=False, origin=(0.0, 0.0, 0.0), extra_dims=()):
    """A NIfTI-1 file (i fastest): the 348-byte header, 4 bytes of extension
    flag and the samples ("n+1"); or, with `pair`, (header, image) for a
    .hdr and its .img ("ni1")."""
    e = ">" if big_endian else "<"
    all_dims = list(dims) + list(extra_dims)
    dim = [len(all_dims)] + all_dims + [1] * (7 - len(all_dims))
    _, size = NPY_TYPES[code]
    header = bytearray(348)
    struct.pack_into(e + "i", header, 0, 348)
    struct.pack_into(e + "8h", header, 40, *dim)
    struct.pack_into(e + "hh", header, 70, NIFTI_TYPES[code], 8 * size)
    struct.pack_into(e + "8f", header, 76, 1.0, *pixdim, 1.0, 1.0, 1.0, 1.0)
    struct.pack_into(e + "f", header, 108, 0.0 if pair else 352.0)
    struct.pack_into(e + "ff", header, 112, slope, inter)
    struct.pack_into(e + "hh", header, 252, 1, 0)  # qform_code 1: qoffset is the origin
    struct.pack_into(e + "3f", header, 268, *origin)
    header[344:348] = b"ni1\0" if pair else b"n+1\0"
    data = pack_samples(code, values, big_endian)
    if pair:
        return bytes(header), data
    return bytes(header) + b"\0\0\0\0" + data


def nifti2(dims, code, values, pixdim=(1.0, 1.0, 1.0), slope=0.0, inter=0.0, big_endian=False,
           pair=False, origin=(0.0, 0.0, 0.0)):
    """A NIfTI-2 file, as `nifti` writes NIfTI-1: the 540-byte header with
    64-bit fields, 4 bytes of extension flag and the samples ("n+2"); or,
    with `pair`, (header, image) ("ni2")."""
    e = ">" if big_endian else "<"
    dim = [len(dims)] + list(dims) + [1] * (7 - len(dims))
    _, size = NPY_TYPES[code]
    header = bytearray(540)
    struct.pack_into(e + "i", header, 0, 540)
    header[4:12] = (b"ni2" if pair else b"n+2") + b"\0\r\n\x1a\n"
    struct.pack_into(e + "hh", header, 12, NIFTI_TYPES[code], 8 * size)
    struct.pack_into(e + "8q", header, 16, *dim)
    struct.pack_into(e + "8d", header, 104, 1.0, *pixdim, 1.0, 1.0, 1.0, 1.0)
    struct.pack_into(e + "q", header, 168, 0 if pair else 544)
    struct.pack_into(e + "dd", header, 176, slope, inter)
    struct.pack_into(e + "ii", header, 344, 1, 0)  # qform_code 1: qoffset is the origin
    struct.pack_into(e + "3d", header, 376, *origin)
    data = pack_samples(code, values, big_endian)
    if pair:
        return bytes(header), data
    return bytes(header) + b"\0\0\0\0" + data


MET_TYPES = {"i1": "MET_CHAR", "u1": "MET_UCHAR", "i2": "MET_SHORT", "u2": "MET_USHORT",
             "i4": "MET_INT", "u4": "MET_UINT", "i8": "MET_LONG_LONG", "u8": "MET_ULONG_LONG",
             "f4": "MET_FLOAT", "f8": "MET_DOUBLE"}


def metaimage(dims, code, values, spacing=None, offset=None, matrix=None, orientation=None,
              compressed=False, big_endian=False, data_file=None, channels=1, header_size=None,
              extra=""):
    """A MetaImage file by its documented keys (i fastest): returns
    (header+data, None) for ElementDataFile = LOCAL (.mha), or (header, data)
    when `data_file` names the file beside it (.mhd). `matrix` is the
    direction of each axis in turn (ITK's LPS frame)."""
    n = len(dims)
    lines = ["ObjectType = Image", "NDims = %d" % n, "BinaryData = True",
             "BinaryDataByteOrderMSB = " + ("True" if big_endian else "False"),
             "CompressedData = " + ("True" if compressed else "False")]
    data = pack_samples(code, values, big_endian)
    if compressed:
        data = zlib.compress(data)
        lines.append("CompressedDataSize = %d" % len(data))
    if matrix:
        lines.append("TransformMatrix = " + " ".join("%r" % float(x) for row in matrix for x in row))
    if offset:
        lines.append("Offset = " + " ".join("%r" % float(x) for x in offset))
    if spacing:
        lines.append("ElementSpacing = " + " ".join("%r" % float(x) for x in spacing))
    if orientation:
        lines.append("AnatomicalOrientation = " + orientation)
    if header_size is not None:
        lines.append("HeaderSize = %d" % header_size)
    lines.append("DimSize = " + " ".join("%d" % d for d in dims))
    if channels > 1:
        lines.append("ElementNumberOfChannels = %d" % channels)
    lines.append("ElementType = " + MET_TYPES[code] + ("_ARRAY" if channels > 1 else ""))
    lines.append("ElementDataFile = " + (data_file or "LOCAL"))
    header = ("\n".join(lines) + "\n" + extra).encode()
    if data_file:
        return header, data
    return header + data, None


MGH_TYPES = {"u1": 0, "i4": 1, "f4": 3, "i2": 4}


def mgh(dims, code, values, spacing=(1.0, 1.0, 1.0), axes=((1, 0, 0), (0, 1, 0), (0, 0, 1)),
        centre=(0.0, 0.0, 0.0), frames=1, ras_good=True):
    """A FreeSurfer MGH file (i fastest, then each frame): the 284-byte
    big-endian header and the samples; `axes` the RAS direction of each
    axis, `centre` that of sample (dims / 2)."""
    header = bytearray(284)
    struct.pack_into(">6i", header, 0, 1, dims[0], dims[1], dims[2], frames, MGH_TYPES[code])
    struct.pack_into(">h", header, 28, 1 if ras_good else 0)
    struct.pack_into(">3f", header, 30, *spacing)
    struct.pack_into(">9f", header, 42, *[x for row in axes for x in row])
    struct.pack_into(">3f", header, 78, *centre)
    return bytes(header) + pack_samples(code, values, big_endian=True)


def lps_to_display(p):
    """Where vxlconv shows a point of ITK's LPS frame."""
    return [p[0], p[2], -p[1]]


# ---------------------------------------------------------------------------
# The samples the tests convert, and what each must give.


# TIFF sample formats: SampleFormat tag value for NumPy dtype codes.
TIFF_FORMATS = {"u": 1, "i": 2, "f": 3}


def tiff(pages, width, height, code, values, channels=1, description=None, loop=False):
    """A little-endian TIFF of `pages` uncompressed pages of width x height
    samples (`values`: page by page, rows from the top, a pixel's channels
    together), one strip each; the first page carries `description`. With
    `loop` the last page's next-page offset points back at the first."""
    fmt, size = NPY_TYPES[code]
    page_bytes = width * height * channels * size
    out = bytearray(b"II*\0\0\0\0\0")
    first_ifd = None
    last_link = 4
    for n in range(pages):
        data = pack_samples(code, values[n * width * height * channels:(n + 1) * width * height * channels])
        assert len(data) == page_bytes
        data_at = len(out)
        out += data
        extra = bytearray()  # values that do not fit in an entry
        entries = []

        def entry(tag, kind, count, payload):
            entries.append((tag, kind, count, payload))
        entry(256, 4, 1, struct.pack("<I", width))
        entry(257, 4, 1, struct.pack("<I", height))
        entry(258, 3, channels, struct.pack("<" + "H" * channels, *[size * 8] * channels))
        entry(259, 3, 1, struct.pack("<H", 1))
        entry(262, 3, 1, struct.pack("<H", 2 if channels > 1 else 1))
        if description is not None and n == 0:
            text = description.encode() + b"\0"
            entry(270, 2, len(text), text)
        entry(273, 4, 1, struct.pack("<I", data_at))
        entry(277, 3, 1, struct.pack("<H", channels))
        entry(278, 4, 1, struct.pack("<I", height))
        entry(279, 4, 1, struct.pack("<I", page_bytes))
        entry(339, 3, channels, struct.pack("<" + "H" * channels, *[TIFF_FORMATS[code[0]]] * channels))
        if len(out) % 2:
            out += b"\0"
        ifd_at = len(out)
        extra_at = ifd_at + 2 + 12 * len(entries) + 4
        body = bytearray(struct.pack("<H", len(entries)))
        for tag, kind, count, payload in entries:
            if len(payload) <= 4:
                body += struct.pack("<HHI", tag, kind, count) + payload.ljust(4, b"\0")
            else:
                body += struct.pack("<HHII", tag, kind, count, extra_at + len(extra))
                extra += payload + (b"\0" if len(payload) % 2 else b"")
        struct.pack_into("<I", out, last_link, ifd_at)
        first_ifd = ifd_at if first_ifd is None else first_ifd
        last_link = ifd_at + len(body)
        out += body + b"\0\0\0\0" + extra
    if loop:
        struct.pack_into("<I", out, last_link, first_ifd)
    return bytes(out)


def ras_to_display(p):
    """Where vxlconv shows a point of the patient's RAS frame: the patient's
    left at +x, superior at +y, anterior at +z."""
    return [-p[0], p[2], p[1]]


def ball(radius, centre):
    def inside(x, y, z):
        return sum((a - c) ** 2 for a, c in zip((x, y, z), centre)) <= radius * radius
    return inside


def density(i, j, k):
    """A value falling off from (4, 3, 2): 100 at the centre."""
    return 100.0 - 10.0 * ((i - 4) ** 2 + (j - 3) ** 2 + (k - 2) ** 2) ** 0.5


def label_boxes(i, j, k):
    if i < 2 and j < 2 and k < 2:
        return 1
    if i >= 6 and k >= 2:
        return 3
    return 0


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def write_samples(folder):
    """Writes the samples into `folder` and samples.json, which says for each
    the vxlconv options and the voxels it must give: count, voxel size, and
    some voxels' centres and colours."""
    os.makedirs(folder, exist_ok=True)
    expect = {}

    # binvox: a ball of radius 5 in a 16^3 grid over [-1, 1)^3, plus one
    # voxel at grid index (0, 15, 0), the highest.
    inside = ball(5, (8, 8, 8))
    filled = lambda x, y, z: inside(x, y, z) or (x, y, z) == (0, 15, 0)  # noqa: E731
    write(os.path.join(folder, "ball.binvox"), binvox(16, filled, (-1.0, -1.0, -1.0), 2.0))
    count = sum(1 for x in range(16) for y in range(16) for z in range(16) if filled(x, y, z))
    step = 2.0 / 16
    expect["ball.binvox"] = {"options": [], "count": count, "voxel_size": step, "voxels": [
        # the top voxel is white (the top of the height ramp), the ball's lowest blue.
        [[-1 + 0.5 * step, -1 + 15.5 * step, -1 + 0.5 * step], [245, 245, 245]],
        [[-1 + 8.5 * step, -1 + 3.5 * step, -1 + 8.5 * step], [40, 70, 200]],
    ]}

    # NumPy labels, int16 in C order: two boxes, labels 1 and 3.
    shape = (8, 6, 4)
    labels = samples_in_order(shape, label_boxes)
    write(os.path.join(folder, "labels.npy"), npy(shape, "i2", labels))
    label_count = sum(1 for v in labels if v)
    label_voxels = [[[0, 0, 0], [0xf3, 0xc3, 0x00]], [[7, 5, 3], [0xf3, 0x84, 0x00]]]
    expect["labels.npy"] = {"options": [], "count": label_count, "voxel_size": 1.0,
                            "voxels": label_voxels}
    # The same labels big-endian, Fortran order, version 2 and as uint64.
    write(os.path.join(folder, "labels-fortran-big.npy"),
          npy(shape, "u8", samples_in_order(shape, label_boxes, fortran=True), fortran=True,
              big_endian=True, version=2))
    expect["labels-fortran-big.npy"] = dict(expect["labels.npy"])
    # A bool occupancy grid, version 3: coloured by height.
    write(os.path.join(folder, "occupancy.npy"),
          npy(shape, "b1", [bool(v) for v in labels], version=3))
    expect["occupancy.npy"] = {"options": [], "count": label_count, "voxel_size": 1.0,
                               "voxels": [[[0, 0, 0], [40, 70, 200]], [[7, 5, 3], [245, 245, 245]]]}

    # float64 values with a threshold, through the colour map: the centre
    # (100, the highest) is yellow, and only samples of at least 80 pass.
    values = samples_in_order(shape, density)
    write(os.path.join(folder, "density.npy"), npy(shape, "f8", values))
    passing = [v for v in values if v >= 80.0]
    expect["density.npy"] = {"options": ["--threshold", "80"], "count": len(passing),
                             "voxel_size": 1.0, "voxels": [[[4, 3, 2], [0xfd, 0xe7, 0x25]]]}
    expect["density-grey.npy"] = {"source": "density.npy",
                                  "options": ["--threshold", "80", "--colors", "grey"],
                                  "count": len(passing), "voxel_size": 1.0,
                                  "voxels": [[[4, 3, 2], [255, 255, 255]]]}

    # .npz: the density as float32, deflated and stored, one with zip64 sizes.
    member = npy(shape, "f4", values)
    write(os.path.join(folder, "density.npz"), npz({"density.npy": member, "other.npy": member}))
    write(os.path.join(folder, "density-stored64.npz"),
          npz({"density.npy": member}, compressed=False, force_zip64=True))
    for name in ("density.npz", "density-stored64.npz"):
        expect[name] = dict(expect["density.npy"])

    # NRRD: the density as int16 volume (rounded), spacing 1 1 2 (anisotropic:
    # cubes of 2 take pairs of samples along i and j), attached raw, gzip,
    # and a detached header naming its data file.
    dims = (8, 6, 4)
    ivalues = [int(round(density(i, j, k))) for k in range(4) for j in range(6) for i in range(8)]
    data, _ = nrrd(dims, "i2", ivalues, spacings=(1.0, 1.0, 2.0), origin=(10.0, 0.0, 0.0))
    write(os.path.join(folder, "density.nrrd"), data)
    data, _ = nrrd(dims, "i2", ivalues, encoding="gzip", big_endian=True,
                   directions=((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 2.0)),
                   origin=(10.0, 0.0, 0.0))
    write(os.path.join(folder, "density-gzip.nrrd"), data)
    header, raw = nrrd(dims, "i2", ivalues, spacings=(1.0, 1.0, 2.0), origin=(10.0, 0.0, 0.0),
                       data_file="density-data.raw")
    write(os.path.join(folder, "density.nhdr"), header)
    write(os.path.join(folder, "density-data.raw"), raw)
    # Cubes of edge 2: cube (a, b, k) takes samples i in {2a, 2a+1}, j in {2b, 2b+1}.
    cubes = {}
    for k in range(4):
        for j in range(6):
            for i in range(8):
                v = ivalues[i + 8 * (j + 6 * k)]
                if v >= 70:
                    cubes.setdefault((i // 2, j // 2, k), []).append(v)
    lo = min(min(c) for c in cubes.values())
    hi = max(max(c) for c in cubes.values())

    def grey(v):
        # As the converter rounds: halves away from zero.
        return int(64 + 191 * (v - lo) / (hi - lo) + 0.5)

    def cube_grey(c):
        g = [grey(v) for v in cubes[c]]
        return (sum(g) + len(g) // 2) // len(g)

    # Cube (2, 1, 2) holds samples i 4-5, j 2-3 at k 2, around the peak.
    centre = [10.0 - 0.5 + 2.5 * 2, -0.5 + 1.5 * 2, -1 + 2.5 * 2]
    nrrd_expect = {"options": ["--threshold", "70"], "count": len(cubes), "voxel_size": 2.0,
                   "voxels": [[centre, [cube_grey((2, 1, 2))] * 3]]}
    for name in ("density.nrrd", "density.nhdr"):
        expect[name] = nrrd_expect
    # Its space directions are in the patient's RAS frame: shown turned.
    expect["density-gzip.nrrd"] = dict(nrrd_expect, voxels=[
        [ras_to_display(centre), [cube_grey((2, 1, 2))] * 3]])

    # NIfTI: the density as uint8 stored as value/2 with scl_slope 2 and
    # scl_inter 0.5, isotropic spacing 0.5; .nii, .nii.gz (big-endian) and a
    # .hdr/.img pair.
    stored = [max(0, int(density(i, j, k) // 2)) for k in range(4) for j in range(6) for i in range(8)]
    scaled = [2 * s + 0.5 for s in stored]
    write(os.path.join(folder, "density.nii"),
          nifti(dims, "u1", stored, pixdim=(0.5, 0.5, 0.5), slope=2.0, inter=0.5))
    write(os.path.join(folder, "density.nii.gz"),
          gzip.compress(nifti(dims, "i2", stored, pixdim=(0.5, 0.5, 0.5), slope=2.0, inter=0.5,
                              big_endian=True), mtime=0))
    header, image = nifti(dims, "u1", stored, pixdim=(0.5, 0.5, 0.5), slope=2.0, inter=0.5, pair=True)
    write(os.path.join(folder, "density.hdr"), header)
    write(os.path.join(folder, "density.img"), image)
    nifti_pass = [v for v in scaled if v >= 80.5]
    nifti_expect = {"options": ["--threshold", "80.5", "--colors", "map"], "count": len(nifti_pass),
                    "voxel_size": 0.5,
                    "voxels": [[ras_to_display([2.0, 1.5, 1.0]), [0xfd, 0xe7, 0x25]]]}
    for name in ("density.nii", "density.nii.gz", "density.hdr"):
        expect[name] = nifti_expect
    # NIfTI-2: the same volume and the same voxels.
    write(os.path.join(folder, "density2.nii"),
          nifti2(dims, "u1", stored, pixdim=(0.5, 0.5, 0.5), slope=2.0, inter=0.5))
    write(os.path.join(folder, "density2.nii.gz"),
          gzip.compress(nifti2(dims, "i2", stored, pixdim=(0.5, 0.5, 0.5), slope=2.0, inter=0.5,
                               big_endian=True), mtime=0))
    header, image = nifti2(dims, "u1", stored, pixdim=(0.5, 0.5, 0.5), slope=2.0, inter=0.5,
                           pair=True)
    write(os.path.join(folder, "density2.hdr"), header)
    write(os.path.join(folder, "density2.img"), image)
    for name in ("density2.nii", "density2.nii.gz", "density2.hdr"):
        expect[name] = nifti_expect

    # Colours: an RGB array (C and Fortran order) and an RGBA one, 4 x 3 x 2,
    # red at (1, 2, 0), green at (3, 0, 1), black (RGB) or transparent
    # (RGBA) elsewhere; the same as an RGB-color NRRD, the channels fastest.
    def colour(i, j, k):
        return {(1, 2, 0): (255, 0, 0), (3, 0, 1): (0, 255, 0)}.get((i, j, k), (0, 0, 0))
    cshape = (4, 3, 2)
    rgb_c = [c for i in range(4) for j in range(3) for k in range(2) for c in colour(i, j, k)]
    rgb_f = [colour(i, j, k)[c] for c in range(3) for k in range(2) for j in range(3) for i in range(4)]
    rgba_c = [c for i in range(4) for j in range(3) for k in range(2)
              for c in colour(i, j, k) + ((255,) if any(colour(i, j, k)) else (0,))]
    write(os.path.join(folder, "colours.npy"), npy(cshape + (3,), "u1", rgb_c))
    write(os.path.join(folder, "colours-fortran.npy"), npy(cshape + (3,), "u1", rgb_f, fortran=True))
    write(os.path.join(folder, "colours-rgba.npy"), npy(cshape + (4,), "u1", rgba_c))
    rgb_nrrd = [c for k in range(2) for j in range(3) for i in range(4) for c in colour(i, j, k)]
    data, _ = nrrd((3,) + cshape, "u1", rgb_nrrd,
                   extra="kinds: RGB-color domain domain domain\n")
    write(os.path.join(folder, "colours.nrrd"), data)
    colour_expect = {"options": [], "count": 2, "voxel_size": 1.0,
                     "voxels": [[[1, 2, 0], [255, 0, 0]], [[3, 0, 1], [0, 255, 0]]]}
    for name in ("colours.npy", "colours-fortran.npy", "colours-rgba.npy", "colours.nrrd"):
        expect[name] = colour_expect
    # A series of two NRRD volumes, the slowest axis: the first is read.
    series = ivalues + [100] * len(ivalues)
    data, _ = nrrd(dims + (2,), "i2", series, spacings=(1.0, 1.0, 2.0, float("nan")),
                   origin=(10.0, 0.0, 0.0))
    write(os.path.join(folder, "density-series.nrrd"), data)
    expect["density-series.nrrd"] = nrrd_expect

    # MetaImage: the same volume as .mha (no orientation: axes as stored),
    # zlib-compressed big-endian with a TransformMatrix (ITK's LPS frame),
    # and an .mhd naming its data file.
    data, _ = metaimage(dims, "i2", ivalues, spacing=(1, 1, 2), offset=(10, 0, 0))
    write(os.path.join(folder, "density.mha"), data)
    data, _ = metaimage(dims, "i2", ivalues, spacing=(1, 1, 2), offset=(10, 0, 0),
                        matrix=((1, 0, 0), (0, 1, 0), (0, 0, 1)), compressed=True, big_endian=True)
    write(os.path.join(folder, "density-zlib.mha"), data)
    header, raw = metaimage(dims, "i2", ivalues, spacing=(1, 1, 2), offset=(10, 0, 0),
                            data_file="density-mhd.raw")
    write(os.path.join(folder, "density.mhd"), header)
    write(os.path.join(folder, "density-mhd.raw"), raw)
    expect["density.mha"] = expect["density.mhd"] = nrrd_expect
    expect["density-zlib.mha"] = dict(nrrd_expect, voxels=[
        [lps_to_display(centre), [cube_grey((2, 1, 2))] * 3]])
    # MGH: the same volume in the patient's RAS frame, its centre placing
    # sample (0, 0, 0) at (10, 0, 0); .mgz its gzip, as a series of two.
    mgh_data = mgh(dims, "i2", ivalues, spacing=(1, 1, 2), centre=(14, 3, 4))
    write(os.path.join(folder, "density.mgh"), mgh_data)
    write(os.path.join(folder, "density.mgz"), gzip.compress(
        mgh(dims, "i2", ivalues + [100] * len(ivalues), spacing=(1, 1, 2), centre=(14, 3, 4),
            frames=2), mtime=0))
    for name in ("density.mgh", "density.mgz"):
        expect[name] = expect["density-gzip.nrrd"]

    write_dtype_samples(os.path.join(folder, "dtypes"))
    with open(os.path.join(folder, "samples.json"), "w") as f:
        json.dump(expect, f, indent=1, sort_keys=True)
    return expect


def dtype_value(code, i, j, k):
    """The value each dtype sample holds at (i, j, k) of its (2, 3, 4) shape:
    i*100 + j*10 + k, less 60 for signed types (so some are negative), plus
    0.25 for floats; bool arrays hold (i + j + k) odd."""
    if code == "b1":
        return (i + j + k) % 2 == 1
    v = i * 100 + j * 10 + k
    if code[0] in "if":
        v -= 60
    if code[0] == "f":
        v += 0.25
    return v


def write_dtype_samples(folder):
    """Every dtype in every order each format allows, named
    FORMAT-CODE-ORDER-ENDIAN.ext (ORDER C or F; ENDIAN le or be), shape (2, 3, 4)."""
    os.makedirs(folder, exist_ok=True)
    shape = (2, 3, 4)
    for n, code in enumerate(sorted(NPY_TYPES)):
        for fortran in (False, True):
            for big in ((False, True) if NPY_TYPES[code][1] > 1 else (False,)):
                values = samples_in_order(shape, lambda i, j, k: dtype_value(code, i, j, k), fortran)
                name = "npy-%s-%s-%s.npy" % (code, "F" if fortran else "C", "be" if big else "le")
                write(os.path.join(folder, name),
                      npy(shape, code, values, fortran=fortran, big_endian=big, version=1 + n % 3))
    for n, code in enumerate(sorted(NRRD_TYPES)):
        values = samples_in_order(shape, lambda i, j, k: dtype_value(code, i, j, k), True)
        for big in ((False, True) if NPY_TYPES[code][1] > 1 else (False,)):
            encoding = "gzip" if (n + big) % 2 else "raw"
            data, _ = nrrd(shape, code, values, encoding=encoding, big_endian=big)
            write(os.path.join(folder, "nrrd-%s-F-%s.nrrd" % (code, "be" if big else "le")), data)
            write(os.path.join(folder, "nifti-%s-F-%s.nii" % (code, "be" if big else "le")),
                  nifti(shape, code, values, big_endian=big))
            if code in MET_TYPES:
                data, _ = metaimage(shape, code, values, big_endian=big, compressed=n % 2 == 1)
                write(os.path.join(folder, "metaimage-%s-F-%s.mha" % (code, "be" if big else "le")),
                      data)
            if code in MGH_TYPES and (big or NPY_TYPES[code][1] == 1):
                write(os.path.join(folder, "mgh-%s-F-be.mgh" % code), mgh(shape, code, values))


# ---------------------------------------------------------------------------
# Fuzzing seeds: valid files and damaged ones, a few hundred bytes each.


def write_seeds(folder):
    shape = (4, 3, 2)
    labels = samples_in_order(shape, lambda i, j, k: (i + j + k) % 3)
    values = samples_in_order(shape, lambda i, j, k: float(i * j - k))
    seeds = {
        "input_fuzz": {
            "ball.binvox": binvox(8, ball(3, (4, 4, 4)), (0.0, 0.0, 0.0), 1.0),
            "header_only.binvox": b"#binvox 1\ndim 4 4 4\ntranslate 0 0 0\nscale 1\ndata\n",
            "run_past_grid.binvox": b"#binvox 1\ndim 2 2 2\ndata\n\x01\x09",
            "huge_dim.binvox": b"#binvox 1\ndim 1048576 1048576 1048576\ndata\n\x01\xff",
            "labels.npy": npy(shape, "i2", labels),
            "values_big_fortran.npy": npy(shape, "f8", samples_in_order(shape, lambda i, j, k: i - j, True),
                                          fortran=True, big_endian=True, version=2),
            "bool_v3.npy": npy(shape, "b1", [bool(v) for v in labels], version=3),
            "huge_shape.npy": npy((1 << 40, 1 << 40, 8), "u1", []),
            "deflated.npz": npz({"a.npy": npy(shape, "u1", labels)}),
            "stored_zip64.npz": npz({"a.npy": npy(shape, "u1", labels)}, compressed=False, force_zip64=True),
            "raw.nrrd": nrrd(shape, "i2", [int(v) for v in values], spacings=(1, 1, 2))[0],
            "gzip.nrrd": nrrd(shape, "f4", values, encoding="gzip",
                              directions=((1, 0, 0), (0, 2, 0), (0, 0, 1)))[0],
            "detached.nhdr": nrrd(shape, "u1", labels, data_file="missing.raw")[0],
            "scaled.nii": nifti(shape, "u1", labels, slope=2.0, inter=1.0),
            "big_endian.nii": nifti(shape, "f4", values, big_endian=True),
            "pair.hdr": nifti(shape, "u1", labels, pair=True)[0],
            "series.nii": nifti(shape, "u1", labels + labels, extra_dims=(2,)),
            "gzip.nii.gz": gzip.compress(nifti(shape, "i2", labels), mtime=0),
            "nifti2.nii": nifti2(shape, "i2", labels, slope=2.0, inter=1.0),
            "oblique_lps.nrrd": nrrd(shape, "u1", labels, directions=((1, 0.3, 0), (0, 2, 0), (0, 0, -1)),
                                     space="left-posterior-superior")[0],
            "rgb.npy": npy(shape + (3,), "u1", labels * 3),
            "rgba_fortran.npy": npy(shape + (4,), "u1", labels * 4, fortran=True),
            "rgb_color.nrrd": nrrd((3,) + shape, "u1", labels * 3,
                                   extra="kinds: RGB-color domain domain domain\n")[0],
            "series.nrrd": nrrd(shape + (2,), "i2", labels * 2)[0],
            "local.mha": metaimage(shape, "i2", labels, spacing=(1, 1, 2), offset=(1, 2, 3))[0],
            "zlib_rai.mha": metaimage(shape, "f4", values, compressed=True, big_endian=True,
                                      orientation="RAI")[0],
            "oblique.mha": metaimage(shape, "u1", labels,
                                     matrix=((1, 0.3, 0), (0, 1, 0), (0, 0, -1)))[0],
            "rgb.mha": metaimage(shape, "u1", labels * 3, channels=3)[0],
            "series.mha": metaimage(shape + (2,), "u1", labels * 2)[0],
            "slice.mha": metaimage(shape[:2], "u2", labels[:12], header_size=-1)[0],
            "detached.mhd": metaimage(shape, "u1", labels, data_file="missing.raw")[0],
            "list.mhd": metaimage(shape, "u1", labels, data_file="LIST",
                                  extra="a.raw\nb.raw\n")[0],
            "pattern.mhd": metaimage(shape, "u1", labels, data_file="s%03d.raw 1 2 1")[0],
            "lia_default.mgh": mgh(shape, "u1", labels, ras_good=False),
            "frames.mgh": mgh(shape, "f4", values * 2, spacing=(1, 2, 1), frames=2,
                              axes=((0, 0, -1), (1, 0, 0), (0, 1, 0)), centre=(5, 5, 5)),
            "gzip.mgz": gzip.compress(mgh(shape, "i4", labels), mtime=0),
            "stack_u16.tif": tiff(2, 4, 3, "u2", [v * 1000 for v in labels]),
            "stack_f32.tif": tiff(3, 4, 2, "f4", values),
            "rgb_u8.tif": tiff(2, 4, 3, "u1", labels * 3, channels=3),
            "imagej_hyperstack.tif": tiff(4, 4, 3, "i2", labels * 2,
                                          description="ImageJ=1.11a\nimages=4\nchannels=2\n"
                                                      "slices=2\nhyperstack=true\nspacing=2.5\n"),
            "ome.tif": tiff(2, 4, 3, "u1", labels,
                            description='<?xml version="1.0"?><OME><Image><Pixels DimensionOrder='
                                        '"XYZCT" SizeX="4" SizeY="3" SizeZ="2" SizeC="1" SizeT="1" '
                                        'PhysicalSizeX="0.5" PhysicalSizeZ="1.5"/></Image></OME>'),
            "page_loop.tif": tiff(2, 4, 3, "u1", labels, loop=True),
            "huge_pages.tif": tiff(1, 4, 3, "u1", labels[:12]).replace(
                struct.pack("<HHII", 256, 4, 1, 4), struct.pack("<HHII", 256, 4, 1, 1 << 30)),
        },
    }
    for target, files in seeds.items():
        os.makedirs(os.path.join(folder, target), exist_ok=True)
        for name, data in files.items():
            write(os.path.join(folder, target, name), data)


# ---------------------------------------------------------------------------
# Benchmark inputs, written with whole rows at a time so that a 512^3 array
# takes seconds, not minutes.


def write_bench(folder):
    os.makedirs(folder, exist_ok=True)
    # A solid ball of radius 100 in a 256^3 binvox grid.
    dim, r = 256, 100
    runs = bytearray()
    for x in range(dim):
        for z in range(dim):
            # Along y the ball's row is one filled stretch between two empty ones.
            d2 = (x - 128) ** 2 + (z - 128) ** 2
            inner = []
            if d2 <= r * r:
                half = int((r * r - d2) ** 0.5)
                inner = [(0, 128 - half), (1, 2 * half + 1), (0, dim - (128 + half + 1))]
            else:
                inner = [(0, dim)]
            for value, count in inner:
                while count > 0:
                    n = min(255, count)
                    runs += bytes((value, n))
                    count -= n
    header = b"#binvox 1\ndim 256 256 256\ntranslate 0 0 0\nscale 256\ndata\n"
    write(os.path.join(folder, "ball-256.binvox"), header + bytes(runs))
    # A 512^3 uint8 array: labelled spherical shells two samples thick at
    # radii 60, 120, 180 and 240 about the centre.
    n = 512
    shells = (60, 120, 180, 240)
    with open(os.path.join(folder, "shell-512.npy"), "wb") as f:
        f.write(npy((n, n, n), "u1", []))
        for i in range(n):
            plane = bytearray(n * n)
            for j in range(n):
                d2 = (i - 256) ** 2 + (j - 256) ** 2
                row = plane
                for label, radius in enumerate(shells, 1):
                    outer = radius * radius
                    inner = (radius - 2) * (radius - 2)
                    if d2 > outer:
                        continue
                    hi = int((outer - d2) ** 0.5)
                    lo = int((inner - d2) ** 0.5) + 1 if d2 <= inner else 0
                    for k in list(range(256 + lo, 256 + hi + 1)) + list(range(256 - hi, 256 - lo + 1)):
                        row[j * n + k] = label
            f.write(bytes(plane))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("samples", "seeds", "bench"):
        sys.exit(__doc__)
    {"samples": write_samples, "seeds": write_seeds, "bench": write_bench}[sys.argv[1]](sys.argv[2])


if __name__ == "__main__":
    main()
