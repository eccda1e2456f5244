"""Volumes read slab by slab: a raw NRRD of 4 GiB (a ball in the middle of
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
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import harness  # noqa: E402
import sparse_ball  # noqa: E402

import numpy as np  # noqa: E402

VXLCONV = None
TIMEOUT = 120


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
        ball = sparse_ball.write_ball(path, (1024, 1024, 4096), 180)
        self.assertEqual(os.path.getsize(path) >> 30, 4)
        expected = sparse_ball.coarse_hollow_count(ball, 64)
        out = os.path.join(self.tmp, "big.vxl")
        code, stdout, stderr = vxlconv(path, out, "--threshold", 1, "--resolution", 64, "--hollow",
                                       "--max-memory", 1024)
        os.remove(path)
        self.assertEqual((code, stdout), (0, ""), stderr)
        self.assertEqual(voxel_count(out), expected)

    def small_volume(self, name, write):
        """Writes a small graded lumpy ball as `name` with `write(path,
        values)` and returns the path."""
        z, y, x = np.mgrid[0:23, 0:19, 0:29]
        r = np.sqrt((x - 13.2) ** 2 + 1.4 * (y - 9.1) ** 2 + (z - 10.7) ** 2)
        values = np.clip(210 - 19 * r + (x * 7 + y * 3 + z) % 5, 0, 255)
        path = os.path.join(self.tmp, name)
        write(path, values)
        return path

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

        def nrrd(kind, directions, endian):
            def write(path, values):
                header = ("NRRD0004\ntype: %s\ndimension: 3\nsizes: 29 19 23\nencoding: raw\n"
                          "endian: %s\nspace: left-posterior-superior\n"
                          "space directions: %s\nspace origin: (2.5,-4,100)\n\n"
                          % ({"float32": "float"}.get(np.dtype(kind).name, np.dtype(kind).name), endian, directions))
                data = values.astype(np.dtype(kind).newbyteorder("<" if endian == "little" else ">"))
                with open(path, "wb") as f:
                    f.write(header.encode() + data.tobytes())
            return write

        def nifti(affine, kind):
            def write(path, values):
                import nibabel
                nibabel.save(nibabel.Nifti1Image(values.transpose(2, 1, 0).astype(kind),
                                                 np.array(affine, dtype=float)), path)
            return write

        def npy(kind, fortran):
            def write(path, values):
                data = values.transpose(2, 1, 0).astype(kind)
                np.save(path, np.asfortranarray(data) if fortran else data)
            return write

        cases = [("plain.nrrd", nrrd("uint8", "(1,0,0) (0,1,0) (0,0,1)", "little")),
                 ("flipped.nrrd", nrrd("int16", "(-0.5,0,0) (0,0.5,0) (0,0,-0.5)", "big")),
                 ("turned.nrrd", nrrd("float32", "(0,0,2) (-2,0,0) (0,-2,0)", "little")),
                 ("flipped.nii", nifti([[-1, 0, 0, 5], [0, 0, 1, -3], [0, -1, 0, 7], [0, 0, 0, 1]],
                                       np.uint16)),
                 ("c-order.npy", npy(np.uint8, False)), ("fortran.npy", npy(">i2", True))]
        for name, write in cases:
            path = self.small_volume(name, write)
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
