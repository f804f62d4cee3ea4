#!/usr/bin/env bash
# Usage: lun_explain_test.sh PATH/TO/lun
set -u
LUN=$1
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
fail=0
say_fail() { echo "FAIL $*"; fail=1; }

export TMPDIR=$DIR/tmp
export HOME=$DIR/user
H=$DIR/lunhome
D=$DIR/docs
mkdir -p "$TMPDIR" "$H" "$D/private" "$D/.hidden" "$DIR/elsewhere" "$HOME"
cat >"$H/Setting" <<INI
[检索设置]
允许扫描=|$D|$DIR/tmp/chosen|
禁止扫描=|$D/private|
文档类型=|TXT|
识别无扩展名文本=FALSE
INI
printf 'hello\n' >"$D/a.txt"
printf 'hello\n' >"$D/private/a.txt"
printf 'hello\n' >"$D/.hidden/a.txt"
printf 'hello\n' >"$D/a.xyzq"
printf 'hello\n' >"$DIR/elsewhere/a.txt"
printf 'hello\n' >"$TMPDIR/a.txt"
truncate -s 20971521 "$D/big.txt"
cp "$H/Setting" "$DIR/setting.before"

# path, expected key, expected exit status
while read -r path key status; do
  "$LUN" --explain "$path" --home "$H" >"$DIR/out" 2>"$DIR/err"; rc=$?
  [ "$rc" = "$status" ] || say_fail "$path: status $rc, wanted $status"
  [ "$(sed -n 2p "$DIR/out")" = "$key" ] || { say_fail "$path: wanted $key"; cat "$DIR/out" "$DIR/err"; }
  [ -n "$(sed -n 3p "$DIR/out")" ] || say_fail "$path: no sentence"
done <<CASES
$D/a.txt in_scope 0
$D/big.txt over_size_limit 0
$D/none.txt missing 1
$D not_a_file 1
$DIR/elsewhere/a.txt not_under_root 1
$D/.hidden/a.txt excluded_name 1
$D/private/a.txt forbidden_path 1
$D/a.xyzq type_not_chosen 1
CASES

# The sentence names what is at fault.
"$LUN" --explain "$D/private/a.txt" --home "$H" | grep -qF "$D/private" ||
  say_fail "forbidden path not named"
"$LUN" --explain "$D/a.xyzq" --home "$H" | grep -qF "|XYZQ|" || say_fail "type not named"

# A relative path is judged from the working directory.
(cd "$D" && "$LUN" --explain ./sub/../a.txt --home "$H") >"$DIR/out"
[ "$(sed -n 1p "$DIR/out")" = "$D/a.txt" ] || say_fail "relative path: $(cat "$DIR/out")"

# The temporary directory is named as such when the roots reach it.
cat >"$H/Setting" <<INI
[检索设置]
允许扫描=|$DIR|
文档类型=|TXT|
INI
cp "$H/Setting" "$DIR/setting.before"
"$LUN" --explain "$TMPDIR/a.txt" --home "$H" >"$DIR/out"
[ "$(sed -n 2p "$DIR/out")" = temporary_directory ] || say_fail "tmp: $(cat "$DIR/out")"
"$LUN" --explain "$H/Setting" --home "$H" >"$DIR/out"
[ "$(sed -n 2p "$DIR/out")" = forbidden_path ] || say_fail "application home: $(cat "$DIR/out")"
cmp -s "$H/Setting" "$DIR/setting.before" || say_fail "the settings file was changed"

# A home without settings is not given one.
E=$DIR/emptyhome
mkdir -p "$E"
"$LUN" --explain "$D/a.txt" --home "$E" >/dev/null
[ -z "$(ls -A "$E")" ] || say_fail "empty home got files: $(ls -A "$E")"

# Wrong command lines.
"$LUN" --explain >/dev/null 2>"$DIR/err"; [ $? = 2 ] || say_fail "no path: status"
grep -q -- "--explain" "$DIR/err" || say_fail "no path: usage"
"$LUN" --explain a b --home "$H" >/dev/null 2>&1; [ $? = 2 ] || say_fail "two paths"
"$LUN" --explain a --bogus >/dev/null 2>&1; [ $? = 2 ] || say_fail "unknown option"

exit $fail
