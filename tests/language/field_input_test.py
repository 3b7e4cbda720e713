#!/usr/bin/env python3
"""Field input of Quillwright programs, typed on a pseudo-terminal.

Builds pty/fields.QWR and examples/form.QWR with quill in a fresh directory
and types into them as a person would: every key sequence of the runtime's
key table, keys typed ahead and pasted, fields edited in place, and the
form example.  The key table is also sent through a pipe in one write.
What the programs stored is read from their report lines, what they drew
from a small model of the screen.  Every wait is bounded.
Usage: field_input_test.py QUILL
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WAIT = 10.0  # seconds to wait for any one answer of a program

# (bytes, code) for every entry of the key table: xterm, tmux/screen, VT220,
# rxvt and the Linux console.  Each ends a one-key entry field.
KEYS = [(b"\x1bOP", 1), (b"\x1b[11~", 1), (b"\x1b[[A", 1),
        (b"\x1bOQ", 2), (b"\x1b[12~", 2), (b"\x1b[[B", 2),
        (b"\x1bOR", 3), (b"\x1b[13~", 3), (b"\x1b[[C", 3),
        (b"\x1bOS", 4), (b"\x1b[14~", 4), (b"\x1b[[D", 4),
        (b"\x1b[15~", 5), (b"\x1b[[E", 5), (b"\x1b[17~", 6), (b"\x1b[18~", 7),
        (b"\x1b[19~", 8), (b"\x1b[20~", 9), (b"\x1b[21~", 10), (b"\x1b[23~", 11),
        (b"\x1b[24~", 12),
        (b"\x1b[A", 14), (b"\x1bOA", 14), (b"\x1b[B", 15), (b"\x1bOB", 15),
        (b"\x1b[C", 16), (b"\x1bOC", 16), (b"\x1b[D", 17), (b"\x1bOD", 17),
        (b"\x1b[H", 19), (b"\x1bOH", 19), (b"\x1b[1~", 19), (b"\x1b[7~", 19),
        (b"\x1b[F", 18), (b"\x1bOF", 18), (b"\x1b[4~", 18), (b"\x1b[8~", 18),
        (b"\x1b[2~", 20), (b"\x7f", 127), (b"\x08", 127), (b"\x1b", 27),
        (b"\r", 0), (b"\t", 22), (b"\n", 0), (b"\x1bOM", 0),
        # Delete, Page Up, Ctrl-A and keys held with Shift or Control do not
        # end an entry field; nothing stored
        (b"\x1b[3~\r", 0), (b"\x1b[5~\r", 0), (b"\x01\r", 0), (b"\x1b[1;2A\r", 0),
        (b"\x1bO2P\r", 0), (b"\x1b[11^\r", 0)]
# Alt with a key stores the key's character.
ALT = (b"\x1bz", "z.", 13, 1)
EXPECTED_KEYS = [("..", code, 0) for _, code in KEYS] + [ALT[1:], ("qq", 21, 2)]
ALL_KEYS = [seq for seq, _ in KEYS] + [ALT[0], b"qq"]

REPORT = rb"\n%s \[([^\]]*)\] +(-?\d+)[-+ ]? (\d+)"


def screen(out, rows=30, cols=200):
    """The text of the screen after `out`: cursor positions, clear, text."""
    grid = [[" "] * cols for _ in range(rows)]
    r = c = 0
    for m in re.finditer(rb"\x1bc|\x1b\[(\d*);(\d*)H|\x1b\[[0-9;?]*[A-Za-z]|"
                         rb"\x1b[()].|.", out, re.S):
        t = m.group(0)
        if t == b"\x1bc":
            grid = [[" "] * cols for _ in range(rows)]
            r = c = 0
        elif m.group(1) is not None:
            r, c = int(m.group(1) or 1) - 1, int(m.group(2) or 1) - 1
        elif t == b"\r":
            c = 0
        elif t == b"\n":
            r += 1
            if r == rows:
                grid = grid[1:] + [[" "] * cols]
                r -= 1
        elif len(t) == 1 and 32 <= t[0] < 127 and c < cols:
            grid[r][c] = chr(t[0])
            c += 1
    return ["".join(row).rstrip() for row in grid]


class Session:
    def __init__(self, argv, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execv(argv[0], argv)
        self.out = b""
        self.seen = 0  # reports are searched after the last one found

    def expect(self, pattern):
        """Read until pattern (bytes regex) appears after what was seen."""
        deadline = time.monotonic() + WAIT
        rx = re.compile(pattern)
        while True:
            m = rx.search(self.out, self.seen)
            if m:
                self.seen = m.end()
                return m
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %r within %.0fs; output: %r"
                                     % (pattern, WAIT, self.out[self.seen:]))
            if select.select([self.fd], [], [], left)[0]:
                try:
                    data = os.read(self.fd, 4096)
                except OSError:
                    data = b""
                if not data:
                    raise AssertionError("program ended before %r; output: %r"
                                         % (pattern, self.out[self.seen:]))
                self.out += data

    def report(self, label):
        m = self.expect(REPORT % label)
        return m.group(1).decode(), int(m.group(2)), int(m.group(3))

    def send(self, *parts, gap=0.05):
        """Each part in one write, with a pause between parts."""
        for p in parts:
            os.write(self.fd, p)
            time.sleep(gap)

    def settings(self):
        return termios.tcgetattr(self.fd)

    def finish(self):
        deadline = time.monotonic() + WAIT
        pid = 0
        while time.monotonic() < deadline:
            if not pid:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
            if select.select([self.fd], [], [], 0 if pid else 0.1)[0]:
                try:
                    self.out += os.read(self.fd, 4096)
                    continue  # what it wrote last is taken too
                except OSError:
                    pass
            if pid:
                return os.waitstatus_to_exitcode(status)
        raise AssertionError("program did not end; output: %r" % self.out)

    def kill(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        except OSError:
            pass


def drive_fields(s, check):
    s.expect(rb"START")
    found = s.settings()
    s.send(b"go\r")
    s.expect(rb"KEYS")
    for _ in range(100):  # the first field switches to keys without echo
        lflag = s.settings()[3]
        if not lflag & (termios.ICANON | termios.ECHO):
            break
        time.sleep(0.02)
    check("key mode, no echo", lflag & (termios.ICANON | termios.ECHO), 0)
    for seq, want in zip(ALL_KEYS, EXPECTED_KEYS):
        s.send(seq)
        check("key %r" % seq, s.report(b"KEY"), want)

    s.expect(rb"READY1")
    s.send(b"xy\r", b"\nrs\x01\r")  # typed ahead, Ctrl-A among it, CR LF in two writes
    check("first of two", s.report(b"ONE"), ("xy........", 0, 2))
    check("key mode between fields", s.settings()[3] & (termios.ICANON | termios.ECHO), 0)
    check("second of two", s.report(b"TWO"), ("rs........", 0, 2))
    # A paste fills two fields; a character of two bytes is one key, and one
    # without room for both its bytes goes to the next field.
    s.send("Adé ".encode(), "0123456789ABCDéFGHIJKLMNOPQRST\r".encode())
    check("paste", s.report(b"PASTE1"), ("Adé 0123456789ABCD ", 21, 18))
    check("rest of paste", s.report(b"PASTE2"), ("éFGHIJKLMNOPQRST   ", 0, 16))
    s.send(b"xy\x1b[A")
    check("arrow after text", s.report(b"MOVE"), ("xy----", 14, 2))
    # F5 in two writes, a line typed ahead behind it, then erased in part
    s.send(b"ab\x1b", b"[15~aheadXY", b"\x7f\x7f\r", gap=0.01)
    check("split F5", s.report(b"LAST"), ("ab..", 5, 2))
    check("line typed ahead", s.expect(rb"LINE \[(\w*)").group(1), b"ahead")

    s.expect(rb"READY2")
    rows = screen(s.out)
    check("row 3 from column 120", rows[2][119:], "#03120")
    check("row 4 from column 7", rows[3][6:], "%0407")
    s.expect(rb"defghij")
    right, left, home, end = b"\x1b[C", b"\x1b[D", b"\x1b[1~", b"\x1bOF"
    s.send(right, right, b"X", b"\x7f", b"\x1b[3~", end, b"Z", home, b"Y", b"\r")
    check("edited in place", s.report(b"EDIT"), ("abcYehijZ klmno", 0, 3))
    check("edited field on screen", screen(s.out)[9], "    YehijZ")
    s.send(left)
    check("left out of a field", s.report(b"LEFT"), ("abcYehijZ klmno", 17, 0))
    s.send(right, right)
    check("right out of a field", s.report(b"RIGHT"), ("abcYehijZ klmno", 16, 0))
    check("no echo of keys", b"^[" in s.out, False)
    time.sleep(0.1)
    check("settings put back", s.settings(), found)
    s.send(b"\r")
    check("exit status", s.finish(), 0)
    check("cursor shown at the end", s.out.endswith(b"\x1b[?25h"), True)


def drive_stop(s, check):
    """Ctrl-Z in a field puts the terminal back; continued, the field takes
    keys again; Ctrl-\\ ends the program with the terminal put back."""
    s.expect(rb"START")
    found = s.settings()
    s.send(b"go\r")
    s.expect(rb"KEYS")
    s.send(b"\x1a")
    s.expect(rb"Stopped")
    check("stopped", (s.settings(), b"\x1b[?25h" in s.out), (found, True))
    s.expect(rb"CONTINUED")
    s.send(b"\x1bOP")
    check("key after the stop", s.report(b"KEY"), ("..", 1, 0))
    s.send(b"\x1c")
    s.expect(rb"QUIT")
    check("quit", s.settings(), found)


def drive_behind(s, check):
    """Started in the background, the form stops before its first field and
    takes keys once brought forward."""
    deadline = time.monotonic() + WAIT
    while s.settings()[3] & termios.ICANON and time.monotonic() < deadline:
        time.sleep(0.05)
    drive_form(s, check)


def drive_form(s, check):
    s.expect(rb"City:")
    s.send(b"Ada Lovelace", b"\t", b"Paris", b"\x1b[A")  # Up: back to the name
    s.send(b"\x1bOF", b"\x7f" * 8, b"\r", b"\x1b[F", b"\x7f" * 5, b"London", b"\x1b[21~")
    check("form saved", s.expect(rb"saved: ([^\r\n]*)").group(1).split(), [b"Ada", b"London"])
    check("form exit status", s.finish(), 0)


def main():
    quill = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp()
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, expected %r" % (what, got, want))

    try:
        shutil.copy(os.path.join(HERE, "pty", "fields.QWR"), work)
        shutil.copy(os.path.join(HERE, "..", "..", "examples", "form.QWR"), work)
        for name in ("fields", "form"):
            b = subprocess.run([quill, "build", name], cwd=work, timeout=120,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if b.returncode != 0:
                print("quill build %s failed:\n%s" % (name, b.stdout.decode(errors="replace")))
                return 1
        # Through a pipe: the whole key table in one write.
        piped = subprocess.run([os.path.join(work, "fields")], cwd=work, timeout=60,
                               input=b"go\n" + b"".join(ALL_KEYS), stdout=subprocess.PIPE)
        got = [(w.decode(), int(c), int(n)) for w, c, n in
               re.findall(REPORT % b"KEY", piped.stdout)]
        check("keys through a pipe", got, EXPECTED_KEYS)
        # A shell with job control runs the stopped program on.
        stop = ["/bin/bash", "--norc", "-m", "-c",
                "./fields; sleep 0.5; echo CONTINUED; fg; echo QUIT $?"]
        # Started in the background, the form waits to be brought forward.
        behind = ["/bin/bash", "--norc", "-m", "-c", "./form & sleep 0.5; fg"]
        for argv, drive in (([os.path.join(work, "fields")], drive_fields),
                            ([os.path.join(work, "form")], drive_form), (stop, drive_stop),
                            (behind, drive_behind)):
            s = Session(argv, work)
            try:
                drive(s, check)
            except AssertionError as e:
                failures.append("%s: %s" % (argv[-1], e))
            finally:
                s.kill()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
