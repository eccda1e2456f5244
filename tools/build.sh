#!/usr/bin/env bash
# Configure and build voxscope (Release) after making sure the packages it needs
# are installed.
#
#   tools/build.sh [build|test]     dependency set to install first (default build)
#
# VOXSCOPE_BUILD_DIR picks the build directory (default: build, at the top of
# the repository).
set -euo pipefail

mode="${1:-build}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build_dir="${VOXSCOPE_BUILD_DIR:-build}"

"$here/deps.sh" "$mode"

cd "$root"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build_dir" -j2
