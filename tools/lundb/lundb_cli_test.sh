#!/usr/bin/env bash
# lundb as a user runs it: each command's output and exit code, on a folder
# of real files. Usage: lundb_cli_test.sh PATH/TO/lundb
set -u
LUNDB=$1
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
fail=0
expect() {  # expect CODE DESCRIPTION -- command...
  local want=$1 what=$2; shift 3
  "$@" >"$DIR/out" 2>"$DIR/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $what: exit $got, expected $want"; cat "$DIR/out" "$DIR/err"; fail=1
  fi
}
contains() {  # contains FILE TEXT DESCRIPTION
  if ! grep -qF -- "$2" "$DIR/$1"; then echo "FAIL $3: no '$2' in $1"; cat "$DIR/$1"; fail=1; fi
}

mkdir -p "$DIR/files/sub"
printf '桌面全文检索\n' >"$DIR/files/a.txt"
printf 'hello world\n' >"$DIR/files/sub/b.txt"
ln -s a.txt "$DIR/files/link.txt"
DB=$DIR/db/local.db

expect 2 "no command" -- "$LUNDB"
expect 2 "unknown command" -- "$LUNDB" frobnicate "$DB"
expect 1 "stat before create" -- "$LUNDB" stat "$DB"
contains err "不能打开工程文件" "missing project message"
expect 0 "create" -- "$LUNDB" create "$DB"
expect 0 "table" -- "$LUNDB" table "$DB" 文档 文件名称:text:word 完整路径:文本:exact 路径:1 文本内容:document:0 文件大小:integer 修改时间:date
expect 2 "bad type" -- "$LUNDB" table "$DB" 文档 x:nosuchtype
expect 1 "bad field name" -- "$LUNDB" table "$DB" 文档 'a*b:text'
contains err '字段名不能包含' "field name message"
expect 1 "duplicate field" -- "$LUNDB" table "$DB" 文档 文件名称:text
contains err '该字段已经存在！' "duplicate field message"
expect 0 "load" -- "$LUNDB" load "$DB" 文档 "$DIR/files"
contains out "2 records" "load count (symlink skipped)"
contains out "records/s" "load rate"
expect 1 "load into missing table" -- "$LUNDB" load "$DB" 无此表 "$DIR/files"
contains err "不存在的数据表" "missing table message"
expect 0 "stat" -- "$LUNDB" stat "$DB"
contains out "table 0 文档: 2 records, 2 live" "stat counts"
contains out "field 3 文本内容: 文档, index 0" "stat field"
expect 0 "dump" -- "$LUNDB" dump "$DB" 文档
contains out "桌面全文检索" "dumped text"
contains out "文件大小: 19" "dumped size"
expect 0 "dump range" -- "$LUNDB" dump "$DB" 文档 1 1
if grep -q '^#0' "$DIR/out"; then echo "FAIL dump range shows record 0"; fail=1; fi
# Queries from standard input: one result line per input line, in order;
# a session that only reads writes nothing but the engine log (no file
# changes, no index marker).
find "$DIR/db" ! -name TamrixError.Log -printf '%p %s %T@\n' | sort >"$DIR/before"
expect 0 "query --stdin" -- bash -c "printf '%s\n' '[文档]:文本内容=hello' '[文档]:文本内容=全文' \
  '[文档]:文本内容=nowhere' | \"\$0\" query \"\$1\" --stdin --json" "$LUNDB" "$DB"
if [ "$(wc -l <"$DIR/out")" != 3 ]; then echo "FAIL query --stdin: not 3 lines"; cat "$DIR/out"; fail=1; fi
if ! sed -n 1p "$DIR/out" | grep -q '"count":1,"elapsed":' || ! sed -n 2p "$DIR/out" | grep -q '"count":1,' ||
   ! sed -n 3p "$DIR/out" | grep -q '"count":0,'; then
  echo "FAIL query --stdin counts"; cat "$DIR/out"; fail=1
fi
find "$DIR/db" ! -name TamrixError.Log -printf '%p %s %T@\n' | sort >"$DIR/after"
if ! cmp -s "$DIR/before" "$DIR/after"; then
  echo "FAIL read-only queries changed files"; diff "$DIR/before" "$DIR/after"; fail=1
