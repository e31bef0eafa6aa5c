#!/usr/bin/env python3
"""Soak load for bench/soak.sh: starts one corveld, runs CLIENTS concurrent clients
for SECONDS (loopback only, bounded in count and time), verifies every byte moved,
and watches the server's resident memory.

  soak_client.py SECONDS [CLIENTS]

Each client works in its own folder: login, STOR, RETR, APPE, RETR, LIST,
RNFR/RNTO, web download, DELE, QUIT; every transferred file is checked by SHA-256.
The last line reads "soak: N sessions, B bytes, E errors, RSS start X KiB end Y KiB (+Z%)";
the exit status is 1 on any error or on memory growth over 10%.
"""
import base64
import hashlib
import multiprocessing
import os
import random
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "integration"))
from harness import LOOPBACK, Server, digest, user_element, users_document  # noqa: E402

PROCESSES = 4
# Socket time-out of every single step; a stuck step counts as an error.
STEP_TIMEOUT = 30
MAX_FILE = 256 << 10
# Memory is compared from this point on, after the allocator's first growth.
WARMUP_FRACTION = 1 / 6
MAX_WARMUP = 10.0
MAX_GROWTH = 0.10
USER, PASSWORD = "soak", "soakpw"


class Failure(Exception):
    pass


class Ftp:
    def __init__(self, port):
        self.sock = socket.create_connection((LOOPBACK, port), timeout=STEP_TIMEOUT)
        self.buffer = b""
        self.expect(b"220")

    def close(self):
        self.sock.close()

    def reply(self):
        while True:
            pos = 0
            while True:
                nl = self.buffer.find(b"\r\n", pos)
                if nl < 0:
                    break
                line = self.buffer[pos:nl]
                if len(line) >= 4 and line[:3].isdigit() and line[3:4] == b" ":
                    data, self.buffer = self.buffer[:nl + 2], self.buffer[nl + 2:]
                    return data
                pos = nl + 2
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Failure("control closed; have %r" % self.buffer[:100])
            self.buffer += chunk

    def expect(self, code, line=None):
        if line is not None:
            self.sock.sendall(line.encode() + b"\r\n")
        answer = self.reply()
        if not answer.startswith(code):
            raise Failure("%s -> %r" % (line, answer[:120]))
        return answer

    def data(self):
        answer = self.expect(b"227", "PASV")
        numbers = answer[answer.index(b"(") + 1:answer.index(b")")].split(b",")
        return socket.create_connection((LOOPBACK, int(numbers[4]) * 256 + int(numbers[5])), timeout=STEP_TIMEOUT)

    def store(self, verb, name, payload):
        data = self.data()
        try:
            self.expect(b"150", "%s %s" % (verb, name))
            data.sendall(payload)
        finally:
            data.close()
        self.expect(b"226")

    def fetch(self, verb, name):
        data = self.data()
        chunks = []
        try:
            self.expect(b"150", "%s %s" % (verb, name))
            while True:
                chunk = data.recv(1 << 20)
                if not chunk:
                    break
                chunks.append(chunk)
        finally:
            data.close()
        self.expect(b"226")
        return b"".join(chunks)


def web_download(port, path):
    token = base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
    request = "GET /download.html?path=%s HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\n\r\n" % (path, token)
    with socket.create_connection((LOOPBACK, port), timeout=STEP_TIMEOUT) as s:
        s.sendall(request.encode())
        chunks = []
        while True:
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            chunks.append(chunk)
    reply = b"".join(chunks)
    head, sep, body = reply.partition(b"\r\n\r\n")
    if not sep or not head.startswith(b"HTTP/1.1 200 OK\r\n"):
        raise Failure("web download of %s -> %r" % (path, reply[:120]))
    length = [l for l in head.split(b"\r\n") if l.startswith(b"Content-Length: ")]
    if not length or int(length[0].split(b": ")[1]) != len(body):
        raise Failure("web download of %s: length mismatch" % path)
    return body


def check(name, got, expected):
    if hashlib.sha256(got).digest() != hashlib.sha256(expected).digest():
        raise Failure("%s: checksum mismatch (%d bytes, expected %d)" % (name, len(got), len(expected)))


