"""vxlconv's web page opened in Debian's Chromium (headless, software GL),
driven by playwright-core, offline, with every request other than file:,
data: and blob: refused: the page loads with no console error, its first
picture is the viewer's first frame of the same voxels at the same size (as
vxlrender draws it, byte for byte the viewer's), a left drag turns it, a
right drag pans it, the wheel zooms it and space gives the first picture
back. The page names its input, escaped, and is at most the .glb plus
1.5 MB. Failures leave no page and say so in one line.

Takes --vxlconv PATH, --vxlrender PATH, --chromium PATH, --node-tools DIR
(node_modules with playwright-core, installed by the e2e_node_tools
fixture) and the harness's --binary and --examples.
"""

import gzip
import json
import math
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import harness  # noqa: E402
import make_grids  # noqa: E402
import output_checks  # noqa: E402
import png_file  # noqa: E402

VXLCONV = VXLRENDER = CHROMIUM = NODE_TOOLS = None
RUN_TIMEOUT = 240
MEGABYTE_AND_HALF = 3 << 19


def run(program, *args):
    done = subprocess.run([program] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def open_page(page, folder, width, height):
    """What open_page.js saw: the pictures, errors, refused requests, label."""
    env = dict(os.environ, NODE_PATH=os.path.join(NODE_TOOLS, "node_modules"))
    done = subprocess.run(["node", os.path.join(HERE, "node", "open_page.js"), CHROMIUM, page,
                           folder, str(width), str(height)],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT,
                          env=env)
    if done.returncode != 0:
        raise AssertionError("open_page.js failed: %s" % done.stderr.decode(errors="replace"))
    return json.loads(done.stdout.decode())


def rgb(path):
    width, height, channels, pixels = png_file.read_png(path)
    return width, height, png_file.rgb_of(pixels, channels)


def compare(page_png, reference_png, hidden):
    """(silhouette overlap, share of pixels both draw whose colours agree to
    8 levels) outside the `hidden` box (the page's label)."""
    width, height, a = rgb(page_png)
    w2, h2, b = rgb(reference_png)
    assert (width, height) == (w2, h2), ((width, height), (w2, h2))
    x0, y0 = int(hidden["x"]), int(hidden["y"])
    x1, y1 = math.ceil(hidden["x"] + hidden["width"]), math.ceil(hidden["y"] + hidden["height"])
    union = both = close = 0
    for y in range(height):
        for x in range(width):
            if x0 <= x < x1 and y0 <= y < y1:
                continue
            i = 3 * (y * width + x)
            pa, pb = a[i:i + 3], b[i:i + 3]
            drawn_a, drawn_b = any(pa), any(pb)
            union += drawn_a or drawn_b
            if drawn_a and drawn_b:
                both += 1
                close += max(abs(pa[k] - pb[k]) for k in range(3)) <= 8
    return both / max(union, 1), close / max(both, 1)


def changed_share(first_png, other_png):
    _, _, a = rgb(first_png)
    _, _, b = rgb(other_png)
    return sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3]) / (len(a) // 3)


def head_phantom(path):
    """A CT-like head in Hounsfield units, int16, gzip: air, soft tissue and
    a skull shell, on unequal spacings as scanners give them."""
    dims, spacing = (80, 96, 48), (2.0, 2.0, 3.5)
    values = []
    for k in range(dims[2]):
        for j in range(dims[1]):
            for i in range(dims[0]):
                x = (i - dims[0] / 2) * spacing[0] / 72.0
                y = (j - dims[1] / 2) * spacing[1] / 90.0
                z = (k - dims[2] / 2) * spacing[2] / 76.0
                r = math.sqrt(x * x + y * y + z * z)
                bone = 400 + 1400 * k // dims[2]  # denser towards the top: shades of grey
                values.append(bone if 0.9 <= r <= 1.0 else 40 if r < 0.9 else -1000)
    data = make_grids.nifti(dims, "i2", values, pixdim=spacing, origin=(-80.0, -96.0, -84.0))
    with gzip.open(path, "wb") as f:
        f.write(data)


class Pages(harness.ScratchCase):
    PREFIX = "vxlconv-html-"

    def path(self, name):
        return os.path.join(self.tmp, name)

    @classmethod
    def convert(cls, source, out, *options):
        status, stdout, stderr = run(VXLCONV, source, out, *options)
        if (status, stdout) != (0, ""):
            raise AssertionError("vxlconv %s %s: %d %s" % (source, out, status, stderr))

    @classmethod
    def opened(cls, name, source, width, height, *options):
        """Converts `source` to NAME.html and NAME.vxl, draws the voxel file
        with vxlrender and opens the page at the same size."""
        page, voxels = os.path.join(cls.tmp, name + ".html"), os.path.join(cls.tmp, name + ".vxl")
        cls.convert(source, page, *options)
        cls.convert(source, voxels, *options)
        reference = os.path.join(cls.tmp, name + "-vxlrender.png")
        status, _, stderr = run(VXLRENDER, voxels, reference, "--size", "%dx%d" % (width, height))
        if status != 0:
            raise AssertionError("vxlrender: " + stderr)
        folder = os.path.join(cls.tmp, name + "-shots")
        os.mkdir(folder)
        return page, reference, open_page(page, folder, width, height)

    def assert_viewer_first_frame(self, reference, seen):
        self.assertEqual((seen["errors"], seen["refused"], seen["pageError"]), ([], [], ""))
        overlap, agree = compare(seen["shots"]["first"], reference, seen["labelBox"])
        self.assertGreater(overlap, 0.99)
        self.assertGreater(agree, 0.97)

    def assert_navigation(self, seen):
        shots = seen["shots"]
        for moved in ("turned", "panned", "zoomed"):
            self.assertGreater(changed_share(shots["first"], shots[moved]), 0.02, moved)
        # Space frames the model again: the same picture to the pixel.
        self.assertEqual(rgb(shots["reframed"]), rgb(shots["first"]))
        self.assertEqual(rgb(shots["reframed_again"]), rgb(shots["first"]))


class TerrainPage(Pages):
    """The bundled terrain at 640x480."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        terrain = os.path.join(harness.EXAMPLES, "terrain.vxl")
        cls.page, cls.reference, cls.seen = cls.opened("terrain", terrain, 640, 480)
        cls.glb = os.path.join(cls.tmp, "terrain.glb")
        cls.convert(terrain, cls.glb)

    def test_opens_on_the_viewers_first_frame_with_nothing_fetched(self):
        self.assert_viewer_first_frame(self.reference, self.seen)

    def test_turns_pans_zooms_and_space_frames_again(self):
        self.assert_navigation(self.seen)

    def test_names_the_input_and_its_voxels(self):
        self.assertEqual(self.seen["label"], "terrain.vxl \u2014 10,394 voxels")
        self.assertEqual(self.seen["title"], self.seen["label"])

    def test_is_at_most_the_glb_and_a_megabyte_and_a_half(self):
        glb, page = os.path.getsize(self.glb), os.path.getsize(self.page)
        self.assertLessEqual(page, glb + MEGABYTE_AND_HALF)


class HeadPage(Pages):
    """A CT volume thresholded and hollowed, with a name full of HTML, in a
    tall window."""

    NAME = "a<b>&\"c'\u00e9.nii.gz"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        source = os.path.join(cls.tmp, cls.NAME)
        head_phantom(source)
        cls.page, cls.reference, cls.seen = cls.opened("head", source, 360, 520,
                                                       "--threshold", "300", "--hollow")

    def test_opens_on_the_viewers_first_frame_and_turns(self):
        self.assert_viewer_first_frame(self.reference, self.seen)
        self.assert_navigation(self.seen)

    def test_shows_the_name_as_it_is(self):
        name, count = self.seen["label"].split(" \u2014 ")
        self.assertEqual(name, self.NAME)
        self.assertRegex(count, r"^[0-9]{1,3}(,[0-9]{3})* voxels$")
        with open(self.page, "rb") as f:
            text = f.read()
        self.assertNotIn(b"<b>&", text)


class Refusals(Pages):
    """Like every output: whole or not at all, one line on failure."""

    def test_mesh_choice_is_refused(self):
        out = self.path("faces.html")
        status, stdout, stderr = run(VXLCONV, os.path.join(harness.EXAMPLES, "terrain.vxl"), out,
                                     "--mesh", "faces")
        self.assertEqual((status, stdout), (1, ""))
        self.assertEqual(stderr, "vxlconv: --mesh applies to mesh outputs (.glb, .gltf, .obj, "
                                 ".ply, .stl), not .html\n")
        self.assertFalse(os.path.exists(out))

    def test_a_failed_conversion_keeps_the_earlier_page(self):
        out = self.path("kept.html")
        output_checks.write_earlier(out)
        damaged = self.path("damaged.vxl")
        with open(damaged, "w") as f:
            f.write("3 1.0\n0 0 0 255 0 0\n")
        status, stdout, stderr = run(VXLCONV, damaged, out)
        self.assertEqual((status, stdout), (1, ""))
        self.assertEqual(len(stderr.splitlines()), 1, stderr)
        self.assertTrue(stderr.startswith("vxlconv: "), stderr)
        self.assertEqual(output_checks.read(out), output_checks.EARLIER)
        self.assertEqual(output_checks.temporaries(self.tmp, "vxlconv"), [])

    def test_a_file_size_limit_leaves_no_page(self):
        out = self.path("limited.html")
        status, stdout, stderr = output_checks.run(
            [VXLCONV, os.path.join(harness.EXAMPLES, "terrain.vxl"), out], file_limit=200000)
        self.assertEqual((status, stdout), (1, ""))
        self.assertEqual(stderr, "vxlconv: cannot write %s: File too large\n" % out)
        self.assertFalse(os.path.exists(out))
        self.assertEqual(output_checks.temporaries(self.tmp, "vxlconv"), [])


if __name__ == "__main__":
    args = harness.parse_args([("--vxlconv", True), ("--vxlrender", True), ("--chromium", True),
                               ("--node-tools", True)])
    VXLCONV = os.path.abspath(args.vxlconv)
    VXLRENDER = os.path.abspath(args.vxlrender)
    CHROMIUM = args.chromium
    NODE_TOOLS = os.path.abspath(args.node_tools)
    unittest.main()
