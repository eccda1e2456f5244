"""A private X server for tests: start Xvfb on a free display, wait until it
answers, and stop it again. Used as a module by the end-to-end tests and as a
command by the GL tests:

    python3 tests/xvfb.py [--size 1024x768] -- program args...

runs the program with DISPLAY set to a fresh server and exits with its status.
"""

import argparse
import os
import select
import subprocess
import sys
import time

DEFAULT_SIZE = "1024x768"


def start(size=DEFAULT_SIZE, timeout=30.0):
    """Starts Xvfb with a 24-bit screen of `size`; returns (process, display).

    Xvfb picks a free display number itself and writes it to a pipe once it
    accepts connections: probing numbers from outside can end up talking to
    another test's server that took the same number first. -noreset keeps the
    server from resetting whenever its last client disconnects, which would
    refuse a client connecting during the reset; tests connect and disconnect
    short-lived clients (xdotool, import, the viewer) all the time.
    """
    read_end, write_end = os.pipe()
    try:
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size + "x24",
             "-nolisten", "tcp", "-noreset", "+extension", "GLX"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            pass_fds=(write_end,),
        )
    finally:
        os.close(write_end)
    try:
        text = b""
        end = time.monotonic() + timeout
        while not text.endswith(b"\n"):
            left = end - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                stop(proc)
                raise RuntimeError("Xvfb did not report a display within %gs" % timeout)
            chunk = os.read(read_end, 64)
            if not chunk:
                stop(proc)
                raise RuntimeError("Xvfb exited with status %s" % proc.wait())
            text += chunk
    finally:
        os.close(read_end)
    return proc, ":" + text.decode().strip()


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", default=DEFAULT_SIZE)
    parser.add_argument("--timeout", type=float, default=300.0)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no program given")
    proc, display = start(args.size)
    try:
        env = dict(os.environ, DISPLAY=display)
        try:
            return subprocess.run(command, env=env, timeout=args.timeout).returncode
        except subprocess.TimeoutExpired:
            print("xvfb.py: %s timed out after %gs" % (command[0], args.timeout), file=sys.stderr)
            return 124
    finally:
        stop(proc)


if __name__ == "__main__":
    sys.exit(main())
