"""SFTP public-key sign-in: keys added with corvelctl user key add sign the account
in with OpenSSH's sftp -b and with paramiko, under the same rules as passwords (the
login log line, maxperip, disabled accounts); a wrong key, a removed key and a
disabled account are refused. Also corvelctl's key commands and the host keys
named by <sftphostkey>."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import BUILD_DIR, Server, digest, sftp_server, user_element, users_document, wait_until

SFTP = shutil.which("sftp")
KEYGEN = shutil.which("ssh-keygen")
CTL = os.path.join(BUILD_DIR, "corvelctl")
SYSTEM_PYTHON = "/usr/bin/python3"
FULL = 0x7001F
HAS_PARAMIKO = os.path.exists(SYSTEM_PYTHON) and subprocess.run(
    [SYSTEM_PYTHON, "-c", "import paramiko"], capture_output=True).returncode == 0


def key_options(port, identity):
    return ["-F", "/dev/null", "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
            "-o", "PreferredAuthentications=publickey", "-o", "PasswordAuthentication=no",
            "-o", "IdentitiesOnly=yes", "-o", "IdentityAgent=none", "-i", identity, "-o", "BatchMode=yes",
            "-o", "LogLevel=ERROR", "-o", "ConnectTimeout=10", "-P", str(port)]


def make_key(folder, name, kind="ed25519", bits=None):
    """A new key pair without a passphrase; the private key's path."""
    path = os.path.join(folder, name)
    args = [KEYGEN, "-q", "-t", kind, "-N", "", "-C", name + "@test", "-f", path]
    if bits:
        args += ["-b", str(bits)]
    subprocess.run(args, check=True, capture_output=True, timeout=60)
    return path


def contents(*paths):
    result = {}
    for path in paths:
        with open(path, "rb") as f:
            result[path] = f.read()
    return result


def fingerprint_of(path):
    listed = subprocess.run([KEYGEN, "-l", "-E", "sha256", "-f", path], capture_output=True, text=True, timeout=30)
    return listed.stdout.split()[1]


PARAMIKO_CLIENT = """
import sys, paramiko
port, user, key_file, kind = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
key = (paramiko.Ed25519Key if kind == "ed25519" else paramiko.RSAKey).from_private_key_file(key_file)
transport = paramiko.Transport(("127.0.0.1", port))
try:
    transport.connect(username=user, pkey=key)
except paramiko.AuthenticationException:
    print("refused")
    sys.exit(0)
sftp = paramiko.SFTPClient.from_transport(transport)
with sftp.open("by-paramiko.txt", "w") as f:
    f.write(b"written with a key")
print("names", sorted(sftp.listdir(".")))
sftp.close()
transport.close()
"""


