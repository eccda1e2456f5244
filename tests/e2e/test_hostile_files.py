"""The catalogue of hostile files, each opened by the real viewer: damaged,
enormous or oddly written files, odd numbers, things that are not files at
all, and awkward paths. Every one ends either in the loader's line, the
"Couldn't open file" line and status 1, promptly and without a window, or in
a window showing the picture the file describes, which q then closes with
status 0. Nothing crashes, hangs or takes memory the data does not back.

The files live in tests/e2e/hostile/ (the loader's fuzzing corpus keeps
copies as seeds); FIFOs and awkward paths are made at run time.
"""

import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

HOSTILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile")
SIZE = 200
RED, GREEN = (255, 0, 0), (0, 255, 0)

ERROR_READING = "Error reading %s\n"

# file -> expected outcome:
#   ("refused", first line)    the loader's line (with %s for the path), then
#                              "Couldn't open file", status 1, no window
#   ("picture", colours)       a window showing exactly these colours on black
#   ("black", why)             a window that shows nothing, and why that is right
#   ("same as", other file)    a window whose picture equals the other file's
CATALOGUE = {
    # Nothing, or not enough, to read.
    "empty.vxl": ("refused", ERROR_READING),
    "header_without_size.vxl": ("refused", ERROR_READING),
    "header_only.vxl": ("refused", ERROR_READING),
    "header_only_zero.vxl": ("black", "a count of 0 is a complete, empty model"),
    # Bytes that are not text.
    "binary_garbage.vxl": ("refused", ERROR_READING),
    "nul_bytes.vxl": ("refused", ERROR_READING),
    "nul_inside_number.vxl": ("refused", ERROR_READING),
    "utf16.vxl": ("refused", ERROR_READING),
    "nul_after_data.vxl": ("picture", {RED}),  # nothing after the last voxel is read
    # Counts.
    "count_minus_one.vxl": ("refused", "Negative voxel count -1 in %s\n"),
    "count_zero.vxl": ("black", "count 0 reads no voxel, whatever follows"),
    # A count no file of this size can hold: the data would run out first.
    "count_int_max.vxl": ("refused", ERROR_READING),
    # %d keeps the low 32 bits of a number too long for it, as the C library does.
    "count_past_int_max.vxl": ("refused", "Negative voxel count -2147483648 in %s\n"),
    "count_far_beyond_data.vxl": ("refused", ERROR_READING),
    "count_one_beyond_data.vxl": ("refused", ERROR_READING),
    # Numbers written in odd but valid ways.
    "numbers_glued.vxl": ("picture", {RED, GREEN}),
    "numbers_split.vxl": ("same as", "numbers_glued.vxl"),
    "numbers_odd_forms.vxl": ("same as", "numbers_glued.vxl"),
    # Blue written with a fraction keeps its integer part; the .5 would be the
    # next voxel's x, and there is none.
    "colour_with_fraction.vxl": ("picture", {RED}),
    # Coordinates that are not numbers: those voxels have no place and are
    # left out of the framing; the others show as usual.
    "nan_coordinates.vxl": ("picture", {GREEN}),
    "all_coordinates_nan.vxl": ("black", "no voxel has a place to be drawn"),
    "coordinates_overflow_to_inf.vxl": ("picture", {GREEN}),
    # Voxel sizes.
    "size_nan.vxl": ("black", "cubes of NaN edge have no corners"),
    "size_infinite.vxl": ("black", "cubes of infinite edge have no corners"),
    "size_zero.vxl": ("black", "cubes of edge 0 cover no pixel"),
    # A negative edge turns each cube inside out; its inner faces face the eye.
    "size_negative.vxl": ("picture", {RED}),
    "size_huge.vxl": ("same as", "size_tiny.vxl"),
    "size_tiny.vxl": ("picture", {RED}),
    # Scale alone never changes the picture, down to specks and up to the
    # float range.
    "reference_pair.vxl": ("picture", {RED, GREEN}),
    "scaled_pair_1e20.vxl": ("same as", "reference_pair.vxl"),
    "scaled_pair_1e-30.vxl": ("same as", "reference_pair.vxl"),
    "scaled_pair_1e36.vxl": ("same as", "reference_pair.vxl"),
    "coordinates_near_float_max.vxl": ("picture", {RED, GREEN}),
    # Voxels 6e38 apart: the eye cannot stand far enough back within float
    # range to see both, so the framed view looks at the empty centre.
    "coordinates_beyond_framing.vxl": ("black", "no float eye position frames the pair"),
}


def is_sanitized(binary):
    with open(binary, "rb") as f:
        return b"__asan_default_options" in f.read()


class Outcome:
    def __init__(self, status, out, err, windows, peak_kib):
        self.status, self.out, self.err = status, out, err
        self.windows, self.peak_kib = windows, peak_kib


