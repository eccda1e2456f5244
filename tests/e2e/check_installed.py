"""Checks an installed voxscope from the PATH: it opens a model under a
private Xvfb, and the picture shows it (enough lit pixels, several colours,
centred). Saves the screenshot given by --screenshot.

    python3 tests/e2e/check_installed.py --model PATH --screenshot OUT.png [--program voxscope]
"""

import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", required=True)
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--program", default="voxscope")
    args = parser.parse_args()
    if shutil.which(args.program) is None:
        sys.exit("check_installed: %s is not on the PATH" % args.program)
    with harness.XServer("1024x768") as server:
        viewer = harness.Viewer(server, [args.program, "-geometry", "480x480+0+0", args.model])
        try:
            wid = viewer.find_window(args.program)
            harness.wait_for_frame(server, wid)
            shot = harness.wait_for_stable(server, wid)
            server.save_png(wid, args.screenshot)
            lit = shot.nonblack_count() / (shot.width * shot.height)
            colours = {p for p in shot.pixels() if p != (0, 0, 0)}
            cx, cy = harness.bbox_centre(shot.bbox())
            problems = []
            if not 0.05 < lit < 0.9:
                problems.append("%.1f%% of the window lit" % (100 * lit))
            if len(colours) < 3:
                problems.append("only %d colours" % len(colours))
            if abs(cx - 240) > 60 or abs(cy - 240) > 60:
                problems.append("model centred at (%d, %d)" % (cx, cy))
            if viewer.stderr():
                problems.append("stderr: %r" % viewer.stderr())
            if problems:
                sys.exit("check_installed: %s: %s" % (args.model, "; ".join(problems)))
            print("check_installed: %s shows %s (%.0f%% lit, %d colours); screenshot %s"
                  % (args.program, args.model, 100 * lit, len(colours), args.screenshot))
        finally:
            viewer.kill()


if __name__ == "__main__":
    main()
