#!/usr/bin/env bash
# Build time and loop speed of Quillwright next to GnuCOBOL, measured side by
# side in one run (the machine is noisy: compare the ratios, not the times).
#
#  1. build: a generated program of GEN_STMTS statements (default 10,000;
#     bench/build_loop/gen_program.py, the shape of the peer's
#     gen_compile.py) built with `quill build` (translate + assemble + link,
#     source positions on) and `quill build -g` (debug information) next to
#     `cobc -x -free` on the peer's generated program.
#     Targets: quill and quill -g at most 0.35 x cobc; -g at most 1.3 x
#     quill; `quill debug` at its first breakpoint in under 2 s.
#  2. loop: ARITH_N iterations (default 10,000,000) of
#     price = i * 1.1; total = total + price; qty = qty + 1 and the loop's
#     compare, next to the peer's arith_comp5 and arith_display built with
#     `cobc -x -O2`.  Target: at least 3 x faster than the faster peer.
#     Then TABLE_N iterations (default 40,000,000: the loop is quick, and a
#     2 % difference needs a longer run to show above the noise; a larger N
#     takes the total beyond its 64-bit value) next to
#     the same program built without the line table of the fatal messages
#     (QW_NO_LINES).  Target: the table at most 2 % slower.
#  3. the line table's size: ARITH and GEN with and without it.  Target:
#     at most 5 % larger (ARITH).
#
# Each of RUNS rounds runs every command once, the peer's among ours, and
# the figures are the minimum times over the rounds.
#
# usage: bench/build_loop.sh [BUILD_DIR]      (default: build)
# environment: GEN_STMTS, ARITH_N, TABLE_N, RUNS (default 5), TABLE_RUNS
# (rounds of the line table's loops, default 15), WORK (scratch
# directory)
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
QUILL=$BUILD/bin/quill
. "$ROOT/bench/anchors.sh"   # ANCHORS: the peer's sources
GEN_STMTS=${GEN_STMTS:-10000}
ARITH_N=${ARITH_N:-10000000}
TABLE_N=${TABLE_N:-40000000}
RUNS=${RUNS:-5}
TABLE_RUNS=${TABLE_RUNS:-15}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"

for tool in hyperfine cobc python3 jq; do
  command -v $tool > /dev/null || { echo "build_loop: $tool is needed"; exit 1; }
done
[ -x "$QUILL" ] || { echo "build_loop: $QUILL is missing; run make first"; exit 1; }

echo "work directory: $WORK"
cd "$WORK" || exit 1

# rounds NAME -n LABEL COMMAND ...: RUNS rounds, each running every command
# once; NAME.json then holds each command's minimum and median time.
rounds() {
  local name=$1 r
  shift
  rm -f "$name".round*.json
  for ((r = 1; r <= RUNS; r++)); do
    hyperfine --shell sh --runs 1 --export-json "$name.round$r.json" "$@" > "$name.txt" 2>&1 \
      || { cat "$name.txt"; exit 1; }
  done
  jq -s '{results: [.[].results[]] | group_by(.command) | map({command: .[0].command,
          min: ([.[].times[]] | min), median: ([.[].times[]] | sort | .[length / 2 | floor])})}' \
    "$name".round*.json > "$name.json"
}

# --- 1. build time -----------------------------------------------------------
python3 "$ROOT/bench/build_loop/gen_program.py" GEN.QWR "$GEN_STMTS" > /dev/null
python3 "$ANCHORS/gen_compile.py" GENBIG.cob "$GEN_STMTS" > /dev/null
"$QUILL" build GEN > /dev/null || { echo "build_loop: GEN does not build"; exit 1; }
./GEN || { echo "build_loop: GEN does not run"; exit 1; }

printf 'break s_P0001\nrun\nkill\n' > first.gdb   # quill debug: to the first breakpoint
rounds build \
  -n quill "$QUILL build GEN" \
  -n cobc "cobc -x -free -o GENBIG GENBIG.cob" \
  -n quill-g "$QUILL build -g GEN" \
  -n quill-debug "$QUILL debug -x first.gdb GEN"

# the phases of one quill build, for the report (quill also mends the
# expansion's line markers, and assembles a large expansion in pieces
# while it is expanded: the assembly here is the whole one, after the
# expansion)
t0=$(date +%s.%N)
(cd "$WORK" && "$BUILD/bin/rewriter" -l GEN > /dev/null)
t1=$(date +%s.%N)
nasm -E -dQW_LINES_FROM_DEBUG -I"$ROOT/" -o GEN.pre.asm GEN.ASM
t2=$(date +%s.%N)
nasm -O1 -f elf64 -g -F dwarf -o GEN.o GEN.pre.asm
t3=$(date +%s.%N)
ld -X -o GEN GEN.o "$BUILD/lib/libquillwright.a"
t4=$(date +%s.%N)

