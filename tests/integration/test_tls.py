"""FTP over TLS and HTTPS against real clients: curl, lftp, Python's ftplib, and the
server's own protocol rules (clear text refused, nothing injected before AUTH TLS
executed, a failed handshake ending only that session, data sessions that must
resume the control session)."""
import ftplib
import hashlib
import os
import shutil
import socket
import ssl
import subprocess
import time
import unittest

from harness import LOOPBACK, Control, Server, digest, recv_all, user_element, users_document, wait_until

FULL = 0x7001F
PAYLOAD = os.urandom(3 << 20) + b"end"


def client_context():
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


class ReusingFtpTls(ftplib.FTP_TLS):
    """FTP_TLS whose data connections resume the control connection's session, as
    curl, lftp and FileZilla do (the standard library's class does not)."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


def tls_server(mode="required", extra="", start=True, args=("/nontservice",)):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(os.path.join(home, "sub"))
    with open(os.path.join(home, "big.bin"), "wb") as f:
        f.write(PAYLOAD)
    with open(os.path.join(home, "keep.txt"), "wb") as f:
        f.write(b"keep me")
    server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home, privilege=FULL)))
    server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                 "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg><tls>%s</tls>%s</config>"
                 % (server.ftp_port, server.web_port, mode, extra))
    if start:
        server.start(args=args)
    return server, home


class RealClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = tls_server("required", "<webtls>yes</webtls>", args=("-d",))

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def url(self, path=""):
        return "ftp://127.0.0.1:%d/%s" % (self.server.ftp_port, path)

    def curl(self, *args):
        return subprocess.run(["curl", "-sS", "--ssl-reqd", "-k", "-u", "alice:pw", "--max-time", "30", *args],
                              capture_output=True, timeout=60)

    def test_the_self_signed_certificate_and_its_fingerprint(self):
        key = self.server.path("corveld-key.pem")
        self.assertEqual(os.stat(key).st_mode & 0o777, 0o600)
        pem = self.server.read("corveld-cert.pem")
        der = ssl.PEM_cert_to_DER_cert(pem.decode())
        fingerprint = ":".join("%02X" % b for b in hashlib.sha256(der).digest())
        log = self.server.read("stderr.log").decode()
        self.assertIn("made a self-signed TLS certificate", log)
        self.assertIn("SHA-256 fingerprint " + fingerprint, log)

    def test_curl_downloads_uploads_and_lists_passively(self):
        got = self.curl(self.url("big.bin"))
        self.assertEqual(got.returncode, 0, got.stderr)
        self.assertEqual(got.stdout, PAYLOAD)
        source = self.server.path("upload-source.bin")
        with open(source, "wb") as f:
            f.write(PAYLOAD[:500000])
        put = self.curl("-T", source, self.url("sub/up.bin"))
        self.assertEqual(put.returncode, 0, put.stderr)
        with open(os.path.join(self.home, "sub", "up.bin"), "rb") as f:
            self.assertEqual(f.read(), PAYLOAD[:500000])
        listing = self.curl(self.url())
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertIn(b" big.bin", listing.stdout)
        # Clear text: the login itself is refused.
        clear = subprocess.run(["curl", "-sS", "-u", "alice:pw", "--max-time", "20", self.url("keep.txt")],
                               capture_output=True, timeout=60)
        self.assertNotEqual(clear.returncode, 0)
        self.assertNotIn(b"keep me", clear.stdout)

    def test_curl_over_https_gets_the_same_bytes(self):
        got = subprocess.run(["curl", "-sSk", "--max-time", "30", "-u", "alice:pw",
                              "https://127.0.0.1:%d/download.html?path=big.bin" % self.server.web_port],
                             capture_output=True, timeout=60)
        self.assertEqual(got.returncode, 0, got.stderr)
        self.assertEqual(got.stdout, PAYLOAD)
        page = subprocess.run(["curl", "-sSk", "--max-time", "30", "-u", "alice:pw", "-i",
                               "https://127.0.0.1:%d/list.html" % self.server.web_port],
                              capture_output=True, timeout=60)
        self.assertTrue(page.stdout.startswith(b"HTTP/1.1 200 OK\r\npragam: no-cache\r\n"))
        self.assertIn(b"download.html?path=", page.stdout)
        # HTTPS only: a clear-text request gets no answer.
        with socket.create_connection((LOOPBACK, self.server.web_port), timeout=10) as s:
            s.sendall(b"GET / HTTP/1.1\r\n\r\n")
            try:
                answer = recv_all(s, 40)
            except ConnectionResetError:
                answer = b""
            self.assertFalse(answer.startswith(b"HTTP/1.1"))

    @unittest.skipUnless(shutil.which("lftp"), "lftp is not installed")
    def test_lftp_with_forced_tls_and_protected_data(self):
        script = ("set ssl:verify-certificate no; set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                  "set net:max-retries 1; set net:timeout 20; "
                  "open -u alice,pw -p %d 127.0.0.1; cat keep.txt; mkdir -p lf; put %s -o lf/copy.bin; ls lf"
                  % (self.server.ftp_port, self.server.path("home", "big.bin")))
        run = subprocess.run(["lftp", "-c", script], capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(b"keep me", run.stdout)
        self.assertIn(b" copy.bin", run.stdout)
        with open(os.path.join(self.home, "lf", "copy.bin"), "rb") as f:
            self.assertEqual(f.read(), PAYLOAD)

    def test_ftplib_with_prot_p_and_session_reuse(self):
        ftp = ReusingFtpTls(context=client_context())
        ftp.connect(LOOPBACK, self.server.ftp_port, timeout=20)
        try:
            ftp.login("alice", "pw")  # sends AUTH TLS first
            ftp.prot_p()
            chunks = []
            ftp.retrbinary("RETR big.bin", chunks.append)
            self.assertEqual(b"".join(chunks), PAYLOAD)
            self.assertIn("keep.txt", "\n".join(ftp.nlst()))
        finally:
            ftp.close()
        # The standard class does not resume the session: refused unless tlsreuse is no.
        plain = ftplib.FTP_TLS(context=client_context())
        plain.connect(LOOPBACK, self.server.ftp_port, timeout=20)
        try:
            plain.login("alice", "pw")
            plain.prot_p()
            with self.assertRaises(ftplib.error_perm) as refused:
                plain.nlst()
            self.assertIn("session reuse required", str(refused.exception))
            # A clear data connection is refused where TLS is required.
            self.assertEqual(plain.sendcmd("PBSZ 0"), "200 PBSZ=0")
            with self.assertRaises(ftplib.error_perm) as clear:
                plain.sendcmd("PROT C")
            self.assertTrue(str(clear.exception).startswith("534"))
        finally:
            plain.close()


class ProtocolRules(unittest.TestCase):
    def setUp(self):
        self.server, self.home = tls_server("required")
        self.addCleanup(self.server.cleanup)

    def protected(self, control):
        """Does AUTH TLS on a Control; returns the TLS socket."""
        self.assertEqual(control.command("AUTH TLS"), b"234 Proceed with negotiation.\r\n")
        return client_context().wrap_socket(control.sock, server_hostname="localhost")

    def test_before_tls_only_the_tls_and_session_commands_go(self):
        with Control(self.server.ftp_port) as c:
            c.reply()
            self.assertEqual(c.command("USER alice"), b"530 This server requires TLS: use AUTH TLS first.\r\n")
            self.assertEqual(c.command("PASS pw"), b"530 This server requires TLS: use AUTH TLS first.\r\n")
            self.assertEqual(c.command("PBSZ 0"), b"503 Send AUTH TLS first.\r\n")
            self.assertEqual(c.command("AUTH KERBEROS"), b"504 Security mechanism not understood.\r\n")
            self.assertEqual(c.command("FEAT"), b"211-Features:\r\n AUTH TLS\r\n PBSZ\r\n PROT\r\n211 End\r\n")
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")

    def test_clear_text_injected_behind_auth_is_never_executed(self):
        with Control(self.server.ftp_port) as c:
            c.reply()
            # One write: AUTH TLS and commands an attacker on the path appended.
            c.send("AUTH TLS\r\nUSER alice\r\nPASS pw\r\nDELE keep.txt\r\n")
            self.assertEqual(c.reply(), b"234 Proceed with negotiation.\r\n")
            tls = client_context().wrap_socket(c.sock, server_hostname="localhost")
            tls.sendall(b"DELE keep.txt\r\n")
            self.assertEqual(tls.recv(1024), b"530 Not logged in.\r\n")  # no login was injected either
            tls.close()
        self.assertTrue(os.path.exists(os.path.join(self.home, "keep.txt")))

    def test_a_bad_or_vanished_handshake_ends_only_that_session(self):
        other = Control(self.server.ftp_port)
        self.addCleanup(other.close)
        other.reply()
        # Clear text after AUTH TLS, then a client that leaves mid-handshake.
        with Control(self.server.ftp_port) as c:
            c.reply()
            c.command("AUTH TLS")
            c.send("USER alice\r\n")
            self.assertNotIn(b"331", c.read_all_until_closed(timeout=40))  # a TLS alert at most
        with Control(self.server.ftp_port) as c:
            c.reply()
            c.command("AUTH TLS")
            c.sock.sendall(b"\x16\x03\x01\x00\x50\x01")  # the start of a ClientHello, then gone
        # The server still serves, and the other session was untouched.
        self.assertEqual(other.command("NOOP"), b"200 Command okay\r\n")
        with Control(self.server.ftp_port) as c:
            self.assertTrue(c.reply().startswith(b"220"))


class CipherSuites(unittest.TestCase):
    def test_tls_1_2_offers_only_aead_suites_on_both_ports(self):
        server, _ = tls_server("explicit", "<webtls>yes</webtls>")
        self.addCleanup(server.cleanup)
        every = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        every.set_ciphers("ALL:@SECLEVEL=0")
        names = [c["name"] for c in every.get_ciphers() if c["protocol"] == "TLSv1.2"]
        self.assertGreater(len(names), 10)

        def accepts(name):
            context = client_context()
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.set_ciphers(name + ":@SECLEVEL=0")
            with socket.create_connection((LOOPBACK, server.web_port), timeout=10) as raw:
                try:
                    with context.wrap_socket(raw) as tls:
                        return tls.cipher()[0] == name
                except (ssl.SSLError, OSError):
                    return False

        accepted = [name for name in names if accepts(name)]
        self.assertIn("ECDHE-ECDSA-AES128-GCM-SHA256", accepted)
        self.assertEqual([n for n in accepted if not ("GCM" in n or "CHACHA20" in n)], [])
        # The FTP port uses the same suites: a CBC suite with SHA-1 fails AUTH TLS's handshake.
        with Control(server.ftp_port) as c:
            c.reply()
            self.assertTrue(c.command("AUTH TLS").startswith(b"234"))
            context = client_context()
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.set_ciphers("ECDHE-ECDSA-AES128-SHA:@SECLEVEL=0")
            with self.assertRaises((ssl.SSLError, OSError)):
                context.wrap_socket(c.sock).close()


class ExplicitMode(unittest.TestCase):
    def test_clear_sessions_keep_working_and_tlsreuse_no_lets_plain_ftplib_in(self):
        server, home = tls_server("explicit", "<tlsreuse>no</tlsreuse>")
        self.addCleanup(server.cleanup)
        clear = ftplib.FTP()
        clear.connect(LOOPBACK, server.ftp_port, timeout=20)
        self.assertTrue(clear.login("alice", "pw").startswith("230"))
        self.assertIn("keep.txt", "\n".join(clear.nlst()))
        clear.close()
        plain = ftplib.FTP_TLS(context=client_context())
        plain.connect(LOOPBACK, server.ftp_port, timeout=20)
        plain.login("alice", "pw")
        plain.prot_p()
        self.assertIn("keep.txt", "\n".join(plain.nlst()))
        plain.close()


class StartUpErrors(unittest.TestCase):
    def test_an_unreadable_or_mismatched_certificate_stops_the_start_with_its_reason(self):
        missing, _ = tls_server("explicit", "<tlscert>missing.pem</tlscert><tlskey>missing-key.pem</tlskey>",
                                start=False)
        self.addCleanup(missing.cleanup)
        run = subprocess.run([missing.binary, "-d"], env=missing.env(), cwd=missing.dir, capture_output=True,
                             timeout=30)
        self.assertIn("failed to start: TLS: cannot read the certificate " + missing.path("missing.pem"),
                      run.stderr.decode())
        self.assertFalse(os.path.exists(missing.path("corveld-cert.pem")))  # configured files are never made

        # Two servers make their own certificates; then one is given the other's key.
        first, _ = tls_server("explicit")
        second, _ = tls_server("explicit")
        self.addCleanup(first.cleanup)
        self.addCleanup(second.cleanup)
        first.stop()
        first.write("ftpconfig.xml", first.read("ftpconfig.xml").decode().replace(
            "</config>", "<tlscert>corveld-cert.pem</tlscert><tlskey>%s</tlskey></config>"
            % second.path("corveld-key.pem")))
        run = subprocess.run([first.binary, "-d"], env=first.env(), cwd=first.dir, capture_output=True, timeout=30)
        self.assertIn("does not belong to the certificate", run.stderr.decode())


if __name__ == "__main__":
    unittest.main()