fi
expect 1 "query --stdin with a bad line" -- bash -c "printf '%s\n' '[无此表]:x=1' '[文档]:文本内容=hello' |
  \"\$0\" query \"\$1\" --stdin" "$LUNDB" "$DB"
if [ "$(wc -l <"$DIR/out")" != 2 ]; then echo "FAIL query --stdin keeps going after a failure"; cat "$DIR/out"; fail=1; fi
expect 0 "check clean" -- "$LUNDB" check "$DB"
contains out "clean" "check verdict"
# The high byte of the first value's length: the value then runs past its body.
S0=$(ls "$DIR"/db/文档/文档.S0)
printf 'X' | dd of="$S0" bs=1 seek=1027 conv=notrunc status=none
expect 1 "check damaged" -- "$LUNDB" check "$DB"
contains out "CORRUPT" "check finding"
expect 2 "check usage" -- "$LUNDB" check
# crawl: the application's crawl with the real crawl service, on a port of
# its own.
PORT=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => {
  console.log(s.address().port); s.close(); })' 2>/dev/null ||
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$DIR/crawl/sub"
printf '季度报告 quarterly\n' >"$DIR/crawl/report.txt"
printf 'meeting notes 会议纪要\n' >"$DIR/crawl/sub/notes.txt"
printf '\000\001\002\377' >"$DIR/crawl/blob.bin"
CDB=$DIR/crawldb/local.db
expect 0 "crawl" -- "$LUNDB" crawl "$CDB" "$DIR/crawl" --port "$PORT"
contains out "2 files, 2 records" "crawl figures (types the service reads only)"
contains out "service round trips" "crawl stages"
expect 0 "query after crawl" -- "$LUNDB" query "$CDB" '[文档]:文本内容=会议纪要' --fields 完整路径
contains out "1 条记录" "crawled text found once"
contains out "$DIR/crawl/sub/notes.txt" "crawled file found"
expect 0 "crawl again" -- "$LUNDB" crawl "$CDB" "$DIR/crawl" --port "$PORT"
contains out "2 records" "a second crawl keeps one record per file"
expect 0 "check after crawl" -- "$LUNDB" check "$CDB"
expect 2 "crawl into ROOT" -- "$LUNDB" crawl "$DIR/crawl/db/x.db" "$DIR/crawl"
expect 1 "crawl of a missing folder" -- "$LUNDB" crawl "$CDB" "$DIR/nothing"
expect 2 "crawl with a bad port" -- "$LUNDB" crawl "$CDB" "$DIR/crawl" --port 99999
expect 0 "stress" -- "$LUNDB" stress "$DIR/stress/db" --seed 5 --records 30 --delete-rate 0.3 --segment-records 7
contains out "ACK 29" "stress acknowledgements"
expect 0 "check after stress" -- "$LUNDB" check "$DIR/stress/db"
# A damaged index: the term directory's list length of "u" claims 4 GiB.
# check reports it, ends, and changes no file; the next open rebuilds it.
expect 0 "query before the damage" -- "$LUNDB" query "$DIR/stress/db" '[压力]:uid=uid'
COUNT=$(grep -o '[0-9]* 条记录' "$DIR/out")
HA=$(ls "$DIR"/stress/压力/D0.Ha0)
printf '\xff\xff\xff\xff' | dd of="$HA" bs=1 seek=$((28 * 0x75 + 4)) conv=notrunc status=none
BEFORE=$(cd "$DIR/stress" && find . -type f | sort | xargs md5sum)
expect 1 "check damaged index" -- timeout 120 "$LUNDB" check "$DIR/stress/db"
contains out "CORRUPT index" "check index finding"
AFTER=$(cd "$DIR/stress" && find . -type f | sort | xargs md5sum)
if [ "$BEFORE" != "$AFTER" ]; then echo "FAIL check changed the files"; fail=1; fi
expect 0 "query rebuilds the damaged index" -- timeout 120 "$LUNDB" query "$DIR/stress/db" '[压力]:uid=uid'
contains out "${COUNT:-no count}" "records found after the rebuild"
expect 0 "check after the rebuild" -- "$LUNDB" check "$DIR/stress/db"
expect 2 "stress without seed" -- "$LUNDB" stress "$DIR/stress/db"
exit $fail
