#!/usr/bin/env python3
"""Measures quill lsp as an editor meets it, printing each figure with its
ratio to the target:
  1. a change of a 2,000-line program: the translator's diagnostics and
     the assembler's, counted from the end of the debounce (the server is
     asked for none), median of RUNS changes; next to `quill build` of the
     same program, which is how a mistake is found without the server;
  2. the server's peak memory (VmHWM) after opening the 10,000-statement
     program of build_loop.sh and answering hover, completion and the
     outline on it.

usage: measure.py QUILL PROGRAM_2000.QWR PROGRAM_10000.QWR RUNS
"""
import json
import os
import select
import statistics
import subprocess
import sys
import time

QUILL, SMALL, LARGE, RUNS = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])


class Server:
    def __init__(self, debounce_ms):
        self.proc = subprocess.Popen([QUILL, "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.buffer = b""
        self.ids = 0
        self.call("initialize", {"capabilities": {}, "initializationOptions": {"debounceMs": debounce_ms}})

    def send(self, message):
        body = json.dumps(dict(message, jsonrpc="2.0")).encode()
        self.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.proc.stdin.flush()

    def receive(self):
        while True:
            end = self.buffer.find(b"\r\n\r\n")
            if end >= 0:
                n = int(self.buffer[:end].split(b":")[1])
                if len(self.buffer) >= end + 4 + n:
                    body, self.buffer = self.buffer[end + 4:end + 4 + n], self.buffer[end + 4 + n:]
                    return json.loads(body)
            select.select([self.proc.stdout], [], [], 60)
            chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
            if not chunk:
                sys.exit("quill lsp ended")
            self.buffer += chunk

    def call(self, method, params):
        self.ids += 1
        self.send({"id": self.ids, "method": method, "params": params})
        while True:
            m = self.receive()
            if m.get("id") == self.ids:
                return m

    def publishes(self, count):
        """Seconds from now to each of the next `count` diagnostics."""
        start, times = time.perf_counter(), []
        while len(times) < count:
            if self.receive().get("method") == "textDocument/publishDiagnostics":
                times.append(time.perf_counter() - start)
        return times

    def peak_mb(self):
        with open("/proc/%d/status" % self.proc.pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024

    def close(self):
        self.call("shutdown", None)
        self.send({"method": "exit"})
        self.proc.wait()


def uri(path):
    return "file://" + os.path.abspath(path)


def changes(path):
    text = open(path).read()
    lines = text.split("\n")
    server = Server(0)
    server.send({"method": "textDocument/didOpen", "params": {"textDocument": {
        "uri": uri(path), "languageId": "quillwright", "version": 1, "text": text}}})
    server.publishes(2)
    translator, assembler = [], []
    last = max(n for n, line in enumerate(lines) if line.strip())
    for k in range(RUNS):
        changed = lines[:last] + ["    ; change %d" % k] + lines[last:]
        server.send({"method": "textDocument/didChange", "params": {
            "textDocument": {"uri": uri(path), "version": 2 + k},
            "contentChanges": [{"text": "\n".join(changed)}]}})
        t1, t2 = server.publishes(2)
        translator.append(t1)
        assembler.append(t2)
    server.close()
    return len(lines), statistics.median(translator), statistics.median(assembler)


def quill_build(path):
    folder, name = os.path.split(os.path.abspath(path))
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run([QUILL, "build", name], cwd=folder, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def memory(path):
    text = open(path).read()
    server = Server(300)
    server.send({"method": "textDocument/didOpen", "params": {"textDocument": {
        "uri": uri(path), "languageId": "quillwright", "version": 1, "text": text}}})
    server.publishes(2)
    position = {"textDocument": {"uri": uri(path)}, "position": {"line": 3, "character": 20}}
    server.call("textDocument/hover", position)
    server.call("textDocument/completion", position)
    server.call("textDocument/documentSymbol", {"textDocument": {"uri": uri(path)}})
    peak = server.peak_mb()
    server.close()
    return len(text.split("\n")), peak


def main():
    lines, translator, assembler = changes(SMALL)
    build = quill_build(SMALL)
    print("program of %d lines, median of %d changes:" % (lines, RUNS))
    print("  translator's diagnostics  %6.0f ms   ratio to the 300 ms target  %.2f"
          % (translator * 1e3, translator / 0.3))
    print("  assembler's diagnostics   %6.0f ms   ratio to the 1.5 s target   %.2f"
          % (assembler * 1e3, assembler / 1.5))
    print("  quill build               %6.0f ms   ratio of the assembler's diagnostics to it  %.2f"
          % (build * 1e3, assembler / build))
    lines, peak = memory(LARGE)
    print("program of %d lines (10,000 statements):" % lines)
    print("  server's peak memory      %6.1f MB   ratio to the 100 MB target  %.2f" % (peak, peak / 100))


if __name__ == "__main__":
    main()
