"""vxlconv as a user meets it: its help, its one-line refusals, and real models
from Debian's assimp-testmodels (a mesh with vertex colours, one with
materials, a point cloud) and a hand-made MagicaVoxel scene, each converted
and then shown by the real viewer under Xvfb and judged from the screenshot.

Takes --vxlconv PATH and --models DIR (the assimp test models) besides the
harness's --binary and --examples.
"""

import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import harness  # noqa: E402
import make_solid  # noqa: E402
import make_vox  # noqa: E402
import output_checks  # noqa: E402

VXLCONV = None
MODELS = None
CONVERT_TIMEOUT = 120


def vxlconv(*args):
    done = subprocess.run([VXLCONV] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=CONVERT_TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def read_header(path):
    with open(path) as f:
        count, size = f.readline().split()
    return int(count), float(size)


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-cli-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, name, data=None):
        path = os.path.join(self.tmp, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def test_help_goes_to_stdout(self):
        status, out, err = vxlconv("--help")
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("Usage: vxlconv INPUT OUTPUT [OPTIONS]"), out)
        for option in ("--voxel-size", "--resolution", "--max-voxels", "--max-memory", "Textures"):
            self.assertIn(option, out)

    def test_refusals_are_one_line_and_status_1(self):
        teapots = os.path.join(MODELS, "Collada", "teapots.DAE")
        good_vox = self.path("good.vox", make_vox.scene_file())
        out = self.path("out.vxl")
        cases = [
            ("no arguments", [], "needs an input and an output"),
            ("one argument", [teapots], "needs an input and an output"),
            ("unknown option", [teapots, out, "--fast"], "unknown option --fast"),
            ("option without value", [teapots, out, "--resolution"], "--resolution needs a value"),
            ("resolution too small", [teapots, out, "--resolution", "1"], "from 2 to 2097152"),
            ("voxel size not positive", [teapots, out, "--voxel-size", "-1"], "positive number"),
            ("voxel size not a number", [teapots, out, "--voxel-size=big"], "positive number"),
            ("size and resolution", [teapots, out, "--voxel-size", "1", "--resolution", "9"], "not both"),
            ("max voxels above what the viewer draws", [teapots, out, "--max-voxels", "59652324"],
             "from 1 to 59652323"),
            ("missing input", [self.path("missing.obj"), out], "cannot read"),
            ("empty input", [self.path("empty.obj", b""), out], "cannot read"),
            ("garbage with a mesh name", [self.path("noise.stl", bytes(range(256)) * 3), out], "cannot read"),
            ("truncated .vox", [self.path("cut.vox", make_vox.scene_file()[:-50]), out], "truncated"),
            (".vox with no voxels shown",
             [self.path("hidden.vox", make_vox.vox_file([make_vox.size_chunk(1, 1, 1),
                                                         make_vox.xyzi_chunk([(0, 0, 0, 0)])])), out],
             "no voxels to write"),
            ("a .vox grid made finer", [good_vox, out, "--resolution", "40"], "can only be made coarser"),
            ("hollow with a value", [good_vox, out, "--hollow=yes"], "--hollow takes no value"),
            ("a .vox grid made finer by size", [good_vox, out, "--voxel-size", "0.5"], "can only be made coarser"),
            ("grid absurdly large", [teapots, out, "--voxel-size", "1e-9"], "choose a larger --voxel-size"),
            ("too many voxels", [teapots, out, "--max-voxels", "100"], "raise --max-voxels"),
            ("too many .vox voxels", [good_vox, out, "--max-voxels", "100"], "raise --max-voxels"),
            ("unwritable output", [good_vox, os.path.join(self.tmp, "no", "such", "dir.vxl")], "cannot write"),
            ("output over its own input", [good_vox, good_vox, "--hollow"], "is the input"),
            ("output over its own input by a link",
             [good_vox, os.path.join(self.tmp, "link.vox"), "--voxel-size", "2"], "is the input"),
        ]
        os.symlink(good_vox, os.path.join(self.tmp, "link.vox"))
        for name, args, reason in cases:
            with self.subTest(name):
                if os.path.exists(out):
                    os.remove(out)
                status, stdout, stderr = vxlconv(*args)
                self.assertEqual(status, 1, stderr)
                self.assertEqual(stdout, "")
                lines = stderr.splitlines()
                self.assertEqual(len([l for l in lines if not l.startswith("vxlconv: note:")]), 1, stderr)
                self.assertTrue(lines[-1].startswith("vxlconv: "), stderr)
                self.assertIn(reason, stderr)
                self.assertFalse(os.path.exists(out), "a refused conversion left an output file")
        with open(good_vox, "rb") as f:
            self.assertEqual(f.read(), make_vox.scene_file(), "a refusal touched the input")

    def test_the_output_extension_chooses_what_is_written(self):
        # An extension no format is written as is refused before anything is
        # read or written; a name without an extension is a voxel file.
        good_vox = self.path("chosen.vox", make_vox.scene_file())
        for name in ("out.xyz", "OUT.Abc", "out.vxl.bak"):
            with self.subTest(name):
                out = self.path(name)
                status, stdout, stderr = vxlconv(good_vox, out)
                self.assertEqual((status, stdout, stderr), (
                    1, "", "vxlconv: cannot write %s: unknown output type; vxlconv writes .vxl, "
                    ".glb, .gltf, .obj, .ply, .stl, .vox, .html\n" % out))
                self.assertFalse(os.path.exists(out))
                self.assertEqual(output_checks.temporaries(self.tmp, "vxlconv"), [])
        reference = self.path("reference.vxl")
        self.assertEqual(vxlconv(good_vox, reference), (0, "", ""))
        for name in ("plain", "UPPER.VXL"):
            with self.subTest(name):
                out = self.path(name)
                self.assertEqual(vxlconv(good_vox, out), (0, "", ""))
                self.assertEqual(output_checks.read(out), output_checks.read(reference))

    def test_memory_is_capped_against_damaged_files(self):
        # Builds with the address checker cap the heap instead of the address
        # space; the sanitizer stage runs this test there too.
        engine = os.path.join(MODELS, "glTF2", "2CylinderEngine-glTF-Binary", "2CylinderEngine.glb")
        out = self.path("capped.vxl")
        cases = [
            # An OFF file claiming 3.5 billion vertices in 309 bytes.
            ("hostile vertex count", [os.path.join(MODELS, "invalid", "OutOfMemory.off"), out], "bad_alloc"),
            ("a cap set too low", [engine, out, "--resolution", "1000", "--max-memory", "100"],
             "not enough memory for this conversion"),
        ]
        for name, args, reason in cases:
            with self.subTest(name):
                status, stdout, stderr = vxlconv(*args)
                self.assertEqual((status, stdout), (1, ""), stderr)
                self.assertEqual(len(stderr.splitlines()), 1, stderr)
                self.assertIn(reason, stderr)
                self.assertFalse(os.path.exists(out))

    def test_a_larger_limit_lets_the_same_conversion_through(self):
        teapots = os.path.join(MODELS, "Collada", "teapots.DAE")
        out = self.path("limit.vxl")
        status, _, err = vxlconv(teapots, out, "--resolution", "300", "--max-voxels", "1000")
        self.assertEqual(status, 1, err)
        status, _, err = vxlconv(teapots, out, "--resolution", "300", "--max-voxels", "2000000")
        self.assertEqual(status, 0, err)
        count, _ = read_header(out)
        self.assertGreater(count, 1000)


