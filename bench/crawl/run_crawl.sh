#!/usr/bin/env bash
# The whole crawl pipeline on the benchmark corpus (24,700 plain-text files,
# 99 MB): lundb crawl walks the corpus into the queue table and indexes it
# with the crawler's own threads and the real crawl service, then prints the
# figures and the time of each stage. See README.md.
#
# Usage: bench/crawl/run_crawl.sh [CORPUS]   (default /tmp/corpus)
# Environment: WORK (scratch folder, default /tmp/lun-crawl-bench; emptied),
# PORT (the crawl service's port, default 18485: a service of the
# application's own port may belong to a running lun or a test), SKIP_BUILD=1
# to use the release build as it is.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
CORPUS=${1:-/tmp/corpus}
WORK=${WORK:-/tmp/lun-crawl-bench}
PORT=${PORT:-18485}

if [[ ! -d "$CORPUS" ]]; then
  CORPUS="$CORPUS" bash "$REPO/../shared/bench/build_corpus.sh"
fi
if [[ "${SKIP_BUILD:-0}" != 1 ]]; then
  (cd "$REPO" && cmake --preset release >/dev/null && cmake --build build/release --target lundb lundb-crawl luncrawl -j2)
fi
# The project's table folders sit beside its file: a folder of their own
# keeps them together and makes every run start from an empty database.
rm -rf "$WORK"
mkdir -p "$WORK"
"$REPO/build/release/bin/lundb" crawl "$WORK/crawl.db" "$CORPUS" --port "$PORT" | grep -v ' files indexed, '
"$REPO/build/release/bin/lundb" stat "$WORK/crawl.db" | grep '^table'
