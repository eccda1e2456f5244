"""vxlconv on DICOM series written by the format's own tools from Debian
(tools/deps.sh test installs them): pydicom (run by /usr/bin/python3,
tools/make_dicom.py) writes a synthetic CT head in shuffled file and
instance order, flipped, as one enhanced multi-frame file, as an RT dose
grid, MONOCHROME1 in 12 signed bits, in colour, with gaps, tilted, beside a
second series, as a File-set with a DICOMDIR; gdcmconv transcodes it to each
lossless transfer syntax. Each gives exactly the voxels of its uncompressed
twin and of the same volume written as NIfTI by nibabel. pydicom's own test
files convert too, and hostile folders and files are refused in one line or
read in bounded time.

Takes --vxlconv PATH.
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
DEBIAN_PYTHON = "/usr/bin/python3"
PYDICOM_FILES = "/usr/lib/python3/dist-packages/pydicom/data/test_files"
VXLCONV = None


def vxlconv(*args):
    done = subprocess.run([VXLCONV] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def voxels_of(path):
    """{(x, y, z) as 32-bit floats: (r, g, b)} of a voxel file."""
    with open(path) as f:
        numbers = f.read().split()
    found = {}
    for n in range(int(numbers[0])):
        fields = numbers[2 + 6 * n: 8 + 6 * n]
        position = struct.unpack("<3f", struct.pack("<3f", *(float(x) for x in fields[:3])))
        found[position] = tuple(int(x) for x in fields[3:])
    return found


def run_debian_python(*args):
    return subprocess.run([DEBIAN_PYTHON] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=240)


# Writes every file of a series again in Explicit VR Big Endian.
TO_BIG_ENDIAN = """
import os, sys, pydicom
source, target = sys.argv[1], sys.argv[2]
os.makedirs(target)
for name in os.listdir(source):
    ds = pydicom.dcmread(os.path.join(source, name))
    samples = ds.pixel_array.astype(ds.pixel_array.dtype.newbyteorder(">"))
    ds.file_meta.TransferSyntaxUID = pydicom.uid.ExplicitVRBigEndian
    ds.is_little_endian, ds.is_implicit_VR = False, False
    ds.PixelData = samples.tobytes()
    ds.save_as(os.path.join(target, name), write_like_original=False)
"""

# One slice as pydicom decodes it (pixel_array), written by nibabel as NIfTI
# where its Image Orientation and Position (Patient) place it, with its
# rescale as the NIfTI scaling.
NIFTI_TWIN = """
import sys, numpy, nibabel, pydicom
ds = pydicom.dcmread(sys.argv[1])
row = numpy.array(ds.ImageOrientationPatient[:3], float)
column = numpy.array(ds.ImageOrientationPatient[3:], float)
normal = numpy.cross(row, column)
between_rows, between_columns = (float(v) for v in ds.PixelSpacing)
thickness = float(ds.get("SpacingBetweenSlices", 0) or ds.get("SliceThickness", 0) or 1)
affine = numpy.eye(4)
affine[:3, 0] = row * between_columns
affine[:3, 1] = column * between_rows
affine[:3, 2] = normal * thickness
affine[:3, 3] = [float(v) for v in ds.ImagePositionPatient]
affine[:2, :] *= -1  # LPS to RAS
image = nibabel.Nifti1Image(ds.pixel_array.T[:, :, None], affine)
image.header.set_slope_inter(float(ds.get("RescaleSlope", 1)),
                             float(ds.get("RescaleIntercept", 0)))
