"""Runs a .thumbnailer entry the way GNOME's file manager does, inside its
bubblewrap sandbox, and judges what comes out:

  - read-only /usr (and the /lib, /lib64, /bin, /sbin links into it), a fresh
    /proc and a minimal /dev with no /dev/dri, every namespace unshared (no
    network, no X or Wayland socket), no DISPLAY or WAYLAND_DISPLAY, the
    sandbox ending with its parent;
  - the input bound read-only at /tmp/gnome-desktop-file-to-thumbnail.EXT
    (EXT the model's own extension, as GNOME keeps it), the output's folder
    bound writable, %s %i %o %u of Exec filled in.

The entry must name the types model/x-vxl, model/x-magicavoxel and
model/x-binvox. Each model (a voxel text file, a MagicaVoxel .vox, a binvox
file) must give a SIZE x SIZE RGBA picture, transparent where nothing is
drawn, whose colours are the iso view's (drawn outside the sandbox by
--reference); a binary file named .vxl and a Voxlap file named .vox must
each give exit status 1, one line on stderr and no output file.

    check_thumbnailer.py --thumbnailer FILE --model terrain.vxl [--model scene.vox]...
                         [--reference PROGRAM] [--ro-bind PATH]... [--size 128]

Used by tools/test_package.sh on the installed package and by
test_vxlrender.py on the build tree (with --ro-bind for the built binary).
"""

import argparse
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import png_file  # noqa: E402

SANDBOX_INPUT = "/tmp/gnome-desktop-file-to-thumbnail"
TIMEOUT = 60
MIME_TYPES = ("model/x-vxl", "model/x-magicavoxel", "model/x-binvox")


def sandbox_input(model):
    """Where the sandbox shows `model`: GNOME keeps the file's extension."""
    return SANDBOX_INPUT + os.path.splitext(model)[1]


def read_entry(path):
    """The keys of the [Thumbnailer Entry] group."""
    entry, group = {}, None
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                group = line
            elif "=" in line and group == "[Thumbnailer Entry]":
                key, value = line.split("=", 1)
                entry[key] = value
    return entry


def sandbox_command(exec_line, model, out_png, size, ro_binds=()):
    """The bwrap command line that runs `exec_line` on `model` into `out_png`."""
    argv = []
    inside = sandbox_input(model)
    for word in shlex.split(exec_line):
        word = word.replace("%s", str(size)).replace("%i", inside)
        word = word.replace("%u", "file://" + inside).replace("%o", out_png)
        argv.append(word.replace("%%", "%"))
    command = ["bwrap", "--ro-bind", "/usr", "/usr"]
    for link in ("lib", "lib64", "bin", "sbin"):
        target = os.path.join("/", link)
        if os.path.islink(target):
            command += ["--symlink", os.readlink(target), target]
        elif os.path.isdir(target):
            command += ["--ro-bind", target, target]
    command += ["--ro-bind-try", "/etc/ld.so.cache", "/etc/ld.so.cache",
                "--proc", "/proc", "--dev", "/dev", "--chdir", "/",
                "--unshare-all", "--die-with-parent", "--clearenv",
                "--setenv", "PATH", "/usr/bin:/bin", "--setenv", "GIO_USE_VFS", "local"]
    for path in ro_binds:
        command += ["--ro-bind", path, path]
    out_dir = os.path.dirname(out_png)
    command += ["--bind", out_dir, out_dir, "--ro-bind", model, inside]
    return command + argv


