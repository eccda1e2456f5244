"""Navigation with real X input: turning, flinging, panning, zooming, the
reset, the quit keys, keys that do nothing, and the cost of a view at rest.

Every test starts its own X server and viewer on a small test model: a flat
letter F of 5 x 5 unit voxels in the plane z = 0, each voxel its own colour.
The window is 400 x 400 at the top-left corner of the screen (there is no
window manager), so screen and window coordinates are the same.

Sizes on screen are predicted from the framing: the model's bounding box is
x, y in [-2, 2] (voxel centres), so the framing extent is
sqrt(4^2 + 4^2) + 2.828 * 1 and the eye starts 2 * extent in front of the
centre. The frustum spans 0.35355339 * depth across the window's
half-diagonal, so in a 400 x 400 window one unit at depth d covers 800 / d
pixels. The visible outline is the front faces, at z = +0.5.
"""

import math
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SIZE = 400
CENTRE = SIZE // 2
F_GLYPH = ["#####", "#....", "####.", "#....", "#...."]
EXTENT = math.sqrt(4 * 4 + 4 * 4) + 2.828
START_DISTANCE = 2 * EXTENT
ZOOM_IN_STEP = math.exp(-2.25 * 0.05)  # distance factor of one step in
ZOOM_OUT_STEP = math.exp(2.25 * 0.05)


def predicted_width(distance_factor=1.0):
    """Pixel width of the 5-unit-wide F seen from the start direction with the
    eye at `distance_factor` times the start distance from its centre."""
    return 5 * 800.0 / (distance_factor * START_DISTANCE - 0.5)


def f_voxels():
    voxels = []
    for row, line in enumerate(F_GLYPH):
        for col, cell in enumerate(line):
            if cell == "#":
                i = len(voxels)
                # Bright, distinct colours, none of them near black.
                colour = (80 + (i * 67) % 176, 80 + (i * 113) % 176, 80 + (i * 151) % 176)
                voxels.append((col - 2, 2 - row, 0) + colour)
    return voxels


def f_corners():
    """The corners of every voxel's cube of the F, about its centre."""
    return [
        (x + dx, y + dy, dz)
        for x, y, _, _, _, _ in f_voxels()
        for dx in (-0.5, 0.5)
        for dy in (-0.5, 0.5)
        for dz in (-0.5, 0.5)
    ]


def predicted_bbox(turn, distance_factor):
    """(left, top, right, bottom) on screen of the F turned by `turn` radians
    about the vertical axis through its centre, the eye level with that centre
    at `distance_factor` times the start distance from it."""
    c, s = math.cos(turn), math.sin(turn)
    depth0 = distance_factor * START_DISTANCE
    xs, ys = [], []
    for x, y, z in f_corners():
        depth = depth0 - (z * c - x * s)
        xs.append(CENTRE + 800.0 * (x * c + z * s) / depth)
        ys.append(CENTRE - 800.0 * y / depth)
    return min(xs), min(ys), max(xs), max(ys)


def turned_fit(box, distance_factor, steps=1440):
    """How well the outline `box` is that of the F turned by some angle about
    its vertical axis and seen from `distance_factor` times the start
    distance: the least, over the angles, of the largest amount by which an
    edge misses its prediction beyond 2 px plus 1 % of its distance from the
    centre (at most 0 when it fits); and that angle."""
    best = None
    for i in range(steps):
        turn = 2 * math.pi * i / steps
        miss = max(
            abs(measured - predicted) - (2 + 0.01 * abs(predicted - CENTRE))
            for measured, predicted in zip(box, predicted_bbox(turn, distance_factor))
        )
        if best is None or miss < best[0]:
            best = (miss, turn)
    return best


def width(shot):
    left, _, right, _ = shot.bbox()
    return right - left


