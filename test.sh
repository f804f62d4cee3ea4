#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install_deps.sh
# Every source and suite is named in the build lists.
python3 scripts/check_build_lists.py
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan "$@"
