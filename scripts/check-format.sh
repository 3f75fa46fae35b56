#!/usr/bin/env bash
# Checks the tree's form as CI does: every C++ file as .clang-format wants it
# (clang-format --dry-run -Werror), and every shell script of scripts/ and
# .ci/ clean under shellcheck. Prints what differs and exits 1; changes
# nothing. To fix the C++ side: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh checks

status=0
mapfile -t cpp < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${cpp[@]}"; then
  echo "check-format: the C++ files above differ from .clang-format (clang-format -i FILE fixes them)" >&2
  status=1
fi

mapfile -t shell < <(git ls-files 'scripts/*.sh' 'scripts/**/*.sh' '.ci/*')
if ! shellcheck -x "${shell[@]}"; then
  echo "check-format: shellcheck found the problems above" >&2
  status=1
fi
[ "$status" -ne 0 ] || echo "check-format: ${#cpp[@]} C++ files and ${#shell[@]} shell scripts are clean"
exit "$status"
