"""<xferlog> against the real server: fifty sessions transferring at once over FTP
and the web leave one well-formed xferlog line each, a broken-off download is
marked incomplete, a crafted name stays inside its field, and after a rotation
(by hand or by logrotate with contrib/logrotate/corvelftp) `corvelctl reload log`
makes the server write to the new file."""
import base64
import concurrent.futures
import ftplib
import io
import os
import re
import shutil
import socket
import struct
import subprocess
import threading
import unittest
import urllib.parse

from harness import (BUILD_DIR, LOOPBACK, Control, Server, connect_tcp, digest, passive_data, recv_all, user_element,
                     users_document, wait_until)

CTL = os.path.join(BUILD_DIR, "corvelctl")
REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
ALL_RIGHTS = 458783
LINE = re.compile(r"^(?:Mon|Tue|Wed|Thu|Fri|Sat|Sun) (?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ \d]\d "
                  r"\d\d:\d\d:\d\d \d{4} (\d+) (\S+) (\d+) (\S+) ([ab]) _ ([oi]) ([ar]) (\S+) (ftp|http|sftp) 0 \* ([ci])$")
CRAFTED = "evil name\n01 1 x 2 y b _ o r z ftp 0 * c.txt"


def parse_xferlog(data):
    """The records of an xferlog file as dicts; fails on any line that is not one."""
    records = []
    for line in data.decode("latin-1").split("\n")[:-1]:
        match = LINE.match(line)
        if not match:
            raise AssertionError("not an xferlog line: %r" % line)
        seconds, host, size, name, kind, direction, access, user, service, status = match.groups()
        unescape = lambda text: re.sub(r"\\x([0-9A-F]{2})", lambda m: chr(int(m.group(1), 16)), text)
        records.append(dict(seconds=int(seconds), host=host, bytes=int(size), name=unescape(name), type=kind,
                            direction=direction, access=access, user=unescape(user), service=service,
                            status=status))
    return records


def web_download(port, path, user="alice", password="pw"):
    token = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
    request = "GET /download.html?path=%s HTTP/1.1\r\nAuthorization: Basic %s\r\n\r\n" % (
        urllib.parse.quote(path, safe=""), token)
    with connect_tcp(port, timeout=30) as s:
        s.sendall(request.encode())
        return recv_all(s, 30)


