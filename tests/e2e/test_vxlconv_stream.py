"""Volumes read slab by slab: a raw NRRD of 2 GiB (a ball in the middle of
holes) converts under a --max-memory of a quarter of its size, its voxels
exactly those computed slice by slice from how the ball was written; and
small NRRD, NIfTI and NumPy volumes give byte for byte the file that the same
bytes give read whole (through a pipe, which is never streamed).

Takes --vxlconv PATH.
"""

import argparse
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402

VXLCONV = None
TIMEOUT = 120
# The fixtures are written by numpy, nibabel and tools/sparse_ball.py under
# Debian's Python (tools/deps.sh test installs them).
DEBIAN_PYTHON = "/usr/bin/python3"
TOOLS = os.path.join(HERE, "..", "..", "tools")

BIG_BALL = """
import sys
sys.path.insert(0, sys.argv[1])
import sparse_ball
ball = sparse_ball.write_ball(sys.argv[2], (1024, 1024, 2048), 120)
print(sparse_ball.coarse_hollow_count(ball, 64))
"""

# A graded lumpy ball written as NRRD (three types, turns and byte
# orders), NIfTI (turned and flipped) and .npy (C and Fortran order).
SMALL_VOLUMES = """
import os, sys
import numpy as np
import nibabel
folder = sys.argv[1]
z, y, x = np.mgrid[0:23, 0:19, 0:29]
r = np.sqrt((x - 13.2) ** 2 + 1.4 * (y - 9.1) ** 2 + (z - 10.7) ** 2)
values = np.clip(210 - 19 * r + (x * 7 + y * 3 + z) % 5, 0, 255)

def nrrd(name, kind, typename, directions, endian):
    header = ("NRRD0004\\ntype: %s\\ndimension: 3\\nsizes: 29 19 23\\nencoding: raw\\n"
              "endian: %s\\nspace: left-posterior-superior\\n"
              "space directions: %s\\nspace origin: (2.5,-4,100)\\n\\n"
              % (typename, endian, directions))
    data = values.astype(np.dtype(kind).newbyteorder("<" if endian == "little" else ">"))
    with open(os.path.join(folder, name), "wb") as f:
        f.write(header.encode() + data.tobytes())

nrrd("plain.nrrd", "uint8", "uint8", "(1,0,0) (0,1,0) (0,0,1)", "little")
nrrd("flipped.nrrd", "int16", "int16", "(-0.5,0,0) (0,0.5,0) (0,0,-0.5)", "big")
nrrd("turned.nrrd", "float32", "float", "(0,0,2) (-2,0,0) (0,-2,0)", "little")
affine = np.array([[-1, 0, 0, 5], [0, 0, 1, -3], [0, -1, 0, 7], [0, 0, 0, 1]], dtype=float)
nibabel.save(nibabel.Nifti1Image(values.transpose(2, 1, 0).astype(np.uint16), affine),
             os.path.join(folder, "flipped.nii"))
np.save(os.path.join(folder, "c-order.npy"), values.transpose(2, 1, 0).astype(np.uint8))
np.save(os.path.join(folder, "fortran.npy"),
        np.asfortranarray(values.transpose(2, 1, 0).astype(">i2")))
"""
SMALL_NAMES = ["plain.nrrd", "flipped.nrrd", "turned.nrrd", "flipped.nii", "c-order.npy",
               "fortran.npy"]


def vxlconv(*args, stdin=None):
    done = subprocess.run([VXLCONV] + [str(a) for a in args], stdin=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def voxel_count(path):
    with open(path) as f:
        return int(f.readline().split()[0])


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class StreamedVolumes(harness.ScratchCase):
    PREFIX = "voxscope-stream-"

    def test_a_volume_four_times_the_memory_allowed_converts_exactly(self):
        path = os.path.join(self.tmp, "big.nrrd")
        made = subprocess.run([DEBIAN_PYTHON, "-c", BIG_BALL, TOOLS, path], stdout=subprocess.PIPE,
                              check=True, timeout=TIMEOUT)
        expected = int(made.stdout)
        self.assertEqual(os.path.getsize(path) >> 30, 2)
        out = os.path.join(self.tmp, "big.vxl")
        code, stdout, stderr = vxlconv(path, out, "--threshold", 1, "--resolution", 64, "--hollow",
                                       "--max-memory", 512)
        os.remove(path)
        self.assertEqual((code, stdout), (0, ""), stderr)
        self.assertEqual(voxel_count(out), expected)

    def assert_streamed_as_whole(self, path, options):
        streamed, whole = os.path.join(self.tmp, "s.vxl"), os.path.join(self.tmp, "w.vxl")
        code, _, stderr = vxlconv(path, streamed, *options)
        self.assertEqual(code, 0, stderr)
        # A pipe is read whole; /dev/stdin names it, and the header says
        # what it holds.
        with open(path, "rb") as f:
            code, _, stderr = vxlconv("/dev/stdin", whole, *options, stdin=f)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(read_bytes(streamed), read_bytes(whole), " ".join(map(str, options)))
        self.assertGreater(voxel_count(streamed), 0)

    def test_small_volumes_give_the_file_read_whole_gives(self):
        option_sets = [["--threshold", 1], ["--threshold", 40, "--hollow"],
                       ["--threshold", 20, "--resolution", 9, "--hollow"],
                       ["--threshold", 1, "--voxel-size", 3.5], ["--threshold", 60, "--colors", "map"],
                       ["--threshold", 5, "--colors", "height", "--resolution", 7]]
        subprocess.run([DEBIAN_PYTHON, "-c", SMALL_VOLUMES, self.tmp], check=True, timeout=TIMEOUT)
        for name in SMALL_NAMES:
            path = os.path.join(self.tmp, name)
            for options in option_sets:
                with self.subTest(name=name, options=options):
                    self.assert_streamed_as_whole(path, options)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
