"""The web client under /app/ (<webapp>yes), driven with http.client: sign-in with
a session cookie and its flags, failed sign-ins delayed, logged and banned like
every web login, the token and the origin every change needs, the rights of each
action, uploads in chunks written beside their name and resumed after a cut, the
replace that must be asked for, HTTP Basic for scripts, and nothing of it without
the element."""
import base64
import hashlib
import http.client
import os
import re
import shutil
import socket
import ssl
import time
import unittest
import urllib.parse
import io
import struct
import zipfile
import zlib

from harness import LOOPBACK, Server, digest, user_element, users_document, wait_until

EVERY_RIGHT = 0x1 | 0x2 | 0x4 | 0x8 | 0x10000 | 0x20000 | 0x40000
READ_AND_LIST = 0x2 | 0x20000
PARTIAL = ".%s.corvel-upload"


def start_server(extra="<webapp>yes</webapp>", args=("/nontservice",)):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(os.path.join(home, "docs"))
    with open(os.path.join(home, "docs", "a.txt"), "wb") as f:
        f.write(b"alpha")
    os.makedirs(server.path("reader"))
    server.write("ftpusers.xml", users_document(
        user_element("alice", digest("secret"), home, privilege=EVERY_RIGHT),
        user_element("rita", digest("pw"), server.path("reader"), privilege=READ_AND_LIST),
        user_element("lena", digest("pw"), server.path("reader"), privilege=0x20000)))
    server.write("ftpconfig.xml", server.read("ftpconfig.xml").decode().replace("</config>", extra + "</config>"))
    server.start(args=args)
    return server, home


class Client:
    """One request per connection, as the server answers them."""

    def __init__(self, port):
        self.port = port
        self.origin = "http://%s:%d" % (LOOPBACK, port)
        self.cookie = None
        self.token = None

    def request(self, method, path, body=None, headers=None, origin=True):
        all_headers = dict(headers or {})
        if self.cookie:
            all_headers["Cookie"] = "corvel_session=" + self.cookie
        if origin and method != "GET":
            all_headers.setdefault("Origin", self.origin)
        if isinstance(body, dict):
            body = urllib.parse.urlencode(body)
            all_headers["Content-Type"] = "application/x-www-form-urlencoded"
        connection = http.client.HTTPConnection(LOOPBACK, self.port, timeout=30)
        try:
            connection.request(method, path, body=body, headers=all_headers)
            response = connection.getresponse()
            return response.status, dict((k.lower(), v) for k, v in response.getheaders()), response.read()
        finally:
            connection.close()

    def sign_in(self, user="alice", password="secret"):
        status, headers, _ = self.request("POST", "/app/login", {"user": user, "password": password})
        assert status == 303, status
        self.cookie = re.match(r"corvel_session=([0-9a-f]+);", headers["set-cookie"]).group(1)
        status, _, page = self.request("GET", "/app/")
        assert status == 200, status
        self.token = re.search(rb'data-csrf="([0-9a-f]+)"', page).group(1).decode()
        return headers

    def post_form(self, action, fields, **kwargs):
        fields = dict(fields)
        fields.setdefault("csrf", self.token)
        return self.request("POST", action, fields, **kwargs)

    def put(self, path, data, offset=0, done=False, total=None, replace=False, headers=None):
        query = "path=%s&offset=%d" % (urllib.parse.quote(path), offset)
        if done:
            query += "&done=1&total=%d" % (total if total is not None else offset + len(data))
        if replace:
            query += "&replace=1"
        all_headers = {"X-CSRF-Token": self.token or ""}
        all_headers.update(headers or {})
        return self.request("PUT", "/app/upload?" + query, data, all_headers)


class WebAppTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = start_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def client(self):
        return Client(self.server.web_port)


