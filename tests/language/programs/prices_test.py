"""prices.QWR serving its price list over HTTP, driven with curl; every
answer's body and status code is checked against the price worked out
here.  The server's headers are not checked."""
import random
import socket
import subprocess
import sys
import time
from decimal import Decimal as D

from harness import Program, edit, field, rounded


def price_list():
    rng = random.Random(2024)
    rows = [("B7", "Widget", D("12.50"), D("20.0")), ("A1", "Anvil", D("149.99"), D("7.5"))]
    while len(rows) < 40:
        code = rng.choice("ABCDEFGH") + str(rng.randint(1, 9999999))
        if all(code != r[0] for r in rows):
            rows.append((code, f"Item {code} {rng.choice(['red', 'blue', 'big'])}",
                         D(rng.randint(1, 9999999)) / 100, D(rng.choice([0, 50, 70, 100, 200])) / 10))
    return rows


def gross(net, vat, qty):
    amount = rounded(net * qty, 2)
    return rounded(rounded(rounded(amount * vat, 2) / 100, 2) + amount, 2)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port, server):
    for _ in range(200):
        if server.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def get(port, path):
    got = subprocess.run(["curl", "-s", "-m", "10", "-w", "\n%{http_code}",
                          f"http://127.0.0.1:{port}{path}"], capture_output=True, text=True)
    body, _, status = got.stdout.rpartition("\n")
    return body, status


def main(quill):
    prog = Program(quill, "prices")
    rows = price_list()
    prog.write("prices.txt", "".join(f"{field(c, 8)}{field(n, 24)}{edit(p, '99999.99')}"
                                     f"{edit(v, '99.9')}\n" for c, n, p, v in rows))
    prog.write("index.html", "<p>price list</p>\n")
    # The probe connection of wait_for is a request without a path: no answer.
    requests = [("/", "<p>price list</p>\n", "200"), ("/missing.html", "Not Found\n", "404"),
                ("/price/NOPE", "unknown", "200"), ("/quote/B7", "unknown", "200")]
    rng = random.Random(9)
    for code, name, net, vat in rng.sample(rows, 12) + rows[:2]:
        requests.append((f"/price/{code}",
                         f"{code};{name};{edit(net, '99999.99')};"
                         f"{edit(gross(net, vat, 1), '9999999.99')}", "200"))
        qty = rng.randint(1, 999)
        requests.append((f"/quote/{code}/{qty}",
                         f"{code};{qty:05};{edit(gross(net, vat, qty), '9999999.99')}", "200"))
    port = free_port()
    server = prog.start(env={"PRICES_PORT": str(port)})
    try:
        prog.expect("server started", wait_for(port, server), True)
        for path, body, status in requests:
            prog.expect(f"answer to {path}", get(port, path), (body, status))
        get(port, "/stop")
        out, err = server.communicate(timeout=30)
    finally:
        server.kill()
    prog.expect("exit status", server.returncode, 0)
    prog.expect("standard output", out, "[000001]Starting HTML Server\n")
    answers = sum(path.startswith(("/price/", "/quote/")) for path, _, _ in requests)
    log = [line.rstrip() for line in prog.read("requests.log").splitlines()]
    prog.expect("requests.log", log[-len(requests) - 2:],
                [path for path, _, _ in requests] + ["/stop", f"{answers:04} answers"])
    return prog.finish()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
