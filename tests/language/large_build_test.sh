#!/usr/bin/env bash
# A program large enough that quill assembles it in pieces while it is
# expanded: it runs as the same expansion assembled whole does, and a fault
# in its last piece is named at its line.
#   large_build_test.sh QUILL SOURCE_DIR
set -u
quill=$1
src=$2
. "$(dirname "$0")/scratch.sh"
root=$(dirname "$(dirname "$quill")")/share/quillwright
python3 "$src/bench/build_loop/gen_program.py" BIG.QWR 3000 > /dev/null
# the last sub divides by zero when the program is given an argument
python3 - <<'PY'
lines = open("BIG.QWR").read().split("\n")
lines.insert(1, "    @INSERTNUMBER n_Zero, 0, '9'")
last = max(i for i, l in enumerate(lines) if l == "@END_SUB")
lines[last:last] = ["    @IF w_CommandLine = 'zero'", "    nD001 = nD001 / n_Zero", "    @END_IF"]
open("BIG.QWR", "w").write("\n".join(lines))
PY
zero_line=$(grep -n 'nD001 / n_Zero' BIG.QWR | cut -d: -f1)
"$quill" build -v BIG > build.txt 2>&1 || { cat build.txt; exit 1; }
grep -q '\.p2\.asm' build.txt || { echo "FAIL: BIG was not assembled in pieces"; fail=1; }
grep -q 'BIG\.o \.BIG\.pre\.asm' build.txt && { echo "FAIL: the pieces were given up"; fail=1; }
ls -a | grep -q '^\.BIG\.' && { echo "FAIL: the pieces were left behind"; fail=1; }
nm BIG.o | grep -q ' [TDB] s_P0001$' && { echo "FAIL: a piece's name stayed global"; fail=1; }
./BIG > split.txt 2>&1
echo "status $?" >> split.txt
# the same expansion assembled whole
nasm -E -I"$root/" -dQW_LINES_FROM_DEBUG -o whole.asm BIG.ASM &&
  nasm -O1 -f elf64 -o whole.o whole.asm &&
  ld -X -o whole whole.o "$(dirname "$(dirname "$quill")")/lib/libquillwright.a" || exit 1
./whole > whole.txt 2>&1
echo "status $?" >> whole.txt
cmp -s split.txt whole.txt || { echo "FAIL: the pieces run otherwise:"; diff whole.txt split.txt; fail=1; }
./BIG zero > zero.txt 2>&1
grep -q "BIG.QWR:$zero_line: NUMBERS\[error\]:- division by zero" zero.txt ||
  { echo "FAIL: the fault is not named at line $zero_line:"; cat zero.txt; fail=1; }
exit $fail
