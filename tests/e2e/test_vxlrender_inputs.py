"""vxlrender on every kind of input vxlconv reads: the picture of
`vxlrender IN out.png [OPTIONS]` is, byte for byte, that of
`vxlconv IN t.vxl [OPTIONS] && vxlrender t.vxl ref.png`, no voxel file is
left behind, and a refusal is vxlconv's sentence in vxlrender's one line.

Takes --vxlconv, --vxlrender, --models DIR (Debian's assimp test models) and
--examples DIR.
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import make_grids  # noqa: E402

VXLCONV = VXLRENDER = MODELS = EXAMPLES = None
SANITIZED = False
SIZE = ["--size", "160x120"]


def run(args, address_space=None):
    def limit():
        if address_space:
            resource.setrlimit(resource.RLIMIT_AS, (address_space, resource.RLIM_INFINITY))
    done = subprocess.run([str(a) for a in args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=240, preexec_fn=limit)
    return done.returncode, done.stdout, done.stderr.decode(errors="replace")


def density_u1(i, j, k):
    return max(0, int(make_grids.density(i, j, k)))


class RenderInputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlrender-inputs-")
        cls.inputs = os.path.join(cls.tmp, "inputs")
        os.mkdir(cls.inputs)
        shape = (9, 7, 5)

        def write(name, data):
            path = os.path.join(cls.inputs, name)
            with open(path, "wb") as f:
                f.write(data)
            return path

        cls.binvox = write("ball.binvox", make_grids.binvox(12, make_grids.ball(5, (6, 6, 6)),
                                                            translate=(1.0, 2.0, 3.0), scale=3.0))
        labels = make_grids.samples_in_order((6, 5, 4), lambda i, j, k: (i + j + k) % 4)
        cls.npy = write("labels.npy", make_grids.npy((6, 5, 4), "u1", labels))
        fortran = make_grids.samples_in_order(shape, density_u1, fortran=True)
        cls.nrrd = write("density.nrrd", make_grids.nrrd(shape, "u1", fortran,
                                                         spacings=(1.0, 1.5, 2.0))[0])
        values = make_grids.samples_in_order(shape, make_grids.density, fortran=True)
        cls.nifti = write("density.nii", make_grids.nifti(shape, "f4", values,
                                                          pixdim=(0.5, 0.5, 0.75)))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def picture_pair(self, source, options):
        """(vxlrender's picture of `source`, the picture through vxlconv's file)."""
        work = tempfile.mkdtemp(dir=self.tmp)
        out, vxl, ref = (os.path.join(work, n) for n in ("out.png", "t.vxl", "ref.png"))
        status, stdout, err = run([VXLRENDER, source, out] + SIZE + options)
        self.assertEqual((status, stdout), (0, b""), err)
        # Nothing but the picture: no voxel file, no temporary file.
        self.assertEqual(os.listdir(work), ["out.png"])
        status, _, err = run([VXLCONV, source, vxl] + options)
        self.assertEqual(status, 0, err)
        status, _, err = run([VXLRENDER, vxl, ref] + SIZE)
        self.assertEqual(status, 0, err)
        with open(out, "rb") as a, open(ref, "rb") as b:
            return a.read(), b.read()

    def test_each_input_draws_as_its_converted_voxel_file(self):
        cases = [
            ("mesh", os.path.join(MODELS, "Collada", "teapots.DAE"), ["--resolution", "40"]),
            ("point cloud or mesh, default grid", os.path.join(MODELS, "PLY", "cube.ply"), []),
            (".vox", os.path.join(EXAMPLES, "scene.vox"), []),
            (".vox coarser and shaded", os.path.join(EXAMPLES, "scene.vox"),
             ["--voxel-size", "2", "--shade"]),
            ("binvox", self.binvox, []),
            ("NumPy labels", self.npy, ["--colors", "labels"]),
            ("NRRD with a threshold", self.nrrd, ["--threshold", "50", "--colors", "map"]),
            ("NIfTI finer, hollow", self.nifti, ["--threshold", "40", "--resolution", "24",
                                                 "--hollow"]),
            (".vxl hollow", os.path.join(EXAMPLES, "terrain.vxl"), ["--hollow"]),
            (".vxl coarser", os.path.join(EXAMPLES, "terrain.vxl"), ["--resolution", "20"]),
        ]
        for what, source, options in cases:
            with self.subTest(what):
                drawn, reference = self.picture_pair(source, options)
                self.assertTrue(drawn.startswith(b"\x89PNG"))
                self.assertTrue(drawn == reference, "the pictures differ")

    def test_options_change_the_picture(self):
        # Guards the comparison above against options that never reach the
        # conversion: both sides would then agree on the wrong picture.
        terrain = os.path.join(EXAMPLES, "terrain.vxl")
        plain, _ = self.picture_pair(terrain, [])
        coarse, _ = self.picture_pair(terrain, ["--resolution", "8"])
        self.assertNotEqual(plain, coarse)
        low, _ = self.picture_pair(self.nrrd, ["--threshold", "30"])
        high, _ = self.picture_pair(self.nrrd, ["--threshold", "80"])
        self.assertNotEqual(low, high)

    def test_too_big_to_draw_is_one_line(self):
        if SANITIZED:
            self.skipTest("the address checker's shadow memory needs the address space")
        # 160^3 voxels convert within 1.5 GiB of address space, but their
        # cube arrays (about 2.3 GB) do not fit.
        solid = os.path.join(self.tmp, "solid.binvox")
        with open(solid, "wb") as f:
            f.write(b"#binvox 1\ndim 160 160 160\ntranslate 0 0 0\nscale 160\ndata\n")
            f.write(bytes((1, 250)) * (160 ** 3 // 250))
        out = os.path.join(self.tmp, "big.png")
        status, stdout, err = run([VXLRENDER, solid, out, "--no-shade"], address_space=3 << 29)
        self.assertEqual((status, stdout), (1, b""))
        self.assertEqual(err, "vxlrender: not enough memory to draw 4096000 voxels of %s\n" % solid)
        self.assertFalse(os.path.exists(out))

    def test_notes_are_vxlrenders(self):
        # The teapots' textures are not sampled, which the converter notes.
        out = os.path.join(self.tmp, "noted.png")
        status, _, err = run([VXLRENDER, os.path.join(MODELS, "Collada", "teapots.DAE"), out,
                              "--resolution", "16"] + SIZE)
        self.assertEqual(status, 0, err)
        lines = err.splitlines()
        self.assertTrue(lines, "no note")
        for line in lines:
            self.assertTrue(line.startswith("vxlrender: note: "), line)

    def test_refusals_are_vxlconvs_in_one_line(self):
        vox = os.path.join(EXAMPLES, "scene.vox")
        cases = [
            ("option for samples on a .vox", vox, ["--threshold", "3"]),
            ("float array without a threshold", self.nifti, []),
            ("more voxels than allowed", self.binvox, ["--max-voxels", "10"]),
            ("missing mesh", os.path.join(self.tmp, "missing.obj"), ["--resolution", "9"]),
        ]
        for what, source, options in cases:
            with self.subTest(what):
                out = os.path.join(self.tmp, "refused.png")
                status, stdout, err = run([VXLRENDER, source, out] + options)
                self.assertEqual((status, stdout), (1, b""))
                lines = err.splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("vxlrender: "), lines)
                _, _, conv_err = run([VXLCONV, source, os.path.join(self.tmp, "t.vxl")] + options)
                self.assertEqual(lines[0][len("vxlrender: "):],
                                 conv_err.splitlines()[-1][len("vxlconv: "):])
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--vxlconv", "--vxlrender", "--models", "--examples"):
        parser.add_argument(name, required=True)
    parser.add_argument("--sanitized", action="store_true")
    ours, rest = parser.parse_known_args()
    SANITIZED = ours.sanitized
    VXLCONV, VXLRENDER = os.path.abspath(ours.vxlconv), os.path.abspath(ours.vxlrender)
    MODELS, EXAMPLES = ours.models, ours.examples
    unittest.main(argv=[sys.argv[0]] + rest)