class SignIn(WebAppTestCase):
    def test_the_cookie_is_random_http_only_strict_and_ends_with_sign_out(self):
        client = self.client()
        status, headers, page = client.request("GET", "/app/")
        self.assertEqual(status, 303)
        self.assertEqual(headers["location"], "/app/login")
        status, headers, page = client.request("GET", "/app/login")
        self.assertEqual(status, 200)
        self.assertIn("charset=utf-8", headers["content-type"])
        self.assertIn(b'action="/app/login"', page)
        set_cookie = client.sign_in()["set-cookie"]
        self.assertRegex(set_cookie, r"^corvel_session=[0-9a-f]{64}; Path=/app; HttpOnly; SameSite=Strict$")
        first = client.cookie
        self.assertNotEqual(self.client().sign_in()["set-cookie"], set_cookie)
        status, _, page = client.request("GET", "/app/?path=docs")
        self.assertEqual(status, 200)
        self.assertIn(b"a.txt", page)
        # Sign-out needs the token too; then the cookie is worth nothing.
        status, _, _ = client.post_form("/app/logout", {"csrf": "0" * 64})
        self.assertEqual(status, 403)
        status, headers, _ = client.post_form("/app/logout", {})
        self.assertEqual(status, 303)
        self.assertIn("Max-Age=0", headers["set-cookie"])
        client.cookie = first
        self.assertEqual(client.request("GET", "/app/")[0], 303)

    def test_a_sign_in_form_from_another_site_or_without_origin_sets_no_cookie(self):
        client = self.client()
        for headers in ({"Origin": "http://evil.example"}, {"Referer": "http://evil.example/x"}, {}):
            status, answer, _ = client.request("POST", "/app/login", {"user": "alice", "password": "secret"},
                                               headers=headers, origin=False)
            self.assertEqual(status, 403, headers)
            self.assertNotIn("set-cookie", answer)

    def test_a_failed_sign_in_is_delayed_and_answers_401(self):
        client = self.client()
        started = time.monotonic()
        status, headers, page = client.request("POST", "/app/login", {"user": "alice", "password": "wrong"})
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        self.assertEqual(status, 401)
        self.assertNotIn("set-cookie", headers)
        self.assertIn(b"Wrong user name or password", page)

    def test_http_basic_works_for_scripts_but_a_change_needs_the_header(self):
        client = self.client()
        basic = {"Authorization": "Basic " + base64.b64encode(b"alice:secret").decode()}
        status, _, page = client.request("GET", "/app/?path=docs", headers=basic)
        self.assertEqual(status, 200)
        self.assertIn(b"a.txt", page)
        status, _, _ = client.request("PUT", "/app/upload?path=basic.txt&offset=0&done=1&total=2", b"hi",
                                      headers=basic, origin=False)
        self.assertEqual(status, 403)
        self.assertFalse(os.path.exists(os.path.join(self.home, "basic.txt")))
        headers = dict(basic, **{"X-CSRF-Token": "script"})
        status, _, body = client.request("PUT", "/app/upload?path=basic.txt&offset=0&done=1&total=2", b"hi",
                                         headers=headers, origin=False)
        self.assertEqual(status, 200, body)
        with open(os.path.join(self.home, "basic.txt"), "rb") as f:
            self.assertEqual(f.read(), b"hi")
        bad = {"Authorization": "Basic " + base64.b64encode(b"alice:nope").decode()}
        status, headers, _ = client.request("GET", "/app/", headers=bad)
        self.assertEqual(status, 401)
        self.assertIn("Basic", headers["www-authenticate"])
        # Without any credentials a browser is sent to the sign-in page, never challenged.
        status, headers, _ = Client(self.server.web_port).request("GET", "/app/download?path=docs/a.txt")
        self.assertEqual((status, headers["location"]), (303, "/app/login"))
        status, headers, _ = Client(self.server.web_port).request("PUT", "/app/upload?path=x&offset=0", b"")
        self.assertEqual(status, 401)
        self.assertNotIn("www-authenticate", headers)


