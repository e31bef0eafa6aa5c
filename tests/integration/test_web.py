"""The web file browser against the real server: login, pages byte for byte, path
rules, downloads, icons, the password page, and hostile or slow clients."""
import base64
import ftplib
import html
import os
import socket
import subprocess
import threading
import time
import unittest

from harness import LOOPBACK, Server, connect_tcp, digest, user_element, users_document, wait_until

UNAUTHORIZED = (
    b"HTTP/1.1 401 Unauthorized\r\nServer: CorvelFtp Server/1.0\r\nAuthor: cOrvelFtp Server\r\n"
    b"WWW-Authenticate: BASIC realm=\"Login to CorvelFtp Server\"\r\nContent-Type: text/html\r\n\r\n"
    b"<html><head><title>401 Unauthorized</title></head><body><h1>401 Unauthorized</h1>"
    b"<hr width=\"900\" align=\"left\">Sorry, Unauthorized.</body></html>\r\n\r\n")
NOT_FOUND = (
    b"HTTP/1.1 404 Error\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\nContent-Type: text/html\r\n\r\n"
    b"<html><head><title>404 Error</title></head><body><h1>404 Error</h1>"
    b"<hr width=\"900\" align=\"left\">Not Found</body></html>\r\n\r\n")
PAGE_HEADER = (
    b"HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFtp Server\r\n"
    b"Author: CorvelFtp Server\r\nContent-Type: text/html\r\n\r\n"
    b"<html><head><style>body{\tfont-size: 10pt;\tcolor: #000066;}td{\tfont-size: 10pt;\tcolor: #000066;}"
    b"a {\ttext-decoration: none; }a:link { color:#0000FF }a:visited { color:#0000FF; }"
    b"a:hover, a:active, a:focus { font-size: 10pt;color:#FF0000; }</style>"
    b"<title>CorvelFtp Server</title></head><body><h1>")
FOOTER = (b"<hr width=\"900\" align=\"left\"><a href=\"list.html\">Folders and Files</a> - "
          b"<a href=\"config.html\">Password</a> <p> CorvelFtp Server</body></html>\r\n\r\n")
DOWNLOAD_START = (b"HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\n"
                  b"Server: CorvelFTP Web Server\r\nContent-Type: ")
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
ICONS = {"forder.gif": 375, "file.gif": 379, "cdup.gif": 581}


def official_host_name():
    name = socket.gethostname()
    try:
        return socket.getaddrinfo(name, None, 0, socket.SOCK_STREAM, 0, socket.AI_CANONNAME)[0][3] or name
    except OSError:
        return name


def basic(user, password):
    token = base64.b64encode(("%s:%s" % (user, password)).encode("latin-1")).decode()
    return "Authorization: Basic %s\r\n" % token


def exchange(port, raw, timeout=10, source=None):
    """Sends raw bytes (from the local address source, when given) and returns
    everything received until the server closes."""
    if isinstance(raw, str):
        raw = raw.encode("latin-1")
    with connect_tcp(port, source, timeout) as s:
        s.sendall(raw)
        return read_until_closed(s, timeout)


def read_until_closed(s, timeout=10):
    deadline = time.monotonic() + timeout
    data = bytearray()
    while True:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("connection still open; have %r" % bytes(data[:200]))
        s.settimeout(remaining)
        try:
            chunk = s.recv(1 << 16)
        except ConnectionResetError:
            return bytes(data)
        if not chunk:
            return bytes(data)
        data += chunk


def frame_start(user):
    return PAGE_HEADER + html.escape(official_host_name()).encode() + b" - " + html.escape(user).encode()


def size_text(size):
    return ("%12d" % size).encode()


def date_text(path):
    t = time.localtime(os.stat(path).st_mtime)
    return ("%s %2d %02d:%02d" % (MONTHS[t.tm_mon - 1], t.tm_mday, t.tm_hour, t.tm_min)).encode()


def encode_link(text):
    return "".join("%%%02X" % b for b in text.encode("latin-1")).encode()