class TransferLogTest(unittest.TestCase):
    def setUp(self):
        self.server = Server(maxconn=200, extra="<xferlog>xferlog</xferlog>", start=False)
        self.addCleanup(self.server.cleanup)
        self.home = self.server.path("alice")
        self.public = self.server.path("pub")
        os.makedirs(self.home)
        os.makedirs(self.public)
        with open(os.path.join(self.home, "small.bin"), "wb") as f:
            f.write(os.urandom(3000))
        with open(os.path.join(self.home, CRAFTED), "wb") as f:
            f.write(b"x" * 10)
        with open(os.path.join(self.public, "readme.txt"), "wb") as f:
            f.write(b"line\r\n" * 100)
        with open(os.path.join(self.home, "big.bin"), "wb") as f:
            f.truncate(1 << 30)  # sparse: far more than the socket buffers hold
        self.server.write("ftpusers.xml", users_document(
            user_element("alice", digest("pw"), self.home, privilege=ALL_RIGHTS),
            user_element("anonymous", "anonymous", self.public)))
        self.server.start()
        self.log = self.server.path("xferlog")

    def records(self, name="xferlog"):
        path = self.server.path(name)
        return parse_xferlog(self.server.read(name)) if os.path.exists(path) else []

    def ftp(self, user="alice", password="pw"):
        ftp = ftplib.FTP()
        ftp.connect(LOOPBACK, self.server.ftp_port, timeout=60)
        ftp.login(user, password)
        return ftp

    def upload_and_fetch(self, index):
        ftp = self.ftp()
        try:
            name = "up %02d.bin" % index
            body = os.urandom(1000 + index)
            ftp.storbinary("STOR " + name, io.BytesIO(body))
            back = io.BytesIO()
            ftp.retrbinary("RETR " + name, back.write)
            self.assertEqual(back.getvalue(), body)
            ftp.quit()
        finally:
            ftp.close()
        return [("i", name, len(body)), ("o", name, len(body))]

    def anonymous_ascii(self, index):
        ftp = self.ftp("anonymous", "guest@example.org")
        try:
            lines = []
            ftp.retrlines("RETR readme.txt", lines.append)
            self.assertEqual(len(lines), 100)
            ftp.quit()
        finally:
            ftp.close()
        return [("a", "readme.txt", 600)]

    def web(self, index):
        reply = web_download(self.server.web_port, "small.bin")
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"), reply[:60])
        return [("w", "small.bin", 3000)]

    def test_fifty_sessions_at_once_leave_one_well_formed_line_per_transfer(self):
        start = threading.Barrier(50, timeout=30)

        def session(index):
            start.wait()
            kind = index % 5
            if kind == 0:
                return self.web(index)
            if kind == 1:
                return self.anonymous_ascii(index)
            return self.upload_and_fetch(index)

        with concurrent.futures.ThreadPoolExecutor(max_workers=50) as pool:
            expected = [t for done in pool.map(session, range(50), timeout=120) for t in done]
        self.assertEqual(len(expected), 10 + 10 + 60)

        # A download the client breaks off, and a crafted name on the web.
        with Control(self.server.ftp_port, timeout=30) as control:
            control.reply()
            self.assertTrue(control.login("alice", "pw").startswith(b"230"))
            data = passive_data(control)
            self.assertTrue(control.command("RETR big.bin").startswith(b"150"))
            received = 0
            while received < 1 << 20:
                received += len(data.recv(65536))
            data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            data.close()
            self.assertTrue(control.reply(timeout=30).startswith(b"426"))
        reply = web_download(self.server.web_port, CRAFTED)
        self.assertTrue(reply.endswith(b"x" * 10), reply[:80])

        self.assertTrue(wait_until(lambda: len(self.records()) >= len(expected) + 2, timeout=15))
        records = self.records()
        self.assertEqual(len(records), len(expected) + 2)
        self.assertEqual(self.server.read("xferlog").count(b"\n"), len(records))
        for record in records:
            self.assertEqual(record["host"], LOOPBACK)
            self.assertGreaterEqual(record["seconds"], 1)

        def only(**fields):
            return [r for r in records if all(r[k] == v for k, v in fields.items())]

        ftp_up = only(service="ftp", direction="i")
        self.assertEqual(sorted((r["name"], r["bytes"]) for r in ftp_up),
                         sorted((os.path.join(self.home, n), size) for d, n, size in expected if d == "i"))
        self.assertTrue(all(r["type"] == "b" and r["access"] == "r" and r["user"] == "alice" and r["status"] == "c"
                            for r in ftp_up))
        ftp_down = only(service="ftp", direction="o", access="r", status="c")
        self.assertEqual(sorted((r["name"], r["bytes"]) for r in ftp_down),
                         sorted((os.path.join(self.home, n), size) for d, n, size in expected if d == "o"))
        anonymous = only(access="a")
        self.assertEqual(len(anonymous), 10)
        self.assertTrue(all(r["type"] == "a" and r["user"] == "anonymous" and r["service"] == "ftp" and
                            r["name"] == os.path.join(self.public, "readme.txt") and r["bytes"] == 600
                            for r in anonymous))
        web = only(service="http", name=os.path.join(self.home, "small.bin"))
        self.assertEqual(len(web), 10)
        self.assertTrue(all(r["bytes"] == 3000 and r["direction"] == "o" and r["status"] == "c" for r in web))

        aborted = only(status="i")
        self.assertEqual(len(aborted), 1)
        self.assertEqual(aborted[0]["name"], os.path.join(self.home, "big.bin"))
        self.assertGreaterEqual(aborted[0]["bytes"], 1 << 20)
        self.assertLess(aborted[0]["bytes"], 1 << 30)
        crafted = only(service="http", name=os.path.join(self.home, CRAFTED))
        self.assertEqual(len(crafted), 1)
        self.assertEqual(crafted[0]["bytes"], 10)

    def test_reload_log_follows_a_rotation_by_hand_and_by_logrotate(self):
        def transfer():
            self.assertTrue(web_download(self.server.web_port, "small.bin").startswith(b"HTTP/1.1 200 OK"))

        transfer()
        self.assertTrue(wait_until(lambda: len(self.records()) == 1))
        os.rename(self.log, self.log + ".1")
        transfer()  # still into the moved file
        self.assertTrue(wait_until(lambda: len(self.records("xferlog.1")) == 2))
        done = subprocess.run([CTL, "--dir", self.server.dir, "reload", "log"], env=self.server.env(),
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("opens its transfer log", done.stdout)
        self.assertTrue(wait_until(lambda: os.path.exists(self.log), timeout=10))
        self.assertEqual(os.stat(self.log).st_mode & 0o007, 0)
        transfer()
        self.assertTrue(wait_until(lambda: len(self.records()) == 1))
        self.assertEqual(len(self.records("xferlog.1")), 2)

        if not shutil.which("logrotate"):
            self.skipTest("logrotate is not installed (scripts/install-deps.sh test installs it)")
        with open(os.path.join(REPO, "contrib", "logrotate", "corvelftp")) as f:
            config = f.read()
        self.assertIn("/var/log/corvelftp/xferlog {", config)
        self.assertIn("/opt/corvelftp/corvelctl reload log", config)
        config = config.replace("/var/log/corvelftp/xferlog", self.log).replace(
            "/opt/corvelftp/corvelctl", "%s --dir %s" % (CTL, self.server.dir))
        self.server.write("logrotate.conf", config)
        os.chmod(self.server.path("logrotate.conf"), 0o644)
        rotated = subprocess.run(["logrotate", "-f", "-s", self.server.path("logrotate.state"),
                                  self.server.path("logrotate.conf")],
                                 env=self.server.env(), capture_output=True, text=True, timeout=60)
        self.assertEqual(rotated.returncode, 0, rotated.stderr)
        self.assertTrue(os.path.exists(self.log + ".1"))
        self.assertTrue(wait_until(lambda: os.path.exists(self.log), timeout=10))
        transfer()
        self.assertTrue(wait_until(lambda: len(self.records()) == 1))
        self.assertEqual(len(self.records("xferlog.1")), 1)


class WithoutTheElement(unittest.TestCase):
    def test_no_log_file_is_written_and_reload_log_is_harmless(self):
        server = Server()
        self.addCleanup(server.cleanup)
        server.write(os.path.join("anonymous", "a.txt"), "abc")
        before = sorted(os.listdir(server.dir))
        ftp = ftplib.FTP()
        ftp.connect(LOOPBACK, server.ftp_port, timeout=30)
        self.addCleanup(ftp.close)
        ftp.login("anonymous", "x")
        got = io.BytesIO()
        ftp.retrbinary("RETR a.txt", got.write)
        self.assertEqual(got.getvalue(), b"abc")
        done = subprocess.run([CTL, "--dir", server.dir, "reload", "log"], env=server.env(), capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        ftp.quit()
        self.assertEqual(sorted(os.listdir(server.dir)), before)

if __name__ == "__main__":
    unittest.main()
