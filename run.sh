#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts lun
# with the default application home (~/.local/share/tamrix-lun unless
# $LUN_HOME or --home says otherwise). lun prints the address of the search
# page with this run's IDCODE; Ctrl-C ends it cleanly.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install_deps.sh
cmake --preset release >/dev/null
# Only what a user runs: the programs and the page archive, not the tests
# and benchmarks the configuration also holds.
cmake --build --preset release --target lun luncrawl lundb lundb-crawl lunscript lun_pages_archive

# The desktop entry and icon, so that lun can be started from the desktop's
# applications menu (only where the shell was built).
if [ -f shell/install_desktop_entry.sh ] && [ -d build/release/shell ]; then
  bash shell/install_desktop_entry.sh build/release/bin/lun || echo "run.sh: the desktop entry could not be installed" >&2
fi

exec build/release/bin/lun "$@"
