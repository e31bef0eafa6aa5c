#!/usr/bin/env python3
"""Load generator for bench/sessions.sh: bounded in count and time, loopback only.

  ftp_load.py sessions PORT SECONDS PROCESSES  -> prints sessions per second
  ftp_load.py greet PORT CLIENTS TIMEOUT      -> prints seconds until all greeted, and how many were
"""
import multiprocessing
import socket
import sys
import threading
import time


def read_reply(sock, buffer):
    while True:
        lines = buffer.split(b"\r\n")
        for i, line in enumerate(lines[:-1]):
            if len(line) >= 4 and line[:3].isdigit() and line[3:4] == b" ":
                return b"\r\n".join(lines[i + 1:])
        chunk = sock.recv(4096)
        if not chunk:
            raise ConnectionError("closed")
        buffer += chunk


def one_session(port):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        rest = read_reply(s, b"")
        for line in (b"USER anonymous\r\n", b"PASS a@b\r\n", b"NOOP\r\n", b"QUIT\r\n"):
            s.sendall(line)
            rest = read_reply(s, rest)


def worker(port, seconds, counter):
    end = time.monotonic() + seconds
    done = 0
    errors = 0
    while time.monotonic() < end:
        try:
            one_session(port)
            done += 1
        except OSError:
            errors += 1
    with counter.get_lock():
        counter.value += done


def sessions(port, seconds, processes):
    counter = multiprocessing.Value("i", 0)
    workers = [multiprocessing.Process(target=worker, args=(port, seconds, counter)) for _ in range(processes)]
    start = time.monotonic()
    for w in workers:
        w.start()
    for w in workers:
        w.join(seconds + 30)
    elapsed = time.monotonic() - start
    print("%.0f" % (counter.value / elapsed))


def greet(port, clients, timeout):
    greeted = []
    lock = threading.Lock()
    barrier = threading.Barrier(clients)
    start = [0.0]

    def client():
        try:
            barrier.wait(30)
            s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
            s.settimeout(timeout)
            data = s.recv(4096)
            ok = data.startswith(b"220")
            done_at = time.monotonic()
            s.close()
        except (OSError, threading.BrokenBarrierError):
            ok, done_at = False, None
        with lock:
            greeted.append((ok, done_at))

    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    start[0] = time.monotonic()
    for t in threads:
        t.join(timeout + 60)
    ok_times = [t for ok, t in greeted if ok]
    elapsed = (max(ok_times) - start[0]) if ok_times else float("nan")
    print("%.3f %d" % (elapsed, len(ok_times)))


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "sessions":
        sessions(int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]))
    elif mode == "greet":
        greet(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]))
