"""vxlconv on voxel grids and volumes: binvox, NumPy .npy and .npz, NRRD
(attached, gzip, detached), NIfTI-1 and -2 (.nii, .nii.gz, .hdr/.img),
MetaImage (.mha raw and zlib, .mhd and its data file or slice files) and MGH
(.mgh, .mgz), made by tools/make_grids.py. Each sample is converted by the real vxlconv and checked
against the counts, centres and colours the generator says it must give;
damaged and hostile files are refused with one line and status 1, leaving no
output; and one sample of each format family is shown in the real viewer
under Xvfb, every pixel of the picture a colour of the converted voxels.

Takes --vxlconv PATH besides the harness's --binary.
"""

import argparse
import gzip
import json
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import harness  # noqa: E402
import make_grids  # noqa: E402
import make_scenes  # noqa: E402
import make_vox  # noqa: E402
import output_checks  # noqa: E402

import test_vxlconv  # noqa: E402  (its vxlconv runner and voxel-file reader)

vxlconv = test_vxlconv.vxlconv


def read_voxels(path):
    """(count, voxel size, [((x, y, z), (r, g, b)), ...]) of a .vxl file."""
    size, voxels = test_vxlconv.read_voxels(path)
    return len(voxels), size, [(struct.unpack("<3f", bits), rgb) for bits, rgb in voxels]


class SampleConversions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-grids-")
        cls.expect = make_grids.write_samples(cls.tmp)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_every_sample_gives_its_voxels(self):
        for name, want in sorted(self.expect.items()):
            with self.subTest(name):
                source = os.path.join(self.tmp, want.get("source", name))
                out = os.path.join(self.tmp, name + ".vxl")
                # The colours expected are the samples' own, before shading.
                status, stdout, stderr = vxlconv(source, out, *want["options"], "--no-shade")
                self.assertEqual((status, stdout), (0, ""), stderr)
                count, size, voxels = read_voxels(out)
                self.assertEqual(count, want["count"])
                self.assertAlmostEqual(size, want["voxel_size"], places=6)
                centres = [c for c, _ in voxels]
                self.assertEqual(len(set(centres)), count, "two voxels share a centre")
                for centre, colour in want["voxels"]:
                    found = [rgb for c, rgb in voxels
                             if all(abs(a - b) < 1e-5 for a, b in zip(c, centre))]
                    self.assertEqual(found, [tuple(colour)], "voxel at %s" % (centre,))

    def test_shading_by_default_only_where_colours_carry_no_shape(self):
        # Height colours (binvox, boolean arrays) say nothing of the source;
        # labels, grey and the map by value do.
        shaded = {"ball.binvox", "occupancy.npy"}
        for name, want in sorted(self.expect.items()):
            with self.subTest(name):
                source = os.path.join(self.tmp, want.get("source", name))
                runs = {}
                for choice in ("default", "--no-shade", "--shade"):
                    out = os.path.join(self.tmp, "%s%s.vxl" % (name, choice))
                    extra = [] if choice == "default" else [choice]
                    status, _, stderr = vxlconv(source, out, *want["options"], *extra)
                    self.assertEqual(status, 0, stderr)
                    runs[choice] = read_voxels(out)
                plain, forced = runs["--no-shade"], runs["--shade"]
                self.assertEqual(runs["default"], forced if name in shaded else plain)
                self.assertEqual([c for c, _ in forced[2]], [c for c, _ in plain[2]])
                self.assertNotEqual(forced[2], plain[2])
                for (_, lit), (_, own) in zip(forced[2], plain[2]):
                    self.assertTrue(all(round(0.3 * b) <= a <= b for a, b in zip(lit, own)))

    def test_voxel_files_keep_one_colour_unless_shading_is_asked(self):
        cube = os.path.join(self.tmp, "one_colour.vxl")
        with open(cube, "w") as f:
            cells = [(x, y, z) for x in range(5) for y in range(5) for z in range(5)]
            f.write("%d 1\n" % len(cells))
            f.writelines("%d %d %d 200 120 40\n" % c for c in cells)
        for extra, changed in (((), False), (("--no-shade",), False), (("--shade",), True)):
            with self.subTest(extra):
                out = os.path.join(self.tmp, "one_colour_out.vxl")
                status, _, stderr = vxlconv(cube, out, *extra)
                self.assertEqual(status, 0, stderr)
                colours = {rgb for _, rgb in read_voxels(out)[2]}
                self.assertEqual(colours != {(200, 120, 40)}, changed)
        status, _, stderr = vxlconv(cube, out, "--shade=on")
        self.assertEqual((status, stderr), (1, "vxlconv: --shade takes no value\n"))

    def test_help_names_the_grid_options(self):
        status, out, err = vxlconv("--help")
        self.assertEqual((status, err), (0, ""))
        out = " ".join(out.split())  # wherever the lines wrap
        for words in ("binvox", "NumPy .npy, .npz", "NRRD, NIfTI", "MetaImage", "MGH",
                      "--threshold T", "--colors C", "height, labels", "grey or map"):
            self.assertIn(words, out)

    def test_content_not_name_decides(self):
        # A NumPy file called .stl and a binvox called .obj are read as what
        # they are.
        for source, disguise in (("labels.npy", "labels.stl"), ("ball.binvox", "ball.obj")):
            with self.subTest(disguise):
                path = os.path.join(self.tmp, disguise)
                shutil.copy(os.path.join(self.tmp, source), path)
                out = os.path.join(self.tmp, disguise + ".vxl")
                status, _, stderr = vxlconv(path, out)
                self.assertEqual(status, 0, stderr)
                self.assertEqual(read_voxels(out)[0], self.expect[source]["count"])

    def test_threshold_required_for_values(self):
        out = os.path.join(self.tmp, "needs.vxl")
        for name in ("density.npy", "density.nrrd", "density.nii"):
            with self.subTest(name):
                status, _, stderr = vxlconv(os.path.join(self.tmp, name), out)
                self.assertEqual(status, 1)
                self.assertIn("give --threshold T", stderr)
                self.assertFalse(os.path.exists(out))


