#!/usr/bin/env bash
# Usage: lun_run_test.sh PATH/TO/lun PATH/TO/lundb
set -u
LUN=$1
LUNDB=$2
. "$(dirname "$0")/../lib/scratch_home.sh"

# A folder to index, and settings that point lun at it (the settings file
# may be plain INI text). The temporary directory is never indexed, so the
# folder lives outside what lun takes for it.
HOME_DIR=$DIR/home
mkdir -p "$HOME_DIR" "$DIR/docs/sub"
printf '季度销售报告\n' >"$DIR/docs/report.txt"
printf 'meeting notes about budget\n' >"$DIR/docs/sub/notes.txt"
cat >"$HOME_DIR/Setting" <<INI
[检索设置]
允许扫描=|$DIR/docs|
文档类型=|TXT|
AutoStart=FALSE
INI
PORT=$(free_port)
# A crawl service of this test's own (other tests may run lun beside it).
export LUN_CRAWL_PORT=$(free_port)

"$LUN" --help >"$DIR/help" || say_fail "--help exit code"
grep -q -- "--home" "$DIR/help" || say_fail "--help text"
"$LUN" --version | grep -q "0.7020051220" || say_fail "--version"
"$LUN" --bogus >/dev/null 2>&1; [ $? = 2 ] || say_fail "unknown option exit code"

XDG_CONFIG_HOME=$DIR/config "$LUN" --headless --home "$HOME_DIR" --port "$PORT" >"$DIR/out" 2>"$DIR/err" &
LUN_PID=$!
pids+=("$LUN_PID")

# The page address with this run's session code.
for _ in $(seq 1 300); do
  grep -q "搜索页面:" "$DIR/out" && break
  sleep 0.1
done
grep -q "搜索页面: http://127.0.0.1:[0-9]*/LUN/home.shl?IDCODE=" "$DIR/out" || {
  say_fail "no page address"; cat "$DIR/out" "$DIR/err"; }

# A second start with the same home ends at once, silently, with 0.
timeout 20 "$LUN" --headless --home "$HOME_DIR" --port "$(free_port)" >"$DIR/second" 2>&1
[ $? = 0 ] || say_fail "second instance exit code"
[ -s "$DIR/second" ] && { say_fail "second instance printed something"; cat "$DIR/second"; }

PORT=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$DIR/out")
CODE=$(sed -n 's|.*IDCODE=\([0-9A-F-]*\).*|\1|p' "$DIR/out")
# get TARGET: the whole HTTP answer of lun's web server.
get() {
  exec 3<>"/dev/tcp/127.0.0.1/$PORT" || return 1
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
  cat <&3
  exec 3<&-
}
get "/LUN/home.shl?IDCODE=$CODE" >"$DIR/home.html"
grep -q "HTTP/1.0 200" "$DIR/home.html" || { say_fail "home page"; head -20 "$DIR/home.html"; }
grep -q "Tamrix桌面搜索" "$DIR/home.html" || say_fail "home page content"

# The scan finishes ("扫描完成" notice) and the files get indexed.
for _ in $(seq 1 600); do
  grep -q "扫描完成" "$DIR/out" && break
  sleep 0.1
done
grep -q "扫描完成" "$DIR/out" || { say_fail "scan never finished"; cat "$DIR/out"; }

# The search page finds the file ("销售", URL-encoded). The notice can come
# before the last record is searchable on a loaded machine: ask until found.
for _ in $(seq 1 120); do
  get "/LUN/Search.shl?SearchText=%E9%94%80%E5%94%AE&IDCODE=$CODE" >"$DIR/search.html"
  grep -q "report.txt" "$DIR/search.html" && break
  sleep 0.5
done
grep -q "report.txt" "$DIR/search.html" || { say_fail "search page"; grep -i "error\|错误" "$DIR/search.html" | head; }

kill -TERM "$LUN_PID"
wait "$LUN_PID"
[ $? = 0 ] || say_fail "SIGTERM exit code"

"$LUNDB" query "$HOME_DIR/Data/local.db" '[文档]:文本内容=销售' --fields 完整路径 >"$DIR/q1" 2>&1
grep -qF "$DIR/docs/report.txt" "$DIR/q1" || { say_fail "report not found"; cat "$DIR/q1"; }
"$LUNDB" query "$HOME_DIR/Data/local.db" '[文档]:文本内容=budget' --fields 完整路径 >"$DIR/q2" 2>&1
grep -qF "$DIR/docs/sub/notes.txt" "$DIR/q2" || { say_fail "notes not found"; cat "$DIR/q2"; }
"$LUNDB" check "$HOME_DIR/Data/local.db" >"$DIR/check" 2>&1 || { say_fail "database not clean"; cat "$DIR/check"; }

