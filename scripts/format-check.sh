#!/usr/bin/env bash
# Shows how each tracked C++ file differs from the layout in .clang-format, and fails if any does.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "format-check: clang-format not found (scripts/install-deps.sh format installs it)" >&2
  exit 2
fi

status=0
while IFS= read -r file; do
  if ! "$format" --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" -; then
    status=1
  fi
done < <(git ls-files '*.cpp' '*.h')
if [ "$status" -ne 0 ]; then
  echo "format-check: the files above differ from .clang-format" >&2
fi
exit "$status"
