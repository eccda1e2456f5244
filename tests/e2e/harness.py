"""Helpers for the end-to-end tests: a private X server, the viewer process
with a deadline on everything, its window, screenshots read as PPM, and a few
measurements on pictures and processes.

Each test module calls `parse_args()` before `unittest.main()`; it takes
`--binary PATH` (the built viewer) and `--examples DIR` off the command line
and leaves the rest to unittest.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xvfb  # noqa: E402  (tests/xvfb.py)

BINARY = None
EXAMPLES = None

# Deadlines, in seconds. They are generous so that a loaded 2-core machine
# passes; a test only waits that long when something is wrong.
WINDOW_DEADLINE = 30.0
FRAME_DEADLINE = 30.0
EXIT_DEADLINE = 15.0
CHANGE_DEADLINE = 15.0
STABLE_DEADLINE = 20.0
COMMAND_TIMEOUT = 20.0


def parse_args(extra=()):
    """Takes --binary and --examples, and the test's own options `extra`
    ((flag, required) pairs; required None for a --flag / --no-flag switch,
    on by default), off the command line; returns them all."""
    global BINARY, EXAMPLES
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--binary", required=True)
    parser.add_argument("--examples", default=None)
    for flag, required in extra:
        if required is None:  # an on/off pair: --name and --no-name
            parser.add_argument(flag, action=argparse.BooleanOptionalAction, default=True)
        else:
            parser.add_argument(flag, required=required, default=None)
    args, rest = parser.parse_known_args()
    BINARY = os.path.abspath(args.binary)
    EXAMPLES = os.path.abspath(args.examples) if args.examples else None
    sys.argv = [sys.argv[0]] + rest
    return args


class ScratchCase(unittest.TestCase):
    """A test class with a scratch folder of its own, `cls.tmp`, removed with
    all it holds after the class's tests; PREFIX names it."""

    PREFIX = "voxscope-e2e-"

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix=cls.PREFIX)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)


def wait_until(predicate, timeout, interval=0.05, message="condition"):
    """Calls `predicate` until it returns something true and returns that;
    raises AssertionError when `timeout` seconds pass first."""
    end = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= end:
            raise AssertionError("timed out after %gs waiting for %s" % (timeout, message))
        time.sleep(interval)


class XServer:
    """A private Xvfb; use as a context manager or call close()."""

    def __init__(self, size="1024x768"):
        self.proc, self.display = xvfb.start(size)
        self.env = dict(os.environ, DISPLAY=self.display)

    def close(self):
        if self.proc is not None:
            xvfb.stop(self.proc)
            self.proc = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def run(self, args, timeout=COMMAND_TIMEOUT, check=True):
        """Runs a helper command (xdotool, import, ...) on this display."""
        done = subprocess.run(
            args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout
        )
        if check and done.returncode != 0:
            raise RuntimeError(
                "%s failed (%d): %s" % (" ".join(args), done.returncode, done.stderr.decode(errors="replace"))
            )
        return done

    def xdotool(self, *args, check=True):
        return self.run(["xdotool"] + [str(a) for a in args], check=check)

    def visible_windows(self):
        done = self.xdotool("search", "--onlyvisible", "--name", ".", check=False)
        return done.stdout.decode().split()

    def window_name(self, wid):
        done = self.xdotool("getwindowname", wid, check=False)
        return done.stdout.decode().rstrip("\n") if done.returncode == 0 else None

    def find_window(self, title, timeout=WINDOW_DEADLINE, proc=None):
        """Waits for a visible window whose name is exactly `title`; returns its id.
        Fails early when `proc` has exited."""

        def found():
            if proc is not None and proc.poll() is not None:
                raise AssertionError("viewer exited with status %s before its window appeared" % proc.returncode)
            for wid in self.visible_windows():
                if self.window_name(wid) == title:
                    return wid
            return None

        try:
            return wait_until(found, timeout, interval=0.1, message="a window named %r" % title)
        except AssertionError as e:
            names = [self.window_name(wid) for wid in self.visible_windows()]
            raise AssertionError("%s (visible windows: %r)" % (e, names)) from None

    def window_geometry(self, wid):
        """(x, y, width, height) of the window on the screen."""
        out = self.xdotool("getwindowgeometry", "--shell", wid).stdout.decode()
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def screenshot(self, wid):
        # -depth 8: without it ImageMagick sometimes writes 16-bit samples.
        return Image.from_ppm(self.run(["import", "-window", str(wid), "-depth", "8", "ppm:-"]).stdout)

    def save_png(self, wid, path):
        self.run(["import", "-window", str(wid), "png:" + path])


