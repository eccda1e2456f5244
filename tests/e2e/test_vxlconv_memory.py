"""vxlconv's memory in proportion to what it makes: a conversion that cannot
fit its control group is refused with one line instead of being killed,
and deflated arrays are inflated into one buffer of their stated size.

Takes --vxlconv PATH.
"""

import argparse
import gzip
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from control_group import make_control_group  # noqa: E402
import make_grids  # noqa: E402

VXLCONV = None
TIMEOUT = 120
MIB = 1 << 20


def vxlconv(*args, prefix=()):
    done = subprocess.run(list(prefix) + [VXLCONV] + [str(a) for a in args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def voxel_count(path):
    with open(path) as f:
        return int(f.readline().split()[0])


class MemoryInProportion(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-memory-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, name, data=None):
        path = os.path.join(self.tmp, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def test_a_conversion_beyond_its_control_group_is_refused_not_killed(self):
        procs, group = make_control_group(256 * MIB)
        self.addCleanup(lambda: os.path.isdir(group) and os.rmdir(group))
        # The shell joins the group, then becomes vxlconv.
        enter = ["sh", "-c", 'echo $$ > "$0" && exec "$@"', procs]
        # A 384 MiB array of one voxel, as a sparse file: the whole of it is
        # read into memory, far past the group's 256 MiB.
        big = self.path("big.npy")
        with open(big, "wb") as f:
            f.write(make_grids.npy((512, 768, 1024), "u1", []))
            f.seek(384 * MIB - 1, os.SEEK_CUR)
            f.write(b"\x01")
        out = self.path("group.vxl")
        status, stdout, stderr = vxlconv(big, out, prefix=enter)
        self.assertEqual(status, 1, "status %r (a negative one is a signal); stderr %r"
                         % (status, stderr))
        self.assertEqual(stdout, "")
        self.assertEqual(len(stderr.splitlines()), 1, stderr)
        self.assertTrue(stderr.startswith("vxlconv: ") and "memory" in stderr, stderr)
        self.assertFalse(os.path.exists(out))
        # What fits the group still converts in it.
        small = self.path("small.npy", make_grids.npy((4, 4, 4), "u1", [1] * 64))
        status, _, stderr = vxlconv(small, out, prefix=enter)
        self.assertEqual((status, stderr), (0, ""))
        self.assertEqual(voxel_count(out), 64)

    def test_deflated_arrays_are_inflated_once_to_their_stated_size(self):
        # 256 MiB of samples with one voxel, deflated to a few hundred KB:
        # under a 350 MB cap they fit once, not beside a buffer doubled from
        # half their size.
        shape = (512, 512, 1024)
        samples = bytearray(256 * MIB)
        samples[-1] = 1
        npy = make_grids.npy(shape, "u1", []) + bytes(samples)
        nrrd = (b"NRRD0004\ntype: uint8\ndimension: 3\nsizes: 1024 512 512\nencoding: gzip\n\n"
                + gzip.compress(bytes(samples), 1))
        del samples
        inputs = {
            "npz": self.path("big.npz", make_grids.npz({"a.npy": npy})),
            "gzip-compressed npy": self.path("big.npy.gz", gzip.compress(npy, 1)),
            "gzip NRRD": self.path("big.nrrd", nrrd),
        }
        del npy
        out = self.path("inflated.vxl")
        for name, path in inputs.items():
            with self.subTest(name):
                extra = ["--threshold", "1"] if name == "gzip NRRD" else []
                status, stdout, stderr = vxlconv(path, out, "--max-memory", "350", *extra)
                self.assertEqual((status, stdout, stderr), (0, "", ""))
                self.assertEqual(voxel_count(out), 1)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
