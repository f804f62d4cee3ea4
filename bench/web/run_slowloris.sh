#!/usr/bin/env bash
# Slow clients against the web server (slowhttptest, Debian package): slow
# headers (slowloris), slow body and slow read, each for SECONDS, while a
# probe asks for a small file once a second on a fresh connection. Reports
# the probe's success and worst time, and the server's descriptors before and
# after. The server runs with a 10 s idle time-out.
# Usage: bench/web/run_slowloris.sh [BUILD_DIR] [SECONDS]   (BUILD_DIR: build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
seconds=${2:-60}
command -v slowhttptest >/dev/null || { echo "slowhttptest is missing: apt-get install -y slowhttptest"; exit 1; }
source bench/web/bench_server.sh
start_bench_server "$build" 10000
fds() { ls /proc/$pid/fd | wc -l; }
echo "descriptors at rest: $(fds)"

for mode in -H -B -X; do
  ( for _ in $(seq "$seconds"); do
      curl -s -o /dev/null -w '%{http_code} %{time_total}\n' --max-time 5 "http://127.0.0.1:$port/B/small.bin" || echo "000 5"
      sleep 1
    done ) > "$work/probe" &
  probe=$!
  if [ "$mode" = "-X" ]; then
    # slow read of the large file: tiny windows, a few bytes every 5 s
    slowhttptest -X -c 200 -r 50 -l "$seconds" -k 2 -n 5 -w 10 -y 20 -z 32 -p 3 \
      -u "http://127.0.0.1:$port/B/big.bin" > "$work/slow" 2>&1 || true
  else
    slowhttptest $mode -c 200 -r 50 -i 10 -l "$seconds" -t POST -p 3 \
      -u "http://127.0.0.1:$port/B/small.bin" > "$work/slow" 2>&1 || true
  fi
  wait "$probe"
  total=$(wc -l < "$work/probe")
  ok=$(grep -c '^200 ' "$work/probe" || true)
  worst=$(awk '{ if ($2 > w) w = $2 } END { print w }' "$work/probe")
  echo "mode $mode: probe $ok/$total answered 200, worst probe time ${worst}s; peak threads $(awk '/^Threads:/{print $2}' /proc/$pid/status) now"
  grep -E 'service available|Exit status' "$work/slow" | tail -2 || true
  sleep 12  # the idle time-out closes what slowhttptest left open
  echo "   descriptors afterwards: $(fds)"
done