class Viewer:
    """The viewer process. stdout and stderr go to files so that a chatty or
    stuck process can never block on a full pipe."""

    def __init__(self, server, args, cwd=None, executable=None, tmpdir=None):
        import tempfile

        self.server = server
        self._dir = tempfile.mkdtemp(prefix="voxscope-e2e-", dir=tmpdir)
        self._out = open(os.path.join(self._dir, "stdout"), "w+b")
        self._err = open(os.path.join(self._dir, "stderr"), "w+b")
        self.proc = subprocess.Popen(
            list(args),
            executable=executable,
            cwd=cwd,
            env=server.env,
            stdin=subprocess.DEVNULL,
            stdout=self._out,
            stderr=self._err,
        )
        self.pid = self.proc.pid

    def find_window(self, title, timeout=WINDOW_DEADLINE):
        """Waits for this viewer's window (named `title`); returns its id."""
        try:
            return self.server.find_window(title, timeout=timeout, proc=self.proc)
        except AssertionError as e:
            raise AssertionError("%s; stderr: %r" % (e, self.stderr())) from None

    def wait(self, timeout=EXIT_DEADLINE):
        """Waits for the exit and returns the status; None when still running
        after `timeout`."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.proc.poll() is None

    def stdout(self):
        self._out.flush()
        with open(self._out.name, "rb") as f:
            return f.read()

    def stderr(self):
        self._err.flush()
        with open(self._err.name, "rb") as f:
            return f.read()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        self._out.close()
        self._err.close()
        import shutil

        shutil.rmtree(self._dir, ignore_errors=True)


def run_to_exit(server, args, timeout=EXIT_DEADLINE, cwd=None):
    """Runs the viewer expecting it to exit by itself. Returns
    (status, stdout, stderr, windows_seen); status None means it was still
    running at the deadline (it is killed then). While it runs the visible
    windows of the display are polled and every title seen is collected."""
    viewer = Viewer(server, args, cwd=cwd)
    seen = set()
    try:
        end = time.monotonic() + timeout
        while viewer.running() and time.monotonic() < end:
            for wid in server.visible_windows():
                seen.add(server.window_name(wid))
            time.sleep(0.02)
        status = viewer.wait(timeout=0)
        return status, viewer.stdout(), viewer.stderr(), seen
    finally:
        viewer.kill()


class Image:
    """A 24-bit RGB picture, rows top to bottom."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.data = data

    @staticmethod
    def from_ppm(blob):
        # P6 header: magic, width, height, maxval, each separated by white
        # space (with optional # comments), then exactly one white-space byte.
        fields = []
        pos = 0
        while len(fields) < 4:
            while blob[pos : pos + 1].isspace():
                pos += 1
            if blob[pos : pos + 1] == b"#":
                while blob[pos : pos + 1] not in (b"\n", b""):
                    pos += 1
                continue
            start = pos
            while not blob[pos : pos + 1].isspace():
                pos += 1
            fields.append(blob[start:pos])
        pos += 1
        if fields[0] != b"P6":
            raise ValueError("not a binary PPM: %r" % fields[0])
        width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
        if maxval != 255:
            raise ValueError("unexpected PPM maxval %d" % maxval)
        data = blob[pos : pos + 3 * width * height]
        if len(data) != 3 * width * height:
            raise ValueError("truncated PPM")
        return Image(width, height, data)

    def __eq__(self, other):
        if not isinstance(other, Image):
            return NotImplemented
        return (self.width, self.height, self.data) == (other.width, other.height, other.data)

    def __ne__(self, other):
        equal = self.__eq__(other)
        return equal if equal is NotImplemented else not equal

    __hash__ = None

    def __repr__(self):
        import zlib

        return "<Image %dx%d, non-black box %s, crc %08x>" % (
            self.width, self.height, self.bbox(), zlib.crc32(self.data))

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i : i + 3])

    def pixels(self):
        d = self.data
        for i in range(0, len(d), 3):
            yield d[i], d[i + 1], d[i + 2]

    def is_black(self):
        return not any(self.data)

    def nonblack_count(self):
        d = self.data
        return sum(1 for i in range(0, len(d), 3) if d[i] or d[i + 1] or d[i + 2])

    def bbox(self):
        """(left, top, right, bottom) of the non-black pixels, right and bottom
        exclusive; None for an all-black picture."""
        w, h, d = self.width, self.height, self.data
        row_bytes = 3 * w
        zero_row = bytes(row_bytes)
        rows = [y for y in range(h) if d[y * row_bytes : (y + 1) * row_bytes] != zero_row]
        if not rows:
            return None
        left, right = w, 0
        for y in rows:
            row = d[y * row_bytes : (y + 1) * row_bytes]
            for x in range(w):
                if row[3 * x] or row[3 * x + 1] or row[3 * x + 2]:
                    left = min(left, x)
                    break
            for x in range(w - 1, -1, -1):
                if row[3 * x] or row[3 * x + 1] or row[3 * x + 2]:
                    right = max(right, x + 1)
                    break
        return left, rows[0], right, rows[-1] + 1

    def colour_counts(self):
        counts = {}
        for p in self.pixels():
            counts[p] = counts.get(p, 0) + 1
        return counts

    def mean_colour(self):
        n = self.width * self.height
        d = self.data
        return tuple(sum(d[c::3]) / n for c in range(3))

    def diff_count(self, other):
        """Number of pixels that differ (the pictures must have one size)."""
        if (self.width, self.height) != (other.width, other.height):
            raise ValueError("pictures of different sizes")
        a, b = self.data, other.data
        return sum(1 for i in range(0, len(a), 3) if a[i : i + 3] != b[i : i + 3])


