#!/usr/bin/env bash
# Terminal tests: each tests/terminal/NAME/program.lst is packed by the lousa
# tool and run inside a real terminal emulator (tmux, 40 columns by 12 rows,
# UTF-8), keys are sent to it, and the screen with its colours is captured
# and compared. After every run the terminal's settings must be as they were
# before it (stty -g) and the cursor must be visible.
#
#   run.sh LOUSA WORKDIR [NAME...]
#
# A case directory holds:
#   program.lst   the program
#   script        what to do while it runs, one command a line:
#                   wait TEXT      until the screen shows TEXT (5 s at most)
#                   keys KEY...    tmux send-keys KEY... (key names: Up, C-c, F1...)
#                   text TEXT      types TEXT literally
#                   signal NAME    sends SIGNAME to the program
#                   stopped        waits until the program is stopped (Ctrl+Z)
#                   resume         brings the stopped program back (fg)
#                   sleep SECONDS
#                   check NAME     the screen must equal the file NAME
#                   stty restored|changed  the terminal's settings now against those before the run
#                   cursor visible|hidden
#                   scrollback NAME  the scrollback and screen must equal NAME
#                   resize COLUMNS ROWS  the terminal changes size
#                   bytes TEXT     the program has written TEXT (printf %b escapes)
#                                  to the terminal, as bytes
#                   nobytes TEXT   ... and has never written TEXT
#                 the run then must end; the screen must equal `expected`
#   expected      the screen after the run (capture-pane -p -e)
#   status        optional: the exit status the shell sees (default 0)
#   requires      optional: shell commands run first, in the case's work
#                 directory; when they fail the case is skipped, with their
#                 last line of output as the reason
#   before        optional: shell commands run in the terminal before the program
#   after         optional: shell commands run in the terminal after it (a prompt)
#   size          optional: "COLUMNS ROWS" of the terminal instead of 40 12
#   stdin         optional: the program's standard input (else the terminal)
# Set LOUSA_TERMINAL_ACCEPT=1 to write the captured screens as the expected ones.
# Exits 77 (skipped) when tmux is not installed.
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 LOUSA WORKDIR [NAME...]" >&2
  exit 2
fi
if ! command -v tmux >/dev/null 2>&1; then
  echo "tmux not found: terminal tests skipped"
  exit 77
fi
lousa=$(realpath "$1")
work=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work" || exit 2
work=$(realpath "$work")
columns=40
rows=12
# The servers' sockets live in a directory of our own, removed at the end.
sockets=$(mktemp -d /tmp/lousa-tmux.XXXXXX) || exit 2
socket=$sockets/none
accept=${LOUSA_TERMINAL_ACCEPT:-0}

printf 'set -g status off\nset -g history-limit 2000\n' >"$work/tmux.conf"
tmx() { tmux -S "$socket" -f "$work/tmux.conf" "$@"; }
cleanup() {
  tmx kill-server >/dev/null 2>&1
  rm -rf "$sockets"
}
trap cleanup EXIT

screen() { tmx capture-pane -p -e -t lousa; }

# Everything the program writes to the terminal, recorded from the pane.
raw_output() { cat "$1/raw" 2>/dev/null; }

check_bytes() {
  local dir=$1 want=$2 text=$3 i
  local pattern
  pattern=$(printf '%b' "$text")
  for ((i = 0; i < 100; i++)); do
    if raw_output "$dir" | grep -qaF -- "$pattern"; then
      [ "$want" = yes ] && return 0
      echo "    written although it must not be: $text"
      return 1
    fi
    [ "$want" = no ] && return 0
    sleep 0.05
  done
  echo "    never written: $text"
  return 1
}

wait_for_text() {
  local text=$1 i
  for ((i = 0; i < 100; i++)); do
    if tmx capture-pane -p -t lousa 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    sleep 0.05
  done
  echo "    timed out waiting for: $text"
  return 1
}

# Compares the screen (or, with scrollback, the history too) with a file,
# waiting up to 5 s for the terminal to show it.
compare() {
  local dir=$1 name=$2 what=$3 actual i
  capture() {
    if [ "$what" = scrollback ]; then tmx capture-pane -p -e -S - -t lousa; else screen; fi
  }
  if [ "$accept" = 1 ]; then
    sleep 1
    printf '%s\n' "$(capture)" >"$dir/$name"
    return 0
  fi
  for ((i = 0; i < 50; i++)); do
    actual=$(capture)
    [ "$actual" = "$(cat "$dir/$name")" ] && return 0
    sleep 0.1
  done
  echo "    screen differs from $name:"
  diff <(cat -v "$dir/$name") <(printf '%s\n' "$actual" | cat -v) | sed 's/^/      /'
  return 1
}

# The pane's terminal settings, read from outside, against those before the run.
check_settings() {
  local dir=$1 want=$2 now
  sleep 0.3
  now=$(stty -g -F "$(tmx display-message -p -t lousa '#{pane_tty}')")
  if [ "$want" = restored ] && [ "$now" != "$(cat "$dir/before.stty")" ]; then
    echo "    settings not restored: $(cat "$dir/before.stty") -> $now"
    return 1
  fi
  if [ "$want" = changed ] && [ "$now" = "$(cat "$dir/before.stty")" ]; then
    echo "    settings not changed for the run"
    return 1
  fi
}

check_cursor() {
  local flag
  flag=$(tmx display-message -p -t lousa '#{cursor_flag}')
  if { [ "$1" = visible ] && [ "$flag" != 1 ]; } || { [ "$1" = hidden ] && [ "$flag" != 0 ]; }; then
    echo "    cursor not $1"
    return 1
  fi
}

