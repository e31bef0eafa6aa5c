"""The opt-in web extensions against the real server: byte ranges and HEAD with
<webext>yes (curl resuming, curl -I, curl -r), the access policy and the rights with
<webpolicy>yes (a refused address bound on 127.0.0.2), and the designed answers
while neither element is there."""
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
# alice: List and Read File; the others one of them.
ACCOUNTS = (("alice", 0x20002), ("lister", 0x20000), ("reader", 0x2))
REJECT_SECOND_LOOPBACK = '<access><iptable type="REJECT"><ip value="127.0.0.2" /></iptable></access>'


def start_server(elements, access=None):
    """A server whose ftpconfig.xml holds elements, with the accounts of ACCOUNTS
    sharing one home that holds big.data (BIG_SIZE bytes) and small.txt."""
    ftp_port, web_port = free_port(), free_port()
    settings = settings_document(ftpport=ftp_port, httpport=web_port).replace("</config>", elements + "</config>")
    files = {"ftpaccess.xml": access} if access else {}
    server = Server(settings=settings, files=files, ftpport=ftp_port, httpport=web_port, start=False)
    home = server.path("homes", "shared")
    os.makedirs(home)
    big = random.Random(7).randbytes(BIG_SIZE)
    with open(os.path.join(home, "big.data"), "wb") as f:
        f.write(big)
    with open(os.path.join(home, "small.txt"), "wb") as f:
        f.write(b"0123456789")
    server.write("ftpusers.xml", users_document(
        *(user_element(name, digest("pw"), home, privilege=privilege) for name, privilege in ACCOUNTS)))
    server.start()
    return server, home, big


def download_header(name, size, status=b"200 OK", fields=b""):
    content_type = b"text/plain" if name.endswith(b".txt") else b"application/*"
    return (b"HTTP/1.1 " + status + b"\r\n" + DOWNLOAD_START[len(b"HTTP/1.1 200 OK\r\n"):] + content_type +
            b";\r\n name=" + name + b'\r\nContent-Disposition: attachment; filename="' + name +
            b'"\r\nContent-Length: ' + str(size).encode() + b"\r\n" + fields + b"\r\n")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def curl(*args, timeout=60):
    """Runs curl quietly; returns (exit status, standard output)."""
    result = subprocess.run(["curl", "-sS", *args], capture_output=True, timeout=timeout)
    return result.returncode, result.stdout


def exchange_from(source, port, raw, timeout=10):
    """Sends raw from a client socket bound to source; returns what arrived until
    the server closed, and how long that took."""
    started = time.monotonic()
    with socket.socket() as s:
        s.bind((source, 0))
        s.settimeout(timeout)
        s.connect((LOOPBACK, port))
        try:
            s.sendall(raw.encode("latin-1"))
        except (BrokenPipeError, ConnectionResetError):
            return b"", time.monotonic() - started
        return read_until_closed(s, timeout), time.monotonic() - started


