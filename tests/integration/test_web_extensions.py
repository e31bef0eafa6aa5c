"""The opt-in web extensions against the real server: curl resuming, curl -I and
curl -r with <webext>yes; a refused address (a client bound on 127.0.0.2) and the
rights with <webpolicy>yes; and the designed answers while neither is there."""
import hashlib
import os
import random
import socket
import subprocess
import time
import unittest

from harness import LOOPBACK, Server, digest, free_port, settings_document, user_element, users_document
from test_web import DOWNLOAD_START, NOT_FOUND, UNAUTHORIZED, basic, exchange, frame_start, read_until_closed

BIG_SIZE = 5 * 1000 * 1000
ACCOUNTS = (("alice", 0x20002), ("lister", 0x20000), ("reader", 0x2))  # List+Read, List, Read File
REJECT_SECOND_LOOPBACK = '<access><iptable type="REJECT"><ip value="127.0.0.2" /></iptable></access>'
SMALL = b"0123456789"


def start_server(elements):
    """A server with elements in ftpconfig.xml, 127.0.0.2 refused in ftpaccess.xml,
    and the accounts of ACCOUNTS sharing a home with big.data and small.txt."""
    ftp_port, web_port = free_port(), free_port()
    settings = settings_document(ftpport=ftp_port, httpport=web_port).replace("</config>", elements + "</config>")
    server = Server(settings=settings, files={"ftpaccess.xml": REJECT_SECOND_LOOPBACK}, ftpport=ftp_port,
                    httpport=web_port, start=False)
    home = server.path("homes", "shared")
    os.makedirs(home)
    big = random.Random(7).randbytes(BIG_SIZE)
    for name, data in (("big.data", big), ("small.txt", SMALL)):
        with open(os.path.join(home, name), "wb") as f:
            f.write(data)
    server.write("ftpusers.xml", users_document(*(user_element(n, digest("pw"), home, privilege=p) for n, p in ACCOUNTS)))
    server.start()
    return server, big


def download_header(name, size, status=b"200 OK", fields=b"", one_line=False):
    """The designed header folds Content-Type over two lines; <webext> writes it on one."""
    content_type = b"text/plain" if name.endswith(b".txt") else b"application/*"
    name_field = b'; name="' + name + b'"' if one_line else b";\r\n name=" + name
    return (b"HTTP/1.1 " + status + DOWNLOAD_START[len(b"HTTP/1.1 200 OK"):] + content_type + name_field +
            b'\r\nContent-Disposition: attachment; filename="' + name + b'"\r\nContent-Length: ' +
            str(size).encode() + b"\r\n" + fields + b"\r\n")


def curl(*args):
    """Runs curl as alice; returns (exit status, standard output)."""
    result = subprocess.run(["curl", "-sS", "-u", "alice:pw", *args], capture_output=True, timeout=60)
    return result.returncode, result.stdout


def get_from(source, port, target, user="alice"):
    """A GET from a client socket bound to source: what arrived until the server
    closed, and how long that took."""
    started = time.monotonic()
    with socket.socket() as s:
        s.bind((source, 0))
        s.settimeout(10)
        s.connect((LOOPBACK, port))
        try:
            s.sendall(("GET /%s HTTP/1.1\r\n%s\r\n" % (target, basic(user, "pw"))).encode())
        except (BrokenPipeError, ConnectionResetError):
            return b"", time.monotonic() - started
        return read_until_closed(s), time.monotonic() - started


