"""Every option a program's --help prints is described in its manual page:
vxlconv and vxlrender are run, their help read as they print it, and each
option looked up in docs/man/PROGRAM.1, so an option added to one and not the
other fails here.

    test_man_pages.py --vxlconv build/vxlconv --vxlrender build/vxlrender
                      --man-dir docs/man
"""

import argparse
import os
import re
import subprocess
import sys
import unittest

PROGRAMS = {}
MAN_DIR = None
RUN_TIMEOUT = 30.0

# An option as help texts write it: two dashes and a lower-case word that may
# hold dashes, not preceded by a letter, digit or dash.
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9]*(?:-[a-z0-9]+)*")


def help_options(program):
    """The options `program --help` prints, in the order first printed."""
    done = subprocess.run([program, "--help"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    if done.returncode != 0 or done.stderr:
        raise AssertionError("%s --help: status %d, stderr %r"
                             % (program, done.returncode, done.stderr))
    found = []
    for option in OPTION.findall(done.stdout.decode()):
        if option not in found:
            found.append(option)
    return found


def man_text(path):
    """The manual page's source with roff's escaped dashes and font changes
    undone, so that options read as they are typed."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = text.replace("\\-", "-")
    return re.sub(r"\\f(?:\[[^\]]*\]|\(..|.)", "", text)


def options_missing(options, text):
    """The options that `text` does not name as whole words."""
    return [o for o in options
            if not re.search(r"(?<![\w-])" + re.escape(o) + r"(?![\w-])", text)]


class HelpOptionsInManPages(unittest.TestCase):
    def check(self, name):
        options = help_options(PROGRAMS[name])
        # A help text that yields no options would make the check empty.
        self.assertIn("--help", options)
        self.assertGreaterEqual(len(options), 3, options)
        page = os.path.join(MAN_DIR, name + ".1")
        self.assertEqual(options_missing(options, man_text(page)), [],
                         "options %s prints that %s does not describe" % (name, page))

    def test_vxlconv(self):
        self.check("vxlconv")

    def test_vxlrender(self):
        self.check("vxlrender")

    def test_the_check_sees_a_missing_option(self):
        text = man_text(os.path.join(MAN_DIR, "vxlrender.1"))
        self.assertEqual(options_missing(["--size", "--view"], text), [])
        # Named only inside a longer option, or only without its dashes.
        self.assertEqual(options_missing(["--siz", "--view-all", "--thumbnails"], text),
                         ["--siz", "--view-all", "--thumbnails"])
        self.assertEqual(options_missing(["--usage"], "usage: \\fB\\-\\-size\\fR"), ["--usage"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--vxlconv", required=True)
    parser.add_argument("--vxlrender", required=True)
    parser.add_argument("--man-dir", required=True)
    args, rest = parser.parse_known_args()
    PROGRAMS = {"vxlconv": os.path.abspath(args.vxlconv),
                "vxlrender": os.path.abspath(args.vxlrender)}
    MAN_DIR = os.path.abspath(args.man_dir)
    sys.argv = [sys.argv[0]] + rest
    unittest.main()
