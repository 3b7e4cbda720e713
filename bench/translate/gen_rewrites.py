# Writes a large Quillwright source that exercises the statement rewrites of
# the second pass.  Usage: python3 gen_rewrites.py LINES
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
