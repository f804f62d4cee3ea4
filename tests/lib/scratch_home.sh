# The common ground of the end-to-end shell tests that run lun on a scratch
# home. A test sets LUN (the lun executable) and sources this file, which
# gives it:
#   DIR        a scratch directory, removed at exit together with every
#              process started by start_lun;
#   TMPDIR     inside DIR. lun never indexes the temporary directory, so a
#              test keeps its documents elsewhere in DIR;
#   say_fail   records a failure ("FAIL ..." on stdout); the test ends with
#              `exit $fail`;
#   free_port  a TCP port nothing listens on now (lun falls back to another
#              one if it is taken meanwhile, and says which it uses);
#   start_lun HOME OUT [VAR=value...]
#              lun --headless on HOME in the background, with its own web and
#              crawl-service ports and its output in OUT; LUN_PID is its pid;
#   wait_for FILE TEXT SECONDS
#              waits until FILE holds TEXT; fails after SECONDS;
#   get OUT TARGET [ADDRESS [HOST]]
#              the whole HTTP answer to GET TARGET of the lun whose output
#              is OUT (sent to ADDRESS, 127.0.0.1 by default, with the Host
#              header HOST, by default 127.0.0.1 and the port);
#   port_of OUT the web port of that lun;
#   code OUT   the session code of that lun;
#   first_record OUT WORD
#              the record number of the first hit of WORD on its search
#              page, asked until it appears (two minutes at most).

DIR=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
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

export TMPDIR=$DIR/tmp
mkdir -p "$TMPDIR"

start_lun() {
  local home=$1 out=$2
  shift 2
  env LUN_CRAWL_PORT="$(free_port)" XDG_CONFIG_HOME="$DIR/config" "$@" \
    "$LUN" --headless --home "$home" --port "$(free_port)" >"$out" 2>&1 &
  LUN_PID=$!
  pids+=("$LUN_PID")
}

wait_for() {
  for _ in $(seq 1 $(($3 * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

port_of() { sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$1" | head -1; }

# get OUT TARGET [ADDRESS [HOST]]: the whole HTTP answer of the lun whose
# output is OUT.
get() {
  local port
  port=$(port_of "$1")
  exec 3<>"/dev/tcp/${3:-127.0.0.1}/$port" || return 1
  printf 'GET %s HTTP/1.0\r\nHost: %s\r\n\r\n' "$2" "${4:-127.0.0.1:$port}" >&3
  cat <&3
  exec 3<&-
}
code() { sed -n 's|.*IDCODE=\([0-9A-Za-z-]*\).*|\1|p' "$1" | head -1; }

first_record() {
  local n
  for _ in $(seq 1 240); do
    n=$(get "$1" "/LUN/Search.shl?SearchText=$2&IDCODE=$(code "$1")" |
      sed -n 's|.*RecordNO=\([0-9]*\).*|\1|p' | head -1)
    [ -n "$n" ] && { echo "$n"; return; }
    sleep 0.5
  done
}
