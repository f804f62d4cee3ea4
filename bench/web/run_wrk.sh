#!/usr/bin/env bash
# Load figures of the web server with wrk on loopback:
#   requests/s for a 4 KiB file, MB/s for a 100 MiB file (whole, and random
#   1 MiB ranges), at 1, 10 and 50 connections; peak threads and memory.
# Usage: bench/web/run_wrk.sh [BUILD_DIR] [SECONDS]   (BUILD_DIR: build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
seconds=${2:-10}
command -v wrk >/dev/null || { echo "wrk is missing: apt-get install -y wrk"; exit 1; }
source bench/web/bench_server.sh
start_bench_server "$build" 30000
url=http://127.0.0.1:$port

peak_threads=0
sample() {
  while kill -0 "$pid" 2>/dev/null; do
    t=$(awk '/^Threads:/{print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    [ "${t:-0}" -gt "$peak_threads" ] && peak_threads=$t && echo "$t" > "$work/peak"
    sleep 0.05
  done
}
sample &
sampler=$!

rss() { awk '/^VmRSS:/{print $2 " kB"}' /proc/$pid/status; }
echo "== idle: RSS $(rss)"
for round in 1 2 3; do
  echo "== burst $round of 1000 connections at once: $(python3 bench/web/burst.py "$port" 1000)"
  sleep 1
  echo "   after it: RSS $(rss), threads $(awk '/^Threads:/{print $2}' /proc/$pid/status)"
done

for c in 1 10 50; do
  echo "== 4 KiB file, $c connections"
  wrk -t $(( c < 2 ? 1 : 2 )) -c $c -d ${seconds}s --timeout 60s "$url/B/small.bin" | grep -E 'Requests/sec|Transfer/sec|Latency|errors'
done
for c in 1 10 50; do
  echo "== 100 MiB file whole, $c connections"
  wrk -t $(( c < 2 ? 1 : 2 )) -c $c -d ${seconds}s --timeout 60s "$url/B/big.bin" | grep -E 'Requests/sec|Transfer/sec|errors'
  echo "== 100 MiB file, random 1 MiB ranges, $c connections"
  wrk -t $(( c < 2 ? 1 : 2 )) -c $c -d ${seconds}s --timeout 60s -s bench/web/range.lua "$url" | grep -E 'Requests/sec|Transfer/sec|errors'
done
echo "== after the runs: $(grep -E '^(VmRSS|Threads)' /proc/$pid/status | tr '\n' ' ')"
kill -INT "$pid"; wait "$pid" || true
kill "$sampler" 2>/dev/null || true
echo "== peak threads sampled: $(cat "$work/peak" 2>/dev/null || echo '?')"
cat "$work/out"
