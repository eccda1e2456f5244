#!/usr/bin/python3
"""Writes small head scans with nibabel, the NIfTI library neuroimaging
tools write with, for the converter's orientation tests. Needs Debian's
python3-nibabel and python3-numpy (tools/deps.sh test).

    tools/make_scans.py DIR     the scans, and scans.json: what each holds

A head of labels in the patient's RAS frame (1 mm samples, 2 mm along S):
1 the head, 2 the nose (anterior), 3 an ear on the patient's left, 4 a mark
on the top (superior). It is stored in every order of its axes and every
flip (head-NN.nii: sform on even NN, qform on odd; head2-NN.nii and
.nii.gz: NIfTI-2 in two of them), and turned 15 degrees about S
(oblique.nii).

Some of the orders are written again as twins in other formats, the same
samples in the same place: MGH and MGZ by nibabel (mgh-NN.mgh, mgh-NN.mgz),
and MetaImage by make_grids.py's writer in ITK's LPS frame (meta-NN.mha raw,
zlib, big-endian, an .mhd with its .raw, a LIST of slice files, a numbered
pattern of them, and head-06's LPS-ordered samples oriented by
AnatomicalOrientation RAI alone). scans.json's "twins" maps each to the
NIfTI file it must give the same voxels as.
"""

import itertools
import json
import os
import sys

import nibabel
import numpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_grids  # noqa: E402

SHAPE = (12, 14, 9)  # R, A, S
SPACING = (1.0, 1.0, 2.0)
ORIGIN = (-6.0, -7.0, -9.0)


def head():
    """The labels, indexed [R][A][S]."""
    r, a, s = numpy.indices(SHAPE)
    v = numpy.zeros(SHAPE, numpy.uint8)
    v[((r - 5.5) / 4.5) ** 2 + ((a - 6.5) / 5.5) ** 2 + ((s - 4) / 3.5) ** 2 <= 1] = 1
    v[5:7, 12:14, 3:5] = 2   # nose: anterior
    v[0:2, 6:8, 3:5] = 3     # ear at low R: the patient's left
    v[5:7, 6:8, 8] = 4       # mark on top
    return v


def affine():
    a = numpy.diag(list(SPACING) + [1.0])
    a[:3, 3] = ORIGIN
    return a


def save(data, aff, path, use_qform, kind=nibabel.Nifti1Image):
    image = kind(data, aff)
    if use_qform:
        image.set_sform(None, code=0)
        image.set_qform(aff, code=1)
    else:
        image.set_qform(None, code=0)
        image.set_sform(aff, code=2)
    nibabel.save(image, path)


def lps(aff):
    """The same affine in ITK's LPS frame."""
    return numpy.diag([-1.0, -1.0, 1.0, 1.0]) @ aff


def write_metaimage(folder, name, data, aff, **options):
    """`data` (indexed [i][j][k]) placed by the RAS affine `aff`, as
    MetaImage: the axes' LPS directions, spacings and origin; slices=
    "list" or "pattern" writes each k slice to a file of its own."""
    a = lps(aff)
    spacing = [float(numpy.linalg.norm(a[:3, c])) for c in range(3)]
    matrix = [list(a[:3, c] / spacing[c]) for c in range(3)]
    if options.pop("orientation_only", False):
        options["orientation"], matrix = "RAI", None
    slices = options.pop("slices", None)
    code = options.pop("code", "u1")
    values = [int(v) for v in data.flatten(order="F")]
    kwargs = dict(spacing=spacing, offset=list(a[:3, 3]), matrix=matrix, **options)
    if not slices:
        stem = name.rsplit(".", 1)[0]
        raw_name = stem + ".raw" if name.endswith(".mhd") else None
        header, raw = make_grids.metaimage(data.shape, code, values, data_file=raw_name, **kwargs)
        make_grids.write(os.path.join(folder, name), header)
        if raw_name:
            make_grids.write(os.path.join(folder, raw_name), raw)
        return
    per_slice = data.shape[0] * data.shape[1]
    names = ["%s-slice%03d.raw" % (name[:-4], k + 1) for k in range(data.shape[2])]
    if slices == "list":
        listing, extra = "LIST", "".join(n + "\n" for n in names)
    else:
        listing, extra = "%s-slice%%03d.raw 1 %d 1" % (name[:-4], data.shape[2]), ""
    header, raw = make_grids.metaimage(data.shape, code, values, data_file=listing, extra=extra,
                                       **kwargs)
    make_grids.write(os.path.join(folder, name), header)
    size = len(raw) // data.shape[2]
    for k, slice_name in enumerate(names):
        assert size == per_slice * len(raw) // len(values)
        make_grids.write(os.path.join(folder, slice_name), raw[k * size:(k + 1) * size])


# The head orders written again in other formats, and how.
META_TWINS = {
    0: dict(name="meta-00.mha"),
    13: dict(name="meta-13.mha", compressed=True, code="i2", big_endian=True),
    29: dict(name="meta-29.mhd"),
    38: dict(name="meta-38.mhd", slices="list", code="u2"),
    45: dict(name="meta-45.mhd", slices="pattern"),
    6: dict(name="meta-06.mha", orientation_only=True),
}
MGH_TWINS = (0, 13, 38)


def write_scans(folder):
    os.makedirs(folder, exist_ok=True)
    labels = head()
    n = 0
    twins = {}
    for perm in itertools.permutations(range(3)):
        for flips in itertools.product((False, True), repeat=3):
            data, aff = labels, affine()
            for axis, flip in enumerate(flips):
                if flip:
                    data = numpy.flip(data, axis)
                    turn = numpy.eye(4)
                    turn[axis, axis] = -1
                    turn[axis, 3] = SHAPE[axis] - 1
                    aff = aff @ turn
            data = numpy.ascontiguousarray(numpy.transpose(data, perm))
            order = numpy.eye(4)
            order[:3, :3] = numpy.eye(3)[:, perm]
            save(data, aff @ order, os.path.join(folder, "head-%02d.nii" % n), n % 2 == 1)
            if n in META_TWINS:
                options = dict(META_TWINS[n])
                name = options.pop("name")
                write_metaimage(folder, name, data, aff @ order, **options)
                twins[name] = "head-%02d.nii" % n
            if n in MGH_TWINS:
                for ext in ("mgh", "mgz"):
                    name = "mgh-%02d.%s" % (n, ext)
                    nibabel.save(nibabel.MGHImage(data, aff @ order), os.path.join(folder, name))
                    twins[name] = "head-%02d.nii" % n
            # NIfTI-2, plain and gzip, in two of the orders.
            if n in (13, 38):
                save(data, aff @ order, os.path.join(folder, "head2-%02d.nii" % n), n % 2 == 1,
                     nibabel.Nifti2Image)
                save(data, aff @ order, os.path.join(folder, "head2-%02d.nii.gz" % n),
                     n % 2 == 1, nibabel.Nifti2Image)
            n += 1
    turn = numpy.eye(4)
    c, s = numpy.cos(numpy.radians(15)), numpy.sin(numpy.radians(15))
    turn[:2, :2] = [[c, -s], [s, c]]
    save(labels, turn @ affine(), os.path.join(folder, "oblique.nii"), False)
    voxels = [[int(r), int(a), int(s), int(labels[r, a, s])]
              for r, a, s in zip(*numpy.nonzero(labels))]
    with open(os.path.join(folder, "scans.json"), "w") as f:
        json.dump({"count": n, "spacing": SPACING, "origin": ORIGIN, "voxels": voxels,
                   "twins": twins}, f)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_scans.py DIR")
    write_scans(sys.argv[1])
