"""corvelctl reload tls against the real server: a renewed certificate is served to
the next FTPS and HTTPS connection while a session opened before keeps its own and
goes on transferring; a pair that does not match is refused with its reason and
the certificate in use stays; without TLS the reload is refused."""
import ftplib
import hashlib
import os
import shutil
import socket
import ssl
import subprocess
import unittest

from harness import BUILD_DIR, LOOPBACK, Server, digest, user_element, users_document, wait_until

CTL = os.path.join(BUILD_DIR, "corvelctl")


def client_context():
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


class ReusingFtpTls(ftplib.FTP_TLS):
    """Data connections resume the control connection's session, as curl and lftp do."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


def make_pair(directory, name):
    cert, key = os.path.join(directory, name + "-cert.pem"), os.path.join(directory, name + "-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "30", "-subj", "/CN=" + name],
                   check=True, capture_output=True, timeout=60)
    with open(cert) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    return cert, key, der


def fingerprint(der):
    return ":".join("%02X" % b for b in hashlib.sha256(der).digest())


def https_certificate(port):
    with socket.create_connection((LOOPBACK, port), timeout=20) as raw:
        with client_context().wrap_socket(raw, server_hostname="localhost") as tls:
            return tls.getpeercert(binary_form=True)


class TlsReloadTest(unittest.TestCase):
    def setUp(self):
        self.server = Server(start=False)
        self.addCleanup(self.server.cleanup)
        server = self.server
        self.pairs = os.path.join(server.dir, "issued")
        os.makedirs(self.pairs)
        self.first = make_pair(self.pairs, "first.example")
        self.renewed = make_pair(self.pairs, "renewed.example")
        self.deploy(self.first)
        home = server.path("home")
        os.makedirs(home)
        with open(os.path.join(home, "file.bin"), "wb") as f:
            f.write(os.urandom(200000))
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                     "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg><tls>explicit</tls>"
                     "<tlscert>tls/cert.pem</tlscert><tlskey>tls/key.pem</tlskey><webtls>yes</webtls></config>"
                     % (server.ftp_port, server.web_port))
        server.start(args=("-d",))

    def deploy(self, pair, key=None):
        """What a deploy hook does: copies the files with their modes, replacing each at once."""
        os.makedirs(self.server.path("tls"), exist_ok=True)
        for source, name, mode in ((pair[0], "cert.pem", 0o644), (key or pair[1], "key.pem", 0o600)):
            target = self.server.path("tls", name)
            shutil.copyfile(source, target + ".new")
            os.chmod(target + ".new", mode)
            os.replace(target + ".new", target)

    def ctl(self, *args):
        return subprocess.run([CTL, "--dir", self.server.dir, *args], env=self.server.env(), capture_output=True,
                              text=True, timeout=60)

    def session(self):
        ftp = ReusingFtpTls(context=client_context())
        ftp.connect(LOOPBACK, self.server.ftp_port, timeout=30)
        self.addCleanup(ftp.close)
        ftp.login("alice", "pw")
        ftp.prot_p()
        return ftp

    def fetch(self, ftp):
        got = bytearray()
        ftp.retrbinary("RETR file.bin", got.extend)
        return len(got)

    def test_a_renewed_pair_serves_new_connections_and_a_live_session_keeps_its_own(self):
        live = self.session()
        self.assertEqual(live.sock.getpeercert(binary_form=True), self.first[2])
        self.assertEqual(self.fetch(live), 200000)

        self.deploy(self.renewed)
        done = self.ctl("reload", "tls")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("SHA-256 fingerprint %s) to new connections" % fingerprint(self.renewed[2]), done.stdout)

        fresh = self.session()
        self.assertEqual(fresh.sock.getpeercert(binary_form=True), self.renewed[2])
        self.assertEqual(self.fetch(fresh), 200000)
        self.assertEqual(https_certificate(self.server.web_port), self.renewed[2])
        # The session from before: its control connection keeps the first pair, and
        # its data connections still resume its session.
        self.assertEqual(live.sock.getpeercert(binary_form=True), self.first[2])
        self.assertEqual(self.fetch(live), 200000)
        self.assertTrue(live.nlst())
        self.assertIn("TLS certificate reloaded for new connections",
                      self.server.read("stderr.log").decode(errors="replace"))

        # The renewal went wrong: the new certificate with the old key.
        self.deploy(self.first, key=self.renewed[1])
        refused = self.ctl("reload", "tls")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("refused the certificate", refused.stderr)
        self.assertIn("does not belong to the certificate", refused.stderr)
        self.assertTrue(wait_until(lambda: "TLS certificate reload refused" in
                                   self.server.read("stderr.log").decode(errors="replace")))
        after = self.session()
        self.assertEqual(after.sock.getpeercert(binary_form=True), self.renewed[2])
        self.assertEqual(https_certificate(self.server.web_port), self.renewed[2])
        self.assertEqual(self.fetch(live), 200000)

        # A file that is not there is refused the same way.
        os.remove(self.server.path("tls", "cert.pem"))
        missing = self.ctl("reload", "tls")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("cannot read the certificate", missing.stderr)
        self.assertEqual(https_certificate(self.server.web_port), self.renewed[2])


class WithoutTls(unittest.TestCase):
    def test_reload_tls_is_refused_and_no_server_is_said(self):
        server = Server()
        self.addCleanup(server.cleanup)
        done = subprocess.run([CTL, "--dir", server.dir, "reload", "tls"], env=server.env(), capture_output=True,
                              text=True, timeout=60)
        self.assertEqual(done.returncode, 1)
        self.assertIn("refused the certificate: TLS is off", done.stderr)
        server.stop()
        gone = subprocess.run([CTL, "--dir", server.dir, "reload", "tls"], env=server.env(), capture_output=True,
                              text=True, timeout=60)
        self.assertEqual((gone.returncode, gone.stderr), (1, "corvelctl: no server is running\n"))


if __name__ == "__main__":
    unittest.main()
