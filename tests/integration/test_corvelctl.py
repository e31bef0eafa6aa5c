"""corvelctl against a real corveld: accounts it adds log in over FTP and on the
web, password and policy changes take effect within a turn, status agrees with the
status block, damaged files stay untouched, stop stops, and the password prompt
works on a real terminal."""
import base64
import ftplib
import hashlib
import json
import os
import pty
import select
import shutil
import socket
import ssl
import struct
import subprocess
import time
import unittest

from harness import BUILD_DIR, LOOPBACK, Server, wait_until

CTL = os.path.join(BUILD_DIR, "corvelctl")


def ctl(server, *args, stdin=None, timeout=30):
    """Runs corvelctl on the server's program directory; returns the CompletedProcess."""
    return subprocess.run([CTL, "--dir", server.dir, *args], input=stdin, env=server.env(), capture_output=True,
                          text=True, timeout=timeout)


def add_user(test, server, name, password, *extra):
    home = server.path("homes", name)
    os.makedirs(home, exist_ok=True)
    done = ctl(server, "user", "add", name, "--home", home, "--password-stdin", *extra, stdin=password + "\n")
    test.assertEqual(done.returncode, 0, done.stderr)
    return home


def ftp_login_works(port, user, password):
    ftp = ftplib.FTP()
    ftp.connect(LOOPBACK, port, timeout=10)
    try:
        return ftp.login(user, password).startswith("230")
    except ftplib.error_perm:
        return False
    finally:
        ftp.close()


def web_status_line(port, user, password):
    token = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
    with socket.create_connection((LOOPBACK, port), timeout=10) as s:
        s.sendall(("GET / HTTP/1.1\r\nHost: localhost\r\nAuthorization: Basic %s\r\n\r\n" % token).encode())
        data = b""
        deadline = time.monotonic() + 10
        while b"\r\n" not in data and time.monotonic() < deadline:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    return data.split(b"\r\n")[0]


def greeted_from(source, port):
    """Connects from the source address; the greeting's bytes, or b"" when the server
    closed the connection without one."""
    with socket.socket() as s:
        s.settimeout(10)
        s.bind((source, 0))
        s.connect((LOOPBACK, port))
        try:
            return s.recv(4096)
        except ConnectionResetError:
            return b""


def status_block(server):
    with open(os.path.join(server.runtime_dir, "CORVELFTP_STATUS"), "rb") as f:
        data = f.read()
    ftp, web, limit = struct.unpack_from("<HHH", data, 16)
    active, start = struct.unpack_from("<ii", data, 24)
    return {"ftp": ftp, "web": web, "limit": limit, "active": active, "start": start}


class ServerTest(unittest.TestCase):
    server_args = {}

    def setUp(self):
        self.server = Server(**self.server_args)
        self.addCleanup(self.server.cleanup)


class Accounts(ServerTest):
    def test_an_added_account_logs_in_over_ftp_and_on_the_web_within_a_turn(self):
        server = self.server
        home = server.path("homes", "alice")
        os.makedirs(home)
        done = ctl(server, "user", "add", "alice", "--home", home, "--rights", "all", "--password-stdin",
                   stdin="Open sesame\n")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Added user alice.", done.stdout)
        self.assertIn("The running server reloads ftpusers.xml", done.stdout)
        self.assertEqual(done.stderr, "")
        self.assertTrue(wait_until(lambda: ftp_login_works(server.ftp_port, "alice", "Open sesame"), timeout=5))
        self.assertEqual(web_status_line(server.web_port, "alice", "Open sesame"), b"HTTP/1.1 200 OK")
        listed = json.loads(ctl(server, "--json", "user", "list").stdout)
        alice = [u for u in listed if u["name"] == "alice"][0]
        self.assertEqual((alice["home"], alice["rights"], alice["disabled"]), (home, ["all"], False))

    def test_a_changed_password_works_and_the_old_one_fails(self):
        server = self.server
        add_user(self, server, "bob", "old-pw")
        self.assertTrue(wait_until(lambda: ftp_login_works(server.ftp_port, "bob", "old-pw"), timeout=5))
        done = ctl(server, "user", "passwd", "bob", "--password-stdin", stdin="new-pw\n")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(wait_until(lambda: ftp_login_works(server.ftp_port, "bob", "new-pw"), timeout=5))
        self.assertFalse(ftp_login_works(server.ftp_port, "bob", "old-pw"))

    def test_a_malformed_users_file_is_reported_and_left_byte_for_byte(self):
        server = self.server
        broken = b'<users><user username="a" password="b" work_dir="/c"></users>\n'
        with open(server.path("ftpusers.xml"), "wb") as f:
            f.write(broken)
        for args in (("user", "add", "carol", "--home", "/srv/carol", "--password-stdin"), ("user", "list")):
            done = ctl(server, *args, stdin="pw\n")
            self.assertEqual(done.returncode, 1)
            self.assertTrue(done.stderr.startswith("corvelctl: " + server.path("ftpusers.xml") + " cannot be read"),
                            done.stderr)
            self.assertEqual(done.stderr.count("\n"), 1)
            self.assertEqual(server.read("ftpusers.xml"), broken)

    def test_without_dir_the_program_directory_is_that_of_corvelctl(self):
        server = self.server
        add_user(self, server, "dora", "pw", "--rights", "read,write,0x100")
        shutil.copy2(CTL, server.path("corvelctl"))
        done = subprocess.run([server.path("corvelctl"), "user", "list"], env=server.env(), capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"\ndora +\S+/homes/dora +read,write,0x100 +no\n")


