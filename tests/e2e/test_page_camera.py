"""The web page's camera against the viewer's: one script of window events
(drags with each button combination, flung turns that spin, wheel steps,
keys, four window shapes) through the viewer's own camera code
(camera_trace, with the unit tests' fake window and clock) and through the
page's camera.js under node.

Step by step, each event taken from the viewer's state before it, the page
leaves the viewer's rotation, distance, spin and pointer to the float, and
its eye to the last bits (node's sines and exponentials, and GCC's
vectorised quaternion turn at -O3, may round the last bit of a double
otherwise). Over a whole session the two stay together within a
thousandth of the view's distance.

Takes --camera-trace PATH and --camera-js PATH.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CAMERA_TRACE = CAMERA_JS = None
RUN_TIMEOUT = 120
# Eye coordinates are held to this many float steps of the largest of the
# eye's coordinates and the distance: each is a sum of far larger terms,
# whose last bits may differ. Everything else must be the same float.
EYE_ULPS = 3
EYE, DISTANCE, SPINNING = slice(0, 3), 7, 8


def float_bits(value):
    """A float's position on the number line, in steps of one float."""
    (bits,) = struct.unpack("<i", struct.pack("<f", value))
    return bits if bits >= 0 else -(bits & 0x7FFFFFFF)


def script(seed, width, height):
    """A session of events, times in 256ths of a second so that both clocks
    hold them exactly."""
    rng = random.Random(seed)
    lines = ["size %d %d" % (width, height), "frame -0.5 0 -0.5 101.32673645019531"]
    t = 1000.0
    for _ in range(40):
        kind = rng.choice(["left", "left", "fling", "right", "middle", "both", "wheel", "key"])
        x, y = rng.randrange(width), rng.randrange(height)
        mask = {"left": 4, "fling": 4, "right": 1, "middle": 2, "both": 5}.get(kind, 0)
        if kind == "wheel":
            t += 0.5
            lines.append("wheel %d 0 %d %d %r" % (rng.choice([-2, -1, 1, 2, 4]), x, y, t))
            continue
        if kind == "key":
            t += 0.5
            lines.append("key %s %r" % (rng.choice(["z", "Z", "space", "z"]), t))
            continue
        t += 0.5
        lines.append("button %d %d %d %r" % (mask, x, y, t))
        for _ in range(rng.randrange(3, 12)):
            x = min(max(x + rng.randrange(-40, 41), -20), width + 20)
            y = min(max(y + rng.randrange(-40, 41), -20), height + 20)
            t += rng.choice([4, 8, 16, 64]) / 256.0
            lines.append("motion %d %d %d %r" % (mask, x, y, t))
        # A flung turn is let go at once and spins for a few idle steps.
        t += (1 if kind == "fling" else 96) / 256.0
        lines.append("button 0 %d %d %r" % (x, y, t))
        for _ in range(rng.randrange(1, 6)):
            t += 3 / 256.0
            lines.append("spin %r" % t)
    return "\n".join(lines) + "\n"


def run(args, text):
    done = subprocess.run(args, input=text.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    if done.returncode != 0:
        raise AssertionError("%s failed: %s" % (args[0], done.stderr.decode(errors="replace")))
    return done.stdout.decode()


def as_float(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def rows(output):
    """The numbers of each line; all but the last (the clock, a double)
    are floats, read to the float they print."""
    return [[as_float(float(v)) for v in line.split()[:-1]] + [float(line.split()[-1])]
            for line in output.splitlines()]


def ulp(value):
    """The spacing of floats at `value`."""
    bits = abs(float_bits(value))
    (next_up,) = struct.unpack("<f", struct.pack("<i", bits + 1))
    (here,) = struct.unpack("<f", struct.pack("<i", bits))
    return next_up - here


class PageCamera(unittest.TestCase):
    SHAPES = [(640, 480), (480, 640), (800, 600), (300, 301)]

    def traces(self, seed, width, height, step_by_step):
        text = script(seed, width, height)
        viewer_out = run([CAMERA_TRACE], text)
        args = ["node", os.path.join(HERE, "node", "camera_trace.js"), CAMERA_JS]
        if step_by_step:
            states = os.path.join(self.tmp, "states-%d" % seed)
            with open(states, "w") as f:
                f.write(viewer_out)
            args.append(states)
        viewer, page = rows(viewer_out), rows(run(args, text))
        self.assertEqual(len(viewer), len(page))
        # From the framing on: before it neither camera is set up.
        return list(zip(text.splitlines(), viewer, page))[1:]

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="voxscope-page-camera-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_each_event_leaves_the_viewers_camera(self):
        spun = 0
        for seed, (width, height) in enumerate(self.SHAPES):
            for event, a, b in self.traces(seed, width, height, step_by_step=True):
                spun += a[SPINNING]
                self.assertEqual(a[SPINNING], b[SPINNING], "spinning after %r" % event)
                scale = max(abs(v) for v in a[EYE] + [a[DISTANCE]])
                for k, (u, v) in enumerate(zip(a, b)):
                    close = abs(u - v) <= EYE_ULPS * ulp(scale) if k in range(3) else u == v
                    self.assertTrue(close, "value %d after %r: %r against %r" % (k, event, a, b))
        self.assertGreater(spun, 0)  # the scripts did fling the model

    def test_a_whole_session_stays_with_the_viewer(self):
        for seed, (width, height) in enumerate(self.SHAPES):
            for event, a, b in self.traces(seed, width, height, step_by_step=False):
                self.assertEqual(a[SPINNING], b[SPINNING], "spinning after %r" % event)
                for k in range(3):
                    self.assertLess(abs(a[k] - b[k]), 1e-3 * a[DISTANCE], event)
                for k in range(3, 8):
                    self.assertLess(abs(a[k] - b[k]), 1e-3 * max(1.0, abs(a[k])), event)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--camera-trace", required=True)
    parser.add_argument("--camera-js", required=True)
    args, rest = parser.parse_known_args()
    CAMERA_TRACE, CAMERA_JS = os.path.abspath(args.camera_trace), os.path.abspath(args.camera_js)
    sys.argv = [sys.argv[0]] + rest
    unittest.main()
