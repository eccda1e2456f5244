"""vxlconv on scans written by the formats' own library (nibabel, run by
Debian's /usr/bin/python3; tools/deps.sh test installs it): a head of labels
stored in every order and flip of its axes, NIfTI-1 or NIfTI-2, shows the
same voxels, upright
and unmirrored (the patient's left at +x, superior +y, anterior +z), and an
oblique one is turned to the nearest axes with a note; the same scans as
MGH/MGZ written by nibabel and as MetaImage (tools/make_grids.py's writer, in
ITK's LPS frame: raw, zlib, .mhd pairs, slice LIST and pattern,
AnatomicalOrientation) give the NIfTI files' voxels byte for byte; nibabel's
own test.mgz reads with its notes; nibabel's DICOM slices and a TIFF stack
ImageMagick writes convert; and the files of formats not read yet (Analyze,
MINC, PAR/REC and AFNI from nibabel's own test data) are each named in one
line, with or without --threshold.

Takes --vxlconv PATH.
"""

import argparse
import gzip
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
DEBIAN_PYTHON = "/usr/bin/python3"
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
    return subprocess.run([DEBIAN_PYTHON] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=240)


class Scans(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if run_debian_python("-c", "import nibabel").returncode != 0:
            subprocess.run([os.path.join(TOOLS, "deps.sh"), "test"], check=True, timeout=1200)
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-scans-")
        made = run_debian_python(os.path.join(TOOLS, "make_scans.py"), cls.tmp)
        if made.returncode != 0:
            raise RuntimeError("make_scans.py failed: " + made.stderr.decode(errors="replace"))
        with open(os.path.join(cls.tmp, "scans.json")) as f:
            cls.scans = json.load(f)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def convert(self, name, *options):
        out = os.path.join(self.tmp, name + "%d.vxl" % len(options))
        status, stdout, stderr = vxlconv(os.path.join(self.tmp, name), out, *options)
        self.assertEqual((status, stdout), (0, ""), stderr)
        return out, stderr

    def display_cube(self, ras):
        """The centre of the voxel that RAS sample (r, a, s) falls in: cubes
        of the largest spacing (2 mm) from the display volume's low corner."""
        spacing, origin = self.scans["spacing"], self.scans["origin"]
        dims = (12, 14, 9)
        edge = max(spacing)
        # Display x is R reversed, y is S, z is A.
        axes = ((0, True), (2, False), (1, False))
        centre = []
        for ras_axis, reversed_axis in axes:
            index = dims[ras_axis] - 1 - ras[ras_axis] if reversed_axis else ras[ras_axis]
            low = origin[ras_axis] + (dims[ras_axis] - 1) * spacing[ras_axis] if reversed_axis \
                else origin[ras_axis]
            first = -low if ras_axis == 0 else low
            step = spacing[ras_axis]
            cube = int((index + 0.5) * step // edge)
            centre.append(first - 0.5 * step + 0.5 * edge + cube * edge)
        return struct.unpack("<3f", struct.pack("<3f", *centre))

    def test_every_storage_order_and_flip_gives_the_same_voxels(self):
        first, _ = self.convert("head-00.nii", "--threshold", "1", "--colors", "labels")
        with open(first, "rb") as f:
            want = f.read()
        names = ["head-%02d.nii" % n for n in range(1, self.scans["count"])]
        names += ["head2-13.nii", "head2-13.nii.gz", "head2-38.nii", "head2-38.nii.gz"]
        for name in names:
            with self.subTest(name):
                out, stderr = self.convert(name, "--threshold", "1", "--colors", "labels")
                self.assertEqual(stderr, "")
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), want, "%s differs from head-00.nii" % name)

    def test_mgh_and_metaimage_twins_give_the_nifti_files_voxels(self):
        twins = self.scans["twins"]
        self.assertEqual(len(twins), 12)
        for name, nifti in sorted(twins.items()):
            with self.subTest(name):
                out, stderr = self.convert(name, "--threshold", "1", "--colors", "labels")
                self.assertEqual(stderr, "")
                want, _ = self.convert(nifti, "--threshold", "1", "--colors", "labels")
                with open(out, "rb") as f, open(want, "rb") as g:
                    self.assertEqual(f.read(), g.read(), "%s differs from %s" % (name, nifti))

    def test_the_head_is_upright_and_unmirrored(self):
        # Labels 2 and up alone: the nose, the ear and the mark, each of its
        # own colour, where someone facing the patient sees them.
        for name in ("head-00.nii", "head-29.nii"):
            with self.subTest(name):
                out, _ = self.convert(name, "--threshold", "2", "--colors", "labels")
                by_colour = {}
                for position, rgb in voxels_of(out).items():
                    by_colour.setdefault(rgb, set()).add(position)
                want = {}
                for r, a, s, label in self.scans["voxels"]:
                    if label >= 2:
                        want.setdefault(label, set()).add(self.display_cube((r, a, s)))
                self.assertEqual(sorted(map(sorted, by_colour.values())),
                                 sorted(map(sorted, want.values())))
                everything = set().union(*want.values())
                top = max(p[1] for p in everything)
                self.assertEqual({p[1] for p in want[4]}, {top}, "the mark is not on top")
                self.assertEqual(max(p[2] for p in want[2]), max(p[2] for p in everything))
                self.assertGreater(min(p[0] for p in want[3]), 0, "the left ear is not at +x")

    def test_an_oblique_scan_is_turned_to_the_nearest_axes_with_a_note(self):
        path = os.path.join(self.tmp, "oblique.nii")
        out, stderr = self.convert("oblique.nii", "--threshold", "1")
        self.assertEqual(stderr, "vxlconv: note: %s is oblique (its axes lie up to 15.0 degrees "
                                 "off the patient's): it is turned to the nearest axes, not "
                                 "resampled\n" % path)
        plain, _ = self.convert("head-00.nii", "--threshold", "1")
        self.assertEqual(len(voxels_of(out)), len(voxels_of(plain)))


