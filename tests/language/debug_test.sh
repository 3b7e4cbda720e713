#!/usr/bin/env bash
# quill debug -x: one program looked at in gdb through the Quillwright
# extension.  Items as the language shows them (a number through its
# picture, a word with its blanks, a flag, a record, table and xtable
# entries, an array element, a file, info items), a watchpoint's values
# edited, subs by name in the backtrace, step into a CALL and finish, and
# a division by zero stopped at its line before the program ends.  A build
# without -g carries no description of the items.  Skipped (77) without gdb.
#   debug_test.sh QUILL
set -u
quill=$1
command -v gdb > /dev/null || { echo "gdb is not installed: skipped"; exit 77; }
. "$(dirname "$0")/scratch.sh"
cat > prog.QWR <<'QWR'
; a program looked at in the debugger
%include "include/BEGIN.DICTIONARY"
  @INSERTNUMBER n_Total, 0, '#,##9.99-'
  @INSERTNUMBER n_Count, 0, '99'
  @INSERTNUMBER b_Found, 1, '9'
  @INSERTWORD w_Name, 10, 'Ann'
  @BEGIN_RECORD R, r_Item
    @INSERTWORD r_Code, 5
    @INSERTNUMBER r_Qty, 0, '999'
  @END_RECORD r_Item
  @INSERTARRAY a_Counts, 4
  @INSERTFILE 16, f_Items, 'items.dat'
%include "include/BEGIN.MATRIX"
  @INSERTTABLE t_Items, r_Item, 5
  @INSERTXTABLE x_Items, r_Item
%include "include/BEGIN.INSTRUCTIONS"
  @TABLES_BIND t_Items, r_Item
  @XTABLES_BIND x_Items, r_Item, 1000
  n_Total = 37.5
  r_Code = 'AB12'
  r_Qty = 7
  @TABLES_PUT t_Items, 3
  x_Items_UBOUND =+ 1
  @XTABLES_PUT x_Items, x_Items_UBOUND
  a_Counts{2} = 42
  CALL s_Add 5
  CALL s_Add 2
  n_Count = n_Count / 0
  @DISPLAY 'not reached', LF
%include "include/END.PROGRAM"
@BEGIN_SUB s_Add
  @USING {p_N,'99'}
  n_Count = n_Count + p_N
  n_Total = n_Total + 1.25
@END_SUB
QWR
cat > session.gdb <<'GDB'
break s_Add
run
bt
finish
delete
print n_Total
print w_Name
print b_Found
print r_Item
print t_Items[3]
print t_Items[2]
print t_Items
print x_Items[1]
print a_Counts[2]
print f_Items
info items n_
break prog.QWR:27
continue
step
bt
print p_N
delete
watch n_Total
continue
delete
continue
print n_Count
GDB
# started from another folder, as gdb finds prog.QWR by the build's folder
(cd / && "$quill" debug -x "$work/session.gdb" "$work/prog" > "$work/out.txt" 2>&1)
while IFS= read -r want; do
  grep -qF -- "$want" out.txt || { echo "FAIL: quill debug did not show: $want"; fail=1; }
done <<'WANT'
Breakpoint 1, s_Add () at prog.QWR:32
#0  s_Add () at prog.QWR:32
in _start () at prog.QWR:26
= 38.75+  (value 3875, 2 places, picture '#,##9.99-')
= 'Ann       '  (10 characters)
= true  (flag: value 1, picture '9')
= record 0: {r_Code = 'AB12 ', r_Qty = 007}
= t_Items entry 3 (written): {r_Code = 'AB12 ', r_Qty = 007}
= t_Items entry 2 (never written)
= table of 5 entries of r_Item (8 characters), 1 written, status 0
= x_Items entry 1 (live): {r_Code = 'AB12 ', r_Qty = 007}
= 42
= file 'items.dat', kind 16 (random-access records), status 0, not open, size 0, last read 0
n_Total              number  '#,##9.99-'  38.75+
n_Count              number  '99'  05
Breakpoint 2, _start () at prog.QWR:27
#1  0x
in _start () at prog.QWR:27
Old value = 38.75+  (value 3875, 2 places, picture '#,##9.99-')
New value = 40.00+  (value 4000, 2 places, picture '#,##9.99-')
prog.QWR:28: NUMBERS[error]:- division by zero
The run-time error above stopped the program at prog.QWR:28 before its end; 'continue' ends it.
_start () at prog.QWR:28
28	  n_Count = n_Count / 0
= 07  (value 7, 0 places, picture '99')
WANT
# step entered the sub at its first line; nothing ran past the failure
grep -A1 -F 'CALL s_Add 2' out.txt | grep -q "^32	  @USING {p_N,'99'}" ||
  { echo "FAIL: step did not enter s_Add"; fail=1; }
grep -q 'not reached' out.txt && { echo "FAIL: the program ran past the division by zero"; fail=1; }
# a plain build carries no description of the items
"$quill" build prog && ! grep -qF 'Quillwright items' prog ||
  { echo "FAIL: a build without -g describes the items"; fail=1; }
[ $fail = 0 ] || cat out.txt
exit $fail
