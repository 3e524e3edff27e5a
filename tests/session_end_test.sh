#!/usr/bin/env bash
# The end of a session as the desktop brings it: SIGTERM, SIGHUP or SIGINT
# close the real window as its own close does, without the exit question:
# the settings are written, the preview copy of the last download is
# deleted and the single-instance socket is gone.
set -uo pipefail
bin=$1
server_bin=$2
# No dot above the site: the URL rule would take that folder for the host.
work=$(mktemp -d /tmp/yuragimaru-session-XXXXXX)
. "$(dirname "$0")/../scripts/xvfb.sh"
xvfb_start "$work"; started=$?
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  exec 4>&- 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ "$started" -eq 0 ] || fail "Xvfb did not start"
mkdir -p -m 700 "$work/run" "$work/tmp" "$work/app"
export DISPLAY=$display XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp QT_QPA_PLATFORM=xcb

mkfifo "$work/control"
"$server_bin" "$work" <"$work/control" >"$work/site" &
pids+=($!)
exec 4>"$work/control"
for _ in $(seq 200); do [ -s "$work/site" ] && break; sleep 0.05; done
site=$(cat "$work/site")
[ -n "$site" ] || fail "the picture server did not start"
cp "$bin" "$work/app/yuragimaru"
settings=$work/app/yuragimaru.ini
socket=$XDG_RUNTIME_DIR/yuragimaru.socket

for signal in TERM HUP INT; do
  # The exit question is on: a close that asked it would never end here.
  printf '[OPTION]\r\nCloseQuery=1\r\nSaveStatus=1\r\n\r\n' >"$settings"
  "$work/app/yuragimaru" "$site/photos/2024/sunset.jpg" &
  window=$!
  pids+=("$window")
  id=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window" 2>/dev/null | head -n 1)
  [ -n "$id" ] || fail "SIG$signal: no window"
  [ -S "$socket" ] || fail "SIG$signal: no single-instance socket while running"
  preview=
  if [ "$signal" = TERM ]; then
    # A finished download leaves its preview copy until the window closes.
    xdotool windowfocus --sync "$id" 2>/dev/null
    xdotool key alt+g
    for _ in $(seq 200); do
      preview=$(find "$TMPDIR" -name '$VantrelTemp.jpg' 2>/dev/null | head -n 1)
      [ -n "$preview" ] && break
      sleep 0.05
    done
    [ -n "$preview" ] || fail "the download left no preview copy to clean up"
  fi
  xdotool windowsize --sync "$id" 900 650 2>/dev/null
  sleep 0.5
  kill -"$signal" "$window"
  for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$window" 2>/dev/null && fail "SIG$signal did not end the window"
  wait "$window"
  code=$?
  [ "$code" -eq 0 ] || fail "SIG$signal: the window exited with $code"
  grep -q $'^Version=' "$settings" || fail "SIG$signal: the settings were not written: $(cat "$settings")"
  left=$(sed -n 's/^Left=\([0-9-]*\).*/\1/p' "$settings")
  right=$(sed -n 's/^Right=\([0-9-]*\).*/\1/p' "$settings")
  [ $((right - left)) -eq 900 ] || fail "SIG$signal: the window's width was not kept: $left..$right"
  [ -z "$preview" ] || [ ! -e "$preview" ] || fail "SIG$signal: the preview copy was left behind"
  [ -e "$socket" ] && fail "SIG$signal: the single-instance socket was left behind"
done
echo "1 passed, 0 failed"
