#!/usr/bin/env bash
# The results page over HTTP against a real `lun --headless` (see RESULTS.md).
#
#   bench/pages/run_results_page.sh HOME [RUNS [SECONDS]]
#
# HOME is an application home whose index already holds the corpus (made with
# `lun --home HOME --index-once /tmp/corpus`, its Setting limited to that
# folder). Starts lun on HOME with its own web and crawl-service ports, waits
# for its start-up scan to finish, warms up with one pass over the queries,
# then runs results_page_bench RUNS times (default 3) at 1 and at 8
# connections, SECONDS each (default 10), printing the load average before
# every run. Programs from BIN (default build/release/bin) and BENCH (default
# build/release/bench/pages/results_page_bench).
set -u
HOME_DIR=${1:?usage: run_results_page.sh HOME [RUNS [SECONDS]]}
RUNS=${2:-3}
SECS=${3:-10}
BIN=${BIN:-build/release/bin}
BENCH=${BENCH:-build/release/bench/pages/results_page_bench}
QUERIES=$(dirname "$0")/../corpus/queries.txt
OUT=$(mktemp -d)
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
LUN_CRAWL_PORT=$(free_port) XDG_CONFIG_HOME=$OUT/config \
  "$BIN/lun" --headless --home "$HOME_DIR" --port "$(free_port)" >"$OUT/lun.out" 2>&1 &
LUN_PID=$!
trap 'kill "$LUN_PID" 2>/dev/null; wait "$LUN_PID" 2>/dev/null; rm -rf "$OUT"' EXIT
for _ in $(seq 1 300); do grep -q "IDCODE=" "$OUT/lun.out" && break; sleep 0.1; done
URL=$(grep -o 'http://127.0.0.1:[0-9]*/LUN/home.shl?IDCODE=[0-9A-Za-z-]*' "$OUT/lun.out" | head -1)
[ -n "$URL" ] || { echo "lun did not start:"; cat "$OUT/lun.out"; exit 1; }
PORT=$(echo "$URL" | sed 's|http://127.0.0.1:\([0-9]*\)/.*|\1|')
CODE=${URL##*IDCODE=}
for _ in $(seq 1 120); do grep -q "扫描完成" "$OUT/lun.out" && break; sleep 1; done
grep -q "扫描完成" "$OUT/lun.out" || echo "(the start-up scan had not finished after 2 minutes: measured while it runs)"
"$BENCH" "$PORT" "$CODE" "$QUERIES" 1 5 0 >/dev/null
for c in 1 8; do
  for r in $(seq 1 "$RUNS"); do
    echo "== run $r, $(uptime | sed 's/.*load average/load average/')"
    "$BENCH" "$PORT" "$CODE" "$QUERIES" "$c" "$SECS" "$r"
  done
done
echo "== after: $(uptime | sed 's/.*load average/load average/'); lun peak RSS $(grep VmHWM /proc/$LUN_PID/status | awk '{print $2, $3}')"
