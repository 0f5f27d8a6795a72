#!/usr/bin/env bash
# End-to-end programs: each tests/programs/NAME/program.lst is packed into a
# real executable by the lousa tool and run as a user runs it, by its path
# from another directory, with output through a pipe.
#
#   run.sh LOUSA WORKDIR [NAME...]
#
# Per program: optional `input` (standard input, else /dev/null), `expected`
# (the exact standard output bytes), optional `before/` (copied beside the
# executable first), `after/` (files that must then be beside it, byte for
# byte), `absent` (paths beside it that must not exist afterwards, one a line)
# and `env` (VARIABLE=value lines set for the run; $DIR in a value is the
# executable's directory). XDG_DATA_HOME is $DIR/data unless `env` says
# otherwise, so no run touches the user's own files. The run must exit with
# status 0 within the time limit.
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 LOUSA WORKDIR [NAME...]" >&2
  exit 2
fi
lousa=$(realpath "$1")
work=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
limit=${LOUSA_PROGRAM_TIMEOUT:-20}

mkdir -p "$work" || exit 2
work=$(realpath "$work")

# Shows where two files first differ, as offsets and bytes around that place.
show_difference() {
  local expected=$1 actual=$2
  local first
  first=$(cmp "$expected" "$actual" 2>/dev/null | awk '{print $5}' | tr -d ,)
  if [ -z "$first" ]; then
    # One is a prefix of the other.
    echo "    expected $(wc -c <"$expected") bytes, got $(wc -c <"$actual")"
    first=$(( $(wc -c <"$expected") < $(wc -c <"$actual") ? $(wc -c <"$expected") : $(wc -c <"$actual") ))
    first=$((first + 1))
  else
    echo "    first difference at byte $first (expected $(wc -c <"$expected") bytes, got $(wc -c <"$actual"))"
  fi
  local from=$(( first > 33 ? first - 33 : 0 ))
  echo "    expected:"
  od -A d -c -j "$from" -N 80 "$expected" | sed 's/^/      /'
  echo "    actual:"
  od -A d -c -j "$from" -N 80 "$actual" | sed 's/^/      /'
}

run_one() {
  local source=$1 name
  name=$(basename "$source")
  local dir=$work/$name
  rm -rf "$dir" "$dir.cwd"
  mkdir -p "$dir" "$dir.cwd"
  if [ -d "$source/before" ]; then
    cp -R "$source/before/." "$dir/"
  fi
  if ! "$lousa" pack "$source/program.lst" -o "$dir/prog" 2>"$dir.pack-errors"; then
    echo "FAIL $name: pack failed"
    sed 's/^/    /' "$dir.pack-errors"
    return 1
  fi
  local input=/dev/null
  [ -f "$source/input" ] && input=$source/input
  local settings=("XDG_DATA_HOME=$dir/data") line
  if [ -f "$source/env" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      [ -n "$line" ] && settings+=("${line//\$DIR/$dir}")
    done <"$source/env"
  fi
  local status
  (cd "$dir.cwd" && env "${settings[@]}" timeout "$limit" "$dir/prog" <"$input" 2>"$dir.stderr" | cat >"$dir.stdout"
   exit "${PIPESTATUS[0]}")
  status=$?
  local ok=1
  if [ "$status" -eq 124 ]; then
    echo "FAIL $name: no end within ${limit}s"
    ok=0
  elif [ "$status" -ne 0 ]; then
    echo "FAIL $name: exit status $status"
    ok=0
  fi
  if [ ! -f "$source/expected" ]; then
    echo "FAIL $name: no expected file"
    ok=0
  elif ! cmp -s "$source/expected" "$dir.stdout"; then
    [ "$ok" -eq 1 ] && echo "FAIL $name: standard output differs"
    [ "$ok" -eq 0 ] && echo "    and standard output differs"
    show_difference "$source/expected" "$dir.stdout"
    ok=0
  fi
  if [ -d "$source/after" ]; then
    local file relative
    while IFS= read -r -d '' file; do
      relative=${file#"$source/after/"}
      if [ ! -f "$dir/$relative" ]; then
        [ "$ok" -eq 1 ] && echo "FAIL $name: file $relative missing"
        [ "$ok" -eq 0 ] && echo "    and file $relative missing"
        ok=0
      elif ! cmp -s "$file" "$dir/$relative"; then
        [ "$ok" -eq 1 ] && echo "FAIL $name: file $relative differs"
        [ "$ok" -eq 0 ] && echo "    and file $relative differs"
        show_difference "$file" "$dir/$relative"
        ok=0
      fi
    done < <(find "$source/after" -type f -print0 | sort -z)
  fi
  if [ -f "$source/absent" ]; then
    local unwanted
    while IFS= read -r unwanted || [ -n "$unwanted" ]; do
      if [ -n "$unwanted" ] && { [ -e "$dir/$unwanted" ] || [ -L "$dir/$unwanted" ]; }; then
        [ "$ok" -eq 1 ] && echo "FAIL $name: $unwanted exists"
        [ "$ok" -eq 0 ] && echo "    and $unwanted exists"
        ok=0
      fi
    done <"$source/absent"
  fi
  if [ "$ok" -eq 1 ]; then
    echo "ok   $name"
    return 0
  fi
  if [ -s "$dir.stderr" ]; then
    echo "    standard error:"
    head -c 2000 "$dir.stderr" | sed 's/^/      /'
  fi
  return 1
}

programs=()
if [ $# -gt 0 ]; then
  for name in "$@"; do programs+=("$here/$name"); done
else
  for source in "$here"/*/; do
    [ -f "$source/program.lst" ] && programs+=("${source%/}")
  done
fi

passed=0
failed=0
for source in "${programs[@]}"; do
  if [ ! -f "$source/program.lst" ]; then
    echo "FAIL $(basename "$source"): no program.lst"
    failed=$((failed + 1))
  elif run_one "$source"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "programs: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