def raw_order(folder):
    """The directory's entries in the system's enumeration order, "." and ".." included."""
    out = subprocess.run(["ls", "-f", "-1", folder], check=True, capture_output=True).stdout
    return [n.decode("latin-1") for n in out.split(b"\n") if n]


class WebBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(start=False)
        cls.home = cls.server.path("homes", "alice")
        for folder in ("docs/deeper", "a", "b", "odd", "listing/one", "listing/two <&>"):
            os.makedirs(os.path.join(cls.home, folder))
        files = {
            "archive.tar.gz": b"\x1f\x8b" + bytes(range(256)) * 40,
            "Report.PDF": b"%PDF-1.4 report",
            "noext": b"plain",
            "empty": b"",
            "b/in_b.txt": b"in b",
            "docs/deeper/x.txt": b"x",
            "listing/first.txt": b"1" * 1234,
            "listing/<i>x&.txt": b"markup",
            "listing/second": b"",
            'odd/q"x\r\ny.txt': b"quoted",
        }
        for name, data in files.items():
            with open(os.path.join(cls.home, name), "wb") as f:
                f.write(data)
        cls.server.write("ftpusers.xml", users_document(
            user_element("alice", digest("secret"), cls.home),
            user_element("carol", digest("old"), cls.home),
            user_element("<b>eve</b>", digest("pw"), cls.home)).replace('"<b>eve</b>"', '"&lt;b&gt;eve&lt;/b&gt;"'))
        cls.server.start()
        cls.port = cls.server.web_port

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def get(self, target, user="alice", password="secret", method="GET", extra=""):
        auth = basic(user, password) if user is not None else ""
        return exchange(self.port, "%s /%s HTTP/1.1\r\nHost: x\r\n%s%s\r\n" % (method, target, auth, extra))

    # ---- login ----

    def test_every_route_needs_credentials(self):
        routes = ["", "list.html", "list.html?path=docs", "cdup.gif", "forder.gif", "file.gif",
                  "download.html?path=noext", "config.html", "update_password.html", "missing.html"]
        for route in routes:
            with self.subTest(route=route):
                self.assertEqual(self.get(route, user=None), UNAUTHORIZED)
                self.assertEqual(self.get(route, password="wrong"), UNAUTHORIZED)
                self.assertEqual(self.get(route, user="Alice"), UNAUTHORIZED)
        lower = exchange(self.port, "GET /list.html HTTP/1.1\r\nAuthorization: basic %s\r\n\r\n"
                         % base64.b64encode(b"alice:secret").decode())
        self.assertEqual(lower, UNAUTHORIZED)
        self.assertEqual(exchange(self.port, "\r\nGET /list.html HTTP/1.1\r\n" + basic("alice", "secret") + "\r\n"),
                         UNAUTHORIZED)

    def test_unknown_routes_get_the_not_found_page(self):
        self.assertEqual(self.get("list%2Ehtml"), NOT_FOUND)
        self.assertEqual(self.get("nothing/here"), NOT_FOUND)
        self.assertEqual(exchange(self.port, "POST /update_password.html?x=1 HTTP/1.1\r\n" + basic("alice", "secret") +
                                  "Content-Length: 0\r\n\r\n"), NOT_FOUND)

    # ---- listing ----

    def expected_listing(self, path_value, user="alice"):
        folder = os.path.join(self.home, path_value) if path_value else self.home
        names = raw_order(folder)
        dirs = [n for n in names if os.path.isdir(os.path.join(folder, n))]
        files = [n for n in names if os.path.isfile(os.path.join(folder, n))]
        rows = b""
        for i, name in enumerate(dirs + files):
            colour = b"#FFFFFF" if i % 2 else b"#F0F0F0"
            link = encode_link(os.path.normpath(os.path.join(path_value, name)).lstrip("./") if name != ".." else
                               os.path.dirname(path_value.rstrip("/")))
            full = os.path.join(folder, name)
            shown = html.escape(name).encode("latin-1")
            if name == ".":
                continue
            if name == "..":
                rows += (b'<tr bgcolor="' + colour + b'"><td colspan="4"><a href="list.html?path=' + link +
                         b'"><img src="cdup.gif" border="0"></a></td></tr>')
            elif name in dirs:
                rows += (b'<tr bgcolor="' + colour + b'"><td><img src="forder.gif"></td><td width="600">'
                         b'<a href="list.html?path=' + link + b'"><b>' + shown + b'</b></a></td><td width="100">' +
                         size_text(0) + b"</td><td>" + date_text(full) + b"</td></tr>\r\n")
            else:
                rows += (b'<tr bgcolor="' + colour + b'"><td><img src="file.gif"></td><td width="600">'
                         b'<a href="download.html?path=' + link + b'">' + shown + b'</a></td><td width="100">' +
                         size_text(os.path.getsize(full)) + b"</td><td>" + date_text(full) + b"</td></tr>\r\n")
        return (frame_start(user) + b'</h1><hr width="900" align="left">'
                b'<table border="0" cellspacing="0" cellpadding="5">' + rows + b"</table>" + FOOTER)

    def test_listing_of_a_folder_byte_for_byte(self):
        page = self.get("list.html?path=listing")
        self.assertEqual(page, self.expected_listing("listing"))
        # F5: names are escaped; links stay percent-encoded bytes.
        self.assertIn(b"<b>two &lt;&amp;&gt;</b>", page)
        self.assertIn(b"&lt;i&gt;x&amp;.txt</a>", page)
        self.assertNotIn(b"<i>", page)
        # The up row leads to the home directory.
        self.assertIn(b'<a href="list.html?path="><img src="cdup.gif" border="0"></a>', page)

    def test_home_listing_and_its_other_spellings(self):
        home = self.expected_listing("")
        for target in ("", "list.html", "list.html?path=", "list.html?xpath=", "list.html?path=.",
                       "list.html?path=a/.."):
            with self.subTest(target=target):
                self.assertEqual(self.get(target), home)
        self.assertIn(b'<a href="list.html?path="><img src="cdup.gif"', home)
        self.assertEqual(self.get("list.html", method="PUT"), home)
        self.assertEqual(self.get("list.html", method="POST"), home)
        auth = basic("alice", "secret")
        for line in ("get /list.html?path=docs HTTP/1.1", "HEAD /list.html?path=docs HTTP/1.1",
                     "GET http://127.0.0.1/list.html?path=docs HTTP/1.1"):
            with self.subTest(line=line):
                page = exchange(self.port, line + "\r\n" + auth + "\r\n")
                if line.startswith("HEAD"):
                    self.assertEqual(page, home)  # HEAD is no method here: path and query stay empty
                else:
                    # Empty path (the listing route); the query is still taken.
                    self.assertEqual(page, self.expected_listing("docs"))

    def test_path_rules(self):
        self.assertEqual(self.get("list.html?path=.."), UNAUTHORIZED)
        self.assertEqual(self.get("list.html?path=docs/../.."), UNAUTHORIZED)
        self.assertEqual(self.get("list.html?path=a/../b"), self.expected_listing("b"))
        self.assertEqual(self.get("list.html?path=%64ocs"), self.expected_listing("docs"))
        self.assertEqual(self.get("list.html?path=missing"), NOT_FOUND)
        self.assertEqual(self.get("list.html?path=noext"), NOT_FOUND)
        self.assertEqual(self.get("list.html?path=" + "/" * 259), self.expected_listing(""))
        self.assertEqual(self.get("list.html?path=" + "/" * 260), NOT_FOUND)
        link = self.get("list.html?path=docs")
        self.assertIn(b'<a href="list.html?path=%64%6F%63%73%2F%64%65%65%70%65%72"><b>deeper</b>', link)
        self.assertIn(b'<a href="list.html?path="><img src="cdup.gif"', link)

    # ---- downloads and icons ----

    def download_header(self, content_type, name, size):
        return (DOWNLOAD_START + content_type + b";\r\n name=" + name + b"\r\nContent-Disposition: attachment; "
                b'filename="' + name + b'"\r\nContent-Length: ' + str(size).encode() + b"\r\n\r\n")

    def test_downloads(self):
        with open(os.path.join(self.home, "archive.tar.gz"), "rb") as f:
            archive = f.read()
        self.assertEqual(self.get("download.html?path=archive.tar.gz"),
                         self.download_header(b"application/x-gzip", b"archive.tar.gz", len(archive)) + archive)
        self.assertEqual(self.get("download.html?path=archive.tar.gz", extra="Range: bytes=10-20\r\n"),
                         self.download_header(b"application/x-gzip", b"archive.tar.gz", len(archive)) + archive)
        self.assertEqual(self.get("download.html?path=Report.PDF"),
                         self.download_header(b"application/pdf", b"report.pdf", 15) + b"%PDF-1.4 report")
        self.assertEqual(self.get("download.html?path=noext"),
                         self.download_header(b"application/*", b"noext", 5) + b"plain")
        self.assertEqual(self.get("download.html?path=empty"), self.download_header(b"application/*", b"empty", 0))
        self.assertEqual(self.get("download.html?path=docs/deeper/x.txt"),
                         self.download_header(b"text/plain", b"x.txt", 1) + b"x")
        self.assertEqual(self.get("download.html?path=docs"), NOT_FOUND)
        self.assertEqual(self.get("download.html?path=nothing.txt"), NOT_FOUND)
        self.assertEqual(self.get("download.html"), NOT_FOUND)
        self.assertEqual(self.get("download.html?path=../x"), UNAUTHORIZED)

    def test_download_name_loses_quotes_and_line_breaks(self):
        reply = self.get("download.html?path=odd/q%22x%0D%0Ay.txt")
        self.assertEqual(reply, self.download_header(b"text/plain", b"qxy.txt", 6) + b"quoted")

    def test_large_download_streams_whole(self):
        big = os.path.join(self.home, "big.data")
        block = bytes(range(256)) * 4096
        with open(big, "wb") as f:
            for _ in range(24):
                f.write(block)
        try:
            reply = self.get("download.html?path=big.data")
            header = self.download_header(b"application/*", b"big.data", 24 * len(block))
            self.assertEqual(reply[:len(header)], header)
            self.assertEqual(len(reply) - len(header), 24 * len(block))
            self.assertEqual(reply[len(header):len(header) + len(block)], block)
        finally:
            os.remove(big)

    def test_icons(self):
        for route, size in ICONS.items():
            with self.subTest(route=route):
                reply = self.get(route)
                header = (DOWNLOAD_START + b"image/gif;\r\n name=" + route.encode() +
                          b'\r\nContent-Disposition: inline; filename="' + route.encode() +
                          b'"\r\nContent-Length: ' + str(size).encode() + b"\r\n\r\n")
                self.assertEqual(reply[:len(header)], header)
                body = reply[len(header):]
                self.assertEqual(len(body), size)
                self.assertEqual(body[:6], b"GIF89a")
                self.assertEqual(body[-1:], b"\x3b")

    # ---- password ----

    def update(self, body, user, password):
        return exchange(self.port, "POST /update_password.html HTTP/1.1\r\n%sContent-Length: %d\r\n\r\n%s"
                        % (basic(user, password), len(body), body))

    def test_password_form(self):
        self.assertEqual(self.get("config.html"), frame_start("alice") + (
            b'</h1><hr width="900" align="left"><form method="POST" action="update_password.html">New Password: '
            b'<input type="password" name="new_pwd" size=20> Verify Password: <input type="password" '
            b'name="new_pwd_confirm" size=20> <input type="submit" value="Update"></form>') + FOOTER)
        # F5: the user name in the heading is escaped.
        self.assertIn(b"<h1>" + html.escape(official_host_name()).encode() + b" - &lt;b&gt;eve&lt;/b&gt;</h1>",
                      self.get("config.html", user="<b>eve</b>", password="pw"))

    def test_password_update_messages_and_new_password_everywhere(self):
        head = frame_start("carol") + b'</h1><hr width="900" align="left"><b>Password</b><br>'
        self.assertEqual(self.update("new_pwd=a&new_pwd_confirm=b", "carol", "old"),
                         head + b'<font color="red">Password and verify password are not same.</font>' + FOOTER)
        self.assertEqual(self.update("new_pwd=&new_pwd_confirm=", "carol", "old"),
                         head + b'<font color="red">Password can not be empty</font>' + FOOTER)
        long_value = "p" * 64
        reply = self.update("new_pwd=%s&new_pwd_confirm=%s" % (long_value, long_value), "carol", "old")
        self.assertIn(b'<font color="red">', reply)
        self.assertNotIn(b"Update Successfully", reply)
        self.assertTrue(self.get("config.html", "carol", "old").startswith(b"HTTP/1.1 200 OK\r\n"))

        self.assertEqual(self.update("new_pwd=n%26w+1&new_pwd_confirm=n%26w+1", "carol", "old"),
                         head + b'<font color="green">Update Successfully</font>' + FOOTER)
        self.assertEqual(self.get("config.html", "carol", "old"), UNAUTHORIZED)
        self.assertTrue(self.get("config.html", "carol", "n&w 1").startswith(b"HTTP/1.1 200 OK"))
        ftp = ftplib.FTP()
        ftp.connect(LOOPBACK, self.server.ftp_port, timeout=10)
        try:
            self.assertTrue(ftp.login("carol", "n&w 1").startswith("230"))
        finally:
            ftp.close()
        # A GET (a link, an image of another page) changes nothing.
        reply = self.get("update_password.html?new_pwd=third&new_pwd_confirm=third", "carol", "n&w 1")
        self.assertEqual(reply, head + b'<font color="red">Password can not be updated</font>' + FOOTER)
        self.assertEqual(self.get("config.html", "carol", "third"), UNAUTHORIZED)
        self.assertTrue(self.get("config.html", "carol", "n&w 1").startswith(b"HTTP/1.1 200 OK"))