def one_session(ftp_port, web_port, folder, serial, rng):
    """One full session; returns the bytes moved."""
    moved = 0
    ftp = Ftp(ftp_port)
    try:
        ftp.expect(b"331", "USER " + USER)
        ftp.expect(b"230", "PASS " + PASSWORD)
        ftp.expect(b"250", "CWD " + folder)
        first = os.urandom(rng.randint(0, MAX_FILE))
        extra = os.urandom(rng.randint(1, MAX_FILE // 4))
        name, renamed = "f%d.bin" % serial, "g%d.bin" % serial
        ftp.store("STOR", name, first)
        check(name, ftp.fetch("RETR", name), first)
        ftp.store("APPE", name, extra)
        whole = first + extra
        check(name + " appended", ftp.fetch("RETR", name), whole)
        ftp.expect(b"350", "RNFR " + name)
        ftp.expect(b"250", "RNTO " + renamed)
        listing = ftp.fetch("LIST", "")
        if (" %s\r\n" % renamed).encode() not in listing or (" %s\r\n" % name).encode() in listing:
            raise Failure("LIST of %s does not show the rename" % folder)
        check(renamed + " over the web", web_download(web_port, "%s/%s" % (folder, renamed)), whole)
        ftp.expect(b"250", "DELE " + renamed)
        ftp.expect(b"221", "QUIT")
        moved = len(first) * 2 + len(extra) + len(whole) * 3 + len(listing)
    finally:
        ftp.close()
    return moved


def client(ftp_port, web_port, index, deadline, totals, lock, samples):
    folder = "c%d" % index
    rng = random.Random(index)
    serial = 0
    while time.monotonic() < deadline:
        serial += 1
        try:
            moved = one_session(ftp_port, web_port, folder, serial, rng)
            with lock:
                totals[0] += 1
                totals[1] += moved
        except (Failure, OSError, ValueError) as error:
            with lock:
                totals[2] += 1
                if len(samples) < 5:
                    samples.append("%s: %s" % (folder, error))
            time.sleep(0.2)


def worker(ftp_port, web_port, indexes, deadline, queue):
    totals, lock, samples = [0, 0, 0], threading.Lock(), []
    threads = [threading.Thread(target=client, args=(ftp_port, web_port, i, deadline, totals, lock, samples),
                                daemon=True) for i in indexes]
    for t in threads:
        t.start()
    for t in threads:
        t.join(max(1.0, deadline - time.monotonic()) + 2 * STEP_TIMEOUT * 8)
    stuck = sum(t.is_alive() for t in threads)
    if stuck:
        totals[2] += stuck
        samples.append("%d clients still running after the deadline" % stuck)
    queue.put((totals, samples))


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    clients = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    # Every client is 127.0.0.1: the limits per address are off, as for the benchmarks.
    server = Server(start=False, maxconn=clients * 4, extra="<maxprelogin>0</maxprelogin><webmaxperip>0</webmaxperip>")
    try:
        home = server.path("soakhome")
        for i in range(clients):
            os.makedirs(os.path.join(home, "c%d" % i))
        server.write("ftpusers.xml", users_document(user_element(USER, digest(PASSWORD), home, privilege=0x7001F)))
        server.start()
        start = time.monotonic()
        deadline = start + seconds
        queue = multiprocessing.Queue()
        workers = [multiprocessing.Process(target=worker, args=(server.ftp_port, server.web_port,
                                                                range(p, clients, PROCESSES), deadline, queue))
                   for p in range(PROCESSES)]
        for w in workers:
            w.start()
        time.sleep(min(MAX_WARMUP, seconds * WARMUP_FRACTION))
        rss_start = server.rss_kib()
        while time.monotonic() < deadline - 0.5:
            time.sleep(0.1)
            if server.process.poll() is not None:
                break
        rss_end = server.rss_kib() if server.process.poll() is None else 0
        sessions = moved = errors = 0
        samples = []
        for _ in workers:
            try:
                totals, worker_samples = queue.get(timeout=STEP_TIMEOUT * 20)
            except Exception:
                errors += 1
                samples.append("a load process never reported")
                continue
            sessions += totals[0]
            moved += totals[1]
            errors += totals[2]
            samples += worker_samples
        for w in workers:
            w.join(10)
            if w.is_alive():
                w.kill()
                w.join(5)
        if server.process.poll() is not None:
            errors += 1
            samples.append("corveld exited with %s" % server.process.returncode)
        leftovers = [n for i in range(clients) for n in os.listdir(os.path.join(home, "c%d" % i))]
        if errors == 0 and leftovers:
            errors += 1
            samples.append("files left behind: %s" % leftovers[:5])
    finally:
        server.cleanup()
    for sample in samples[:10]:
        print("error: " + sample)
    growth = (rss_end - rss_start) * 100.0 / rss_start if rss_start else 0.0
    elapsed = time.monotonic() - start
    print("soak: %d clients for %.0f s, %.1f sessions/s, %.1f MB/s" % (clients, elapsed, sessions / elapsed,
                                                                       moved / elapsed / 1e6))
    print("soak: %d sessions, %d bytes, %d errors, RSS start %d KiB end %d KiB (%+.1f%%)"
          % (sessions, moved, errors, rss_start, rss_end, growth))
    return 1 if errors or not rss_start or growth > MAX_GROWTH * 100 else 0


if __name__ == "__main__":
    sys.exit(main())
