#!/bin/sh
# Times what a user runs to build an index from files: `lundb load` of a
# corpus (bench/corpus/build_corpus.sh) into a fresh project, several runs,
# each with the load average before it (the machine may be shared).
#
#   bench/storage/lundb_load.sh LUNDB [CORPUS] [RUNS]
#
# The table holds the file name and text with word indexes, the full path
# with an exact-value index, size and modification time.
set -eu
LUNDB=${1:?usage: lundb_load.sh LUNDB [CORPUS] [RUNS]}
CORPUS=${2:-/tmp/corpus}
RUNS=${3:-3}
for i in $(seq "$RUNS"); do
  work=$(mktemp -d)
  "$LUNDB" --home "$work" create "$work/bench.db" >/dev/null
  "$LUNDB" --home "$work" table "$work/bench.db" 文档 文件名称:text:word 完整路径:text:exact \
    文本内容:document:word 文件大小:integer 修改时间:date >/dev/null
  printf 'run %s, load average %s\n' "$i" "$(cut -d' ' -f1-3 /proc/loadavg)"
  /usr/bin/time -f '  %e s wall, %U s user, %S s sys, peak RSS %M KB' \
    "$LUNDB" --home "$work" load "$work/bench.db" 文档 "$CORPUS"
  printf '  stored %s\n' "$(du -sh "$work" | cut -f1)"
  rm -rf "$work"
done
