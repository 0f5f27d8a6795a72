#!/usr/bin/env bash
# Nothing lost, whatever way a run ends: a program writes a text file and a
# typed file, then ends by HALT, by a run-time error, by running off the end
# of its code, or is stopped by SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGXCPU,
# SIGALRM, SIGUSR1 (or killed by SIGKILL while it waits) while it
# computes, sleeps in DELAY or waits for input, or by SIGPIPE when the reader
# of its output goes away. Every byte it wrote must be on
# disk; a stopped run must end promptly, by the signal it got (exit status
# 128 + n, as a shell sees it), without a run-time error text.
#
# Usage: tests/hostile/ways_out.sh LOUSA WORKDIR
set -uo pipefail
lousa=$(realpath "$1")
work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")

text_expected=$(printf '12345\r\nfim' | od -An -tx1 | tr -d ' \n')
typed_expected="78563412"
error_text=$(printf ' => Erro de execu\347\343o na linha 4...\n => Divis\343o por Zero!' | od -An -tx1 | tr -d ' \n')
invalid_text=$(printf ' => Erro de execu\347\343o na linha 3...\nInstru\347\343o inv\341lida' | od -An -tx1 | tr -d ' \n')

pass=0
fail=0
report() {  # name, problems...
  local name=$1; shift
  if [ $# -eq 0 ]; then echo "ok   $name"; pass=$((pass + 1)); else echo "FAIL $name: $*"; fail=$((fail + 1)); fi
}
hex() { od -An -tx1 "$1" 2>/dev/null | tr -d ' \n'; }

# Packs the common file-writing start followed by the given ending.
pack() {  # name, ending listing text
  mkdir -p "$work/$1"
  { cat "$here/ways_out/files.inc"; printf '%s\n' "$2"; } >"$work/$1/program.lst"
  "$lousa" pack "$work/$1/program.lst" -o "$work/$1/prog" >/dev/null
}

check_files() {  # dir → problems on stdout
  [ "$(hex "$1/t.txt")" = "$text_expected" ] || echo "t.txt holds '$(hex "$1/t.txt")'"
  [ "$(hex "$1/d.bin")" = "$typed_expected" ] || echo "d.bin holds '$(hex "$1/d.bin")'"
}

# --- endings without a signal
declare -A endings=(
  [halt]="    HALT"
  [runtime_error]="    LINE 4
    PUSH 1
    PUSH 0
    DIV_INT
    HALT"
  [off_the_end]="    PUSH 1
    POP"
)
declare -A outputs=([halt]="" [runtime_error]="$error_text" [off_the_end]="$invalid_text")
for name in halt runtime_error off_the_end; do
  pack "$name" "${endings[$name]}"
  (cd "$work/$name" && timeout 10 ./prog </dev/null >out 2>err)
  status=$?
  problems=()
  [ "$status" -eq 0 ] || problems+=("exit status $status")
  [ "$(hex "$work/$name/out")" = "${outputs[$name]}" ] || problems+=("output '$(head -c 120 "$work/$name/out")'")
  [ -s "$work/$name/err" ] && problems+=("stderr: $(head -c 200 "$work/$name/err")")
  while IFS= read -r p; do [ -n "$p" ] && problems+=("$p"); done < <(check_files "$work/$name")
  report "$name" "${problems[@]}"
done

# --- stopped by a signal while busy, asleep or waiting for input
busy="    PUSH_STR \"pronto\"
    CON_WRITE 6
    PUSH 0
    DELAY
loop:
    JUMP loop"
asleep="    PUSH_STR \"pronto\"
    CON_WRITE 6
    PUSH 0
    DELAY
    PUSH 600000
    DELAY
    HALT"
waiting="    PUSH_STR \"pronto\"
    CON_WRITE 6
    PUSH 0
    DELAY
    ADDR_UP 0 17
    CON_READ 1
    HALT"
pack busy "$busy"
pack asleep "$asleep"
pack waiting "$waiting"

# Runs dir/prog, waits for its "pronto", sends the signal, and checks that it
# ended within 3 seconds by that signal with every byte on disk.
stop_with() {  # case name, program dir, signal name, stdin source (a command)
  local name=$1 dir=$work/$2 signal=$3 feeder=$4
  rm -f "$dir/t.txt" "$dir/d.bin" "$dir/out"
  local number
  number=$(kill -l "$signal")
  # Standard input: a pipe that stays open and silent for 30 s.
  (cd "$dir" && exec ./prog < <($feeder) >out 2>err) &
  local pid=$!
  local waited=0
  until grep -q pronto "$dir/out" 2>/dev/null; do
    sleep 0.05; waited=$((waited + 1))
    [ $waited -gt 200 ] && break
  done
  local start=$SECONDS
  kill -s "$signal" "$pid" 2>/dev/null
  local status=0
  # wait returns when the program ends; a hang is cut by the watchdog.
  ( sleep 10; kill -s KILL "$pid" 2>/dev/null ) >/dev/null 2>&1 & local watchdog=$!
  { wait "$pid"; } 2>/dev/null; status=$?
  kill "$watchdog" 2>/dev/null; wait "$watchdog" 2>/dev/null
  local problems=()
  [ "$status" -eq $((128 + number)) ] || problems+=("exit status $status, not $((128 + number)) (SIG$signal)")
  [ $((SECONDS - start)) -le 3 ] || problems+=("took $((SECONDS - start)) s to stop")
  [ "$(cat "$dir/out")" = "pronto" ] || problems+=("output '$(head -c 120 "$dir/out")'")
  grep -v "^Quit\|core dumped" "$dir/err" 2>/dev/null | grep -q . && problems+=("stderr: $(head -c 200 "$dir/err")")
  while IFS= read -r p; do [ -n "$p" ] && problems+=("$p"); done < <(check_files "$dir")
  report "$name" "${problems[@]}"
}
# Silent, open standard input; its stderr must not hold the caller's pipe open.
silent_input() { sleep 30 2>/dev/null; }
ulimit -c 0
stop_with busy_sigterm busy TERM silent_input
stop_with busy_sigint busy INT silent_input
stop_with busy_sighup busy HUP silent_input
stop_with busy_sigquit busy QUIT silent_input
stop_with asleep_sigterm asleep TERM silent_input
stop_with waiting_sigint waiting INT silent_input
stop_with waiting_sigterm waiting TERM silent_input
# Any signal whose default ends the process (a grader's CPU-time limit, an
# alarm...) is a stop signal; SIGKILL cannot be caught, but a run killed
# while it waits has written its files out before waiting.
stop_with busy_sigxcpu busy XCPU silent_input
stop_with asleep_sigalrm asleep ALRM silent_input
stop_with waiting_sigusr1 waiting USR1 silent_input
stop_with asleep_sigkill asleep KILL silent_input
stop_with waiting_sigkill waiting KILL silent_input

# --- the reader of its output goes away (SIGPIPE): the same, by SIGPIPE
pack pipe_closed "loop:
    PUSH_STR \"linha de texto\"
    CON_WRITE 6
    CON_WRITE 5
    JUMP loop"
dir=$work/pipe_closed
(cd "$dir" && timeout 10 ./prog </dev/null 2>err | head -c 20 >out; echo "${PIPESTATUS[0]}" >status)
problems=()
[ "$(cat "$dir/status")" = 141 ] || problems+=("exit status $(cat "$dir/status"), not 141 (SIGPIPE)")
[ "$(cat "$dir/out")" = "$(printf 'linha de texto\nlinha')" ] || problems+=("output '$(cat "$dir/out")'")
[ -s "$dir/err" ] && problems+=("stderr: $(head -c 200 "$dir/err")")
while IFS= read -r p; do [ -n "$p" ] && problems+=("$p"); done < <(check_files "$dir")
report pipe_closed "${problems[@]}"

echo "ways out: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
