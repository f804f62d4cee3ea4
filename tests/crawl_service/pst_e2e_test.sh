#!/usr/bin/env bash
# Mail brought from Windows as a user gets it: lun indexes a folder holding
# an Outlook data file written by this test, and `lun search` finds the
# words of its messages (Chinese and English, an HTML body, a text
# attachment) as mail records inside the file. When the file is written
# again without a message, that message is no longer found and the others
# are; a truncated file gets its record and a line in the engine log, and
# the file after it is read; a running lun that sees the file deleted
# (with "实时文件删除" on: otherwise a deleted file's records stay, for
# the deleted-files page) drops its messages.
# Usage: pst_e2e_test.sh PATH/TO/lun PATH/TO/write_test_pst
set -u
LUN=$1
WRITE_PST=$2
. "$(dirname "$0")/../lib/scratch_home.sh"
export XDG_CONFIG_HOME=$DIR/config
H=$DIR/home
D=$DIR/docs
PST=$D/outlook/backup.pst
mkdir -p "$H" "$D/outlook"
"$WRITE_PST" "$PST" full || say_fail "write the store"
"$WRITE_PST" "$D/broken.pst" truncated || say_fail "write the truncated store"
printf 'afterword of the folder\n' >"$D/zz-after.txt"
cat >"$H/Setting" <<INI
[检索设置]
允许扫描=|$D|
文档类型=|PST|TXT|
AutoStart=FALSE
实时监控=TRUE
实时文件删除=TRUE
INI
export LUN_CRAWL_PORT=$(free_port)

index_once() {
  timeout 300 "$LUN" --home "$H" --index-once "$D" >"$DIR/index" 2>&1 || {
    say_fail "--index-once"; cat "$DIR/index"; }
}
# hits WORD: the paths `lun search` finds, one a line.
hits() { "$LUN" search "$1" --home "$H" --files-only 2>&1; }
# expect WORD PATH...: WORD finds exactly these paths.
expect() {
  local word=$1
  shift
  local want
  want=$(printf '%s\n' "$@" | sort)
  [ "$(hits "$word" | sort)" = "$want" ] || {
    say_fail "'$word' should find: $*"; echo "found: $(hits "$word")"; }
}

BUDGET=$PST::收件箱/2097188.eml
LUNCH=$PST::收件箱/2097220.eml
TRIP=$PST::收件箱/Archive/2097252.eml

index_once
expect 预算审批 "$BUDGET"
expect "Bob Lee" "$BUDGET"
expect dumplings "$LUNCH"
expect zebra "$LUNCH"
expect 长城 "$TRIP"
expect afterword "$D/zz-after.txt"
# The truncated store: found by its name, its failure in the engine log.
expect broken "$D/broken.pst"
grep -q "无法完整读取: $D/broken.pst" "$H/TamrixError.Log" || {
  say_fail "no log line for the truncated store"; cat "$H/TamrixError.Log"; }

# The store written again without "Lunch".
"$WRITE_PST" "$PST" without-lunch || say_fail "rewrite the store"
touch -d '+10 seconds' "$PST"
index_once
"$LUN" search dumplings --home "$H" >/dev/null 2>&1; [ $? = 1 ] || say_fail "the deleted message is still found"
expect 预算审批 "$BUDGET"
expect 长城 "$TRIP"

# A running lun sees the store deleted and drops its messages.
"$LUN" --headless --home "$H" --port "$(free_port)" >"$DIR/lun.out" 2>"$DIR/lun.err" &
pids+=($!)
for _ in $(seq 1 300); do
  grep -q "搜索页面:" "$DIR/lun.out" && break
  sleep 0.1
done
sleep 2  # the change monitor watches the folders once lun is up
rm "$PST"
gone=0
for _ in $(seq 1 240); do
  "$LUN" search 预算审批 --home "$H" >/dev/null 2>&1
  [ $? = 1 ] && { gone=1; break; }
  sleep 0.5
done
[ $gone = 1 ] || say_fail "the deleted store's messages are still found"
expect afterword "$D/zz-after.txt"
kill -TERM "${pids[0]}"
wait "${pids[0]}" || say_fail "lun ended badly"
grep -q "ERROR: AddressSanitizer\|runtime error:" "$DIR/lun.err" && {
  say_fail "memory error in lun"; cat "$DIR/lun.err"; }

[ $fail = 0 ] && echo "pst_e2e: all checks passed"
exit $fail
