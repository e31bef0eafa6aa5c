"""Hostile clients against the real server: every spelling of a path escape on both
ports, symlinks, FTP bounce, data-connection theft, markup and header injection on
the web pages, password guessing, and request smuggling on the web port."""
import base64
import os
import socket
import threading
import time
import unittest

from harness import (LOOPBACK, Control, Server, connect_tcp, digest, fetch, passive_data, recv_all,
                     user_element, users_document)

FULL = 0x7001F
SECRET = b"top secret outside the home"
COMPLETE = b"226 Transfer complete.\r\n"
NOT_FOUND_START = b"HTTP/1.1 404 Error\r\n"
UNAUTHORIZED_START = b"HTTP/1.1 401 Unauthorized\r\n"


def basic(user, password):
    return "Authorization: Basic %s\r\n" % base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


def exchange(port, raw, timeout=10, half_close=False, source=None):
    """Sends raw bytes (from the local address source, when given; then ends its
    sending side when asked); returns everything received until the server closes."""
    if isinstance(raw, str):
        raw = raw.encode("latin-1")
    with connect_tcp(port, source, timeout) as s:
        s.sendall(raw)
        if half_close:
            s.shutdown(socket.SHUT_WR)
        deadline = time.monotonic() + timeout
        data = b""
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("still open; have %r" % data[:200])
            s.settimeout(remaining)
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                return data
            if not chunk:
                return data
            data += chunk


