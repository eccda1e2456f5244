"""vxlconv on Zarr stores (tools/make_zarr.py: v2 stores and an OME-Zarr
0.4 pyramid written by Debian's python3-zarr under /usr/bin/python3, v3
arrays and shards by the tool's own writer through numcodecs): each store
gives exactly as many voxels as numpy counts in the array written, past the
same threshold; a compressed, reordered, big-endian or sharded store gives
the very voxel file of its uncompressed twin; the OME scale is the voxel
size; --level and the default level choice; --dataset and a group's largest
array; and lying stores are refused in one line.

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
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
DEBIAN_PYTHON = "/usr/bin/python3"
VXLCONV = None


def run(args):
    done = subprocess.run([str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def write_json(path, value):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        json.dump(value, f)


def v2_meta(**fields):
    meta = {"chunks": [2, 2, 2], "compressor": None, "dtype": "<u1", "fill_value": 0,
            "filters": None, "order": "C", "shape": [2, 2, 2], "zarr_format": 2}
    meta.update(fields)
    return meta


class ZarrStores(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if subprocess.run([DEBIAN_PYTHON, "-c", "import zarr, numcodecs"],
                          stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
            subprocess.run([os.path.join(TOOLS, "deps.sh"), "test"], check=True, timeout=1200)
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-zarr-")
        subprocess.run([DEBIAN_PYTHON, os.path.join(TOOLS, "make_zarr.py"), "samples", cls.tmp],
                       check=True, timeout=120)
        with open(os.path.join(cls.tmp, "zarrs.json")) as f:
            cls.expected = json.load(f)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def convert(self, name, *options):
        out = os.path.join(self.tmp, "out-" + name.replace("/", "_") + ".vxl")
        status, stdout, stderr = run([VXLCONV, os.path.join(self.tmp, name), out] + list(options))
        self.assertEqual((status, stdout), (0, ""), stderr)
        with open(out, "rb") as f:
            return f.read(), stderr

    def header(self, vxl):
        count, size = vxl.split(b"\n", 1)[0].split()
        return int(count), float(size)

    def store_of(self, name):
        """The store's folder: names past ".zarr/" are a level or array in it."""
        return name[:name.index(".zarr") + 5]

    def test_every_store_counts_as_numpy_counts_and_matches_its_twin(self):
        for name, want in sorted(self.expected.items()):
            with self.subTest(name=name):
                vxl, _ = self.convert(self.store_of(name), "--threshold", str(want["threshold"]),
                                      *want["options"])
                self.assertEqual(self.header(vxl)[0], want["count"])
                if want["twin"] and name != want["twin"]:
                    twin, _ = self.convert(want["twin"], "--threshold", str(want["threshold"]))
                    self.assertEqual(vxl, twin)

    def test_a_metadata_file_reads_its_store(self):
        for store, member in (("zlib.zarr", ".zarray"), ("v3-shard-start.zarr", "zarr.json")):
            with self.subTest(store=store):
                folder, _ = self.convert(store, "--threshold", "1000")
                file, _ = self.convert(store + "/" + member, "--threshold", "1000")
                self.assertEqual(folder, file)

    def test_pyramid_levels_scale_and_notes(self):
        # Level 0 (12 x 30 x 40 samples) fits the default limit: its scale
        # of 0.5 is the voxel size, its translation the lowest z.
        vxl, notes = self.convert("cells.ome.zarr", "--threshold", "1000")
        self.assertEqual(self.header(vxl), (self.expected["cells.ome.zarr/0"]["count"], 0.5))
        self.assertIn('read level 0 ("0", 2×2×12×30×40) of its 3 levels; --level N reads '
                      'another', notes)
        self.assertIn('read index 0 of its axes "t" (2 long) and "c" (2 long)', notes)
        zs = [float(line.split()[2]) for line in vxl.decode().splitlines()[1:]]
        self.assertGreaterEqual(min(zs), 10.0)
        # A limit below level 0's and level 1's samples takes level 2.
        vxl, notes = self.convert("cells.ome.zarr", "--threshold", "1000", "--max-voxels",
                                  "600")
        self.assertEqual(self.header(vxl), (self.expected["cells.ome.zarr/2"]["count"], 2.0))
        self.assertIn('read level 2 ("2", 2×2×3×8×10)', notes)
        for level, size in ((0, 0.5), (1, 1.0), (2, 2.0)):
            vxl, _ = self.convert("cells.ome.zarr", "--threshold", "1000", "--level", str(level))
            self.assertEqual(self.header(vxl),
                             (self.expected["cells.ome.zarr/%d" % level]["count"], size))
        # OME-Zarr 0.5: the same choice from zarr.json's "ome" attributes.
        vxl, notes = self.convert("cells-v3.ome.zarr", "--threshold", "1000", "--max-voxels",
                                  "2000")
        self.assertEqual(self.header(vxl), (self.expected["cells-v3.ome.zarr/s1"]["count"], 0.5))
        self.assertIn('read level 1 ("s1", 6×15×20) of its 3 levels', notes)

    def test_a_group_reads_its_largest_array_and_names_the_other(self):
        _, notes = self.convert("group.zarr", "--threshold", "1000")
        self.assertIn("read raw, the largest of its arrays; --dataset PATH reads another of "
                      "labels/small", notes)
        small, _ = self.convert("group.zarr", "--threshold", "1000", "--dataset",
                                "/labels/small/")
        self.assertEqual(self.header(small)[0],
                         self.expected["group.zarr/labels/small"]["count"])

    def refused(self, path, want, *options):
        out = os.path.join(self.tmp, "refused.vxl")
        status, stdout, stderr = run([VXLCONV, path, out, "--threshold", "1"] + list(options))
        self.assertEqual((status, stdout), (1, ""), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertTrue(stderr.startswith("vxlconv: "), stderr)
        self.assertIn(want, stderr)
        self.assertFalse(os.path.exists(out))

    def lying(self, name, meta, chunks=(), meta_name=".zarray"):
        """A store of `meta` and chunk files {key: bytes}."""
        folder = os.path.join(self.tmp, "lying", name)
        write_json(os.path.join(folder, meta_name), meta)
        for key, data in chunks:
            path = os.path.join(folder, key)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        return folder

    def test_lying_stores_are_refused_in_one_line(self):
        cases = [
            (self.lying("short", v2_meta(), [("0.0.0", b"\1" * 7)]),
             "cannot read %s as Zarr: its chunk 0.0.0: it decodes to 7 bytes where its shape "
             "takes 8"),
            (self.lying("long", v2_meta(), [("0.0.0", b"\1" * 9)]),
             "its chunk 0.0.0: it decodes to 9 bytes"),
            (self.lying("overflow", v2_meta(shape=[2 ** 40] * 3)),
             "its shape holds more samples than 64 bits count"),
            (self.lying("huge", v2_meta(shape=[100000] * 3, chunks=[100, 100, 100])),
             "its array is larger than the memory allowed"),
            (self.lying("huge-chunk", v2_meta(shape=[4] * 3, chunks=[100000] * 3)),
             "a chunk is larger than the memory allowed"),
            (self.lying("codec", v2_meta(compressor={"id": "lz4"})),
             'its codec "lz4" is not one vxlconv reads'),
            (self.lying("dtype", v2_meta(dtype="<c8")),
             'its dtype "<c8" is not one vxlconv reads'),
            (self.lying("v3-codec", {"zarr_format": 3, "node_type": "array", "shape": [2],
                                     "data_type": "uint8", "fill_value": 0, "chunk_grid": {
                                         "name": "regular",
                                         "configuration": {"chunk_shape": [2]}},
                                     "codecs": [{"name": "bytes"}, {"name": "bz2"}]},
                        meta_name="zarr.json"),
             'its codec "bz2" is not one vxlconv reads'),
        ]
        deep = os.path.join(self.tmp, "lying", "deep")
        os.makedirs(deep, exist_ok=True)
        with open(os.path.join(deep, ".zarray"), "w") as f:
            f.write('{"zarr_format": 2, "a": ' + "[" * 100000 + "]" * 100000 + "}")
        cases.append((deep, "nests deeper than 64 levels"))
        broken = os.path.join(self.tmp, "lying", "broken")
        os.makedirs(broken, exist_ok=True)
        with open(os.path.join(broken, ".zarray"), "w") as f:
            f.write('{"zarr_format": 2, shape: [1]}')
        cases.append((broken, "/.zarray is not JSON"))
        folder_chunk = self.lying("folder-chunk", v2_meta())
        os.makedirs(os.path.join(folder_chunk, "0.0.0"), exist_ok=True)
        cases.append((folder_chunk, "its chunk %s/0.0.0 is a directory, not a regular file"
                      % folder_chunk))
        fifo = self.lying("fifo-chunk", v2_meta())
        os.mkfifo(os.path.join(fifo, "0.0.0"))
        cases.append((fifo, "0.0.0 is a FIFO, not a regular file"))
        # A shard whose index points past its end (of two inner chunks, the
        # second missing), and one whose index checksum is wrong.
        sharded = {"zarr_format": 3, "node_type": "array", "shape": [2], "data_type": "uint8",
                   "fill_value": 0, "chunk_grid": {"name": "regular",
                                                   "configuration": {"chunk_shape": [2]}},
                   "codecs": [{"name": "sharding_indexed", "configuration": {
                       "chunk_shape": [1], "codecs": [{"name": "bytes"}],
                       "index_codecs": [{"name": "bytes"}]}}]}
        index = struct.pack("<QQQQ", 1, 10 ** 6, 2 ** 64 - 1, 2 ** 64 - 1)
        cases.append((self.lying("shard-outside", sharded, [("c/0", b"\1" + index)], "zarr.json"),
                      "its shard c/0's index points outside the file: 1000000 bytes at 1 of its "
                      "33"))
        copy = os.path.join(self.tmp, "lying", "shard-checksum")
        shutil.copytree(os.path.join(self.tmp, "v3-shard-end.zarr"), copy)
        with open(os.path.join(copy, "c", "0", "0", "0"), "r+b") as f:
            f.seek(-1, os.SEEK_END)
            last = f.read(1)
            f.seek(-1, os.SEEK_END)
            f.write(bytes([last[0] ^ 1]))
        cases.append((copy, "its shard c/0/0/0's index: its crc32c checksum does not match"))
        for path, want in cases:
            with self.subTest(path=path):
                self.refused(path, want % path if "%s" in want else want)

    def test_paths_that_leave_the_store_are_refused(self):
        self.refused(os.path.join(self.tmp, "group.zarr"), '--dataset "../plain.zarr" goes '
                     'through ".."', "--dataset", "../plain.zarr")
        self.refused(os.path.join(self.tmp, "group.zarr"), '"/raw/../../plain.zarr" goes '
                     'through ".."', "--dataset", "/raw/../../plain.zarr")
        for name, path, want in (("escape", "../plain.zarr", 'goes through ".."'),
                                 ("absolute", os.path.join(self.tmp, "plain.zarr"),
                                  "is an absolute path")):
            pyramid = os.path.join(self.tmp, "lying", "pyramid-" + name)
            write_json(os.path.join(pyramid, ".zgroup"), {"zarr_format": 2})
            write_json(os.path.join(pyramid, ".zattrs"), {"multiscales": [{
                "version": "0.4", "datasets": [{"path": path}]}]})
            with self.subTest(name=name):
                self.refused(pyramid, "its multiscales dataset path " + json.dumps(path) + " " +
                             want)

    def test_level_and_dataset_are_refused_where_they_do_not_apply(self):
        self.refused(os.path.join(self.tmp, "plain.zarr"),
                     "--level applies to OME-Zarr pyramids", "--level", "0")
        self.refused(os.path.join(self.tmp, "cells.ome.zarr"),
                     "--level 3 is past its 3 levels (0 to 2)", "--level", "3")
        self.refused(os.path.join(self.tmp, "plain.zarr"), "raw holds no Zarr array or group",
                     "--dataset", "raw")
        npy = os.path.join(self.tmp, "ones.npy")
        subprocess.run([DEBIAN_PYTHON, "-c", "import numpy, sys; numpy.save(sys.argv[1], "
                        "numpy.ones((2, 2, 2), numpy.uint8))", npy], check=True, timeout=60)
        for option, value, rows in (("--level", "1", "Zarr"), ("--dataset", "raw", "Zarr and HDF5")):
            with self.subTest(option=option):
                self.refused(npy, "vxlconv: %s applies to %s inputs\n" % (option, rows), option,
                             value)
        empty = os.path.join(self.tmp, "lying", "empty.zarr")
        os.makedirs(empty, exist_ok=True)
        self.refused(empty, "cannot read %s as Zarr: the folder holds no .zarray, .zgroup or "
                            "zarr.json" % empty)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = args.vxlconv
    unittest.main(argv=[sys.argv[0]] + rest)
