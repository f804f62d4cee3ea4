#!/usr/bin/env bash
# Usage: lun_open_test.sh PATH/TO/lun
# A headless lun on a scratch home. The root "/" sends the local user to the
# home page with this start's code; a foreign Host and a rebound name get the
# short page without the code. `lun --open [QUERY]` makes the running lun
# start the browser (LUN_BROWSER, a script that writes down its URL) on the
# home page or on the results; without a running lun it fails.
set -u
LUN=$1
DIR=$(mktemp -d)
LUN_PID=
cleanup() {
  [ -n "$LUN_PID" ] && kill -9 "$LUN_PID" 2>/dev/null
  rm -rf "$DIR"
}
trap cleanup EXIT
fail=0
say_fail() { echo "FAIL $*"; fail=1; }
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
wait_for() {
  for _ in $(seq 1 $(($3 * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
# get TARGET HOST: the whole HTTP answer for TARGET sent with Host HOST.
get() {
  exec 3<>"/dev/tcp/127.0.0.1/$PORT" || return 1
  printf 'GET %s HTTP/1.0\r\nHost: %s\r\n\r\n' "$1" "$2" >&3
  cat <&3
  exec 3<&-
}

export TMPDIR=$DIR/tmp
mkdir -p "$TMPDIR" "$DIR/home" "$DIR/docs"
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

PORT=$(free_port)
LUN_BROWSER="$DIR/browser.sh" LUN_CRAWL_PORT=$(free_port) XDG_CONFIG_HOME="$DIR/config" \
  "$LUN" --headless --home "$DIR/home" --port "$PORT" >"$DIR/out" 2>&1 &
LUN_PID=$!
wait_for "$DIR/out" "搜索页面" 60 || { say_fail "lun did not start"; cat "$DIR/out"; exit 1; }
CODE=$(sed -n 's|.*IDCODE=\([0-9A-Za-z-]*\).*|\1|p' "$DIR/out" | head -1)
HOME_URL="http://127.0.0.1:$PORT/LUN/home.shl?IDCODE=$CODE"

# The local user is sent home with this start's code.
get / "127.0.0.1:$PORT" >"$DIR/root"
grep -q "^HTTP/1.0 302" "$DIR/root" || { say_fail "root status"; head -3 "$DIR/root"; }
grep -q "^Location: /LUN/home.shl?IDCODE=$CODE" "$DIR/root" || say_fail "root Location"
get "/?x=1" "localhost:$PORT" | grep -q "^Location: /LUN/home.shl?IDCODE=$CODE" ||
  say_fail "root with a query string"
# A foreign Host and a name rebound to 127.0.0.1 get the short page only.
for host in "evil.example:$PORT" "127.0.0.1.nip.io:$PORT" "127.attacker.test:$PORT"; do
  get / "$host" >"$DIR/foreign"
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
get "${RESULTS#http://127.0.0.1:$PORT}" "127.0.0.1:$PORT" | grep -q "^HTTP/1.0 200" ||
  say_fail "the results address does not answer"

# Without a running lun there is nobody to ask.
"$LUN" --home "$DIR/nobody" --open >"$DIR/open3" 2>&1 && say_fail "lun --open without a running lun succeeded"
grep -q "没有正在运行的 lun" "$DIR/open3" || { say_fail "no message without a running lun"; cat "$DIR/open3"; }

kill -TERM "$LUN_PID"; wait "$LUN_PID" || say_fail "lun did not end cleanly"
LUN_PID=
[ $fail = 0 ] && echo "lun_open: all passed"
exit $fail
