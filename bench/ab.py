#!/usr/bin/python3
"""Two contenders side by side, in turns: the shared harness's workloads, then a download
of the big file with each of curl, wget, lftp and Python over FTP and over HTTP (and,
with W2, an upload with curl, lftp and Python), each with the server's CPU per GiB.

A contender is a corveld binary (a path) or a peer of the shared harness by name
(vsftpd, pureftpd, pyftpdlib, proftpd, nginx). Started by bench/ab.sh, which says the usage.
"""
import argparse
import ftplib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
HARNESS = os.environ.get("BENCH_HARNESS") or os.path.join(os.path.dirname(REPO), "shared", "bench")
sys.path.insert(0, HARNESS)
import bench  # noqa: E402  (the shared harness: servers, data, sizes)

from ab_stats import (Figure, bytes_from_curl, bytes_from_lftp, bytes_from_python,  # noqa: E402
                      bytes_from_wget, load_average, render, session_cpu_ticks, ticks_per_second)

# At least this many rounds: fewer cannot tell a change from the machine's noise.
MIN_ROUNDS = 4
# One harness pass of every workload takes about a minute per server; this bounds a stuck one.
HARNESS_TIMEOUT_S = 1200
# How long a server's processes may take to end after a client is done (forking peers).
SESSION_END_WAIT_S = 3.0
GiB = 1 << 30

# (workload, metric, unit, higher is better, label)
HARNESS_FIGURES = [
    ("W1", "retr_MBps", "MB/s", True, "W1 RETR 1 GiB (curl)"),
    ("W2", "stor_MBps", "MB/s", True, "W2 STOR 1 GiB (curl -T)"),
    ("W3", "sessions_per_s", "sess/s", True, "W3 sequential sessions"),
    ("W4", "aggregate_MBps", "MB/s", True, "W4 64 clients, aggregate"),
    ("W5", "list_wall_s", "s", False, "W5 LIST 10k entries"),
    ("W6", "greet_p99_s", "s", False, "W6 200-client burst, p99"),
    ("W6", "failed_clients", "count", False, "W6 clients ungreeted"),
    ("W7", "http_MBps", "MB/s", True, "W7 web download 1 GiB (curl)"),
]

# The server's CPU for the connection workloads, measured apart from the harness's
# own pass (which starts and stops its servers): (workload, key, unit, label).
CPU_FIGURES = [
    ("W3", "W3 CPU", "CPU ms/100 sess", "W3 sequential sessions"),
    ("W6", "W6 CPU", "CPU ms/burst", "W6 200-client burst"),
]
CPU_FOLLOWS = ("sessions_per_s", "greet_p99_s")  # each shown under its workload's speed
CPU_W3_SESSIONS = 900  # enough for the 10 ms clock tick to cost under a tenth
CPU_W6_BURSTS = 10

# (client, protocol, direction)
DOWNLOADS = [(c, p, "download") for p in ("ftp", "http") for c in ("curl", "wget", "lftp", "python")]
UPLOADS = [(c, "ftp", "upload") for c in ("curl", "lftp", "python")]
UPLOAD_NAME = "upload_ab.bin"  # the harness cleans every upload_* away

PYTHON_CLIENT = r'''
import base64, ftplib, http.client, os, sys
mode, host, port, user, password, target, source = sys.argv[1:8]
moved = 0
if mode == "ftp-download":
    # retrbinary as a script would call it: its default 8 KiB reads.
    ftp = ftplib.FTP()
    ftp.connect(host, int(port), timeout=60)
    ftp.login(user, password)
    def count(block):
        global moved
        moved += len(block)
    ftp.retrbinary("RETR " + target, count)
    ftp.quit()
elif mode == "ftp-upload":
    ftp = ftplib.FTP()
    ftp.connect(host, int(port), timeout=60)
    ftp.login(user, password)
    with open(source, "rb") as f:
        ftp.storbinary("STOR " + target, f)
    ftp.quit()
    moved = os.path.getsize(source)
else:
    conn = http.client.HTTPConnection(host, int(port), timeout=60)
    headers = {}
    if user:
        headers["Authorization"] = "Basic " + base64.b64encode((user + ":" + password).encode()).decode()
    conn.request("GET", target, headers=headers)
    reply = conn.getresponse()
    if reply.status != 200:
        sys.exit("HTTP %d" % reply.status)
    buffer = bytearray(64 << 10)  # shutil.copyfileobj's size on Linux
    while True:
        n = reply.readinto(buffer)
        if not n:
            break
        moved += n
print("bytes %d" % moved)
'''