# NAME built as quill builds it, but without the line table: NAME.nolines
without_table() {
  "$BUILD/bin/rewriter" -l "$1" > /dev/null &&
    nasm -E -dQW_NO_LINES -I"$ROOT/" -o "$1.nolines.asm" "$1.ASM" &&
    nasm -O1 -f elf64 -o "$1.nolines.o" "$1.nolines.asm" &&
    ld -X -o "$1.nolines" "$1.nolines.o" "$BUILD/lib/libquillwright.a"
}
without_table GEN || { echo "build_loop: GEN does not build without the table"; exit 1; }
"$QUILL" build GEN > /dev/null

# --- 2. the business loop ------------------------------------------------------
cp "$ROOT/bench/build_loop/ARITH.QWR" .
"$QUILL" build ARITH > /dev/null || { echo "build_loop: ARITH does not build"; exit 1; }
without_table ARITH || { echo "build_loop: ARITH does not build without the table"; exit 1; }
cobc -x -O2 -o arith_comp5 "$ANCHORS/arith_comp5.cob"
cobc -x -O2 -o arith_display "$ANCHORS/arith_display.cob"
echo "check: $(./ARITH "$ARITH_N")"
echo "check: $(./ARITH.nolines "$ARITH_N")"
echo "check: $(./arith_comp5 "$ARITH_N")"
echo "check: $(./arith_display "$ARITH_N")"

rounds loop \
  -n quill "./ARITH $ARITH_N >> loop.log" \
  -n cobol-comp5 "./arith_comp5 $ARITH_N >> loop.log" \
  -n cobol-display "./arith_display $ARITH_N >> loop.log"
# The two loops differ by a few percent at most, less than one noisy round
# on a shared machine: they take more rounds than the rest.
RUNS=$TABLE_RUNS rounds table \
  -n quill "./ARITH $TABLE_N >> loop.log" \
  -n quill-nolines "./ARITH.nolines $TABLE_N >> loop.log"

# --- report ------------------------------------------------------------------
min() { jq -r ".results[] | select(.command == \"$2\") | .min" "$1"; }
med() { jq -r ".results[] | select(.command == \"$2\") | .median" "$1"; }
b_q=$(min build.json quill); b_g=$(min build.json quill-g); b_c=$(min build.json cobc)
l_q=$(min loop.json quill); l_c5=$(min loop.json cobol-comp5); l_cd=$(min loop.json cobol-display)
t_q=$(min table.json quill); t_n=$(min table.json quill-nolines)
size() { stat -c %s "$1"; }
echo
echo "== build of a $GEN_STMTS-statement program (min of $RUNS, seconds)"
printf '  quill build (translate+assemble+link)  %8.3f   (median %.3f)\n' "$b_q" "$(med build.json quill)"
printf '  cobc -x                                 %8.3f   (median %.3f)\n' "$b_c" "$(med build.json cobc)"
printf '  quill build -g                          %8.3f   (median %.3f)\n' "$b_g" "$(med build.json quill-g)"
printf '  ratio quill / cobc                      %8.2f   (target <= 0.35)\n' "$(echo "$b_q / $b_c" | bc -l)"
printf '  ratio quill -g / cobc                   %8.2f   (target <= 0.35)\n' "$(echo "$b_g / $b_c" | bc -l)"
printf '  ratio quill -g / quill                  %8.2f   (target <= 1.30)\n' "$(echo "$b_g / $b_q" | bc -l)"
printf '  quill debug to the first breakpoint     %8.3f   (target < 2)\n' "$(min build.json quill-debug)"
printf '  phases of one quill build: translate %.3f, expand %.3f, assemble %.3f, link %.3f\n' \
  "$(echo "$t1 - $t0" | bc -l)" "$(echo "$t2 - $t1" | bc -l)" "$(echo "$t3 - $t2" | bc -l)" "$(echo "$t4 - $t3" | bc -l)"
echo "== loop of $ARITH_N iterations (min of $RUNS, seconds)"
printf '  quill                                   %8.3f\n' "$l_q"
printf '  cobc -O2 COMP-5                         %8.3f\n' "$l_c5"
printf '  cobc -O2 DISPLAY                        %8.3f\n' "$l_cd"
faster=$(echo "if ($l_c5 < $l_cd) $l_c5 else $l_cd" | bc -l)
printf '  speed-up over the faster COBOL          %8.2f x (target >= 3)\n' "$(echo "$faster / $l_q" | bc -l)"
echo "== loop of $TABLE_N iterations with and without the line table (min of $TABLE_RUNS, seconds)"
printf '  quill                                   %8.3f\n' "$t_q"
printf '  quill without the line table            %8.3f\n' "$t_n"
printf '  ratio with / without the table          %8.3f   (target <= 1.02)\n' "$(echo "$t_q / $t_n" | bc -l)"
echo "== size with / without the line table (bytes)"
for p in ARITH GEN; do
  printf '  %-6s %9d / %9d   ratio %.3f   (target <= 1.05 for ARITH)\n' "$p" "$(size $p)" \
    "$(size $p.nolines)" "$(echo "$(size $p) / $(size $p.nolines)" | bc -l)"
done
