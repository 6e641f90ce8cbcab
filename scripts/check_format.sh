#!/usr/bin/env bash
# Checks that every C++ source of the repository is formatted with the repository's
# .clang-format; lists the files that are not. Fix them with: clang-format -i FILE...
set -uo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/tavo-format.$$; then
  grep -E '^[^ ].*: (error|warning):' /tmp/tavo-format.$$ | cut -d: -f1 | sort -u |
    sed 's/^/not formatted: /'
  rm -f /tmp/tavo-format.$$
  echo "check_format: run clang-format -i on the files above" >&2
  exit 1
fi
rm -f /tmp/tavo-format.$$
echo "check_format: ${#files[@]} files formatted"