def log(text):
    print("[%s] %s" % (time.strftime("%H:%M:%S"), text), file=sys.stderr, flush=True)


class Contender:
    def __init__(self, given, tag):
        self.given = given
        self.tag = tag
        if os.path.isfile(given) and os.access(given, os.X_OK):
            self.server = "corveld"
            self.binary = os.path.abspath(given)
        elif given in bench.SERVER_CLASSES:
            self.server = given
            self.binary = None
        else:
            raise SystemExit("ab: %r is neither an executable corveld nor a peer (%s)"
                             % (given, " ".join(bench.ALL_SERVERS)))

    def make_server(self, tmp, sizes):
        if self.binary:
            bench.CORVELD_BIN = self.binary  # read by the harness's corveld class at start
        return bench.SERVER_CLASSES[self.server](tmp, sizes)


# ---- the harness's workloads

def run_harness(contender, workloads, outdir, quick, round_no):
    env = dict(os.environ)
    if contender.binary:
        env["CORVELD_BIN"] = contender.binary
    out = os.path.join(outdir, "harness-%d-%s.md" % (round_no, contender.tag))
    cmd = [os.path.join(HARNESS, "run.sh"), "--servers", contender.server, "--workloads", " ".join(workloads),
           "--out", out] + (["--quick"] if quick else [])
    with open(os.path.join(outdir, "harness-%d-%s.log" % (round_no, contender.tag)), "w") as progress:
        r = subprocess.run(cmd, cwd=REPO, env=env, stdout=subprocess.PIPE, stderr=progress, text=True,
                           timeout=HARNESS_TIMEOUT_S)
    values, errors = {}, []
    for line in r.stdout.splitlines():
        parts = line.split(",")
        if len(parts) != 5 or parts[0] != contender.server:
            continue
        _, workload, metric, value, _ = parts
        if metric in ("error", "status"):
            errors.append("%s %s: %s" % (workload, metric, value))
            continue
        try:
            values[(workload, metric)] = float(value)
        except ValueError:
            pass
    if r.returncode != 0:
        errors.append("harness exited with %d" % r.returncode)
    return values, errors


# ---- the stock clients

