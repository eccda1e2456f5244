"""Resizing the window, down to a few pixels, mixed with wheel steps: every
wheel step with no button held re-measures the pivot from the depth of the
last frame. Reading that depth from the mouse event after a resize once
crashed the software rasteriser; the viewer must come through any number of
such storms and still answer: space gives back the first picture and q ends
it with status 0."""

import os
import random
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SIZE = 300
MODEL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile", "reference_pair.vxl")


class ResizeStorm(unittest.TestCase):
    def test_resizes_and_wheel_steps(self):
        rng = random.Random(20261208)
        with harness.XServer("1024x768") as server:
            viewer = harness.Viewer(
                server, [harness.BINARY, "-geometry", "%dx%d+0+0" % (SIZE, SIZE), MODEL],
                tmpdir=tempfile.gettempdir())
            self.addCleanup(viewer.kill)
            wid = viewer.find_window(harness.BINARY)
            harness.wait_for_frame(server, wid)
            first = harness.wait_for_stable(server, wid)
            sizes = [(1, 1), (2, 2), (4, 4), (3, 700), (700, 2), (SIZE, SIZE), (700, 700)]
            for storm in range(150):
                args = []
                for _ in range(40):
                    w, h = rng.choice(sizes)
                    args += ["windowsize", wid, w, h,
                             "mousemove", rng.randrange(w), rng.randrange(h),
                             "mousedown", rng.choice([4, 5]), "mouseup", rng.choice([4, 5])]
                done = server.xdotool(*args, check=False)
                self.assertTrue(viewer.running(), "viewer gone after storm %d; stderr: %r"
                                % (storm, viewer.stderr()))
                self.assertEqual(done.returncode, 0, done.stderr)
            server.xdotool("windowsize", wid, SIZE, SIZE)
            harness.wait_until(lambda: server.window_geometry(wid)[2:] == (SIZE, SIZE),
                               harness.CHANGE_DEADLINE, message="the first window size")
            server.xdotool("mousemove", SIZE // 2, SIZE // 2)
            server.xdotool("key", "space")
            harness.wait_for_picture(server, wid, first)
            server.xdotool("key", "q")
            self.assertEqual(viewer.wait(), 0)
            self.assertEqual(viewer.stderr(), b"")


if __name__ == "__main__":
    harness.parse_args()
    unittest.main(verbosity=2)
