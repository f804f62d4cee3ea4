#!/usr/bin/env bash
# Usage: found_files_test.sh PATH/TO/lun
# Found files as the results page of lun --headless shows them. Names that
# are not UTF-8: a GBK name (and a GBK folder) is found under its Chinese
# text, a name with bytes of no known encoding under its escaped form, and
# both are downloaded by their real bytes. A file deleted after indexing
# (real-time deletion off, so its record stays) is marked "已删除", not
# offered to open or download, and its snapshot still shows its text.
set -u
LUN=$1
. "$(dirname "$0")/../lib/scratch_home.sh"

GBK_NAME=$(printf '\xbc\xbe\xb6\xc8\xb1\xa8\xb8\xe6.txt')   # 季度报告.txt
GBK_FOLDER=$(printf '\xce\xc4\xbc\xfe')                   # 文件
LATIN_NAME=$(printf 'caf\xe9.txt')                        # not UTF-8, not GB18030
mkdir -p "$DIR/docs/$GBK_FOLDER" "$DIR/home"
printf 'gbknameword quarterly\n' >"$DIR/docs/$GBK_NAME"
printf 'latinnameword menu\n' >"$DIR/docs/$LATIN_NAME"
printf 'folderword inside\n' >"$DIR/docs/$GBK_FOLDER/inside.txt"
printf 'goneword leftover text\n' >"$DIR/docs/gone.txt"
cat >"$DIR/home/Setting" <<INI
[检索设置]
允许扫描=|$DIR/docs|
文档类型=|TXT|
AutoStart=FALSE
实时文件删除=FALSE
INI

start_lun "$DIR/home" "$DIR/out"
wait_for "$DIR/out" "搜索页面" 60 || { say_fail "lun did not start"; cat "$DIR/out"; }
CODE=$(code "$DIR/out")

# check WORD SHOWN CONTENT: the hit of WORD shows SHOWN on the results page
# and downloads exactly CONTENT.
check() {
  local record
  record=$(first_record "$DIR/out" "$1")
  [ -n "$record" ] || { say_fail "$1 not found"; return; }
  get "$DIR/out" "/LUN/Search.shl?SearchText=$1&IDCODE=$CODE" >"$DIR/results"
  grep -qF "$2" "$DIR/results" || say_fail "$1: the results page does not show $2"
  get "$DIR/out" "/LUN/Open.shl?RecordNO=$record&Mode=down&IDCODE=$CODE" >"$DIR/down"
  grep -q "^HTTP/1.0 200" "$DIR/down" && grep -qxF "$3" "$DIR/down" ||
    { say_fail "$1: not downloaded by its real name"; head -c 600 "$DIR/down"; }
}
check gbknameword "季度报告.txt" "gbknameword quarterly"
check folderword "文件/inside.txt" "folderword inside"
# Byte E9 of "café" stands as U+EFE9 in the text of the name.
check latinnameword "$(printf 'caf\xee\xbf\xa9.txt')" "latinnameword menu"
# The Chinese name is found by its name too.
first_record "$DIR/out" "%E5%AD%A3%E5%BA%A6%E6%8A%A5%E5%91%8A" >/dev/null ||
  say_fail "the GBK name is not found by its Chinese text"

GONE=$(first_record "$DIR/out" goneword)
if [ -z "$GONE" ]; then say_fail "gone.txt was not found"; else
  get "$DIR/out" "/LUN/Search.shl?SearchText=goneword&IDCODE=$CODE" >"$DIR/live"
  grep -qF "class=\"deleted\">已删除" "$DIR/live" && say_fail "a file still on disk is marked deleted"
  grep -q "RecordNO=$GONE&amp;Mode=\(open\|down\)" "$DIR/live" ||
    say_fail "a file on disk is not offered to open"
  rm "$DIR/docs/gone.txt"
  get "$DIR/out" "/LUN/Search.shl?SearchText=goneword&IDCODE=$CODE" >"$DIR/gone"
  grep -qF "class=\"deleted\">已删除" "$DIR/gone" || say_fail "the deleted file is not marked"
  grep -q "RecordNO=$GONE&amp;Mode=\(open\|down\)" "$DIR/gone" &&
    say_fail "the deleted file is offered to open"
  get "$DIR/out" "/LUN/ShowFile.shl?RecordNO=$GONE&SearchText=goneword&IDCODE=$CODE" |
    grep -q "leftover text" || say_fail "the snapshot of the deleted file is gone"
fi

kill -TERM "$LUN_PID"; wait "$LUN_PID" || say_fail "lun did not end cleanly"
[ $fail = 0 ] && echo "found_files: all passed"
exit $fail
