#!/bin/bash
# Translator throughput: generates a large source (LINES lines, default
# 200000) of declarations, statements, comments, blanks, split lines and
# word copies, runs rewriter on it RUNS times (default 3) and prints lines
# per second and the peak resident memory.
#   bench/translate.sh [BUILD_DIR]      (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
rewriter=$build/bin/rewriter
[ -x "$rewriter" ] || { echo "no rewriter at $rewriter (build it first)"; exit 1; }
. "$here/translate/measure.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v LINES="${LINES:-200000}" -f "$here/translate/gen_source.awk" > "$work/big.QWR"
measure "$rewriter" "$work" big "${RUNS:-3}"