# A pending update takes over at the next start.
mkdir -p "$HOME_DIR/Update"
printf '#!/bin/sh\necho ran >"%s"\n' "$DIR/updater-ran" >"$HOME_DIR/Update/update"
chmod +x "$HOME_DIR/Update/update"
touch "$HOME_DIR/Update/Update.ini"
timeout 20 "$LUN" --headless --home "$HOME_DIR" --port "$(free_port)" >"$DIR/upd" 2>&1
[ $? = 0 ] || say_fail "hand-over exit code"
for _ in $(seq 1 50); do [ -f "$DIR/updater-ran" ] && break; sleep 0.1; done
[ -f "$DIR/updater-ran" ] || say_fail "updater not started"
grep -q "搜索页面" "$DIR/upd" && say_fail "lun started despite a pending update"

rm -rf "$HOME_DIR/Update"

# The number of documents the home page reports for the lun whose output is $1.
indexed_total() {
  PORT=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$1")
  CODE=$(sed -n 's|.*IDCODE=\([0-9A-F-]*\).*|\1|p' "$1")
  get "/LUN/home.shl?IDCODE=$CODE" | sed -n 's|.*id="total">\([0-9]*\)<.*|\1|p'
}
# count_paths HOME QUERY: "records distinct" of the documents QUERY finds.
count_paths() {
  "$LUNDB" query "$1/Data/local.db" "$2" --size 100000 --fields 完整路径 >"$DIR/paths" 2>&1
  echo "$(grep -c '完整路径:' "$DIR/paths") $(grep '完整路径:' "$DIR/paths" | sort -u | wc -l)"
}

# One-shot indexing of chosen folders into the home's index.
mkdir -p "$DIR/once"
printf 'einmal indexiert\n' >"$DIR/once/o.txt"
mkdir -p "$DIR/.hidden"
"$LUN" --home "$HOME_DIR" --index-once "$DIR/once" "$DIR/missing" "$DIR/once/o.txt" "$DIR/.hidden" \
  >"$DIR/once.out" 2>&1 || say_fail "--index-once exit code"
grep -q "完成: 已索引 1 个文件" "$DIR/once.out" || { say_fail "--index-once progress"; cat "$DIR/once.out"; }
# Every root it skips, with the reason.
for skipped in "$DIR/missing: 不存在" "$DIR/once/o.txt: 不是文件夹" "$DIR/.hidden: 路径中有隐藏"; do
  grep -qF "跳过 $skipped" "$DIR/once.out" || { say_fail "--index-once: no reason for $skipped"; cat "$DIR/once.out"; }
done
[ "$(count_paths "$HOME_DIR" '[文档]:文本内容=einmal')" = "1 1" ] || say_fail "--index-once record"

# The crawl service's port held by a listener that is not this lun's
# service: the real luncrawl started by someone else (another token), and,
# when the test runs as root, one of another account. lun sends it no path,
# says so in its log and indexes the files by name only.
LUNCRAWL=$(dirname "$LUN")/luncrawl
mkdir -p "$DIR/squat"
printf 'squattedword in the content\n' >"$DIR/squat/squatfile.txt"
squatters=("env LUN_CRAWL_TOKEN=someone-else")
[ "$(id -u)" = 0 ] && command -v setpriv >/dev/null &&
  squatters+=("setpriv --reuid=65534 --regid=65534 --clear-groups env LUN_CRAWL_TOKEN=x")
