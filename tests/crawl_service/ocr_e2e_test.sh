#!/usr/bin/env bash
# Text in pictures as a user gets it: lun indexes a folder of pictures drawn
# by this test (a PNG, a JPEG, a PDF page that is only a picture, a
# 30,000 x 30,000 image) with "图片文字识别" on, and the words drawn are
# found; on another home with the setting off, the pictures have records
# without their words.
# Usage: ocr_e2e_test.sh PATH/TO/lun PATH/TO/lundb PATH/TO/render_text_image
set -u
LUN=$1
LUNDB=$2
RENDER=$3
. "$(dirname "$0")/../lib/scratch_home.sh"

DOCS=$DIR/docs
mkdir -p "$DOCS"
"$RENDER" "$DOCS/scan.png" "Quarterly budget review" "季度销售报告" || say_fail "render png"
"$RENDER" "$DOCS/photo.jpg" "Lighthouse holiday" "灯塔假期" || say_fail "render jpeg"
"$RENDER" "$DOCS/paper.pdf" "Invoice paperwork" "发票扫描件" || say_fail "render pdf"
# A picture far over the engine's memory limit: it costs its own text only.
python3 - "$DOCS/huge.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
side = 30000
row = b"\0" + b"\xff" * ((side + 7) // 8)
z = zlib.compressobj(9)
pixels = b"".join(z.compress(row) for _ in range(side)) + z.flush()
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 1, 0, 0, 0, 0))
            + chunk(b"IDAT", pixels) + chunk(b"IEND", b""))
PY
printf 'afterword of the folder\n' >"$DOCS/after.txt"

make_home() {  # make_home HOME ON|OFF
  mkdir -p "$1"
  cat >"$1/Setting" <<INI
[检索设置]
允许扫描=|$DOCS|
文档类型=|PNG|JPG|PDF|TXT|
图片文字识别=$2
AutoStart=FALSE
INI
}
# found HOME QUERY: the file names QUERY finds, sorted, on one line.
found() {
  "$LUNDB" query "$1/Data/local.db" "$2" --size 1000 --fields 文件名称 2>&1 |
    sed -n 's/.*文件名称: *//p' | sort | tr '\n' ' '
}

for setting in TRUE FALSE; do
  home=$DIR/home-$setting
  make_home "$home" "$setting"
  LUN_CRAWL_PORT=$(free_port) "$LUN" --home "$home" --index-once "$DOCS" >"$DIR/once-$setting.out" 2>&1 ||
    { say_fail "--index-once ($setting)"; cat "$DIR/once-$setting.out"; }
  # Every file has its record, the huge picture too, and the file after it.
  for name in scan.png photo.jpg paper.pdf huge.png after.txt; do
    [ -n "$(found "$home" "[文档]:文件名称=$name")" ] || say_fail "$setting: no record of $name"
  done
  [ -n "$(found "$home" '[文档]:文本内容=afterword')" ] || say_fail "$setting: after.txt text"
done

on=$DIR/home-TRUE
off=$DIR/home-FALSE
for case in "budget:scan.png" "季度销售:scan.png" "lighthouse:photo.jpg" "灯塔:photo.jpg" \
            "paperwork:paper.pdf" "发票:paper.pdf"; do
  word=${case%%:*}
  file=${case#*:}
  [ "$(found "$on" "[文档]:文本内容=$word")" = "$file " ] ||
    say_fail "recognition on: '$word' should find $file, found '$(found "$on" "[文档]:文本内容=$word")'"
  [ -z "$(found "$off" "[文档]:文本内容=$word")" ] || say_fail "recognition off: '$word' was read"
done
exit $fail