class ColourArrays(unittest.TestCase):
    """RGB and RGBA arrays as numpy.save writes them, in C and Fortran order:
    each sample's colour is its voxel's; black or transparent is empty."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-colours-")
        made = run_debian_python("-c", """
import sys, numpy
rgb = numpy.zeros((5, 4, 3, 3), numpy.uint8)
rgb[1, 2, 0] = (255, 0, 0)
rgb[4, 3, 2] = (10, 200, 30)
numpy.save(sys.argv[1] + "/rgb.npy", rgb)
numpy.save(sys.argv[1] + "/rgb-f.npy", numpy.asfortranarray(rgb))
rgba = numpy.zeros((5, 4, 3, 4), numpy.uint8)
rgba[..., :3] = rgb
rgba[..., 3] = numpy.where(rgb.any(axis=-1), 255, 0)
rgba[0, 0, 0] = (90, 90, 90, 0)
numpy.save(sys.argv[1] + "/rgba.npy", rgba)
""", cls.tmp)
        if made.returncode != 0:
            raise RuntimeError(made.stderr.decode(errors="replace"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_each_sample_gives_its_colour(self):
        want = {(1.0, 2.0, 0.0): (255, 0, 0), (4.0, 3.0, 2.0): (10, 200, 30)}
        for name in ("rgb.npy", "rgb-f.npy", "rgba.npy"):
            with self.subTest(name):
                out = os.path.join(self.tmp, name + ".vxl")
                status, stdout, stderr = vxlconv(os.path.join(self.tmp, name), out)
                self.assertEqual((status, stdout, stderr), (0, "", ""))
                self.assertEqual(voxels_of(out), want)


NIBABEL_DATA = "/usr/lib/python3/dist-packages/nibabel/tests/data"


class RealScans(unittest.TestCase):
    """Scans that ship with Debian's python3-nibabel as its own test data."""

    def test_series_oblique_and_nifti2_files_read_with_their_notes(self):
        tmp = tempfile.mkdtemp(prefix="vxlconv-real-")
        try:
            for name, kind in (("example4d.nii.gz", "NIfTI-1"),
                               ("example_nifti2.nii.gz", "NIfTI-2")):
                with self.subTest(name):
                    path = os.path.join(NIBABEL_DATA, name)
                    out = os.path.join(tmp, name + ".vxl")
                    status, stdout, stderr = vxlconv(path, out, "--threshold", "200")
                    self.assertEqual((status, stdout), (0, ""), stderr)
                    self.assertEqual(stderr, (
                        "vxlconv: note: %s holds a series of volumes; the first is read\n"
                        "vxlconv: note: %s is oblique (its axes lie up to 9.3 degrees off the "
                        "patient's): it is turned to the nearest axes, not resampled\n")
                        % (path, path))
                    self.assertGreater(len(voxels_of(out)), 1000)
                    # Cut short, the file is refused as what it is.
                    with open(path, "rb") as f:
                        header = gzip.decompress(f.read())[:400]
                    cut = os.path.join(tmp, "cut.nii")
                    with open(cut, "wb") as f:
                        f.write(header)
                    status, _, stderr = vxlconv(cut, out, "--threshold", "200")
                    self.assertEqual(status, 1)
                    self.assertEqual(stderr.count("\n"), 1, stderr)
                    self.assertTrue(stderr.startswith("vxlconv: cannot read %s as %s: " % (cut, kind)),
                                    stderr)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


    def test_freesurfer_test_volume_reads_its_first_frame_turned_with_its_notes(self):
        # Two frames of float samples on oblique, sheared axes of equal
        # length: no cubes to merge, so each sample of the first frame at or
        # above the threshold is one voxel.
        path = os.path.join(NIBABEL_DATA, "test.mgz")
        counted = run_debian_python("-c", """
import sys, nibabel
print(int((nibabel.load(sys.argv[1]).get_fdata()[..., 0] >= 0.5).sum()))
""", path)
        self.assertEqual(counted.returncode, 0, counted.stderr)
        tmp = tempfile.mkdtemp(prefix="vxlconv-real-")
        try:
            out = os.path.join(tmp, "test.vxl")
            status, stdout, stderr = vxlconv(path, out, "--threshold", "0.5")
            self.assertEqual((status, stdout), (0, ""), stderr)
            lines = stderr.splitlines()
            self.assertEqual(lines[0], "vxlconv: note: %s holds a series of volumes; the first "
                                       "is read" % path)
            self.assertTrue(lines[1].startswith("vxlconv: note: %s is oblique" % path), stderr)
            self.assertEqual(len(lines), 2, stderr)
            self.assertEqual(len(voxels_of(out)), int(counted.stdout))
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


