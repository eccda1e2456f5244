"""vxlconv --view as a user meets it: a mesh from Debian's assimp-testmodels,
a MagicaVoxel scene and an NRRD volume are converted and shown by the real
viewer under Xvfb; q, SIGTERM, SIGHUP and SIGINT end both programs, and the
private folder under $TMPDIR (pointed at a scratch folder) is gone every time.
GLUT's -geometry reaches the viewer; refusals start no viewer and leave
nothing.

Takes --vxlconv PATH and --models DIR (the assimp test models) besides the
harness's --binary and --examples.
"""

import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import harness  # noqa: E402
import make_grids  # noqa: E402

VXLCONV = None
MODELS = None
# The conversion comes before the window; a loaded machine may take a while.
VIEW_DEADLINE = 60.0


def ball_volume(path, n=24):
    """An int16 NRRD volume of a ball, brighter towards its centre."""
    c = (n - 1) / 2.0
    values = []
    for k in range(n):
        for j in range(n):
            for i in range(n):
                d = ((i - c) ** 2 + (j - c) ** 2 + (k - c) ** 2) ** 0.5
                values.append(max(0, int(400 - 40 * d)))
    data, _ = make_grids.nrrd((n, n, n), "i2", values, spacings=(1.0, 1.0, 1.0))
    with open(path, "wb") as f:
        f.write(data)


class View:
    """One run of vxlconv --view with $TMPDIR pointed at `tmpdir`."""

    def __init__(self, server, tmpdir, args, env=None, executable=None):
        self.server = server
        self.tmpdir = tmpdir
        self._out = tempfile.TemporaryFile()
        self._err = tempfile.TemporaryFile()
        environment = dict(env if env is not None else server.env, TMPDIR=tmpdir)
        self.proc = subprocess.Popen([executable or VXLCONV] + [str(a) for a in args],
                                     env=environment, stdin=subprocess.DEVNULL,
                                     stdout=self._out, stderr=self._err)

    def output(self):
        """(stdout, stderr) so far."""
        out = []
        for f in (self._out, self._err):
            f.seek(0)
            out.append(f.read().decode(errors="replace"))
        return tuple(out)

    def window(self, title):
        def found():
            if self.proc.poll() is not None:
                raise AssertionError("vxlconv --view ended with status %s before a window "
                                     "appeared: %r" % (self.proc.returncode, self.output()))
            for wid in self.server.visible_windows():
                if self.server.window_name(wid) == title:
                    return wid
            return None

        return harness.wait_until(found, VIEW_DEADLINE, interval=0.1,
                                  message="a window named %r" % title)

    def children(self):
        """vxlconv's child processes: the conversion, then the viewer."""
        try:
            with open("/proc/%d/task/%d/children" % (self.proc.pid, self.proc.pid)) as f:
                return [int(pid) for pid in f.read().split()]
        except FileNotFoundError:
            return []

    def viewer_pid(self):
        """The viewer: vxlconv's only child once the window is up."""
        children = self.children()
        assert len(children) == 1, children
        return children[0]

    def wait(self):
        try:
            return self.proc.wait(timeout=harness.EXIT_DEADLINE)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._out.close()
        self._err.close()


class ViewCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-view-")
        cls.server = harness.XServer("1024x768")
        cls.volume = os.path.join(cls.tmp, "ball.nrrd")
        ball_volume(cls.volume)
        cls.scene = os.path.join(harness.EXAMPLES, "scene.vox")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.tmpdir = tempfile.mkdtemp(dir=self.tmp, prefix="TMPDIR-")

    def start(self, *args, **kwargs):
        view = View(self.server, self.tmpdir, args, **kwargs)
        self.addCleanup(view.kill)
        return view

    def assertNothingLeft(self):
        self.assertEqual(os.listdir(self.tmpdir), [])

    def assertPrivateFileHeld(self, name):
        """While the viewer runs, the file is in a folder of mode 0700."""
        folders = os.listdir(self.tmpdir)
        self.assertEqual(len(folders), 1, folders)
        folder = os.path.join(self.tmpdir, folders[0])
        self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700)
        self.assertEqual(os.listdir(folder), [name])

    def assertNoWindow(self):
        self.assertEqual(self.server.visible_windows(), [])

    def quit_with_q(self, view, wid):
        self.server.xdotool("windowfocus", wid)
        self.server.xdotool("key", "q")
        self.assertEqual(view.wait(), 0, view.output())
        self.assertNothingLeft()


