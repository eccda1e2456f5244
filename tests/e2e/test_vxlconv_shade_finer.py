#!/usr/bin/env python3
"""vxlconv on volumes written by the formats' own Debian writers (nibabel's
NIfTI, numpy's .npy, run by Debian's /usr/bin/python3): a one-colour mask
shows its form when drawn by vxlrender, a thick-slice scan is made finer,
an integer CT array with a threshold is grey, and a segmentation's border
label is named with the option that leaves it out."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import png_file  # noqa: E402
import test_vxlconv  # noqa: E402  (its vxlconv runner and voxel-file reader)
import test_vxlconv_grids  # noqa: E402

vxlconv = test_vxlconv.vxlconv
read_voxels = test_vxlconv_grids.read_voxels
VXLRENDER = None
DEBIAN_PYTHON = "/usr/bin/python3"

# Written by nibabel and numpy themselves: the files a user holds.
WRITERS = r"""
import sys
import nibabel
import numpy as np

out = sys.argv[1]
# A brain-like blob, 1 inside and 0 outside, 2 mm voxels.
n = 48
i, j, k = np.meshgrid(*(np.arange(n),) * 3, indexing="ij")
x, y, z = (i - 23.5) * 2, (j - 23.5) * 2, (k - 23.5) * 2
blob = ((x / 40) ** 2 + (y / 32) ** 2 + (z / 36) ** 2 < 1) & ~((np.abs(x) < 3) & (y > 10))
nibabel.save(nibabel.Nifti1Image(blob.astype(np.uint8), np.diag([2.0, 2.0, 2.0, 1.0])),
             out + "/mask.nii.gz")
