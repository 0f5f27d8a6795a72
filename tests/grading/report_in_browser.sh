#!/usr/bin/env bash
# The grading report opened in a real browser: part of the example class is
# graded, headless Chromium loads index.html from disk, and the rendered page
# must show the class matrix in verdict colours and a marked difference, and
# each run's transcript laid out beside its output (measured in the page as
# rendered), a run killed at its time limit included.
# A screenshot is kept beside the work files. Skips (77) when Chromium is
# missing or cannot start here.
# Usage: report_in_browser.sh LOUSA WORKDIR
set -euo pipefail
lousa=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
examples="$here/../../examples/grading"

browser=""
for b in chromium chromium-browser google-chrome; do
  if command -v "$b" >/dev/null 2>&1; then browser=$b; break; fi
done
[ -n "$browser" ] || { echo "SKIP: no Chromium installed"; exit 77; }

rm -rf "$work"
mkdir -p "$work/class"
for id in ana bruno carla gabi hugo iris kiko rafa; do cp "$examples/turma-soma/$id.lst" "$work/class/"; done
cp "$examples/turma-soma/joao.exe" "$work/class/"
"$lousa" grade "$examples/soma" "$work/class" -o "$work/report" -j 2 >"$work/summary.txt" 2>"$work/progress.txt"

# --no-sandbox: the browser's own sandbox cannot start as root; the page is ours.
flags=(--headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run
       --user-data-dir="$work/profile" --window-size=1280,1600)
if ! timeout 60 "$browser" "${flags[@]}" --dump-dom "file://$work/report/index.html" >"$work/dom.html" 2>"$work/browser.log"; then
  echo "SKIP: Chromium could not start:"; tail -5 "$work/browser.log"; exit 77
fi
timeout 60 "$browser" "${flags[@]}" --screenshot="$work/report.png" "file://$work/report/index.html" \
  >>"$work/browser.log" 2>&1 || true

# The same page with a script that opens every run and measures where the
# transcript landed: beside the actual output (same top, to its right).
cat >"$work/measure.js" <<'EOF'
document.querySelectorAll('details.run').forEach(d => { d.open = true; });
let beside = 0, total = 0;
for (const sides of document.querySelectorAll('.sides')) {
  const actual = sides.querySelector('pre.actual'), transcript = sides.querySelector('pre.transcript');
  if (!actual || !transcript) continue;
  total++;
  const a = actual.getBoundingClientRect(), t = transcript.getBoundingClientRect();
  if (Math.abs(a.top - t.top) < 2 && t.left >= a.right && t.width > 100) beside++;
}
document.body.insertAdjacentHTML('beforeend', '<p id="layout">transcripts beside the output: ' + beside + ' of ' + total + '</p>');
EOF
sed 's#</body>#<script src="../measure.js"></script></body>#' "$work/report/index.html" >"$work/report/measured.html"
timeout 60 "$browser" "${flags[@]}" --dump-dom "file://$work/report/measured.html" >"$work/measured.html" 2>>"$work/browser.log" || true

fail=0
check() {  # description, count wanted (at least), pattern
  local n
  n=$(grep -o -- "$3" "$work/dom.html" | wc -l)
  if [ "$n" -lt "$2" ]; then echo "FAIL: $1 (found $n of '$3', wanted $2)"; fail=1; fi
}
# 9 students x 3 tests, each a cell of the matrix with its verdict.
check "matrix cells" 27 'class="cell" data-verdict="'
check "accepted cells in green" 6 'data-verdict="accepted" style="background:#2e7d32'
check "wrong-answer cells in red" 3 'data-verdict="wrong-answer" style="background:#c62828'
check "a run's details with the first difference marked" 2 '<mark class="first-diff">'
check "whitespace made visible" 1 'class="ws"'
check "the presentation error's hint" 1 'would pass if: trailing spaces'
check "the run-time error and its line" 1 'Divisão por Zero, linha 12'
check "per-student totals" 1 '3 / 3</td>'
check "the transcript" 1 'class="transcript"'
# rafa is killed at the processor limit after a prompt and one read: each of
# its three runs keeps the console up to the kill.
check "a killed run's transcript" 3 '<pre class="transcript">quantos?<span class="ws">·</span>'
layout=$(grep -o 'transcripts beside the output: [0-9]* of [0-9]*' "$work/measured.html" || true)
read -r beside total <<<"$(echo "$layout" | sed 's/.*: \([0-9]*\) of \([0-9]*\)/\1 \2/')"
if [ -z "$layout" ] || [ "${total:-0}" -lt 10 ] || [ "$beside" != "$total" ]; then
  echo "FAIL: transcripts not laid out beside the output (${layout:-no measurement})"; fail=1
fi
if [ ! -s "$work/report.png" ]; then echo "FAIL: no screenshot"; fail=1; fi
[ "$fail" -eq 0 ] && echo "report rendered; screenshot in $work/report.png"
exit "$fail"
