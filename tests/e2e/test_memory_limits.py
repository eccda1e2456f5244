"""A model too big to draw is refused before the window opens, never a crash.

The viewer is run under an address-space limit (prlimit) and, where this
machine lets the test make one, inside a control group with a memory limit.
A 2,000,000-voxel lattice there has cube arrays that fit (about 960 MiB) but
not the GL driver's copy of them, which used to crash the first frame: it must
be refused with "Not enough memory to draw", status 1 and no window. A model
that fits must still open and draw under the same limits.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from control_group import make_control_group  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ADDRESS_LIMIT_KIB = 1800000  # `ulimit -v 1800000`
CGROUP_LIMIT = 1 << 30


def make_lattice(path, count):
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "make_large.py"),
                    "--count", str(count), "-o", path], check=True, timeout=120)
    return path


class MemoryLimits(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voxscope-memory-")
        cls.big = make_lattice(os.path.join(cls.tmp, "big.vxl"), 2000000)
        cls.fits = make_lattice(os.path.join(cls.tmp, "fits.vxl"), 300000)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def refused(self, server, command, path):
        status, out, err, windows = harness.run_to_exit(server, command, timeout=60)
        self.assertIsNotNone(status, "still running after 60 s")
        self.assertEqual(status, 1, "status %r (a negative one is a signal); stderr %r"
                         % (status, err))
        self.assertEqual(err.decode(), "Not enough memory to draw 2000000 voxels from %s\n"
                         "Couldn't open file %s\n" % (path, path))
        self.assertEqual(out, b"")
        self.assertNotIn(harness.BINARY, windows)

    def opens(self, server, command):
        viewer = harness.Viewer(server, command)
        self.addCleanup(viewer.kill)
        wid = viewer.find_window(harness.BINARY, timeout=120)
        picture = harness.wait_for_frame(server, wid, timeout=120)
        self.assertGreater(picture.nonblack_count(), 1000)
        server.xdotool("mousemove", 200, 150)
        server.xdotool("key", "q")
        self.assertEqual(viewer.wait(timeout=30), 0, viewer.stderr())
        self.assertEqual(viewer.stderr(), b"")

    def test_address_space_limit(self):
        limit = ["prlimit", "--as=%d" % (ADDRESS_LIMIT_KIB * 1024), "--"]
        with harness.XServer("1024x768") as server:
            self.refused(server, limit + [harness.BINARY, "-geometry", "400x300+0+0", self.big],
                         self.big)
            self.opens(server, limit + [harness.BINARY, "-geometry", "400x300+0+0", self.fits])

    def test_control_group_limit(self):
        procs, group = make_control_group(CGROUP_LIMIT)
        self.addCleanup(lambda: os.path.isdir(group) and os.rmdir(group))
        # The shell joins the group, then becomes the viewer.
        enter = ["sh", "-c", 'echo $$ > "$0" && exec "$@"', procs]
        with harness.XServer("1024x768") as server:
            self.refused(server, enter + [harness.BINARY, "-geometry", "400x300+0+0", self.big],
                         self.big)
            self.opens(server, enter + [harness.BINARY, "-geometry", "400x300+0+0", self.fits])


if __name__ == "__main__":
    harness.parse_args()
    unittest.main(verbosity=2)
