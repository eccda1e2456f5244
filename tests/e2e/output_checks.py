"""What the output-file tests of vxlconv and vxlrender share: paths that name
no regular file, the programs' temporary files, runs under a file-size limit,
on a full disk and interrupted mid-write."""

import os
import resource
import shutil
import socket
import stat
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402

RUN_TIMEOUT = 120.0
EARLIER = b"an earlier output\n"


def temporaries(folder, program):
    """The program's temporary files left in `folder`."""
    return sorted(n for n in os.listdir(folder) if n.startswith("." + program + "-"))


def not_regular_outputs(folder):
    """(path, kind) of outputs that are no regular file and that any user can
    make or name: a FIFO, a socket, a directory and /dev/null."""
    fifo = os.path.join(folder, "fifo-out")
    os.mkfifo(fifo)
    sock_path = os.path.join(folder, "socket-out")
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(sock_path)
    sock.close()
    directory = os.path.join(folder, "dir-out")
    os.mkdir(directory)
    return [(fifo, "a FIFO"), (sock_path, "a socket"), (directory, "a directory"),
            ("/dev/null", "a character device")]


def device_outputs(test, folder):
    """A device node of our own and /dev/full, as (path, kind); skips the
    test unless it runs as root, the only user for whom replacing a device
    could happen at all."""
    if os.geteuid() != 0:
        test.skipTest("not root: device nodes other than /dev/null are tried only as root")
    node = os.path.join(folder, "device-out")
    os.mknod(node, 0o600 | stat.S_IFCHR, os.makedev(1, 3))
    return [(node, "a character device"), ("/dev/full", "a character device")]


class KeepDevice:
    """Around a run that names a system device as its output: should the
    program replace it (the fault the tests look for, which as root happened
    to /dev/null and /dev/full), the node is made again as it was, so that a
    failing test does not leave the machine without it."""

    def __init__(self, path):
        self.path = path

    def __enter__(self):
        self.before = os.stat(self.path)
        return self

    def __exit__(self, *exc):
        try:
            now = os.lstat(self.path)
            if (now.st_mode, now.st_rdev) == (self.before.st_mode, self.before.st_rdev):
                return False
        except FileNotFoundError:
            pass
        if not (stat.S_ISCHR(self.before.st_mode) or stat.S_ISBLK(self.before.st_mode)):
            return False
        if os.path.lexists(self.path):
            os.remove(self.path)
        os.mknod(self.path, self.before.st_mode, self.before.st_rdev)
        os.chmod(self.path, stat.S_IMODE(self.before.st_mode))
        return False


def assert_outputs_refused(test, program, run_on, outputs):
    """For each (path, kind) of `outputs`, `run_on(path)` must give status 1
    and exactly "PROGRAM: cannot write PATH: it is KIND", leave what the path
    names as it was (type, device numbers, inode) and no temporary file."""
    for path, kind in outputs:
        with test.subTest(kind=kind, path=path):
            before = os.stat(path)
            with KeepDevice(path):
                status, stdout, stderr = run_on(path)
            test.assertEqual((status, stdout, stderr),
                             (1, "", "%s: cannot write %s: it is %s\n" % (program, path, kind)))
            after = os.stat(path)
            test.assertEqual((after.st_mode, after.st_rdev, after.st_ino),
                             (before.st_mode, before.st_rdev, before.st_ino))
            test.assertEqual(temporaries(os.path.dirname(path), program), [])


def run(args, timeout=RUN_TIMEOUT, file_limit=None, env=None):
    """(status, stdout, stderr) of `args`, optionally under a file-size limit
    of `file_limit` bytes."""

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))

    done = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, env=env,
                          preexec_fn=limit if file_limit else None)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def write_earlier(path):
    with open(path, "wb") as f:
        f.write(EARLIER)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def interrupt(test, args, folder, program, sig, env=None, writing=True):
    """Starts `args`, waits (with a deadline) for its temporary file in
    `folder`, holding bytes when `writing` (the output is being written),
    then sends `sig`; the program must end by that signal."""
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env)

    def begun():
        for name in temporaries(folder, program):
            try:
                if not writing or os.path.getsize(os.path.join(folder, name)) > 0:
                    return True
            except OSError:
                pass
        return proc.poll() is not None

    try:
        harness.wait_until(begun, RUN_TIMEOUT, interval=0.002, message="the temporary file")
        test.assertIsNone(proc.poll(), "finished before it could be interrupted")
        proc.send_signal(sig)
        test.assertEqual(proc.wait(timeout=RUN_TIMEOUT), -sig)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def full_disk_run(args_before_output, output_name, bytes_free=65536):
    """Runs PROGRAM ARGS... FOLDER/OUTPUT_NAME with FOLDER a tmpfs of
    `bytes_free` bytes that already holds an earlier OUTPUT_NAME, in a mount
    namespace of its own (needs root and unshare). Returns (output path,
    status, stderr, what the folder holds afterwards, the output's bytes
    afterwards), or None when no such disk can be made here."""
    if os.geteuid() != 0 or not shutil.which("unshare"):
        return None
    script = ('set -e; mkdir -p "$1"; mount -t tmpfs -o size="$2" none "$1" || exit 90; '
              'printf "an earlier output\\n" > "$1/$3"; dir="$1"; out="$1/$3"; shift 3; '
              'set +e; "$@" "$out"; echo "status=$?"; ls -A "$dir"; echo "--"; '
              'cat "$out" 2>/dev/null; exit 0')
    mount_point = "/tmp/voxscope-full-disk-%d-%d" % (os.getpid(), int(time.monotonic() * 1000))
    done = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                           mount_point, str(bytes_free), output_name] + list(args_before_output),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=RUN_TIMEOUT)
    try:
        os.rmdir(mount_point)
    except OSError:
        pass
    if done.returncode != 0 or b"status=" not in done.stdout:
        return None
    head, _, contents = done.stdout.partition(b"\n--\n")
    lines = head.decode().splitlines()
    status = int(lines[0].split("=")[1])
    return (os.path.join(mount_point, output_name), status, done.stderr.decode(errors="replace"),
            lines[1:], contents)


def assert_full_disk_refused(test, program, args_before_output, output_name, bytes_free=65536):
    """On a full disk (full_disk_run) the run must fail with exactly
    "PROGRAM: cannot write OUT: No space left on device", leaving the earlier
    output byte for byte and no temporary file; skips the test where no such
    disk can be made."""
    ran = full_disk_run(args_before_output, output_name, bytes_free)
    if ran is None:
        test.skipTest("no small disk can be mounted here (needs root and unshare)")
    out, status, stderr, left, contents = ran
    test.assertEqual((status, stderr),
                     (1, "%s: cannot write %s: No space left on device\n" % (program, out)))
    test.assertEqual(left, [output_name], "a temporary file was left")
    test.assertEqual(contents, EARLIER)

