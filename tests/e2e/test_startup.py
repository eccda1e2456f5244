"""Start-up of the viewer as a user sees it: the command line, the error
messages and exit statuses, the window title, and the first picture of the
example terrain."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class StartupFailures(unittest.TestCase):
    """Every way start-up can fail: the exact lines on stderr, nothing on
    stdout, status 1, a prompt exit and never a window."""

    @classmethod
    def setUpClass(cls):
        cls.server = harness.XServer("1024x768")
        cls.tmp = tempfile.mkdtemp(prefix="voxscope-startup-")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def write(self, name, text):
        path = os.path.join(self.tmp, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def sparse(self, name, header, size):
        path = self.write(name, header)
        os.truncate(path, size)
        return path

    def assertFailsWith(self, args, expected_stderr):
        status, out, err, windows = harness.run_to_exit(self.server, args)
        self.assertIsNotNone(status, "viewer still running after %gs" % harness.EXIT_DEADLINE)
        self.assertEqual(err.decode(), expected_stderr)
        self.assertEqual(out, b"")
        self.assertEqual(status, 1)
        self.assertEqual(windows, set(), "a window appeared although start-up failed")

    def test_usage(self):
        binary = harness.BINARY
        with self.subTest("no arguments"):
            self.assertFailsWith([binary], "Usage: %s in.vxl\n" % binary)
        with self.subTest("only a GLUT option, which GLUT takes for itself"):
            self.assertFailsWith([binary, "-geometry", "400x400"], "Usage: %s in.vxl\n" % binary)
        with self.subTest("the usage line names the program as invoked"):
            name = os.path.basename(binary)
            status, out, err, windows = harness.run_to_exit(
                self.server, ["./" + name], cwd=os.path.dirname(binary)
            )
            self.assertEqual(err.decode(), "Usage: ./%s in.vxl\n" % name)
            self.assertEqual((status, out, windows), (1, b"", set()))

    def test_load_errors(self):
        binary = harness.BINARY
        missing = os.path.join(self.tmp, "no-such-file.vxl")
        cases = [
            ("missing file", missing, "Couldn't read %s\n"),
            ("header is not a number", self.write("word.vxl", "voxels 1\n"), "Error reading %s\n"),
            ("empty file", self.write("empty.vxl", ""), "Error reading %s\n"),
            (
                "a voxel holds a word",
                self.write("badvoxel.vxl", "2 1\n0 0 0 255 0 0\n1 1 one 0 255 0\n"),
                "Error reading %s\n",
            ),
            (
                "data runs out before the count",
                self.write("short.vxl", "3 1\n0 0 0 255 0 0\n1 0 0 0 255 0\n2 0 0\n"),
                "Error reading %s\n",
            ),
            (
                "negative count",
                self.write("negative.vxl", "-3 1\n0 0 0 255 0 0\n"),
                "Negative voxel count -3 in %s\n",
            ),
            (
                # Refused before any voxel is read, with the same line as a
                # file whose data runs out.
                "more voxels than the file can hold",
                self.write("toolarge.vxl", "1000 1\n0 0 0 255 0 0\n"),
                "Error reading %s\n",
            ),
            (
                # A count beyond what can be drawn, in a file that cannot hold
                # it either: the data would run out first.
                "more voxels than can be drawn or held",
                self.write("promises.vxl", "100000000 1\n0 0 0 255 0 0\n"),
                "Error reading %s\n",
            ),
            (
                # A file big enough for its count (a hole reads as zeros and
                # takes no disk): the draw limit speaks, from the header.
                "more voxels than can be drawn",
                self.sparse("toomany.vxl", "59652324 1\n", 59652324 * 6 + 100),
                "Too many voxels to draw (59652324, at most 59652323) in %s\n",
            ),
        ]
        for name, path, first_line in cases:
            with self.subTest(name):
                self.assertFailsWith(
                    [binary, path], first_line % path + "Couldn't open file %s\n" % path
                )


class StartupWindow(unittest.TestCase):
    """Successful start-ups: which file is loaded, the window title, and the
    first picture of the example terrain."""

    def setUp(self):
        self.server = harness.XServer("1024x768")
        self.addCleanup(self.server.close)
        self.tmp = tempfile.mkdtemp(prefix="voxscope-startup-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def launch(self, args, title, cwd=None):
        viewer = harness.Viewer(self.server, args, cwd=cwd)
        self.addCleanup(viewer.kill)
        wid = viewer.find_window(title)
        return viewer, wid

    def test_extra_arguments_are_ignored(self):
        first = os.path.join(self.tmp, "first.vxl")
        second = os.path.join(self.tmp, "second.vxl")
        # Two models that cannot be confused: pure red against pure green.
        harness.write_voxels(first, [(0, 0, 0, 255, 0, 0), (1, 0, 0, 255, 0, 0)])
        harness.write_voxels(second, [(0, 0, 0, 0, 255, 0), (0, 1, 0, 0, 255, 0)])
        missing = os.path.join(self.tmp, "missing.vxl")
        viewer, wid = self.launch(
            [harness.BINARY, "-geometry", "300x300+0+0", first, second, missing, "--junk"],
            harness.BINARY,
        )
        shot = harness.wait_for_frame(self.server, wid)
        colours = set(shot.colour_counts()) - {(0, 0, 0)}
        self.assertEqual(colours, {(255, 0, 0)}, "only the first file's red voxels should be drawn")
        self.assertTrue(viewer.running())
        self.assertEqual(viewer.stderr(), b"")
        self.assertEqual(viewer.stdout(), b"")

    def test_window_title_is_the_program_path_as_invoked(self):
        model = os.path.join(self.tmp, "one.vxl")
        harness.write_voxels(model, [(0, 0, 0, 200, 100, 50)])
        bindir, name = os.path.split(harness.BINARY)
        link_dir = os.path.join(self.tmp, "links")
        os.mkdir(link_dir)
        link = os.path.join(link_dir, "vx view")
        os.symlink(harness.BINARY, link)
        cases = [
            ("relative path", "./" + name, bindir),
            ("absolute path", harness.BINARY, None),
            ("relative symlink with a space in its name", "./vx view", link_dir),
            ("absolute symlink", link, None),
        ]
        for label, argv0, cwd in cases:
            with self.subTest(label):
                viewer, wid = self.launch([argv0, model], argv0, cwd=cwd)
                self.assertEqual(self.server.window_name(wid), argv0)
                # Exactly one window, and it is this one.
                self.assertEqual(self.server.visible_windows(), [wid])
                viewer.kill()
                harness.wait_until(
                    lambda: not self.server.visible_windows(),
                    harness.EXIT_DEADLINE,
                    message="the window to go away",
                )

    def test_terrain_first_picture(self):
        terrain = os.path.join(harness.EXAMPLES, "terrain.vxl")
        viewer, wid = self.launch(
            [harness.BINARY, "-geometry", "640x480+0+0", terrain], harness.BINARY
        )
        self.assertEqual(self.server.window_geometry(wid), (0, 0, 640, 480))
        shot = harness.wait_for_frame(self.server, wid)
        # The model is drawn in one frame (a display list); make sure the
        # picture is complete by waiting until it no longer changes.
        shot = harness.wait_for_stable(self.server, wid)
        png = os.path.join(os.getcwd(), "e2e-terrain.png")
        self.server.save_png(wid, png)
        print("terrain screenshot: %s" % png)

        self.assertEqual((shot.width, shot.height), (640, 480))
        total = shot.width * shot.height
        lit = shot.nonblack_count()
        self.assertGreater(lit / total, 0.15, "too little of the window shows the model")
        self.assertLess(lit / total, 0.9, "the model should not fill the whole window")

        families = {"green": 0, "blue": 0, "grey": 0, "brown": 0}
        for r, g, b in shot.pixels():
            if not (r or g or b):
                continue
            if max(r, g, b) - min(r, g, b) < 30:
                families["grey"] += 1
            elif g > r and g > b:
                families["green"] += 1
            elif b > r and b > g:
                families["blue"] += 1
            elif r >= g >= b:
                families["brown"] += 1
        share = {k: v / lit for k, v in families.items()}
        self.assertGreater(share["green"], 0.02, share)
        self.assertGreater(share["blue"], 0.01, share)
        self.assertGreater(share["grey"], 0.2, share)
        self.assertGreater(share["brown"], 0.02, share)

        # The framing puts the centre of the bounding box in the middle of the
        # window; the terrain is lumpy, so allow a tenth of the window.
        cx, cy = harness.bbox_centre(shot.bbox())
        self.assertAlmostEqual(cx, 320, delta=64)
        self.assertAlmostEqual(cy, 240, delta=48)
        self.assertTrue(viewer.running())
        self.assertEqual(viewer.stderr(), b"")


if __name__ == "__main__":
    harness.parse_args()
    unittest.main(verbosity=2)