run_one() {
  local source=$1 name
  name=$(basename "$source")
  local dir=$work/$name
  rm -rf "$dir"
  mkdir -p "$dir"
  if [ -f "$source/requires" ]; then
    local reason
    if ! reason=$(cd "$dir" && bash "$source/requires" 2>&1); then
      echo "skip $name: $(printf '%s\n' "$reason" | tail -n 1)"
      return 0
    fi
  fi
  if ! "$lousa" pack "$source/program.lst" -o "$dir/program" 2>"$dir/pack.err"; then
    echo "FAIL $name: pack failed"
    sed 's/^/    /' "$dir/pack.err"
    return 1
  fi
  # The shell in the terminal: runs the program as its foreground job, with
  # job control as an interactive shell has it, and records the terminal
  # settings around it. Its INT trap is a handler (not "ignore"), so the
  # program starts with the default disposition. A job stopped by Ctrl+Z is
  # brought back with fg when the script says "resume"; meanwhile the shell
  # clears the screen and writes on it, so that the redraw after fg shows.
  cat >"$dir/wrap.sh" <<EOF
set -m
trap ':' INT
cd '$dir'
$( [ -f "$source/before" ] && cat "$source/before" )
stty -g >before.stty
while [ ! -f go ]; do sleep 0.02; done
sh -c 'echo \$\$ >pid; exec ./program' $( [ -f "$source/stdin" ] && echo "<'$source/stdin'" )
status=\$?
while [ \$status -eq 148 ]; do
  printf '\\033[H\\033[2J\\033[3;1H[parado]'
  : >stopped
  while [ ! -f resume ]; do sleep 0.05; done
  rm -f resume stopped
  fg >/dev/null
  status=\$?
done
$( [ -f "$source/after" ] && cat "$source/after" )
echo \$status >status.tmp
stty -g >after.stty
mv status.tmp status
exec sleep 600
EOF
  # A server of its own for each case: a server still shutting down cannot get in the way.
  socket=$sockets/$name
  local width=$columns height=$rows
  [ -f "$source/size" ] && read -r width height <"$source/size"
  if ! tmx new-session -d -s lousa -x "$width" -y "$height" -e LANG=C.UTF-8 -e LC_ALL=C.UTF-8 \
      "bash --norc --noprofile $dir/wrap.sh"; then
    echo "FAIL $name: tmux could not start"
    return 1
  fi
  tmx pipe-pane -t lousa "cat >'$dir/raw'"
  : >"$dir/go"
  local ok=1 i
  for ((i = 0; i < 100; i++)); do [ -s "$dir/pid" ] && break; sleep 0.05; done
  if [ -f "$source/script" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      [ -z "$line" ] && continue
      [ "${line:0:1}" = "#" ] && continue
      local command=${line%% *} rest=""
      [ "$command" != "$line" ] && rest=${line#* }
      case $command in
        wait) wait_for_text "$rest" || ok=0 ;;
        keys) eval "tmx send-keys -t lousa $rest" ;;
        text) tmx send-keys -t lousa -l -- "$rest" ;;
        signal) kill -s "$rest" "$(cat "$dir/pid")" ;;
        sleep) sleep "$rest" ;;
        stopped)
          for ((i = 0; i < 100; i++)); do [ -f "$dir/stopped" ] && break; sleep 0.05; done
          [ -f "$dir/stopped" ] || { echo "    the program did not stop"; ok=0; } ;;
        resume) : >"$dir/resume" ;;
        check) compare "$source" "$rest" screen || ok=0 ;;
        scrollback) compare "$source" "$rest" scrollback || ok=0 ;;
        stty) check_settings "$dir" "$rest" || ok=0 ;;
        cursor) check_cursor "$rest" || ok=0 ;;
        resize) tmx resize-window -t lousa -x "${rest% *}" -y "${rest#* }" ;;
        bytes) check_bytes "$dir" yes "$rest" || ok=0 ;;
        nobytes) sleep 0.2; check_bytes "$dir" no "$rest" || ok=0 ;;
        *) echo "    unknown script command: $line"; ok=0 ;;
      esac
      [ $ok = 1 ] || break
    done <"$source/script"
  fi
  for ((i = 0; i < 200; i++)); do [ -f "$dir/status" ] && break; sleep 0.05; done
  if [ ! -f "$dir/status" ]; then
    echo "FAIL $name: the program did not end"
    screen | sed 's/^/    | /'
    return 1
  fi
  sleep 0.2
  compare "$source" expected screen || ok=0
  local want=0
  [ -f "$source/status" ] && want=$(cat "$source/status")
  if [ "$(cat "$dir/status")" != "$want" ]; then
    echo "    exit status $(cat "$dir/status"), expected $want"
    ok=0
  fi
  if ! cmp -s "$dir/before.stty" "$dir/after.stty"; then
    echo "    terminal settings not restored: $(cat "$dir/before.stty") -> $(cat "$dir/after.stty")"
    ok=0
  fi
  if [ "$(tmx display-message -p -t lousa '#{cursor_flag}')" != 1 ]; then
    echo "    the cursor was left hidden"
    ok=0
  fi
  if [ $ok = 1 ]; then
    echo "ok   $name"
    return 0
  fi
  echo "FAIL $name"
  return 1
}

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for d in "$here"/*/; do names+=("$(basename "$d")"); done
fi
failed=0
for n in "${names[@]}"; do
  run_one "$here/$n" || failed=$((failed + 1))
  tmx kill-server >/dev/null 2>&1
done
if [ $failed -gt 0 ]; then
  echo "$failed terminal test(s) failed"
  exit 1
fi
echo "all ${#names[@]} terminal tests passed"
