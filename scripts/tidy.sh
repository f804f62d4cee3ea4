#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: the bug-prone and performance families and
# Google naming) over the program sources, with the compile commands of the
# asan build (run ./test.sh or configure the asan preset first). Prints the
# findings and exits 1 when there are any. About ten minutes on two cores,
# so it is not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/asan/compile_commands.json ] || { echo "tidy.sh: configure the asan preset first" >&2; exit 2; }
out=$(git ls-files '*.cpp' | grep -v -E '_test\.cpp$|^(fuzz|bench|tests)/' |
  xargs -P2 -n8 clang-tidy -p build/asan --quiet 2>/dev/null |
  grep -E 'warning:|error:' | grep -v 'Wno-restrict' || true)
if [ -n "$out" ]; then
  echo "$out"
  exit 1
fi
echo "tidy.sh: no findings"