class RangesAndHead(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home, cls.big = start_server("<webext>yes</webext>")
        cls.port = cls.server.web_port
        cls.url = "http://%s:%d/download.html?path=big.data" % (LOOPBACK, cls.port)
        cls.scratch = cls.server.path("client")
        os.makedirs(cls.scratch)

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def get(self, target, extra="", method="GET", user="alice"):
        return exchange(self.port, "%s /%s HTTP/1.1\r\nHost: x\r\n%s%s\r\n" % (method, target, basic(user, "pw"), extra))

    def test_curl_resumes_an_interrupted_download(self):
        # A client that stops reading half-way: what it kept is the start of the file.
        kept = bytearray()
        with socket.create_connection((LOOPBACK, self.port), timeout=10) as s:
            s.sendall(("GET /download.html?path=big.data HTTP/1.1\r\n%s\r\n" % basic("alice", "pw")).encode())
            received = bytearray()
            while len(received) < BIG_SIZE // 2:
                chunk = s.recv(1 << 16)
                self.assertTrue(chunk, "closed before half the file came")
                received += chunk
            header_end = received.index(b"\r\n\r\n") + 4
            self.assertEqual(bytes(received[:header_end]),
                             download_header(b"big.data", BIG_SIZE, fields=b"Accept-Ranges: bytes\r\n"))
            kept = received[header_end:]
        self.assertLess(len(kept), BIG_SIZE)
        self.assertEqual(bytes(kept), self.big[:len(kept)])
        partial = os.path.join(self.scratch, "resumed.bin")
        with open(partial, "wb") as f:
            f.write(kept)

        status, out = curl("-u", "alice:pw", "-C", "-", "-o", partial, "-w", "%{http_code}", self.url)
        self.assertEqual((status, out), (0, b"206"))
        with open(partial, "rb") as f:
            self.assertEqual(sha256(f.read()), sha256(self.big))

        # Resuming the complete file: 416, which curl takes as "already there".
        status, out = curl("-u", "alice:pw", "-C", "-", "-o", partial, "-w", "%{http_code}", self.url)
        self.assertEqual((status, out), (0, b"416"))
        with open(partial, "rb") as f:
            self.assertEqual(sha256(f.read()), sha256(self.big))

    def test_curl_range_gets_100_bytes(self):
        part = os.path.join(self.scratch, "part.bin")
        status, headers = curl("-u", "alice:pw", "-r", "100-199", "-D", "-", "-o", part, self.url)
        self.assertEqual(status, 0)
        self.assertEqual(headers, download_header(
            b"big.data", 100, b"206 Partial Content",
            b"Accept-Ranges: bytes\r\nContent-Range: bytes 100-199/%d\r\n" % BIG_SIZE))
        with open(part, "rb") as f:
            self.assertEqual(f.read(), self.big[100:200])

    def test_curl_head_shows_the_download_headers(self):
        status, headers = curl("-u", "alice:pw", "-I", self.url)
        self.assertEqual(status, 0)
        self.assertEqual(headers, download_header(b"big.data", BIG_SIZE, fields=b"Accept-Ranges: bytes\r\n"))

    def test_answers_byte_for_byte(self):
        whole = download_header(b"small.txt", 10, fields=b"Accept-Ranges: bytes\r\n")
        cases = [
            ("", whole + b"0123456789"),
            ("Range: bytes=-4\r\n", download_header(
                b"small.txt", 4, b"206 Partial Content", b"Accept-Ranges: bytes\r\nContent-Range: bytes 6-9/10\r\n")
             + b"6789"),
            ("Range: bytes=3-\r\n", download_header(
                b"small.txt", 7, b"206 Partial Content", b"Accept-Ranges: bytes\r\nContent-Range: bytes 3-9/10\r\n")
             + b"3456789"),
            ("Range: bytes=0-1,5-6\r\n", whole + b"0123456789"),
            ("Range: bytes=2-3\r\nIf-Range: \"v1\"\r\n", whole + b"0123456789"),
            ("Range: bytes=10-\r\n",
             b"HTTP/1.1 416 Range Not Satisfiable\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\n"
             b"Content-Type: text/html\r\nContent-Range: bytes */10\r\n\r\n<html><head><title>416 Range Not "
             b"Satisfiable</title></head><body><h1>416 Range Not Satisfiable</h1><hr width=\"900\" align=\"left\">"
             b"Range Not Satisfiable</body></html>\r\n\r\n"),
        ]
        for extra, expected in cases:
            with self.subTest(extra=extra):
                self.assertEqual(self.get("download.html?path=small.txt", extra), expected)

    def test_head_of_every_route_is_the_header_of_its_get(self):
        for target in ("", "list.html", "list.html?path=missing", "download.html?path=small.txt",
                       "download.html?path=nothing", "file.gif", "config.html", "nothing.html"):
            with self.subTest(target=target):
                get = self.get(target)
                self.assertEqual(self.get(target, method="HEAD"), get[:get.index(b"\r\n\r\n") + 4])
        self.assertEqual(exchange(self.port, "HEAD / HTTP/1.1\r\n\r\n"), UNAUTHORIZED[:UNAUTHORIZED.index(b"\r\n\r\n") + 4])
        self.assertEqual(self.get("list.html", method="HEAD"), frame_start("alice")[:frame_start("alice").index(b"\r\n\r\n") + 4])


class PolicyAndRights(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home, cls.big = start_server("<webpolicy>yes</webpolicy>", access=REJECT_SECOND_LOOPBACK)
        cls.port = cls.server.web_port

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def request(self, target, user):
        return "GET /%s HTTP/1.1\r\nHost: x\r\n%s\r\n" % (target, basic(user, "pw"))

    def test_refused_address_is_closed_without_an_answer(self):
        for attempt in range(3):
            reply, took = exchange_from("127.0.0.2", self.port, self.request("list.html", "alice"))
            self.assertEqual(reply, b"", attempt)
            self.assertLess(took, 5, attempt)  # at once, not after a deadline
            served, _ = exchange_from("127.0.0.1", self.port, self.request("download.html?path=small.txt", "alice"))
            self.assertEqual(served, download_header(b"small.txt", 10) + b"0123456789", attempt)

    def test_rights_gate_the_listing_and_downloads(self):
        for user, lists, downloads in (("alice", True, True), ("lister", True, False), ("reader", False, True)):
            with self.subTest(user=user):
                listing = exchange(self.port, self.request("list.html", user))
                if lists:
                    self.assertTrue(listing.startswith(frame_start(user)))
                else:
                    self.assertEqual(listing, UNAUTHORIZED)
                file = exchange(self.port, self.request("download.html?path=small.txt", user))
                self.assertEqual(file, download_header(b"small.txt", 10) + b"0123456789" if downloads else UNAUTHORIZED)
                # No right is needed for the icons and the password form.
                self.assertIn(b"GIF89a", exchange(self.port, self.request("file.gif", user)))
                self.assertTrue(exchange(self.port, self.request("config.html", user)).startswith(frame_start(user)))
        # Without <webext> a Range is ignored here too.
        self.assertEqual(exchange(self.port, "GET /download.html?path=small.txt HTTP/1.1\r\n%sRange: bytes=2-3\r\n\r\n"
                                  % basic("alice", "pw")), download_header(b"small.txt", 10) + b"0123456789")


class DesignedWithoutTheElements(unittest.TestCase):
    def test_policy_rights_ranges_and_head_stay_as_designed(self):
        server, home, big = start_server("", access=REJECT_SECOND_LOOPBACK)
        try:
            port = server.web_port
            url = "http://%s:%d/download.html?path=big.data" % (LOOPBACK, port)
            out = server.path("whole.bin")
            status, code = curl("-u", "alice:pw", "-r", "100-199", "-o", out, "-w", "%{http_code}", url)
            self.assertEqual((status, code), (0, b"200"))
            with open(out, "rb") as f:
                self.assertEqual(sha256(f.read()), sha256(big))
            request = "GET /download.html?path=small.txt HTTP/1.1\r\n%s\r\n" % basic("reader", "pw")
            designed = download_header(b"small.txt", 10) + b"0123456789"
            # The refused address and an account without List are served all the same.
            self.assertEqual(exchange_from("127.0.0.2", port, request)[0], designed)
            listing = exchange(port, "GET /list.html HTTP/1.1\r\n%s\r\n" % basic("reader", "pw"))
            self.assertTrue(listing.startswith(frame_start("reader")))
            # HEAD is no method: path and query stay empty, so it gets the listing.
            head = exchange(port, "HEAD /download.html?path=small.txt HTTP/1.1\r\n%s\r\n" % basic("lister", "pw"))
            self.assertEqual(head, exchange(port, "GET / HTTP/1.1\r\n%s\r\n" % basic("lister", "pw")))
            self.assertTrue(head.startswith(frame_start("lister")))
            self.assertEqual(exchange(port, "GET /nothing HTTP/1.1\r\n%s\r\n" % basic("alice", "pw")), NOT_FOUND)
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
