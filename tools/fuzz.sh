#!/usr/bin/env bash
# Build the fuzz targets with clang and libFuzzer (address and undefined-
# behaviour checks on) and fuzz each for a bounded time, starting from its kept
# corpus in tests/fuzz/corpus/<target>/.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]    default: 30 seconds, every target
#
# New interesting inputs go to a scratch directory, not into the repository;
# a crash, leak or hang stops the run with a non-zero status and leaves the
# input in build-fuzz/artifacts/. Copy such an input into the target's corpus
# directory so the ordinary test run replays it from then on.
#
# VOXSCOPE_FUZZ_BUILD_DIR picks the build directory (default: build-fuzz).
# VOXSCOPE_FUZZ_JOBS runs that many fuzzing processes per target (default 1).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build_dir="${VOXSCOPE_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-30}"
shift || true
jobs="${VOXSCOPE_FUZZ_JOBS:-1}"

"$here/deps.sh" fuzz

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    for source in "$root"/tests/fuzz/*_fuzz.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
    -DVOXSCOPE_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j2 --target "${targets[@]}"

mkdir -p "$build_dir/artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

for target in "${targets[@]}"; do
    corpus="$root/tests/fuzz/corpus/$target"
    work="$scratch/$target"
    mkdir -p "$work"
    echo "fuzz.sh: $target for ${seconds}s from $(find "$corpus" -type f | wc -l) kept inputs"
    # The target's own stderr is closed: refusal messages are expected output,
    # not findings, and libFuzzer still prints its reports. Inputs are capped
    # at 64 KiB; -rss_limit_mb catches allocations the data does not back.
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536
          -close_fd_mask=2 -print_final_stats=1
          -artifact_prefix="$build_dir/artifacts/$target-")
    if [[ "$jobs" -gt 1 ]]; then
        args+=(-fork="$jobs")
    fi
    log="$build_dir/artifacts/$target.log"
    if ! "$build_dir/tests/fuzz/$target" "${args[@]}" "$work" "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz.sh: $target found a failure; see $build_dir/artifacts/ and $log" >&2
        exit 1
    fi
    # The last progress line and the final statistics say how much was tried.
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    grep -E '^stat::' "$log" || true
done
