"""vxlrender as users run it: its pictures against the real viewer's first
frame under Xvfb, byte for byte; the iso view against where its maths puts
the model; thumbnails; and every refusal (bad options, outputs that cannot be
written, files that get no thumbnail, no EGL), each leaving no partial
picture and an existing one untouched.

    test_vxlrender.py --binary build/voxscope --vxlrender build/vxlrender
                      --examples examples [--make-models build/bench/make_models]
"""

import math
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import check_thumbnailer  # noqa: E402
import harness  # noqa: E402
import make_grids  # noqa: E402
import make_vox  # noqa: E402
import output_checks  # noqa: E402
import png_file  # noqa: E402

VXLRENDER = None
MAKE_MODELS = None
ICON_CHECK = True
HOSTILE = os.path.join(HERE, "hostile")
RUN_TIMEOUT = 60.0
USAGE = ("Usage: vxlrender INPUT OUTPUT.png [--size WxH] [--view front|iso] [CONVERSION OPTIONS] | "
         "vxlrender --thumbnail SIZE INPUT OUTPUT.png\n")


def render(args, timeout=RUN_TIMEOUT, env=None):
    """Runs vxlrender with no display at all; returns (status, stdout, stderr)."""
    env = dict(os.environ if env is None else env)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    done = subprocess.run([VXLRENDER] + list(args), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, env=env)
    return done.returncode, done.stdout, done.stderr


def leftovers(folder):
    """Temporary files of vxlrender left in `folder`."""
    return [n for n in os.listdir(folder) if n.startswith(".vxlrender-")]


