#!/usr/bin/env bash
# Builds the hostile payload cases into OUTDIR as NAME.exe (and NAME.expected
# where the outcome is exact): containers the packer would never write.
# Usage: make_payloads.sh LOUSA OUTDIR
set -euo pipefail
lousa=$1
out=$2
mkdir -p "$out"
stub=$(dirname "$lousa")/lousa-runner

# Code texts of 10,000,000 words, larger than the region memory keeps
# contiguous by default. The first enters its frame as compiled code does:
# its stack would begin above the memory limit, so the memory message. The
# second jumps over LINE markers to its end, writes 7 using the stack that
# starts at word 0, and stores and loads a word above the code.
awk 'BEGIN {
  n = 10000000
  printf "%d %d ", n, n + 1
  printf "94 1 100 4 57 0 0 "
  for (i = 0; i < 4999994; i++) printf "62 1 "
  printf "58 7 130 1 43 "
}' >"$out/code_text_10m.code"
"$lousa" pack "$out/code_text_10m.code" -o "$out/code_text_10m.exe" >/dev/null
rm -f "$out/code_text_10m.code"
printf ' => Erro de execu\347\343o na linha 0...\n => Esse programa n\343o pode ser executado, porque usa muita mem\363ria!' \
  >"$out/code_text_10m.expected"
awk 'BEGIN {
  n = 10000000
  printf "%d %d ", n, n + 1
  printf "60 %d 57 0 0 ", n - 17
  for (i = 0; i < 4999989; i++) printf "62 1 "
  printf "58 7 130 1 58 12000000 58 5 8 1 58 12000000 121 1 130 1 43 "
}' >"$out/code_text_10m_stack_above.code"
"$lousa" pack "$out/code_text_10m_stack_above.code" -o "$out/code_text_10m_stack_above.exe" >/dev/null
rm -f "$out/code_text_10m_stack_above.code"
printf '75' >"$out/code_text_10m_stack_above.expected"

# A count that claims 2,000,000,000 words ahead of one HALT.
printf '2000000000 0 43 ' >"$out/count_claims_huge.code"
"$lousa" pack "$out/count_claims_huge.code" -o "$out/count_claims_huge.exe" >/dev/null
: >"$out/count_claims_huge.expected"

# A program that writes "ok", then three damaged copies of its container.
cat >"$out/ok.lst" <<'LST'
    ENTER_JUMP 1 100 start
start:
    LINE 1
    PUSH_STR "ok"
    CON_WRITE 6
    HALT
LST
"$lousa" pack "$out/ok.lst" -o "$out/ok.exe" >/dev/null
size=$(stat -c %s "$out/ok.exe")
# The count byte claims 255 valid bits in the last data byte.
cp "$out/ok.exe" "$out/count_byte_claims_more.exe"
printf '\377' | dd of="$out/count_byte_claims_more.exe" bs=1 seek=$((size - 2)) conv=notrunc status=none
# The stream loses its second half, keeping the count byte and trailer.
stub_size=$(stat -c %s "$stub")
stream_start=$((stub_size + 3 + 1 + $(printf 'ok.pas' | wc -c) + 1))
keep=$(( stream_start + (size - 3 - stream_start) / 2 ))
{ head -c "$keep" "$out/ok.exe"; tail -c 3 "$out/ok.exe"; } >"$out/stream_cut_in_half.exe"
# Random bytes after the marker: the stream decodes to noise.
{ head -c "$stream_start" "$out/ok.exe"; LC_ALL=C awk 'BEGIN { srand(7); for (i = 0; i < 3000; i++) printf "%c", int(rand() * 256) }'; } \
  >"$out/stream_of_noise.exe"
# The stub alone: no marker, so nothing runs.
cp "$stub" "$out/no_payload.exe"
: >"$out/no_payload.expected"
chmod 755 "$out"/*.exe
rm -f "$out/ok.exe" "$out/ok.lst"
