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
"""

import itertools
import json
import os
import sys

import nibabel
import numpy

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


def write_scans(folder):
    os.makedirs(folder, exist_ok=True)
    labels = head()
    n = 0
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
        json.dump({"count": n, "spacing": SPACING, "origin": ORIGIN, "voxels": voxels}, f)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_scans.py DIR")
    write_scans(sys.argv[1])