# A ball in 4 x 4 x 5 mm slices, intensities falling off at its surface.
dims = (30, 30, 24)
i, j, k = np.meshgrid(*(np.arange(d) for d in dims), indexing="ij")
r = np.sqrt(((i - 14.5) * 4) ** 2 + ((j - 14.5) * 4) ** 2 + ((k - 11.5) * 5) ** 2)
head = np.clip(1000 - 40 * (r - 40), 0, 1000).astype(np.int16)
nibabel.save(nibabel.Nifti1Image(head, np.diag([4.0, 4.0, 5.0, 1.0])), out + "/thick.nii.gz")
# An int16 CT array: air -1000, tissue 40, bone 700 to 1200.
ct = np.full((20, 20, 20), -1000, np.int16)
ct[3:17, 3:17, 3:17] = 40
ct[8:12, 8:12, 8:12] = np.arange(64).reshape(4, 4, 4) * 8 + 700
np.save(out + "/ct.npy", ct)
# A segmentation whose background is label 3.
seg = np.full((16, 16, 16), 3, np.int16)
seg[4:12, 4:12, 4:12] = 1
seg[6:10, 6:10, 6:10] = 2
np.save(out + "/seg.npy", seg)
"""


def render(source, png):
    done = subprocess.run([VXLRENDER, source, png, "--size", "320x240"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    if done.returncode != 0:
        raise AssertionError(done.stderr.decode(errors="replace"))
    w, h, channels, pixels = png_file.read_png(png)
    rgb = png_file.rgb_of(pixels, channels)
    return w, h, [tuple(rgb[n : n + 3]) for n in range(0, len(rgb), 3)]


class DebianWrittenVolumes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-shade-finer-")
        done = subprocess.run([DEBIAN_PYTHON, "-c", WRITERS, cls.tmp], stderr=subprocess.PIPE,
                              timeout=120)
        if done.returncode != 0:
            raise AssertionError("nibabel and numpy under %s wrote no files (tools/deps.sh test "
                                 "installs python3-nibabel): %s"
                                 % (DEBIAN_PYTHON, done.stderr.decode(errors="replace")))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def convert(self, source, name, *options):
        out = self.path(name)
        status, stdout, stderr = vxlconv(self.path(source), out, *options)
        self.assertEqual((status, stdout), (0, ""), stderr)
        return out, stderr

    def test_a_one_colour_mask_shows_its_form(self):
        flat, _ = self.convert("mask.nii.gz", "flat.vxl", "--threshold", "1", "--no-shade")
        self.assertEqual({rgb for _, rgb in read_voxels(flat)[2]}, {(255, 255, 255)})
        shaded, stderr = self.convert("mask.nii.gz", "shaded.vxl", "--threshold", "1")
        self.assertEqual(stderr, "")
        flat_voxels, shaded_voxels = read_voxels(flat), read_voxels(shaded)
        self.assertEqual([c for c, _ in flat_voxels[2]], [c for c, _ in shaded_voxels[2]])
        w, h, before = render(flat, self.path("flat.png"))
        _, _, after = render(shaded, self.path("shaded.png"))
        # The same silhouette, now in many greys: lit above, dim below.
        self.assertEqual([p == (0, 0, 0) for p in before], [p == (0, 0, 0) for p in after])
        self.assertEqual(len(set(before) - {(0, 0, 0)}), 1)
        self.assertGreater(len(set(after) - {(0, 0, 0)}), 20)
        rows = [[p for p in after[y * w : (y + 1) * w] if p != (0, 0, 0)] for y in range(h)]
        lit = [sum(map(sum, r)) / len(r) for r in rows if r]
        fifth = len(lit) // 5
        self.assertGreater(sum(lit[:fifth]) / fifth, sum(lit[-fifth:]) / fifth + 60)

    def test_thick_slices_are_made_finer(self):
        cubes, _ = self.convert("thick.nii.gz", "cubes.vxl", "--threshold", "500")
        fine, _ = self.convert("thick.nii.gz", "fine.vxl", "--threshold", "500",
                               "--voxel-size", "2")
        coarse_count, coarse_size, coarse = read_voxels(cubes)
        count, size, voxels = read_voxels(fine)
        self.assertEqual((coarse_size, size), (5.0, 2.0))
        # About (5/2)^3 = 15.6 times the cubes for the same ball.
        self.assertGreater(count, 10 * coarse_count)
        self.assertLess(count, 22 * coarse_count)
        # The same ball: its box within a 5 mm cube of the cubes' box.
        for axis in range(3):
            for pick in (min, max):
                cube_edge = pick(c[axis] for c, _ in coarse) + (2.5 if pick is max else -2.5)
                fine_edge = pick(c[axis] for c, _ in voxels) + (1 if pick is max else -1)
                self.assertLessEqual(abs(fine_edge - cube_edge), 5.0, (axis, pick))
        # --resolution finer than the cubes takes the same way; a voxel file
        # of those cubes still refuses to be made finer.
        by_resolution, _ = self.convert("thick.nii.gz", "res.vxl", "--threshold", "500",
                                        "--resolution", "60")
        self.assertLess(read_voxels(by_resolution)[1], 2.0)
        status, _, stderr = vxlconv(cubes, self.path("again.vxl"), "--voxel-size", "2")
        self.assertEqual((status, stderr),
                         (1, "vxlconv: %s: --voxel-size 2 is smaller than its voxels (5); a "
                             "voxel input can only be made coarser\n" % cubes))

    def test_an_integer_ct_array_with_a_threshold_is_grey(self):
        bone, _ = self.convert("ct.npy", "bone.vxl", "--threshold", "300", "--no-shade")
        count, _, voxels = read_voxels(bone)
        self.assertEqual(count, 64)
        colours = {rgb for _, rgb in voxels}
        self.assertTrue(all(r == g == b for r, g, b in colours), colours)
        self.assertEqual(min(colours), (64, 64, 64))
        self.assertEqual(max(colours), (255, 255, 255))
        labels, _ = self.convert("ct.npy", "labels.vxl", "--no-shade")
        self.assertFalse(all(r == g == b for _, (r, g, b) in read_voxels(labels)[2]))

    def test_a_border_label_is_named_with_the_option_that_leaves_it_out(self):
        whole, stderr = self.convert("seg.npy", "whole.vxl")
        self.assertEqual(stderr, "vxlconv: note: %s: label 3 fills most of the volume's border, "
                                 "as a background would; --background 3 leaves it out\n"
                         % self.path("seg.npy"))
        self.assertEqual(read_voxels(whole)[0], 16 ** 3)
        inside, stderr = self.convert("seg.npy", "inside.vxl", "--background", "3")
        self.assertEqual(stderr, "")
        self.assertEqual(read_voxels(inside)[0], 8 ** 3)
        status, _, stderr = vxlconv(self.path("mask.nii.gz"), self.path("x.vxl"), "--threshold",
                                    "1", "--background", "3")
        self.assertEqual((status, stderr),
                         (1, "vxlconv: give either --threshold or --background, not both\n"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    parser.add_argument("--vxlrender", required=True)
    args, rest = parser.parse_known_args()
    test_vxlconv.VXLCONV = os.path.abspath(args.vxlconv)
    VXLRENDER = os.path.abspath(args.vxlrender)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
