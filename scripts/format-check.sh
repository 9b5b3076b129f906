#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format; with --fix, formats them.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format-check: clang-format is not installed" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run -Werror "$f" 2>/dev/null; then
    echo "format-check: $f does not follow .clang-format (scripts/format-check.sh --fix)" >&2
    bad=1
  fi
done
[ "$bad" = 0 ] && echo "format-check: ${#files[@]} files follow .clang-format"
exit "$bad"
