"""vxlconv on OpenVDB files written by the format's own library (Debian's
python3-openvdb under /usr/bin/python3; tools/make_vdbs.py): a noisy fog
cloud gives exactly the voxels numpy finds past the same threshold in what
pyopenvdb reads back over the active box, a level-set sphere exactly its
values below 0 (interior tiles too), each voxel centred where the grid's
transform (voxel size and translation) puts it; a Vec3 grid keeps its
colours, a bool grid its set voxels; of several grids the first float one
is read with a note, --grid picks another by name or number; gzip and a
pipe read as the file; and a frustum transform, a damaged file and --grid
for another format are refused in one line. libopenvdb (and the log4cplus
it brings) is loaded by the reading child alone, never by vxlconv itself,
from the module beside an installed program first; a module that cannot be
loaded is a refusal in one line.

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

from test_vxlconv_scans import voxels_of

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
DEBIAN_PYTHON = "/usr/bin/python3"
VXLCONV = None


def run(args, stdin=None):
    done = subprocess.run([str(a) for a in args], stdin=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def float32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


class VdbGrids(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if subprocess.run([DEBIAN_PYTHON, "-c", "import pyopenvdb"],
                          stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
            subprocess.run([os.path.join(TOOLS, "deps.sh"), "test"], check=True, timeout=1200)
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-vdb-")
        subprocess.run([DEBIAN_PYTHON, os.path.join(TOOLS, "make_vdbs.py"), "samples", cls.tmp],
                       check=True, timeout=120)
        with open(os.path.join(cls.tmp, "vdbs.json")) as f:
            cls.expected = json.load(f)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def at(self, name):
        return os.path.join(self.tmp, name)

    def convert(self, name, *options, stdin=None, note=""):
        path = "/dev/stdin" if stdin else self.at(name)
        out = self.at(name.replace("/", "_") + ".vxl")
        status, stdout, stderr = run([VXLCONV, path, out] + list(options), stdin=stdin)
        self.assertEqual((status, stdout, stderr), (0, "", note))
        with open(out, "rb") as f:
            return f.read(), out

    def refused(self, name, *options):
        status, stdout, stderr = run([VXLCONV, self.at(name), self.at("refused.vxl")] +
                                     list(options))
        self.assertEqual((status, stdout), (1, ""))
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertTrue(stderr.startswith("vxlconv: "), stderr)
        return stderr

    def header(self, vxl):
        count, size = vxl.split(b"\n", 1)[0].split()
        return int(count), float(size)

    def assert_centres(self, out, want):
        found = voxels_of(out)
        for index, centre in want["centres"]:
            with self.subTest(index=index):
                self.assertIn(tuple(float32(c) for c in centre), found)

    def test_fog_and_level_set_count_as_numpy_counts_what_pyopenvdb_reads(self):
        fog = self.expected["fog.vdb"]
        vxl, out = self.convert("fog.vdb", "--threshold", str(fog["threshold"]))
        self.assertEqual(self.header(vxl), (fog["count"], fog["voxel_size"]))
        self.assert_centres(out, fog)
        sphere = self.expected["sphere.vdb"]
        vxl, out = self.convert("sphere.vdb")
        self.assertEqual(self.header(vxl), (sphere["count"], sphere["voxel_size"]))
        self.assert_centres(out, sphere)
        # Without a threshold a fog volume is refused as every float volume is.
        self.assertIn("give --threshold T", self.refused("fog.vdb"))

    def test_colours_and_masks(self):
        _, out = self.convert("colours.vdb", "--no-shade")
        want = {tuple(float(c) for c in index): tuple(rgb)
                for index, rgb in self.expected["colours.vdb"]["colours"]}
        self.assertEqual(voxels_of(out), want)
        vxl, _ = self.convert("mask.vdb")
        self.assertEqual(self.header(vxl)[0], self.expected["mask.vdb"]["count"])

    def test_several_grids_read_the_first_float_one_or_the_one_named(self):
        want = self.expected["several.vdb"]
        path = self.at("several.vdb")
        vxl, _ = self.convert("several.vdb", note=(
            'vxlconv: note: %s holds 3 grids; read "surface" (level set); the others: "mask" '
            '(mask), "density" (fog) (choose one with --grid)\n' % path))
        self.assertEqual(self.header(vxl)[0], want["surface"])
        for grid, options in (("density", ["--threshold", "0.3"]), ("mask", []),
                              ("1", []), ("3", ["--threshold", "0.3"])):
            with self.subTest(grid=grid):
                status, _, stderr = run([VXLCONV, path, self.at("g.vxl"), "--grid", grid] + options)
                self.assertEqual(status, 0, stderr)
                with open(self.at("g.vxl"), "rb") as f:
                    name = {"1": "mask", "3": "density"}.get(grid, grid)
                    self.assertEqual(self.header(f.read())[0], want[name])
        self.assertEqual(self.refused("several.vdb", "--grid", "velocity"),
                         'vxlconv: cannot read %s as OpenVDB: it holds no grid "velocity" (its '
                         'grids: "mask", "surface", "density")\n' % path)
        self.assertEqual(self.refused("several.vdb.vxl", "--grid", "mask"),
                         "vxlconv: --grid applies to OpenVDB inputs\n")

    def test_gzip_and_pipe_read_as_the_file(self):
        plain, _ = self.convert("fog.vdb", "--threshold", "0.3")
        with open(self.at("fog.vdb"), "rb") as f, gzip.open(self.at("fog.vdb.gz"), "wb") as g:
            g.write(f.read())
        self.assertEqual(self.convert("fog.vdb.gz", "--threshold", "0.3")[0], plain)
        with open(self.at("fog.vdb"), "rb") as f:
            self.assertEqual(self.convert("piped", "--threshold", "0.3", stdin=f)[0], plain)

    def test_frustums_damage_and_tight_memory_are_refused_in_one_line(self):
        self.assertIn("has a frustum transform; only linear ones are read",
                      self.refused("frustum.vdb", "--threshold", "0.1"))
        with open(self.at("sphere.vdb"), "rb") as f:
            whole = f.read()
        with open(self.at("cut.vdb"), "wb") as f:
            f.write(whole[:len(whole) // 2])
        self.assertIn('cannot read %s as OpenVDB: it ends before its grid "surface" does: it '
                      "holds %d bytes, the grid ends at %d" % (self.at("cut.vdb"), len(whole) // 2,
                                                               len(whole)),
                      self.refused("cut.vdb"))
        # A root node claiming 4 billion tiles: the library read on past the
        # end for minutes; it is refused at the end of the bytes.
        with open(self.at("fog.vdb"), "rb") as f:
            fog = bytearray(f.read())
        # After the tree's buffer count (1) and background (0.0): no tiles and
        # 1 to 8 children.
        roots = [fog.find(struct.pack("<ifII", 1, 0.0, 0, n)) for n in range(1, 9)]
        self.assertEqual(len([r for r in roots if r >= 0]), 1)
        at = max(roots) + 8
        fog[at:at + 4] = struct.pack("<I", 0xffffffff)
        with open(self.at("tiles.vdb"), "wb") as f:
            f.write(fog)
        self.assertIn("it ends before the data that its counts claim",
                      self.refused("tiles.vdb", "--threshold", "0.3"))
        # Two voxels 4000 apart: their box is refused before it is made.
        self.assertRegex(self.refused("sparse.vdb", "--threshold", "0.5"),
                         'cannot read .*sparse.vdb as OpenVDB: the active box of its grid "sparks" '
                         r'\(4001x4001x4001 voxels\) is larger than the memory allowed: it needs '
                         r'244\d\d\d MiB, more than the \d+ MiB allowed \(raise --max-memory\) or '
                         'convert a coarser grid\n')

    def test_libopenvdb_is_loaded_by_the_reading_child_alone(self):
        # The loader's own log, each line led by its process's id (a forked
        # child writes on in its parent's file): vxlconv's lines must not
        # name the libraries, the reading child's must.
        logs = os.path.join(self.tmp, "loader")
        os.mkdir(logs)
        env = dict(os.environ, LD_DEBUG="files", LD_DEBUG_OUTPUT=os.path.join(logs, "log"))
        done = subprocess.Popen([VXLCONV, self.at("fog.vdb"), self.at("loaded.vxl"), "--threshold",
                                 "0.3"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        stdout, stderr = done.communicate(timeout=120)
        self.assertEqual((done.returncode, stdout, stderr), (0, b"", b""))
        loaded = {}
        for name in os.listdir(logs):
            with open(os.path.join(logs, name), errors="replace") as f:
                for line in f:
                    pid, _, text = line.partition(":")
                    if pid.strip().isdigit():
                        loaded.setdefault(int(pid), []).append(text)
        self.assertIn(done.pid, loaded)
        own = "".join(loaded.pop(done.pid))
        self.assertIn("initialize program: " + VXLCONV, own)
        children = ["".join(lines) for lines in loaded.values()]
        for library in ("libvoxscope_vdb.so", "libopenvdb", "log4cplus", "libtbb"):
            with self.subTest(library=library):
                self.assertFalse(library in own, "vxlconv itself loaded " + library)
                self.assertTrue(any(library in log for log in children),
                                "no reading child loaded " + library)

    def test_the_smallest_memory_cap_leaves_room_to_load_the_library(self):
        # The module is loaded after the program's cap was set: its mappings
        # and log4cplus's threads are added to the cap, not taken from it.
        plain, _ = self.convert("fog.vdb", "--threshold", "0.3")
        self.assertEqual(self.convert("fog.vdb", "--threshold", "0.3", "--max-memory", "64")[0],
                         plain)

    def test_a_module_that_cannot_be_loaded_is_refused_in_one_line(self):
        # An installed layout, bin/vxlconv beside lib/voxscope/, whose module
        # is not one: it is the one tried, and its failure is the refusal.
        root = os.path.join(self.tmp, "installed")
        os.makedirs(os.path.join(root, "bin"))
        os.makedirs(os.path.join(root, "lib", "voxscope"))
        shutil.copy(VXLCONV, os.path.join(root, "bin", "vxlconv"))
        with open(os.path.join(root, "lib", "voxscope", "libvoxscope_vdb.so"), "wb") as f:
            f.write(b"not a shared object\n")
        status, stdout, stderr = run([os.path.join(root, "bin", "vxlconv"), self.at("fog.vdb"),
                                      self.at("unloaded.vxl"), "--threshold", "0.3"])
        self.assertEqual((status, stdout, stderr.count("\n")), (1, "", 1), stderr)
        self.assertRegex(stderr, r"^vxlconv: cannot read .*fog.vdb as OpenVDB: its reading module "
                         r"cannot be loaded \(.*libvoxscope_vdb.so: .*\)\n$")
        self.assertFalse(os.path.exists(self.at("unloaded.vxl")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    unittest.main(argv=[sys.argv[0]] + rest)
