"""rclone against <ftpext>yes in clear text, with explicit TLS and with TLS required:
copy both ways, sync, check, and lsf with sizes and dates, on a tree with UTF-8
names and names with blanks. Its configuration lives in a temporary directory and
its only host is the server on loopback."""
import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import Server, digest, user_element, users_document
from test_real_clients import tree_digest

RCLONE = shutil.which("rclone")
FULL = 0x7001F
MTIME = time.mktime((2021, 3, 4, 5, 6, 7, 0, 0, -1))
TREE = {
    "a b.txt": b"hello",
    "sub/big.bin": bytes(range(256)) * 400,
    "sub/grüße ü.txt": "ü".encode(),
    "ünï cödé/x  y.txt": b"two blanks",
}
# rclone's connections share one TLS session cache, so with several control
# connections a data connection may resume another one's session, which <tlsreuse>
# refuses; one connection at a time keeps each data connection on its own session.
ONE_CONNECTION = ["--ftp-concurrency", "1", "--checkers", "1", "--transfers", "1"]


def make_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (MTIME, MTIME))


def digests_of(files):
    return {name: hashlib.sha256(data).hexdigest() for name, data in files.items()}


@unittest.skipUnless(RCLONE, "rclone is not installed (scripts/install-deps.sh test installs it)")
class Rclone(unittest.TestCase):
    def serve(self, tls=""):
        server = Server(welcomemsg="", start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        server.write("ftpusers.xml", users_document(user_element("u", digest("pw"), home, privilege=FULL)))
        server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                     "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg><ftpext>yes</ftpext>%s</config>"
                     % (server.ftp_port, server.web_port, tls))
        server.start()
        self.work = tempfile.mkdtemp(prefix="rclone-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.env = dict(os.environ, RCLONE_CONFIG=os.path.join(self.work, "rclone.conf"),
                        XDG_CACHE_HOME=os.path.join(self.work, "cache"), HOME=self.work)
        password = self.rclone("obscure", "pw").strip()
        self.remote = ":ftp,host=127.0.0.1,port=%d,user=u,pass=%s%s:" % (
            server.ftp_port, password, ",explicit_tls,no_check_certificate" if tls else "")
        return home

    def rclone(self, *args):
        run = subprocess.run([RCLONE, *args, *self.options], env=self.env, capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 0, "rclone %s: %s" % (" ".join(args), run.stderr.decode(errors="replace")))
        return run.stdout.decode()

    def round_trip(self, home):
        source = os.path.join(self.work, "source")
        make_tree(source, TREE)
        self.rclone("copy", source, self.remote + "tree")
        self.assertEqual(tree_digest(os.path.join(home, "tree")), digests_of(TREE))

        listing = sorted(self.rclone("lsf", "-R", "--files-only", "--format", "pst", self.remote + "tree").splitlines())
        date = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(MTIME))
        self.assertEqual(listing, sorted("%s;%d;%s" % (name, len(data), date) for name, data in TREE.items()))

        changed = dict(TREE)
        del changed["a b.txt"]
        changed["sub/new one.txt"] = b"new"
        changed["sub/big.bin"] = TREE["sub/big.bin"][:1000]
        shutil.rmtree(source)
        make_tree(source, changed)
        self.rclone("sync", source, self.remote + "tree")
        self.assertEqual(tree_digest(os.path.join(home, "tree")), digests_of(changed))
        self.rclone("check", source, self.remote + "tree")  # exit 0: no differences

        back = os.path.join(self.work, "back")
        self.rclone("copy", self.remote + "tree", back)
        self.assertEqual(tree_digest(back), digests_of(changed))

    def test_clear_text(self):
        self.options = []
        self.round_trip(self.serve())

    def test_explicit_tls(self):
        self.options = ONE_CONNECTION
        self.round_trip(self.serve("<tls>explicit</tls>"))

    def test_required_tls(self):
        self.options = ONE_CONNECTION
        self.round_trip(self.serve("<tls>required</tls>"))

    def test_tls_with_every_connection_when_reuse_is_off(self):
        self.options = []
        self.round_trip(self.serve("<tls>required</tls><tlsreuse>no</tlsreuse>"))


if __name__ == "__main__":
    unittest.main()
