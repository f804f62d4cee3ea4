#!/usr/bin/env bash
# Usage: lun_search_test.sh PATH/TO/lun
set -u
LUN=$1
. "$(dirname "$0")/../lib/scratch_home.sh"
export XDG_CONFIG_HOME=$DIR/config
mkdir -p "$TMPDIR"
H=$DIR/home
D=$DIR/docs
mkdir -p "$H" "$D"
printf 'the port of call: this port is open\n' >"$D/harbour.txt"
printf 'a portable device\n' >"$D/gadget.txt"
printf 'nothing to see\n' >"$D/other.txt"
cat >"$H/Setting" <<INI
[检索设置]
允许扫描=|$D|
文档类型=|TXT|
AutoStart=FALSE
实时监控=TRUE
INI
export LUN_CRAWL_PORT=$(free_port)

# Wrong command lines: usage on standard error, status 2.
"$LUN" search >"$DIR/out" 2>"$DIR/err"; [ $? = 2 ] || say_fail "no query: status"
grep -q -- "--files-only" "$DIR/err" || say_fail "no query: usage"
"$LUN" search port --limit 0 --home "$H" >/dev/null 2>&1; [ $? = 2 ] || say_fail "--limit 0"
"$LUN" search port --bogus --home "$H" >/dev/null 2>&1; [ $? = 2 ] || say_fail "unknown option"

# No index yet.
"$LUN" search port --home "$H" >"$DIR/out" 2>"$DIR/err"; [ $? = 2 ] || say_fail "no index: status"
grep -q "还没有索引" "$DIR/err" || { say_fail "no index: message"; cat "$DIR/err"; }

# The index read directly, no lun running.
timeout 120 "$LUN" --home "$H" --index-once "$D" >"$DIR/index" 2>&1 || {
  say_fail "--index-once"; cat "$DIR/index"; }
"$LUN" search port --home "$H" >"$DIR/out" 2>"$DIR/err"; rc=$?
[ $rc = 0 ] || { say_fail "direct search status $rc"; cat "$DIR/out" "$DIR/err"; }
grep -qx "$D/harbour.txt" "$DIR/out" || say_fail "direct search: harbour.txt path"
grep -qx "$D/gadget.txt" "$DIR/out" || say_fail "direct search: gadget.txt path"
grep -q "other.txt" "$DIR/out" && say_fail "direct search: other.txt found"
grep -q "【port】" "$DIR/out" || say_fail "direct search: marked snippet"
grep -Eq '^  [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}  [0-9]+ 字节$' "$DIR/out" || {
  say_fail "direct search: time and size line"; cat "$DIR/out"; }
grep -q "共找到 2 个结果" "$DIR/out" || say_fail "direct search: count line"
[ ! -e "$H/lun.socket" ] || say_fail "a search alone leaves no socket"

"$LUN" search port --home "$H" --files-only >"$DIR/out" 2>&1
[ "$(sort "$DIR/out")" = "$(printf '%s\n%s' "$D/gadget.txt" "$D/harbour.txt")" ] || {
  say_fail "--files-only"; cat "$DIR/out"; }

"$LUN" search port --home "$H" --limit 1 >"$DIR/out" 2>&1
[ "$(grep -c "^$D/" "$DIR/out")" = 1 ] || say_fail "--limit 1 shows one hit"
grep -q "显示前 1 个" "$DIR/out" || say_fail "--limit 1 says there are more"

"$LUN" search port --home "$H" --json >"$DIR/json" 2>&1
python3 - "$DIR/json" "$D" <<'PY' || say_fail "--json"
import json, sys
answer = json.load(open(sys.argv[1]))
paths = sorted(h["path"] for h in answer["hits"])
assert answer["count"] == 2, answer
assert paths == [sys.argv[2] + "/gadget.txt", sys.argv[2] + "/harbour.txt"], paths
hit = [h for h in answer["hits"] if h["path"].endswith("harbour.txt")][0]
assert hit["size"] == 36 and "【port】" in hit["snippet"] and hit["modified"], hit
PY

# Two words must both occur; the query language works as in the quick search.
"$LUN" search port open --home "$H" --files-only >"$DIR/out" 2>&1
[ "$(cat "$DIR/out")" = "$D/harbour.txt" ] || { say_fail "two words"; cat "$DIR/out"; }
"$LUN" search 'device+see' --home "$H" --files-only >"$DIR/out" 2>&1
[ "$(wc -l <"$DIR/out")" = 2 ] || { say_fail "union"; cat "$DIR/out"; }

# Nothing found: status 1.
"$LUN" search zzqqxx --home "$H" >"$DIR/out" 2>&1; [ $? = 1 ] || say_fail "nothing found: status"
grep -q "共找到 0 个结果" "$DIR/out" || say_fail "nothing found: count line"
# A query the language refuses: status 2 with the engine's message.
"$LUN" search 'a*(' --home "$H" >"$DIR/out" 2>"$DIR/err"; [ $? = 2 ] || say_fail "syntax error: status"
grep -q "查询表达式语法错误" "$DIR/err" || { say_fail "syntax error: message"; cat "$DIR/err"; }

# A running lun answers through lun.socket: it holds the home's lock, so an
# answer can only come from it, and it sees a file added while it runs.
"$LUN" --headless --home "$H" --port "$(free_port)" >"$DIR/lun.out" 2>"$DIR/lun.err" &
pids+=($!)
for _ in $(seq 1 300); do
  grep -q "搜索页面:" "$DIR/lun.out" && break
  sleep 0.1
done
[ -S "$H/lun.socket" ] || say_fail "the running lun listens on lun.socket"
"$LUN" search port --home "$H" --files-only >"$DIR/out" 2>"$DIR/err" || {
  say_fail "search of the running lun"; cat "$DIR/out" "$DIR/err"; }
printf 'port added later\n' >"$D/later.txt"
found=0
for _ in $(seq 1 120); do
  "$LUN" search later --home "$H" --files-only >"$DIR/out" 2>/dev/null && { found=1; break; }
  sleep 0.5
done
[ $found = 1 ] && grep -qx "$D/later.txt" "$DIR/out" || say_fail "the running lun's new file"
"$LUN" search zzqqxx --home "$H" >/dev/null 2>&1; [ $? = 1 ] || say_fail "running: nothing found"

kill -TERM "${pids[0]}"
wait "${pids[0]}" || say_fail "lun ended badly"
[ ! -e "$H/lun.socket" ] || say_fail "lun removes its socket at the end"
grep -q "ERROR: AddressSanitizer\|runtime error:" "$DIR/lun.err" && {
  say_fail "memory error in lun"; cat "$DIR/lun.err"; }

[ $fail = 0 ] && echo "lun_search: all checks passed"
exit $fail