image.set_sform(affine, code=1)
nibabel.save(image, sys.argv[2])
"""


class Dicom(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if run_debian_python("-c", "import pydicom, nibabel").returncode != 0 or \
                shutil.which("gdcmconv") is None:
            subprocess.run([os.path.join(TOOLS, "deps.sh"), "test"], check=True, timeout=1200)
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-dicom-")
        made = run_debian_python(os.path.join(TOOLS, "make_dicom.py"), cls.tmp)
        if made.returncode != 0:
            raise RuntimeError("make_dicom.py failed: " + made.stderr.decode(errors="replace"))
        with open(os.path.join(cls.tmp, "dicom.json")) as f:
            cls.made = json.load(f)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def convert(self, path, *options):
        out = os.path.join(self.tmp, "out-%d.vxl" % time.monotonic_ns())
        status, stdout, stderr = vxlconv(path, out, *options)
        self.assertEqual((status, stdout), (0, ""), stderr)
        with open(out, "rb") as f:
            return f.read(), stderr

    def refused(self, path, *options):
        out = os.path.join(self.tmp, "refused.vxl")
        status, stdout, stderr = vxlconv(path, out, *options)
        self.assertEqual((status, stdout), (1, ""), stderr)
        self.assertTrue(stderr.startswith("vxlconv: "), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertFalse(os.path.exists(out))
        return stderr

    def parsed(self, data):
        path = self.at("parsed.vxl")
        with open(path, "wb") as f:
            f.write(data)
        return voxels_of(path)

    def at(self, name):
        return os.path.join(self.tmp, name)

    def test_every_layout_gives_the_voxels_of_the_nifti_twin(self):
        for threshold in ("300", "-500"):
            want, _ = self.convert(self.at("head.nii"), "--threshold", threshold)
            for name in ("head", "head/IM0003", "flipped", "mono1", "multiframe.dcm",
                         "dicomdir", "dicomdir/DICOMDIR"):
                with self.subTest(name=name, threshold=threshold):
                    got, stderr = self.convert(self.at(name), "--threshold", threshold)
                    self.assertEqual(stderr, "")
                    self.assertEqual(got, want, "%s differs from head.nii" % name)

    def test_the_head_is_upright_and_unmirrored(self):
        got, _ = self.convert(self.at("head"), "--threshold", "600")
        voxels = self.parsed(got)
        xs = sorted(p[0] for p in voxels)
        middle_x = (xs[0] + xs[-1]) / 2
        top = max(p[1] for p in voxels)
        # The top marker is alone on the highest layer, in the middle.
        for p in voxels:
            if p[1] == top:
                self.assertLess(abs(p[0] - middle_x), 2.5, p)
        # The left marker (700 HU, the darkest grey) is on the patient's left: +x.
        darkest = min(c[0] for c in voxels.values())
        marker = [p for p, c in voxels.items() if c[0] == darkest]
        self.assertTrue(all(p[0] > middle_x for p in marker), marker)

    def test_each_lossless_syntax_gives_the_voxels_of_its_uncompressed_twin(self):
        want, _ = self.convert(self.at("head"), "--threshold", "300")
        syntaxes = [["--implicit"], ["--deflated"], ["--rle"], ["--jpeg"], ["--jpegls"],
                    ["--j2k"]]
        for syntax in syntaxes:
            with self.subTest(syntax=syntax):
                folder = self.at("head" + syntax[0].replace("-", "_"))
                os.mkdir(folder)
                for name in os.listdir(self.at("head")):
                    subprocess.run(["gdcmconv"] + syntax + [os.path.join(self.at("head"), name),
                                                            os.path.join(folder, name)],
                                   check=True, timeout=60, stdout=subprocess.DEVNULL)
                got, stderr = self.convert(folder, "--threshold", "300")
                self.assertEqual(stderr, "")
                self.assertEqual(got, want)
        with self.subTest(syntax="explicit big endian"):
            made = run_debian_python("-c", TO_BIG_ENDIAN, self.at("head"), self.at("big_endian"))
            self.assertEqual(made.returncode, 0, made.stderr)
            got, _ = self.convert(self.at("big_endian"), "--threshold", "300")
            self.assertEqual(got, want)

    def test_dose_and_colour_volumes(self):
        # 10 dose units a Hounsfield unit, scaled by 0.001: 3 Gy is 300 HU.
        want, _ = self.convert(self.at("head"), "--threshold", "300")
        got, _ = self.convert(self.at("dose.dcm"), "--threshold", "3")
        self.assertEqual(got, want)
        got, _ = self.convert(self.at("rgb"))
        colours = set(self.parsed(got).values())
        self.assertIn((250, 240, 200), colours)
        self.assertIn((200, 30, 30), colours)

    def test_gaps_tilts_and_other_series_are_noted(self):
        _, stderr = self.convert(self.at("gappy"), "--threshold", "300")
        self.assertIn("has unevenly spaced slices", stderr)
        self.assertIn("is missing 2 slices", stderr)
        _, stderr = self.convert(self.at("tilted"), "--threshold", "300")
        self.assertIn("has slices tilted by 14.04 degrees", stderr)
        want, _ = self.convert(self.at("head"), "--threshold", "300")
        got, stderr = self.convert(self.at("mixed"), "--threshold", "300")
        self.assertEqual(got, want)
        uids = self.made["uids"]
        self.assertIn("holds 2 series; read 1: %s (12 images); the others: 2: %s (5 images)"
                      % (uids["mixed_big"], uids["mixed_small"]), stderr)
        small, _ = self.convert(self.at("mixed"), "--threshold", "300", "--series", "2")
        by_uid, _ = self.convert(self.at("mixed"), "--threshold", "300", "--series",
                                 uids["mixed_small"])
        self.assertEqual(small, by_uid)
        self.assertLess(len(small), len(want))
        self.assertIn("holds no series 3", self.refused(self.at("mixed"), "--series", "3"))
        self.assertEqual(self.refused(self.at("head.nii"), "--threshold", "1", "--series", "1"),
                         "vxlconv: --series applies to DICOM inputs\n")

    def test_pydicom_files(self):
        want, _ = self.convert(os.path.join(PYDICOM_FILES, "MR_small.dcm"), "--threshold", "1000")
        for name in ("MR_small_bigendian", "MR_small_implicit", "MR_small_RLE",
                     "MR_small_jp2klossless", "MR_small_jpeg_ls_lossless"):
            with self.subTest(name=name):
                # Each alone in a folder: pydicom's folder holds other series.
                folder = self.at(name)
                os.mkdir(folder)
                shutil.copy(os.path.join(PYDICOM_FILES, name + ".dcm"), folder)
                got, _ = self.convert(os.path.join(folder, name + ".dcm"), "--threshold", "1000")
                self.assertEqual(got, want)
        # pydicom's own decoding, placed by nibabel: the same voxels.
        for name, threshold in (("CT_small", "300"), ("MR_small", "1000")):
            with self.subTest(name=name):
                path = os.path.join(PYDICOM_FILES, name + ".dcm")
                twin = self.at(name + ".nii")
                made = run_debian_python("-c", NIFTI_TWIN, path, twin)
                self.assertEqual(made.returncode, 0, made.stderr)
                want, _ = self.convert(twin, "--threshold", threshold)
                folder = self.at(name + "_alone")
                os.mkdir(folder)
                shutil.copy(path, folder)
                got, _ = self.convert(os.path.join(folder, name + ".dcm"), "--threshold",
                                      threshold)
                # NIfTI keeps its affine in 32-bit floats: positions agree to
                # their rounding, counts and colours exactly.
                want_voxels, got_voxels = self.parsed(want), self.parsed(got)
                self.assertGreater(len(want_voxels), 10)
                self.assertEqual(len(got_voxels), len(want_voxels))
                for (p, c), (q, d) in zip(sorted(got_voxels.items()),
                                          sorted(want_voxels.items())):
                    self.assertEqual(c, d)
                    for a, b in zip(p, q):
                        self.assertAlmostEqual(a, b, delta=1e-3)
        truncated = os.path.join(PYDICOM_FILES, "MR_truncated.dcm")
        self.assertIn("that claims 8192 bytes; 8130 follow it", self.refused(truncated))

    def test_hostile_folders_and_files(self):
        junk = self.at("junk")
        os.mkdir(junk)
        for n in range(10000):
            with open(os.path.join(junk, "f%05d" % n), "wb") as f:
                f.write(b"not a scan %d\n" % n)
        started = time.monotonic()
        self.refused(junk)
        for name in os.listdir(self.at("head")):
            shutil.copy(os.path.join(self.at("head"), name), junk)
        want, _ = self.convert(self.at("head"), "--threshold", "300")
        got, _ = self.convert(junk, "--threshold", "300")
        self.assertEqual(got, want)
        self.assertLess(time.monotonic() - started, 60, "the folder of 10,000 files took long")
        self.assertIn("names no DICOM file", self.refused(self.at("self")))
        self.assertIn("names no DICOM file", self.refused(self.at("self/DICOMDIR")))
        # The short slice: named, and its place left empty.
        _, stderr = self.convert(self.at("short"), "--threshold", "300")
        self.assertIn("IM0005 has an element (7FE0,0010) that claims 720 bytes; 700 follow it",
                      stderr)
        alone = self.at("short_alone")
        os.mkdir(alone)
        shutil.copy(self.at("short/IM0005"), alone)
        self.assertIn("claims 720 bytes; 700 follow it",
                      self.refused(os.path.join(alone, "IM0005")))
        # A header that claims a huge image in a file of a few hundred bytes.
        with open(self.at("head/IM0003"), "rb") as f:
            data = bytearray(f.read())
        rows = data.find(b"\x28\x00\x10\x00US\x02\x00")
        data[rows + 8:rows + 10] = b"\xff\xff"
        data[rows + 18:rows + 20] = b"\xff\xff"  # Columns follows Rows
        huge = self.at("huge")
        os.mkdir(huge)
        with open(os.path.join(huge, "IM"), "wb") as f:
            f.write(data)
        self.refused(os.path.join(huge, "IM"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