n=0
for squatter in "${squatters[@]}"; do
  n=$((n + 1))
  SQUAT_PORT=$(free_port)
  $squatter "$LUNCRAWL" --port "$SQUAT_PORT" --no-follow-parent >/dev/null 2>&1 &
  SQUAT_PID=$!
  pids+=("$SQUAT_PID")
  for _ in $(seq 1 300); do (exec 3<>"/dev/tcp/127.0.0.1/$SQUAT_PORT") 2>/dev/null && break; sleep 0.1; done
  SQUAT_HOME=$DIR/squathome$n
  mkdir -p "$SQUAT_HOME"
  LUN_CRAWL_PORT=$SQUAT_PORT "$LUN" --home "$SQUAT_HOME" --index-once "$DIR/squat" >"$DIR/squat.out" 2>&1 ||
    say_fail "--index-once beside a squatter ($squatter): exit code"
  [ "$(count_paths "$SQUAT_HOME" '[文档]:文件名称=squatfile')" = "1 1" ] ||
    { say_fail "squatter ($squatter): the file is not indexed by name"; cat "$DIR/squat.out"; }
  [ "$(count_paths "$SQUAT_HOME" '[文档]:文本内容=squattedword')" = "0 0" ] ||
    say_fail "squatter ($squatter): text came from a service that is not ours"
  grep -q "数据提取服务" "$SQUAT_HOME/TamrixError.Log" 2>/dev/null ||
    { say_fail "squatter ($squatter): not in the log"; ls "$SQUAT_HOME"; }
  kill -9 "$SQUAT_PID" 2>/dev/null
  wait "$SQUAT_PID" 2>/dev/null
done

# kill -9 in the middle of the first scan (a kill point in the engine's
# record append, which the walk's queue and the index thread both reach),
# then a normal start: every document ends up indexed exactly once.
KILL_HOME=$DIR/killhome
mkdir -p "$KILL_HOME" "$DIR/many"
for i in $(seq 1 300); do printf 'document number %d 文档编号\n' "$i" >"$DIR/many/f$i.txt"; done
cat >"$KILL_HOME/Setting" <<INI
[检索设置]
允许扫描=|$DIR/many|
文档类型=|TXT|
AutoStart=FALSE
INI
start_lun "$KILL_HOME" "$DIR/kill1" LUN_KILL_ODDS=40 LUN_KILL_ONLY=record-offset-written
wait "$LUN_PID"
[ $? = 137 ] || say_fail "the kill point did not end the first run"
start_lun "$KILL_HOME" "$DIR/kill2"
wait_for "$DIR/kill2" "搜索页面" 60 || say_fail "restart after kill"
if grep -q "扫描信息" "$DIR/kill2"; then
  grep -q "您上次终止了扫描过程" "$DIR/kill2" || { say_fail "continue notice"; cat "$DIR/kill2"; }
fi
for _ in $(seq 1 240); do [ "$(indexed_total "$DIR/kill2")" = 300 ] && break; sleep 0.5; done
kill -TERM "$LUN_PID"; wait "$LUN_PID"
[ "$(count_paths "$KILL_HOME" '[文档]:文本内容=文档编号')" = "300 300" ] || {
  say_fail "after the kill: $(count_paths "$KILL_HOME" '[文档]:文本内容=文档编号') (records, distinct)"
  tail -30 "$DIR/kill2"; cat "$KILL_HOME/LUNError.Log" 2>/dev/null; }

# A crash in the scan thread: one line in LUNError.Log, and the program
# starts again by itself (the restart guard is shortened for the test).
CRASH_HOME=$DIR/crashhome
mkdir -p "$CRASH_HOME"
cp "$HOME_DIR/Setting" "$CRASH_HOME/Setting"
start_lun "$CRASH_HOME" "$DIR/crash" LUN_CRASH_POINT=scan LUN_CRASH_ONCE="$DIR/crashed-once" \
  LUN_RESTART_GUARD_S=0 ASAN_OPTIONS=handle_segv=0
# Two start-ups (the crash may come before the first has printed the page
# address), and the restarted one serves.
for _ in $(seq 1 300); do
  [ "$(grep -c "启动成功" "$DIR/crash")" -ge 2 ] && [ "$(grep -c "搜索页面" "$DIR/crash")" -ge 1 ] && break
  sleep 0.1
done
[ "$(grep -c "启动成功" "$DIR/crash")" = 2 ] || { say_fail "no restart after the crash"; cat "$DIR/crash"; }
wait_for "$DIR/crash" "搜索页面" 30 || say_fail "the restarted lun does not serve"
[ "$(grep -c "错误原因" "$CRASH_HOME/LUNError.Log")" = 1 ] || {
  say_fail "crash log line"; cat "$CRASH_HOME/LUNError.Log"; }
kill -TERM "$LUN_PID"; wait "$LUN_PID"
[ $? = 0 ] || say_fail "the restarted lun did not end cleanly"

[ $fail = 0 ] && echo "lun_run: all passed"
exit $fail
