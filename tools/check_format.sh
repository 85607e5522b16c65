#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (the repo's
# .clang-format) would make of it. Files added later are covered through git.
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format}
mapfile -t files < <(git ls-files '*.cc' '*.h')
if [ ${#files[@]} -eq 0 ]; then
  echo "check_format: no C++ files tracked"
  exit 0
fi
"$format" --version
"$format" --dry-run -Werror "${files[@]}"
echo "check_format: ${#files[@]} files formatted"