class SecurityBase(unittest.TestCase):
    """One server with alice at home/, a secret beside the home, and links out of it."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(start=False, maxconn=200)
        cls.home = cls.server.path("home")
        cls.outside = cls.server.path("outside")
        os.makedirs(os.path.join(cls.home, "sub"))
        os.makedirs(cls.outside)
        with open(os.path.join(cls.outside, "secret.txt"), "wb") as f:
            f.write(SECRET)
        with open(os.path.join(cls.home, "f.txt"), "wb") as f:
            f.write(b"data")
        # Links the administrator placed inside the home, pointing out of it.
        os.symlink(cls.outside, os.path.join(cls.home, "linkdir"))
        os.symlink(os.path.join(cls.outside, "secret.txt"), os.path.join(cls.home, "linkfile"))
        cls.server.write("ftpusers.xml", users_document(
            user_element("alice", digest("pw"), cls.home, privilege=FULL)))
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def session(self):
        c = Control(self.server.ftp_port)
        c.reply()
        self.assertTrue(c.login("alice", "pw").startswith(b"230"))
        self.addCleanup(c.close)
        return c

    def retr(self, c, name):
        return fetch(c, "RETR " + name)

    def list(self, c, name):
        return fetch(c, "LIST " + name)

    def web(self, target, extra=""):
        return exchange(self.server.web_port, "GET /%s HTTP/1.1\r\n%s%s\r\n" % (target, basic("alice", "pw"), extra))

    def assert_outside_untouched(self):
        self.assertEqual(sorted(os.listdir(self.outside)), ["secret.txt"])
        with open(os.path.join(self.outside, "secret.txt"), "rb") as f:
            self.assertEqual(f.read(), SECRET)


class FtpPathEscapes(SecurityBase):
    ESCAPES = ["../outside/secret.txt", "..\\outside\\secret.txt", "..\\../outside/secret.txt",
               "sub/../../outside/secret.txt", "sub\\..\\..\\outside\\secret.txt", "/../outside/secret.txt",
               "\\..\\outside\\secret.txt", "./.././outside/secret.txt", "sub/./../.././outside/secret.txt",
               "..//outside//secret.txt", "../" * 40 + "outside/secret.txt"]
    # Not ".." to the server: plain names (which do not exist) inside the home.
    LITERALS = ["%2e%2e/outside/secret.txt", "..%2foutside%2fsecret.txt", "..%5coutside%5csecret.txt",
                ".../outside/secret.txt", ". ./outside/secret.txt", ".. /outside/secret.txt"]

    def test_no_spelling_of_dot_dot_reads_outside_the_home(self):
        c = self.session()
        for path in self.ESCAPES + self.LITERALS:
            with self.subTest(path=path):
                opening, body, _ = self.retr(c, path)
                self.assertTrue(opening.startswith(b"550 "), opening)
                self.assertNotIn(SECRET, body)
                self.assertTrue(c.command("SIZE " + path).startswith(b"550 "))
                # Escapes clamp to the home: the name is looked up there.
                self.assertNotIn(str(len(SECRET)).encode(), c.command("SIZE " + path))

    def test_absolute_paths_are_inside_the_home(self):
        c = self.session()
        for path in (self.outside + "/secret.txt", "/etc/passwd", "//etc//passwd", "\\etc\\passwd",
                     "C:\\etc\\passwd", "c:/etc/passwd", "~/../outside/secret.txt", "~root/.profile"):
            with self.subTest(path=path):
                opening, body, _ = self.retr(c, path)
                self.assertTrue(opening.startswith(b"550 "), opening)
                self.assertEqual(body, b"")
        self.assertEqual(self.retr(c, "/f.txt")[1:], (b"data", COMPLETE))
        self.assertEqual(self.retr(c, "\\sub\\..\\f.txt")[1:], (b"data", COMPLETE))

    def test_no_spelling_of_dot_dot_writes_or_deletes_outside_the_home(self):
        c = self.session()
        for path in self.ESCAPES:
            with self.subTest(path=path):
                self.assertTrue(c.command("DELE " + path).startswith(b"550 "))
                self.assertTrue(c.command("RNFR " + path).startswith(b"550 "))
                self.assertTrue(c.command("MKD " + path.replace("secret.txt", "made")).startswith(b"550 "))
                self.assertTrue(c.command("RMD " + path.replace("/secret.txt", "")).startswith(b"550 "))
                data = passive_data(c)
                opening = c.command("STOR " + path.replace("secret.txt", "planted.txt"))
                if opening.startswith(b"150"):
                    data.sendall(b"planted")
                    data.close()
                    self.assertEqual(c.reply(), COMPLETE)
                else:
                    data.close()
        # A rename may not take a file out of the home either.
        self.assertTrue(c.command("RNFR f.txt").startswith(b"350"))
        self.assertTrue(c.command("RNTO ../outside/stolen.txt").startswith(b"550 "))
        self.assert_outside_untouched()

    def test_cwd_never_leaves_the_home(self):
        c = self.session()
        for path in self.ESCAPES:
            c.command("CWD " + path.replace("/secret.txt", "").replace("\\secret.txt", ""))
            self.assertEqual(self.list(c, "")[1].count(b"secret.txt"), 0, path)
            c.command("CWD /")
        c.command("CWD sub")
        for _ in range(5):
            c.command("CDUP")
        self.assertEqual(c.command("PWD"), b'257 "/" is current directory.\r\n')
        self.assertNotIn(b"secret.txt", self.list(c, "")[1])

    def test_overlong_and_odd_paths_are_refused_and_the_session_goes_on(self):
        c = self.session()
        for path in ("a" * 5000, "../" * 1500, "/".join(["sub"] * 1200), "a/" * 2000 + "../" * 2000 + "f.txt",
                     "\x01\x02\x7f", "\xff" * 300):
            with self.subTest(path=path[:20]):
                c.send(("SIZE " + path + "\r\n").encode("latin-1"))
                reply = c.reply()
                self.assertTrue(reply.startswith(b"550 ") or reply.startswith(b"500 "), reply[:80])
        # A NUL byte ends the command line: what follows it is never part of the path.
        c.send(b"SIZE f.txt\x00/../../outside/secret.txt\r\n")
        self.assertEqual(c.reply(), b"213 4\r\n")
        self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")


class Symlinks(SecurityBase):
    """Decision: a link inside the home is an ordinary entry and is followed, even
    when it points outside (the administrator put it there; FTP offers no command to
    create one). What a client may never do through a link is destroy what it
    points at: DELE, RMD and RNFR act on the link itself."""

    def test_links_inside_the_home_are_followed_on_both_ports(self):
        c = self.session()
        self.assertEqual(self.retr(c, "linkfile")[1:], (SECRET, COMPLETE))
        self.assertEqual(self.retr(c, "linkdir/secret.txt")[1:], (SECRET, COMPLETE))
        self.assertIn(b" secret.txt\r\n", self.list(c, "linkdir")[1])
        self.assertTrue(self.web("download.html?path=linkfile").endswith(b"\r\n\r\n" + SECRET))
        self.assertIn(b">secret.txt</a>", self.web("list.html?path=linkdir"))

    def test_dot_dot_after_a_link_stays_inside_the_home(self):
        # ".." is taken on the text of the path, never on the link's target.
        c = self.session()
        opening, body, _ = self.list(c, "linkdir/..")
        self.assertIn(b" f.txt\r\n", body)
        self.assertNotIn(b" outside\r\n", body)
        self.assertTrue(c.command("SIZE linkdir/../../outside/secret.txt").startswith(b"550 "))

    def test_deleting_or_renaming_a_link_leaves_its_target_alone(self):
        os.symlink(os.path.join(self.outside, "secret.txt"), os.path.join(self.home, "victimlink"))
        os.symlink(self.outside, os.path.join(self.home, "victimdir"))
        c = self.session()
        self.assertTrue(c.command("RMD victimdir").startswith(b"550 "))
        self.assertTrue(c.command("RNFR victimlink").startswith(b"350"))
        self.assertEqual(c.command("RNTO renamedlink"), b"250 RNTO command successful.\r\n")
        self.assertTrue(os.path.islink(os.path.join(self.home, "renamedlink")))
        self.assertEqual(c.command("DELE renamedlink"), b"250 command ok \r\n")
        self.assertFalse(os.path.lexists(os.path.join(self.home, "renamedlink")))
        self.assert_outside_untouched()


class WebPathEscapes(SecurityBase):
    def test_no_spelling_of_dot_dot_reads_outside_the_home(self):
        for value in ("..", "../outside/secret.txt", "%2e%2e/outside/secret.txt", "%2E%2E%2Foutside%2Fsecret.txt",
                      "..%2foutside%2fsecret.txt", "..%5coutside%5csecret.txt", "..\\outside\\secret.txt",
                      "sub/../../outside/secret.txt", "sub%5c..%5c..%5coutside/secret.txt", "%252e%252e/outside",
                      "/../outside/secret.txt", "....//outside/secret.txt", "." + "./" * 100 + "outside/secret.txt"):
            for route in ("download.html", "list.html"):
                with self.subTest(route=route, value=value):
                    reply = self.web("%s?path=%s" % (route, value))
                    self.assertTrue(reply.startswith(NOT_FOUND_START) or reply.startswith(UNAUTHORIZED_START),
                                    reply[:60])
                    self.assertNotIn(SECRET, reply)

    def test_absolute_paths_nul_bytes_and_overlong_values(self):
        for value in (self.outside + "/secret.txt", "/etc/passwd", "%2fetc%2fpasswd", "%00", "linkdir%00",
                      "x" * 300, "%" * 300, "%zz%"):
            with self.subTest(value=value[:30]):
                reply = self.web("download.html?path=" + value)
                self.assertTrue(reply.startswith(NOT_FOUND_START) or reply.startswith(UNAUTHORIZED_START),
                                reply[:60])
                self.assertNotIn(b"root:", reply)
                self.assertNotIn(SECRET, reply)
        self.assertTrue(self.web("download.html?path=%2ff.txt").endswith(b"\r\n\r\ndata"))
        # A NUL byte in the value names no file at all (cut there, it would name another).
        reply = self.web("download.html?path=f.txt%00/../../outside/secret.txt")
        self.assertTrue(reply.startswith(b"HTTP/1.1 404 Error\r\n"), reply[:60])
        self.assertNotIn(SECRET, reply)
        # A request line past the line limit is not answered at all.
        self.assertEqual(self.web("download.html?path=" + "x" * 5000), b"")


class DataConnectionAbuse(SecurityBase):
    def test_port_to_any_other_address_connects_nowhere(self):
        listener = socket.socket()
        listener.bind((LOOPBACK, 0))
        listener.listen(5)
        self.addCleanup(listener.close)
        port = listener.getsockname()[1]
        hi, lo = port // 256, port % 256
        c = self.session()
        for address in ("0,0,0,0", "127,0,0,2", "255,255,255,255", "383,0,0,1", "127,0,256,1",
                        "127,0,0,257", "10,0,0,1", "127,1", "127,0,1"):
            with self.subTest(address=address):
                reply = c.command("PORT %s,%d,%d" % (address, hi, lo))
                self.assertIn(reply, (b"425 Can't open data connection.\r\n",
                                      b"501 Syntax error in parameters or arguments.\r\n"))
                self.assertEqual(c.command("RETR f.txt"), b"425 Can't open data connection.\r\n")
        listener.settimeout(0.5)
        self.assertRaises(socket.timeout, listener.accept)

    def test_port_to_a_privileged_port_of_the_client_itself_is_allowed(self):
        # Decision: PORT may name any port of the client's own address, low ones
        # included. The connection reaches only the client, which could open it
        # itself, so no third party can be attacked through it.
        listener = socket.socket()
        self.addCleanup(listener.close)
        for port in range(1023, 900, -1):
            try:
                listener.bind((LOOPBACK, port))
                break
            except OSError:
                continue
        else:
            self.skipTest("no free privileged port")
        if listener.getsockname()[1] >= 1024:
            self.skipTest("cannot bind a privileged port")
        listener.listen(1)
        port = listener.getsockname()[1]
        c = self.session()
        self.assertEqual(c.command("PORT 127,0,0,1,%d,%d" % (port // 256, port % 256)),
                         b"200 PORT Command successful.\r\n")
        conn, _ = listener.accept()
        c.send("RETR f.txt\r\n")
        self.assertTrue(c.reply().startswith(b"150"))
        self.assertEqual(recv_all(conn), b"data")
        conn.close()
        self.assertEqual(c.reply(), COMPLETE)

    def test_many_thieves_on_a_passive_port_never_get_the_data(self):
        c = self.session()
        reply = c.command("PASV")
        numbers = reply[reply.index(b"(") + 1:reply.index(b")")].split(b",")
        port = int(numbers[4]) * 256 + int(numbers[5])
        for i in range(10):
            thief = socket.socket()
            thief.bind(("127.0.0.%d" % (2 + i), 0))
            thief.connect((LOOPBACK, port))
            thief.settimeout(5)
            self.assertEqual(thief.recv(1), b"")
            thief.close()
        data = socket.create_connection((LOOPBACK, port), timeout=10)
        c.send("RETR f.txt\r\n")
        self.assertTrue(c.reply().startswith(b"150"))
        self.assertEqual(recv_all(data), b"data")
        data.close()
        self.assertEqual(c.reply(), COMPLETE)


class WebInjection(SecurityBase):
    NAMES = ['<script>alert(1)<\\script>.txt', '"><img src=x onerror=alert(1)>.txt', "it's & <b>.txt"]

    def test_file_names_cannot_inject_markup_into_the_listing(self):
        folder = os.path.join(self.home, "inject")
        os.makedirs(folder, exist_ok=True)
        for name in self.NAMES:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"x")
        os.makedirs(os.path.join(folder, "<script>dir</script>"), exist_ok=True)
        page = self.web("list.html?path=inject")
        self.assertTrue(page.startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertNotIn(b"<script", page)
        self.assertNotIn(b"<img src=x", page)
        self.assertNotIn(b"<b>.txt", page)
        self.assertIn(b"&lt;script&gt;alert(1)&lt;\\script&gt;.txt</a>", page)
        # Links carry every byte percent-encoded, so no quote can end the attribute.
        for href in page.split(b'href="')[1:]:
            self.assertRegex(href.split(b'"')[0], rb"^(list|download|config)\.html(\?path=(%[0-9A-F]{2})*)?$")

    def test_download_name_cannot_add_header_lines(self):
        folder = os.path.join(self.home, "hdr")
        os.makedirs(folder, exist_ok=True)
        name = 'a"\r\nSet-Cookie: owned=1\r\n\r\n<html>\nx.txt'
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"payload")
        target = "download.html?path=hdr/" + "".join("%%%02X" % b for b in name.encode())
        reply = self.web(target)
        head, _, body = reply.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertEqual(body, b"payload")
        for line in head.split(b"\r\n"):
            self.assertFalse(line.lower().startswith(b"set-cookie"), line)
        self.assertNotIn(b"\n", head.replace(b"\r\n", b""))
        self.assertIn(b'filename="aset-cookie: owned=1<html>x.txt"', head)


class PasswordGuessing(SecurityBase):
    def test_tenth_failure_closes_but_a_new_connection_may_try_again(self):
        # Each connection gets ten tries (every failure answered a second later); the
        # three run side by side so the test stays short.
        def ten_failures():
            with Control(self.server.ftp_port, timeout=30) as c:
                c.reply()
                for _ in range(9):
                    c.command("USER alice")
                    self.assertEqual(c.command("PASS wrong"), b"530 Login incorrect.\r\n")
                c.command("USER alice")
                c.send("PASS wrong\r\n")
                self.assertEqual(c.read_all_until_closed(), b"530 Login incorrect.\r\n")
        run_side_by_side([ten_failures] * 3)
        with Control(self.server.ftp_port) as c:
            c.reply()
            self.assertTrue(c.login("alice", "pw").startswith(b"230"))

    def test_failed_web_logins_do_not_lock_the_account(self):
        # From three addresses, so that each holds fewer guesses at once than its share.
        def guess(source):
            reply = exchange(self.server.web_port, "GET / HTTP/1.1\r\n%s\r\n" % basic("alice", "guess"),
                             source=source)
            self.assertTrue(reply.startswith(UNAUTHORIZED_START))
        run_side_by_side([lambda i=i: guess("127.0.5.%d" % (i % 3 + 1)) for i in range(30)])
        self.assertTrue(self.web("").startswith(b"HTTP/1.1 200 OK"))


def run_side_by_side(calls, timeout=60):
    """Runs the calls on threads at once; re-raises the first failure."""
    errors = []

    def run(call):
        try:
            call()
        except BaseException as error:  # noqa: B902 - carried to the test's thread
            errors.append(error)
    threads = [threading.Thread(target=run, args=(call,)) for call in calls]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout)
    if errors:
        raise errors[0]
    if any(thread.is_alive() for thread in threads):
        raise TimeoutError("a call did not finish")


class WebRequestSmuggling(SecurityBase):
    def answers(self, reply):
        return reply.count(b"HTTP/1.1 200 OK") + reply.count(b"HTTP/1.1 404") + reply.count(b"HTTP/1.1 401")

    def password_still_works(self):
        self.assertTrue(self.web("config.html").startswith(b"HTTP/1.1 200 OK"))

    def test_only_the_first_of_pipelined_requests_is_answered(self):
        auth = basic("alice", "pw")
        second = "GET /update_password.html?new_pwd=evil&new_pwd_confirm=evil HTTP/1.1\r\n%s\r\n" % auth
        for first in ("GET /download.html?path=f.txt HTTP/1.1\r\n%s\r\n" % auth,
                      "GET /download.html?path=f.txt HTTP/1.1\n%s\n" % auth.replace("\r\n", "\n"),
                      "POST /config.html HTTP/1.1\r\n%sContent-Length: 0\r\n\r\n" % auth,
                      "GET /download.html?path=f.txt HTTP/1.1\r\n%sContent-Length: 10\r\n\r\n" % auth):
            with self.subTest(first=first[:30]):
                reply = exchange(self.server.web_port, first + second)
                self.assertEqual(self.answers(reply), 1, reply[:200])
                self.assertNotIn(b"Update Successfully", reply)
        self.password_still_works()

    def test_conflicting_content_lengths_give_one_answer(self):
        auth = basic("alice", "pw")
        smuggled = "GET /update_password.html?new_pwd=evil&new_pwd_confirm=evil HTTP/1.1\r\n%s\r\n" % auth
        for lengths in ((0, len(smuggled)), (len(smuggled), 0), (5, 5000)):
            with self.subTest(lengths=lengths):
                reply = exchange(self.server.web_port,
                                 "POST /config.html HTTP/1.1\r\n%sContent-Length: %d\r\nContent-Length: %d\r\n\r\n%s"
                                 % (auth, lengths[0], lengths[1], smuggled), half_close=True)
                self.assertLessEqual(self.answers(reply), 1, reply[:200])
                self.assertNotIn(b"Update Successfully", reply)
        self.password_still_works()

    def test_chunked_bodies_are_not_decoded(self):
        auth = basic("alice", "pw")
        form = "new_pwd=evil&new_pwd_confirm=evil"
        reply = exchange(self.server.web_port,
                         "POST /update_password.html HTTP/1.1\r\n%sTransfer-Encoding: chunked\r\n\r\n%x\r\n%s\r\n0\r\n\r\n"
                         % (auth, len(form), form))
        self.assertEqual(self.answers(reply), 1)
        self.assertNotIn(b"Update Successfully", reply)
        self.password_still_works()

    def test_nul_bytes_and_bare_carriage_returns_in_the_request_line(self):
        auth = basic("alice", "pw").encode()
        for line in (b"GET /download.html?path=f.txt\x00/../../outside/secret.txt HTTP/1.1\r\n",
                     b"GET /download.html?path=../outside/secret.txt\x00 HTTP/1.1\r\n",
                     b"GET /\x00download.html?path=f.txt HTTP/1.1\r\n",
                     b"GET /download.html?path=f.txt HTTP/1.1\rGET /download.html?path=linkfile HTTP/1.1\r\n",
                     b"\x00\x00\x00\r\n"):
            with self.subTest(line=line):
                reply = exchange(self.server.web_port, line + auth + b"\r\n")
                self.assertLessEqual(self.answers(reply), 1)
                self.assertNotIn(SECRET, reply)
        self.assertTrue(self.web("download.html?path=f.txt").endswith(b"\r\n\r\ndata"))


if __name__ == "__main__":
    unittest.main()
