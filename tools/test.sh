#!/usr/bin/env bash
# Install everything the tests need, build voxscope (Release), run the whole
# test suite, then run the unit, GL, fuzz-replay, soak and some end-to-end
# tests again in a build with the address, leak and undefined-behaviour sanitizers
# (tools/sanitize.sh; VOXSCOPE_SANITIZE_TESTS=0 skips it), then fuzz every fuzz
# target for a short, bounded time (VOXSCOPE_FUZZ_SECONDS each, default 30; 0
# skips it), then build, install and try the Debian package
# (tools/test_package.sh). Extra arguments go to ctest and skip the sanitizer,
# fuzzing and package stages, e.g. `tools/test.sh -L unit`. Each stage's duration is printed.
# Tests that need X start their own virtual display, so no DISPLAY is needed,
# and ctest runs as many at once as the machine has cores
# (VOXSCOPE_TEST_JOBS sets how many; 1 runs them one by one).
# Finding no tests at all counts as a failure: a suite that silently stopped
# registering its tests must not pass.
#
# VOXSCOPE_BUILD_DIR picks the build directory (default: build).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build_dir="${VOXSCOPE_BUILD_DIR:-build}"

stage_start=$SECONDS
stage_done() {
    echo "test.sh: $1 took $((SECONDS - stage_start)) s"
    stage_start=$SECONDS
}

"$here/build.sh" test

cd "$root"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300 --no-tests=error \
    --parallel "${VOXSCOPE_TEST_JOBS:-$(nproc)}" "$@"
stage_done "build and tests"

if [[ $# -eq 0 && "${VOXSCOPE_SANITIZE_TESTS:-1}" != 0 ]]; then
    "$here/sanitize.sh"
    stage_done "sanitizer build and tests"
fi

fuzz_seconds="${VOXSCOPE_FUZZ_SECONDS:-30}"
if [[ $# -eq 0 && "$fuzz_seconds" != 0 ]]; then
    "$here/fuzz.sh" "$fuzz_seconds"
    stage_done "fuzzing"
fi

# The Debian package: built, installed, run from the PATH, removed
# (VOXSCOPE_PACKAGE_TEST=0 skips it; without root it says so and skips).
if [[ $# -eq 0 && "${VOXSCOPE_PACKAGE_TEST:-1}" != 0 ]]; then
    "$here/test_package.sh"
    stage_done "package"
fi
