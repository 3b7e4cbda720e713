#!/usr/bin/env python3
"""Field input of a Quillwright program, driven through a pseudo-terminal.

Builds pty/fields.QWR with quill in a fresh directory, runs it on a
pseudo-terminal and types into its fields as a person would: text and
Enter, text and F5, an arrow key, and a field typed full. Every wait is
bounded; the test fails (instead of hanging) when the program does not
answer. Usage: field_input_test.py QUILL
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
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WAIT = 10.0          # seconds to wait for any one answer of the program


class Session:
    def __init__(self, program, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execv(program, [program])
        self.out = b""

    def read_until(self, pattern):
        """Read until pattern (bytes regex) appears; returns the match."""
        deadline = time.monotonic() + WAIT
        rx = re.compile(pattern)
        while True:
            m = rx.search(self.out)
            if m:
                return m
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %r within %.0fs; output so far: %r"
                                     % (pattern, WAIT, self.out))
            r, _, _ = select.select([self.fd], [], [], left)
            if r:
                try:
                    data = os.read(self.fd, 4096)
                except OSError:
                    data = b""
                if not data:
                    raise AssertionError("program ended before %r; output: %r"
                                         % (pattern, self.out))
                self.out += data

    def type(self, *keys, gap=0.3):
        """Write each key as one burst, pausing between keys as a person
        would, so that the runtime reads every key on its own."""
        for k in keys:
            os.write(self.fd, k)
            time.sleep(gap)

    def finish(self):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return os.waitstatus_to_exitcode(status)
            r, _, _ = select.select([self.fd], [], [], 0.1)
            if r:
                try:
                    self.out += os.read(self.fd, 4096)
                except OSError:
                    pass
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        raise AssertionError("program did not end; output: %r" % self.out)


def field(s, label):
    """The stored word and key code printed for one field."""
    m = s.read_until(rb"\n" + label + rb" \[([^\]]*)\] +(-?\d+)[-+ ]? (\w+)")
    return m.group(1).decode(), int(m.group(2)), m.group(3).decode()


def main():
    quill = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp()
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, expected %r" % (what, got, want))

    try:
        shutil.copy(os.path.join(HERE, "pty", "fields.QWR"), work)
        b = subprocess.run([quill, "build", "fields"], cwd=work, timeout=120,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if b.returncode != 0:
            print("quill build failed:\n" + b.stdout.decode(errors="replace"))
            return 1
        s = Session(os.path.join(work, "fields"), work)
        try:
            # typed text and Enter: the rest of the word stays as it was
            s.read_until(rb"READY1")
            s.type(b"a", b"b", b"c", b"\r")
            check("text and Enter", field(s, b"NAME"), ("abcXXXXXXX", 0, "enter"))

            # text, then F5 (escape "[15~" in one burst) ends the field
            s.read_until(rb"READY2")
            s.type(b"z", b"\x1b[15~")
            check("text and F5", field(s, b"CODE"), ("z...", 5, "f5"))

            # an arrow key alone ends the field and stores nothing
            s.read_until(rb"READY3")
            s.type(b"\x1b[A")
            check("arrow up", field(s, b"MOVE"), ("------", 14, "up"))

            # the fourth character fills a field of four: no Enter needed
            s.read_until(rb"READY4")
            s.type(b"w", b"x", b"y", b"z")
            check("field full", field(s, b"FULL"), ("wxyz", 21, "full"))

            # the terminal is back in line mode: a whole line is read
            s.read_until(rb"READY5")
            s.type(b"line mode\r")
            m = s.read_until(rb"LINE \[([^\]]*)\]")
            check("line input afterwards", m.group(1).decode().rstrip(), "line mode")
            check("exit status", s.finish(), 0)
        except AssertionError as e:
            failures.append(str(e))
            try:
                os.kill(s.pid, signal.SIGKILL)
                os.waitpid(s.pid, 0)
            except OSError:
                pass
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
