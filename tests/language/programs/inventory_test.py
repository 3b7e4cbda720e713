"""inventory.QWR against the same bookkeeping worked out here: a fixed
table sorted and searched (a word key and a short literal key), movements
from a sequential file, an xtable sorted by name, unloaded to a random file
and loaded back, order quantities through a recursive function, and stock
values per category in an array."""
import math
import random
import sys
from decimal import Decimal as D

from harness import Program, edit, field, rounded

ROWS = 100


def items():
    fixed = [("B7", "Widget", 12, D("2.50"), 5), ("A1", "Anvil", 3, D("149.99"), 1),
             ("E12345", "Eraser", 400, D("0.35"), 24), ("C20", "Crate", 19, D("12.00"), 8)]
    rng = random.Random(1414)
    rest = []
    codes = {code for code, *_ in fixed}
    while len(rest) < 36:
        code = rng.choice("ABCDE") + str(rng.randint(1, 99999))
        if code in codes:
            continue
        codes.add(code)
        rest.append((code, f"Part {code}", rng.randint(0, 90), D(rng.randint(5, 99999)) / 100,
                     rng.choice([1, 2, 3, 4, 5, 6, 8, 10, 12, 15, 16, 25])))
    return [list(row) for row in fixed + rest]


def moves(stock):
    """Movements of known and unknown codes; none takes a quantity below
    zero, which the report's pictures could not show."""
    rng = random.Random(7)
    out = [("B7", -2), ("Z999", 5), ("A1", 1), ("Q1", -3)]
    level = {row[0]: row[2] for row in stock}
    level["B7"] -= 2
    level["A1"] += 1
    for _ in range(60):
        code = rng.choice(stock)[0]
        change = rng.randint(-5, 25)
        if level[code] + change >= 0:
            level[code] += change
            out.append((code, change))
    return out


def book(stock, movements):
    """What the program should print."""
    by_code = {row[0]: row for row in stock}
    lines = []
    unknown = []
    for code, change in movements:
        if code in by_code:
            by_code[code][2] += change
        else:
            unknown.append(change)
    for change in unknown:
        lines.append(f"unknown movement of {edit(change, '99999999-')}")
    ordered = sorted(stock, key=lambda row: field(row[0], 6).encode())
    first = ROWS - len(stock) + 1
    b7 = next(i for i, row in enumerate(ordered) if row[0] == "B7")
    lines.append(f"B7 is row {first + b7:03}: {field('Widget', 20)}")
    values = [0] * 5
    low = []
    for code, name, qty, price, pack in ordered:
        value = rounded(qty * price, 2)
        values["ABCDE".index(code[0])] += int(rounded(value, 0))
        lines.append(f"{field(code, 6)} {field(name, 20)} {edit(qty, '99999-')} "
                     f"{edit(value, '#,###,##9.99')}")
        if qty < 20:
            low.append((name, qty, pack))
    lines.append("".join(f"{edit(v, '99999999-')} " for v in sorted(values, reverse=True)))
    low.sort(key=lambda row: field(row[0], 20).encode())
    lines.append(f"{len(low):03} to reorder")
    for name, qty, pack in low:
        case = pack * 12 // math.gcd(pack, 12)
        short = 50 - qty
        cases = int(rounded(D(short) / case, 0))
        if cases * case < short:
            cases += 1
        lines.append(f"{field(name, 20)} order {cases * case:05} ({cases:04} cases of {case:04})")
    widget = next(i for i, row in enumerate(low) if row[0] == "Widget")
    lines.append(f"Widget is low-stock row {widget + 1:03}")
    lines.append(f"{len(low):03} records in lowstock.dat")
    return "".join(line + "\n" for line in lines), len(low)


def main(quill):
    prog = Program(quill, "inventory")
    stock = items()
    prog.write("items.txt", "".join(
        f"{field(code, 6)}{field(name, 20)}{edit(qty, '99999-')}{edit(price, '9999.99')}"
        f"{edit(pack, '999')}\n" for code, name, qty, price, pack in stock))
    movements = moves(stock)
    prog.write("moves.dat", "".join(f"{field(code, 6)}{edit(change, '9999-')}"
                                    for code, change in movements))
    expected, low = book(stock, movements)
    prog.expect("standard output", prog.run(), expected)
    # kind 16: a status byte and the flat record (6 + 20 + 6 + 7 + 3) per slot
    prog.expect("lowstock.dat size", len(prog.read("lowstock.dat")), 43 * low)
    return prog.finish()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
