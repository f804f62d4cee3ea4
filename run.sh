#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts lun
# with the default application home (~/.local/share/tamrix-lun unless
# $LUN_HOME or --home says otherwise). lun prints the address of the search
# page with this run's IDCODE; Ctrl-C ends it cleanly.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install_deps.sh
cmake --preset release >/dev/null
cmake --build --preset release

exec build/release/bin/lun "$@"
