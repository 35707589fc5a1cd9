#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted by .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.hpp' '*.h' 2>/dev/null || find src sim tools tests fuzz bench -name '*.[ch]pp')
[[ -z "$files" ]] && exit 0
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