@unittest.skipUnless(SFTP and KEYGEN, "OpenSSH's sftp and ssh-keygen are needed (scripts/install-deps.sh test)")
class SftpKeys(unittest.TestCase):
    def serve(self, extra=""):
        server, self.sftp_port = sftp_server(self, extra)
        self.home = server.path("home")
        os.makedirs(self.home)
        server.write("ftpusers.xml", users_document(
            user_element("u", digest("pw"), self.home, privilege=FULL),
            user_element("off", digest("pw"), self.home, privilege=FULL, disabled="yes")))
        server.start(args=("-d",))
        self.local = tempfile.mkdtemp(prefix="sftp-keys-")
        self.addCleanup(shutil.rmtree, self.local, ignore_errors=True)
        self.server = server
        return server

    def log(self):
        return self.server.read("stderr.log").decode("utf-8", "replace")

    def ctl(self, *args):
        return subprocess.run([CTL, "--dir", self.server.dir, *args], env=self.server.env(), capture_output=True,
                              text=True, timeout=30, stdin=subprocess.DEVNULL)

    def add_key(self, user, key):
        done = self.ctl("user", "key", "add", user, "--file", key + ".pub")
        self.assertEqual(done.returncode, 0, done.stderr)
        # The running server was asked to reload; it has once the log says so or a
        # sign-in works, so the tests wait on the sign-in itself.
        return done

    def batch(self, commands, identity, user="u"):
        script = os.path.join(self.local, "batch.txt")
        with open(script, "w") as f:
            f.write("\n".join(commands) + "\n")
        done = subprocess.run([SFTP, *key_options(self.sftp_port, identity), "-b", script, "%s@127.0.0.1" % user],
                              cwd=self.local, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                              env=dict(os.environ, HOME=self.local))
        return done.returncode, done.stdout + done.stderr

    def signs_in(self, identity, user="u"):
        return self.batch(["ls"], identity, user)[0] == 0

    def paramiko(self, user, key, kind):
        done = subprocess.run([SYSTEM_PYTHON, "-c", PARAMIKO_CLIENT, str(self.sftp_port), user, key, kind],
                              capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def test_sftp_batch_signs_in_with_an_added_key(self):
        self.serve()
        key = make_key(self.local, "id_ed25519")
        self.assertFalse(self.signs_in(key))
        self.add_key("u", key)
        self.assertTrue(wait_until(lambda: self.signs_in(key), timeout=10), self.log())
        with open(os.path.join(self.local, "up.txt"), "wb") as f:
            f.write(b"by key")
        code, out = self.batch(["put up.txt", "get up.txt back.txt", "ls -l"], key)
        self.assertEqual(code, 0, out)
        with open(os.path.join(self.home, "up.txt"), "rb") as f:
            self.assertEqual(f.read(), b"by key")
        self.assertIn('login succeeded: service=sftp address=127.0.0.1 user="u"', self.log())
        self.assertIn("signed in with the key " + fingerprint_of(key), self.log())
        self.assertNotIn("login failed", self.log())

    @unittest.skipUnless(HAS_PARAMIKO, "paramiko (python3-paramiko) is not installed")
    def test_paramiko_signs_in_with_ed25519_and_rsa_keys(self):
        self.serve()
        ed25519 = make_key(self.local, "id_ed25519")
        rsa = make_key(self.local, "id_rsa", "rsa", 3072)
        self.assertIn("refused", self.paramiko("u", ed25519, "ed25519"))
        self.assertIn('login failed: service=sftp address=127.0.0.1 user="u"', self.log())
        self.add_key("u", ed25519)
        self.add_key("u", rsa)
        self.assertTrue(wait_until(lambda: self.signs_in(rsa), timeout=10), self.log())
        for key, kind in ((ed25519, "ed25519"), (rsa, "rsa")):
            out = self.paramiko("u", key, kind)
            self.assertIn("names", out)
            self.assertIn("by-paramiko.txt", out)
        self.assertEqual(self.log().count('login succeeded: service=sftp address=127.0.0.1 user="u"'), 3)

    @unittest.skipUnless(shutil.which("curl"), "curl is needed")
    def test_curl_uploads_and_downloads_with_a_key(self):
        self.serve()
        key = make_key(self.local, "id_rsa", "rsa", 3072)
        subprocess.run([KEYGEN, "-q", "-p", "-m", "PEM", "-N", "", "-P", "", "-f", key], check=True,
                       capture_output=True, timeout=60)  # the PEM form every libssh2 reads
        self.add_key("u", key)
        self.assertTrue(wait_until(lambda: self.signs_in(key), timeout=10), self.log())
        sent = os.path.join(self.local, "sent.bin")
        with open(sent, "wb") as f:
            f.write(os.urandom(300000))
        url = "sftp://127.0.0.1:%d/~/by-curl.bin" % self.sftp_port
        curl = ["curl", "-sS", "-k", "--max-time", "60", "-u", "u:", "--key", key, "--pubkey", key + ".pub"]
        done = subprocess.run(curl + ["-T", sent, url], capture_output=True, text=True, timeout=90)
        self.assertEqual(done.returncode, 0, done.stderr)
        back = subprocess.run(curl + [url], capture_output=True, timeout=90)
        self.assertEqual(back.returncode, 0, back.stderr)
        with open(sent, "rb") as f:
            self.assertEqual(back.stdout, f.read())
        with open(os.path.join(self.home, "by-curl.bin"), "rb") as f:
            self.assertEqual(len(f.read()), 300000)

    def test_a_wrong_key_a_removed_key_and_a_disabled_account_are_refused(self):
        self.serve()
        good = make_key(self.local, "good")
        wrong = make_key(self.local, "wrong")
        self.add_key("u", good)
        self.add_key("off", good)
        self.assertTrue(wait_until(lambda: self.signs_in(good), timeout=10), self.log())
        self.assertFalse(self.signs_in(wrong))
        self.assertFalse(self.signs_in(good, user="off"))
        self.assertFalse(self.signs_in(good, user="nobody"))
        self.assertIn("is not one of the account's", self.log())
        self.assertNotIn('login succeeded: service=sftp address=127.0.0.1 user="off"', self.log())
        if HAS_PARAMIKO:
            # paramiko signs at once, without asking first: a failed login, with its pause.
            self.assertIn("refused", self.paramiko("off", good, "ed25519"))
            self.assertIn('login failed: service=sftp address=127.0.0.1 user="off"', self.log())
        removed = self.ctl("user", "key", "del", "u", fingerprint_of(good))
        self.assertEqual(removed.returncode, 0, removed.stderr)
        self.assertTrue(wait_until(lambda: not self.signs_in(good), timeout=10), self.log())

    @unittest.skipUnless(HAS_PARAMIKO, "paramiko (python3-paramiko) is not installed")
    def test_signed_attempts_with_a_wrong_key_count_towards_a_ban(self):
        self.serve("<banfailures>2</banfailures><banminutes>1</banminutes>")
        good = make_key(self.local, "good")
        wrong = make_key(self.local, "wrong")
        self.add_key("u", good)
        self.assertTrue(wait_until(lambda: self.signs_in(good), timeout=10), self.log())
        for _ in range(2):
            self.assertIn("refused", self.paramiko("u", wrong, "ed25519"))
        self.assertTrue(wait_until(lambda: "ban: address=127.0.0.1" in self.log(), timeout=10), self.log())
        # Banned, the right key does not help either.
        self.assertFalse(self.signs_in(good))

    @unittest.skipUnless(HAS_PARAMIKO, "paramiko (python3-paramiko) is not installed")
    def test_key_sessions_count_in_maxperip(self):
        self.serve("<maxperip>1</maxperip>")
        key = make_key(self.local, "id_ed25519")
        self.add_key("u", key)
        self.assertTrue(wait_until(lambda: self.signs_in(key), timeout=10), self.log())
        holder = subprocess.Popen([SYSTEM_PYTHON, "-c", """
import sys, time, paramiko
t = paramiko.Transport(("127.0.0.1", int(sys.argv[1])))
t.connect(username="u", pkey=paramiko.Ed25519Key.from_private_key_file(sys.argv[2]))
s = paramiko.SFTPClient.from_transport(t)
s.listdir(".")
print("holding", flush=True)
sys.stdin.readline()
""", str(self.sftp_port), key], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "holding")
            self.assertFalse(self.signs_in(key))
        finally:
            holder.stdin.close()
            holder.wait(timeout=30)
            holder.stdout.close()
        self.assertTrue(wait_until(lambda: self.signs_in(key), timeout=10), self.log())


@unittest.skipUnless(KEYGEN, "ssh-keygen is needed (scripts/install-deps.sh test)")
class KeyCommands(unittest.TestCase):
    """corvelctl user key add, list and del on ftpusers.xml, without a server."""

    def setUp(self):
        self.server = Server(start=False)
        self.addCleanup(self.server.cleanup)
        self.server.write("ftpusers.xml", users_document(
            '<user username="u" password="%s" alias="" privilege="1" work_dir="/tmp" welcome_msg="" disabled="no">'
            '<note>kept</note></user>' % digest("pw")))
        self.local = tempfile.mkdtemp(prefix="key-commands-")
        self.addCleanup(shutil.rmtree, self.local, ignore_errors=True)

    def ctl(self, *args):
        return subprocess.run([CTL, "--dir", self.server.dir, *args], env=self.server.env(), capture_output=True,
                              text=True, timeout=30, stdin=subprocess.DEVNULL)

    def test_add_list_and_del_keep_the_rest_of_the_file(self):
        ed25519 = make_key(self.local, "a")
        rsa = make_key(self.local, "b", "rsa", 2048)
        with open(ed25519 + ".pub") as f:
            line = f.read().strip()
        done = self.ctl("user", "key", "add", "u", line)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, "Added the key %s (ssh-ed25519) to u.\n" % fingerprint_of(ed25519))
        self.assertEqual(self.ctl("user", "key", "add", "u", "--file", rsa + ".pub").returncode, 0)
        listed = self.ctl("user", "key", "list", "u")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertRegex(listed.stdout, r"(?m)^%s +ssh-ed25519 +a@test$" % re.escape(fingerprint_of(ed25519)))
        self.assertRegex(listed.stdout, r"(?m)^%s +ssh-rsa +b@test$" % re.escape(fingerprint_of(rsa)))
        shown = json.loads(self.ctl("--json", "user", "key", "list", "u").stdout)
        self.assertEqual([key["line"] for key in shown][0], line)
        self.assertEqual(json.loads(self.ctl("--json", "user", "list").stdout)[0]["sshKeys"], 2)
        text = self.server.read("ftpusers.xml").decode()
        self.assertIn("<note>kept</note>", text)
        self.assertIn("<sshkey>%s</sshkey>" % line, text)

        # Refusals: a key held already, no key at all, an unknown account, options.
        again = self.ctl("user", "key", "add", "u", line)
        self.assertEqual(again.returncode, 1)
        self.assertIn("is one of u's already", again.stderr)
        for bad, why in (("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5", "malformed"), ("ssh-ed25519 AAAA", "another type"), ("not a key", "no base64"),
                         ('from="10.0.0.1" ' + line, "options in front")):
            refused = self.ctl("user", "key", "add", "u", bad)
            self.assertEqual(refused.returncode, 1, bad)
            self.assertIn(why, refused.stderr)
        self.assertEqual(self.ctl("user", "key", "add", "nobody", line).returncode, 1)
        self.assertEqual(self.ctl("user", "key", "add", "u").returncode, 2)

        # A console-style rewrite of the account keeps its keys.
        self.assertEqual(self.ctl("user", "set", "u", "--welcome", "hi").returncode, 0)
        self.assertEqual(len(json.loads(self.ctl("--json", "user", "key", "list", "u").stdout)), 2)

        removed = self.ctl("user", "key", "del", "u", fingerprint_of(ed25519)[len("SHA256:"):])
        self.assertEqual(removed.returncode, 0, removed.stderr)
        self.assertEqual(self.ctl("user", "key", "del", "u", fingerprint_of(ed25519)).returncode, 1)
        self.assertEqual([key["type"] for key in json.loads(self.ctl("--json", "user", "key", "list", "u").stdout)],
                         ["ssh-rsa"])
        self.assertIn("<note>kept</note>", self.server.read("ftpusers.xml").decode())

    def test_short_rsa_keys_are_refused(self):
        short = make_key(self.local, "short", "rsa", 1024)
        refused = self.ctl("user", "key", "add", "u", "--file", short + ".pub")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("at least 2048", refused.stderr)