def zip_with_sizes(data, claimed_size):
    """A one-member deflated zip whose directory claims `claimed_size` bytes
    for a member that really inflates to len(data)."""
    raw = make_grids.npz({"a.npy": data})
    directory = raw.rindex(b"PK\x01\x02")
    patched = bytearray(raw)
    struct.pack_into("<I", patched, directory + 24, claimed_size)
    return bytes(patched)


def honest_npz(n, path):
    """Writes an .npz of one n x n x n uint8 array, zero but for ten ones,
    deflated as numpy.savez_compressed would (a few hundred bytes per
    megabyte of array)."""
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        info = zipfile.ZipInfo("a.npy", date_time=(1980, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        with archive.open(info, "w", force_zip64=True) as f:
            f.write(make_grids.npy((n, n, n), "u1", []))
            row = bytes(n * n)
            for i in range(n):
                f.write(b"\1" * 10 + row[10:] if i == n // 2 else row)


class HostileFiles(unittest.TestCase):
    """Each is refused with one line naming the reason and status 1, quickly
    and without taking what the header claims, and leaves no output file."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vxlconv-hostile-grids-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, name, data):
        path = os.path.join(self.tmp, name)
        pathlib.Path(path).write_bytes(data)
        return path

    def test_refusals(self):
        shape = (4, 3, 2)
        labels = make_grids.samples_in_order(shape, lambda i, j, k: (i + j) % 2)
        good_npy = make_grids.npy(shape, "u1", labels)
        good_binvox = make_grids.binvox(4, lambda x, y, z: x == y)
        nrrd_raw, _ = make_grids.nrrd(shape, "u1", labels)
        nii = make_grids.nifti(shape, "u1", labels)
        mha, _ = make_grids.metaimage(shape, "u1", labels)
        mha_zlib, _ = make_grids.metaimage(shape, "u1", labels, compressed=True)
        mgh = make_grids.mgh(shape, "u1", labels)
        unsized = b"\n".join(line for line in mha_zlib.split(b"\n")
                              if not line.startswith(b"CompressedDataSize"))
        zeros = bytes(64 << 20)  # inflates from about 64 KiB
        cases = [
            ("binvox run past the grid", "past.binvox", b"#binvox 1\ndim 2 2 2\ndata\n\x01\x09",
             "passes the end of the grid"),
            ("binvox cut short", "cut.binvox", good_binvox[:-2], "ends before the grid is full"),
            ("binvox claiming 2^60 voxels", "huge.binvox",
             b"#binvox 1\ndim 1048576 1048576 1048576\ndata\n\x01\xff", "larger than the memory"),
            ("binvox claiming more than its runs", "short.binvox",
             b"#binvox 1\ndim 1000 1000 1000\ndata\n" + b"\x01\xff" * 100, "too short"),
            ("binvox not a cube", "box.binvox", b"#binvox 1\ndim 2 3 4\ndata\n\x01\x18", "not a cube"),
            ("binvox without dim", "nodim.binvox", b"#binvox 1\ndata\n\x01\x01", "no \"dim\""),
            ("npy of an unknown dtype", "complex.npy", good_npy.replace(b"|u1", b"<c8"), "dtype"),
            ("npy shorter than its shape", "short.npy", good_npy[:-1], "shape and dtype need"),
            ("npy longer than its shape", "long.npy", good_npy + b"\0", "shape and dtype need"),
            ("npy of two dimensions", "flat.npy", make_grids.npy((4, 6), "u1", [1] * 24), "needs 3"),
            ("npy shape overflowing", "overflow.npy",
             make_grids.npy((1 << 62, 1 << 62, 16), "f8", []), "larger than the memory"),
            ("npy header cut", "cuthead.npy", good_npy[:40], "cut short"),
            ("npy of version 9", "v9.npy", good_npy[:6] + b"\x09" + good_npy[7:], "version 9"),
            ("npz member inflating past its stated size", "bomb.npz",
             zip_with_sizes(make_grids.npy((64, 1024, 1024), "u1", []) + zeros, 1000),
             "holds more than it should"),
            ("npz member claiming terabytes", "claims.npz", zip_with_sizes(good_npy, 0xFFFFFFFF - 1),
             "larger than the memory"),
            ("npz cut short", "cut.npz", make_grids.npz({"a.npy": good_npy})[:-30], "central directory"),
            ("NRRD data short", "short.nrrd", nrrd_raw[:-1], "need 24"),
            ("NRRD sizes overflowing", "overflow.nrrd",
             nrrd_raw.replace(b"sizes: 4 3 2", b"sizes: 4294967296 4294967296 4294967296"),
             "larger than the memory"),
            ("NRRD gzip bomb", "bomb.nrrd",
             make_grids.nrrd(shape, "u1", labels, encoding="gzip")[0].split(b"\n\n")[0] + b"\n\n" +
             gzip.compress(zeros, mtime=0), "holds more than it should"),
            ("NRRD gzip cut short", "cutgz.nrrd",
             make_grids.nrrd(shape, "u1", labels, encoding="gzip")[0][:-8], "ends too early"),
            ("NRRD of an unknown type", "block.nrrd", nrrd_raw.replace(b"type: uint8", b"type: block"),
             "type \"block\""),
            ("NRRD of an unknown encoding", "bz.nrrd", nrrd_raw.replace(b"encoding: raw", b"encoding: bzip2"),
             "encoding \"bzip2\""),
            ("NRRD naming a missing data file", "detached.nhdr",
             make_grids.nrrd(shape, "u1", labels, data_file="nowhere.raw")[0], "nowhere.raw"),
            ("NIfTI data short", "short.nii", nii[:-1], "need 24"),
            ("NIfTI of RGB datatype", "rgb.nii", nii[:70] + struct.pack("<hh", 128, 24) + nii[74:],
             "datatype 128"),
            ("NIfTI claiming 32767^3 doubles, gzip", "huge.nii.gz",
             gzip.compress(nii[:40] + struct.pack("<4h", 3, 32767, 32767, 32767) + nii[48:70] +
                           struct.pack("<hh", 64, 64) + nii[74:], mtime=0), "larger than the memory"),
            ("NIfTI pair without its image", "lonely.hdr", make_grids.nifti(shape, "u1", labels, pair=True)[0],
             "lonely.img"),
            ("MetaImage data short", "short.mha", mha[:-1], "need 24"),
            ("MetaImage sizes overflowing", "overflow.mha",
             mha.replace(b"DimSize = 4 3 2", b"DimSize = 4294967296 4294967296 4294967296"),
             "larger than the memory"),
            ("MetaImage zlib bomb", "bomb.mha",
             unsized.split(b"LOCAL\n")[0] + b"LOCAL\n" + zlib.compress(zeros),
             "holds more than it should"),
            ("MetaImage zlib cut short", "cutz.mha", unsized[:-8], "ends too early"),
            ("MetaImage zlib shorter than its stated size", "cutsized.mha", mha_zlib[:-8],
             "its CompressedDataSize says"),
            ("MetaImage of text samples", "text.mha",
             mha.replace(b"BinaryData = True", b"BinaryData = False"), "BinaryData = False"),
            ("MetaImage of an unknown type", "cplx.mha",
             mha.replace(b"MET_UCHAR", b"MET_COMPLEX"), "ElementType \"MET_COMPLEX\""),
            ("MetaImage naming a missing data file", "detached.mhd",
             make_grids.metaimage(shape, "u1", labels, data_file="nowhere.raw")[0], "nowhere.raw"),
            ("MetaImage pattern of a string", "fmt.mhd",
             make_grids.metaimage(shape, "u1", labels, data_file="s%s%n.raw 1 2 1")[0],
             "is not a name with one number"),
            ("MetaImage LIST too short", "list.mhd",
             make_grids.metaimage(shape, "u1", labels, data_file="LIST", extra="a.raw\n")[0],
             "the MetaImage LIST names 1 files; its dimensions need 2"),
            ("MGH data short", "short.mgh", mgh[:-1], "need 24"),
            ("MGH of version 2", "v2.mgh", b"\0\0\0\x02" + mgh[4:], "version is 2"),
            ("MGH claiming 2^24 cubed floats, gzip", "huge.mgz",
             gzip.compress(mgh[:4] + struct.pack(">3i", 1 << 24, 1 << 24, 1 << 24) + mgh[16:20] +
                           struct.pack(">i", 3) + mgh[24:], mtime=0), "larger than the memory"),
        ]
        out = os.path.join(self.tmp, "out.vxl")
        for name, filename, data, reason in cases:
            with self.subTest(name):
                source = self.path(filename, data)
                start = time.monotonic()
                status, stdout, stderr = vxlconv(source, out, "--threshold", "1")
                took = time.monotonic() - start
                self.assertEqual((status, stdout), (1, ""), stderr)
                lines = stderr.splitlines()
                self.assertEqual(len(lines), 1, stderr)
                self.assertTrue(lines[0].startswith("vxlconv: "), stderr)
                self.assertIn(reason, stderr)
                self.assertFalse(os.path.exists(out), "a refused conversion left an output file")
                # Not a timing assertion on speed, a guard against the claim
                # being taken up: a refusal after gigabytes takes minutes.
                self.assertLess(took, 60, "the refusal took %.1fs" % took)

    def test_second_files_a_header_names(self):
        """Data files and pair images: only regular files in the header's
        folder or below, exactly as long as the header says, never the
        output. Each refusal is its exact line, quickly (a FIFO would hang,
        /dev/zero fill the memory cap), with the earlier output kept."""
        shape = (2, 2, 2)
        labels = [1, 2, 3, 4, 5, 6, 7, 8]
        raw = make_grids.pack_samples("u1", labels, False)
        hdr, img = make_grids.nifti(shape, "u1", labels, pair=True)
        why = ("; a header may name only files in its own folder or below, so that it cannot "
               "point at other files on the machine")
        d = self.tmp

        def header(name, data_file):
            return lambda: self.path(name, make_grids.nrrd(shape, "u1", labels,
                                                           data_file=data_file)[0])

        def sparse(name, size):
            path = self.path(name, b"")
            os.truncate(path, size)

        def mhd(name, data_file, extra=""):
            return lambda: self.path(name, make_grids.metaimage(shape, "u1", labels,
                                                                data_file=data_file, extra=extra)[0])

        nrrd = "vxlconv: cannot read %s/v.nhdr as NRRD: " % d
        nifti = "vxlconv: cannot read %s/pair.hdr as NIfTI-1: " % d
        meta = "vxlconv: cannot read %s/v.mhd as MetaImage: " % d
        cases = [
            ("a FIFO with no writer", lambda: os.mkfifo(os.path.join(d, "fifo.raw")),
             header("v.nhdr", "fifo.raw"),
             nrrd + "its data file %s/fifo.raw is a FIFO, not a regular file" % d),
            ("/dev/zero by its name", None, header("v.nhdr", "/dev/zero"),
             nrrd + 'its data file "/dev/zero" is an absolute path' + why),
            ("/dev/zero through a link", lambda: os.symlink("/dev/zero", os.path.join(d, "zero.raw")),
             header("v.nhdr", "zero.raw"),
             nrrd + "its data file %s/zero.raw is a character device, not a regular file" % d),
            ("/dev/urandom through a link",
             lambda: os.symlink("/dev/urandom", os.path.join(d, "random.raw")),
             header("v.nhdr", "random.raw"),
             nrrd + "its data file %s/random.raw is a character device, not a regular file" % d),
            ("3 GB of holes for 8 bytes", lambda: sparse("sparse.raw", 3 << 30),
             header("v.nhdr", "sparse.raw"),
             nrrd + "its data file %s/sparse.raw holds 3221225472 bytes; the header's sizes, type "
             "and skips need exactly 8" % d),
            ("a path out of the folder", None, header("v.nhdr", "../../../../etc/passwd"),
             nrrd + 'its data file "../../../../etc/passwd" goes through ".."' + why),
            ("a data file one byte longer", lambda: self.path("long.raw", raw + b"\0"),
             header("v.nhdr", "long.raw"),
             nrrd + "its data file %s/long.raw holds 9 bytes; the header's sizes, type and skips "
             "need exactly 8" % d),
            ("a data file one byte shorter", lambda: self.path("short.raw", raw[:-1]),
             header("v.nhdr", "short.raw"),
             nrrd + "its data file %s/short.raw holds 7 bytes; the header's sizes, type and skips "
             "need at least 8" % d),
            ("a MetaImage data file through \"..\"", None, mhd("v.mhd", "../v.raw"),
             meta + 'its data file "../v.raw" goes through ".."' + why),
            ("a MetaImage data file that is a FIFO", lambda: os.mkfifo(os.path.join(d, "fifo.raw")),
             mhd("v.mhd", "fifo.raw"),
             meta + "its data file %s/fifo.raw is a FIFO, not a regular file" % d),
            ("a MetaImage data file one byte longer", lambda: self.path("long.raw", raw + b"\0"),
             mhd("v.mhd", "long.raw"),
             meta + "its data file %s/long.raw holds 9 bytes; the header's sizes, type and "
             "HeaderSize need exactly 8" % d),
            ("a MetaImage slice through a link to /dev/zero",
             lambda: (self.path("s1.raw", raw[:4]),
                      os.path.lexists(os.path.join(d, "s2.raw")) or
                      os.symlink("/dev/zero", os.path.join(d, "s2.raw"))),
             mhd("v.mhd", "LIST", "s1.raw\ns2.raw\n"),
             meta + "its data file %s/s2.raw is a character device, not a regular file" % d),
            ("a MetaImage slice pattern out of the folder", None,
             mhd("v.mhd", "/tmp/s%d.raw 1 2 1"),
             meta + 'its data file "/tmp/s1.raw" is an absolute path' + why),
            ("a pair whose image is a FIFO", lambda: os.mkfifo(os.path.join(d, "pair.img")),
             lambda: self.path("pair.hdr", hdr),
             nifti + "its image file %s/pair.img is a FIFO, not a regular file" % d),
            ("a pair image one byte longer", lambda: self.path("pair.img", img + b"\0"),
             lambda: self.path("pair.hdr", hdr),
             nifti + "its image file %s/pair.img holds 9 bytes; the header's offset, dimensions "
             "and datatype need exactly 8" % d),
        ]
        out = os.path.join(d, "out.vxl")
        for name, make, source, line in cases:
            with self.subTest(name):
                for stale in ("fifo.raw", "pair.img"):
                    if os.path.lexists(os.path.join(d, stale)):
                        os.remove(os.path.join(d, stale))
                if make:
                    make()
                output_checks.write_earlier(out)
                status, stdout, stderr = output_checks.run(
                    [test_vxlconv.VXLCONV, source(), out, "--threshold", "1"], timeout=60)
                self.assertEqual((status, stdout, stderr), (1, "", line + "\n"))
                self.assertEqual(output_checks.read(out), output_checks.EARLIER)
                self.assertEqual(output_checks.temporaries(d, "vxlconv"), [])

    def test_the_output_is_never_a_file_the_input_reads(self):
        # By any path that vxlconv would write: the data file's own name when
        # it is one vxlconv writes, or a link without an extension. Named as
        # the data file is (.raw, .img), the output is no type vxlconv writes.
        shape = (2, 2, 2)
        labels = [1, 2, 3, 4, 5, 6, 7, 8]
        d = self.tmp
        header, raw = make_grids.nrrd(shape, "u1", labels, data_file="v.raw")
        nhdr, data = self.path("v.nhdr", header), self.path("v.raw", raw)
        named = self.path("w.nhdr", make_grids.nrrd(shape, "u1", labels, data_file="w.vxl")[0])
        written = self.path("w.vxl", raw)
        hdr_bytes, img_bytes = make_grids.nifti(shape, "u1", labels, pair=True)
        hdr, img = self.path("pair.hdr", hdr_bytes), self.path("pair.img", img_bytes)
        # By links without an extension and by names vxlconv writes.
        os.link(data, os.path.join(d, "hard"))
        os.link(img, os.path.join(d, "image"))
        os.link(data, os.path.join(d, "hard.vxl"))
        os.symlink("v.raw", os.path.join(d, "soft.vxl"))
        os.link(img, os.path.join(d, "image.vxl"))
        # A MetaImage LIST whose second slice file is the output.
        listing = self.path("m.mhd", make_grids.metaimage(shape, "u1", labels, data_file="LIST",
                                                          extra="m1.raw\nm2.vxl\n")[0])
        self.path("m1.raw", raw[:4])
        slice2 = self.path("m2.vxl", raw[4:])
        line = ("vxlconv: cannot read %s as %s: its %s %s is the output; write the output to "
                "another file\n")
        unknown = ("vxlconv: cannot write %s: unknown output type; vxlconv writes .vxl, .glb, "
                   ".gltf, .obj, .ply, .stl, .vox, .html\n")
        cases = [
            (nhdr, os.path.join(d, "hard"), line % (nhdr, "NRRD", "data file", data)),
            (nhdr, os.path.join(d, ".", "hard"), line % (nhdr, "NRRD", "data file", data)),
            (named, written, line % (named, "NRRD", "data file", written)),
            (hdr, os.path.join(d, "image"), line % (hdr, "NIfTI-1", "image file", img)),
            (nhdr, os.path.join(d, "hard.vxl"), line % (nhdr, "NRRD", "data file", data)),
            (nhdr, os.path.join(d, ".", "soft.vxl"), line % (nhdr, "NRRD", "data file", data)),
            (hdr, os.path.join(d, "image.vxl"), line % (hdr, "NIfTI-1", "image file", img)),
            (nhdr, data, unknown % data),
            (hdr, img, unknown % img),
            (listing, slice2, line % (listing, "MetaImage", "data file", slice2)),
        ]
        for source, out, expected in cases:
            with self.subTest(out=out):
                status, stdout, stderr = output_checks.run(
                    [test_vxlconv.VXLCONV, source, out, "--threshold", "1"])
                self.assertEqual((status, stdout, stderr), (1, "", expected))
                self.assertEqual(output_checks.read(data), raw)
                self.assertEqual(output_checks.read(written), raw)
                self.assertEqual(output_checks.read(img), img_bytes)
                self.assertEqual(output_checks.read(slice2), raw[4:])
                self.assertEqual(output_checks.temporaries(d, "vxlconv"), [])

    def expect_lines(self, cases):
        """Each case is (name, filename, data, options, status, stderr lines,
        the file's name standing for {path} in them)."""
        out = os.path.join(self.tmp, "out.vxl")
        for name, filename, data, options, status, lines in cases:
            with self.subTest(name):
                if os.path.exists(out):
                    os.remove(out)
                source = self.path(filename, data)
                done = subprocess.run([test_vxlconv.VXLCONV, source, out] + list(options),
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=test_vxlconv.CONVERT_TIMEOUT)
                want = "".join(line.format(path=source) + "\n" for line in lines)
                self.assertEqual((done.returncode, done.stdout, done.stderr.decode("latin1")),
                                 (status, b"", want))
                self.assertEqual(os.path.exists(out), status == 0)

    def test_words_from_files_are_shown_escaped(self):
        # Names and words a file holds reach the terminal with their control
        # characters escaped: no line break, no escape sequence of its own.
        shape = (4, 3, 2)
        good_npy = make_grids.npy(shape, "u1", make_grids.samples_in_order(shape, lambda i, j, k: 1))
        spoof = "a.npy\nvxlconv: converted\x1b[2J\x1b[1;1H\u202e"
        stored = bytearray(make_grids.npz({spoof: good_npy, "b.npy": good_npy}, compressed=False))
        bzip2 = bytearray(stored)
        for at in (8, stored.index(b"PK\x01\x02") + 10):  # the local and central method fields
            struct.pack_into("<H", bzip2, at, 12)
        shown = '"a.npy\\nvxlconv: converted\\x1b[2J\\x1b[1;1H\\u202e"'
        # The importer's reasons quote the file too: here a buffer's name.
        gltf = make_scenes.deep_gltf(1).replace(b'"uri":"data:', b'"uri":"\\u001b[2J\\ndata:')
        uri = gltf[gltf.index(b"\\u001b"):].split(b'"')[0].decode().replace("\\u001b", "\\x1b")
        self.expect_lines([
            ("zip member name in a note", "names.npz", bytes(stored), [], 0,
             ["vxlconv: note: {path}: read the array %s, the first of the archive's 2" % shown]),
            ("zip member name in a refusal", "bzip2.npz", bytes(bzip2), [], 1,
             ["vxlconv: cannot read {path} as NumPy .npz: the zip member %s uses compression "
              "method 12; only stored and deflated members are read" % shown]),
            ("binvox header word", "clear.binvox", b"#binvox 1\ndim 2 2 2\n\x1b[2Jwipe\rout\ndata\n\x01\x08",
             [], 1, ['vxlconv: cannot read {path} as binvox: the header line "\\x1b[2Jwipe\\rout" '
                     'is not one binvox knows']),
            ("importer's reason", "buffer.gltf", gltf, [], 1,
             ['vxlconv: cannot read {path}: GLTF: could not open referenced file "%s"' % uri]),
            ("NRRD data file name", "named.nhdr",
             make_grids.nrrd(shape, "u1", [1] * 24, data_file="x\x1b[2J\x07y.raw")[0], ["--threshold", "1"], 1,
             ["vxlconv: cannot read {path} as NRRD: its data file: cannot read %s/x\\x1b[2J\\x07y.raw: "
              "No such file or directory" % self.tmp]),
            ("NRRD type name", "type.nrrd",
             make_grids.nrrd(shape, "u1", [1] * 24)[0].replace(b"type: uint8", b"type: \x1b]0;title\x07"),
             ["--threshold", "1"], 1,
             ['vxlconv: cannot read {path} as NRRD: the NRRD type "\\x1b]0;title\\x07" is not one '
              'this reads']),
        ])

    def test_header_numbers_beyond_floats(self):
        # Finite header values whose positions or voxel size a 32-bit float
        # cannot hold: once written as inf, or every voxel at one place.
        shape = (2, 2, 2)
        ones = [1] * 8
        self.expect_lines([
            ("binvox translate past the float range", "far.binvox",
             make_grids.binvox(2, lambda x, y, z: True, translate=(0.0, 3e38, 0.0), scale=1e38), [], 1,
             ['vxlconv: {path}: the positions from "translate" and "scale" reach 3.75e+38 along y, '
              'beyond a 32-bit float']),
            ("binvox scale below the float range", "tiny.binvox",
             make_grids.binvox(2, lambda x, y, z: True, scale=1e-320), [], 1,
             ['vxlconv: {path}: the voxel size from "scale" (4.99994e-321) is too small for a '
              '32-bit float']),
            ("NRRD spacings past the float range", "wide.nrrd",
             make_grids.nrrd(shape, "u1", ones, spacings=(1e39, 1e39, 1e39))[0], ["--threshold", "1"], 1,
             ['vxlconv: {path}: the voxel size from "spacings" (1e+39) is too large for a 32-bit '
              'float']),
            ("NIfTI pixdim subnormal", "tiny.nii",
             make_grids.nifti(shape, "u1", ones, pixdim=(1e-40,) * 3), ["--threshold", "1"], 1,
             ['vxlconv: {path}: the voxel size from "pixdim" (9.99995e-41) is too small for a '
              '32-bit float']),
        ])

    def test_memory_refusals_say_what_to_raise(self):
        # An honest 1144^3 array in a 1.4 MB .npz needs more than the default
        # cap leaves for it: refused before inflating, with the figures, not
        # called damaged. (The allowance depends on the machine's memory.)
        big = os.path.join(self.tmp, "honest.npz")
        honest_npz(1144, big)
        out = os.path.join(self.tmp, "out.vxl")
        status, stdout, stderr = vxlconv(big, out)
        self.assertEqual((status, stdout), (1, ""))
        self.assertRegex(stderr, r'^vxlconv: cannot read %s as NumPy \.npz: the zip member "a\.npy" '
                         r'is larger than the memory allowed: it needs 1428 MiB, more than the \d+ '
                         r'MiB allowed \(raise --max-memory\)\n$' % big)
        self.assertFalse(os.path.exists(out))
        # A smaller one: refused under a cap below its 206 MiB, read once
        # --max-memory allows it.
        smaller = os.path.join(self.tmp, "smaller.npz")
        honest_npz(600, smaller)
        status, stdout, stderr = vxlconv(smaller, out, "--max-memory", "150")
        self.assertEqual((status, stdout, stderr), (1, "", (
            'vxlconv: cannot read %s as NumPy .npz: the zip member "a.npy" is larger than the memory '
            'allowed: it needs 206 MiB, more than the 150 MiB allowed (raise --max-memory)\n' % smaller)))
        status, stdout, stderr = vxlconv(smaller, out, "--max-memory", "600")
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        self.assertEqual(read_voxels(out)[0], 10)

    def test_sample_options_are_refused_for_voxels_compressed_or_not(self):
        # --threshold and --colors say which samples are voxels and how they
        # are coloured; a .vox scene has no samples, gzip-compressed or not.
        scene = make_vox.scene_file()
        line = ("vxlconv: --threshold and --colors apply to binvox, NumPy .npy, .npz, NRRD, "
                "NIfTI, MetaImage, MGH, DICOM, TIFF, OpenVDB, Zarr and HDF5 inputs")
        self.expect_lines([
            ("a .vox scene", "scene.vox", scene, ["--threshold", "3"], 1, [line]),
            ("a .vox scene in gzip", "scene.vox.gz", gzip.compress(scene, mtime=0),
             ["--threshold", "3"], 1, [line]),
            ("a .vox scene in gzip, colours", "scene.vox.gz", gzip.compress(scene, mtime=0),
             ["--colors", "grey"], 1, [line]),
        ])

    def test_gzip_content_decides_whatever_the_name(self):
        # An array of floats of no pattern hardly compresses: its first few
        # hundred compressed bytes inflate to less than the converter looks
        # at, and the stream's name says nothing of what it holds.
        values = [(i * 7919 % 1000) / 1000.0 + (i % 13) * 1e-9 for i in range(8 * 8 * 8)]
        raw = make_grids.npy((8, 8, 8), "f8", values)
        packed = gzip.compress(raw, mtime=0)
        source = self.path("field.gz", packed)
        out = os.path.join(self.tmp, "field.vxl")
        status, stdout, stderr = vxlconv(source, out, "--threshold", "0.5")
        self.assertEqual((status, stdout, stderr), (0, "", ""))
        self.assertEqual(read_voxels(out)[0], sum(1 for v in values if v >= 0.5))

    def test_gzip_within_gzip(self):
        nested = gzip.compress(gzip.compress(make_grids.npy((2, 2, 2), "u1", [1] * 8), mtime=0), mtime=0)
        self.expect_lines([
            ("gzip within gzip", "twice.gz", nested, [], 1,
             ["vxlconv: cannot read {path} as gzip data: the gzip data holds another gzip stream"]),
        ])

    def test_deep_scenes(self):
        # Scenes nested deeper than a process's stack lets the importer
        # follow: converted whole (the one triangle deepest down is there,
        # or there would be nothing to voxelise), or refused in one line.
        loop = make_scenes.collada('<node><instance_node url="#a"/></node>',
                       '<node id="a"><instance_node url="#b"/></node>'
                       '<node id="b"><instance_geometry url="#g"/><instance_node url="#a"/></node>')
        self.expect_lines([
            ("glTF 1,500 nodes deep", "deep1500.gltf", make_scenes.deep_gltf(1500), [], 0, []),
            ("COLLADA 1,500 nodes deep", "deep1500.dae", make_scenes.deep_collada(1500), [], 0, []),
            ("glTF 100,000 nodes deep", "deep.gltf", make_scenes.deep_gltf(100000), [], 0, []),
            ("COLLADA 20,000 nodes deep", "deep.dae", make_scenes.deep_collada(20000), [], 0, []),
            ("COLLADA nodes that hold each other", "loop.dae", loop, [], 1,
             ["vxlconv: cannot read {path}: its scene nests deeper than the importer can follow, or a "
              "node holds itself"]),
        ])


class GridsInViewer(unittest.TestCase):
    """One sample of each format family converted and shown."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vxlconv-grids-view-")
        cls.expect = make_grids.write_samples(cls.tmp)
        cls.server = harness.XServer("1024x768")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_each_family_shows(self):
        for name in ("ball.binvox", "labels.npy", "density.npz", "density-gzip.nrrd", "density.nii.gz",
                     "density-zlib.mha", "density.mgz"):
            with self.subTest(name):
                out = os.path.join(self.tmp, name + ".vxl")
                status, _, stderr = vxlconv(os.path.join(self.tmp, name), out, *self.expect[name]["options"])
                self.assertEqual(status, 0, stderr)
                _, _, voxels = read_voxels(out)
                colours = {rgb for _, rgb in voxels}
                viewer = harness.Viewer(self.server, [harness.BINARY, "-geometry", "400x400+0+0", out])
                self.addCleanup(viewer.kill)
                wid = viewer.find_window(harness.BINARY)
                harness.wait_for_frame(self.server, wid)
                shot = harness.wait_for_stable(self.server, wid)
                png = os.path.join(os.getcwd(), "e2e-vxlconv-grid-%s.png" % name.replace(".", "-"))
                self.server.save_png(wid, png)
                print("%s screenshot: %s" % (name, png))
                self.assertTrue(viewer.running())
                self.assertEqual(viewer.stderr(), b"")
                lit = shot.nonblack_count() / (shot.width * shot.height)
                self.assertGreater(lit, 0.03, "the model hardly shows")
                shown = set(shot.colour_counts()) - {(0, 0, 0)}
                self.assertTrue(shown <= colours, "colours no voxel has: %s" % sorted(shown - colours)[:5])
                self.assertGreater(len(shown), 1)
                viewer.kill()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    args, rest = parser.parse_known_args()
    test_vxlconv.VXLCONV = os.path.abspath(args.vxlconv)
    sys.argv = [sys.argv[0]] + rest
    harness.parse_args()
    unittest.main(verbosity=2)
