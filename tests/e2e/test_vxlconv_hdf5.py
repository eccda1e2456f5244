"""vxlconv on HDF5 files written by h5py (Debian's python3-h5py under
/usr/bin/python3; tools/make_hdf5.py): each file gives exactly as many
voxels as numpy counts in what h5py reads, past the same threshold, in every
sample type and byte order; chunked, compressed and user-block twins give the
very voxel file of the contiguous one; Data Exchange's projections and a
NeXus signal are read before larger datasets, the largest otherwise, the
others named in a note and chosen with --dataset; spacing comes out as the
voxel size; what is not read (lzf, external and virtual storage, records,
strings, a shape past the memory cap, a cut or damaged file, one whose chunk
index loops and crashes libhdf5) is refused in one line with status 1.

Takes --vxlconv PATH.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
DEBIAN_PYTHON = "/usr/bin/python3"
VXLCONV = None


def run(args):
    done = subprocess.run([str(a) for a in args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


class Hdf5Files(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if subprocess.run([DEBIAN_PYTHON, "-c", "import h5py"],
                          stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
            subprocess.run([os.path.join(TOOLS, "deps.sh"), "test"], check=True, timeout=1200)
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-hdf5-")
        subprocess.run([DEBIAN_PYTHON, os.path.join(TOOLS, "make_hdf5.py"), "samples", cls.tmp],
                       check=True, timeout=120)
        with open(os.path.join(cls.tmp, "hdf5.json")) as f:
            cls.expected = json.load(f)
        cls.refusals = cls.expected.pop("refusals")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def at(self, name):
        return os.path.join(self.tmp, name)

    def convert(self, name, *options):
        out = self.at(name.replace("/", "_") + ".vxl")
        status, stdout, stderr = run([VXLCONV, self.at(name), out] + list(options))
        self.assertEqual((status, stdout), (0, ""), stderr)
        with open(out, "rb") as f:
            return f.read(), stderr

    def refused(self, name, *options):
        out = self.at("refused.vxl")
        status, stdout, stderr = run([VXLCONV, self.at(name), out] + list(options))
        self.assertEqual((status, stdout), (1, ""), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertFalse(os.path.exists(out))
        return stderr

    def header(self, vxl):
        count, size = vxl.split(b"\n", 1)[0].split()
        return int(count), float(size)

    def test_every_file_counts_as_numpy_counts_what_h5py_reads(self):
        for name, want in sorted(self.expected.items()):
            with self.subTest(name=name):
                options = [] if want["threshold"] is None else ["--threshold",
                                                                 repr(want["threshold"])]
                if "/" in name:  # another dataset of the file, by --dataset
                    name, dataset = name.split("/", 1)
                    options += ["--dataset", "/" + dataset]
                vxl, _ = self.convert(name, *options)
                count, size = self.header(vxl)
                self.assertEqual(count, want["count"])
                self.assertEqual(size, want.get("voxel_size", 1.0))

    def test_chunked_compressed_and_user_block_twins_give_the_same_file(self):
        plain, _ = self.convert("contiguous.h5", "--threshold", "600")
        for twin in ("chunked.h5", "gzip.h5", "fletcher.hdf5", "userblock.h5",
                     "type_be_u2.h5"):
            with self.subTest(twin=twin):
                self.assertEqual(self.convert(twin, "--threshold", "600")[0], plain)
        # The voxels lie at the samples' indices, the last axis as x.
        positions = sorted([int(float(v)) for v in line.split()[:3]]
                           for line in plain.decode().splitlines()[1:])
        self.assertEqual(positions, self.expected["contiguous.h5"]["positions"])

    def test_layouts_choose_their_volume_and_name_the_others(self):
        _, stderr = self.convert("exchange.h5", "--threshold", "600")
        self.assertEqual(stderr, "vxlconv: note: %s holds 3 datasets of 3 or more dimensions; "
                                 "read /exchange/data (12 x 10 x 9); the others: "
                                 "/exchange/data_dark (30 x 10 x 9), /exchange/data_white "
                                 "(20 x 10 x 9) (choose one with --dataset)\n"
                         % self.at("exchange.h5"))
        dark, _ = self.convert("exchange.h5", "--threshold", "600", "--dataset",
                               "exchange/data_dark")
        self.assertEqual(self.header(dark)[0], 30 * 10 * 9)
        _, stderr = self.convert("nexus.nxs", "--threshold", "600")
        self.assertIn("read /entry/data/counts (12 x 10 x 9); the others: /entry/raw "
                      "(30 x 30 x 30)", stderr)
        _, stderr = self.convert("series.h5", "--threshold", "600")
        self.assertEqual(stderr, "vxlconv: note: %s has a dataset of 4 dimensions, /v "
                                 "(3 x 12 x 10 x 9); read the first index of its leading axis: "
                                 "12 x 10 x 9\n" % self.at("series.h5"))

    def test_what_is_not_read_is_refused_in_one_line(self):
        for name, reason in sorted(self.refusals.items()):
            with self.subTest(name=name):
                self.assertTrue(self.refused(name, "--threshold", "1").startswith(
                    "vxlconv: cannot read %s as HDF5: %s" % (self.at(name), reason)))
        several = self.at("several.h5")
        cases = [
            (("several.h5", "--dataset", "/nothing"),
             "cannot read %s as HDF5: it holds no dataset \"/nothing\"; its datasets of 3 or more "
             "dimensions: /group/big (12 x 10 x 9), /small (4 x 5 x 6)" % several),
            (("several.h5", "--dataset", "flat"),
             "cannot read %s as HDF5: its dataset /flat (300 x 300) has 2 dimensions; a volume "
             "has 3 or more" % several),
            (("contiguous.h5", "--dataset", ""), "--dataset needs a path inside the store or file"),
            (("type_u2.h5", "--threshold", "600", "--max-memory", "64"), None),
            (("big_chunk.h5", "--threshold", "1", "--max-memory", "64"),
             "cannot read %s as HDF5: its dataset /v (2 x 2 x 2)'s chunk of 512 x 512 x 512 is "
             "larger than the memory allowed: it needs 128 MiB, more than the 64 MiB allowed "
             "(raise --max-memory)" % self.at("big_chunk.h5")),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                if message is None:
                    self.convert(*args)  # 2 kB of samples are well within 64 MiB
                else:
                    self.assertEqual(self.refused(*args), "vxlconv: %s\n" % message)
        nifti = self.at("other.vxl")
        with open(nifti, "w") as f:
            f.write("1 1\n0 0 0 255 255 255\n")
        status, stdout, stderr = run([VXLCONV, nifti, self.at("o.vxl"), "--dataset", "/v"])
        self.assertEqual((status, stdout, stderr),
                         (1, "", "vxlconv: --dataset applies to Zarr and HDF5 inputs\n"))

    def test_damaged_files_are_refused_in_one_line(self):
        with open(self.at("gzip.h5"), "rb") as f:
            whole = f.read()
        # Cut short, and with the chunks' compressed bytes overwritten.
        with open(self.at("cut.h5"), "wb") as f:
            f.write(whole[:len(whole) // 2])
        self.assertIn("it is cut short: its superblock says it ends at byte %d, but it holds %d "
                      "bytes" % (len(whole), len(whole) // 2), self.refused("cut.h5"))
        damaged = bytearray(whole)
        for at in range(len(whole) - 600, len(whole) - 40, 7):
            damaged[at] ^= 0x5a
        with open(self.at("damaged.h5"), "wb") as f:
            f.write(damaged)
        self.assertIn("cannot read %s as HDF5: " % self.at("damaged.h5"),
                      self.refused("damaged.h5", "--threshold", "600"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
