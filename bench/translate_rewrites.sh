#!/bin/bash
# Throughput of the translator on a large source that exercises the
# statement rewrites of the second pass: operand commas, integer and
# fixed-point calculations with compound forms, decimal literals, function,
# array and word assignments, array decisions, declaration rescaling and
# element-access macros with temporaries.
#
#   bench/translate_rewrites.sh [LINES]
#
# LINES (default 200000) is the approximate number of source lines.  The
# translator is build/bin/rewriter unless REWRITER names another one.
# Reports the best of RUNS (default 5) runs as lines per second.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
rewriter=${REWRITER:-$root/build/bin/rewriter}
lines=${1:-200000}
runs=${RUNS:-5}
[ -x "$rewriter" ] || { echo "no translator at $rewriter (build it first)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$lines" > "$work/bench.QWR" <<'PY'
import sys
target = int(sys.argv[1])
out = []
w = out.append
w('%include "include/BEGIN.DICTIONARY"')
w(" @INSERTWORD w_Name,30,' '")
w(" @INSERTWORD w_Other,30,' '")
w('%include "include/BEGIN.MATRIX"')
w(" @BEGIN_RECORD r, recA")
w(" @INSERTWORD f_Code,4,' '")
w(" @INSERTNUMBER f_Qty,0,'999'")
w(" @INSERTNUMBER f_Amt,0.0,'9999.99'")
w(" @END_RECORD recA")
for k in range(40):
    w(" @INSERTNUMBER n_I%d,%d,'9999'" % (k, k))
    w(" @INSERTNUMBER n_N%d,%d.5,'999.999'" % (k, k))
w(" @INSERTARRAY arr,100")
w(" @INSERTARRAY arr2,100")
w('%include "include/BEGIN.INSTRUCTIONS"')
w(" @TABLES_BIND tbl, recA")
w(" @BEGIN_FUNCTION fSum,'9999'")
w(" @END_FUNCTION")
# Element macros are limited by the macro table (1024 lines): a few hundred
# rows of them, the rest plain rewrites.
body = [
    "    n_I{a} = n_I{b} + 1            ; integer calculation",
    "    n_N{a} = n_I{b} * 1.25",
    "    n_I{a} =+ 3",
    "    n_N{a} =* n_N{b}",
    "    @IF n_I{a} = n_I{b}",
    "        CALL mySub  n_I{a}   n_N{b}",
    "        @DISPLAY 'total:' -12.5 n_N{a}",
    "    @END_IF",
    "    @WHILE n_I{a} < 100",
    "    @END_WHILE",
    "    n_I{a} = fSum n_I{b} 2",
    "    n_I{a} = arr{{n_I{b}}}",
    "    arr{{n_I{a}}} =+ 3",
    "    arr{{n_I{a}}} = arr2{{n_I{b}}}",
    "    @IF arr{{n_I{a}}} = arr2{{n_I{b}}}",
    "    @END_IF",
    "    w_Name = 'a  b'",
    "    {{w_Name 1 2}} = w_Other",
    "    @DISPLAY 1234.56 .5 '9.9'",
]
elements = [
    "    f_Qty[n_I{a}] = f_Amt[n_I{b}] + 1",
    "    n_I{a} = [n_I{b} + [n_I{a} * 2]]",
    "    @IF f_Qty[n_I{a}] = f_Qty[n_I{b}]",
    "    @END_IF",
]
n = 0
macro_lines = 0
while len(out) < target - 1:
    a, b = n % 40, (n * 7 + 3) % 40
    for line in body:
        w(line.format(a=a, b=b))
    if macro_lines + 10 <= 1000:
        for line in elements:
            w(line.format(a=a, b=b))
        macro_lines += 9
    n += 1
w('%include "include/END.PROGRAM"')
print("\n".join(out))
PY
count=$(wc -l < "$work/bench.QWR")
best=""
for ((i = 0; i < runs; i++)); do
  start=$(date +%s%N)
  (cd "$work" && "$rewriter" bench > /dev/null) || { echo "translation failed" >&2; exit 1; }
  end=$(date +%s%N)
  ns=$((end - start))
  if [ -z "$best" ] || [ "$ns" -lt "$best" ]; then best=$ns; fi
done
rate=$((count * 1000000000 / best))
printf 'lines: %d  best time: %d.%03d s  lines per second: %d\n' \
  "$count" $((best / 1000000000)) $(((best / 1000000) % 1000)) "$rate"