def client_command(client, protocol, direction, srv, name, source):
    """argv, and how to read the bytes moved from (stdout, stderr)."""
    user, password = bench.USER, bench.PASSWORD
    if protocol == "ftp":
        url = bench.ftp_url(srv.port, name)
        site = "ftp://%s:%d" % (bench.HOST, srv.port)
    else:
        url = srv.http_url(name)
        if not srv.curl_auth():
            user = password = ""
    limit = str(60 + (1 << 30) // (10 << 20))  # seconds; bounded as the harness bounds a transfer
    if client == "curl":
        if direction == "upload":
            return (["curl", "-sS", "--max-time", limit, "-T", source, "-w", "%{size_upload}", url],
                    lambda o, e: bytes_from_curl(o))
        return (["curl", "-sS", "-f", "--max-time", limit, "-o", "/dev/null", "-w", "%{size_download}"]
                + (srv.curl_auth() if protocol == "http" else []) + [url], lambda o, e: bytes_from_curl(o))
    if client == "wget":
        auth = ["--user", user, "--password", password, "--auth-no-challenge"] if protocol == "http" and user else []
        return (["wget", "-nv", "--timeout", "60", "--tries", "1", "-O", "/dev/null"] + auth + [url],
                lambda o, e: bytes_from_wget(e))
    if client == "lftp":
        script = "set cmd:verbose yes; set xfer:clobber on; set net:max-retries 1; set net:timeout 60; "
        if protocol == "ftp":
            script += "open -u %s,%s %s; " % (user, password, site)
            script += ("put %s -o %s" % (source, name)) if direction == "upload" else ("get %s -o /dev/null" % name)
        else:
            if user:
                script += "set http:authorization %s:%s; " % (user, password)
            script += 'get "%s" -o /dev/null' % url
        return ["lftp", "-c", script], lambda o, e: bytes_from_lftp(o)
    mode = "%s-%s" % (protocol, direction)
    target = name
    port = srv.port
    if protocol == "http":
        port = srv.hport
        target = url.split("/", 3)[3]
        target = "/" + target
    return ([bench.SYS_PY, "-c", PYTHON_CLIENT, mode, bench.HOST, str(port), user, password, target, source or "-"],
            lambda o, e: bytes_from_python(o))


def wait_for_session_processes(sid, baseline):
    deadline = time.monotonic() + SESSION_END_WAIT_S
    while time.monotonic() < deadline:
        if session_cpu_ticks(sid)[1] <= baseline:
            return
        time.sleep(0.02)


def client_run(srv, case, sizes):
    """One transfer of the big file: (MB/s over the client's whole run, server CPU s per GiB)."""
    client, protocol, direction = case
    source = os.path.join(bench.BHOME, sizes.big_name) if direction == "upload" else None
    name = UPLOAD_NAME if direction == "upload" else sizes.big_name
    argv, moved_of = client_command(client, protocol, direction, srv, name, source)
    if direction == "upload":
        os.sync()  # as the harness's W2: no dirty data of an earlier run is written back meanwhile
    time.sleep(bench.SETTLE_S)
    sid = srv.proc.pid
    ticks0, live0 = session_cpu_ticks(sid)
    t0 = time.perf_counter()
    r = subprocess.run(argv, capture_output=True, text=True, timeout=sizes.xfer_timeout(sizes.big) + 30,
                       cwd=tempfile.gettempdir())
    elapsed = time.perf_counter() - t0
    wait_for_session_processes(sid, live0)
    ticks1, _ = session_cpu_ticks(sid)
    moved = moved_of(r.stdout, r.stderr) if r.returncode == 0 else None
    if direction == "upload":
        path = os.path.join(bench.BHOME, UPLOAD_NAME)
        stored = os.path.getsize(path) if os.path.exists(path) else -1
        bench.clean_uploads()
        if stored != sizes.big:
            moved = None
    if moved != sizes.big:
        raise RuntimeError("%s %s %s: rc=%d, moved %s of %d bytes: %s" % (
            client, protocol, direction, r.returncode, moved, sizes.big, (r.stderr or r.stdout).strip()[-200:]))
    cpu_seconds = (ticks1 - ticks0) / ticks_per_second()
    return moved / elapsed / 1e6, cpu_seconds / (moved / GiB)


def run_clients(contender, cases, sizes, runs, tmp):
    """{case: (median MB/s, median CPU s/GiB)} over runs transfers, and errors."""
    srv = contender.make_server(os.path.join(tmp, contender.tag), sizes)
    wanted = [c for c in cases if (c[1] == "ftp" and srv.ftp) or (c[1] == "http" and srv.http)]
    results, errors = {}, []
    if not wanted:
        return results, errors
    srv.start()
    try:
        for case in wanted:
            speeds, cpus = [], []
            try:
                for _ in range(runs):
                    speed, cpu = client_run(srv, case, sizes)
                    speeds.append(speed)
                    cpus.append(cpu)
            except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
                errors.append(str(e)[:300])
                continue
            results[case] = (bench.median(speeds), bench.median(cpus))
    finally:
        srv.stop()
    return results, errors


def run_connection_cpu(contender, workloads, sizes, tmp):
    """{key: server CPU ms} for the W3 and W6 of CPU_FIGURES, after a warm-up each, and errors."""
    wanted = [f for f in CPU_FIGURES if f[0] in workloads]
    results, errors = {}, []
    if not wanted:
        return results, errors
    srv = contender.make_server(os.path.join(tmp, contender.tag + "-cpu"), sizes)
    if not srv.ftp:
        return results, errors
    srv.start()
    sid = srv.proc.pid
    try:
        for workload, key, _, _ in wanted:
            try:
                if workload == "W3":
                    once, count, per = (lambda: bench.one_session(srv.port, sizes.big_name)), CPU_W3_SESSIONS, 100
                else:
                    once, count, per = (lambda: bench.w6_round(srv, sizes)), CPU_W6_BURSTS, 1
                once()
                time.sleep(bench.SETTLE_S)
                ticks0, _ = session_cpu_ticks(sid)
                for _ in range(count):
                    once()
                ticks1, _ = session_cpu_ticks(sid)
                results[key] = (ticks1 - ticks0) / ticks_per_second() * 1000 / count * per
            except (RuntimeError, OSError, EOFError, ftplib.all_errors) as e:
                errors.append("%s CPU: %s" % (workload, str(e)[:300]))
    finally:
        srv.stop()
    return results, errors


# ---- the rounds

def figure_key_label(case):
    client, protocol, direction = case
    return "%s %s %s" % (protocol.upper(), direction, client)


def parse_args(argv):
    ap = argparse.ArgumentParser(prog="bench/ab.sh")
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("workloads", nargs="?", default="W1 W2 W3 W4 W5 W6 W7")
    a = ap.parse_args(argv)
    a.workloads = [w.upper() for w in a.workloads.replace(",", " ").split()]
    for w in a.workloads:
        if w not in bench.FTP_WORKLOADS + bench.HTTP_WORKLOADS:
            ap.error("unknown workload %r (W1 to W7)" % w)
    a.rounds = int(os.environ.get("ROUNDS", str(MIN_ROUNDS)))
    if a.rounds < MIN_ROUNDS:
        ap.error("ROUNDS must be at least %d" % MIN_ROUNDS)
    a.runs = max(1, int(os.environ.get("RUNS", "3")))
    a.quick = os.environ.get("QUICK", "") not in ("", "0")
    a.clients = os.environ.get("CLIENTS", "curl wget lftp python").split()
    return a


def main(argv):
    args = parse_args(argv)
    contenders = [Contender(args.old, "old"), Contender(args.new, "new")]
    sizes = bench.Sizes(args.quick)
    cases = [c for c in DOWNLOADS if c[0] in args.clients]
    if "W2" in args.workloads:
        cases += [c for c in UPLOADS if c[0] in args.clients]
    bench.become_subreaper()
    bench.prepare_data(sizes)
    tmp = tempfile.mkdtemp(prefix="ab.")
    figures = {c.tag: {} for c in contenders}

    def figure(tag, key, label, unit, higher):
        return figures[tag].setdefault(key, Figure(label, unit, higher))

    errors, loads = [], []
    started = time.monotonic()
    try:
        for round_no in range(args.rounds):
            order = contenders if round_no % 2 == 0 else contenders[::-1]
            for c in order:
                loads.append("round %d %s: %s" % (round_no + 1, c.tag, load_average()))
                log("round %d/%d: %s (%s), load %s" % (round_no + 1, args.rounds, c.tag, c.given, load_average()))
                values, errs = run_harness(c, args.workloads, tmp, args.quick, round_no)
                errors += ["round %d %s: %s" % (round_no + 1, c.tag, e) for e in errs]
                for workload, metric, unit, higher, label in HARNESS_FIGURES:
                    if workload in args.workloads and (workload, metric) in values:
                        figure(c.tag, (workload, metric), label, unit, higher).add(values[(workload, metric)])
                cpu, errs = run_connection_cpu(c, args.workloads, sizes, tmp)
                errors += ["round %d %s: %s" % (round_no + 1, c.tag, e) for e in errs]
                for workload, key, unit, label in CPU_FIGURES:
                    if key in cpu:
                        figure(c.tag, key, label, unit, False).add(cpu[key])
                results, errs = run_clients(c, cases, sizes, args.runs, tmp)
                errors += ["round %d %s: %s" % (round_no + 1, c.tag, e) for e in errs]
                for case, (speed, cpu) in results.items():
                    label = figure_key_label(case)
                    figure(c.tag, case + ("MB/s",), label, "MB/s", True).add(speed)
                    figure(c.tag, case + ("CPU",), label, "CPU s/GiB", False).add(cpu)
    except KeyboardInterrupt:
        errors.append("interrupted")
    finally:
        bench.stop_all_servers()
        bench.clean_uploads()
        shutil.rmtree(tmp, ignore_errors=True)

    keys = []
    for workload, metric, *_ in HARNESS_FIGURES:
        keys.append((workload, metric))
        keys += [key for w, key, *_ in CPU_FIGURES if w == workload and metric in CPU_FOLLOWS]
    for case in cases:
        keys += [case + ("MB/s",), case + ("CPU",)]
    rows = []
    for key in keys:
        old, new = figures["old"].get(key), figures["new"].get(key)
        if old is None and new is None:
            continue
        template = old or new
        rows.append((old or Figure(template.label, template.unit, template.higher_is_better),
                     new or Figure(template.label, template.unit, template.higher_is_better)))
    print("old: %s" % args.old)
    print("new: %s" % args.new)
    print("%d rounds in turns (ABBA), %s sizes; per round: the harness's median for W*, the median of %d "
          "runs for each client; shown: median [min-max] over rounds; a verdict only where the ranges do "
          "not overlap; client MB/s over the client's whole run; CPU: the server's processes, s per GiB"
          % (args.rounds, "quick" if args.quick else "full", args.runs))
    print("load (1/5/15 min) before each turn: " + "; ".join(loads))
    print("wall time %.0f s" % (time.monotonic() - started))
    print()
    print(render(rows, "old", "new"))
    for e in errors:
        print("error: " + e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
