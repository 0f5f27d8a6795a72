#!/usr/bin/env bash
# What shows only in xterm, checked by the colour of its pixels: Debian's
# xterm under Xvfb, keys typed by xdotool, the window dumped by xwd.
#   1. the program's grey on black is black on xterm's black-on-white default;
#   2. Alt+A arrives as ESC a (the program turns the screen green; red when
#      it arrived as a character with the eighth bit set);
#   3. after the window shrinks to 60x20 and grows back to 80x25 while the
#      program waits for a key, the bottom right corner is green again.
#
#   run.sh LOUSA WORKDIR
# Exits 77 (skipped) when xterm, Xvfb, xdotool, xwd or python3 is missing.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 LOUSA WORKDIR" >&2
  exit 2
fi
for tool in xterm Xvfb xdotool xwd python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool not found: xterm checks skipped"
    exit 77
  fi
done
lousa=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$2" || exit 2
work=$(realpath "$2")
rm -f "$work"/*
"$lousa" pack "$here/program.lst" -o "$work/program" || exit 1

xvfb=""
xterm_pid=""
cleanup() {
  [ -n "$xterm_pid" ] && kill "$xterm_pid" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for ((i = 0; i < 100; i++)); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "FAIL xterm: Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n 1 "$work/display")

# xterm's own defaults: black text on white, 8-bit Meta.
LANG=C.UTF-8 LC_ALL=C.UTF-8 xterm -geometry 80x25 -e "$work/program" 2>"$work/xterm.log" &
xterm_pid=$!
window=$(timeout 10 xdotool search --sync --onlyvisible --class xterm | head -n 1)
[ -n "$window" ] || { echo "FAIL xterm: no window"; exit 1; }
xdotool windowfocus --sync "$window" 2>/dev/null || true

# The colour name of a point of the window (fractions of its size).
colour_at() {
  xwd -id "$window" -silent >"$work/shot.xwd" 2>/dev/null || return 1
  local r g b
  read -r r g b < <(python3 "$here/pixel.py" "$work/shot.xwd" "$1" "$2")
  if [ "$r" -lt 60 ] && [ "$g" -lt 60 ] && [ "$b" -lt 60 ]; then echo black
  elif [ "$r" -gt 200 ] && [ "$g" -gt 200 ] && [ "$b" -gt 200 ]; then echo white
  elif [ "$g" -gt 120 ] && [ "$r" -lt 80 ] && [ "$b" -lt 80 ]; then echo green
  elif [ "$r" -gt 120 ] && [ "$g" -lt 80 ] && [ "$b" -lt 80 ]; then echo red
  else echo "$r,$g,$b"; fi
}

failed=0
expect_colour() {
  local what=$1 want=$2 x=$3 y=$4 got="" i
  for ((i = 0; i < 50; i++)); do
    got=$(colour_at "$x" "$y")
    [ "$got" = "$want" ] && { echo "ok   xterm: $what"; return 0; }
    sleep 0.1
  done
  echo "FAIL xterm: $what: $got, expected $want"
  failed=$((failed + 1))
}

expect_colour "grey on black on a black-on-white xterm" black 0.5 0.5
xdotool key alt+a
expect_colour "Alt+A as ESC a" green 0.5 0.5
xdotool windowsize --usehints "$window" 60 20
sleep 0.5
xdotool windowsize --usehints "$window" 80 25
expect_colour "repainted after shrinking and growing back" green 0.97 0.95
xdotool key Escape
for ((i = 0; i < 100; i++)); do kill -0 "$xterm_pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$xterm_pid" 2>/dev/null; then
  echo "FAIL xterm: the program did not end"
  failed=$((failed + 1))
fi
[ $failed -eq 0 ] || exit 1
echo "all xterm checks passed"
