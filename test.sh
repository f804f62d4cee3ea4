#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install_deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan "$@"
