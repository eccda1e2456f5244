#!/usr/bin/env bash
# Fails when a C++ file of the project is not in clang-format's style.
#   tools/check_format.sh          check (used by the test suite)
#   tools/check_format.sh --fix    reformat in place
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' 2>/dev/null ||
    find src tests bench -name '*.cpp' -o -name '*.h')
if [[ "${1:-}" == "--fix" ]]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run -Werror "${files[@]}"
    echo "clang-format: ${#files[@]} files in style"
fi
