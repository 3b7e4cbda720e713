#!/usr/bin/env bash
# A program built with `quill build -g` is debugged by its NAME.QWR lines:
# gdb breaks at a source line, steps over and into a sub, shows lines and
# values.  Skipped (77) without gdb.
#   gdb_test.sh QUILL
set -u
quill=$1
command -v gdb > /dev/null || { echo "gdb is not installed: skipped"; exit 77; }
. "$(dirname "$0")/scratch.sh"
cat > prog.QWR <<'QWR'
; stepping through a program in gdb
%include "include/BEGIN.DICTIONARY"
  @INSERTNUMBER n_I, 0, '99'
  @INSERTNUMBER n_Sum, 0, '9999'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  @REPEAT n_I, 1, 3
    CALL s_Add
  @END_REPEAT
  @DISPLAY 'sum ', n_Sum, LF
%include "include/END.PROGRAM"
@BEGIN_SUB s_Add
  n_Sum = n_Sum + n_I
@END_SUB
QWR
"$quill" build -g prog || exit 1
# started from another folder: gdb finds prog.QWR through the folder the
# build records
(cd / && gdb -batch -nx -ex 'break prog.QWR:8' -ex run -ex next -ex 'info line' \
  -ex 'break prog.QWR:13' -ex continue -ex continue -ex 'print (long)n_Sum' \
  -ex 'list 13,13' -ex kill "$work/prog" < /dev/null > "$work/gdb.txt" 2>&1)
for want in \
    'Breakpoint 1 at 0x[0-9a-f]*: file prog\.QWR, line 8\.' \
    '^Breakpoint 1, _start () at prog\.QWR:8$' \
    '^9	  @END_REPEAT$' \
    '^Line 9 of "prog\.QWR" starts at address' \
    '^Breakpoint 2, s_Add () at prog\.QWR:13$' \
    '^\$1 = 1$' \
    '^13	  n_Sum = n_Sum + n_I$'; do
  grep -q -- "$want" gdb.txt || { echo "FAIL: gdb did not show: $want"; fail=1; }
done
[ $fail = 0 ] || cat gdb.txt
exit $fail