class Changes(WebAppTestCase):
    def test_a_change_without_the_token_or_from_another_origin_changes_nothing(self):
        client = self.client()
        client.sign_in()
        target = os.path.join(self.home, "forged")
        attempts = [
            ({"path": "", "name": "forged"}, {}),                                         # no token
            ({"path": "", "name": "forged", "csrf": "0" * 64}, {}),                       # a wrong one
            ({"path": "", "name": "forged", "csrf": client.token}, {"Origin": "http://evil.example"}),
            ({"path": "", "name": "forged", "csrf": client.token}, {"Origin": "null"}),
            ({"path": "", "name": "forged", "csrf": client.token},
             {"Referer": "http://%s.evil.example/" % LOOPBACK}),
        ]
        for fields, headers in attempts:
            status, _, _ = client.request("POST", "/app/mkdir", fields, headers=headers, origin=not headers)
            self.assertEqual(status, 403, (fields, headers))
            self.assertFalse(os.path.exists(target))
        status, _, _ = client.request("POST", "/app/mkdir", {"path": "", "name": "forged", "csrf": client.token},
                                      origin=False)
        self.assertEqual(status, 403)  # neither Origin nor Referer
        self.assertFalse(os.path.exists(target))
        status, _, _ = client.put("forged.bin", b"x", done=True, headers={"X-CSRF-Token": "0" * 64})
        self.assertEqual(status, 403)
        self.assertFalse(os.path.exists(target + ".bin"))

    def test_make_rename_and_remove_folders_and_files(self):
        client = self.client()
        client.sign_in()
        status, headers, _ = client.post_form("/app/mkdir", {"path": "docs", "name": "Grüße"})
        self.assertEqual(status, 303)
        self.assertEqual(headers["location"], "/app/?path=" + "".join("%%%02X" % b for b in b"docs"))
        self.assertTrue(os.path.isdir(os.path.join(self.home, "docs", "Grüße")))
        status, _, page = client.post_form("/app/mkdir", {"path": "docs", "name": "Grüße"})
        self.assertEqual(status, 409)
        self.assertIn("already".encode(), page)
        for bad in ("..", "a/b", "", PARTIAL % "x"):
            self.assertEqual(client.post_form("/app/mkdir", {"path": "docs", "name": bad})[0], 400, bad)
        self.assertEqual(client.post_form("/app/mkdir", {"path": "../..", "name": "out"})[0], 403)
        status, _, _ = client.post_form("/app/rename", {"path": "docs/Grüße", "name": "März"})
        self.assertEqual(status, 303)
        self.assertTrue(os.path.isdir(os.path.join(self.home, "docs", "März")))
        status, _, page = client.request("GET", "/app/?path=docs")
        self.assertIn("März".encode(), page)
        with open(os.path.join(self.home, "docs", "März", "inside.txt"), "w") as f:
            f.write("x")
        status, _, page = client.post_form("/app/delete", {"path": "docs/März", "kind": "folder"})
        self.assertEqual(status, 409)
        self.assertIn(b"not empty", page)
        self.assertEqual(client.post_form("/app/delete", {"path": "docs/März/inside.txt", "kind": "file"})[0], 303)
        self.assertEqual(client.post_form("/app/delete", {"path": "docs/März", "kind": "folder"})[0], 303)
        self.assertFalse(os.path.exists(os.path.join(self.home, "docs", "März")))
        self.assertEqual(client.post_form("/app/delete", {"path": "", "kind": "folder"})[0], 400)

    def test_without_the_rights_every_write_is_refused_with_a_message(self):
        client = self.client()
        client.sign_in("rita", "pw")
        os.makedirs(self.server.path("reader", "keep"), exist_ok=True)
        status, _, page = client.request("GET", "/app/")
        self.assertEqual(status, 200)
        for control in (b"/app/mkdir", b"/app/rename", b"/app/delete", b'id="upload"'):
            self.assertNotIn(control, page)
        for action, fields in (("/app/mkdir", {"path": "", "name": "new"}),
                               ("/app/rename", {"path": "keep", "name": "moved"}),
                               ("/app/delete", {"path": "keep", "kind": "folder"})):
            status, _, page = client.post_form(action, fields)
            self.assertEqual(status, 403, action)
            self.assertIn(b"Your account may not", page)
        status, _, body = client.put("up.bin", b"data", done=True)
        self.assertEqual(status, 403, body)
        self.assertEqual(sorted(os.listdir(self.server.path("reader"))), ["keep"])


