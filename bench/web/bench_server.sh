# Sourced by the web benchmark scripts: builds (if needed) and starts
# web_bench_server in a fresh directory and waits until it serves.
#   start_bench_server BUILD_DIR IDLE_TIMEOUT_MS
# sets: pid (the server), port, work (its directory, removed at exit).
start_bench_server() {
  local build=$1 idle_ms=$2
  local server=$build/bench/web/web_bench_server
  [ -x "$server" ] || cmake --build "$build" --target web_bench_server
  work=$(mktemp -d)
  trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
  "$server" "$work" 0 "$idle_ms" > "$work/out" &
  pid=$!
  until grep -q '^port ' "$work/out" 2>/dev/null; do sleep 0.1; done
  port=$(awk '/^port /{print $2}' "$work/out")
}