def run_refused(server, path_arg, address_limit=None, timeout=harness.EXIT_DEADLINE):
    """Runs the viewer on `path_arg` expecting it to give up by itself; returns
    its Outcome, with the peak resident memory from the kernel's accounting.
    `address_limit` (bytes) caps its address space, so that an allocation the
    data does not back fails instead of passing unnoticed in untouched pages."""
    tmp = tempfile.mkdtemp(prefix="voxscope-hostile-run-")
    try:
        out_path, err_path = os.path.join(tmp, "out"), os.path.join(tmp, "err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:

            def limit():
                if address_limit:
                    resource.setrlimit(resource.RLIMIT_AS, (address_limit, address_limit))

            proc = subprocess.Popen(
                [os.fsencode(harness.BINARY), path_arg],
                env=server.env,
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=err,
                preexec_fn=limit,
            )
        windows, status, usage = set(), None, None
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            pid, wait_status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                status = os.waitstatus_to_exitcode(wait_status)
                proc.returncode = status
                break
            for wid in server.visible_windows():
                windows.add(server.window_name(wid))
            time.sleep(0.02)
        if status is None:
            proc.kill()
            proc.wait()
        with open(out_path, "rb") as f:
            out_bytes = f.read()
        with open(err_path, "rb") as f:
            err_bytes = f.read()
        return Outcome(status, out_bytes, err_bytes, windows, usage.ru_maxrss if usage else None)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


class HostileFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = harness.XServer("1024x768")
        cls.tmp = tempfile.mkdtemp(prefix="voxscope-hostile-")
        cls.sanitized = is_sanitized(harness.BINARY)
        cls.pictures = {}

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    # ------------------------------------------------------------ outcomes

    def assertRefused(self, path, first_line, path_arg=None):
        """The viewer gives up on `path` with exactly the loader's line and the
        "Couldn't open file" line, status 1, no window, nothing on stdout, and
        without taking memory for voxels the file does not hold."""
        # A viewer that gives up before its window needs only X and its own
        # small data; 512 MiB of address space is far below what any voxel
        # count it must refuse would ask for. The sanitizers reserve terabytes
        # of address space, so the limit applies to the ordinary build.
        limit = None if self.sanitized else 512 << 20
        arg = path_arg if path_arg is not None else path
        outcome = run_refused(self.server, arg, address_limit=limit)
        self.assertIsNotNone(outcome.status, "still running after %gs" % harness.EXIT_DEADLINE)
        shown = os.fsencode(arg) if isinstance(arg, str) else arg
        expected = (first_line.encode() % shown) + b"Couldn't open file " + shown + b"\n"
        self.assertEqual(outcome.err, expected)
        self.assertEqual(outcome.status, 1)
        self.assertEqual(outcome.out, b"")
        self.assertEqual(outcome.windows, set(), "a window appeared although loading failed")
        if not self.sanitized:
            self.assertLess(outcome.peak_kib, 200 * 1024, "peak memory %d KiB" % outcome.peak_kib)

    def open_viewer(self, path_arg):
        viewer = harness.Viewer(
            self.server, [harness.BINARY, "-geometry", "%dx%d+0+0" % (SIZE, SIZE), path_arg]
        )
        self.addCleanup(viewer.kill)
        wid = viewer.find_window(harness.BINARY)
        return viewer, wid

    def quit_viewer(self, viewer, wid):
        """q ends a viewer that still answers with status 0 and nothing said."""
        self.server.xdotool("mousemove", SIZE // 2, SIZE // 2)
        self.server.xdotool("windowfocus", wid)
        self.server.xdotool("key", "q")
        status = viewer.wait()
        self.assertEqual(status, 0, "status after q (None: still running)")
        self.assertEqual(viewer.stderr(), b"")
        self.assertEqual(viewer.stdout(), b"")

    def picture_of(self, path_arg, expect_black=False):
        """Opens the viewer on `path_arg`, returns its settled first picture and
        quits it with q."""
        viewer, wid = self.open_viewer(path_arg)
        if expect_black:
            # Nothing to wait for: the picture must stay black while the
            # viewer keeps answering.
            shot = harness.wait_for_stable(self.server, wid)
        else:
            harness.wait_for_frame(self.server, wid)
            shot = harness.wait_for_stable(self.server, wid)
        self.assertTrue(viewer.running())
        self.quit_viewer(viewer, wid)
        return shot

    def reference_picture(self, name):
        if name not in self.pictures:
            self.pictures[name] = self.picture_of(os.path.join(HOSTILE, name))
        return self.pictures[name]

    def assertOutcome(self, path, expected):
        kind, detail = expected
        if kind == "refused":
            self.assertRefused(path, detail)
        elif kind == "picture":
            shot = self.picture_of(path)
            colours = set(shot.colour_counts()) - {(0, 0, 0)}
            self.assertEqual(colours, detail)
        elif kind == "black":
            shot = self.picture_of(path, expect_black=True)
            self.assertTrue(shot.is_black(), "expected nothing drawn: %s" % detail)
        elif kind == "same as":
            shot = self.picture_of(path)
            self.assertEqual(shot, self.reference_picture(detail))
        else:
            raise AssertionError("unknown outcome %r" % kind)

    # ------------------------------------------------------------ the files

    def test_catalogue(self):
        on_disk = sorted(f for f in os.listdir(HOSTILE) if f.endswith(".vxl"))
        self.assertEqual(on_disk, sorted(CATALOGUE), "every file has an expected outcome")
        for name in sorted(CATALOGUE):
            with self.subTest(name):
                self.assertOutcome(os.path.join(HOSTILE, name), CATALOGUE[name])

    # ------------------------------------------------------------ not files

    def test_directory_is_refused(self):
        self.assertRefused(self.tmp, ERROR_READING)

    def test_fifo_with_a_writer_shows_its_model(self):
        fifo = os.path.join(self.tmp, "model fifo")
        os.mkfifo(fifo)
        self.addCleanup(os.unlink, fifo)
        writer = threading.Thread(target=self.write_to_fifo, args=(fifo, "reference_pair.vxl"))
        writer.start()
        self.addCleanup(writer.join, 30)
        shot = self.picture_of(fifo)
        self.assertEqual(shot, self.reference_picture("reference_pair.vxl"))

    def write_to_fifo(self, fifo, name):
        with open(os.path.join(HOSTILE, name), "rb") as f:
            data = f.read()
        with open(fifo, "wb") as out:  # blocks until the viewer opens it
            out.write(data)

    def test_fifo_without_a_writer_waits_for_one(self):
        """Opening a FIFO waits for its writer, as any reader of one does (cat,
        a shell redirection): the viewer sits quietly, without a window, until
        data comes, then shows it. An interrupt ends the wait."""
        fifo = os.path.join(self.tmp, "idle fifo")
        os.mkfifo(fifo)
        self.addCleanup(os.unlink, fifo)
        viewer = harness.Viewer(
            self.server, [harness.BINARY, "-geometry", "%dx%d+0+0" % (SIZE, SIZE), fifo]
        )
        self.addCleanup(viewer.kill)
        # The kernel says where the process sleeps: opening a FIFO that has no
        # writer waits "for a partner". Probing the FIFO from here instead
        # would itself be the writer it waits for.
        harness.wait_until(
            lambda: self.waits_in(viewer.pid) == "wait_for_partner",
            harness.WINDOW_DEADLINE,
            message="the viewer to wait in opening the FIFO",
        )
        # It keeps waiting: still there, in the same place, having said
        # nothing and shown nothing.
        time.sleep(1.0)
        self.assertEqual(self.waits_in(viewer.pid), "wait_for_partner")
        self.assertEqual(self.server.visible_windows(), [])
        self.assertEqual(viewer.stderr(), b"")
        viewer.proc.send_signal(signal.SIGINT)
        self.assertEqual(viewer.wait(), -signal.SIGINT)
        self.assertEqual(self.server.visible_windows(), [])

    @staticmethod
    def waits_in(pid):
        try:
            with open("/proc/%d/wchan" % pid) as f:
                return f.read().strip()
        except OSError:
            return None

    # ------------------------------------------------------------ paths

    def test_paths_with_spaces_and_other_scripts(self):
        folder = os.path.join(self.tmp, "a folder with spaces", "données ✓ 模型")
        os.makedirs(folder)
        good = os.path.join(folder, "paire rouge et verte ✓.vxl")
        shutil.copy(os.path.join(HOSTILE, "reference_pair.vxl"), good)
        with self.subTest("loads"):
            shot = self.picture_of(good)
            self.assertEqual(shot, self.reference_picture("reference_pair.vxl"))
        with self.subTest("missing, named byte for byte"):
            self.assertRefused(os.path.join(folder, "absent ✗.vxl"), "Couldn't read %s\n")
        with self.subTest("damaged, named byte for byte"):
            bad = os.path.join(folder, "  leading and trailing spaces  ")
            shutil.copy(os.path.join(HOSTILE, "binary_garbage.vxl"), bad)
            self.assertRefused(bad, ERROR_READING)
        with self.subTest("a name that is not UTF-8"):
            raw = os.path.join(os.fsencode(folder), b"latin-1 \xe9t\xe9.vxl")
            with open(raw, "wb") as f:
                f.write(b"1 1 0 0 0 255 0")
            self.assertRefused(None, ERROR_READING, path_arg=raw)


if __name__ == "__main__":
    harness.parse_args()
    unittest.main(verbosity=2)
