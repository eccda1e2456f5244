"""vxlconv's outputs other than voxel files, judged by independent readers:
glTF files by the Khronos glTF Validator, PLY, OBJ and STL files by the
command-line tool of the Open Asset Import Library (Debian's assimp-utils),
.vox files by the vox-reader package, and every file besides by the
standard-library readers of mesh_files.py: which faces exist, what colour
each shows, whether the surface is closed, and whether a .vox file places
the voxels where they were.

Takes --vxlconv PATH, --node-tools DIR (node_modules with gltf-validator and
vox-reader, installed by the e2e_node_tools fixture), --make-models PATH and
the harness's --binary and --examples.
"""

import json
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402
import mesh_files  # noqa: E402
import output_checks  # noqa: E402

VXLCONV = None
NODE_TOOLS = None
MAKE_MODELS = None
RUN_TIMEOUT = 240

# The bundled terrain: its voxels and the meshes of each --mesh choice.
TERRAIN_VOXELS = 10394
TERRAIN_FACES = 59000 // 2  # exposed faces, as counted by exposed_faces below too


def vxlconv(*args, timeout=RUN_TIMEOUT):
    done = subprocess.run([VXLCONV] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def node(script, *args):
    env = dict(os.environ, NODE_PATH=os.path.join(NODE_TOOLS, "node_modules"))
    done = subprocess.run(["node", os.path.join(HERE, "node", script)] + [str(a) for a in args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT,
                          env=env)
    if done.returncode != 0:
        raise AssertionError("%s failed: %s" % (script, done.stderr.decode(errors="replace")))
    return [json.loads(line) for line in done.stdout.decode().splitlines()]


def assimp_counts(path):
    """(vertices, faces) as the Open Asset Import Library's own tool reports."""
    done = subprocess.run(["assimp", "info", path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT)
    text = done.stdout.decode(errors="replace")
    counts = {}
    for line in text.splitlines():
        words = line.split()
        if len(words) == 2 and words[0] in ("Vertices:", "Faces:"):
            counts[words[0]] = int(words[1])
    if done.returncode != 0 or len(counts) != 2:
        raise AssertionError("assimp could not read %s:\n%s" % (path, text))
    return counts["Vertices:"], counts["Faces:"]


def write_voxels(path, size, voxels):
    with open(path, "w") as f:
        f.write("%d %r\n" % (len(voxels), size))
        for (x, y, z), (r, g, b) in voxels:
            f.write("%r %r %r %d %d %d\n" % (x, y, z, r, g, b))


def ball(radius, size=0.5, colours=None):
    """A closed ball of voxels on a lattice of edge `size`, coloured by
    octant unless `colours` gives one colour for all."""
    voxels = []
    for i in range(-radius, radius + 1):
        for j in range(-radius, radius + 1):
            for k in range(-radius, radius + 1):
                if i * i + j * j + k * k <= radius * radius:
                    colour = colours or (40 + 100 * (i > 0), 60 + 120 * (j > 0), 80 + 90 * (k > 0))
                    voxels.append(((i * size + 3.25, j * size - 1.0, k * size), colour))
    return voxels


class Fixtures(harness.ScratchCase):
    PREFIX = "vxlconv-export-"

    def path(self, name):
        return os.path.join(self.tmp, name)

    def convert(self, source, name, *options):
        out = self.path(name)
        status, stdout, stderr = vxlconv(source, out, *options)
        self.assertEqual((status, stdout), (0, ""), stderr)
        return out, stderr

    @classmethod
    def terrain(cls):
        return os.path.join(harness.EXAMPLES, "terrain.vxl")


class MeshLook(Fixtures):
    """Every mesh shows exactly the exposed faces of the voxels, each in its
    voxel's colour, and passes the format's own reader."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        size, voxels = mesh_files.read_voxels(cls.terrain())
        cls.size = size
        cls.cells, cls.cell_of, cls.origin = mesh_files.lattice_of(size, voxels)
        cls.faces = mesh_files.exposed_faces(cls.cells)

    def assert_shows_the_voxels(self, mesh):
        shown = mesh_files.face_samples(mesh, self.size, self.origin)
        self.assertEqual(set(shown), self.faces, "faces shown are not the exposed faces")
        wrong = [(face, colours) for face, colours in shown.items()
                 if any(c != self.cells[face[0]] for c in colours)]
        self.assertEqual(wrong[:5], [], "%d faces show another colour" % len(wrong))

    def test_terrain_counts_in_each_mesh_choice(self):
        self.assertEqual(len(self.cells), TERRAIN_VOXELS)
        self.assertEqual(len(self.faces), TERRAIN_FACES)
        counts = {}
        for choice in ("greedy", "faces", "cubes"):
            out, stderr = self.convert(self.terrain(), "terrain-%s.glb" % choice, "--mesh", choice)
            self.assertEqual(stderr, "")
            (report,) = node("validate_gltf.js", out)
            self.assertEqual(report["errors"], 0, report["messages"])
            counts[choice] = report["triangles"]
        print("terrain triangles:", counts)
        self.assertEqual(counts["faces"], 2 * TERRAIN_FACES)
        self.assertEqual(counts["cubes"], 12 * TERRAIN_VOXELS)
        self.assertLess(counts["greedy"], counts["faces"] * 0.4)
        # The default is the greedy mesh.
        out, _ = self.convert(self.terrain(), "terrain-default.glb")
        self.assertEqual(mesh_files.read_gltf(out).triangles,
                         mesh_files.read_gltf(self.path("terrain-greedy.glb")).triangles)

    def test_gltf_shows_each_face_in_its_colour(self):
        for name, choice in (("look.glb", "greedy"), ("look space.gltf", "greedy"),
                             ("look-faces.glb", "faces")):
            with self.subTest(name=name):
                out, _ = self.convert(self.terrain(), name, "--mesh", choice)
                (report,) = node("validate_gltf.js", out)
                self.assertEqual((report["errors"], report["warnings"]), (0, 0),
                                 report["messages"])
                mesh = mesh_files.read_gltf(out)
                material = mesh.doc["materials"][0]
                self.assertIn("KHR_materials_unlit", material["extensions"])
                if choice == "greedy":
                    self.assertIsNotNone(mesh.texture)
                    self.assertEqual(mesh.doc["samplers"][0]["magFilter"], 9728)  # NEAREST
                else:
                    self.assertIsNotNone(mesh.colors)
                self.assert_shows_the_voxels(mesh)
        # A .gltf keeps its buffer and texture beside it, named for it.
        self.assertTrue(os.path.exists(self.path("look space.bin")))
        self.assertTrue(os.path.exists(self.path("look space.png")))

    def test_obj_ply_and_stl_open_with_the_triangles_written(self):
        readers = {".obj": mesh_files.read_obj, ".ply": mesh_files.read_ply,
                   ".stl": mesh_files.read_stl}
        for ext, reader in readers.items():
            for choice in ("greedy", "faces"):
                with self.subTest(ext=ext, choice=choice):
                    out, stderr = self.convert(self.terrain(), "t-%s%s" % (choice, ext),
                                               "--mesh", choice)
                    self.assertEqual(stderr, "")
                    mesh = reader(out)
                    _, faces = assimp_counts(out)
                    self.assertEqual(faces, len(mesh.triangles))
                    if choice == "faces":
                        self.assertEqual(faces, 2 * TERRAIN_FACES)
                    if ext == ".obj" and choice == "greedy":
                        mesh.texture = mesh_files._texture(self.path("t-greedy.png"))
                    if ext != ".stl":
                        self.assert_shows_the_voxels(mesh)
                    else:
                        shown = mesh_files.face_samples(mesh, self.size, self.origin)
                        self.assertEqual(set(shown), self.faces)


class ClosedSurfaces(Fixtures):
    """--mesh faces of a closed set is closed: every edge meets one of
    opposite direction, in every format, by position; and by vertex index
    where the set has one colour."""

    def test_faces_meshes_are_closed(self):
        many = self.path("ball.vxl")
        write_voxels(many, 0.5, ball(6))
        one = self.path("plain.vxl")
        write_voxels(one, 0.5, ball(5, colours=(200, 30, 30)))
        readers = {".glb": mesh_files.read_gltf, ".obj": mesh_files.read_obj,
                   ".ply": mesh_files.read_ply, ".stl": mesh_files.read_stl}
        for source in (many, one):
            for ext, reader in readers.items():
                with self.subTest(source=os.path.basename(source), ext=ext):
                    out, _ = self.convert(source, "closed" + ext, "--mesh", "faces")
                    mesh = reader(out)
                    self.assertGreater(len(mesh.triangles), 0)
                    self.assertEqual(mesh_files.open_edges(mesh), [])
                    if source == one and ext != ".stl":
                        self.assertEqual(mesh_files.open_edges(mesh, by_position=False), [])
        # A greedy mesh of the same ball is smaller, and as a check that the
        # test can fail: it is not closed by index (T-junctions).
        out, _ = self.convert(one, "greedy.ply")
        greedy = mesh_files.read_ply(out)
        faces = mesh_files.read_ply(self.path("closed.ply"))
        self.assertLess(len(greedy.triangles), len(faces.triangles))
        self.assertNotEqual(mesh_files.open_edges(greedy, by_position=False), [])


class VoxFiles(Fixtures):
    """.vox files read by vox-reader place every voxel where it was, split
    into models of at most 256 a side; round trips are exact up to 255
    colours."""

    def placed(self, path):
        """[(cell, colour)] of a .vox file as vox-reader reads it, placed by
        the format's rule: a voxel's centre relative to its model's centre,
        moved by the transform, floored; z up turned to y up."""
        (vox,) = node("read_vox.js", path)
        transform_of = {t["child"]: t for t in vox["transforms"]}
        voxels = []
        for shape in vox["shapes"]:
            t = transform_of[shape["id"]]
            self.assertIsNone(t["rotation"])
            for m in shape["models"]:
                model = vox["models"][m]
                self.assertTrue(all(0 < s <= 256 for s in model["size"]), model["size"])
                for x, y, z, i in model["voxels"]:
                    doubled = [2 * t["translation"][k] + 2 * v + 1 - model["size"][k]
                               for k, v in enumerate((x, y, z))]
                    cx, cy, cz = [d // 2 for d in doubled]
                    voxels.append(((cx, cz, -cy - 1), tuple(vox["palette"][i - 1][:3])))
        return voxels, vox

    def test_a_scene_goes_round_exactly(self):
        scene = os.path.join(harness.EXAMPLES, "scene.vox")
        first, _ = self.convert(scene, "scene.vxl")
        back, stderr = self.convert(first, "scene-back.vox")
        self.assertEqual(stderr, "")
        again, _ = self.convert(back, "scene-again.vxl")
        self.assertEqual(output_checks.read(again), output_checks.read(first))
        placed, _ = self.placed(back)
        size, voxels = mesh_files.read_voxels(first)
        self.assertEqual(sorted(placed),
                         sorted((tuple(int(p[k] - 0.5) for k in range(3)), c) for p, c in voxels))

    def test_a_large_set_is_cut_into_models(self):
        voxels = [((x + 0.5, y + 0.5, z + 0.5), (x % 7 * 30, y * 50, z * 90))
                  for x in range(600) for y in range(3) for z in range(2)]
        source = self.path("line.vxl")
        write_voxels(source, 1.0, voxels)
        out, stderr = self.convert(source, "line.vox")
        self.assertIn("written as 3 models", stderr)
        placed, vox = self.placed(out)
        self.assertEqual(len(vox["models"]), 3)
        self.assertEqual(sorted(placed),
                         sorted((tuple(int(p[k] - 0.5) for k in range(3)), c) for p, c in voxels))
        back, _ = self.convert(out, "line-back.vxl")
        self.assertEqual(sorted(mesh_files.read_voxels(back)[1]), sorted(voxels))

    def test_more_than_255_colours_are_reduced_with_a_note(self):
        out, stderr = self.convert(self.terrain(), "terrain.vox")
        lines = stderr.splitlines()
        self.assertEqual(len(lines), 1, stderr)
        self.assertTrue(lines[0].startswith("vxlconv: note: %s: 2462 colours reduced to the 255 "
                                            "a .vox palette holds; colours moved by " % out),
                        lines[0])
        back, _ = self.convert(out, "terrain-back.vxl")
        size, original = mesh_files.read_voxels(self.terrain())
        _, returned = mesh_files.read_voxels(back)
        self.assertEqual(len(returned), len(original))
        # The same cells come back, one .vox unit a voxel (the terrain's
        # whole-number centres move to the half units .vox cells have).
        def relative(cells):
            low = [min(c[k] for c in cells) for k in range(3)]
            return {tuple(c[k] - low[k] for k in range(3)): v for c, v in cells.items()}

        cells = relative(mesh_files.lattice_of(size, original)[0])
        back_cells = relative(mesh_files.lattice_of(1.0, returned)[0])
        self.assertEqual(sorted(cells), sorted(back_cells))
        self.assertEqual(sorted(p[0] - 0.5 for p, _ in returned)[0],
                         sorted(p[0] for p, _ in original)[0] - 1)
        errors = [sum((a - b) ** 2 for a, b in zip(cells[c], back_cells[c])) ** 0.5 for c in cells]
        mean = sum(errors) / len(errors)
        print("terrain through .vox: mean colour error %.2f, largest %.2f" % (mean, max(errors)))
        self.assertLess(mean, 3.0)
        self.assertIn("by %.2f on average and %.2f at most" % (mean, max(errors)), lines[0])


class Refusals(Fixtures):
    """Outputs that cannot be written leave nothing behind."""

    def test_output_names_choose_the_format(self):
        out = self.path("out.xyz")
        status, stdout, stderr = vxlconv(self.terrain(), out)
        self.assertEqual((status, stdout, stderr), (1, "", (
            "vxlconv: cannot write %s: unknown output type; vxlconv writes .vxl, .glb, .gltf, "
            ".obj, .ply, .stl, .vox, .html\n" % out)))
        self.assertFalse(os.path.exists(out))
        for args, line in (
                (["plain.vox", "--mesh", "faces"],
                 "--mesh applies to mesh outputs (.glb, .gltf, .obj, .ply, .stl), not .vox"),
                (["plain.glb", "--mesh", "boxes"],
                 '--mesh needs greedy, faces or cubes, not "boxes"')):
            status, stdout, stderr = vxlconv(self.terrain(), self.path(args[0]), *args[1:])
            self.assertEqual((status, stdout, stderr), (1, "", "vxlconv: %s\n" % line))
        # No extension: a voxel file as before; any case of a known one.
        out, _ = self.convert(self.terrain(), "plain")
        self.assertEqual(mesh_files.read_voxels(out), mesh_files.read_voxels(self.terrain()))
        out, _ = self.convert(self.terrain(), "UPPER.GLB")
        self.assertEqual(output_checks.read(out)[:4], b"glTF")
        self.assertEqual(output_checks.temporaries(self.tmp, "vxlconv"), [])

    def earlier_gltf(self, stem):
        files = [self.path(stem + ext) for ext in (".gltf", ".bin", ".png")]
        for f in files:
            output_checks.write_earlier(f)
        return files

    def assert_untouched(self, files):
        for f in files:
            self.assertEqual(output_checks.read(f), output_checks.EARLIER, f)
        self.assertEqual(output_checks.temporaries(self.tmp, "vxlconv"), [])

    def test_every_file_of_an_output_is_whole_or_untouched(self):
        files = self.earlier_gltf("limited")
        # Big enough for the JSON, too small for the buffer.
        status, stdout, stderr = output_checks.run([VXLCONV, self.terrain(), files[0]],
                                                   file_limit=200000)
        self.assertEqual((status, stdout, stderr),
                         (1, "", "vxlconv: cannot write %s: File too large\n" % files[1]))
        self.assert_untouched(files)
        # A companion that is a directory is refused before anything is read.
        files = self.earlier_gltf("folder")
        os.remove(files[2])
        os.mkdir(files[2])
        status, stdout, stderr = vxlconv(self.terrain(), files[0])
        self.assertEqual((status, stdout, stderr),
                         (1, "", "vxlconv: cannot write %s: it is a directory\n" % files[2]))
        self.assert_untouched(files[:2])
        # A companion that is the input is refused too.
        source = self.path("mine.bin")
        shutil.copy(self.terrain(), source)
        status, stdout, stderr = vxlconv(source, self.path("mine.gltf"))
        self.assertEqual((status, stdout, stderr), (1, "", (
            "vxlconv: %s is the input; write the output to another file\n" % source)))
        self.assertFalse(os.path.exists(self.path("mine.gltf")))

    def test_an_interrupt_leaves_no_temporary_file(self):
        if not MAKE_MODELS or not os.path.exists(MAKE_MODELS):
            self.skipTest("no make_models in this build (--make-models)")
        big = self.path("big.vxl")
        subprocess.run([MAKE_MODELS, "ball", "-o", big, "2000000"], check=True,
                       timeout=RUN_TIMEOUT, stdout=subprocess.DEVNULL)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig):
                files = self.earlier_gltf("stopped")
                output_checks.interrupt(self, [VXLCONV, big, files[0]], self.tmp, "vxlconv", sig,
                                        writing=False)
                self.assert_untouched(files)


class Progress(Fixtures):
    """On a terminal a long conversion shows a line that it erases at the
    end; through a pipe stderr stays empty (as every test above checks)."""

    def test_a_terminal_sees_progress(self):
        if not MAKE_MODELS or not os.path.exists(MAKE_MODELS):
            self.skipTest("no make_models in this build (--make-models)")
        big = self.path("progress.vxl")
        subprocess.run([MAKE_MODELS, "ball", "-o", big, "4000000"], check=True,
                       timeout=RUN_TIMEOUT, stdout=subprocess.DEVNULL)
        out = self.path("progress.glb")
        main, side = pty.openpty()
        started = time.monotonic()
        proc = subprocess.Popen([VXLCONV, big, out], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=side)
        os.close(side)
        seen = b""
        deadline = started + RUN_TIMEOUT
        while time.monotonic() < deadline:
            ready, _, _ = select.select([main], [], [], 1.0)
            if ready:
                try:
                    chunk = os.read(main, 4096)
                except OSError:  # the terminal closes when vxlconv ends
                    break
                if not chunk:
                    break
                seen += chunk
            elif proc.poll() is not None:
                break
        took = time.monotonic() - started
        self.assertEqual(proc.wait(timeout=RUN_TIMEOUT), 0, seen)
        os.close(main)
        self.assertEqual(proc.stdout.read(), b"")
        proc.stdout.close()
        text = seen.decode(errors="replace")
        if took > 2.0:
            # It has shown itself at least once, rewriting one line in place.
            self.assertIn("\rvxlconv: ", text)
            self.assertNotIn("\n", text)
        # Whatever was shown is erased at the end.
        if text:
            self.assertTrue(text.endswith("\r\x1b[K"), repr(text[-40:]))


if __name__ == "__main__":
    ours = harness.parse_args(extra=[("--vxlconv", True), ("--node-tools", True),
                                     ("--make-models", False)])
    VXLCONV = os.path.abspath(ours.vxlconv)
    NODE_TOOLS = os.path.abspath(ours.node_tools)
    MAKE_MODELS = os.path.abspath(ours.make_models) if ours.make_models else None
    unittest.main()
