#!/usr/bin/env bash
# Usage: crawl_kill_test.sh PATH/TO/lun PATH/TO/lundb [KILLS] [FILES]
set -u
LUN=$1
LUNDB=$2
KILLS=${3:-50}
FILES=${4:-600}
. "$(dirname "$0")/../lib/scratch_home.sh"
RANDOM=${CRAWL_KILL_SEED:-7}
mkdir -p "$DIR/home"
for i in $(seq 1 "$FILES"); do
  d="$DIR/docs/d$((i % 7))/e$((i % 3))"
  mkdir -p "$d"
  printf 'kill test document %d 断电文档\n' "$i" >"$d/f$i.txt"
done
cat >"$DIR/home/Setting" <<INI
[检索设置]
允许扫描=|$DIR/docs|
文档类型=|TXT|
AutoStart=FALSE
INI

# lun on the test's home, its output in $DIR/out.
start_home() { start_lun "$DIR/home" "$DIR/out" "$@"; }
started() { grep -q "搜索页面" "$DIR/out"; }

internal=0 external=0
for k in $(seq 1 "$KILLS"); do
  if [ $((k % 2)) = 1 ]; then
    # The crawler's kill point: right after an entry is taken, before its
    # record is written (where entries used to be lost).
    start_home LUN_KILL_ODDS=$((5 + RANDOM % 40)) LUN_KILL_ONLY=crawler-entry-taken
    for _ in $(seq 1 100); do kill -0 "$LUN_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$LUN_PID" 2>/dev/null
    wait "$LUN_PID" 2>/dev/null
    internal=$((internal + 1))
  else
    start_home
    for _ in $(seq 1 300); do started && break; sleep 0.1; done
    sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
    kill -9 "$LUN_PID" 2>/dev/null
    wait "$LUN_PID" 2>/dev/null
    external=$((external + 1))
  fi
done

# A normal run to the end: wait until the queue is empty and every file is
# found (lundb reads the database beside the running lun).
count() {
  "$LUNDB" query "$DIR/home/Data/local.db" '[文档]:文本内容=断电文档' --size 100000 \
    --fields 完整路径 >"$DIR/paths" 2>&1
  echo "$(grep -c '完整路径:' "$DIR/paths") $(grep '完整路径:' "$DIR/paths" | sort -u | wc -l)"
}
start_home
for _ in $(seq 1 1200); do
  [ "$(count)" = "$FILES $FILES" ] && break
  sleep 0.5
done
kill -TERM "$LUN_PID"
wait "$LUN_PID"
result=$(count)
echo "crawl_kill: $KILLS kills ($internal at the crawler's kill point, $external from outside)," \
  "records/distinct after the last run: $result of $FILES"
if [ "$result" != "$FILES $FILES" ]; then
  echo "FAIL: files missing or twice after the kills"
  tail -20 "$DIR/out"
  exit 1
fi
"$LUNDB" check "$DIR/home/Data/local.db" >"$DIR/check" 2>&1 || { echo "FAIL: lundb check"; cat "$DIR/check"; exit 1; }
echo "crawl_kill: passed"