def run(command):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def check_picture(exec_line, model, size, work, reference, ro_binds):
    """The failures of the thumbnail of one model, made in the sandbox."""
    failures = []
    name = os.path.basename(model)
    out_dir = os.path.join(work, "out")
    os.makedirs(out_dir, exist_ok=True)
    out = os.path.join(out_dir, "thumbnail.png")
    status, _, err = run(sandbox_command(exec_line, model, out, size, ro_binds))
    if status != 0:
        return ["%s: the thumbnailer failed in the sandbox (%d): %s" % (name, status, err.strip())]
    if err:
        failures.append("%s: stderr in the sandbox: %r" % (name, err))
    w, h, channels, pixels = png_file.read_png(out)
    if (w, h, channels) != (size, size, 4):
        return failures + ["%s: thumbnail is %dx%d with %d channels" % (name, w, h, channels)]
    alpha = pixels[3::4]
    if alpha[0] != 0 or alpha[-1] != 0 or set(alpha) != {0, 255}:
        failures.append("%s: background not transparent (alphas %s)" % (name, sorted(set(alpha))))
    if reference:
        iso = os.path.join(work, "iso.png")
        status, _, err = run([reference, model, iso, "--view", "iso", "--size", "%dx%d" % (size, size)])
        if status != 0:
            failures.append("%s: the reference render failed: %s" % (name, err.strip()))
        elif png_file.rgb_of(pixels, 4) != png_file.read_png(iso)[3]:
            failures.append("%s: the thumbnail's colours are not the iso view's" % name)
    os.remove(out)
    return failures


def check_refused(exec_line, path, size, expected, ro_binds):
    """The failures of a file that must get no thumbnail: status 1, the
    line `expected` (with the sandbox's name for the file) and no output."""
    out_dir = os.path.join(os.path.dirname(path), "out")
    os.makedirs(out_dir, exist_ok=True)
    refused = os.path.join(out_dir, "refused.png")
    status, _, err = run(sandbox_command(exec_line, path, refused, size, ro_binds))
    line = "vxlrender: %s %s\n" % (sandbox_input(path), expected)
    failures = []
    if (status, err) != (1, line):
        failures.append("%s gave status %d and %r, not 1 and %r"
                        % (os.path.basename(path), status, err, line))
    if os.listdir(out_dir):
        failures.append("left in the output folder: %s" % sorted(os.listdir(out_dir)))
    return failures


def check(thumbnailer, models, size, reference=None, ro_binds=()):
    """Returns a list of failures (empty when all is well)."""
    failures = []
    entry = read_entry(thumbnailer)
    named = entry.get("MimeType", "").split(";")
    for mime_type in MIME_TYPES:
        if mime_type not in named:
            failures.append("MimeType does not name %s: %r" % (mime_type, entry.get("MimeType")))
    exec_line = entry.get("Exec", "")
    for code in ("%s", "%i", "%o"):
        if code not in exec_line:
            failures.append("Exec %r lacks %s" % (exec_line, code))
    work = tempfile.mkdtemp(prefix="thumbnailer-")
    try:
        for model in models:
            failures += check_picture(exec_line, model, size, work, reference, ro_binds)
        # Binary formats that share the extensions get no thumbnail: a
        # Voxlap map named .vxl, and a Voxlap model named .vox (its sizes,
        # its voxels, its palette) refused by its content at once.
        binary = os.path.join(work, "voxlap.vxl")
        with open(binary, "wb") as f:
            f.write(struct.pack("<3i", 1024, 1024, 256) + bytes(range(256)) * 4)
        failures += check_refused(exec_line, binary, size, "is not a voxel text file", ro_binds)
        voxlap = os.path.join(work, "voxlap.vox")
        with open(voxlap, "wb") as f:
            f.write(struct.pack("<3i", 64, 64, 64) + bytes(64 * 64 * 64) + bytes(range(256)) * 3)
        failures += check_refused(exec_line, voxlap, size, "is not a MagicaVoxel file", ro_binds)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--thumbnailer", required=True)
    parser.add_argument("--model", action="append", required=True)
    parser.add_argument("--size", type=int, default=128)
    parser.add_argument("--reference", default=None)
    parser.add_argument("--ro-bind", action="append", default=[])
    args = parser.parse_args()
    failures = check(args.thumbnailer, [os.path.abspath(m) for m in args.model], args.size,
                     args.reference, args.ro_bind)
    for failure in failures:
        print("check_thumbnailer.py: %s" % failure, file=sys.stderr)
    if not failures:
        print("check_thumbnailer.py: %d thumbnails made in the sandbox; binary files refused"
              % len(args.model))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
