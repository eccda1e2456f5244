#!/usr/bin/python3
"""Writes small DICOM series with pydicom, and the same volume as NIfTI with
nibabel, for the converter's DICOM tests. Needs Debian's python3-pydicom,
python3-nibabel and python3-numpy (tools/deps.sh test).

    tools/make_dicom.py DIR          the series below, and dicom.json
    tools/make_dicom.py DIR seeds    a few tiny files for the fuzzing corpus
    tools/make_dicom.py DIR N SIZE   one CT series of N slices of SIZE x SIZE
                                     (DIR/big) and the same samples as
                                     DIR/big.nii, for the benchmark

A synthetic CT of a head in the patient's LPS frame, in Hounsfield units
stored as unsigned values with Rescale Intercept -1024: soft tissue (40 HU)
in a skull (1000 HU), a marker on the top (superior, 1000 HU) and one on
the patient's left (700 HU). Each series is written in shuffled file-name
order with shuffled Instance Numbers:

    head/          rows along +L, columns along +P, slices along +S
    flipped/       the same volume, rows along -L (the normal is then -S)
    gappy/         head/ less two slices, and one slice moved off its step
    tilted/        head/ with each slice shifted along P (a tilted gantry)
    mixed/         head/ and a second, shorter series of another UID
    mono1/         head/ stored MONOCHROME1 (inverted), 12 of 16 bits signed
    multiframe.dcm an enhanced CT: all slices in one file, placed by
                   per-frame functional groups, scaled per frame
    dose.dcm       an RT dose grid: Grid Frame Offset Vector, Dose Grid
                   Scaling
    rgb/           a colour series (RGB) of the head's markers
    dicomdir/      head/ as a File-set: a DICOMDIR and its files in subfolders
    self/DICOMDIR  a DICOMDIR whose only record points at itself
    short/         head/ with one slice's pixel data cut short
    head.nii       the head/ volume as NIfTI (RAS affine), the same samples
"""

import json
import os
import random
import sys

import nibabel
import numpy
import pydicom
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

SHAPE = (20, 18, 12)  # L, P, S
SPACING = (1.0, 1.25, 2.0)
CT = "1.2.840.10008.5.1.4.1.1.2"
ENHANCED_CT = "1.2.840.10008.5.1.4.1.1.2.1"
RT_DOSE = "1.2.840.10008.5.1.4.1.1.481.2"


def head(shape=SHAPE):
    """Hounsfield units, indexed [L][P][S]."""
    nx, ny, nz = shape
    x, y, z = numpy.meshgrid(numpy.arange(nx), numpy.arange(ny), numpy.arange(nz),
                             indexing="ij", sparse=True)
    cx, cy, cz = (nx - 1) / 2, (ny - 1) / 2, (nz - 1) / 2
    r = ((x - cx) / (nx * 0.4)) ** 2 + ((y - cy) / (ny * 0.4)) ** 2 + ((z - cz) / (nz * 0.45)) ** 2
    volume = numpy.full(shape, -1000, numpy.int32)
    volume[r <= 1.0] = 1000
    volume[r <= 0.6] = 40
    # Top marker (superior) and a marker on the patient's left (+L).
    volume[int(cx) - 1:int(cx) + 1, int(cy) - 1:int(cy) + 1, nz - 1] = 1000
    volume[nx - 1, int(cy) - 1:int(cy) + 1, int(cz) - 1:int(cz) + 1] = 700
    return volume


