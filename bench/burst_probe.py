#!/usr/bin/python3
"""Where a 200-client burst's greeting latency goes: for each client, when its connect()
returned and when its 220 arrived, both from the moment all clients are released.

Usage (as root, from the project root, after bench/ab.sh has set the peers up once):
    bench/burst_probe.py [--rounds N] [--clients C] CONTENDER...
A contender is a corveld binary (a path), a peer of the shared harness by name, or
"null": a one-thread epoll server that only greets, the floor for this client.

The client is the shared harness's W6 burst: one Python process, one thread per client.
When the p99 of connect() is about the p99 of the greeting, the client's own threads,
taking turns, set the figure; the server only matters by the CPU it takes from them.
Contenders run in turns, a few bursts each per round after a warm-up burst; each figure
is the median and range over all measured bursts (CPU: over the rounds).
"""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from ab import Contender, bench  # the shared harness, as bench/ab.py finds it
from ab_stats import session_cpu_ticks, ticks_per_second

NULL_SERVER = r'''
import selectors, socket, sys
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(1024)
listener.setblocking(False)
print(listener.getsockname()[1], flush=True)
sel = selectors.EpollSelector()
sel.register(listener, selectors.EVENT_READ)
while True:
    for key, _ in sel.select():
        if key.fileobj is listener:
            while True:
                try:
                    conn, _ = listener.accept()
                except BlockingIOError:
                    break
                conn.setblocking(False)
                conn.send(b"220 ready\r\n")
                sel.register(conn, selectors.EVENT_READ)
        else:
            try:
                data = key.fileobj.recv(256)
            except OSError:
                data = b""
            if data.startswith(b"QUIT"):
                try:
                    key.fileobj.send(b"221 bye\r\n")
                except OSError:
                    pass
            if not data or data.startswith(b"QUIT"):
                sel.unregister(key.fileobj)
                key.fileobj.close()
'''


class NullServer:
    """The floor: a greeter in one thread, started like the harness's servers."""
    name = "null"

    def start(self):
        self.proc = subprocess.Popen([sys.executable, "-c", NULL_SERVER], stdout=subprocess.PIPE, text=True,
                                     start_new_session=True)  # its CPU is read by session, like the peers'
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=10)


def burst(port, clients, timeout=30.0):
    """(connect seconds, greeting seconds) of each client that got its 220, and the failures.
    The harness's own burst (bench.w6_round) with the moment connect() returned kept too,
    which that one does not hand out."""
    release = [0.0]
    start = threading.Barrier(clients + 1, timeout=60, action=lambda: release.__setitem__(0, time.perf_counter()))
    done = threading.Barrier(clients + 1, timeout=timeout + 30)
    times, failures = [None] * clients, []

    def client(i):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(timeout)
        try:
            start.wait()
            s.connect((bench.HOST, port))
            connected = time.perf_counter() - release[0]
            bench.read_greeting(s, time.monotonic() + timeout)
            times[i] = (connected, time.perf_counter() - release[0])
        except (OSError, RuntimeError, threading.BrokenBarrierError) as e:
            failures.append(repr(e)[:80])
        try:
            done.wait()
        except threading.BrokenBarrierError:
            pass
        try:
            if times[i] is not None:
                s.sendall(b"QUIT\r\n")
                s.recv(256)
        except OSError:
            pass
        s.close()

    threads = [threading.Thread(target=client, args=(i,), daemon=True) for i in range(clients)]
    for t in threads:
        t.start()
    start.wait()
    try:
        done.wait()
    except threading.BrokenBarrierError:
        pass
    for t in threads:
        t.join(timeout + 35)
    return [t for t in times if t is not None], failures


def make_server(given, tmp, sizes):
    if given == "null":
        return NullServer()
    return Contender(given, os.path.basename(given)).make_server(os.path.join(tmp, str(time.monotonic_ns())), sizes)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=8)
    ap.add_argument("--clients", type=int, default=200)
    ap.add_argument("--bursts", type=int, default=3, help="measured bursts per contender and round")
    ap.add_argument("contenders", nargs="+")
    args = ap.parse_args(argv)
    sizes = bench.Sizes(True)
    bench.become_subreaper()
    bench.prepare_data(sizes)
    tmp = tempfile.mkdtemp(prefix="burst.")
    try:
        rows = run_rounds(args, sizes, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    report(args.contenders, rows)
    return 0


def run_rounds(args, sizes, tmp):
    """{contender: figures over all measured bursts}, contenders in turns (ABBA)."""
    rows = {c: {"connect": [], "greet": [], "gap": [], "cpu": [], "failed": 0} for c in args.contenders}
    for round_no in range(args.rounds):
        order = args.contenders if round_no % 2 == 0 else args.contenders[::-1]
        for given in order:
            server = make_server(given, tmp, sizes)
            server.start()
            try:
                burst(server.port, args.clients)  # warm-up: threads, caches
                time.sleep(bench.SETTLE_S)
                before, _ = session_cpu_ticks(server.proc.pid)  # every server leads a session of its own
                row = rows[given]
                for _ in range(args.bursts):
                    times, failures = burst(server.port, args.clients)
                    row["failed"] += len(failures)
                    if times:
                        p99_connect = bench.percentile([c for c, _ in times], 99)
                        p99_greet = bench.percentile([g for _, g in times], 99)
                        row["connect"].append(p99_connect)
                        row["greet"].append(p99_greet)
                        row["gap"].append(p99_greet - p99_connect)
                        print("round %d %-20s connect p99 %.4f  greeting p99 %.4f  failed %d" % (
                            round_no + 1, given[-20:], p99_connect, p99_greet, len(failures)),
                            file=sys.stderr, flush=True)
                after, _ = session_cpu_ticks(server.proc.pid)
                row["cpu"].append((after - before) / ticks_per_second() * 1000 / args.bursts)
            finally:
                server.stop()
    return rows


def report(contenders, rows):
    def cell(xs, fmt="%.4f"):
        if not xs:
            return "-"
        return (fmt + " [" + fmt + "-" + fmt + "]") % (statistics.median(xs), min(xs), max(xs))

    print("%-24s %-28s %-28s %-28s %-20s %s" % ("contender", "connect() p99 s", "greeting p99 s",
                                                  "greeting - connect s", "server CPU ms/burst", "ungreeted"))
    for given in contenders:
        r = rows[given]
        print("%-24s %-28s %-28s %-28s %-20s %d" % (given[-24:], cell(r["connect"]), cell(r["greet"]),
                                                    cell(r["gap"]), cell(r["cpu"], "%.0f"), r["failed"]))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
