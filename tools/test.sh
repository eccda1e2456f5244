#!/usr/bin/env bash
# Install everything the tests need, build voxscope (Release) and run the whole
# test suite. Extra arguments go to ctest, e.g. `tools/test.sh -L unit`.
# Tests that need X start their own virtual display, so no DISPLAY is needed.
# Finding no tests at all counts as a failure: a suite that silently stopped
# registering its tests must not pass.
#
# VOXSCOPE_BUILD_DIR picks the build directory (default: build).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build_dir="${VOXSCOPE_BUILD_DIR:-build}"

"$here/build.sh" test

cd "$root"
exec ctest --test-dir "$build_dir" --output-on-failure --timeout 300 --no-tests=error "$@"