def write_lattice(path, count):
    """A voxel file of `count` voxels on a 100 x 100 x N lattice."""
    with open(path, "w") as f:
        f.write("%d 1.0\n" % count)
        f.write("".join("%d %d %d %d %d %d\n" % (i % 100, i // 100 % 100, i // 10000, i % 256, 7, 9)
                        for i in range(count)))


class OutputAndInputFiles(unittest.TestCase):
    """The output is made beside itself and renamed into place when whole:
    never over anything but a regular file, and a failed or interrupted run
    leaves the earlier output byte for byte and no temporary file. A pipe or
    FIFO input is read once, whole, by its reader."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-files-")
        cls.vox = os.path.join(cls.tmp, "scene.vox")
        with open(cls.vox, "wb") as f:
            f.write(make_vox.scene_file())
        # Written out, 2,000,000 voxels take long enough to be caught
        # mid-write; 12,800 are more than the 64 KiB anything could peek at.
        cls.big = os.path.join(cls.tmp, "big.vxl")
        write_lattice(cls.big, 2000000)
        cls.medium = os.path.join(cls.tmp, "medium.vxl")
        write_lattice(cls.medium, 12800)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="out-", dir=self.tmp)

    def assertLeftAlone(self, out):
        self.assertEqual(output_checks.read(out), output_checks.EARLIER, "the earlier output changed")
        self.assertEqual(output_checks.temporaries(self.dir, "vxlconv"), [])

    def convert_to(self, path):
        # A FIFO output with no reader would hang an open for writing.
        return output_checks.run([VXLCONV, self.vox, path], timeout=30)

    def test_outputs_that_are_not_regular_files_are_refused_at_once(self):
        output_checks.assert_outputs_refused(self, "vxlconv", self.convert_to,
                                             output_checks.not_regular_outputs(self.dir))

    def test_device_nodes_are_never_replaced(self):
        output_checks.assert_outputs_refused(self, "vxlconv", self.convert_to,
                                             output_checks.device_outputs(self, self.dir))

    def test_an_output_naming_the_input_by_any_path_is_refused(self):
        out = os.path.join(self.dir, "input.vxl")
        shutil.copy(self.medium, out)
        os.link(out, os.path.join(self.dir, "hard.vxl"))
        before = output_checks.read(out)
        for name in ("input.vxl", "./input.vxl", "hard.vxl"):
            with self.subTest(name):
                other = os.path.join(self.dir, name)
                status, stdout, stderr = output_checks.run([VXLCONV, out, other, "--hollow"])
                self.assertEqual((status, stdout, stderr), (
                    1, "", "vxlconv: %s is the input; write the output to another file\n" % other))
                self.assertEqual(output_checks.read(out), before)
                self.assertEqual(output_checks.temporaries(self.dir, "vxlconv"), [])

    def test_an_interrupted_conversion_leaves_the_earlier_output(self):
        out = os.path.join(self.dir, "interrupted.vxl")
        output_checks.write_earlier(out)
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                output_checks.interrupt(self, [VXLCONV, self.big, out], self.dir, "vxlconv", sig)
                self.assertLeftAlone(out)

    def test_a_file_size_limit_fails_the_write_and_says_so(self):
        out = os.path.join(self.dir, "limited.vxl")
        output_checks.write_earlier(out)
        status, stdout, stderr = output_checks.run([VXLCONV, self.medium, out], file_limit=100000)
        self.assertEqual((status, stdout, stderr),
                         (1, "", "vxlconv: cannot write %s: File too large\n" % out))
        self.assertLeftAlone(out)

    def test_a_full_disk_fails_the_write_and_says_so(self):
        output_checks.assert_full_disk_refused(self, "vxlconv", [VXLCONV, self.medium], "full.vxl")

    def test_a_pipe_or_fifo_input_is_read_once_and_whole(self):
        direct = os.path.join(self.dir, "direct.vxl")
        self.assertEqual(output_checks.run([VXLCONV, self.medium, direct])[0], 0)
        expected = output_checks.read(direct)
        self.assertEqual(read_header(direct)[0], 12800)
        piped = os.path.join(self.dir, "piped.vxl")
        with open(self.medium, "rb") as source:
            done = subprocess.run([VXLCONV, "/dev/stdin", piped], stdin=source, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=CONVERT_TIMEOUT)
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))
        self.assertEqual(output_checks.read(piped), expected)

        fifo = os.path.join(self.dir, "input.fifo")
        os.mkfifo(fifo)

        def feed():
            try:
                with open(fifo, "wb") as f:
                    f.write(output_checks.read(self.medium))
            except BrokenPipeError:
                pass

        writer = threading.Thread(target=feed, daemon=True)
        writer.start()
        through_fifo = os.path.join(self.dir, "fifo.vxl")
        try:
            status, stdout, stderr = output_checks.run([VXLCONV, fifo, through_fifo], timeout=60)
        finally:
            # Lets a writer still waiting for a reader go.
            os.close(os.open(fifo, os.O_RDONLY | os.O_NONBLOCK))
            writer.join(timeout=10)
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        self.assertEqual(output_checks.read(through_fifo), expected)


def first_frame(test, server, path, name):
    """Opens `path` in the viewer, waits for its first complete picture,
    saves it as e2e-vxlconv-NAME.png, checks that the viewer runs quietly and
    closes it; returns the picture."""
    viewer = harness.Viewer(server, [harness.BINARY, "-geometry", "480x480+0+0", path])
    test.addCleanup(viewer.kill)
    wid = viewer.find_window(harness.BINARY)
    harness.wait_for_frame(server, wid)
    shot = harness.wait_for_stable(server, wid)
    png = os.path.join(os.getcwd(), "e2e-vxlconv-%s.png" % name)
    server.save_png(wid, png)
    print("%s screenshot: %s" % (name, png))
    test.assertTrue(viewer.running())
    test.assertEqual(viewer.stderr(), b"")
    viewer.kill()
    return shot


def colour_share(shot, predicate):
    lit = [p for p in shot.pixels() if p != (0, 0, 0)]
    return sum(1 for p in lit if predicate(p)) / max(1, len(lit))


class RealModels(unittest.TestCase):
    """Each model is converted, opened in the viewer, and the first complete
    picture is judged and saved next to the test's working directory."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-real-")
        cls.server = harness.XServer("1024x768")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def convert_and_view(self, source, name, *options):
        out = os.path.join(self.tmp, name + ".vxl")
        status, stdout, stderr = vxlconv(source, out, *options)
        self.assertEqual(status, 0, stderr)
        self.assertEqual(stdout, "")
        shot = first_frame(self, self.server, out, name)
        lit = shot.nonblack_count() / (shot.width * shot.height)
        self.assertGreater(lit, 0.03, "the model hardly shows")
        self.assertLess(lit, 0.9)
        return shot, out

    def test_mesh_with_vertex_colours(self):
        # A cube whose vertex colours run from red at the bottom to white at
        # the top: the picture is a square full of that gradient.
        shot, _ = self.convert_and_view(
            os.path.join(MODELS, "Collada", "kwxport_test_vcolors.dae"), "vertex-colours", "--resolution", "64")
        left, top, right, bottom = shot.bbox()
        self.assertAlmostEqual((right - left) / (bottom - top), 1.0, delta=0.25, msg="not a square")
        reds = colour_share(shot, lambda p: p[0] > 200 and p[1] < 80 and p[2] < 80)
        whites = colour_share(shot, lambda p: min(p) > 220)
        pinks = colour_share(shot, lambda p: p[0] > 200 and 80 <= p[1] <= 200 and abs(p[1] - p[2]) < 30)
        self.assertGreater(reds, 0.05)
        self.assertGreater(whites, 0.05)
        self.assertGreater(pinks, 0.2, "the gradient between them is missing")

    def test_mesh_with_materials(self):
        # Three teapots; the front one's material is green (0.216, 0.588,
        # 0.031), one behind it light blue: the unlit voxels show exactly
        # those colours.
        shot, _ = self.convert_and_view(os.path.join(MODELS, "Collada", "teapots.DAE"), "materials",
                                        "--resolution", "160")
        counts = shot.colour_counts()
        lit = shot.nonblack_count()
        self.assertGreater(counts.get((55, 150, 8), 0) / lit, 0.4, "the green teapot is missing")
        self.assertGreater(counts.get((150, 163, 229), 0), 50, "the blue teapot is missing")
        left, top, right, bottom = shot.bbox()
        self.assertGreater((right - left) / (bottom - top), 1.4, "a teapot is wider than tall")

    def test_single_material_mesh_shows_its_form(self):
        # The duck has one material: unshaded it is a flat silhouette of one
        # colour; shaded by default, its head is lit from above and its
        # underside dim, in many shades between.
        source = os.path.join(MODELS, "Collada", "duck.dae")
        flat, _ = self.convert_and_view(source, "duck-flat", "--resolution", "96", "--no-shade")
        self.assertEqual(len(flat.colour_counts()), 2, "one colour on black")
        shot, _ = self.convert_and_view(source, "duck-shaded", "--resolution", "96")
        greys = [c for c, n in shot.colour_counts().items() if c != (0, 0, 0) and n >= 20]
        self.assertGreater(len(greys), 30, "the shading has too few steps to show the form")
        left, top, right, bottom = shot.bbox()

        def mean(y0, y1):
            pixels = [shot.pixel(x, y) for y in range(y0, y1) for x in range(left, right)]
            pixels = [sum(p) for p in pixels if p != (0, 0, 0)]
            return sum(pixels) / len(pixels)

        fifth = (bottom - top) // 5
        self.assertGreater(mean(top, top + fifth), mean(bottom - fifth, bottom) + 60,
                           "the top is not lit above the underside")

    def test_point_cloud(self):
        # The vertices of the Wuson model as a bare point cloud (no faces, no
        # colours): voxels coloured by height, blue feet to light head.
        source = os.path.join(MODELS, "PLY", "Wuson.ply")
        with open(source) as f:
            lines = f.read().split("\n")
        end = lines.index("end_header")
        count = int(next(l for l in lines if l.startswith("element vertex")).split()[2])
        cloud = os.path.join(self.tmp, "wuson-points.ply")
        with open(cloud, "w") as f:
            f.write("ply\nformat ascii 1.0\nelement vertex %d\n" % count)
            f.write("property float x\nproperty float y\nproperty float z\nend_header\n")
            for line in lines[end + 1 : end + 1 + count]:
                f.write(" ".join(line.split()[:3]) + "\n")
        shot, out = self.convert_and_view(cloud, "point-cloud", "--resolution", "64")
        voxels, _ = read_header(out)
        self.assertLess(voxels, count, "points sharing a cell must share one voxel")
        left, top, right, bottom = shot.bbox()
        self.assertGreater((bottom - top) / (right - left), 1.2, "the figure stands upright")

        def mean_rows(y0, y1):
            pixels = [shot.pixel(x, y) for y in range(y0, y1) for x in range(left, right)]
            pixels = [p for p in pixels if p != (0, 0, 0)]
            return tuple(sum(c) / len(pixels) for c in zip(*pixels))

        third = (bottom - top) // 3
        feet, head = mean_rows(bottom - third, bottom), mean_rows(top, top + third)
        self.assertGreater(feet[2], feet[0], "the lowest voxels are blue")
        self.assertGreater(sum(head), sum(feet) + 150, "the highest voxels are light")

    def test_magicavoxel_scene(self):
        # A tree and a turned house from one .vox file, placed by its scene
        # graph, in its palette.
        source = os.path.join(self.tmp, "scene.vox")
        with open(source, "wb") as f:
            f.write(make_vox.scene_file())
        shot, out = self.convert_and_view(source, "vox-scene")
        counts = shot.colour_counts()
        crown, trunk, roof, wall = (make_vox.PALETTE[i] for i in (2, 1, 3, 0))
        for colour, what in ((crown, "crown"), (trunk, "trunk"), (roof, "roof"), (wall, "walls")):
            self.assertGreater(counts.get(tuple(colour), 0), 200, "the %s is missing" % what)

        def box_of(colour):
            xs, ys = [], []
            for y in range(shot.height):
                for x in range(shot.width):
                    if shot.pixel(x, y) == tuple(colour):
                        xs.append(x)
                        ys.append(y)
            return min(xs), min(ys), max(xs), max(ys)

        # The crown sits on the trunk; the roof on the walls; the house stands
        # to the right of the tree.
        self.assertLess(box_of(crown)[1], box_of(trunk)[1])
        self.assertLess(box_of(roof)[1], box_of(wall)[1])
        self.assertGreater(box_of(wall)[0], box_of(crown)[2])


def read_voxels(path):
    """The voxel size and the voxels of a voxel file, each position as the
    bits of its 32-bit float, so that equality is equality to the bit."""
    with open(path) as f:
        numbers = f.read().split()
    count, size = int(numbers[0]), float(numbers[1])
    voxels = []
    for i in range(count):
        fields = numbers[2 + 6 * i : 8 + 6 * i]
        bits = struct.pack("<3f", *(float(x) for x in fields[:3]))
        voxels.append((bits, tuple(int(x) for x in fields[3:])))
    return size, voxels


class VoxelInputs(unittest.TestCase):
    """Voxel files into the converter: hollowed, the viewer shows the very
    same first frame; made coarser, cells of the mean colour."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-voxels-")
        cls.server = harness.XServer("1024x768")
        cls.cells = make_solid.ball_cells(14)
        cls.ball = os.path.join(cls.tmp, "ball.vxl")
        with open(cls.ball, "w") as f:
            f.write(make_solid.voxel_text(make_solid.voxels(cls.cells, 0.5), 0.5))

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_hollowed_ball_shows_the_same_first_frame(self):
        out = os.path.join(self.tmp, "hollow.vxl")
        status, stdout, stderr = vxlconv(self.ball, out, "--hollow")
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        size, full = read_voxels(self.ball)
        hollow_size, kept = read_voxels(out)
        self.assertEqual(struct.pack("<f", size), struct.pack("<f", hollow_size))
        # Exactly the voxels with a missing neighbour, in their order, each
        # position to the bit.
        hidden = make_solid.hidden_cells(self.cells)
        expected = [v for v, c in zip(full, self.cells) if c not in hidden]
        self.assertEqual(len(kept), len(self.cells) - len(hidden))
        self.assertLess(len(kept), len(full) // 3)
        self.assertEqual(kept, expected)

        full_shot = first_frame(self, self.server, self.ball, "ball-full")
        hollow_shot = first_frame(self, self.server, out, "ball-hollow")
        self.assertGreater(full_shot.nonblack_count(), 480 * 480 // 10)
        self.assertEqual(full_shot.diff_count(hollow_shot), 0, "the hollowed ball looks different")

    def test_coarser_grid_merges_cells_to_their_mean_colour(self):
        out = os.path.join(self.tmp, "coarse.vxl")
        status, stdout, stderr = vxlconv(self.ball, out, "--voxel-size", "1.5")
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        size, coarse = read_voxels(out)
        self.assertEqual(size, 1.5)
        # Cells of three voxels a side from the lowest corner (cell -14):
        # each voxel's cell, and the rounded mean of each cell's colours.
        sums = {}
        for i, j, k in self.cells:
            key = tuple((c + 14) // 3 for c in (i, j, k))
            entry = sums.setdefault(key, [0, 0, 0, 0])
            for n, value in enumerate(make_solid.colour(i, j, k)):
                entry[n] += value
            entry[3] += 1
        self.assertEqual(len(coarse), len(sums))
        corner = -14 * 0.5 - 0.25
        expected = {}
        for key, (r, g, b, n) in sums.items():
            centre = struct.pack("<3f", *(corner + (c + 0.5) * 1.5 for c in key))
            expected[centre] = tuple((total + n // 2) // n for total in (r, g, b))
        self.assertEqual(dict(coarse), expected)
        shot = first_frame(self, self.server, out, "ball-coarse")
        self.assertGreater(shot.nonblack_count(), 480 * 480 // 10)

    def test_hollow_and_coarser_on_vox_and_voxel_file_refusals(self):
        vox = os.path.join(self.tmp, "scene.vox")
        with open(vox, "wb") as f:
            f.write(make_vox.scene_file())
        plain, hollow, coarse = (os.path.join(self.tmp, n + ".vxl") for n in ("plain", "hollow", "coarse"))
        for args in ((vox, plain), (vox, hollow, "--hollow"), (vox, coarse, "--resolution", "8")):
            status, _, stderr = vxlconv(*args)
            self.assertEqual((status, stderr), (0, ""))
        counts = [read_header(p)[0] for p in (plain, hollow, coarse)]
        self.assertLess(counts[1], counts[0])
        self.assertLess(counts[2], counts[1])
        self.assertEqual(read_header(plain)[1], 1.0)

        # A mesh voxelised to a file and hollowed later gives what hollowing
        # at once gives: the file's positions, computed from a double step,
        # are near enough to the lattice of its float voxel size.
        teapots = os.path.join(MODELS, "Collada", "teapots.DAE")
        full, direct, later = (os.path.join(self.tmp, n + ".vxl") for n in ("full", "direct", "later"))
        for args in ((teapots, full), (teapots, direct, "--hollow"), (full, later, "--hollow")):
            status, _, stderr = vxlconv(*(args + ("--resolution", "100") if args[0] == teapots else args))
            self.assertEqual(status, 0, stderr)
            self.assertNotIn("do not lie on the lattice", stderr)
        with open(direct) as a, open(later) as b:
            self.assertEqual(a.read(), b.read())
        self.assertLess(read_header(later)[0], read_header(full)[0])

        bad = os.path.join(self.tmp, "short.vxl")
        with open(bad, "w") as f:
            f.write("3 1.0\n0 0 0 1 1 1\n")
        out = os.path.join(self.tmp, "never.vxl")
        for extra in ((), ("--hollow",)):
            status, stdout, stderr = vxlconv(bad, out, *extra)
            self.assertEqual((status, stdout), (1, ""))
            self.assertEqual(stderr, "vxlconv: cannot read %s (the viewer would say: Error reading %s)\n" % (bad, bad))
            self.assertFalse(os.path.exists(out))
        status, _, stderr = vxlconv(self.ball, out, "--hollow", "--max-voxels", "100")
        self.assertEqual(status, 1)
        self.assertIn("raise --max-voxels", stderr)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    parser.add_argument("--models", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    MODELS = args.models
    sys.argv = [sys.argv[0]] + rest
    harness.parse_args()
    unittest.main(verbosity=2)