class Policy(ServerTest):
    def test_a_permit_list_admits_only_its_addresses_within_a_turn(self):
        server = self.server
        self.assertEqual(ctl(server, "policy", "mode", "permit").returncode, 0)
        done = ctl(server, "policy", "add", "127.0.0.1")
        self.assertEqual(done.returncode, 0, done.stderr)
        # Both changes are taken up on the same later turn; until then every address is
        # still greeted, so the refusal is what shows the turn has come.
        self.assertTrue(wait_until(lambda: greeted_from("127.0.0.2", server.ftp_port) == b"", timeout=5))
        self.assertTrue(greeted_from("127.0.0.1", server.ftp_port).startswith(b"220"))
        self.assertEqual(json.loads(ctl(server, "--json", "policy", "show").stdout),
                         {"mode": "permit", "patterns": ["127.0.0.1"]})
        # A pattern no address can match is refused and leaves the file.
        before = server.read("ftpaccess.xml")
        refused = ctl(server, "policy", "add", "127.0.0.0/8")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("'/'", refused.stderr)
        self.assertEqual(server.read("ftpaccess.xml"), before)


class Status(ServerTest):
    server_args = {"maxconn": 20}

    def test_status_agrees_with_the_status_block_with_one_session_open(self):
        server = self.server
        with socket.create_connection((LOOPBACK, server.ftp_port), timeout=10) as session:
            self.assertTrue(session.recv(4096).startswith(b"220"))
            self.assertTrue(wait_until(lambda: status_block(server)["active"] == 1, timeout=5))
            shown = json.loads(ctl(server, "--json", "status").stdout)
            block = status_block(server)
            self.assertEqual(shown["running"], True)
            self.assertEqual(shown["listenAddress"], "")
            self.assertEqual((shown["ftpPort"], shown["webPort"]), (server.ftp_port, server.web_port))
            self.assertEqual((shown["connectionLimit"], shown["ftpConnections"]), (20, 1))
            self.assertEqual(shown["startTimeUnix"], block["start"])
            self.assertTrue(0 <= shown["runningSeconds"] <= time.time() - block["start"] + 2)
            text = ctl(server, "status")
            self.assertEqual(text.returncode, 0)
            for line in ("CorvelFtp server:  running", "Listen address:    all interfaces",
                         "FTP port:          %d" % server.ftp_port, "Web port:          %d" % server.web_port,
                         "Connection limit:  20", "FTP connections:   1"):
                self.assertIn(line + "\n", text.stdout)
            self.assertRegex(text.stdout, r"Started: +\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d "
                                          r"\(running for \d+:\d\d:\d\d\)\n")


