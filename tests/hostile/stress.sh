#!/usr/bin/env bash
# Stress: COUNT (default 200) runs of packed programs, the end-to-end
# programs and a long-output one, each with its piped input and its own
# directory, first one after another and then 2 per core at the same time.
# Every run's output, exit status and files must be identical in both.
#
# Usage: tests/hostile/stress.sh LOUSA WORKDIR [COUNT]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Worker: one run, in its own directory.
if [ "${1:-}" = "--one" ]; then
  src=$2 dir=$3
  mkdir -p "$dir"
  cp "$src/prog" "$dir/prog"
  [ -d "$src/before" ] && cp -r "$src/before/." "$dir/"
  input=/dev/null
  [ -f "$src/input" ] && input=$src/input
  (cd "$dir" && timeout 20 ./prog <"$input" 2>stderr | cat >stdout; echo "${PIPESTATUS[0]}" >status)
  rm -f "$dir/prog"
  exit 0
fi

lousa=$(realpath "$1")
work=$2
count=${3:-200}
rm -rf "$work"
mkdir -p "$work/packed"
work=$(realpath "$work")

# The programs: the end-to-end ones and the stress ones, packed once.
programs=()
for source in "$here"/../programs/*/ "$here"/stress/*.lst; do
  if [ -d "$source" ]; then
    [ -f "$source/program.lst" ] || continue
    name=$(basename "$source"); listing=$source/program.lst; extra=$source
  else
    name=$(basename "$source" .lst); listing=$source; extra=""
  fi
  dest=$work/packed/$name
  mkdir -p "$dest"
  "$lousa" pack "$listing" -o "$dest/prog" >/dev/null || { echo "stress: $name does not pack"; exit 1; }
  if [ -n "$extra" ]; then
    [ -f "$extra/input" ] && cp "$extra/input" "$dest/input"
    [ -d "$extra/before" ] && cp -r "$extra/before" "$dest/before"
  else
    [ -f "${source%.lst}.input" ] && cp "${source%.lst}.input" "$dest/input"
  fi
  programs+=("$dest")
done
[ ${#programs[@]} -gt 0 ] || { echo "stress: no programs"; exit 1; }

jobs_list=$work/jobs
: >"$jobs_list"
for ((i = 0; i < count; i++)); do
  echo "${programs[$((i % ${#programs[@]}))]} $i" >>"$jobs_list"
done

start=$SECONDS
while read -r src i; do "$0" --one "$src" "$work/serial/$i"; done <"$jobs_list"
serial_time=$((SECONDS - start))
parallel=$((2 * $(nproc)))
start=$SECONDS
awk -v w="$work/concurrent" '{ print $1, w "/" $2 }' "$jobs_list" | xargs -P "$parallel" -n 2 "$0" --one
concurrent_time=$((SECONDS - start))

differing=0
for ((i = 0; i < count; i++)); do
  if ! diff -r "$work/serial/$i" "$work/concurrent/$i" >"$work/diff.$i" 2>&1; then
    differing=$((differing + 1))
    [ $differing -le 5 ] && { echo "run $i ($(sed -n "$((i + 1))p" "$jobs_list" | awk '{print $1}' | xargs basename)) differs:"; head -20 "$work/diff.$i"; }
  fi
done
empty=$(grep -L . "$work"/serial/*/status | wc -l)
echo "stress: $count runs of ${#programs[@]} programs, serial ${serial_time}s, $parallel at a time ${concurrent_time}s; $differing differ"
[ "$differing" -eq 0 ] && [ "$empty" -eq 0 ]
