"""vxlconv's memory in proportion to what it makes: a conversion that cannot
fit its control group is refused with one line instead of being killed,
deflated arrays are inflated into one buffer of their stated size, a .vox
scene that places one model many times is placed once, and a scene or a
mesh grid beyond the voxel limit is refused before its voxels are built.

The refusals run under a --max-memory that what is refused would have
needed and the refusal must not: each case must end with its own line, not
"not enough memory".

Takes --vxlconv PATH.
"""

import argparse
import gzip
import os
import pathlib
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from control_group import make_control_group  # noqa: E402
import harness  # noqa: E402
import make_grids  # noqa: E402
import make_vox  # noqa: E402

VXLCONV = None
TIMEOUT = 120
MIB = 1 << 20
LIMIT_LINE = "more than 10000000 voxels"


def vxlconv(*args, prefix=()):
    done = subprocess.run(list(prefix) + [VXLCONV] + [str(a) for a in args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def voxel_count(path):
    with open(path) as f:
        return int(f.readline().split()[0])


def cube_model(edge):
    """A solid cube of `edge` voxels a side, its colours varying by cell."""
    voxels = [(x, y, z, 1 + (x + 2 * y + 3 * z) % 200)
              for x in range(edge) for y in range(edge) for z in range(edge)]
    return [make_vox.size_chunk(edge, edge, edge), make_vox.xyzi_chunk(voxels)]


def placed_vox(translations):
    """Model 0 placed once per translation, each by a transform of its own
    under one group (node 1); `translations` may repeat."""
    nodes = [make_vox.transform_chunk(0, 1)]
    children = list(range(3, 3 + len(translations)))
    nodes.append(make_vox.group_chunk(1, children))
    nodes.append(make_vox.shape_chunk(2, 0))
    for node, (x, y, z) in zip(children, translations):
        nodes.append(make_vox.transform_chunk(node, 2, {"_t": "%d %d %d" % (x, y, z)}))
    return make_vox.vox_file(cube_model(8) + nodes)


def repeated_vox(times):
    """Model 0 placed `times` times by one transform that a group lists
    `times` times over: 4 bytes a placement."""
    return make_vox.vox_file(cube_model(8) + [
        make_vox.transform_chunk(0, 1), make_vox.group_chunk(1, [2] * times),
        make_vox.transform_chunk(2, 3, {"_t": "5 5 5"}), make_vox.shape_chunk(3, 0)])


# A unit cube: its corners, then its faces as triangles.
CUBE_OBJ = "".join(["v %d %d %d\n" % (x, y, z) for z in (0, 1) for x, y in ((0, 0), (1, 0), (1, 1), (0, 1))]
                   + ["f %d %d %d\n" % f for f in ((1, 3, 2), (1, 4, 3), (5, 6, 7), (5, 7, 8), (1, 2, 6), (1, 6, 5),
                                                  (2, 3, 7), (2, 7, 6), (3, 4, 8), (3, 8, 7), (4, 1, 5), (4, 5, 8))])


class MemoryInProportion(harness.ScratchCase):
    PREFIX = "vxlconv-memory-"

    def path(self, name, data=None):
        """`name` in the scratch folder, written with `data` first if given."""
        path = os.path.join(self.tmp, name)
        if data is not None:
            pathlib.Path(path).write_bytes(data)
        return path

    def assert_refused(self, args, line):
        out = self.path("refused.vxl")
        status, stdout, stderr = vxlconv(*(list(args[:1]) + [out] + list(args[1:])))
        self.assertEqual((status, stdout, stderr), (1, "", line))
        self.assertFalse(os.path.exists(out))

    def test_a_conversion_beyond_its_control_group_is_refused_not_killed(self):
        procs, group = make_control_group(256 * MIB)
        self.addCleanup(lambda: os.path.isdir(group) and os.rmdir(group))
        # The shell joins the group, then becomes vxlconv.
        enter = ["sh", "-c", 'echo $$ > "$0" && exec "$@"', procs]
        # A 384 MiB array of one voxel, as a sparse file: the whole of it is
        # read into memory, far past the group's 256 MiB.
        big = self.path("big.npy")
        with open(big, "wb") as f:
            f.write(make_grids.npy((512, 768, 1024), "u1", []))
            f.seek(384 * MIB - 1, os.SEEK_CUR)
            f.write(b"\x01")
        out = self.path("group.vxl")
        status, stdout, stderr = vxlconv(big, out, prefix=enter)
        self.assertEqual(status, 1, "status %r (a negative one is a signal); stderr %r"
                         % (status, stderr))
        self.assertEqual(stdout, "")
        self.assertEqual(len(stderr.splitlines()), 1, stderr)
        self.assertTrue(stderr.startswith("vxlconv: ") and "memory" in stderr, stderr)
        self.assertFalse(os.path.exists(out))
        # What fits the group still converts in it.
        small = self.path("small.npy", make_grids.npy((4, 4, 4), "u1", [1] * 64))
        status, _, stderr = vxlconv(small, out, prefix=enter)
        self.assertEqual((status, stderr), (0, ""))
        self.assertEqual(voxel_count(out), 64)

    def test_deflated_arrays_are_inflated_once_to_their_stated_size(self):
        # 256 MiB of samples with one voxel, deflated to a few hundred KB:
        # under a 350 MB cap they fit once, not beside a buffer doubled from
        # half their size.
        shape = (512, 512, 1024)
        samples = bytearray(256 * MIB)
        samples[-1] = 1
        npy = make_grids.npy(shape, "u1", []) + bytes(samples)
        nrrd = (b"NRRD0004\ntype: uint8\ndimension: 3\nsizes: 1024 512 512\nencoding: gzip\n\n"
                + gzip.compress(bytes(samples), 1))
        del samples
        inputs = {
            "npz": self.path("big.npz", make_grids.npz({"a.npy": npy})),
            "gzip-compressed npy": self.path("big.npy.gz", gzip.compress(npy, 1)),
            "gzip NRRD": self.path("big.nrrd", nrrd),
        }
        del npy
        out = self.path("inflated.vxl")
        for name, path in inputs.items():
            with self.subTest(name):
                extra = ["--threshold", "1"] if name == "gzip NRRD" else []
                status, stdout, stderr = vxlconv(path, out, "--max-memory", "350", *extra)
                self.assertEqual((status, stdout, stderr), (0, "", ""))
                self.assertEqual(voxel_count(out), 1)

    def test_repeated_vox_placements_are_placed_once(self):
        # 20,000 placements of a 512-voxel model at one spot are its 512
        # voxels, the same file as one placement gives: within the default
        # limit of 10,000,000, and hollowed under a 200 MB cap.
        once, many = self.path("once.vox", repeated_vox(1)), self.path("many.vox", repeated_vox(20000))
        for options, count in (((), 8 ** 3), (("--hollow", "--max-memory", "200"), 8 ** 3 - 6 ** 3)):
            written = []
            for source in (once, many):
                out = self.path(os.path.basename(source) + ".vxl")
                status, stdout, stderr = vxlconv(source, out, *options)
                self.assertEqual((status, stdout, stderr), (0, "", ""), options)
                with open(out, "rb") as f:
                    written.append(f.read())
            self.assertEqual(written[0], written[1], options)
            self.assertEqual(int(written[0].split()[0]), count, options)

    def test_scenes_and_grids_beyond_the_voxel_limit_are_refused_before_building(self):
        # 20,000 placements of 512 voxels each, side by side: 10,240,000
        # voxels, over the default limit of 10,000,000.
        apart = self.path("apart.vox", placed_vox([(9 * (i % 200), 9 * (i // 200), 0)
                                                   for i in range(20000)]))
        self.assert_refused([apart, "--max-memory", "300"],
                            "vxlconv: %s: the scene has more than 10000000 voxels "
                            "(raise --max-voxels)\n" % apart)
        # A unit cube's faces at 2,097,152 voxels a side would take trillions.
        cube = self.path("cube.obj", CUBE_OBJ.encode())
        self.assert_refused([cube, "--resolution", "2097152", "--max-memory", "300"],
                            "vxlconv: %s: %s; choose a larger --voxel-size or a smaller "
                            "--resolution, or raise --max-voxels\n" % (cube, LIMIT_LINE))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    unittest.main(verbosity=2)
