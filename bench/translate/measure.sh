# Sourced by the translator benchmarks.
#
# measure REWRITER DIR NAME RUNS: translates DIR/NAME.QWR RUNS times and
# prints the best wall-clock time and throughput, the best processor time of
# pass 1 with the writer and of all three passes (REWRITER_TIMINGS=1 makes
# rewriter report the processor time of each pass on standard error), and the
# peak resident memory.
measure() {
  local rewriter=$1 dir=$2 name=$3 runs=$4
  local count best="" best1="" bestall=""
  count=$(wc -l < "$dir/$name.QWR")
  echo "source: $count lines, $(wc -c < "$dir/$name.QWR") bytes"
  for _ in $(seq "$runs"); do
    local start end t line p1 p2 p3 s13 sall
    start=$(date +%s.%N)
    (cd "$dir" && "$rewriter" "$name" > /dev/null) || { echo "rewriter failed with status $?"; return 1; }
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    line=$( (cd "$dir" && REWRITER_TIMINGS=1 "$rewriter" "$name" 2>&1 >/dev/null) | grep '^timings')
    p1=$(echo "$line" | awk '{print $6}'); p2=$(echo "$line" | awk '{print $8}'); p3=$(echo "$line" | awk '{print $10}')
    s13=$(echo "$p1 + $p3" | bc -l); sall=$(echo "$p1 + $p2 + $p3" | bc -l)
    if [ -z "$best1" ] || [ "$(echo "$s13 < $best1" | bc -l)" = 1 ]; then best1=$s13; fi
    if [ -z "$bestall" ] || [ "$(echo "$sall < $bestall" | bc -l)" = 1 ]; then bestall=$sall; fi
  done
  echo "output: $(wc -l < "$dir/$name.ASM") lines"
  printf 'best of %d runs: %.3f s, %.0f lines/s\n' "$runs" "$best" "$(echo "$count / $best" | bc -l)"
  printf 'pass 1 + writer: %.1f ms processor time, %.0f lines/s\n' "$best1" "$(echo "$count / ($best1 / 1000)" | bc -l)"
  printf 'all three passes: %.1f ms processor time, %.0f lines/s\n' "$bestall" "$(echo "$count / ($bestall / 1000)" | bc -l)"
  local peak
  peak=$( (cd "$dir" && /usr/bin/time -v "$rewriter" "$name" > /dev/null) 2>&1 | awk -F': ' '/Maximum resident/ {print $2}')
  echo "peak memory: $((peak / 1024)) MB ($peak kB)"
}