class FormatsNotReadYet(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-unread-")
        made = run_debian_python("-c", """
import sys, numpy, nibabel
ones = numpy.ones((4, 5, 6), numpy.uint8)
nibabel.save(nibabel.AnalyzeImage(ones, numpy.eye(4)), sys.argv[1] + "/old.img")
""", cls.tmp)
        if made.returncode != 0:
            raise RuntimeError(made.stderr.decode(errors="replace"))
        subprocess.run(["convert", "-size", "8x8", "xc:white", "xc:black",
                        os.path.join(cls.tmp, "stack.tif")], check=True, timeout=60)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_nibabels_dicom_files_convert(self):
        # Read once these were named as not read yet; now each is a slice
        # of a series that its folder gathers.
        out = os.path.join(self.tmp, "dicom.vxl")
        for path in (os.path.join(NIBABEL_DATA, "0.dcm"),
                     os.path.join(NIBABEL_DATA, "..", "..", "nicom", "tests", "data", "0.dcm")):
            with self.subTest(path=path):
                status, stdout, stderr = vxlconv(path, out, "--threshold", "100")
                self.assertEqual((status, stdout), (0, ""), stderr)
                self.assertGreater(len(voxels_of(out)), 0)

    def test_an_imagemagick_tiff_stack_converts(self):
        # Its first page is white, its second black: the first page's 8 x 8
        # samples are the voxels, in the lowest layer.
        out = os.path.join(self.tmp, "stack.vxl")
        status, stdout, stderr = vxlconv(os.path.join(self.tmp, "stack.tif"), out,
                                         "--threshold", "1")
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        voxels = voxels_of(out)
        self.assertEqual(sorted(voxels), sorted((float(x), float(y), 0.0)
                                                for x in range(8) for y in range(8)))

    def test_each_is_named_in_one_line(self):
        cases = [
            (NIBABEL_DATA, "analyze.hdr", "an Analyze 7.5 header"),
            (NIBABEL_DATA, "minc1_1_scale.mnc", "a MINC-1 volume (NetCDF)"),
            (NIBABEL_DATA, "minc2_1_scale.mnc", "a MINC-2 volume (HDF5)"),
            (NIBABEL_DATA, "T1.PAR", "a Philips PAR header"),
            (NIBABEL_DATA, "phantom_EPI_asc_CLEAR_2_1.REC", "a Philips REC image"),
            (NIBABEL_DATA, "example4d+orig.HEAD", "an AFNI header"),
            (NIBABEL_DATA, "scaled+tlrc.BRIK", "an AFNI image"),
            (NIBABEL_DATA, "example4d+orig.BRIK.gz", "an AFNI image"),
            (self.tmp, "old.hdr", "an Analyze 7.5 header"),
        ]
        out = os.path.join(self.tmp, "out.vxl")
        for folder, name, what in cases:
            for options in ([], ["--threshold", "100"]):
                with self.subTest(name=name, options=options):
                    path = os.path.join(folder, name)
                    status, stdout, stderr = vxlconv(path, out, *options)
                    self.assertEqual((status, stdout), (1, ""))
                    self.assertEqual(stderr, "vxlconv: %s is %s, which vxlconv does not read "
                                             "yet\n" % (path, what))
                    self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
