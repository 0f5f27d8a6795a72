#!/usr/bin/env bash
# Hostile programs and payloads: each is packed into a real executable and
# run as a user runs it, with standard input from /dev/null and output
# through a pipe. Each must end soundly and cheaply:
#   - exit status 0 (or, for a deliberately endless program, named *.endless,
#     end by the SIGTERM sent at its time budget: 2 seconds, or the seconds
#     the .endless file holds),
#   - within 5 seconds (LOUSA_HOSTILE_SECONDS), with a peak resident memory
#     under 1 GiB; an endless case within a fifth of that after its SIGTERM,
#   - with NAME.env (VARIABLE=value lines, set for the run): when it sets
#     LOUSA_MEMORY_LIMIT, a peak under that ceiling plus 32 MiB (the runner,
#     its code and its stack region, which the ceiling does not cover;
#     LOUSA_HOSTILE_SLACK_MIB changes the 32 for sanitizer builds, whose
#     shadow memory and redzones come on top of every allocation),
#   - nothing on standard error (a sanitizer report lands there),
#   - standard output exactly as in NAME.expected, when the case has one.
#
# Usage: tests/hostile/run.sh LOUSA MEASURE WORKDIR [CASE...]
#   LOUSA    the lousa tool (its lousa-runner beside it is the stub)
#   MEASURE  the hostile_measure helper built beside the tests
set -uo pipefail
lousa=$(realpath "$1")
measure=$(realpath "$2")
work=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
cases_dir=$here/cases
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")

# The limit is for a release build; sanitizer builds run several times slower.
limit_seconds=${LOUSA_HOSTILE_SECONDS:-5}
endless_budget=2
limit_kib=$((1024 * 1024))
slack_kib=$(( ${LOUSA_HOSTILE_SLACK_MIB:-32} * 1024 ))

# The payload cases are built by a script from a packed program.
"$here/make_payloads.sh" "$lousa" "$work/payloads" || { echo "hostile: building the payload cases failed"; exit 1; }

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$cases_dir"/*.lst "$work"/payloads/*.exe; do
    [ -e "$f" ] || continue
    n=$(basename "$f"); names+=("${n%.*}")
  done
fi

pass=0
fail=0
for name in "${names[@]}"; do
  dir=$work/$name
  mkdir -p "$dir"
  if [ -f "$cases_dir/$name.lst" ]; then
    if ! "$lousa" pack "$cases_dir/$name.lst" -o "$dir/prog" 2>"$dir/pack.err"; then
      echo "FAIL $name: does not pack: $(head -1 "$dir/pack.err")"; fail=$((fail + 1)); continue
    fi
  else
    cp "$work/payloads/$name.exe" "$dir/prog"
  fi
  expected=""
  for e in "$cases_dir/$name.expected" "$work/payloads/$name.expected"; do [ -f "$e" ] && expected=$e; done
  budget=$limit_seconds
  endless=0
  if [ -f "$cases_dir/$name.endless" ]; then
    endless=1
    budget=$(tr -d '[:space:]' <"$cases_dir/$name.endless")
    [ -n "$budget" ] || budget=$endless_budget
  fi
  settings=()
  peak_limit_kib=$limit_kib
  if [ -f "$cases_dir/$name.env" ]; then
    mapfile -t settings < <(grep -v '^[[:space:]]*$' "$cases_dir/$name.env")
    for s in "${settings[@]}"; do
      case $s in
        LOUSA_MEMORY_LIMIT=*M) mib=${s#*=}; peak_limit_kib=$(( ${mib%M} * 1024 + slack_kib )) ;;
      esac
    done
  fi

  (cd "$dir" && env "${settings[@]}" "$measure" "$budget" report ./prog </dev/null 2>stderr | cat >stdout)
  read -r peak seconds how code <"$dir/report"
  problems=()
  if [ "$endless" = 1 ]; then
    [ "$how $code" = "signal 15" ] || problems+=("ended by $how $code, not by the SIGTERM of its budget")
  else
    [ "$how $code" = "exit 0" ] || problems+=("ended by $how $code")
  fi
  awk -v s="$seconds" -v l="$limit_seconds" 'BEGIN { exit !(s < l) }' || problems+=("took ${seconds}s")
  if [ "$endless" = 1 ]; then
    awk -v s="$seconds" -v b="$budget" -v l="$limit_seconds" 'BEGIN { exit !(s < b + l / 5) }' ||
      problems+=("took $(awk -v s="$seconds" -v b="$budget" 'BEGIN { printf "%.2f", s - b }')s to end after its SIGTERM")
  fi
  [ "$peak" -lt "$peak_limit_kib" ] || problems+=("peak memory ${peak} KiB, over ${peak_limit_kib} KiB")
  [ -s "$dir/stderr" ] && problems+=("standard error: $(head -c 300 "$dir/stderr" | tr '\n' ' ')")
  if [ -n "$expected" ] && ! cmp -s "$expected" "$dir/stdout"; then
    problems+=("output differs: got '$(head -c 200 "$dir/stdout" | od -An -c | tr -s ' \n' ' ')'")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    printf 'ok   %-28s %6d KiB %6.2f s\n' "$name" "$peak" "$seconds"
    pass=$((pass + 1))
  else
    printf 'FAIL %-28s %6d KiB %6.2f s: %s\n' "$name" "$peak" "$seconds" "${problems[*]}"
    fail=$((fail + 1))
  fi
done
echo "hostile: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