class RangesAndHead(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.big = start_server("<webext>yes</webext>")
        cls.url = "http://%s:%d/download.html?path=big.data" % (LOOPBACK, cls.server.web_port)
        cls.whole_header = download_header(b"big.data", BIG_SIZE, fields=b"Accept-Ranges: bytes\r\n", one_line=True)

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_curl_resumes_an_interrupted_download(self):
        # A client that stops reading half-way keeps the start of the file.
        with socket.create_connection((LOOPBACK, self.server.web_port), timeout=10) as s:
            s.sendall(("GET /download.html?path=big.data HTTP/1.1\r\n%s\r\n" % basic("alice", "pw")).encode())
            received = b""
            while len(received) < BIG_SIZE // 2:
                chunk = s.recv(1 << 16)
                self.assertTrue(chunk, "closed before half the file came")
                received += chunk
        self.assertTrue(received.startswith(self.whole_header))
        kept = received[len(self.whole_header):]
        partial = self.server.path("resumed.data")
        with open(partial, "wb") as f:
            f.write(kept)
        self.assertEqual(curl("-C", "-", "-o", partial, "-w", "%{http_code}", self.url), (0, b"206"))
        with open(partial, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(self.big).digest())
        # Resuming the complete file gets 416, which curl takes as "nothing left".
        self.assertEqual(curl("-C", "-", "-o", partial, "-w", "%{http_code}", self.url), (0, b"416"))
        self.assertEqual(os.path.getsize(partial), BIG_SIZE)

    def test_curl_range_and_head(self):
        part = self.server.path("part.data")
        self.assertEqual(curl("-r", "100-199", "-D", "-", "-o", part, self.url), (0, download_header(
            b"big.data", 100, b"206 Partial Content",
            b"Accept-Ranges: bytes\r\nContent-Range: bytes 100-199/%d\r\n" % BIG_SIZE, one_line=True)))
        with open(part, "rb") as f:
            self.assertEqual(f.read(), self.big[100:200])
        self.assertEqual(curl("-I", self.url), (0, self.whole_header))


class PolicyAndRights(unittest.TestCase):
    def test_refused_address_gets_no_answer_and_rights_gate_the_routes(self):
        server, _ = start_server("<webpolicy>yes</webpolicy>")
        try:
            port = server.web_port
            for attempt in range(3):
                reply, took = get_from("127.0.0.2", port, "download.html?path=small.txt")
                self.assertEqual(reply, b"", attempt)
                self.assertLess(took, 5, attempt)  # at once, not after a deadline
                self.assertEqual(get_from("127.0.0.1", port, "download.html?path=small.txt")[0],
                                 download_header(b"small.txt", 10) + SMALL, attempt)
            self.assertEqual(get_from(LOOPBACK, port, "list.html", "reader")[0], UNAUTHORIZED)
            self.assertEqual(get_from(LOOPBACK, port, "download.html?path=small.txt", "lister")[0], UNAUTHORIZED)
            self.assertTrue(get_from(LOOPBACK, port, "list.html", "lister")[0].startswith(frame_start("lister")))
        finally:
            server.cleanup()


def declaring(page, charset):
    """The designed page with the character set declared in its header and its head."""
    return (page.replace(b"Content-Type: text/html\r\n", b"Content-Type: text/html; charset=" + charset + b"\r\n", 1)
            .replace(b"<head>", b'<head><meta charset="' + charset + b'">', 1))


class PageCharset(unittest.TestCase):
    def test_every_page_declares_the_charset_and_icons_have_one_line_headers(self):
        server, _ = start_server("<webext>yes</webext><webcharset>utf-8</webcharset>")
        self.addCleanup(server.cleanup)
        port = server.web_port
        listing = get_from(LOOPBACK, port, "list.html")[0]
        self.assertTrue(listing.startswith(declaring(frame_start("alice"), b"utf-8")), listing[:400])
        self.assertEqual(listing.count(b"charset"), 2)
        self.assertTrue(get_from(LOOPBACK, port, "config.html")[0].startswith(declaring(frame_start("alice"), b"utf-8")))
        self.assertEqual(get_from(LOOPBACK, port, "nothing.html")[0], declaring(NOT_FOUND, b"utf-8"))
        self.assertEqual(exchange(port, "GET /list.html HTTP/1.1\r\n%s\r\n" % basic("alice", "wrong")),
                         declaring(UNAUTHORIZED, b"utf-8"))
        icon = get_from(LOOPBACK, port, "cdup.gif")[0]
        self.assertIn(b'\r\nContent-Type: image/gif; name="cdup.gif"\r\n', icon)
        self.assertEqual(curl("-sI", "http://%s:%d/download.html?path=small.txt" % (LOOPBACK, port))[1],
                         download_header(b"small.txt", 10, fields=b"Accept-Ranges: bytes\r\n", one_line=True))

    def test_a_charset_the_server_cannot_declare_stops_the_start(self):
        server = Server(settings=settings_document().replace("</config>", "<webcharset>utf 8</webcharset></config>"),
                        start=False)
        self.addCleanup(server.cleanup)
        run = subprocess.run([server.binary, "-d"], env=server.env(), cwd=server.dir, capture_output=True, timeout=30)
        self.assertIn("<webcharset>utf 8</webcharset> is not a character set name such as utf-8", run.stderr.decode())


class DesignedWithoutTheElements(unittest.TestCase):
    def test_ranges_head_policy_and_rights_stay_as_designed(self):
        server, big = start_server("")
        try:
            port = server.web_port
            out = server.path("whole.data")
            url = "http://%s:%d/download.html?path=big.data" % (LOOPBACK, port)
            self.assertEqual(curl("-r", "100-199", "-o", out, "-w", "%{http_code}", url), (0, b"200"))
            with open(out, "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(big).digest())
            # The refused address and an account without List are served all the same.
            self.assertEqual(get_from("127.0.0.2", port, "download.html?path=small.txt", "lister")[0],
                             download_header(b"small.txt", 10) + SMALL)
            self.assertTrue(get_from(LOOPBACK, port, "list.html", "reader")[0].startswith(frame_start("reader")))
            # HEAD is no method: path and query stay empty, which is the listing.
            head = exchange(port, "HEAD /download.html?path=small.txt HTTP/1.1\r\n%s\r\n" % basic("alice", "pw"))
            self.assertEqual(head, get_from(LOOPBACK, port, "")[0])
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