class Uploads(WebAppTestCase):
    def test_chunks_are_written_beside_the_name_and_resume_after_a_cut(self):
        client = self.client()
        client.sign_in()
        data = os.urandom(3 * 1024 * 1024 + 11)
        final = os.path.join(self.home, "docs", "big.bin")
        partial = os.path.join(self.home, "docs", PARTIAL % "big.bin")
        status, _, body = client.put("docs/big.bin", data[:1000000])
        self.assertEqual(status, 200, body)
        self.assertEqual(body, b'{"received":1000000,"done":false}')
        self.assertFalse(os.path.exists(final))  # never under its name half done
        self.assertNotIn(b"corvel-upload", client.request("GET", "/app/?path=docs")[2])
        # A chunk that does not go on where the stored part ends is refused.
        self.assertEqual(client.put("docs/big.bin", b"x", offset=5)[0], 409)
        # The next chunk is cut off half-way: its head announces 2 MB, 700 kB come.
        sock = socket.create_connection((LOOPBACK, self.server.web_port), timeout=10)
        head = ("PUT /app/upload?path=docs/big.bin&offset=1000000 HTTP/1.1\r\nHost: %s:%d\r\n"
                "Origin: %s\r\nCookie: corvel_session=%s\r\nX-CSRF-Token: %s\r\nContent-Length: 2000000\r\n\r\n"
                % (LOOPBACK, self.server.web_port, client.origin, client.cookie, client.token))
        sock.sendall(head.encode() + data[1000000:1700000])
        sock.close()
        self.assertTrue(wait_until(lambda: os.path.getsize(partial) == 1700000, timeout=15))
        status, _, body = client.request("GET", "/app/upload?path=docs/big.bin")
        self.assertEqual(status, 200)
        self.assertEqual(body, b'{"received":1700000,"exists":false,"folder":false}')
        status, _, body = client.put("docs/big.bin", data[1700000:], offset=1700000, done=True)
        self.assertEqual(status, 200, body)
        self.assertFalse(os.path.exists(partial))
        with open(final, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(data).digest())
        # The whole file is there; downloaded through the client it is the same.
        status, headers, body = client.request("GET", "/app/download?path=docs/big.bin")
        self.assertEqual(status, 200)
        self.assertEqual(body, data)
        self.assertIn("attachment", headers["content-disposition"])

    def test_a_file_is_replaced_only_when_asked_to(self):
        client = self.client()
        client.sign_in()
        name = os.path.join(self.home, "docs", "a.txt")
        status, _, body = client.put("docs/a.txt", b"new contents", done=True)
        self.assertEqual(status, 409, body)
        self.assertIn(b"replace", body)
        with open(name, "rb") as f:
            self.assertEqual(f.read(), b"alpha")
        status, _, body = client.request("GET", "/app/upload?path=docs/a.txt")
        self.assertIn(b'"exists":true', body)
        self.assertEqual(client.put("docs/a.txt", b"new contents", done=True, replace=True)[0], 200)
        with open(name, "rb") as f:
            self.assertEqual(f.read(), b"new contents")
        self.assertEqual(client.put("docs", b"x", done=True, replace=True)[0], 409)  # a folder stays
        self.assertTrue(os.path.isdir(os.path.join(self.home, "docs")))
        self.assertEqual(client.put("../escape.txt", b"x", done=True)[0], 403)
        self.assertFalse(os.path.exists(os.path.join(self.home, "..", "escape.txt")))
        self.assertEqual(client.put("docs/empty", b"", done=True)[0], 200)
        self.assertEqual(os.path.getsize(os.path.join(self.home, "docs", "empty")), 0)

    def raw_put(self, client, query, extra_headers, body=b""):
        sock = socket.create_connection((LOOPBACK, self.server.web_port), timeout=10)
        head = ("PUT /app/upload?%s HTTP/1.1\r\nHost: %s:%d\r\nOrigin: %s\r\nCookie: corvel_session=%s\r\n"
                "X-CSRF-Token: %s\r\n%s\r\n" % (query, LOOPBACK, self.server.web_port, client.origin, client.cookie,
                                                 client.token, extra_headers))
        sock.sendall(head.encode() + body)
        return sock

    def test_a_client_that_expects_100_continue_gets_it_only_for_an_upload_that_may_go_on(self):
        client = self.client()
        client.sign_in()
        sock = self.raw_put(client, "path=cont.bin&offset=0&done=1&total=5",
                            "Expect: 100-continue\r\nContent-Length: 5\r\n")
        self.assertEqual(sock.recv(100), b"HTTP/1.1 100 Continue\r\n\r\n")
        sock.sendall(b"hello")
        self.assertTrue(sock.recv(100).startswith(b"HTTP/1.1 200"))
        sock.close()
        with open(os.path.join(self.home, "cont.bin"), "rb") as f:
            self.assertEqual(f.read(), b"hello")
        # Refused before the body: the answer comes at once, never a 100.
        sock = self.raw_put(client, "path=cont.bin&offset=0&done=1&total=5",
                            "Expect: 100-continue\r\nContent-Length: 5\r\n")
        self.assertTrue(sock.recv(100).startswith(b"HTTP/1.1 409"))
        sock.close()
        # A body without a length is refused and nothing is written.
        sock = self.raw_put(client, "path=chunked.bin&offset=0&done=1&total=5",
                            "Transfer-Encoding: chunked\r\n", b"5\r\nhello\r\n0\r\n\r\n")
        self.assertTrue(sock.recv(100).startswith(b"HTTP/1.1 411"))
        sock.close()
        self.assertFalse(os.path.exists(os.path.join(self.home, "chunked.bin")))

    def test_memory_stays_bounded_during_a_large_upload(self):
        if self.server.sanitized():
            self.skipTest("sanitizer bookkeeping makes memory figures meaningless")
        client = self.client()
        client.sign_in()
        size = 256 * 1024 * 1024
        before = self.server.rss_kib()
        peak = [before]
        sock = socket.create_connection((LOOPBACK, self.server.web_port), timeout=30)
        head = ("PUT /app/upload?path=large.bin&offset=0&done=1&total=%d HTTP/1.1\r\nHost: %s:%d\r\n"
                "Origin: %s\r\nCookie: corvel_session=%s\r\nX-CSRF-Token: %s\r\nContent-Length: %d\r\n\r\n"
                % (size, LOOPBACK, self.server.web_port, client.origin, client.cookie, client.token, size))
        sock.sendall(head.encode())
        block = b"\x5a" * (1 << 20)
        for i in range(size // len(block)):
            sock.sendall(block)
            if i % 16 == 0:
                peak.append(self.server.rss_kib())
        answer = b""
        while b"\r\n\r\n" not in answer:
            piece = sock.recv(4096)
            if not piece:
                break
            answer += piece
        sock.close()
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:200])
        self.assertEqual(os.path.getsize(os.path.join(self.home, "large.bin")), size)
        os.remove(os.path.join(self.home, "large.bin"))
        # The upload holds one 64 KiB buffer; the page cache is not the process's.
        self.assertLess(max(peak) - before, 1024, (before, max(peak)))