class PasswordThatCannotBeStored(unittest.TestCase):
    def test_failed_update_is_reported_in_red(self):
        # "ANONYMOUS" enables password-free anonymous without giving "anonymous" an
        # account, so there is nothing to store the password on.
        server = Server(start=False)
        try:
            home = server.path("h")
            os.makedirs(home)
            server.write("ftpusers.xml", users_document(user_element("ANONYMOUS", "x", home)))
            server.start()
            reply = exchange(server.web_port, "GET /update_password.html?new_pwd=a&new_pwd_confirm=a HTTP/1.1\r\n" +
                             basic("anonymous", "any") + "\r\n")
            self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK"))
            self.assertIn(b'<font color="red">', reply)
            self.assertNotIn(b"Update Successfully", reply)
            # Without a home directory nothing is listed or served.
            self.assertEqual(exchange(server.web_port, "GET / HTTP/1.1\r\n" + basic("anonymous", "") + "\r\n"),
                             NOT_FOUND)
        finally:
            server.cleanup()


class HostileAndSlowClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(start=False)
        cls.home = cls.server.path("h")
        os.makedirs(cls.home)
        with open(os.path.join(cls.home, "f.txt"), "wb") as f:
            f.write(b"data")
        cls.server.write("ftpusers.xml", users_document(user_element("alice", digest("secret"), cls.home)))
        cls.server.start()
        cls.port = cls.server.web_port
        cls.auth = basic("alice", "secret")

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_one_request_per_connection(self):
        reply = exchange(self.port, "GET /download.html?path=f.txt HTTP/1.1\r\n" + self.auth + "\r\n"
                         "GET /config.html HTTP/1.1\r\n" + self.auth + "\r\n")
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK"))
        self.assertTrue(reply.endswith(b"\r\n\r\ndata"))
        self.assertEqual(reply.count(b"HTTP/1.1"), 1)

    def test_many_header_lines_and_bare_line_feeds(self):
        headers = "".join("X-Header-%d: %s\n" % (i, "v" * 50) for i in range(100))
        reply = exchange(self.port, "GET /download.html?path=f.txt HTTP/1.1\n" + headers + self.auth + "\n")
        self.assertTrue(reply.endswith(b"\r\n\r\ndata"))

    def test_line_length_limit(self):
        longest = "X-Pad: " + "a" * (4093 - 7)
        reply = exchange(self.port, "GET /download.html?path=f.txt HTTP/1.1\r\n" + longest[:-1] + "\r\n" +
                         self.auth + "\r\n")
        self.assertTrue(reply.endswith(b"data"))
        self.assertEqual(exchange(self.port, "GET /download.html?path=f.txt HTTP/1.1\r\n" + longest + "\r\n" +
                                  self.auth + "\r\n"), b"")
        self.assertEqual(exchange(self.port, longest + "b\n" + "GET /download.html?path=f.txt HTTP/1.1\r\n" +
                                  self.auth + "\r\n"), b"")

    def test_oversized_post_bodies_are_not_read(self):
        for length in (65537, 2 ** 31, 2 ** 40):
            with self.subTest(length=length):
                start = time.monotonic()
                reply = exchange(self.port, "POST /update_password.html HTTP/1.1\r\n" + self.auth +
                                 "Content-Length: %d\r\n\r\nnew_pwd=a&new_pwd_confirm=a" % length)
                self.assertEqual(reply, b"")
                self.assertLess(time.monotonic() - start, 5)
        self.assertIn(b"HTTP/1.1 200 OK", exchange(self.port, "GET /config.html HTTP/1.1\r\n" + self.auth + "\r\n"))
        # A body at the limit is read and used.
        body = "new_pwd=secret&new_pwd_confirm=secret&pad=" + "z" * (65536 - 42)
        self.assertEqual(len(body), 65536)
        reply = exchange(self.port, "POST /update_password.html HTTP/1.1\r\n" + self.auth +
                         "Content-Length: 65536\r\n\r\n" + body)
        self.assertIn(b"Update Successfully", reply)

    def test_slow_client_is_answered(self):
        request = ("GET /download.html?path=f.txt HTTP/1.1\r\n" + self.auth + "\r\n").encode()
        with socket.create_connection((LOOPBACK, self.port), timeout=10) as s:
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for i in range(0, len(request), 7):
                s.sendall(request[i:i + 7])
                time.sleep(0.02)
            self.assertTrue(read_until_closed(s).endswith(b"\r\n\r\ndata"))

    def test_idle_connections_do_not_block_a_fresh_request(self):
        idle = []
        try:
            # Ten from each of twenty addresses: one address alone holds only its share.
            for i in range(200):
                idle.append(connect_tcp(self.port, "127.0.4.%d" % (i % 20 + 1)))
            idle[0].sendall(b"GET /download.html?path=f.txt HTTP/1.1\r\n")  # a half-sent request too
            start = time.monotonic()
            reply = exchange(self.port, "GET /download.html?path=f.txt HTTP/1.1\r\n" + self.auth + "\r\n",
                             timeout=30, source="127.0.4.21")
            self.assertTrue(reply.endswith(b"\r\n\r\ndata"))
            self.assertLess(time.monotonic() - start, 15)
        finally:
            for s in idle:
                s.close()

    def test_body_cut_short_changes_nothing(self):
        with socket.create_connection((LOOPBACK, self.port), timeout=10) as s:
            s.sendall(("POST /update_password.html HTTP/1.1\r\n" + self.auth +
                       "Content-Length: 100\r\n\r\nnew_pwd=cut&new_pwd_confirm=cut").encode())
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(read_until_closed(s), b"")
        self.assertIn(b"HTTP/1.1 200 OK", exchange(self.port, "GET /config.html HTTP/1.1\r\n" + self.auth + "\r\n"))


if __name__ == "__main__":
    unittest.main()