def write_cloud(path, count, seed):
    rng = random.Random(seed)
    voxels = [(rng.uniform(-20, 20), rng.uniform(-10, 10), rng.uniform(-15, 15),
               rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(count)]
    harness.write_voxels(path, voxels, size=0.7)


class ViewerAgreement(harness.ScratchCase):
    """`vxlrender --view front --size WxH` gives the very pixels of the
    viewer's first frame in a WxH window: same framing, projection, cubes,
    colours and draw order, at ordinary and at extreme scales."""

    PREFIX = "vxlrender-agree-"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = harness.XServer("1024x768")
        cloud = os.path.join(cls.tmp, "cloud.vxl")
        write_cloud(cloud, 20000, seed=11)
        single = os.path.join(cls.tmp, "single.vxl")
        harness.write_voxels(single, [(1, 2, 3, 200, 120, 40)], size=0.5)
        cls.models = {
            "terrain": os.path.join(harness.EXAMPLES, "terrain.vxl"),
            "random cloud": cloud,
            "single voxel": single,
            "pair at 1e36": os.path.join(HOSTILE, "scaled_pair_1e36.vxl"),
            "pair at 1e-30": os.path.join(HOSTILE, "scaled_pair_1e-30.vxl"),
            "near the float limit": os.path.join(HOSTILE, "coordinates_near_float_max.vxl"),
        }

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        super().tearDownClass()

    def assertViewerShows(self, model, size, picture):
        """The viewer, opened in a window of `size`, comes to show exactly
        `picture`. Its first frame takes a while (the list compile of a big
        model); until then the window is black, so the test waits for the
        picture with a deadline and, failing that, compares what the window
        shows once it stays still."""
        # Placed at the screen's corner: without a position the window sits
        # at (-1, -1) and the screenshot loses a row and a column.
        viewer = harness.Viewer(self.server, [harness.BINARY, "-geometry", size + "+0+0", model])
        try:
            wid = viewer.find_window(harness.BINARY)
            x, y, w, h = self.server.window_geometry(wid)
            self.assertEqual((x, y, "%dx%d" % (w, h)), (0, 0, size), "the window is not as asked")
            try:
                harness.wait_for_picture(self.server, wid, picture, timeout=harness.FRAME_DEADLINE)
            except AssertionError:
                shot = harness.wait_for_stable(self.server, wid)
                self.assertEqual(picture, shot, "%d pixels differ" % picture.diff_count(shot))
        finally:
            viewer.kill()

    def test_front_view_is_the_viewers_first_frame(self):
        for name, model in self.models.items():
            for size in ("300x300", "800x600", "400x200"):
                with self.subTest(model=name, size=size):
                    out = os.path.join(self.tmp, "front.png")
                    status, stdout, stderr = render([model, out, "--view", "front", "--size", size])
                    self.assertEqual((status, stdout, stderr), (0, b"", b""))
                    w, h, channels, pixels = png_file.read_png(out)
                    self.assertEqual(("%dx%d" % (w, h), channels), (size, 3))
                    picture = harness.Image(w, h, pixels)
                    self.assertFalse(picture.is_black(), "nothing drawn")
                    self.assertViewerShows(model, size, picture)

    def test_defaults_are_front_at_800x600(self):
        model = self.models["terrain"]
        a, b = os.path.join(self.tmp, "default.png"), os.path.join(self.tmp, "explicit.png")
        self.assertEqual(render([model, a])[0], 0)
        self.assertEqual(render(["--size=800x600", "--view=front", model, b])[0], 0)
        self.assertEqual(png_file.read_png(a), png_file.read_png(b))


def iso_basis():
    """Right, up and back (towards the eye) of the iso view, model axes."""
    s2, s3, s6 = math.sqrt(2), math.sqrt(3), math.sqrt(6)
    return (1 / s2, 0, -1 / s2), (-1 / s6, 2 / s6, -1 / s6), (1 / s3, 1 / s3, 1 / s3)


def project(point, eye, w, h):
    """Window position (x right, y down, pixel units) of a model point seen
    from `eye` in the iso view, by the frame's own projection: 38.94 degrees
    across the window's diagonal."""
    right, up, back = iso_basis()
    d = [point[i] - eye[i] for i in range(3)]
    vx = sum(d[i] * right[i] for i in range(3))
    vy = sum(d[i] * up[i] for i in range(3))
    vz = sum(d[i] * back[i] for i in range(3))
    diag = math.sqrt(w * w + h * h)
    half_w = w / diag * 0.5 * 0.70710677
    half_h = h / diag * 0.5 * 0.70710677
    nx, ny = vx / -vz / half_w, vy / -vz / half_h
    return (nx + 1) / 2 * w, (1 - ny) / 2 * h


class IsoView(harness.ScratchCase):
    """--view iso: the framed view turned so that the eye looks at the box
    centre from (1, 1, 1) at the framed distance, +y up on screen."""

    PREFIX = "vxlrender-iso-"

    def test_a_solid_block_lands_on_its_predicted_box(self):
        # A 6 x 4 x 3 block of grey voxels, red at the corner nearest the eye
        # (+x, +y, +z), blue at the far one and green on top at the corner
        # that points up the screen (-x, +y, -z).
        nx, ny, nz, size = 6, 4, 3, 1.0
        voxels = []
        for x in range(nx):
            for y in range(ny):
                for z in range(nz):
                    colour = (128, 128, 128)
                    if (x, y, z) == (nx - 1, ny - 1, nz - 1):
                        colour = (255, 0, 0)
                    elif (x, y, z) == (0, 0, 0):
                        colour = (0, 0, 255)
                    elif (x, y, z) == (0, ny - 1, 0):
                        colour = (0, 255, 0)
                    voxels.append((x, y, z) + colour)
        model = os.path.join(self.tmp, "block.vxl")
        harness.write_voxels(model, voxels, size=size)
        lo = [-0.5, -0.5, -0.5]
        hi = [nx - 0.5, ny - 0.5, nz - 0.5]
        centre = [(nx - 1) / 2, (ny - 1) / 2, (nz - 1) / 2]
        extent = math.sqrt((nx - 1) ** 2 + (ny - 1) ** 2 + (nz - 1) ** 2) + size * 2.828
        distance = 2 * extent
        eye = [c + distance / math.sqrt(3) for c in centre]
        for w, h in ((400, 300), (256, 256), (300, 500)):
            with self.subTest(size="%dx%d" % (w, h)):
                out = os.path.join(self.tmp, "iso.png")
                status, _, err = render([model, out, "--view", "iso", "--size", "%dx%d" % (w, h)])
                self.assertEqual((status, err), (0, b""))
                pw, ph, channels, pixels = png_file.read_png(out)
                picture = harness.Image(pw, ph, pixels)
                corners = [project((a, b, c), eye, w, h) for a in (lo[0], hi[0])
                           for b in (lo[1], hi[1]) for c in (lo[2], hi[2])]
                # The picture holds what of that box lies in the window.
                left = max(0, min(p[0] for p in corners))
                right = min(w, max(p[0] for p in corners))
                top = max(0, min(p[1] for p in corners))
                bottom = min(h, max(p[1] for p in corners))
                box = picture.bbox()
                # Pixels whose centres the silhouette covers: within a pixel
                # of the box of the projected corners.
                for got, want in zip(box, (left, top, right, bottom)):
                    self.assertLessEqual(abs(got - want), 1.0, "box %s, predicted %s" % (
                        box, (left, top, right, bottom)))
                counts = picture.colour_counts()
                self.assertNotIn((0, 0, 255), counts, "the far corner is hidden from (1, 1, 1)")
                self.assertIn((255, 0, 0), counts)
                self.assertIn((0, 255, 0), counts)
                # The near corner's voxel shows its three outer faces around
                # the projection of its centre; of the top corner's only the
                # top face shows, around the projection of that face's centre.
                for colour, where in (((255, 0, 0), (nx - 1, ny - 1, nz - 1)),
                                      ((0, 255, 0), (0, ny - 0.5, 0))):
                    xs = [i % pw for i, p in enumerate(picture.pixels()) if p == colour]
                    ys = [i // pw for i, p in enumerate(picture.pixels()) if p == colour]
                    px, py = project(where, eye, w, h)
                    self.assertLessEqual(abs(sum(xs) / len(xs) - px), 2.5)
                    self.assertLessEqual(abs(sum(ys) / len(ys) - py), 2.5)
                self.assertLessEqual(min(ys), top + 1, "green is the topmost colour")


class Thumbnails(harness.ScratchCase):
    """--thumbnail SIZE: square, iso view, transparent where nothing is drawn;
    only voxel text, MagicaVoxel and binvox files small enough are drawn,
    anything else is refused in one line with no output file."""

    PREFIX = "vxlrender-thumb-"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.terrain = os.path.join(harness.EXAMPLES, "terrain.vxl")

    def test_square_iso_with_transparent_background(self):
        for side in (128, 256, 37):
            with self.subTest(side=side):
                thumb = os.path.join(self.tmp, "thumb.png")
                iso = os.path.join(self.tmp, "iso.png")
                self.assertEqual(render(["--thumbnail", str(side), self.terrain, thumb]), (0, b"", b""))
                self.assertEqual(render([self.terrain, iso, "--view", "iso",
                                         "--size", "%dx%d" % (side, side)])[0], 0)
                w, h, channels, pixels = png_file.read_png(thumb)
                self.assertEqual((w, h, channels), (side, side, 4))
                _, _, _, iso_pixels = png_file.read_png(iso)
                self.assertEqual(png_file.rgb_of(pixels, 4), iso_pixels,
                                 "the thumbnail's colours are the iso view's")
                alpha = pixels[3::4]
                self.assertEqual(set(alpha), {0, 255})
                for i, a in enumerate(alpha):
                    if a == 0:
                        self.assertEqual(pixels[4 * i : 4 * i + 3], b"\0\0\0")
                drawn = sum(1 for a in alpha if a)
                self.assertGreater(drawn, side * side // 5)
                self.assertLess(drawn, side * side)

    def assertRefused(self, input_path, message, args=None):
        out = os.path.join(self.tmp, "refused.png")
        if os.path.exists(out):
            os.unlink(out)
        status, stdout, stderr = render(args or ["--thumbnail", "128", input_path, out])
        self.assertEqual(status, 1)
        self.assertEqual(stdout, b"")
        self.assertEqual(stderr.decode(), message)
        self.assertFalse(os.path.exists(out), "an output file was left")
        self.assertEqual(leftovers(self.tmp), [])

    def write_bytes(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_files_that_are_not_voxel_text_get_no_thumbnail(self):
        import struct

        # A Voxlap map starts with its dimensions as little-endian integers,
        # then spans of binary column data.
        voxlap = struct.pack("<3i", 1024, 1024, 256) + bytes(range(256)) * 8
        # Westwood models start with "Voxel Animation" and binary headers.
        westwood = b"Voxel Animation\0" + struct.pack("<4I", 1, 1, 1, 1) + bytes(512)
        binary_after_text = b"12 1.0\n0 0 0 255 0 0\n" + bytes([0, 1, 2, 250, 251]) * 100
        cases = {
            "voxlap.vxl": voxlap,
            "westwood.vxl": westwood,
            "digits then binary.vxl": binary_after_text,
            "utf16.vxl": "2 1.0\n".encode("utf-16"),
            "empty.vxl": b"",
            "words.vxl": b"# a voxel file, really\n1 1.0\n0 0 0 1 2 3\n",
            "negative count.vxl": b"-1 1.0\n",
        }
        for name, data in cases.items():
            with self.subTest(name):
                path = self.write_bytes(name, data)
                self.assertRefused(path, "vxlrender: %s is not a voxel text file\n" % path)

    def test_files_too_big_are_refused_before_they_are_read(self):
        many = self.write_bytes("many.vxl", b"1000001 1.0\n0 0 0 255 0 0\n")
        self.assertRefused(many, "vxlrender: %s has too many voxels for a thumbnail "
                           "(1000001, at most 1000000)\n" % many)
        # A million voxels exactly is within the limit: refused only later,
        # by the loader, for being short of data.
        limit = self.write_bytes("limit.vxl", b"1000000 1.0\n0 0 0 255 0 0\n")
        out = os.path.join(self.tmp, "limit.png")
        status, _, err = render(["--thumbnail", "64", limit, out])
        self.assertEqual((status, err.decode()), (1, "Error reading %s\nCouldn't open file %s\n"
                                                  % (limit, limit)))
        # 64 MiB and one byte, sparse: refused from its size without reading.
        big = os.path.join(self.tmp, "big.vxl")
        with open(big, "wb") as f:
            f.write(b"1 1.0\n0 0 0 255 0 0\n")
            f.truncate((64 << 20) + 1)
        started = time.monotonic()
        self.assertRefused(big, "vxlrender: %s is too big for a thumbnail (67108865 bytes, "
                           "at most 67108864)\n" % big)
        self.assertLess(time.monotonic() - started, RUN_TIMEOUT)

    def test_voxel_art_by_its_content_within_the_limits(self):
        import struct

        scene = os.path.join(harness.EXAMPLES, "scene.vox")
        thumb = os.path.join(self.tmp, "scene.png")
        self.assertEqual(render(["--thumbnail", "96", scene, thumb]), (0, b"", b""))
        self.assertEqual(png_file.read_png(thumb)[:3], (96, 96, 4))
        # Voxlap's models are .vox files too: sizes, voxels, palette.
        voxlap = self.write_bytes("voxlap.vox", struct.pack("<3i", 32, 32, 32)
                                  + bytes(32 * 32 * 32) + bytes(range(256)) * 3)
        self.assertRefused(voxlap, "vxlrender: %s is not a MagicaVoxel file\n" % voxlap)
        # A scene past the thumbnail's voxels, refused by the reader's count
        # before any voxel is placed; a binvox grid past 256^3 by its header.
        count = 101 * 100 * 100
        voxels = bytes(b for x in range(101) for y in range(100) for z in range(100)
                       for b in (x, y, z, 1))
        model = (make_vox.size_chunk(101, 100, 100)
                 + make_vox.chunk("XYZI", make_vox.u32(count) + voxels))
        many = self.write_bytes("many.vox", make_vox.vox_file([model]))
        self.assertRefused(many, "vxlrender: %s: the scene has more than 1000000 "
                           "voxels (raise --max-voxels)\n" % many)
        grid = self.write_bytes("grid.binvox", b"#binvox 1\ndim 257 257 257\ndata\n"
                                + b"\x00\xff" * 66000)
        self.assertRefused(grid, "vxlrender: %s has too many voxels for a thumbnail (a grid of "
                           "more than 16777216 cells)\n" % grid)

    def test_not_a_regular_file(self):
        fifo = os.path.join(self.tmp, "fifo.vxl")
        os.mkfifo(fifo)
        self.assertRefused(fifo, "vxlrender: %s is not a regular file\n" % fifo)
        self.assertRefused(self.tmp, "vxlrender: %s is not a regular file\n" % self.tmp)
        missing = os.path.join(self.tmp, "missing.vxl")
        self.assertRefused(missing, "vxlrender: cannot read %s: No such file or directory\n"
                           % missing)


class Desktop(harness.ScratchCase):
    """The thumbnailer entry run in GNOME's sandbox on the built program, and
    the committed icons still being what vxlrender draws."""

    PREFIX = "vxlrender-desktop-"
    ROOT = os.path.dirname(os.path.dirname(HERE))

    def test_thumbnailer_in_the_sandbox(self):
        if not shutil.which("bwrap"):
            self.skipTest("bubblewrap (bwrap) is not installed")
        probe = subprocess.run(["bwrap", "--ro-bind", "/", "/", "--unshare-all", "true"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
        if probe.returncode != 0:
            # The package stage, which must show the sandbox working, fails
            # instead; here the rest of the tests still tell something.
            self.skipTest("bubblewrap cannot make a sandbox here: %s" % probe.stderr.decode().strip())
        # The installed entry, pointed at the built program.
        entry = check_thumbnailer.read_entry(os.path.join(self.ROOT, "data", "vxlrender.thumbnailer"))
        self.assertEqual(entry["Exec"], "vxlrender --thumbnail %s %i %o")
        self.assertEqual(entry["TryExec"], "vxlrender")
        local = os.path.join(self.tmp, "local.thumbnailer")
        with open(local, "w") as f:
            f.write("[Thumbnailer Entry]\nExec=%s\nMimeType=%s\n" % (
                entry["Exec"].replace("vxlrender", VXLRENDER, 1), entry["MimeType"]))
        # A voxel text file, a MagicaVoxel scene and a binvox ball.
        ball = os.path.join(self.tmp, "ball.binvox")
        with open(ball, "wb") as f:
            f.write(make_grids.binvox(24, lambda x, y, z: (x - 11.5) ** 2 + (y - 11.5) ** 2
                                      + (z - 11.5) ** 2 < 100))
        models = [os.path.join(harness.EXAMPLES, "terrain.vxl"),
                  os.path.join(harness.EXAMPLES, "scene.vox"), ball]
        failures = check_thumbnailer.check(local, models, 128, reference=VXLRENDER,
                                           ro_binds=[VXLRENDER])
        self.assertEqual(failures, [])

    def test_committed_icons_are_what_vxlrender_draws(self):
        import base64

        if not ICON_CHECK:
            self.skipTest("a checked build turns the iso camera a last bit differently from the "
                          "Release build that drew the icons")

        icons = os.path.join(self.ROOT, "data", "icons")
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            with self.subTest(size=size):
                out = os.path.join(self.tmp, "%d.png" % size)
                self.assertEqual(render(["--thumbnail", str(size),
                                         os.path.join(harness.EXAMPLES, "terrain.vxl"), out])[0], 0)
                self.assertEqual(png_file.read_png(os.path.join(icons, "voxscope-%d.png" % size)),
                                 png_file.read_png(out), "run tools/make_icons.sh")
        with open(os.path.join(icons, "voxscope.svg")) as f:
            svg = f.read()
        start = svg.index("base64,") + len("base64,")
        embedded = os.path.join(self.tmp, "embedded.png")
        with open(embedded, "wb") as f:
            f.write(base64.b64decode(svg[start : svg.index('"', start)]))
        self.assertEqual(png_file.read_png(embedded), png_file.read_png(os.path.join(self.tmp, "256.png")))


class Refusals(harness.ScratchCase):
    """Bad options, outputs that cannot be written, files the loader refuses,
    an interrupted render and no EGL: a clear line, status 1, no partial
    picture, and an existing picture left as it was."""

    PREFIX = "vxlrender-refuse-"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.terrain = os.path.join(harness.EXAMPLES, "terrain.vxl")
        cls.server = harness.XServer("640x480")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        super().tearDownClass()

    def test_help(self):
        status, out, err = render(["--help"])
        self.assertEqual((status, err), (0, b""))
        text = out.decode()
        self.assertTrue(text.startswith("Usage: vxlrender INPUT OUTPUT.png"))
        for needle in ("--size WxH", "--view iso", "56.60 degrees", "(0.5903, -0.7693, -0.2445)",
                       "1000000 voxels", "67108864 bytes", "--thumbnail SIZE"):
            self.assertIn(needle, text)

    def test_bad_options(self):
        out = os.path.join(self.tmp, "never.png")
        cases = [
            ([], "no input or output named"),
            ([self.terrain], "no output named"),
            ([self.terrain, out, "extra"], 'one input and one output only; "extra" is one too many'),
            ([self.terrain, out, "--colour", "red"], "unknown option --colour"),
            ([self.terrain, out, "--size"], "--size needs a value"),
            ([self.terrain, out, "--size", "800"], '--size needs WIDTHxHEIGHT, each 1 to 16384, not "800"'),
            ([self.terrain, out, "--size", "0x600"], '--size needs WIDTHxHEIGHT, each 1 to 16384, not "0x600"'),
            ([self.terrain, out, "--size", "16385x10"],
             '--size needs WIDTHxHEIGHT, each 1 to 16384, not "16385x10"'),
            ([self.terrain, out, "--size", "-5x5"], '--size needs WIDTHxHEIGHT, each 1 to 16384, not "-5x5"'),
            ([self.terrain, out, "--view", "side"], '--view is front or iso, not "side"'),
            ([self.terrain, out, "--thumbnail", "big"], '--thumbnail needs a size from 1 to 16384, not "big"'),
            (["--thumbnail", "128", "--view", "front", self.terrain, out],
             "--thumbnail sets the size and the view; give no --size or --view with it"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                status, stdout, stderr = render(args)
                self.assertEqual(status, 1)
                self.assertEqual(stdout, b"")
                self.assertEqual(stderr.decode(), "vxlrender: %s\n%s" % (reason, USAGE))
                self.assertFalse(os.path.exists(out))

    def test_outputs_that_cannot_be_written(self):
        cases = [
            ("/nonexistent-folder/out.png", "No such file or directory"),
            ("/proc/out.png", None),  # even root cannot make files there
            (self.tmp, "it is a directory"),
        ]
        for out, reason in cases:
            with self.subTest(out=out):
                status, stdout, stderr = render([self.terrain, out])
                self.assertEqual((status, stdout), (1, b""))
                lines = stderr.decode().splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("vxlrender: cannot write %s: " % out), lines)
                if reason:
                    self.assertTrue(lines[0].endswith(reason), lines)
        self.assertEqual(leftovers(self.tmp), [])

    def test_loader_messages_are_the_viewers(self):
        missing = os.path.join(self.tmp, "missing.vxl")
        for path in (missing, os.path.join(HOSTILE, "binary_garbage.vxl"),
                     os.path.join(HOSTILE, "count_minus_one.vxl"),
                     os.path.join(HOSTILE, "count_int_max.vxl"),
                     os.path.join(HOSTILE, "header_only.vxl")):
            with self.subTest(os.path.basename(path)):
                out = os.path.join(self.tmp, "kept.png")
                with open(out, "wb") as f:
                    f.write(b"an earlier picture")
                status, stdout, stderr = render([path, out])
                viewer_status, _, viewer_err, _ = harness.run_to_exit(self.server, [harness.BINARY, path])
                self.assertEqual((status, stdout), (1, b""))
                self.assertEqual(viewer_status, 1)
                self.assertEqual(stderr, viewer_err)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), b"an earlier picture", "the existing file was changed")
                self.assertEqual(leftovers(self.tmp), [])

    def test_a_new_picture_replaces_an_old_one_whole(self):
        out = os.path.join(self.tmp, "replaced.png")
        with open(out, "wb") as f:
            f.write(b"old")
        os.chmod(out, 0o600)
        old_umask = os.umask(0o022)
        try:
            self.assertEqual(render([self.terrain, out, "--size", "64x48"])[0], 0)
        finally:
            os.umask(old_umask)
        self.assertEqual(png_file.read_png(out)[:3], (64, 48, 3))
        self.assertEqual(os.stat(out).st_mode & 0o777, 0o644, "made as any new file is")
        self.assertEqual(leftovers(self.tmp), [])

    def test_an_interrupted_render_leaves_nothing(self):
        if not MAKE_MODELS or not os.path.exists(MAKE_MODELS):
            self.skipTest("no make_models in this build (--make-models)")
        model = os.path.join(self.tmp, "cloud.vxl")
        subprocess.run([MAKE_MODELS, "cloud", "-o", model, "1000000", "5"], check=True,
                       timeout=RUN_TIMEOUT, stdout=subprocess.DEVNULL)
        out = os.path.join(self.tmp, "interrupted.png")
        with open(out, "wb") as f:
            f.write(b"an earlier picture")
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                env = dict(os.environ)
                env.pop("DISPLAY", None)
                # The temporary file is made before the model is read: the
                # signal comes while the picture is being made.
                output_checks.interrupt(self, [VXLRENDER, model, out, "--size", "1600x1200"],
                                        self.tmp, "vxlrender", sig, env=env, writing=False)
                self.assertEqual(leftovers(self.tmp), [])
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), b"an earlier picture")

    def render_to(self, path):
        status, stdout, stderr = render([self.terrain, path])
        return status, stdout.decode(), stderr.decode()

    def test_outputs_that_are_not_regular_files_are_refused_at_once(self):
        folder = os.path.join(self.tmp, "special")
        os.mkdir(folder)
        output_checks.assert_outputs_refused(self, "vxlrender", self.render_to,
                                             output_checks.not_regular_outputs(folder))

    def test_device_nodes_are_never_replaced(self):
        folder = os.path.join(self.tmp, "devices")
        os.mkdir(folder)
        output_checks.assert_outputs_refused(self, "vxlrender", self.render_to,
                                             output_checks.device_outputs(self, folder))

    def test_an_output_naming_the_input_is_refused(self):
        model = os.path.join(self.tmp, "model.vxl")
        shutil.copy(self.terrain, model)
        os.symlink("model.vxl", os.path.join(self.tmp, "model-link.vxl"))
        before = output_checks.read(model)
        for out in (model, os.path.join(self.tmp, ".", "model.vxl"),
                    os.path.join(self.tmp, "model-link.vxl")):
            with self.subTest(out=out):
                status, stdout, stderr = render([model, out])
                self.assertEqual((status, stdout, stderr.decode()), (
                    1, b"", "vxlrender: %s is the input; write the output to another file\n" % out))
                self.assertEqual(output_checks.read(model), before)
                self.assertEqual(leftovers(self.tmp), [])

    def test_a_file_size_limit_fails_the_write_and_says_so(self):
        out = os.path.join(self.tmp, "limited.png")
        output_checks.write_earlier(out)
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        status, stdout, stderr = output_checks.run([VXLRENDER, self.terrain, out], file_limit=5000,
                                                   env=env)
        self.assertEqual((status, stdout, stderr),
                         (1, "", "vxlrender: cannot write %s: File too large\n" % out))
        self.assertEqual(output_checks.read(out), output_checks.EARLIER)
        self.assertEqual(leftovers(self.tmp), [])

    def test_a_full_disk_fails_the_write_and_says_so(self):
        output_checks.assert_full_disk_refused(
            self, "vxlrender", [VXLRENDER, self.terrain, "--size", "1600x1200"], "full.png",
            bytes_free=16384)

    def test_no_egl_is_one_line(self):
        out = os.path.join(self.tmp, "no-egl.png")
        broken = {
            "no EGL vendor library": {"__EGL_VENDOR_LIBRARY_FILENAMES": "/nonexistent.json"},
            "no Mesa drivers": {"LIBGL_DRIVERS_PATH": "/nonexistent", "GALLIUM_DRIVER": "none"},
        }
        for why, extra in broken.items():
            with self.subTest(why):
                env = dict(os.environ, **extra)
                status, stdout, stderr = render([self.terrain, out], env=env)
                self.assertEqual((status, stdout), (1, b""))
                lines = stderr.decode().splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("vxlrender: no usable EGL: "), lines)
                self.assertFalse(os.path.exists(out))
                self.assertEqual(leftovers(self.tmp), [])


if __name__ == "__main__":
    ours = harness.parse_args(extra=[("--vxlrender", True), ("--make-models", False),
                                     ("--icon-check", None)])
    VXLRENDER = os.path.abspath(ours.vxlrender)
    ICON_CHECK = ours.icon_check
    MAKE_MODELS = os.path.abspath(ours.make_models) if ours.make_models else None
    unittest.main()
