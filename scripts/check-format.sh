#!/usr/bin/env bash
# Fails when a C++ source or header is off the committed .clang-format; lists each such file.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
[ ${#files[@]} -eq 0 ] && exit 0
clang-format-15 --dry-run --Werror "${files[@]}"
