"""Runs a .thumbnailer entry the way GNOME's file manager does, inside its
bubblewrap sandbox, and judges what comes out:

  - read-only /usr (and the /lib, /lib64, /bin, /sbin links into it), a fresh
    /proc and a minimal /dev with no /dev/dri, every namespace unshared (no
    network, no X or Wayland socket), no DISPLAY or WAYLAND_DISPLAY, the
    sandbox ending with its parent;
  - the input bound read-only at /tmp/gnome-desktop-file-to-thumbnail.vxl,
    the output's folder bound writable, %s %i %o %u of Exec filled in.

A voxel text file must give a SIZE x SIZE RGBA picture, transparent where
nothing is drawn, whose colours are the iso view's (drawn outside the sandbox
by --reference); a binary file named .vxl must give exit status 1, one line
on stderr and no output file.

    check_thumbnailer.py --thumbnailer FILE --model terrain.vxl
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

SANDBOX_INPUT = "/tmp/gnome-desktop-file-to-thumbnail.vxl"
TIMEOUT = 60


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
    for word in shlex.split(exec_line):
        word = word.replace("%s", str(size)).replace("%i", SANDBOX_INPUT)
        word = word.replace("%u", "file://" + SANDBOX_INPUT).replace("%o", out_png)
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
    command += ["--bind", out_dir, out_dir, "--ro-bind", model, SANDBOX_INPUT]
    return command + argv


def run(command):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def check(thumbnailer, model, size, reference=None, ro_binds=()):
    """Returns a list of failures (empty when all is well)."""
    failures = []
    entry = read_entry(thumbnailer)
    if "model/x-vxl;" not in entry.get("MimeType", ""):
        failures.append("MimeType does not name model/x-vxl: %r" % entry.get("MimeType"))
    exec_line = entry.get("Exec", "")
    for code in ("%s", "%i", "%o"):
        if code not in exec_line:
            failures.append("Exec %r lacks %s" % (exec_line, code))
    work = tempfile.mkdtemp(prefix="thumbnailer-")
    try:
        out_dir = os.path.join(work, "out")
        os.mkdir(out_dir)
        out = os.path.join(out_dir, "thumbnail.png")
        status, _, err = run(sandbox_command(exec_line, model, out, size, ro_binds))
        if status != 0:
            return failures + ["the thumbnailer failed in the sandbox (%d): %s" % (status, err.strip())]
        if err:
            failures.append("stderr in the sandbox: %r" % err)
        w, h, channels, pixels = png_file.read_png(out)
        if (w, h, channels) != (size, size, 4):
            failures.append("thumbnail is %dx%d with %d channels" % (w, h, channels))
            return failures
        alpha = pixels[3::4]
        if alpha[0] != 0 or alpha[-1] != 0 or set(alpha) != {0, 255}:
            failures.append("background not transparent (alphas %s)" % sorted(set(alpha)))
        if reference:
            iso = os.path.join(work, "iso.png")
            status, _, err = run([reference, model, iso, "--view", "iso", "--size", "%dx%d" % (size, size)])
            if status != 0:
                failures.append("the reference render failed: %s" % err.strip())
            elif png_file.rgb_of(pixels, 4) != png_file.read_png(iso)[3]:
                failures.append("the thumbnail's colours are not the iso view's")
        # Binary formats that share the extension get no thumbnail.
        binary = os.path.join(work, "voxlap.vxl")
        with open(binary, "wb") as f:
            f.write(struct.pack("<3i", 1024, 1024, 256) + bytes(range(256)) * 4)
        refused = os.path.join(out_dir, "refused.png")
        status, _, err = run(sandbox_command(exec_line, binary, refused, size, ro_binds))
        expected = "vxlrender: %s is not a voxel text file\n" % SANDBOX_INPUT
        if (status, err) != (1, expected):
            failures.append("a binary .vxl gave status %d and %r, not 1 and %r" % (status, err, expected))
        if sorted(os.listdir(out_dir)) != ["thumbnail.png"]:
            failures.append("left in the output folder: %s" % sorted(os.listdir(out_dir)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--thumbnailer", required=True)
    parser.add_argument("--model", required=True)
    parser.add_argument("--size", type=int, default=128)
    parser.add_argument("--reference", default=None)
    parser.add_argument("--ro-bind", action="append", default=[])
    args = parser.parse_args()
    failures = check(args.thumbnailer, os.path.abspath(args.model), args.size,
                     args.reference, args.ro_bind)
    for failure in failures:
        print("check_thumbnailer.py: %s" % failure, file=sys.stderr)
    if not failures:
        print("check_thumbnailer.py: thumbnail made in the sandbox; binary file refused")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
