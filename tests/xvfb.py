"""A private X server for tests: start Xvfb on a free display, wait until it
answers, and stop it again. Used as a module by the end-to-end tests and as a
command by the GL tests:

    python3 tests/xvfb.py [--size 1024x768] -- program args...

runs the program with DISPLAY set to a fresh server and exits with its status.
"""

import argparse
import os
import subprocess
import sys
import time

DEFAULT_SIZE = "1024x768"


def _display_free(number):
    return not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists(
        "/tmp/.X%d-lock" % number
    )


def _answers(display):
    try:
        return (
            subprocess.run(
                ["xdpyinfo", "-display", display],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
                timeout=5,
            ).returncode
            == 0
        )
    except subprocess.TimeoutExpired:
        return False


def start(size=DEFAULT_SIZE, deadline_seconds=20.0):
    """Starts Xvfb with a 24-bit screen of `size`; returns (process, display)."""
    base = 100 + (os.getpid() % 400)
    for offset in range(200):
        number = base + offset
        if not _display_free(number):
            continue
        display = ":%d" % number
        proc = subprocess.Popen(
            ["Xvfb", display, "-screen", "0", size + "x24", "-nolisten", "tcp", "+extension", "GLX"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        end = time.monotonic() + deadline_seconds
        while time.monotonic() < end:
            if proc.poll() is not None:
                break  # lost the race for this number; try the next
            if _answers(display):
                return proc, display
            time.sleep(0.05)
        stop(proc)
    raise RuntimeError("could not start Xvfb")


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
