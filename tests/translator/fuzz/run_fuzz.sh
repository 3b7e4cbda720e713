#!/bin/bash
# run_fuzz.sh FUZZER SECONDS CASES_DIR: runs the translator fuzzer for SECONDS
# on a fresh corpus seeded with the sources of the file-based cases, and
# fails on any crash, hang or sanitizer report.
set -u
fuzzer=$1
seconds=$2
cases=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
n=0
for f in "$cases"/*/input.QWR; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  # First byte: bit 0 debug, bit 1 dialect, bit 2 positions.
  { printf "\\x0%d" $((n % 8)); head -c 4000 "$f"; } > "$work/corpus/seed$n"
done
cd "$work" && "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work/corpus" 2>&1 | tail -25
exit "${PIPESTATUS[0]}"
