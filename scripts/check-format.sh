#!/usr/bin/env bash
# Checks that every C++ source of ours is formatted as .clang-format says
# (Debian's clang-format); with --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
if ! command -v "$CLANG_FORMAT" >/dev/null; then
  echo "check-format: $CLANG_FORMAT not found (Debian package clang-format; scripts/deps.sh installs it)" >&2
  exit 1
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
else
  mapfile -t files < <(find . -path './build*' -prune -o -path ./dist -prune -o \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -type f -print | sed 's#^\./##' | sort)
fi
if [ "${1:-}" = "--fix" ]; then
  "$CLANG_FORMAT" -i "${files[@]}"
else
  "$CLANG_FORMAT" --dry-run -Werror "${files[@]}"
  echo "check-format: ${#files[@]} files formatted as .clang-format says"
fi