def bbox_centre(box):
    left, top, right, bottom = box
    return (left + right) / 2.0, (top + bottom) / 2.0


def wait_for_frame(server, wid, timeout=FRAME_DEADLINE):
    """Waits until the window shows something other than black (the first
    frame is drawn, so the window is mapped and takes input); returns it."""
    return wait_until(
        lambda: (lambda shot: shot if not shot.is_black() else None)(server.screenshot(wid)),
        timeout,
        message="a first frame that is not all black",
    )


def wait_for_change(server, wid, reference, timeout=CHANGE_DEADLINE):
    """Waits until the picture differs from `reference`; returns the new one."""
    return wait_until(
        lambda: (lambda shot: shot if shot != reference else None)(server.screenshot(wid)),
        timeout,
        message="the picture to change",
    )


def wait_for_stable(server, wid, timeout=STABLE_DEADLINE, repeats=3, gap=0.1):
    """Waits until `repeats` screenshots in a row, taken at least `gap` seconds
    apart, are identical; returns that picture."""
    state = {"last": None, "same": 0}

    def stable():
        shot = server.screenshot(wid)
        if shot == state["last"]:
            state["same"] += 1
        else:
            state["last"], state["same"] = shot, 1
        return shot if state["same"] >= repeats else None

    return wait_until(stable, timeout, interval=gap, message="the picture to stay still")


def wait_for_picture(server, wid, expected, timeout=CHANGE_DEADLINE):
    """Waits until the picture equals `expected`; returns True, or raises."""
    return wait_until(
        lambda: server.screenshot(wid) == expected, timeout, message="the expected picture"
    )


def cpu_seconds(pid):
    """utime + stime of the process (all its threads), in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        stat = f.read()
    # The command name in parentheses may contain spaces; fields after it
    # start at the state field (field 3). utime and stime are fields 14, 15.
    fields = stat[stat.rindex(")") + 2 :].split()
    ticks = int(fields[11]) + int(fields[12])
    return ticks / os.sysconf("SC_CLK_TCK")


def write_voxels(path, voxels, size=1.0, count=None):
    """Writes a voxel file: `voxels` is a list of (x, y, z, r, g, b)."""
    with open(path, "w") as f:
        f.write("%d %g\n" % (len(voxels) if count is None else count, size))
        for v in voxels:
            f.write("%g %g %g %d %d %d\n" % tuple(v))