@unittest.skipUnless(KEYGEN, "ssh-keygen is needed (scripts/install-deps.sh test)")
class NamedHostKeys(unittest.TestCase):
    """<sftphostkey> names existing key files, which the server only reads."""

    def server_with(self, keys):
        server, self.sftp_port = sftp_server(self, "<sftphostkey>%s</sftphostkey>" % keys)
        return server

    def test_named_keys_are_used_shown_and_never_written(self):
        folder = tempfile.mkdtemp(prefix="host-keys-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        ed25519 = make_key(folder, "host_ed25519")
        rsa = os.path.join(folder, "host_rsa")
        subprocess.run([KEYGEN, "-q", "-t", "rsa", "-b", "2048", "-m", "PEM", "-N", "", "-f", rsa], check=True,
                       capture_output=True, timeout=60)
        before = contents(ed25519, rsa)
        server = self.server_with("%s, %s" % (ed25519, rsa))
        shown = subprocess.run([CTL, "--dir", server.dir, "settings", "show"], capture_output=True, text=True,
                               timeout=30)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        for path, kind in ((ed25519, "ssh-ed25519"), (rsa, "ssh-rsa")):
            self.assertRegex(shown.stdout, r"SSH host key +%s\nSHA-256 +%s %s\n" % (
                re.escape(path), kind, re.escape(fingerprint_of(path))))
        listed = json.loads(subprocess.run([CTL, "--dir", server.dir, "--json", "settings", "show"],
                                           capture_output=True, text=True, timeout=30).stdout)
        self.assertEqual([key["fingerprint"] for key in listed["sftpHostKeys"]],
                         [fingerprint_of(ed25519), fingerprint_of(rsa)])

        server.start(args=("-d",))
        log = server.read("stderr.log").decode()
        self.assertIn("SSH host key %s (ssh-ed25519), SHA-256 fingerprint %s" % (ed25519, fingerprint_of(ed25519)), log)
        for kind in ("ed25519", "rsa"):
            scanned = subprocess.run([KEYGEN.replace("ssh-keygen", "ssh-keyscan"), "-p", str(self.sftp_port), "-t",
                                      kind, "127.0.0.1"], capture_output=True, text=True, timeout=30)
            key_file = os.path.join(folder, "scanned.pub")
            with open(key_file, "w") as f:
                f.write(scanned.stdout.split(" ", 1)[1])
            self.assertEqual(fingerprint_of(key_file), fingerprint_of(ed25519 if kind == "ed25519" else rsa))
        self.assertEqual([name for name in os.listdir(server.dir) if "sftp" in name], [])
        self.assertEqual(contents(ed25519, rsa), before)

    def test_a_missing_or_unusable_key_stops_the_start_with_its_reason(self):
        folder = tempfile.mkdtemp(prefix="host-keys-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        locked = make_key(folder, "locked")
        subprocess.run([KEYGEN, "-q", "-p", "-P", "", "-N", "secret", "-f", locked], check=True, capture_output=True,
                       timeout=60)
        short = os.path.join(folder, "short")
        subprocess.run([KEYGEN, "-q", "-t", "rsa", "-b", "1024", "-N", "", "-f", short], check=True,
                       capture_output=True, timeout=60)
        for keys, reason in (("missing.key", "does not exist"), (locked, "encrypted with a passphrase"),
                             (short, "at least 2048"), ("%s,%s" % (short + ".pub", short), "no unencrypted")):
            server = self.server_with(keys)
            run = subprocess.run([server.binary, "-d"], env=server.env(), cwd=server.dir, capture_output=True,
                                 timeout=30)
            self.assertNotEqual(run.returncode, None)
            self.assertIn("failed to start: SFTP: <sftphostkey>: ", run.stderr.decode())
            self.assertIn(reason, run.stderr.decode())
            self.assertEqual([name for name in os.listdir(server.dir) if "sftp" in name], [])
            self.assertFalse(os.path.exists(server.path("missing.key")))


if __name__ == "__main__":
    unittest.main()
