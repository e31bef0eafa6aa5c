"""scp (OpenSSH 9's, which speaks SFTP) and rclone's sftp backend against <sftpport>,
each with a password and with a key: copies both ways, a sync, then rclone check
with no differences, on a tree with UTF-8 names and names with blanks."""
import os
import shutil
import subprocess
import tempfile
import unittest

from harness import BUILD_DIR, digest, sftp_server, user_element, users_document, wait_until
from test_rclone import TREE, digests_of, make_tree
from test_real_clients import tree_digest

SCP = shutil.which("scp")
SSHPASS = shutil.which("sshpass")
KEYGEN = shutil.which("ssh-keygen")
RCLONE = shutil.which("rclone")
CTL = os.path.join(BUILD_DIR, "corvelctl")
FULL = 0x7001F


class SftpClients(unittest.TestCase):
    def setUp(self):
        server, self.sftp_port = sftp_server(self)
        self.home = server.path("home")
        os.makedirs(self.home)
        server.write("ftpusers.xml", users_document(user_element("u", digest("pw"), self.home, privilege=FULL)))
        server.start(args=("-d",))
        self.server = server
        self.work = tempfile.mkdtemp(prefix="sftp-clients-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.key = None

    def log(self):
        return self.server.read("stderr.log").decode("utf-8", "replace")

    def add_key(self):
        """A new Ed25519 key for u, added with corvelctl; waits until it signs in."""
        self.key = os.path.join(self.work, "id_ed25519")
        subprocess.run([KEYGEN, "-q", "-t", "ed25519", "-N", "", "-f", self.key], check=True, capture_output=True,
                       timeout=60)
        added = subprocess.run([CTL, "--dir", self.server.dir, "user", "key", "add", "u", "--file", self.key + ".pub"],
                               env=self.server.env(), capture_output=True, text=True, timeout=30)
        self.assertEqual(added.returncode, 0, added.stderr)
        probe = os.path.join(self.work, "probe")
        with open(probe, "w") as f:
            f.write("probe")
        self.assertTrue(wait_until(lambda: self.scp(probe, "u@127.0.0.1:probe", check=False) == 0, timeout=10),
                        self.log())
        os.remove(os.path.join(self.home, "probe"))

    # scp

    def scp(self, *args, check=True):
        options = ["-F", "/dev/null", "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                   "-o", "LogLevel=ERROR", "-o", "ConnectTimeout=10", "-P", str(self.sftp_port)]
        if self.key:
            command = [SCP, *options, "-o", "BatchMode=yes", "-o", "IdentitiesOnly=yes", "-o", "IdentityAgent=none",
                       "-o", "PreferredAuthentications=publickey", "-i", self.key, *args]
        else:
            command = [SSHPASS, "-p", "pw", SCP, *options, "-o", "PreferredAuthentications=password",
                       "-o", "PubkeyAuthentication=no", *args]
        done = subprocess.run(command, cwd=self.work, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=120, env=dict(os.environ, HOME=self.work))
        if check:
            self.assertEqual(done.returncode, 0, done.stderr)
        return done.returncode

    def scp_round_trip(self):
        source = os.path.join(self.work, "source")
        make_tree(source, TREE)
        # -p keeps the times both ways.
        self.scp("-r", "-p", source, "u@127.0.0.1:tree")
        self.assertEqual(tree_digest(os.path.join(self.home, "tree")), digests_of(TREE))
        when = int(os.stat(os.path.join(source, "a b.txt")).st_mtime)
        self.assertEqual(int(os.stat(os.path.join(self.home, "tree", "a b.txt")).st_mtime), when)
        # One file over a longer one: written in place, then cut to its length.
        with open(os.path.join(self.home, "one.txt"), "wb") as f:
            f.write(b"x" * 10000)
        self.scp(os.path.join(source, "a b.txt"), "u@127.0.0.1:one.txt")
        with open(os.path.join(self.home, "one.txt"), "rb") as f:
            self.assertEqual(f.read(), TREE["a b.txt"])
        back = os.path.join(self.work, "back")
        self.scp("-r", "-p", "u@127.0.0.1:tree", back)
        self.assertEqual(tree_digest(back), digests_of(TREE))
        self.assertEqual(int(os.stat(os.path.join(back, "a b.txt")).st_mtime), when)
        # Escapes are refused as by sftp.
        self.assertNotEqual(self.scp("u@127.0.0.1:../ftpusers.xml", os.path.join(self.work, "stolen"), check=False), 0)
        self.assertFalse(os.path.exists(os.path.join(self.work, "stolen")))

    @unittest.skipUnless(SCP and SSHPASS, "OpenSSH's scp and sshpass are needed (scripts/install-deps.sh test)")
    def test_scp_with_a_password(self):
        self.scp_round_trip()
        self.assertIn('login succeeded: service=sftp address=127.0.0.1 user="u"', self.log())

    @unittest.skipUnless(SCP and KEYGEN, "OpenSSH's scp and ssh-keygen are needed (scripts/install-deps.sh test)")
    def test_scp_with_a_key(self):
        self.add_key()
        self.scp_round_trip()
        self.assertIn("signed in with the key", self.log())

    # rclone

    def rclone(self, *args):
        env = dict(os.environ, RCLONE_CONFIG=os.path.join(self.work, "rclone.conf"),
                   XDG_CACHE_HOME=os.path.join(self.work, "cache"), HOME=self.work)
        run = subprocess.run([RCLONE, *args], env=env, capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(run.returncode, 0, "rclone %s: %s" % (" ".join(args), run.stderr.decode(errors="replace")))
        return run.stdout.decode()

    def rclone_round_trip(self, remote):
        source = os.path.join(self.work, "source")
        make_tree(source, TREE)
        self.rclone("copy", source, remote + "tree")
        self.assertEqual(tree_digest(os.path.join(self.home, "tree")), digests_of(TREE))
        changed = dict(TREE)
        del changed["a b.txt"]
        changed["sub/new one.txt"] = b"new"
        changed["sub/big.bin"] = TREE["sub/big.bin"][:1000]
        shutil.rmtree(source)
        make_tree(source, changed)
        self.rclone("sync", source, remote + "tree")
        self.assertEqual(tree_digest(os.path.join(self.home, "tree")), digests_of(changed))
        self.rclone("check", source, remote + "tree")  # exit 0: no differences
        back = os.path.join(self.work, "back")
        self.rclone("copy", remote + "tree", back)
        self.assertEqual(tree_digest(back), digests_of(changed))
        self.rclone("check", back, remote + "tree")

    def remote(self, credentials):
        # shell_type=none: the server runs no commands (rclone would ask for md5sum).
        return ":sftp,host=127.0.0.1,port=%d,user=u,shell_type=none,%s:" % (self.sftp_port, credentials)

    @unittest.skipUnless(RCLONE, "rclone is not installed (scripts/install-deps.sh test installs it)")
    def test_rclone_with_a_password(self):
        password = self.rclone("obscure", "pw").strip()
        self.rclone_round_trip(self.remote("pass=" + password))
        self.assertIn('login succeeded: service=sftp address=127.0.0.1 user="u"', self.log())

    @unittest.skipUnless(RCLONE and KEYGEN and SCP, "rclone, scp and ssh-keygen are needed")
    def test_rclone_with_a_key(self):
        self.add_key()
        self.rclone_round_trip(self.remote("key_file=" + self.key))
        self.assertNotIn("login failed", self.log())


if __name__ == "__main__":
    unittest.main()
