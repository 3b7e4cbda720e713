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
# Reports the best of RUNS (default 5) runs.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rewriter=${REWRITER:-$here/../build/bin/rewriter}
[ -x "$rewriter" ] || { echo "no translator at $rewriter (build it first)" >&2; exit 1; }
. "$here/translate/measure.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/translate/gen_rewrites.py" "${1:-200000}" > "$work/bench.QWR"
measure "$rewriter" "$work" bench "${RUNS:-5}"
