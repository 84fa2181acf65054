#!/usr/bin/env bash
# The demo as a newcomer starts it: on a virtual screen, with a fresh cache folder. A
# headless check of the Demo account it wrote must list the sample post office, and the
# post office must be gone once the program has ended.
set -euo pipefail
postvigil=$1
work=$(mktemp -d)
# Its own temporary folder also keeps the demo's single-instance name apart from others.
export HOME=$work XDG_CACHE_HOME=$work/cache TMPDIR=$work
unset POSTVIGIL_HOME XDG_CONFIG_HOME QT_QPA_PLATFORM
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill -TERM -- "-$demo_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/out"
setsid xvfb-run -a "$postvigil" --demo >"$work/out" 2>"$work/err" &
demo_pid=$!
# The demo names its port on its first line; wait for that line, not for a time.
exec 3<"$work/out"
if ! IFS= read -r -t 60 line <&3; then
  echo "the demo did not start"; cat "$work/err"; exit 1
fi
port=$(sed -n 's/^Demo post office on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' <<<"$line")
[ -n "$port" ] || { echo "unexpected first line: $line"; exit 1; }

folder=$XDG_CACHE_HOME/postvigil-demo
POSTVIGIL_HOME=$folder/home/ XDG_CONFIG_HOME=$folder/config POSTVIGIL_RAS=none \
  timeout 60 "$postvigil" --check >"$work/check" 2>"$work/check-err" || {
  echo "the check of the demo account failed:"; cat "$work/check-err" "$work/err"; exit 1; }
rows=$(($(wc -l <"$work/check") - 1))
[ "$rows" -eq 12 ] || { echo "expected 12 rows, got $rows:"; cat "$work/check"; exit 1; }
tail -n 1 "$work/check" | grep -q "12 eMail ready for collecting" ||
  { echo "unexpected status line:"; tail -n 1 "$work/check"; exit 1; }

program_pid=$(pgrep -g "$demo_pid" -x postvigil || true)
kill -TERM -- "-$demo_pid"
wait "$demo_pid" 2>/dev/null || true
# The program itself may end a moment after the virtual screen's wrapper.
[ -z "$program_pid" ] || timeout 30 tail --pid="$program_pid" -f /dev/null || true
demo_pid=""
if (exec 4<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "the demo post office still answers on port $port"; exit 1
fi
echo "demo: 12 rows listed; post office closed with the program"
