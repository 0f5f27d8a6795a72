#!/usr/bin/env bash
# A run started with any of standard input, output and error closed: the
# program's files must not take their numbers. The program opens a data file
# to read and a file to write, writes to the console, reads a line from the
# console and writes it to its file. With the console's descriptors closed,
# console output goes nowhere and console input is at its end; the files
# hold exactly what the program wrote to them. Checked for each of the seven
# ways to close some of 0, 1 and 2, for the packed runner and `lousa run`.
#
# Usage: tests/hostile/closed_descriptors.sh LOUSA WORKDIR
set -uo pipefail
lousa=$(realpath "$1")
work=$2
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")

cat >"$work/program.lst" <<'LISTING'
    ENTER_JUMP 300 100 start
start:
    ADDR_UP 0 3
    PUSH_N 6 'o' '.' 't' 'x' 't' -1
    STORE_N 6
    ADDR_UP 0 10
    PUSH_N 6 'i' '.' 't' 'x' 't' -1
    STORE_N 6
    PUSH_STR "i.txt"
    FILE_RESET 0
    PUSH_STR "o.txt"
    FILE_REWRITE 0
    ADDR_UP 0 3
    PUSH_STR "dados;"
    FILE_WRITE_STR
    POP
    PUSH_STR "console output longer than the data file"
    CON_WRITE 6
    CON_WRITE 5
    ADDR_UP 0 20
    CON_READ_STR 80 1
    ADDR_UP 0 3
    ADDR_UP 0 20
    LOAD_STR 80
    FILE_WRITE_STR
    POP
    PUSH_STR "o.txt"
    FILE_CLOSE
    HALT
LISTING
"$lousa" pack "$work/program.lst" -o "$work/prog" >/dev/null || exit 1
input_file='linha do arquivo de dados'

pass=0
fail=0
# closes: a subset of 0 1 2, as the shell closes them (<&-, >&-, 2>&-).
run_closed() {  # how (packed|run), closes
  local how=$1 closes=$2
  local dir=$work/$how-${closes// /}
  mkdir -p "$dir"
  cp "$work/prog" "$work/program.lst" "$dir/"
  printf '%s\r\n' "$input_file" >"$dir/i.txt"
  local command=("./prog")
  [ "$how" = run ] && command=("$lousa" run program.lst)
  local redirections=""
  for fd in $closes; do redirections+=" $fd>&-"; done
  # The console's input, where it is open, is a line the program may read.
  (cd "$dir" && echo "linha da entrada" | eval "timeout 10 \"\${command[@]}\" $redirections" >"$dir/out" 2>"$dir/err")
  local status=$?
  local problems=()
  [ "$status" -eq 0 ] || problems+=("exit status $status")
  local typed="linha da entrada"
  [[ " $closes " == *" 0 "* ]] && typed=""
  [ "$(cat "$dir/o.txt")" = "dados;$typed" ] || problems+=("o.txt holds '$(head -c 120 "$dir/o.txt")'")
  [ "$(cat "$dir/i.txt")" = "$input_file"$'\r' ] || problems+=("i.txt holds '$(head -c 120 "$dir/i.txt")'")
  local name="$how, closed:$closes"
  if [ ${#problems[@]} -eq 0 ]; then echo "ok   $name"; pass=$((pass + 1)); else echo "FAIL $name: ${problems[*]}"; fail=$((fail + 1)); fi
}

for how in packed run; do
  for closes in "0" "1" "2" "0 1" "0 2" "1 2" "0 1 2"; do
    run_closed "$how" "$closes"
  done
done
echo "closed descriptors: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
