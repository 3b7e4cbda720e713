#!/bin/bash
# Translator throughput: generates a large source (LINES lines, default
# 200000), runs rewriter on it RUNS times (default 3) and prints lines per
# second and the peak resident memory.
#   bench/translate.sh [BUILD_DIR]      (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
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

peak=$( (cd "$work" && /usr/bin/time -v "$rewriter" big > /dev/null) 2>&1 | awk -F': ' '/Maximum resident/ {print $2}')
echo "peak memory: $((peak / 1024)) MB ($peak kB)"
