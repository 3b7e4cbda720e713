#!/usr/bin/env bash
# A program large enough that quill assembles it in pieces while it is
# expanded: it runs as the same expansion assembled whole does, its fault
# stubs are the package's, and a fault in its last piece is named at its
# line.
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
# quill writes the fault stubs as the package does: the same files, lines
# and routines in the same order
stubs() {
  python3 - "$1" <<'PY'
import struct, subprocess, sys
exe = sys.argv[1]
names = {}
for line in subprocess.run(["nm", exe], capture_output=True, text=True).stdout.split("\n"):
    parts = line.split()
    if len(parts) == 3: names[int(parts[0], 16)] = parts[2]
head = subprocess.run(["objdump", "-h", "-j", "qw_faults", exe], capture_output=True, text=True).stdout
addr = int(next(l.split()[3] for l in head.split("\n") if "qw_faults" in l), 16)
subprocess.run(["objcopy", "-O", "binary", "-j", "qw_faults", exe, exe + ".stubs"], check=True)
data = open(exe + ".stubs", "rb").read()
at = 0
while at < len(data):
    if data[at] == 0:
        print("file", data[at + 2:at + 2 + data[at + 1]].decode()); at += 2 + data[at + 1]
    else:
        disp, line = struct.unpack_from("<iI", data, at + 1)
        print(names.get(addr + at + 5 + disp, "?"), line); at += 9
PY
}
stubs BIG > stubs.pieces && stubs whole > stubs.whole && [ -s stubs.whole ] &&
  cmp -s stubs.pieces stubs.whole || { echo "FAIL: quill's fault stubs differ from the package's"; fail=1; }
./whole > whole.txt 2>&1
echo "status $?" >> whole.txt
cmp -s split.txt whole.txt || { echo "FAIL: the pieces run otherwise:"; diff whole.txt split.txt; fail=1; }
./BIG zero > zero.txt 2>&1
grep -q "BIG.QWR:$zero_line: NUMBERS\[error\]:- division by zero" zero.txt ||
  { echo "FAIL: the fault is not named at line $zero_line:"; cat zero.txt; fail=1; }
exit $fail
