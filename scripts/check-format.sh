#!/usr/bin/env bash
# Fails when a C++ source of ours differs from .clang-format (clang-format 14).
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'host/*.cpp' 'host/*.h' 'tests/*.cpp' 'tests/*.h' \
  'bench/*.cpp' 'fuzz/*.cpp' 'fuzz/*.h')
if [ "${1:-}" = "--fix" ]; then clang-format -i "${files[@]}"; exit 0; fi
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files follow .clang-format"