class Settings(unittest.TestCase):
    def test_a_refused_value_leaves_the_file_and_a_saved_one_keeps_unknown_elements(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                                      "<maxwebconn>7</maxwebconn></config>" % (server.ftp_port, server.web_port))
        before = server.read("ftpconfig.xml")
        refused = ctl(server, "settings", "set", "ftpport", "99999x")
        self.assertEqual(refused.returncode, 1)
        self.assertTrue(refused.stderr.startswith("corvelctl: ftpport: '99999x' is refused"), refused.stderr)
        self.assertEqual(server.read("ftpconfig.xml"), before)
        saved = ctl(server, "settings", "set", "maxconn", "10")
        self.assertEqual(saved.returncode, 0, saved.stderr)
        self.assertIn("restart the server", saved.stdout)
        text = server.read("ftpconfig.xml")
        self.assertIn(b"<maxconn>10</maxconn>", text)
        self.assertIn(b"<maxwebconn>7</maxwebconn>", text)
        # The server takes the new value at its next start.
        server.start()
        self.assertTrue(wait_until(lambda: status_block(server)["limit"] == 10, timeout=5))

    def test_extension_keys_are_checked_and_show_the_certificate_the_server_made(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><future>x</future>"
                                      "</config>" % (server.ftp_port, server.web_port))
        before = server.read("ftpconfig.xml")
        refused = ctl(server, "settings", "set", "banwindow", "0")
        self.assertEqual(refused.returncode, 1)
        self.assertEqual(refused.stderr, "corvelctl: banwindow: '0' is refused: a number of minutes from 1 to "
                                         "525600, digits only\n")
        self.assertEqual(server.read("ftpconfig.xml"), before)
        self.assertIn("\nmaxwebconn    (not set: 256)\n", ctl(server, "settings", "show").stdout)
        self.assertEqual(ctl(server, "settings", "set", "tls", "explicit").returncode, 0)
        self.assertIn("made by the server on its first start", ctl(server, "settings", "show").stdout)
        server.start()
        pem = server.path("corveld-cert.pem")
        self.assertTrue(wait_until(lambda: os.path.exists(pem), timeout=5))
        with open(pem) as f:
            digest = hashlib.sha256(ssl.PEM_cert_to_DER_cert(f.read())).hexdigest().upper()
        fingerprint = ":".join(digest[i:i + 2] for i in range(0, 64, 2))
        shown = json.loads(ctl(server, "--json", "settings", "show").stdout)
        self.assertEqual((shown["tls"], shown["tlsCertificate"]["fingerprint"]), ("explicit", fingerprint))
        self.assertEqual(ctl(server, "settings", "unset", "tls").returncode, 0)
        text = server.read("ftpconfig.xml")
        self.assertNotIn(b"<tls>", text)
        self.assertIn(b"<future>x</future>", text)
        self.assertNotIn("SHA-256", ctl(server, "settings", "show").stdout)


class Stop(unittest.TestCase):
    def test_stop_stops_the_server_and_without_one_stop_and_status_say_so(self):
        server = Server()
        self.addCleanup(server.cleanup)
        done = ctl(server, "stop")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(server.process.wait(10), 0)

        stopped = ctl(server, "stop")
        self.assertEqual((stopped.returncode, stopped.stderr), (1, "corvelctl: no server is running\n"))
        status = ctl(server, "status")
        self.assertEqual((status.returncode, status.stdout), (0, "CorvelFtp server: not running\n"))
        self.assertEqual(json.loads(ctl(server, "--json", "status").stdout), {"running": False})
        reload_ = ctl(server, "reload", "users")
        self.assertEqual((reload_.returncode, reload_.stderr), (1, "corvelctl: no server is running\n"))
        # The refused stop left no signal behind for the next server to take.
        server.start()
        time.sleep(0.5)
        self.assertIsNone(server.process.poll())
        self.assertEqual(ctl(server, "status").stdout.splitlines()[0], "CorvelFtp server:  running")


class TerminalPrompt(unittest.TestCase):
    def setUp(self):
        self.server = Server(start=False)
        self.addCleanup(self.server.cleanup)

    def run_on_terminal(self, answers, *args):
        """Runs corvelctl with a pseudo-terminal as its standard streams, typing each
        answer once its prompt shows; returns (exit status, everything shown)."""
        master, slave = pty.openpty()
        process = subprocess.Popen([CTL, "--dir", self.server.dir, *args], stdin=slave, stdout=slave, stderr=slave,
                                   env=self.server.env(), start_new_session=True)
        os.close(slave)
        shown = b""
        try:
            pending = list(answers)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline:
                if pending and shown.rstrip().endswith(b"assword:"):
                    os.write(master, pending.pop(0).encode() + b"\n")
                    shown += b"<typed>"
                ready, _, _ = select.select([master], [], [], 0.2)
                if ready:
                    try:
                        chunk = os.read(master, 4096)
                    except OSError:  # the other side is closed
                        break
                    if not chunk:
                        break
                    shown += chunk
                elif process.poll() is not None:
                    break
            return process.wait(10), shown.decode(errors="replace")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait(5)
            os.close(master)

    def test_the_password_is_asked_twice_without_echo(self):
        home = self.server.path("h")
        status, shown = self.run_on_terminal(["typed-secret", "typed-secret"], "user", "add", "erin", "--home", home)
        self.assertEqual(status, 0, shown)
        self.assertIn("Password: <typed>", shown)
        self.assertIn("Verify password: <typed>", shown)
        self.assertNotIn("typed-secret", shown)
        self.assertIn("Added user erin.", shown)
        self.assertIn(b'username="erin"', self.server.read("ftpusers.xml"))

    def test_two_different_answers_are_refused(self):
        status, shown = self.run_on_terminal(["first", "second"], "user", "add", "fay", "--home", "/srv/fay")
        self.assertEqual(status, 1, shown)
        self.assertIn("corvelctl: Verify Password isn't equal with Password", shown)
        self.assertFalse(os.path.exists(self.server.path("ftpusers.xml")))


if __name__ == "__main__":
    unittest.main()