def multipart(parts, boundary=b"----corvelTestBoundary7"):
    """A multipart/form-data body of (name, file name or None, bytes) parts."""
    body = b""
    for name, filename, data in parts:
        disposition = b'form-data; name="%s"' % name.encode()
        if filename is not None:
            disposition += b'; filename="%s"' % filename.encode()
        body += b"--" + boundary + b"\r\nContent-Disposition: " + disposition + b"\r\n\r\n" + data + b"\r\n"
    return body + b"--" + boundary + b"--\r\n", {"Content-Type": "multipart/form-data; boundary=" + boundary.decode()}


class FormUploads(WebAppTestCase):
    """The upload form of the page without its script: one multipart POST."""

    def send(self, client, parts, folder="", headers=None, **kwargs):
        body, form_headers = multipart(parts)
        form_headers.update(headers or {})
        return client.request("POST", "/app/send?path=" + urllib.parse.quote(folder), body, form_headers, **kwargs)

    def test_files_stream_to_disk_after_the_token_and_none_is_replaced(self):
        client = self.client()
        client.sign_in()
        big = os.urandom(20 * 1024 * 1024 + 3)
        status, headers, page = self.send(client, [("csrf", None, client.token.encode()),
                                                   ("files", "große Datei.bin", big), ("files", "small.txt", b"s")],
                                          folder="docs")
        self.assertEqual(status, 303, page[:500])
        with open(os.path.join(self.home, "docs", "große Datei.bin"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(big).digest())
        with open(os.path.join(self.home, "docs", "small.txt"), "rb") as f:
            self.assertEqual(f.read(), b"s")
        # A name that is there is left alone; the others of the form still arrive.
        status, _, page = self.send(client, [("csrf", None, client.token.encode()),
                                             ("files", "small.txt", b"other"), ("files", "fresh.txt", b"f")],
                                    folder="docs")
        self.assertEqual(status, 409)
        self.assertIn(b"not replaced", page)
        self.assertIn(b"fresh.txt: uploaded", page)
        with open(os.path.join(self.home, "docs", "small.txt"), "rb") as f:
            self.assertEqual(f.read(), b"s")

    def test_without_the_token_first_or_from_another_site_nothing_is_written(self):
        client = self.client()
        client.sign_in()
        before = sorted(os.listdir(self.home))
        for parts, headers in (
                ([("files", "x1.txt", b"x"), ("csrf", None, client.token.encode())], {}),  # token too late
                ([("csrf", None, b"0" * 64), ("files", "x2.txt", b"x")], {}),
                ([("csrf", None, client.token.encode()), ("files", "x3.txt", b"x")], {"Origin": "http://evil.example"}),
        ):
            status, _, _ = self.send(client, parts, headers=headers, origin=not headers)
            self.assertEqual(status, 403, parts[0][1])
        self.assertEqual(sorted(os.listdir(self.home)), before)


def has_zip64_field(extra):
    """Whether a zip entry's extra bytes hold the ZIP64 field (header id 1)."""
    at = 0
    while at + 4 <= len(extra):
        header_id, size = struct.unpack("<HH", extra[at:at + 4])
        if header_id == 1:
            return True
        at += 4 + size
    return False


class Zips(WebAppTestCase):
    def test_a_folder_comes_as_one_stored_zip64_archive_with_utf8_names(self):
        tree = os.path.join(self.home, "zipme")
        os.makedirs(os.path.join(tree, "sub"))
        os.makedirs(os.path.join(tree, "empty"))
        deep = os.urandom(300000)
        with open(os.path.join(tree, "sub", "deep.bin"), "wb") as f:
            f.write(deep)
        with open(os.path.join(tree, "Grüße.txt"), "wb") as f:
            f.write(b"hallo")
        with open(os.path.join(tree, PARTIAL % "half.bin"), "wb") as f:
            f.write(b"half an upload")
        # A name that is no UTF-8 still goes in, its stray byte replaced.
        with open(os.path.join(tree.encode(), b"latin-\xe9.txt"), "wb") as f:
            f.write(b"e")
        client = self.client()
        client.sign_in()
        self.assertIn(b"/app/zip?path=", client.request("GET", "/app/")[2])
        status, headers, body = client.request("GET", "/app/zip?path=zipme")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-type"], "application/zip")
        self.assertNotIn("content-length", headers)
        self.assertIn("zipme.zip", headers["content-disposition"])
        archive = zipfile.ZipFile(io.BytesIO(body))
        self.assertIsNone(archive.testzip())
        names = sorted(archive.namelist())
        self.assertEqual([n for n in names if "latin" not in n],
                         ["zipme/", "zipme/Grüße.txt", "zipme/empty/", "zipme/sub/", "zipme/sub/deep.bin"])
        self.assertEqual(len(names), 6)
        self.assertEqual(archive.read("zipme/latin-\ufffd.txt"), b"e")
        self.assertEqual(archive.read("zipme/sub/deep.bin"), deep)
        self.assertEqual(archive.read("zipme/Grüße.txt"), b"hallo")
        for info in archive.infolist():
            self.assertEqual(info.compress_type, zipfile.ZIP_STORED, info.filename)
            # Every entry, the top folder too, has its time from the disk, not 1980.
            self.assertGreater(info.date_time[0], 1980, info.filename)
        # Every file entry carries the ZIP64 field in its local header, so sizes and
        # offsets past 4 GiB need no other path through the code.
        local = body[archive.getinfo("zipme/sub/deep.bin").header_offset:]
        name_length, extra_length = struct.unpack("<HH", local[26:30])
        self.assertTrue(has_zip64_field(local[30 + name_length:30 + name_length + extra_length]))

    def test_a_zip_needs_both_read_and_list(self):
        os.makedirs(self.server.path("reader", "box"), exist_ok=True)
        with open(self.server.path("reader", "box", "r.txt"), "wb") as f:
            f.write(b"r")
        reader = self.client()
        reader.sign_in("rita", "pw")
        status, _, body = reader.request("GET", "/app/zip?path=box")
        self.assertEqual(status, 200)
        self.assertEqual(zipfile.ZipFile(io.BytesIO(body)).read("box/r.txt"), b"r")
        lister = self.client()
        lister.sign_in("lena", "pw")
        status, headers, page = lister.request("GET", "/app/zip?path=box")
        self.assertEqual(status, 403)
        self.assertIn(b"may not download folders", page)
        self.assertNotIn(b"/app/zip", lister.request("GET", "/app/")[2])
        self.assertEqual(reader.request("GET", "/app/zip?path=../..")[0], 403)
        self.assertEqual(reader.request("GET", "/app/zip?path=box/r.txt")[0], 404)

    def test_a_zip_past_4_gib_streams_in_bounded_memory_and_reads_back(self):
        if self.server.sanitized():
            self.skipTest("sanitizer bookkeeping makes memory figures meaningless")
        folder = os.path.join(self.home, "large")
        os.makedirs(folder)
        size = (4 << 30) + 1
        with open(os.path.join(folder, "a-big.bin"), "wb") as f:
            f.truncate(size)  # sparse: read as zeros without touching the disk
        with open(os.path.join(folder, "b-after.txt"), "wb") as f:
            f.write(b"after")
        client = self.client()
        client.sign_in()
        before = self.server.rss_kib()
        peak = before
        sock = socket.create_connection((LOOPBACK, self.server.web_port), timeout=60)
        sock.sendall(("GET /app/zip?path=large&pick=a-big.bin&pick=b-after.txt HTTP/1.1\r\nHost: %s:%d\r\nCookie: corvel_session=%s\r\n\r\n"
                      % (LOOPBACK, self.server.web_port, client.cookie)).encode())
        # A selection keeps its order, so the small file's entry starts past 4 GiB.
        # The body is kept as a sparse file: runs of zeros are skipped, not written.
        kept = os.path.join(os.path.dirname(self.home), "large.zip")
        head = b""
        received = 0
        next_sample = 0
        with open(kept, "wb") as out:
            while True:
                piece = sock.recv(1 << 20)
                if not piece:
                    break
                if head is not None:
                    head += piece
                    if b"\r\n\r\n" not in head:
                        continue
                    status_line = head.split(b"\r\n", 1)[0]
                    piece = head.split(b"\r\n\r\n", 1)[1]
                    head = None
                received += len(piece)
                if piece.strip(b"\0"):
                    out.write(piece)
                else:
                    out.seek(len(piece), os.SEEK_CUR)
                if received >= next_sample:
                    peak = max(peak, self.server.rss_kib())
                    next_sample += 64 << 20
            out.truncate(received)
        sock.close()
        shutil.rmtree(folder)
        self.assertIn(b" 200 ", status_line)
        self.assertGreater(received, size)
        self.assertLess(peak - before, 1024, (before, peak))
        with zipfile.ZipFile(kept) as archive:
            big = archive.getinfo("large/a-big.bin")
            self.assertEqual(big.file_size, size)
            crc = 0
            zeros = bytes(16 << 20)
            left = size
            while left:
                crc = zlib.crc32(zeros[:min(left, len(zeros))], crc)
                left -= min(left, len(zeros))
            self.assertEqual(big.CRC, crc)
            # The entry after it starts past 4 GiB: its offset comes from the ZIP64 field.
            after = archive.getinfo("large/b-after.txt")
            self.assertGreater(after.header_offset, 0xFFFFFFFF)
            self.assertEqual(archive.read("large/b-after.txt"), b"after")
        os.remove(kept)


class Housekeeping(unittest.TestCase):
    def test_a_password_change_ends_the_sessions_of_the_old_one_and_stale_parts_go(self):
        from test_corvelctl import ctl
        server, home = start_server()
        try:
            client = Client(server.web_port)
            client.sign_in()
            other = Client(server.web_port)
            other.sign_in()
            stale = os.path.join(home, "docs", PARTIAL % "old.bin")
            fresh = os.path.join(home, "docs", PARTIAL % "new.bin")
            for path in (stale, fresh):
                with open(path, "wb") as f:
                    f.write(b"part")
            os.utime(stale, (time.time() - 2 * 86400, time.time() - 2 * 86400))
            self.assertEqual(client.request("GET", "/app/?path=docs")[0], 200)
            self.assertFalse(os.path.exists(stale))
            self.assertTrue(os.path.exists(fresh))  # an upload may still go on with it
            done = ctl(server, "user", "passwd", "alice", "--password-stdin", stdin="changed\n")
            self.assertEqual(done.returncode, 0, done.stderr)
            # The running server reloads at its next turn; then both old sessions are over.
            self.assertTrue(wait_until(lambda: client.request("GET", "/app/")[0] == 303, timeout=10))
            self.assertEqual(other.request("GET", "/app/")[0], 303)
            client.sign_in("alice", "changed")
            self.assertEqual(client.request("GET", "/app/")[0], 200)
        finally:
            server.cleanup()


class OverHttps(unittest.TestCase):
    def test_the_cookie_says_secure_under_webtls(self):
        server, _ = start_server(extra="<webapp>yes</webapp><webtls>yes</webtls>")
        try:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            connection = http.client.HTTPSConnection(LOOPBACK, server.web_port, timeout=30, context=context)
            try:
                connection.request("POST", "/app/login", body="user=alice&password=secret",
                                   headers={"Origin": "https://%s:%d" % (LOOPBACK, server.web_port),
                                            "Content-Type": "application/x-www-form-urlencoded"})
                response = connection.getresponse()
                self.assertEqual(response.status, 303)
                self.assertRegex(response.getheader("Set-Cookie"),
                                 r"^corvel_session=[0-9a-f]{64}; Path=/app; HttpOnly; SameSite=Strict; Secure$")
            finally:
                connection.close()
        finally:
            server.cleanup()


class WithoutTheElement(unittest.TestCase):
    def test_app_routes_are_the_designed_pages_and_cookies_are_ignored(self):
        server, _ = start_server(extra="")
        try:
            client = Client(server.web_port)
            status, headers, page = client.request("GET", "/app/login")
            self.assertEqual(status, 401)
            self.assertEqual(page, b'<html><head><title>401 Unauthorized</title></head><body><h1>401 Unauthorized'
                                   b'</h1><hr width="900" align="left">Sorry, Unauthorized.</body></html>\r\n\r\n')
            status, _, _ = client.request("POST", "/app/login", {"user": "alice", "password": "secret"})
            self.assertEqual(status, 401)
            basic = {"Authorization": "Basic " + base64.b64encode(b"alice:secret").decode()}
            status, _, page = client.request("GET", "/app/", headers=basic)
            self.assertEqual(status, 404)
            self.assertIn(b"<h1>404 Error</h1>", page)
        finally:
            server.cleanup()


class Bans(unittest.TestCase):
    def test_failed_sign_ins_are_logged_as_web_logins_and_ban_the_address(self):
        server, _ = start_server(extra="<webapp>yes</webapp><banfailures>2</banfailures>", args=("-d",))
        try:
            client = Client(server.web_port)
            for _ in range(2):
                self.assertEqual(client.request("POST", "/app/login", {"user": "alice", "password": "bad"})[0], 401)
            log = server.read("stderr.log").decode("latin-1")
            self.assertEqual(log.count('login failed: service=web address=127.0.0.1 user="alice"'), 2, log[-2000:])
            # Banned: the next connection is closed before anything is read or answered.
            with self.assertRaises((http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError)):
                client.request("POST", "/app/login", {"user": "alice", "password": "secret"})
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
