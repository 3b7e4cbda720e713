#!/usr/bin/env python3
"""Slow-client resistance: 50 connections trickle a request one byte a
second while normal requests are timed.  Prints the median and the longest
answer time in milliseconds, or how long the first request went unanswered.
Usage: slow_clients.py PORT [PATH]"""
import socket
import statistics
import sys
import threading
import time

port = int(sys.argv[1])
path = sys.argv[2] if len(sys.argv) > 2 else "/index.html"
stop = threading.Event()


def trickle():
    socks = []
    for _ in range(50):
        s = socket.create_connection(("127.0.0.1", port))
        socks.append(s)
    text = b"GET / HTTP/1.1\r\nX-Slow: " + b"a" * 1000
    i = 0
    while not stop.is_set():
        for s in socks:
            try:
                s.send(text[i % len(text):i % len(text) + 1])
            except OSError:
                pass
        i += 1
        stop.wait(1.0)
    for s in socks:
        s.close()


LIMIT = 20.0  # seconds a request may wait


def timed_request():
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
    s.sendall(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    answer = b""
    while True:
        part = s.recv(65536)
        if not part:
            break
        answer += part
    s.close()
    if not answer.startswith(b"HTTP/1.1 200"):
        raise SystemExit("slow_clients.py: no answer")
    return (time.monotonic() - start) * 1000


t = threading.Thread(target=trickle)
t.start()
time.sleep(2.5)  # every slow client has sent a few bytes
times = []
try:
    for _ in range(20):
        times.append(timed_request())
        time.sleep(0.1)
    print(f"{statistics.median(times):.2f} {max(times):.2f}")
except OSError:
    print(f"no answer within {LIMIT * 1000:.0f}")
stop.set()
t.join()
