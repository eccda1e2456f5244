#!/usr/bin/env python3
"""The stack the asset importer spends on each level of a scene's nesting,
and the bytes of file a level takes: what vxlconv sizes the importer's stack
by (bytes of stack per byte of file). Writes deep scenes with
tools/make_scenes.py at several depths, runs build/bench/import_stack on
each and fits a line through (depth, stack touched).

    python3 bench/import_stack.py [--tool build/bench/import_stack]
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import make_scenes  # noqa: E402

DEPTHS = (2000, 4000, 8000, 16000)


def slope(xs, ys):
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default=os.path.join(HERE, "..", "build", "bench", "import_stack"))
    args = parser.parse_args()
    print("%-8s %14s %14s %16s" % ("format", "stack/level", "file/level", "stack/file byte"))
    with tempfile.TemporaryDirectory(prefix="import-stack-") as tmp:
        for name, make, ext in (("glTF", make_scenes.deep_gltf, "gltf"),
                                ("COLLADA", make_scenes.deep_collada, "dae"),
                                ("FBX", make_scenes.deep_fbx, "fbx")):
            stacks, sizes = [], []
            for depth in DEPTHS:
                path = os.path.join(tmp, "deep%d.%s" % (depth, ext))
                data = make(depth)
                with open(path, "wb") as f:
                    f.write(data)
                done = subprocess.run([args.tool, path], stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL, check=True, timeout=300)
                stacks.append(int(done.stdout))
                sizes.append(len(data))
            per_level, file_per_level = slope(DEPTHS, stacks), slope(DEPTHS, sizes)
            print("%-8s %14.0f %14.1f %16.1f" % (name, per_level, file_per_level,
                                                  per_level / file_per_level))


if __name__ == "__main__":
    main()
