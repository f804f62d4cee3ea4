#!/usr/bin/env bash
# Usage: web_guard_test.sh PATH/TO/lun
# Two lun of one program directory with their own homes and ports: each
# keeps its own pages when the other ends, and nothing is unpacked beside the
# program. Through the first one's pages: the snapshot of a 15 MB document
# full of one word marks a bounded number of hits; a found file swapped for
# a symbolic link is refused with a message; while remote login is off a
# connection from another address is closed unanswered.
set -u
LUN=$1
. "$(dirname "$0")/../lib/scratch_home.sh"

mkdir -p "$DIR/docs" "$DIR/outside" "$DIR/a" "$DIR/b"
# 15 MB of text in which one word occurs 300,000 times.
python3 - "$DIR/docs/big.txt" <<'PY'
import sys
with open(sys.argv[1], 'w') as f:
    for i in range(300000):
        f.write('common filler text number %08d ..............\n' % i)
PY
printf 'swapped file text swapword\n' >"$DIR/docs/swap.txt"
printf 'private key material\n' >"$DIR/outside/secret.txt"
for h in a b; do
  cat >"$DIR/$h/Setting" <<INI
[检索设置]
允许扫描=|$DIR/docs|
文档类型=|TXT|
AutoStart=FALSE
实时监控=FALSE
实时文件删除=FALSE
INI
done

start_lun "$DIR/a" "$DIR/a.out"; A_PID=$LUN_PID
start_lun "$DIR/b" "$DIR/b.out"; B_PID=$LUN_PID
wait_for "$DIR/a.out" "搜索页面" 60 || { say_fail "first lun did not start"; cat "$DIR/a.out"; }
wait_for "$DIR/b.out" "搜索页面" 60 || { say_fail "second lun did not start"; cat "$DIR/b.out"; }
for h in a b; do
  get "$DIR/$h.out" "/LUN/home.shl?IDCODE=$(code "$DIR/$h.out")" | grep -q "HTTP/1.0 200" ||
    say_fail "home page of $h"
done
PROGRAM_RES=$(dirname "$(readlink -f "$LUN")")/res
ls -A "$PROGRAM_RES" | grep -v '\.WR$' | grep -q . && say_fail "something was unpacked into $PROGRAM_RES"
kill -TERM "$B_PID"; wait "$B_PID"
get "$DIR/a.out" "/LUN/home.shl?IDCODE=$(code "$DIR/a.out")" >"$DIR/home-after" 
grep -q "HTTP/1.0 200" "$DIR/home-after" || { say_fail "the pages of the first lun went with the second"; head -5 "$DIR/home-after"; }

wait_for "$DIR/a.out" "扫描完成" 300 || { say_fail "scan never finished"; tail "$DIR/a.out"; }
CODE=$(code "$DIR/a.out")
record_of() { first_record "$DIR/a.out" "$1"; }

BIG=$(record_of filler)
if [ -z "$BIG" ]; then say_fail "the big document was not found"; else
  get "$DIR/a.out" "/LUN/ShowFile.shl?RecordNO=$BIG&SearchText=*common&IDCODE=$CODE" >"$DIR/snap"
  grep -q "HTTP/1.0 200" "$DIR/snap" || say_fail "snapshot status"
  # A page stopped by the script time limit answers with the error instead
  # of the whole page.
  grep -q "</html>" "$DIR/snap" || { say_fail "the snapshot page did not finish"; tail -c 600 "$DIR/snap"; }
  anchors=$(grep -o '<A name=A[0-9]*' "$DIR/snap" | wc -l)
  [ "$anchors" = 500 ] || say_fail "snapshot anchors: $anchors, 500 expected"
  # Every line holds the word once; the index may keep less than the whole
  # text, so the count is read from the page.
  total=$(sed -n 's|.*共 \([0-9]*\) 处，标出第 1–500 处.*|\1|p' "$DIR/snap" | head -1)
  [ -n "$total" ] && [ "$total" -gt 50000 ] || say_fail "snapshot hit count: '$total'"
  grep -q "HitFrom=500" "$DIR/snap" || say_fail "no link to the next hits"
  get "$DIR/a.out" "/LUN/ShowFile.shl?RecordNO=$BIG&SearchText=*common&HitFrom=$((${total:-100} - 100))&IDCODE=$CODE" >"$DIR/snap2"
  [ "$(grep -o '<A name=A[0-9]*' "$DIR/snap2" | wc -l)" = 100 ] || say_fail "the last hits on demand"
fi

SWAP=$(record_of swapword)
if [ -z "$SWAP" ]; then say_fail "swap.txt was not found"; else
  get "$DIR/a.out" "/LUN/Open.shl?RecordNO=$SWAP&Mode=down&IDCODE=$CODE" >"$DIR/down1"
  grep -q "swapword" "$DIR/down1" || say_fail "the indexed file is downloaded"
  rm "$DIR/docs/swap.txt"
  ln -s "$DIR/outside/secret.txt" "$DIR/docs/swap.txt"
  get "$DIR/a.out" "/LUN/Open.shl?RecordNO=$SWAP&Mode=down&IDCODE=$CODE" >"$DIR/down2"
  grep -q "private key material" "$DIR/down2" && say_fail "the link's target was sent"
  grep -q "符号链接" "$DIR/down2" || { say_fail "no message about the link"; sed -n '/<main/,$p' "$DIR/down2" | head -20; }
fi

# Another address of this machine stands for a remote computer.
REMOTE=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -E '^[0-9.]+$' | grep -v '^127\.' | head -1)
if [ -n "$REMOTE" ]; then
  answer=$(get "$DIR/a.out" "/LUN/login.shl" "$REMOTE" 2>/dev/null)
  [ -z "$answer" ] || { say_fail "a remote visitor got an answer while remote login is off"; echo "$answer" | head -3; }
else
  echo "no address outside 127.0.0.0/8: the remote case is skipped"
fi

kill -TERM "$A_PID"; wait "$A_PID" || say_fail "first lun did not end cleanly"
[ $fail = 0 ] && echo "web_guard: all passed"
exit $fail
