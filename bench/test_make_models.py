#!/usr/bin/env python3
"""Checks the benchmark model generator: every kind writes exactly COUNT
voxels that the viewer's file format accepts, the same bytes on every run and
every machine (pinned by checksum: a change here changes every recorded
benchmark figure), and another seed gives another model.

    python3 bench/test_make_models.py PATH/TO/make_models
"""

import hashlib
import subprocess
import sys
import unittest

GENERATOR = None

# md5 of `make_models KIND 1000 7`, from the first version of the generator.
PINNED = {
    "cloud": "03677277e3096cb6b449ccea0f72db2a",
    "ball": "0abb73f1a1996f1fc8ed1185f27f38bc",
    "terrain": "c31f39db6dfc9c5355f96ffd755812fd",
}


def generate(kind, count, seed=7):
    return subprocess.run([GENERATOR, kind, str(count), str(seed)], check=True,
                          capture_output=True, timeout=120).stdout


class MakeModels(unittest.TestCase):
    def test_every_kind_writes_exactly_count_voxels_of_six_numbers(self):
        for kind in PINNED:
            for count in (0, 1, 20, 1000, 54321):
                with self.subTest(kind=kind, count=count):
                    lines = generate(kind, count).decode("ascii").splitlines()
                    header = lines[0].split()
                    self.assertEqual(int(header[0]), count)
                    self.assertGreater(float(header[1]), 0)
                    self.assertEqual(len(lines), count + 1)
                    for line in lines[1:]:
                        fields = line.split()
                        self.assertEqual(len(fields), 6, line)
                        [float(f) for f in fields[:3]]
                        self.assertTrue(all(0 <= int(c) <= 255 for c in fields[3:]), line)

    def test_output_is_pinned_and_the_seed_matters(self):
        for kind, digest in PINNED.items():
            with self.subTest(kind=kind):
                self.assertEqual(hashlib.md5(generate(kind, 1000)).hexdigest(), digest)
        self.assertNotEqual(generate("cloud", 1000, 7), generate("cloud", 1000, 8))

    def test_ball_voxels_are_distinct(self):
        lines = generate("ball", 5000).decode("ascii").splitlines()[1:]
        centres = {tuple(line.split()[:3]) for line in lines}
        self.assertEqual(len(centres), 5000)


if __name__ == "__main__":
    GENERATOR = sys.argv.pop(1)
    unittest.main()
