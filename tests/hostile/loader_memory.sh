#!/usr/bin/env bash
# The loader's memory, checked by address-space limits rather than by speed:
#   - a 64 MiB code text runs within twice its size plus the words it
#     becomes (4 bytes each) and 32 MiB for the runner itself,
#   - a 64 MiB stream that decodes to a few words (matches of length 0, then
#     a small program) runs within 32 MiB,
# The programs write "ok": a run that failed to allocate would run nothing.
#   - a code text just over the 256 MiB the loader accepts is refused with
#     "Error.." within 32 MiB: nothing is allocated for it.
# Sanitizer builds reserve terabytes of shadow memory and cannot run under
# an address-space limit; they skip this test (exit 77).
# Usage: tests/hostile/loader_memory.sh LOUSA WORKDIR
set -uo pipefail
lousa=$(realpath "$1")
work=$2
if [ "${LOUSA_SANITIZED:-0}" = 1 ]; then echo "loader_memory: skipped under sanitizers"; exit 77; fi
bin=$(dirname "$lousa")
rm -rf "$work" && mkdir -p "$work"
mib=$((1024 * 1024))
text=$((64 * mib))
# No frame: compiled code's would put the stack above the large code, past
# the memory limit. The stack starts at word 0.
cat >"$work/ok.lst" <<'LST'
    LINE 1
    PUSH_STR "ok"
    CON_WRITE 6
    HALT
LST
ok=$("$lousa" asm "$work/ok.lst" -o -) || { echo "loader_memory: the program does not assemble"; exit 1; }
"$bin/large_payload" "$bin/lousa-runner" lines "$text" "$work/lines.exe" "$ok" &&
  "$bin/large_payload" "$bin/lousa-runner" empty "$text" "$work/empty.exe" "$ok" &&
  "$bin/large_payload" "$bin/lousa-runner" lines $((256 * mib)) "$work/over.exe" "$ok" ||
  { echo "loader_memory: building the payloads failed"; exit 1; }
chmod 755 "$work"/*.exe
words=$("$lousa" info "$work/lines.exe" | awk '/^code:/ { print $2 }' | tr -d ,)

fail=0
# check NAME LIMIT_KIB EXPECTED_OUTPUT
check() {
  local out rc
  out=$(cd "$work" && ulimit -v "$2" && ./"$1".exe </dev/null 2>&1)
  rc=$?
  if [ "$rc" != 0 ] || [ "$out" != "$3" ]; then
    echo "FAIL $1 under ulimit -v $2 KiB: status $rc, output '$(printf '%s' "$out" | head -c 200)'"
    fail=1
  else
    echo "ok   $1 under ulimit -v $2 KiB"
  fi
}
check lines $(( (2 * text + 4 * words + 32 * mib) / 1024 )) ok
check empty $((32 * 1024)) ok
check over $((32 * 1024)) "Error.."
exit $fail
