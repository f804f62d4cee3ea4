#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts lun.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install_deps.sh
cmake --preset release >/dev/null
cmake --build --preset release

if [ -x build/release/app/lun ]; then
  exec build/release/app/lun "$@"
fi
echo "built into build/release:"
find build/release -maxdepth 3 -type f -executable ! -name '*.so' ! -path '*CMakeFiles*' | sort
echo "(lun itself arrives with the application core)"
