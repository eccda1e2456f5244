"""vxlconv on TIFF stacks written by tifffile (Debian's python3-tifffile
under /usr/bin/python3; tools/make_tiffs.py) and ImageMagick: each stack
gives exactly as many voxels as numpy counts in what tifffile reads, past
the same threshold; a compressed, tiled or BigTIFF stack (zlib, lzma, a predictor,
ImageMagick's LZW and PackBits), a gzip-wrapped one, one read from a pipe
and a folder of slices named out of natural order give the very voxel file
of the plain stack, whose voxels lie at the samples' indices with the
image's top row highest; ImageJ and OME-XML spacing comes out as the voxel
size; a stack of colours keeps its colour; vxlrender draws a folder; and
broken stacks and folders are refused in one line.

Takes --vxlconv PATH --vxlrender PATH --corpus DIR (the input fuzzer's seeds).
"""

import argparse
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from test_vxlconv_scans import voxels_of

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
DEBIAN_PYTHON = "/usr/bin/python3"
VXLCONV = VXLRENDER = CORPUS = None


def run(args, stdin=None):
    done = subprocess.run([str(a) for a in args], stdin=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


class TiffStacks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if subprocess.run([DEBIAN_PYTHON, "-c", "import tifffile"],
                          stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
            subprocess.run([os.path.join(TOOLS, "deps.sh"), "test"], check=True, timeout=1200)
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-tiff-")
        subprocess.run([DEBIAN_PYTHON, os.path.join(TOOLS, "make_tiffs.py"), "samples", cls.tmp],
                       check=True, timeout=120)
        with open(os.path.join(cls.tmp, "tiffs.json")) as f:
            cls.expected = json.load(f)
        # ImageMagick, a second writer: LZW and PackBits twins of the plain stack.
        stack = os.path.join(cls.tmp, "stack.tif")
        for name, compression in (("lzw.tif", "LZW"), ("packbits.tif", "RLE")):
            subprocess.run(["convert", stack, "-compress", compression,
                            os.path.join(cls.tmp, name)], check=True, timeout=60)
            cls.expected[name] = cls.expected["stack.tif"]
        with open(stack, "rb") as f, gzip.open(stack + ".gz", "wb") as g:
            g.write(f.read())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def convert(self, name, threshold, stdin=None):
        path = "/dev/stdin" if stdin else os.path.join(self.tmp, name)
        out = os.path.join(self.tmp, name.replace("/", "_") + ".vxl")
        options = [] if threshold is None else ["--threshold", threshold]
        status, stdout, stderr = run([VXLCONV, path, out] + options, stdin=stdin)
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        with open(out, "rb") as f:
            return f.read()

    def header(self, vxl):
        count, size = vxl.split(b"\n", 1)[0].split()
        return int(count), float(size)

    def test_every_stack_counts_as_numpy_counts_what_tifffile_reads(self):
        for name, want in sorted(self.expected.items()):
            with self.subTest(name=name):
                count, size = self.header(self.convert(name, want["threshold"]))
                self.assertEqual(count, want["count"])
                self.assertEqual(size, want.get("voxel_size", 1.0))

    def test_compressed_tiled_piped_and_sliced_stacks_are_the_plain_ones_voxels(self):
        plain = self.convert("stack.tif", 1000)
        for name in ("zlib.tif", "lzma.tif", "predictor.tif", "tiled.tif", "bigtiff.tif", "lzw.tif",
                     "packbits.tif", "stack.tif.gz", "slices"):
            with self.subTest(name=name):
                self.assertEqual(self.convert(name, 1000), plain)
        with open(os.path.join(self.tmp, "stack.tif"), "rb") as f:
            self.assertEqual(self.convert("piped", 1000, stdin=f), plain)
        # Sample (x, row, page) is the voxel at (x, rows - 1 - row, page).
        rows = 40
        got = sorted(voxels_of(os.path.join(self.tmp, "stack.tif.vxl")))
        want = sorted((float(x), float(rows - 1 - y), float(z))
                      for x, y, z in self.expected["stack.tif"]["indices"])
        self.assertEqual(got, want)

    def test_colours_are_kept(self):
        self.convert("rgb.tif", None)
        colours = set(voxels_of(os.path.join(self.tmp, "rgb.tif.vxl")).values())
        # Shading darkens a colour by the voxel's hidden sides, keeping its hue.
        self.assertTrue(colours)
        for r, g, b in colours:
            self.assertGreater(r, g)
            self.assertGreater(g, b)

    def test_vxlrender_draws_a_folder_of_slices(self):
        picture = os.path.join(self.tmp, "slices.png")
        status, stdout, stderr = run([VXLRENDER, os.path.join(self.tmp, "slices"), picture,
                                      "--size", "64x48", "--threshold", "1000"])
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        with open(picture, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

    def test_broken_stacks_and_folders_are_refused_in_one_line(self):
        odd = os.path.join(self.tmp, "odd")
        os.mkdir(odd)
        for name in ("a_1.tif", "a_2.tif"):
            shutil.copy(os.path.join(self.tmp, "slices", "slice_1.tif"), os.path.join(odd, name))
        shutil.copy(os.path.join(self.tmp, "uint8.tif"), os.path.join(odd, "a_10.tif"))
        loop = os.path.join(CORPUS, "page_loop.tif")
        cases = [
            (loop, "cannot read %s as TIFF: its chain of pages loops back or does not read to "
                   "its end" % loop),
            (odd, "cannot read %s as TIFF slices: its slice a_10.tif is 50 x 40 uint8; the "
                  "first, a_1.tif, is 50 x 40 uint16" % odd),
        ]
        out = os.path.join(self.tmp, "refused.vxl")
        for path, message in cases:
            with self.subTest(path=path):
                status, stdout, stderr = run([VXLCONV, path, out, "--threshold", "1"])
                self.assertEqual((status, stdout, stderr), (1, "", "vxlconv: %s\n" % message))
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    parser.add_argument("--vxlrender", required=True)
    parser.add_argument("--corpus", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    VXLRENDER = os.path.abspath(args.vxlrender)
    CORPUS = os.path.abspath(args.corpus)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