class Shows(ViewCase):
    def view_and_quit(self, args, name, shot_name):
        view = self.start("--view", *args, "-geometry", "400x300+0+0")
        wid = view.window(name)
        self.assertPrivateFileHeld(name)
        harness.wait_for_frame(self.server, wid)
        shot = harness.wait_for_stable(self.server, wid)
        png = os.path.join(os.getcwd(), "e2e-vxlconv-view-%s.png" % shot_name)
        self.server.save_png(wid, png)
        print("%s screenshot: %s" % (shot_name, png))
        lit = shot.nonblack_count() / (shot.width * shot.height)
        self.assertGreater(lit, 0.03, "the model hardly shows")
        self.assertLess(lit, 0.95)
        self.quit_with_q(view, wid)
        self.assertEqual(view.output()[0], "")
        return shot, view

    def test_a_mesh(self):
        duck = os.path.join(MODELS, "Collada", "duck.dae")
        self.view_and_quit([duck, "--resolution", "48"], "duck.vxl", "mesh")

    def test_a_magicavoxel_scene(self):
        shot, view = self.view_and_quit([self.scene], "scene.vxl", "vox")
        self.assertEqual(view.output()[1], "")
        self.assertGreater(len(shot.colour_counts()), 2)

    def test_a_volume_with_a_threshold(self):
        shot, _ = self.view_and_quit([self.volume, "--threshold", "200", "--hollow"],
                                     "ball.vxl", "volume")
        # Grey by value: every pixel drawn is grey.
        lit = [p for p in shot.pixels() if p != (0, 0, 0)]
        self.assertTrue(all(max(p) - min(p) <= 2 for p in lit))

    def test_geometry_reaches_the_viewer(self):
        view = self.start("--view", self.scene, "-geometry", "320x200+30+40")
        wid = view.window("scene.vxl")
        harness.wait_for_frame(self.server, wid)
        self.assertEqual(self.server.window_geometry(wid)[2:], (320, 200))
        self.quit_with_q(view, wid)

    def test_a_window_the_x_server_closes_leaves_nothing(self):
        # The server cuts the viewer's connection (as when a session ends):
        # Xlib ends the viewer with status 1, which becomes vxlconv's.
        view = self.start("--view", self.scene)
        wid = view.window("scene.vxl")
        harness.wait_for_frame(self.server, wid)
        self.server.xdotool("windowkill", wid)
        self.assertEqual(view.wait(), 1, view.output())
        self.assertNothingLeft()

    def test_the_viewer_is_found_on_the_path_when_not_beside(self):
        alone = tempfile.mkdtemp(dir=self.tmp, prefix="alone-")
        copy = os.path.join(alone, "vxlconv")
        shutil.copy2(VXLCONV, copy)
        on_path = tempfile.mkdtemp(dir=self.tmp, prefix="path-")
        os.symlink(harness.BINARY, os.path.join(on_path, "voxscope"))
        env = dict(self.server.env, PATH=on_path + os.pathsep + os.environ.get("PATH", ""))
        view = self.start("--view", self.scene, executable=copy, env=env)
        self.quit_with_q(view, view.window("scene.vxl"))
        # Neither beside nor on the PATH: one line, nothing left.
        env["PATH"] = alone
        view = self.start("--view", self.scene, executable=copy, env=env)
        self.assertEqual(view.wait(), 1)
        self.assertEqual(view.output(), ("", "vxlconv: cannot start the viewer voxscope: "
                                             "No such file or directory\n"))
        self.assertNothingLeft()


class Signals(ViewCase):
    def test_an_ending_signal_ends_the_viewer_and_leaves_nothing(self):
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            with self.subTest(signal=sig.name):
                view = self.start("--view", self.scene)
                wid = view.window("scene.vxl")
                harness.wait_for_frame(self.server, wid)
                viewer = view.viewer_pid()
                view.proc.send_signal(sig)
                # vxlconv ends by the same signal, after the viewer.
                self.assertEqual(view.wait(), -sig, view.output())
                self.assertFalse(os.path.exists("/proc/%d" % viewer))
                self.assertNothingLeft()
                harness.wait_until(lambda: not self.server.visible_windows(),
                                   harness.EXIT_DEADLINE, message="the window to go")

    def test_a_signal_during_the_conversion_leaves_nothing(self):
        # A mesh at a fine grid takes long enough to be cut short.
        duck = os.path.join(MODELS, "Collada", "duck.dae")
        view = self.start("--view", duck, "--resolution", "1500")
        harness.wait_until(lambda: os.listdir(self.tmpdir) and view.children(),
                           harness.EXIT_DEADLINE, message="the conversion to begin")
        view.proc.send_signal(signal.SIGTERM)
        self.assertEqual(view.wait(), -signal.SIGTERM, view.output())
        self.assertNothingLeft()
        self.assertNoWindow()


class Refusals(ViewCase):
    def test_refusals_are_one_line_and_start_no_viewer(self):
        damaged = os.path.join(self.tmp, "damaged.vox")
        with open(damaged, "wb") as f:
            f.write(b"VOX \x96\x00\x00\x00MAIN" + b"\xff" * 20)
        cases = [
            (["--view", damaged], "vxlconv: cannot read " + damaged),
            (["--view", os.path.join(self.tmp, "missing.vox")], "vxlconv: cannot read "),
            (["--view", self.scene, os.path.join(self.tmp, "out.vxl")],
             "vxlconv: --view writes no output file: leave out "),
            (["--view"], "vxlconv: needs an input file: vxlconv --view INPUT"),
            ([self.scene, os.path.join(self.tmp, "out.vxl"), "-geometry", "100x100"],
             "vxlconv: -geometry is an option of the viewer: give it with --view"),
            (["--view", self.scene, "-geometry"], "vxlconv: -geometry needs a value"),
            (["--view", self.volume], "vxlconv: "),
        ]
        for args, start in cases:
            with self.subTest(args=args):
                view = self.start(*args)
                self.assertEqual(view.wait(), 1)
                out, err = view.output()
                self.assertEqual(out, "")
                self.assertTrue(err.startswith(start), err)
                self.assertEqual(err.count("\n"), 1, err)
                self.assertNothingLeft()
                self.assertNoWindow()
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "out.vxl")))


if __name__ == "__main__":
    args = harness.parse_args([("--vxlconv", True), ("--models", True)])
    VXLCONV = os.path.abspath(args.vxlconv)
    MODELS = args.models
    unittest.main()
