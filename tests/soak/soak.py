"""Soak test: tens of thousands of random real X events sent to the viewer on
a private Xvfb, then proof that it still answers as on its first frame.

    python3 tests/soak/soak.py --binary build-asan/voxscope [--seed N]
                               [--events 30000] [--seconds 150]

The events are pointer moves (inside the window, on its edges and far
outside it), presses and releases of the three buttons in every combination,
wheel notches, keys other than the quit keys (the zoom keys and space among
them) and window resizes down to a single pixel. They go out in batches, each
one xdotool command line, so thousands are sent per second; between batches
the viewer must still be running. Afterwards the window gets its first size
back, every button is let go, and space must give a picture identical to the
first frame; q must then end the viewer with status 0 and nothing on its
standard error, where the sanitizers of a sanitizer build would report.

The run is seeded: the seed is printed first, and --seed replays the same
events. --seconds bounds the sending; when it runs out first, the events sent
so far are reported and the checks still follow.
"""

import argparse
import os
import random
import shutil
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "e2e"))
import harness  # noqa: E402

SIZE = 300
BATCH = 400

# Keys with no binding, the zoom keys and space; never q, Q, Escape or Ctrl+Q.
KEYS = ["z", "Z", "space", "a", "x", "w", "1", "Return", "Tab", "BackSpace", "Left", "Up",
        "F1", "F5", "Home", "shift+z", "ctrl+z", "ctrl+a", "alt+x", "ctrl+space", "Delete",
        "shift", "ctrl", "minus", "plus", "period"]


def write_model(path):
    """A small block with a notch and a tower, every voxel its own bright
    colour, so that any change of view changes pixels."""
    voxels = []
    for x in range(-3, 4):
        for y in range(-2, 3):
            for z in range(0, 2):
                if (x, y) == (1, 1):
                    continue
                i = len(voxels)
                voxels.append((x, y, z, 60 + (i * 37) % 190, 60 + (i * 91) % 190, 60 + (i * 53) % 190))
    for z in range(2, 5):
        voxels.append((-3, -2, z, 250, 250, 40))
    harness.write_voxels(path, voxels)


class Events:
    """Draws random events and keeps track of the buttons held."""

    def __init__(self, rng, wid):
        self.rng = rng
        self.wid = wid
        self.held = set()
        self.size = (SIZE, SIZE)

    def point(self):
        w, h = self.size
        r = self.rng.random()
        if r < 0.8:  # inside the window
            return self.rng.randrange(max(w, 1)), self.rng.randrange(max(h, 1))
        if r < 0.9:  # on or just beyond its edges
            return self.rng.choice([0, w - 1, w, w + 1]), self.rng.choice([0, h - 1, h, h + 1])
        return self.rng.randrange(1024), self.rng.randrange(768)  # anywhere on the screen

    def next(self):
        """One event as xdotool arguments."""
        r = self.rng.random()
        if r < 0.55:
            x, y = self.point()
            return ["mousemove", x, y]
        if r < 0.75:
            button = self.rng.choice([1, 2, 3])
            if button in self.held:
                self.held.discard(button)
                return ["mouseup", button]
            self.held.add(button)
            return ["mousedown", button]
        if r < 0.85:  # a wheel notch (xdotool's click would wait 100 ms)
            button = self.rng.choice([4, 5])
            return ["mousedown", button, "mouseup", button]
        if r < 0.97:
            return ["key", "--delay", 0, self.rng.choice(KEYS)]
        w, h = self.rng.choice([(1, 1), (1, 300), (300, 1), (2, 2), (SIZE, SIZE), (640, 200),
                                (self.rng.randrange(1, 700), self.rng.randrange(1, 700))])
        self.size = (w, h)
        return ["windowsize", self.wid, w, h]

    def release_all(self):
        args = []
        for button in sorted(self.held):
            args += ["mouseup", button]
        self.held.clear()
        return args


def run(args):
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 31)
    print("soak: seed %d (replay with --seed %d)" % (seed, seed), flush=True)
    rng = random.Random(seed)
    harness.BINARY = os.path.abspath(args.binary)
    tmp = tempfile.mkdtemp(prefix="voxscope-soak-")
    server = harness.XServer("1024x768")
    viewer = None
    try:
        model = os.path.join(tmp, "block.vxl")
        write_model(model)
        viewer = harness.Viewer(server, [harness.BINARY, "-geometry", "%dx%d+0+0" % (SIZE, SIZE), model])
        wid = viewer.find_window(harness.BINARY)
        harness.wait_for_frame(server, wid)
        first = harness.wait_for_stable(server, wid)

        events = Events(rng, wid)
        sent = 0
        start = time.monotonic()
        while sent < args.events and time.monotonic() - start < args.seconds:
            batch = []
            for _ in range(min(BATCH, args.events - sent)):
                batch += events.next()
                sent += 1
            try:
                server.xdotool(*batch)
            except RuntimeError as e:
                # xdotool fails when the window it resizes is gone.
                if viewer.running():
                    raise
                viewer.wait(timeout=harness.EXIT_DEADLINE)
                raise AssertionError("%s; the viewer is gone" % str(e)[-300:]) from None
            if not viewer.running():
                raise AssertionError(
                    "viewer exited with status %s after %d events; stderr: %r"
                    % (viewer.proc.returncode, sent, viewer.stderr()))
        elapsed = time.monotonic() - start
        print("soak: %d events in %.1f s (%.0f per second)" % (sent, elapsed, sent / elapsed), flush=True)
        if sent < args.min_events:
            raise AssertionError("only %d events within %g s" % (sent, args.seconds))

        # Back to the first size, nothing held, pointer in the window; then
        # space must restore the first picture exactly.
        release = events.release_all()
        if release:
            server.xdotool(*release)
        server.xdotool("windowsize", wid, SIZE, SIZE)
        harness.wait_until(
            lambda: server.window_geometry(wid)[2:] == (SIZE, SIZE),
            harness.CHANGE_DEADLINE,
            message="the window to get its first size back",
        )
        server.xdotool("mousemove", SIZE // 2, SIZE // 2)
        server.xdotool("key", "space")
        try:
            harness.wait_for_picture(server, wid, first)
        except AssertionError:
            raise AssertionError("after space: %r, first frame: %r" % (server.screenshot(wid), first)) from None
        if not viewer.running():
            raise AssertionError("viewer exited after the events: %r" % viewer.stderr())
        server.xdotool("key", "q")
        status = viewer.wait()
        if status != 0:
            raise AssertionError("q ended the viewer with status %s (None: still running); stderr:\n%s"
                                 % (status, viewer.stderr().decode(errors="replace")))
        err = viewer.stderr()
        if err:
            raise AssertionError("the viewer wrote to stderr:\n%s" % err.decode(errors="replace"))
        print("soak: passed; space restored the first frame and q ended with status 0")
        return 0
    except AssertionError as e:
        print("soak: FAILED with seed %d: %s" % (seed, e), file=sys.stderr)
        if viewer is not None:
            print("soak: viewer status %s, stderr:\n%s" % (
                viewer.proc.poll(), viewer.stderr().decode(errors="replace")), file=sys.stderr)
        return 1
    finally:
        if viewer is not None:
            viewer.kill()
        server.close()
        shutil.rmtree(tmp, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--events", type=int, default=30000)
    parser.add_argument("--min-events", type=int, default=30000,
                        help="fail when the time runs out before this many were sent")
    parser.add_argument("--seconds", type=float, default=150.0)
    sys.exit(run(parser.parse_args()))


if __name__ == "__main__":
    main()
