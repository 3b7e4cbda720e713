#!/usr/bin/env bash
# The language server's answers, measured as an editor meets them (no peer:
# each figure is printed with its ratio to its target):
#  1. a change of a 2,000-line program: the translator's diagnostics within
#     300 ms after the debounce, the assembler's within 1.5 s; quill build
#     of the same program beside them;
#  2. the server's peak memory on the 10,000-statement program of
#     build_loop.sh: under 100 MB.
#
# usage: bench/lsp.sh [BUILD_DIR]      (default: build)
# environment: RUNS (default 5), WORK (scratch directory)
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
RUNS=${RUNS:-5}
WORK=${WORK:-$(mktemp -d)}
[ -x "$BUILD/bin/quill" ] || { echo "lsp: $BUILD/bin/quill is missing; run make first"; exit 1; }
cd "$WORK" || exit 1
# 1,650 statements make a program of about 2,000 lines
python3 "$ROOT/bench/build_loop/gen_program.py" LINES2000.QWR 1650 > /dev/null
python3 "$ROOT/bench/build_loop/gen_program.py" GEN.QWR 10000 > /dev/null
python3 "$ROOT/bench/lsp/measure.py" "$BUILD/bin/quill" LINES2000.QWR GEN.QWR "$RUNS"
