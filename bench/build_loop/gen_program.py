#!/usr/bin/env python3
"""Write a large Quillwright program for build-time measurements, in the
shape of the peer's compile benchmark: ITEMS data items (a third numbers
with two decimals, a sixth wide numbers with two decimals, a sixth whole
numbers, a third words of 20 characters) and STATEMENTS statements drawn
from ten templates (number moves, text moves, word moves, three
calculations, an add, a subtract, two decisions holding two statements),
split into subs of 100 statements that the main line calls in turn.
(Calculations run left to right, so the peer's bracketed form needs no
brackets here; the translator keeps at most 1024 generated macro lines.)
Deterministic (fixed seed).

usage: gen_program.py OUT.QWR [STATEMENTS=10000] [ITEMS=300]
"""
import random
import sys


def main():
    out = sys.argv[1]
    n_stmt = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    n_items = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    rnd = random.Random(1234)
    nums, words = [], []
    lines = ['%include "include/BEGIN.DICTIONARY"']
    for k in range(1, n_items + 1):
        kind = k % 6
        if kind in (0, 1):
            name = "nD%03d" % k
            lines.append("    @INSERTNUMBER %s, %d.%02d, '9999999.99-'" % (name, k, k % 100))
            nums.append(name)
        elif kind == 2:
            name = "nP%03d" % k
            lines.append("    @INSERTNUMBER %s, %d, '999999999.99-'" % (name, k))
            nums.append(name)
        elif kind == 3:
            name = "nB%03d" % k
            lines.append("    @INSERTNUMBER %s, %d, '999999999-'" % (name, k))
            nums.append(name)
        else:
            name = "wX%03d" % k
            lines.append("    @INSERTWORD %s, 20, 'ITEM %03d'" % (name, k))
            words.append(name)
    lines += ['%include "include/BEGIN.MATRIX"', '%include "include/BEGIN.INSTRUCTIONS"']

    def n():
        return rnd.choice(nums)

    def w():
        return rnd.choice(words)

    templates = [
        lambda: "%s = %s" % (n(), n()),
        lambda: "%s = 'TEXT %05d'" % (w(), rnd.randrange(100000)),
        lambda: "%s = %s" % (w(), w()),
        lambda: "%s = %s + %s * 3" % (n(), n(), n()),
        lambda: "%s = %s - %s / 4" % (n(), n(), n()),
        lambda: "%s = %s * 1.05 + 0.5" % (n(), n()),
        lambda: "%s =+ %s" % (n(), n()),
        lambda: "%s =- 1" % n(),
        lambda: "@IF %s > %s | %s = %s | @ELSE | %s =+ 1 | @END_IF"
                % (n(), n(), n(), n(), n()),
        lambda: "@IF %s = ' ' | %s = 'EMPTY' | @ELSE | %s = %s | @END_IF"
                % (w(), w(), w(), w()),
    ]
    per_sub = 100
    n_sub = (n_stmt + per_sub - 1) // per_sub
    for p in range(1, n_sub + 1):
        lines.append("    CALL s_P%04d" % p)
    lines.append("    @DISPLAY 'GENBIG ', %s, ' ', %s, LF" % (nums[0], words[0]))
    done = 0
    for p in range(1, n_sub + 1):
        lines.append("@BEGIN_SUB s_P%04d" % p)
        for _ in range(min(per_sub, n_stmt - done)):
            lines.append("    " + rnd.choice(templates)())
            done += 1
        lines.append("@END_SUB")
    lines.append('%include "include/END.PROGRAM"')
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("lines=%d statements=%d" % (len(lines), n_stmt + n_sub + 1))


if __name__ == "__main__":
    main()