def base(sop_class, series_uid, study_uid, frame_uid):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(None, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID = study_uid
    ds.SeriesInstanceUID = series_uid
    ds.FrameOfReferenceUID = frame_uid
    ds.PatientName = "Phantom^Head"
    ds.PatientID = "0"
    ds.StudyDate, ds.StudyTime, ds.StudyID, ds.SeriesNumber = "20260101", "120000", "1", 1
    ds.Modality = "CT"
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = 16
    ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 0
    ds.RescaleSlope = 1
    ds.RescaleIntercept = -1024
    ds.PixelSpacing = [SPACING[1], SPACING[0]]  # between rows (P), between columns (L)
    ds.SliceThickness = 9  # never the spacing: the positions say it
    return ds


def write_series(folder, volume, flipped=False, skip=(), moved=None, shift=0.0,
                 series_uid=None, mono1=False, rgb=False, rng=None, prefix="IM"):
    """One file a slice of `volume` ([L][P][S], HU), names and Instance
    Numbers shuffled. Returns the Series Instance UID."""
    os.makedirs(folder, exist_ok=True)
    nx, ny, nz = volume.shape
    series_uid = series_uid or generate_uid()
    study, frame = generate_uid(), generate_uid()
    slices = [k for k in range(nz) if k not in skip]
    names = list(range(len(slices)))
    numbers = list(range(1, len(slices) + 1))
    rng.shuffle(names)
    rng.shuffle(numbers)
    for n, k in enumerate(slices):
        ds = base(CT, series_uid, study, frame)
        plane = volume[:, :, k].T  # [row = P][column = L]
        if flipped:
            plane = plane[:, ::-1]
            ds.ImageOrientationPatient = [-1, 0, 0, 0, 1, 0]
            x0 = (nx - 1) * SPACING[0]
        else:
            ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
            x0 = 0.0
        z = k * SPACING[2] + (0.7 if moved == k else 0.0)
        ds.ImagePositionPatient = [x0, k * shift, z]
        ds.InstanceNumber = numbers[n]
        ds.Rows, ds.Columns = plane.shape
        if rgb:
            colours = numpy.zeros(plane.shape + (3,), numpy.uint8)
            colours[plane >= 900] = (250, 240, 200)
            colours[(plane >= 600) & (plane < 900)] = (200, 30, 30)
            ds.SamplesPerPixel = 3
            ds.PhotometricInterpretation = "RGB"
            ds.PlanarConfiguration = 0
            ds.BitsAllocated = ds.BitsStored = 8
            ds.HighBit = 7
            del ds.RescaleSlope, ds.RescaleIntercept
            ds.PixelData = colours.tobytes()
        elif mono1:
            # Signed, 12 of 16 bits, inverted: stored = -1 - HU, and the bits
            # above the 12th hold noise the reader must drop.
            stored = (-1 - plane).astype(numpy.int16)
            raw = (stored.astype(numpy.uint16) & 0x0FFF) | numpy.uint16(0x5000)
            ds.PhotometricInterpretation = "MONOCHROME1"
            ds.BitsStored = 12
            ds.HighBit = 11
            ds.PixelRepresentation = 1
            ds.RescaleIntercept = 0
            ds.PixelData = raw.astype("<u2").tobytes()
        else:
            ds.PixelData = (plane + 1024).astype("<u2").tobytes()
        ds.save_as(os.path.join(folder, "%s%04d" % (prefix, names[n])), write_like_original=False)
    return series_uid


def write_multiframe(path, volume, rng):
    """An enhanced CT: every slice a frame, shuffled, each with its own
    position and rescale (slope 2 on odd frames)."""
    nx, ny, nz = volume.shape
    ds = base(ENHANCED_CT, generate_uid(), generate_uid(), generate_uid())
    for name in ("PixelSpacing", "RescaleSlope", "RescaleIntercept", "SliceThickness"):
        if name in ds:
            delattr(ds, name)
    order = list(range(nz))
    rng.shuffle(order)
    ds.Rows, ds.Columns = ny, nx
    ds.NumberOfFrames = nz
    shared = pydicom.Dataset()
    measures = pydicom.Dataset()
    measures.PixelSpacing = [SPACING[1], SPACING[0]]
    measures.SliceThickness = 9
    shared.PixelMeasuresSequence = [measures]
    orientation = pydicom.Dataset()
    orientation.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    shared.PlaneOrientationSequence = [orientation]
    ds.SharedFunctionalGroupsSequence = [shared]
    frames, planes = [], []
    for f, k in enumerate(order):
        item = pydicom.Dataset()
        position = pydicom.Dataset()
        position.ImagePositionPatient = [0.0, 0.0, k * SPACING[2]]
        item.PlanePositionSequence = [position]
        scale = pydicom.Dataset()
        slope = 2 if f % 2 else 1
        scale.RescaleSlope = slope
        scale.RescaleIntercept = -1024
        item.PixelValueTransformationSequence = [scale]
        frames.append(item)
        planes.append(((volume[:, :, k].T + 1024) // slope).astype("<u2"))
    ds.PerFrameFunctionalGroupsSequence = frames
    ds.PixelData = numpy.stack(planes).tobytes()
    ds.save_as(path, write_like_original=False)


def write_dose(path, volume):
    """An RT dose grid: frames at relative offsets, 32-bit, scaled."""
    nx, ny, nz = volume.shape
    ds = base(RT_DOSE, generate_uid(), generate_uid(), generate_uid())
    ds.Modality = "RTDOSE"
    for name in ("RescaleSlope", "RescaleIntercept"):
        delattr(ds, name)
    ds.BitsAllocated = ds.BitsStored = 32
    ds.HighBit = 31
    ds.Rows, ds.Columns = ny, nx
    ds.NumberOfFrames = nz
    ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    ds.ImagePositionPatient = [0.0, 0.0, 0.0]
    ds.GridFrameOffsetVector = [k * SPACING[2] for k in range(nz)]
    ds.DoseGridScaling = 0.001
    dose = numpy.clip(volume, 0, None).astype(numpy.uint32) * 10  # 0.01 Gy a HU
    ds.PixelData = numpy.stack([dose[:, :, k].T for k in range(nz)]).astype("<u4").tobytes()
    ds.save_as(path, write_like_original=False)


def write_nifti(path, volume):
    """The same samples as head/ (stored + 1024, scaled back), RAS affine."""
    affine = numpy.diag([-SPACING[0], -SPACING[1], SPACING[2], 1.0])
    image = nibabel.Nifti1Image((volume + 1024).astype(numpy.uint16), affine)
    image.header.set_slope_inter(1.0, -1024.0)
    image.set_sform(affine, code=1)
    image.set_qform(affine, code=1)
    nibabel.save(image, path)


def write_fileset(series, folder, self_folder):
    """`series` as a File-set in `folder`; then a DICOMDIR in `self_folder`
    whose one image record names the DICOMDIR itself."""
    from pydicom.fileset import FileSet
    files = FileSet()
    for name in sorted(os.listdir(series)):
        files.add(os.path.join(series, name))
    files.write(folder)
    os.makedirs(self_folder, exist_ok=True)
    dicomdir = pydicom.dcmread(os.path.join(folder, "DICOMDIR"))
    for record in dicomdir.DirectoryRecordSequence:
        if "ReferencedFileID" in record:
            record.ReferencedFileID = "DICOMDIR"
    dicomdir.save_as(os.path.join(self_folder, "DICOMDIR"), write_like_original=True)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(7)
    if sys.argv[2:] == ["seeds"]:
        small = head((5, 4, 3))
        write_multiframe(os.path.join(out, "enhanced_ct.dcm"), small, rng)
        write_dose(os.path.join(out, "rt_dose.dcm"), small)
        write_series(os.path.join(out, "slice"), small[:, :, :1], rng=rng)
        write_series(os.path.join(out, "slice_mono1"), small[:, :, :1], mono1=True, rng=rng)
        write_series(os.path.join(out, "slice_rgb"), small[:, :, :1], rgb=True, rng=rng)
        return
    if len(sys.argv) == 4:
        n, size = int(sys.argv[2]), int(sys.argv[3])
        volume = head((size, size, n))
        write_series(os.path.join(out, "big"), volume, rng=rng)
        write_nifti(os.path.join(out, "big.nii"), volume)
        return
    volume = head()
    uids = {}
    uids["head"] = write_series(os.path.join(out, "head"), volume, rng=rng)
    write_series(os.path.join(out, "flipped"), volume, flipped=True, rng=rng)
    write_series(os.path.join(out, "gappy"), volume, skip=(3, 7), moved=9, rng=rng)
    write_series(os.path.join(out, "tilted"), volume, shift=0.5, rng=rng)
    write_series(os.path.join(out, "mono1"), volume, mono1=True, rng=rng)
    write_series(os.path.join(out, "rgb"), volume, rgb=True, rng=rng)
    uids["mixed_big"] = write_series(os.path.join(out, "mixed"), volume, rng=rng)
    uids["mixed_small"] = write_series(os.path.join(out, "mixed"), volume[:, :, :5],
                                       rng=rng, prefix="SM")
    write_multiframe(os.path.join(out, "multiframe.dcm"), volume, rng)
    write_dose(os.path.join(out, "dose.dcm"), volume)
    write_nifti(os.path.join(out, "head.nii"), volume)
    write_fileset(os.path.join(out, "head"), os.path.join(out, "dicomdir"),
                  os.path.join(out, "self"))
    write_series(os.path.join(out, "short"), volume, rng=rng)
    cut = pydicom.dcmread(os.path.join(out, "short", "IM0005"))
    raw = bytearray(open(os.path.join(out, "short", "IM0005"), "rb").read())
    with open(os.path.join(out, "short", "IM0005"), "wb") as f:
        f.write(raw[:len(raw) - cut.Columns])  # half a row of 16-bit samples
    with open(os.path.join(out, "dicom.json"), "w") as f:
        json.dump({"uids": uids, "shape": SHAPE}, f)


if __name__ == "__main__":
    main()