class Navigation(unittest.TestCase):
    def setUp(self):
        self.server = harness.XServer("1024x768")
        self.addCleanup(self.server.close)
        self.tmp = tempfile.mkdtemp(prefix="voxscope-nav-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.model = os.path.join(self.tmp, "f.vxl")
        harness.write_voxels(self.model, f_voxels())

    def start_viewer(self):
        """Starts the viewer; returns (viewer, window id, first frame) once the
        first frame is on screen, so input is no longer lost."""
        viewer = harness.Viewer(
            self.server,
            [harness.BINARY, "-geometry", "%dx%d+0+0" % (SIZE, SIZE), self.model],
        )
        self.addCleanup(viewer.kill)
        wid = viewer.find_window(harness.BINARY)
        self.assertEqual(self.server.window_geometry(wid), (0, 0, SIZE, SIZE))
        harness.wait_for_frame(self.server, wid)
        first = harness.wait_for_stable(self.server, wid)
        # The keyboard goes to the window under the pointer (no window
        # manager); moving the pointer with no button held reaches nothing.
        self.server.xdotool("mousemove", CENTRE, CENTRE)
        self.server.xdotool("windowfocus", wid)
        return viewer, wid, first

    # Gestures. Each xdotool command line is one uninterrupted gesture.

    def press_and_move(self, button, start, points):
        args = ["mousemove", start[0], start[1], "mousedown", button]
        for x, y in points:
            args += ["mousemove", x, y]
        self.server.xdotool(*args)

    def slow_turn(self, wid, before, start=(140, CENTRE), points=((160, CENTRE), (180, CENTRE), (200, CENTRE))):
        """Left drag, then the pointer rests before the button is let go, so
        the turn must not carry on. Returns the picture at the release."""
        self.press_and_move(1, start, points)
        moved_at = time.monotonic()
        harness.wait_for_change(self.server, wid, before)
        turned = harness.wait_for_stable(self.server, wid)
        # A user's pointer rests a moment before letting go; 0.5 s is well past
        # the 0.2 s after which a release no longer starts a spin.
        rest = 0.5 - (time.monotonic() - moved_at)
        if rest > 0:
            time.sleep(rest)
        self.server.xdotool("mouseup", 1)
        return turned

    def fling(self):
        """A left drag let go while the pointer is still moving."""
        self.server.xdotool(
            "mousemove", 120, CENTRE, "mousedown", 1,
            "mousemove", 150, CENTRE, "mousemove", 180, CENTRE, "mousemove", 210, CENTRE,
            "mousemove", 240, CENTRE, "mousemove", 270, CENTRE, "mouseup", 1,
        )

    def assertKeepsChanging(self, wid, shots=6, gap=0.1):
        previous = self.server.screenshot(wid)
        for i in range(shots):
            time.sleep(gap)  # spacing between samples of a moving picture
            shot = self.server.screenshot(wid)
            self.assertNotEqual(shot, previous, "the picture stopped changing at sample %d" % i)
            previous = shot

    def assertWidth(self, shot, expected, what):
        measured = width(shot)
        self.assertAlmostEqual(
            measured, expected, delta=2 + 0.01 * expected,
            msg="%s: model is %d px wide, expected %.1f" % (what, measured, expected),
        )

    # Tests.

    def test_first_frame_is_framed(self):
        _, _, first = self.start_viewer()
        left, top, right, bottom = first.bbox()
        self.assertWidth(first, predicted_width(), "start view")
        self.assertAlmostEqual(bottom - top, predicted_width(), delta=2 + 0.01 * predicted_width())
        self.assertAlmostEqual((left + right) / 2, CENTRE, delta=1.5)
        self.assertAlmostEqual((top + bottom) / 2, CENTRE, delta=1.5)
        # Seen from +z with y up: the F's full-width bar is at the top and its
        # stem on the left, so the top-right and bottom-right are empty.
        self.assertNotEqual(first.pixel(right - 3, top + 3), (0, 0, 0))
        self.assertEqual(first.pixel(right - 3, bottom - 3), (0, 0, 0))
        self.assertNotEqual(first.pixel(left + 3, bottom - 3), (0, 0, 0))

    def test_slow_left_drag_turns_then_rests(self):
        viewer, wid, first = self.start_viewer()
        turned = self.slow_turn(wid, first)
        self.assertNotEqual(turned, first)
        # Dragging right turns the model's front to the right about the vertical
        # axis: the left edge comes nearer and the right edge goes away, so
        # the outline narrows and reaches farther left of centre than right.
        left, _, right, _ = turned.bbox()
        self.assertLess(right - left, width(first) - 10)
        self.assertGreater(CENTRE - left, (right - CENTRE) + 5)
        rested = harness.wait_for_stable(self.server, wid, repeats=5)
        self.assertEqual(rested, turned, "the release moved the view")
        self.assertTrue(viewer.running())

    def test_release_without_its_press_does_not_break_turning(self):
        # A left button pressed outside the window (on the bare root, which no
        # client listens to) and let go over it: the window sees the release
        # alone. The held-button state must stay right, so a later drag still
        # turns the model.
        viewer, wid, first = self.start_viewer()
        self.server.xdotool("mousemove", SIZE + 200, SIZE + 100, "mousedown", 1,
                            "mousemove", CENTRE, CENTRE, "mouseup", 1)
        # The stray release only re-measures the pivot; nothing is redrawn.
        self.assertEqual(harness.wait_for_stable(self.server, wid), first)
        turned = self.slow_turn(wid, first)
        self.assertLess(width(turned), width(first) - 10, "the drag did not turn the model")
        self.assertTrue(viewer.running())

    def test_fling_spins_until_click(self):
        viewer, wid, first = self.start_viewer()
        self.fling()
        harness.wait_for_change(self.server, wid, first)
        self.assertKeepsChanging(wid)
        self.server.xdotool("click", 1)
        stopped = harness.wait_for_stable(self.server, wid, repeats=5)
        self.assertNotEqual(stopped, first)
        self.assertTrue(viewer.running())

    def test_fling_spin_is_stopped_by_the_wheel(self):
        _, wid, first = self.start_viewer()
        self.fling()
        harness.wait_for_change(self.server, wid, first)
        self.assertKeepsChanging(wid, shots=3)
        self.server.xdotool("click", 5)
        stopped = harness.wait_for_stable(self.server, wid, repeats=5)
        self.assertEqual(
            harness.wait_for_stable(self.server, wid, repeats=5), stopped,
            "the picture moved again after the wheel stopped the spin",
        )
        # The fling's release re-measured the pivot at the model's centre, so
        # the spin turned the F about its vertical axis by an angle the test
        # cannot know; the notch's press and release each zoomed one step in
        # about that centre. Whatever the angle, the outline is the F turned
        # by some angle and seen from two steps in, and by no angle from no
        # step, one or three.
        box = stopped.bbox()
        miss, turn = turned_fit(box, ZOOM_IN_STEP ** 2)
        self.assertLessEqual(
            miss, 0,
            "outline %s is no turn of the F two steps in (closest: %.1f degrees, "
            "%s, %.1f px beyond tolerance)"
            % (box, math.degrees(turn), predicted_bbox(turn, ZOOM_IN_STEP ** 2), miss),
        )
        for factor, what in ((1.0, "no step"), (ZOOM_IN_STEP, "one step"), (ZOOM_IN_STEP ** 3, "three steps")):
            self.assertGreater(
                turned_fit(box, factor)[0], 0, "outline %s fits %s in as well" % (box, what)
            )

    def test_right_drag_pans_with_the_pointer(self):
        _, wid, first = self.start_viewer()
        dx, dy = 40, 30  # pointer displacement, right and down
        self.press_and_move(3, (CENTRE, CENTRE), [(CENTRE + dx, CENTRE + dy)])
        self.server.xdotool("mouseup", 3)
        harness.wait_for_change(self.server, wid, first)
        panned = harness.wait_for_stable(self.server, wid)
        l0, t0, r0, b0 = first.bbox()
        l1, t1, r1, b1 = panned.bbox()
        # One normalised pointer unit (half the shorter window side) moves the
        # eye by 0.35355339 * distance, which is the window's half-diagonal at
        # the pivot depth; the front faces lie 0.5 nearer than the pivot.
        gain = (math.hypot(SIZE, SIZE) / SIZE) * START_DISTANCE / (START_DISTANCE - 0.5)
        for name, moved, expected in (
            ("left", l1 - l0, dx * gain), ("right", r1 - r0, dx * gain),
            ("top", t1 - t0, dy * gain), ("bottom", b1 - b0, dy * gain),
        ):
            self.assertAlmostEqual(
                moved, expected, delta=2 + 0.05 * expected,
                msg="%s edge moved %d px, expected %.1f" % (name, moved, expected),
            )

    def test_wheel_notch_zooms_two_steps(self):
        _, wid, first = self.start_viewer()
        self.assertWidth(first, predicted_width(), "start view")
        # X button 5 (wheel down) is GLUT's button 4, zoom in; the notch is a
        # press and a release, each a step.
        self.server.xdotool("click", 5)
        harness.wait_for_change(self.server, wid, first)
        zoomed_in = harness.wait_for_stable(self.server, wid)
        self.assertWidth(zoomed_in, predicted_width(ZOOM_IN_STEP ** 2), "one notch in")

        self.server.xdotool("key", "space")
        harness.wait_for_picture(self.server, wid, first)

        self.server.xdotool("click", 4)
        harness.wait_for_change(self.server, wid, first)
        zoomed_out = harness.wait_for_stable(self.server, wid)
        self.assertWidth(zoomed_out, predicted_width(ZOOM_OUT_STEP ** 2), "one notch out")

    def test_zoom_keys_zoom_one_step(self):
        _, wid, first = self.start_viewer()
        for key, factor in (("z", ZOOM_IN_STEP), ("Z", ZOOM_OUT_STEP)):
            with self.subTest(key):
                self.server.xdotool("key", key)
                harness.wait_for_change(self.server, wid, first)
                shot = harness.wait_for_stable(self.server, wid)
                self.assertWidth(shot, predicted_width(factor), "key %s" % key)
                # Zooming keeps the pivot, the model's centre, in the middle.
                left, top, right, bottom = shot.bbox()
                self.assertAlmostEqual((left + right) / 2, CENTRE, delta=1.5)
                self.assertAlmostEqual((top + bottom) / 2, CENTRE, delta=1.5)
                self.server.xdotool("key", "space")
                harness.wait_for_picture(self.server, wid, first)

    def test_space_restores_the_first_view(self):
        _, wid, first = self.start_viewer()
        turned = self.slow_turn(wid, first)
        self.press_and_move(3, (CENTRE, CENTRE), [(CENTRE - 30, CENTRE + 20)])
        self.server.xdotool("mouseup", 3)
        panned = harness.wait_for_change(self.server, wid, turned)
        self.server.xdotool("key", "z")
        zoomed = harness.wait_for_change(self.server, wid, panned)
        self.server.xdotool("mousemove", CENTRE, CENTRE, "click", 5)
        harness.wait_for_change(self.server, wid, zoomed)
        harness.wait_for_stable(self.server, wid)
        self.server.xdotool("key", "space")
        harness.wait_for_picture(self.server, wid, first)

        with self.subTest("space also stops a spin"):
            self.fling()
            harness.wait_for_change(self.server, wid, first)
            self.assertKeepsChanging(wid, shots=3)
            self.server.xdotool("key", "space")
            self.assertEqual(harness.wait_for_stable(self.server, wid, repeats=5), first)

    def test_quit_keys_exit_at_once(self):
        for key in ("q", "Q", "Escape", "ctrl+q"):
            with self.subTest(key):
                viewer, wid, _ = self.start_viewer()
                self.server.xdotool("key", key)
                status = viewer.wait(harness.EXIT_DEADLINE)
                self.assertEqual(status, 0, "status after %s (None: still running)" % key)
                self.assertEqual(viewer.stderr(), b"")
                self.assertEqual(viewer.stdout(), b"")
                harness.wait_until(
                    lambda: not self.server.visible_windows(),
                    harness.EXIT_DEADLINE,
                    message="the window to go away",
                )

    def test_other_keys_change_nothing(self):
        viewer, wid, first = self.start_viewer()
        # Keys are handled in order, so once the z that follows them has
        # changed the picture, the keys before it have been handled too.
        self.server.xdotool("key", "a", "x", "Left", "F1", "Tab", "z")
        after_keys = harness.wait_for_change(self.server, wid, first)
        after_keys = harness.wait_for_stable(self.server, wid)
        self.assertTrue(viewer.running())
        self.server.xdotool("key", "space")
        harness.wait_for_picture(self.server, wid, first)
        self.server.xdotool("key", "z")
        harness.wait_for_change(self.server, wid, first)
        only_z = harness.wait_for_stable(self.server, wid)
        self.assertEqual(after_keys, only_z, "a key without a binding changed the view")
        self.assertTrue(viewer.running())
        self.assertEqual(viewer.stderr(), b"")

    def test_idle_view_costs_almost_no_cpu(self):
        viewer, _, _ = self.start_viewer()
        cpu0, wall0 = harness.cpu_seconds(viewer.pid), time.monotonic()
        time.sleep(3.0)  # the measurement window itself, not a wait for a state
        cpu1, wall1 = harness.cpu_seconds(viewer.pid), time.monotonic()
        share = (cpu1 - cpu0) / (wall1 - wall0)
        self.assertLess(share, 0.05, "the viewer at rest used %.1f%% of a core" % (100 * share))
        self.assertTrue(viewer.running())


if __name__ == "__main__":
    harness.parse_args()
    unittest.main(verbosity=2)
