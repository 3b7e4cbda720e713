"""payroll.QWR against the same payroll worked out here with decimal
arithmetic: comma-separated input, overtime, tax brackets (a function),
service years from dates (an invalid one included), names and departments
edited in substrings, the report file and the payslip records read back."""
import random
import sys
from datetime import date
from decimal import Decimal as D

from harness import Program, edit, field, rounded

PAY_DATE = "2024-06-30"
PICTURE_HOURS = "9999.99"


def staff():
    """Fixed rows for the edges, then seeded random ones."""
    rows = [
        ("E001", "Ada Lovelace", D("172.50"), D("25.50"), "2019-03-01", "ENG"),
        ("E002", "Bob Byte", D("100.00"), D("19.25"), "2023-02-30", ""),      # no such date
        ("E003", "Cy Cobol", D("160.00"), D("6.25"), "2024-06-30", "OPS"),     # no tax
        ("E004", "Di Decimal", D("161.01"), D("99.99"), "2000-01-01", "FIN"),  # top bracket
        ("E005", "Eve", D("0"), D("10"), "1999-12-31", "HR"),                  # no surname
    ]
    rng = random.Random(14)
    for k in range(6, 31):
        hired = date(rng.randint(2010, 2024), rng.randint(1, 12), rng.randint(1, 28))
        rows.append((f"E{k:03}", f"Name{k} Surname{k}", D(rng.randint(0, 22000)) / 100,
                     D(rng.randint(500, 9000)) / 100, hired.isoformat(),
                     rng.choice(["ENG", "OPS", "", "FIN"])))
    return rows


def csv_line(row):
    ident, name, hours, rate, hired, dept = row
    return (f'"{field(ident, 4)}","{field(name, 20)}",{edit(hours, PICTURE_HOURS)},'
            f'{edit(rate, PICTURE_HOURS)},"{hired}","{field(dept, 4)}"\n')


def day_number(text):
    try:
        return (date.fromisoformat(text) - date(1970, 1, 1)).days
    except ValueError:
        return None


def tax_of(pay):
    if pay > 3000:
        return rounded(rounded((pay - 3000) * D("0.4"), 2) + 400, 2)
    if pay > 1000:
        return rounded((pay - 1000) * D("0.2"), 2)
    return D(0)


def columns(fields):
    """A report line: each text placed from its column (counted from 1)."""
    line = [" "] * 90
    for col, text in fields.items():
        line[col - 1:col - 1 + len(text)] = text
    return "".join(line)


def payroll(rows, company):
    pay_day = day_number(PAY_DATE)
    lines = [f"Payroll of {field(company.upper(), 30)} for {PAY_DATE}"]
    slips = []
    total_gross = total_tax = total_net = D(0)
    for ident, name, hours, rate, hired, dept in rows:
        over = hours - 160 if hours > 160 else D(0)
        hours = min(hours, D(160))
        gross = rounded(hours * rate, 2)
        extra = rounded(rounded(over * rate, 2) * D("1.5"), 2)
        gross += extra
        tax = tax_of(gross)
        hire_day = day_number(hired)
        note = ""
        if hire_day is None:
            years, note = 0, "date?"
        else:
            years = min(int(rounded(D(pay_day - hire_day) / 365, 0)), 5)
        bonus = rounded(gross * years / 100, 2)
        net = gross - tax + bonus
        total_gross += gross
        total_tax += tax
        total_net += net
        name = field(name, 20)
        blank = name.find(" ")
        name = name[:blank + 1] + name[blank + 1:].upper()
        dept = dept or "----"
        line = columns({1: field(ident, 4), 6: name, 27: field(dept, 4), 32: f"{years:02}",
                        35: note, 42: edit(gross, "#,###,##9.99"), 55: edit(tax, "#,###,##9.99"),
                        68: edit(bonus, "###,##9.99"), 80: edit(net, "###,##9.99-")})
        lines.append(line)
        slips.append(net)
    lines.append(columns({1: "TOTAL", 42: edit(total_gross, "#,###,##9.99"),
                          55: edit(total_tax, "#,###,##9.99"),
                          80: edit(total_net, "###,##9.99-")}))
    report = "".join(line.rstrip() + "\n" for line in lines)
    screen = (f"{len(rows):03} people, slips of 0019 characters\n"
              f"gross {edit(total_gross, '99999999.99')} tax {edit(total_tax, '99999999.99')}"
              f" net {edit(total_net, '99999999.99-')}\n"
              f"{len(slips):03} slips agree\n")
    return report, screen


def main(quill):
    prog = Program(quill, "payroll")
    rows = staff()
    prog.write("staff.csv", "".join(csv_line(r) for r in rows))
    out = prog.run(env={"PAYROLL_COMPANY": "Acme Tools", "PAYROLL_DATE": PAY_DATE})
    report, screen = payroll(rows, "Acme Tools")
    prog.expect("standard output", out, screen)
    actual = "".join(line.rstrip() + "\n" for line in prog.read("payroll.txt").splitlines())
    prog.expect("payroll.txt", actual, report)
    prog.expect("slips.dat size", len(prog.read("slips.dat")), 19 * len(rows))
    # Without the company in the environment the default name stays.
    prog.run(env={"PAYROLL_COMPANY": "", "PAYROLL_DATE": PAY_DATE})
    prog.expect("default company", prog.read("payroll.txt").splitlines()[0],
                f"Payroll of {field('UNNAMED COMPANY', 30)} for {PAY_DATE}")
    return prog.finish()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
