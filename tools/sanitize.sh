#!/usr/bin/env bash
# Build voxscope with AddressSanitizer, LeakSanitizer and UndefinedBehavior-
# Sanitizer (VOXSCOPE_SANITIZE=ON) in its own directory and run the test tiers
# under it: every memory error, leak or undefined behaviour fails its test.
#
#   tools/sanitize.sh [CTEST ARGS...]   default: the unit, gl, fuzz and soak tiers and the e2e tests labelled sanitize
#
# VOXSCOPE_SANITIZE_BUILD_DIR picks the build directory (default: build-asan);
# VOXSCOPE_TEST_JOBS how many tests run at once (default: one a core).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build_dir="${VOXSCOPE_SANITIZE_BUILD_DIR:-$root/build-asan}"

"$here/deps.sh" test

cd "$root"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DVOXSCOPE_SANITIZE=ON \
    -DVOXSCOPE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j2

if [[ $# -eq 0 ]]; then
    set -- -L '^(unit|gl|fuzz|soak|sanitize)$'
fi
ctest --test-dir "$build_dir" --output-on-failure --timeout 600 --no-tests=error \
    --parallel "${VOXSCOPE_TEST_JOBS:-$(nproc)}" "$@"
