#!/usr/bin/env bash
# Usage: lun_open_test.sh PATH/TO/lun
# A headless lun on a scratch home. The root "/" sends the local user to the
# home page with this start's code; a foreign Host and a rebound name get the
# short page without the code. `lun --open [QUERY]` makes the running lun
# start the browser (LUN_BROWSER, a script that writes down its URL) on the
# home page or on the results; without a running lun it fails.
set -u
LUN=$1
source "$(dirname "$0")/../lib/scratch_home.sh"

mkdir -p "$DIR/home" "$DIR/docs"
cat >"$DIR/home/Setting" <<INI
[检索设置]
允许扫描=|$DIR/docs|
文档类型=|TXT|
AutoStart=FALSE
实时监控=FALSE
INI
cat >"$DIR/browser.sh" <<SH
#!/bin/sh
printf '%s\n' "\$1" >>"$DIR/opened"
SH
chmod +x "$DIR/browser.sh"

start_lun "$DIR/home" "$DIR/out" LUN_BROWSER="$DIR/browser.sh"
wait_for "$DIR/out" "搜索页面" 60 || { say_fail "lun did not start"; cat "$DIR/out"; exit 1; }
PORT=$(port_of "$DIR/out")
CODE=$(code "$DIR/out")
HOME_URL="http://127.0.0.1:$PORT/LUN/home.shl?IDCODE=$CODE"

# The local user is sent home with this start's code.
get "$DIR/out" / 127.0.0.1 "127.0.0.1:$PORT" >"$DIR/root"
grep -q "^HTTP/1.0 302" "$DIR/root" || { say_fail "root status"; head -3 "$DIR/root"; }
grep -q "^Location: /LUN/home.shl?IDCODE=$CODE" "$DIR/root" || say_fail "root Location"
get "$DIR/out" "/?x=1" 127.0.0.1 "localhost:$PORT" | grep -q "^Location: /LUN/home.shl?IDCODE=$CODE" ||
  say_fail "root with a query string"
# A foreign Host and a name rebound to 127.0.0.1 get the short page only.
for host in "evil.example:$PORT" "127.0.0.1.nip.io:$PORT" "127.attacker.test:$PORT"; do
  get "$DIR/out" / 127.0.0.1 "$host" >"$DIR/foreign"
  grep -q "^HTTP/1.0 200" "$DIR/foreign" || say_fail "$host: status"
  grep -q "lun --open" "$DIR/foreign" || say_fail "$host: no directions"
  grep -q "$CODE" "$DIR/foreign" && say_fail "$host: the session code was given away"
  grep -qi "^Location" "$DIR/foreign" && say_fail "$host: redirected"
done

# lun --open: the home page, then the results of a query.
"$LUN" --home "$DIR/home" --open >"$DIR/open1" 2>&1 || { say_fail "lun --open"; cat "$DIR/open1"; }
wait_for "$DIR/opened" "home.shl" 10 || say_fail "the browser was not started"
[ "$(sed -n 1p "$DIR/opened" 2>/dev/null)" = "$HOME_URL" ] ||
  say_fail "opened '$(sed -n 1p "$DIR/opened" 2>/dev/null)', expected $HOME_URL"
grep -qx "$HOME_URL" "$DIR/open1" || say_fail "lun --open did not print the address"
"$LUN" --home "$DIR/home" --open 桌面 a\&b >"$DIR/open2" 2>&1 || { say_fail "lun --open QUERY"; cat "$DIR/open2"; }
wait_for "$DIR/opened" "Search.shl" 10 || say_fail "the browser was not started on the results"
RESULTS="http://127.0.0.1:$PORT/LUN/Search.shl?IDCODE=$CODE&SearchText=%E6%A1%8C%E9%9D%A2+a%26b"
[ "$(sed -n 2p "$DIR/opened" 2>/dev/null)" = "$RESULTS" ] ||
  say_fail "opened '$(sed -n 2p "$DIR/opened" 2>/dev/null)', expected $RESULTS"
get "$DIR/out" "${RESULTS#http://127.0.0.1:$PORT}" | grep -q "^HTTP/1.0 200" ||
  say_fail "the results address does not answer"

# Without a running lun there is nobody to ask.
"$LUN" --home "$DIR/nobody" --open >"$DIR/open3" 2>&1 && say_fail "lun --open without a running lun succeeded"
grep -q "没有正在运行的 lun" "$DIR/open3" || { say_fail "no message without a running lun"; cat "$DIR/open3"; }

kill -TERM "$LUN_PID"; wait "$LUN_PID" || { say_fail "lun did not end cleanly"; cat "$DIR/out"; }
[ $fail = 0 ] && echo "lun_open: all passed"
exit $fail
