#!/bin/bash
# Translator throughput: generates a large source (LINES lines, default
# 200000), runs rewriter on it RUNS times (default 3) and prints lines per
# second and the peak resident memory.
#   bench/translate.sh [BUILD_DIR]      (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
rewriter=$build/bin/rewriter
lines=${LINES:-200000}
runs=${RUNS:-3}
[ -x "$rewriter" ] || { echo "no rewriter at $rewriter (build it first)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v LINES="$lines" -f "$here/translate/gen_source.awk" > "$work/big.QWR"
count=$(wc -l < "$work/big.QWR")
echo "source: $count lines, $(wc -c < "$work/big.QWR") bytes"

best=""
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  (cd "$work" && "$rewriter" big > /dev/null) || { echo "rewriter failed with status $?"; exit 1; }
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
echo "output: $(wc -l < "$work/big.ASM") lines"
printf 'best of %d runs: %.3f s, %.0f lines/s\n' "$runs" "$best" "$(echo "$count / $best" | bc -l)"

# Processor time of the passes (best run): pass 1 and the writer against
# the whole translation.
best1=""; bestall=""
for _ in $(seq "$runs"); do
  line=$( (cd "$work" && REWRITER_TIMINGS=1 "$rewriter" big 2>&1 >/dev/null) | grep '^timings')
  p1=$(echo "$line" | awk '{print $6}'); p2=$(echo "$line" | awk '{print $8}'); p3=$(echo "$line" | awk '{print $10}')
  s13=$(echo "$p1 + $p3" | bc -l); sall=$(echo "$p1 + $p2 + $p3" | bc -l)
  if [ -z "$best1" ] || [ "$(echo "$s13 < $best1" | bc -l)" = 1 ]; then best1=$s13; fi
  if [ -z "$bestall" ] || [ "$(echo "$sall < $bestall" | bc -l)" = 1 ]; then bestall=$sall; fi
done
printf 'pass 1 + writer: %.1f ms processor time, %.0f lines/s\n' "$best1" "$(echo "$count / ($best1 / 1000)" | bc -l)"
printf 'all three passes: %.1f ms processor time, %.0f lines/s\n' "$bestall" "$(echo "$count / ($bestall / 1000)" | bc -l)"

peak=$( (cd "$work" && /usr/bin/time -v "$rewriter" big > /dev/null) 2>&1 | awk -F': ' '/Maximum resident/ {print $2}')
echo "peak memory: $((peak / 1024)) MB ($peak kB)"
