#!/usr/bin/env bash
# From outside, as a user would: a second start shows its box under the
# default title, exits 0 after OK and leaves the first window the only one;
# a copy under another name runs beside it.
set -uo pipefail
bin=$1
work=$(mktemp -d)
. "$(dirname "$0")/../scripts/xvfb.sh"
xvfb_start "$work"; started=$?
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ "$started" -eq 0 ] || fail "Xvfb did not start"
export DISPLAY=$display XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb

window_of() { timeout 20 xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -n 1; }

"$bin" & first=$!; pids+=("$first")
main=$(window_of "$first") || true
[ -n "$main" ] || fail "the first instance showed no window"
[ "$(xdotool getwindowname "$main")" = "ゆらぎ丸" ] || fail "first window title is $(xdotool getwindowname "$main")"

"$bin" "$work/ignored.jpg" & second=$!; pids+=("$second")
box=$(window_of "$second") || true
[ -n "$box" ] || fail "the second instance showed no box"
title=$(xdotool getwindowname "$box")
[ "$title" = "$(basename "$bin")" ] || fail "box caption is '$title'"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key --window "$box" Return
for _ in $(seq 50); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
kill -0 "$second" 2>/dev/null && fail "the second instance did not end after OK"
wait "$second"; code=$?
[ "$code" -eq 0 ] || fail "the second instance exited with $code"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
count=$(xdotool search --onlyvisible --name '^ゆらぎ丸$' 2>/dev/null | wc -l)
[ "$count" -eq 1 ] || fail "$count main windows after the second start"

cp "$bin" "$work/yuragimaru-copy"
"$work/yuragimaru-copy" & copy=$!; pids+=("$copy")
other=$(window_of "$copy") || true
[ -n "$other" ] || fail "a copy under another name did not start on its own"
echo "1 passed, 0 failed"
