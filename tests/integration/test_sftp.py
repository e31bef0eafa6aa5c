"""SFTP with <sftpport>: OpenSSH's sftp and ssh clients against the real server on
loopback, signing in with the accounts of ftpusers.xml (by password, through
sshpass), with the homes and rights FTP uses; the host keys made on first start;
refusals of escapes, links, shells, missing rights, disabled accounts and banned
addresses. Without <sftpport> nothing of it exists."""
import os
import re
import shutil
import stat
import subprocess
import tempfile
import unittest

from harness import (Control, Server, digest, free_port, settings_document, sftp_server, user_element, users_document,
                     wait_until)

SFTP = shutil.which("sftp")
CURL = shutil.which("curl")
# Debian's paramiko belongs to the system's Python, which may not be the one running
# the tests: the paramiko client runs under it as a script of its own.
SYSTEM_PYTHON = "/usr/bin/python3"
SSHPASS = shutil.which("sshpass")
FULL = 0x7001F
READ_AND_LIST = 0x20002
KEYS = ("corveld-sftp-ed25519.key", "corveld-sftp-rsa.key")


def client_options(port):
    return ["-F", "/dev/null", "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
            "-o", "PreferredAuthentications=password", "-o", "PubkeyAuthentication=no",
            "-o", "NumberOfPasswordPrompts=1", "-o", "LogLevel=ERROR", "-o", "ConnectTimeout=10"]


@unittest.skipUnless(SFTP and SSHPASS, "OpenSSH's sftp and sshpass are needed (scripts/install-deps.sh test)")
class Sftp(unittest.TestCase):
    def serve(self, extra=""):
        server, self.sftp_port = sftp_server(self, extra)
        self.home = server.path("home")
        os.makedirs(os.path.join(self.home, "docs"))
        with open(os.path.join(self.home, "docs", "a.txt"), "wb") as f:
            f.write(b"hello from the home")
        server.write("outside.txt", "not yours")
        server.write("ftpusers.xml", users_document(
            user_element("u", digest("pw"), self.home, privilege=FULL),
            user_element("ro", digest("pw"), self.home, privilege=READ_AND_LIST),
            user_element("off", digest("pw"), self.home, privilege=FULL, disabled="yes")))
        server.start(args=("-d",))
        self.local = tempfile.mkdtemp(prefix="sftp-client-")
        self.addCleanup(shutil.rmtree, self.local, ignore_errors=True)
        self.server = server
        return server

    def log(self):
        return self.server.read("stderr.log").decode("utf-8", "replace")

    def batch(self, commands, user="u", password="pw"):
        """Runs the commands with sftp -b in the local folder; (return code, output)."""
        script = os.path.join(self.local, "batch.txt")
        with open(script, "w") as f:
            f.write("\n".join(commands) + "\n")
        # BatchMode stays off ahead of -b, so sshpass can give the password.
        args = [SSHPASS, "-p", password, SFTP, *client_options(self.sftp_port), "-o", "BatchMode=no",
                "-P", str(self.sftp_port), "-b", script, "%s@127.0.0.1" % user]
        done = subprocess.run(args, cwd=self.local, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=60, env=dict(os.environ, HOME=self.local))
        return done.returncode, done.stdout + done.stderr

    def local_file(self, name, data):
        with open(os.path.join(self.local, name), "wb") as f:
            f.write(data)

    def remote(self, *names):
        return os.path.join(self.home, *names)

    def test_batch_transfers_folders_and_names(self):
        self.serve()
        big = bytes(range(256)) * 4000  # 1 MB: many requests at offsets
        self.local_file("big.bin", big)
        code, out = self.batch(["put big.bin", "get docs/a.txt got.txt", "ls -l", "mkdir new",
                                "rename big.bin new/moved.bin", "ls -l new"])
        self.assertEqual(code, 0, out)
        with open(self.remote("new", "moved.bin"), "rb") as f:
            self.assertEqual(f.read(), big)
        with open(os.path.join(self.local, "got.txt"), "rb") as f:
            self.assertEqual(f.read(), b"hello from the home")
        self.assertRegex(out, r"(?m)^d[rwx-]{9} .* docs$")
        self.assertRegex(out, r"(?m)^-[rwx-]{9} .* %d .*moved\.bin$" % len(big))

        # Resumed transfers: the part that is there stays, the rest follows at its offset.
        with open(self.remote("half.bin"), "wb") as f:
            f.write(big[:300000])
        self.local_file("half.bin", big)
        self.local_file("partial.bin", big[:123456])
        os.rename(self.remote("new", "moved.bin"), self.remote("partial.bin"))
        code, out = self.batch(["reput half.bin", "reget partial.bin"])
        self.assertEqual(code, 0, out)
        with open(self.remote("half.bin"), "rb") as f:
            self.assertEqual(f.read(), big)
        with open(os.path.join(self.local, "partial.bin"), "rb") as f:
            self.assertEqual(f.read(), big)

        code, out = self.batch(["rm half.bin", "rm partial.bin", "rmdir new", "df -h"])
        self.assertEqual(code, 0, out)
        self.assertIn("Avail", out)  # statvfs@openssh.com
        self.assertEqual(sorted(os.listdir(self.home)), ["docs"])
        self.assertIn('login succeeded: service=sftp address=127.0.0.1 user="u"', self.log())

    def test_host_keys_are_made_once_private_and_logged(self):
        server = self.serve()
        fingerprints = []
        for name in KEYS:
            path = server.path(name)
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
            public = subprocess.run(["ssh-keygen", "-y", "-f", path], capture_output=True, text=True, timeout=30)
            self.assertEqual(public.returncode, 0, public.stderr)
            with open(os.path.join(self.local, "key.pub"), "w") as f:
                f.write(public.stdout)
            listed = subprocess.run(["ssh-keygen", "-l", "-f", os.path.join(self.local, "key.pub")],
                                    capture_output=True, text=True, timeout=30)
            fingerprint = listed.stdout.split()[1]
            self.assertIn(fingerprint, self.log())
            fingerprints.append((listed.stdout.split()[0], server.read(name)))
        self.assertEqual(fingerprints[1][0], "3072")
        # What the client sees is one of them.
        scanned = subprocess.run(["ssh-keyscan", "-p", str(self.sftp_port), "-t", "ed25519", "127.0.0.1"],
                                 capture_output=True, text=True, timeout=30)
        self.assertIn("ssh-ed25519", scanned.stdout)
        server.stop()
        server.start(args=("-d",))
        self.assertEqual([server.read(name) for name in KEYS], [content for _, content in fingerprints])

    def test_rights_escapes_and_links_are_refused(self):
        self.serve()
        self.local_file("x.txt", b"x")
        for command in ["put x.txt", "rm docs/a.txt", "mkdir d", "rename docs/a.txt b.txt"]:
            code, out = self.batch([command], user="ro")
            self.assertNotEqual(code, 0, command)
        code, out = self.batch(["get docs/a.txt ro.txt"], user="ro")
        self.assertEqual(code, 0, out)
        for command in ["get ../outside.txt", "get /../outside.txt", "cd ..", "get %s" % self.server.path("outside.txt"),
                        "ln -s /etc/passwd link", "ln docs/a.txt hard", "put x.txt ../x.txt"]:
            code, out = self.batch([command])
            self.assertNotEqual(code, 0, command)
        self.assertEqual(sorted(os.listdir(self.home)), ["docs"])
        self.assertFalse(os.path.lexists(self.remote("link")))
        self.assertFalse(os.path.exists(self.server.path("x.txt")))
        self.assertEqual(self.server.read("outside.txt"), b"not yours")

    def test_shells_commands_and_forwarding_are_refused_and_logged(self):
        self.serve()
        ssh = [SSHPASS, "-p", "pw", "ssh", *client_options(self.sftp_port), "-p", str(self.sftp_port)]
        env = dict(os.environ, HOME=self.local)
        done = subprocess.run([*ssh, "u@127.0.0.1", "cat /etc/passwd"], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60, env=env)
        self.assertNotEqual(done.returncode, 0)
        self.assertNotIn("root:", done.stdout)
        done = subprocess.run([*ssh, "-N", "-o", "ExitOnForwardFailure=yes", "-R", "%d:127.0.0.1:22" % free_port(),
                               "u@127.0.0.1"], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                              env=env)
        self.assertNotEqual(done.returncode, 0)
        self.assertTrue(wait_until(lambda: "refused a command" in self.log() and "refused port forwarding" in self.log(),
                                   timeout=10), self.log())

    def test_wrong_passwords_and_disabled_accounts_are_refused(self):
        self.serve()
        for user, password in [("u", "wrong"), ("off", "pw"), ("nobody", "pw")]:
            code, out = self.batch(["ls"], user=user, password=password)
            self.assertNotEqual(code, 0, user)
            self.assertIn('login failed: service=sftp address=127.0.0.1 user="%s"' % user, self.log())
        self.assertNotIn('login succeeded: service=sftp', self.log())

    def test_a_banned_address_is_refused_on_every_port(self):
        self.serve("<banfailures>2</banfailures><banminutes>1</banminutes>")
        code, out = self.batch(["ls"], password="wrong")
        self.assertNotEqual(code, 0)
        code, out = self.batch(["ls"], password="wrong")
        self.assertNotEqual(code, 0)
        self.assertTrue(wait_until(lambda: "ban: address=127.0.0.1" in self.log(), timeout=10), self.log())
        code, out = self.batch(["ls"])
        self.assertNotEqual(code, 0, out)
        with Control(self.server.ftp_port) as control:
            self.assertEqual(control.read_all_until_closed(), b"")
        self.assertEqual(self.log().count('login succeeded: service=sftp'), 0)


    def curl(self, *args, user="u:pw"):
        # --insecure: the host key is new to curl's known_hosts, which it would refuse.
        done = subprocess.run([CURL, "-sS", "--insecure", "--max-time", "60", "-u", user, *args], cwd=self.local,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=90,
                              env=dict(os.environ, HOME=self.local))
        return done.returncode, done.stdout

    @unittest.skipUnless(CURL and "sftp" in subprocess.run([CURL or "true", "-V"], capture_output=True,
                                                           text=True).stdout, "curl without SFTP")
    def test_curl_downloads_uploads_and_is_refused_without_the_right(self):
        self.serve()
        url = "sftp://127.0.0.1:%d/" % self.sftp_port
        code, body = self.curl(url + "docs/a.txt")
        self.assertEqual((code, body), (0, b"hello from the home"))
        self.local_file("up.bin", bytes(range(256)) * 1000)
        code, _ = self.curl("-T", "up.bin", url + "docs/up.bin")
        self.assertEqual(code, 0)
        with open(self.remote("docs", "up.bin"), "rb") as f:
            self.assertEqual(f.read(), bytes(range(256)) * 1000)
        code, listing = self.curl(url + "docs/")
        self.assertEqual(code, 0)
        self.assertIn(b"up.bin", listing)
        code, _ = self.curl("-T", "up.bin", url + "ro.bin", user="ro:pw")
        self.assertNotEqual(code, 0)
        code, _ = self.curl(url + "../outside.txt")
        self.assertNotEqual(code, 0)
        self.assertFalse(os.path.exists(self.remote("ro.bin")))

    @unittest.skipUnless(subprocess.run([SYSTEM_PYTHON, "-c", "import paramiko"], capture_output=True).returncode == 0
                         if os.path.exists(SYSTEM_PYTHON) else False, "paramiko (python3-paramiko) is not installed")
    def test_paramiko_offsets_attributes_and_refusals(self):
        self.serve()
        script = """
import sys, paramiko
transport = paramiko.Transport(("127.0.0.1", int(sys.argv[1])))
transport.connect(username="u", password="pw")
sftp = paramiko.SFTPClient.from_transport(transport)
with sftp.open("docs/seek.bin", "w") as f:
    f.write(b"0123456789")
    f.seek(4)
    f.write(b"ab")
with sftp.open("/docs/seek.bin", "r") as f:
    f.seek(3)
    assert f.read(4) == b"3ab6", "read at an offset"
assert sftp.stat("docs/seek.bin").st_size == 10
names = {a.filename: a for a in sftp.listdir_attr("docs")}
assert set(names) == {"a.txt", "seek.bin"}, names
assert names["a.txt"].st_size == 19
sftp.utime("docs/a.txt", (1000000000, 1000000000))
assert sftp.stat("docs/a.txt").st_mtime == 1000000000
sftp.posix_rename("docs/seek.bin", "docs/moved.bin")
assert sftp.normalize("docs/../docs/.") == "/docs"
for refused in (lambda: sftp.symlink("/etc/passwd", "docs/link"), lambda: sftp.open("../outside.txt"),
                lambda: sftp.listdir("/.."), lambda: sftp.stat("/etc/passwd")):
    try:
        refused()
    except IOError:
        continue
    raise AssertionError("not refused")
sftp.close()
transport.close()
bad = paramiko.Transport(("127.0.0.1", int(sys.argv[1])))
try:
    bad.connect(username="off", password="pw")
except paramiko.AuthenticationException:
    print("disabled refused")
bad.close()
"""
        done = subprocess.run([SYSTEM_PYTHON, "-c", script, str(self.sftp_port)], capture_output=True, text=True,
                              timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("disabled refused", done.stdout)
        with open(self.remote("docs", "moved.bin"), "rb") as f:
            self.assertEqual(f.read(), b"0123ab6789")
        self.assertEqual(int(os.stat(self.remote("docs", "a.txt")).st_mtime), 1000000000)
        self.assertFalse(os.path.lexists(self.remote("docs", "link")))


def listening_ports(pid):
    """The TCP ports the process listens on, from its socket descriptors and /proc/net."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    ports = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:  # LISTEN
                    ports.add(int(fields[1].rsplit(":", 1)[1], 16))
    return ports


class Ports(unittest.TestCase):
    """Without <sftpport> the server listens on the two ports it always had."""
    def test_no_keys_and_no_new_port(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        server.start(args=("-d",))
        self.assertEqual(listening_ports(server.pid()), {server.ftp_port, server.web_port})
        self.assertEqual([name for name in os.listdir(server.dir) if "sftp" in name], [])
        self.assertNotIn("SSH", server.read("stderr.log").decode("utf-8", "replace"))

    def test_with_it_one_more_port_on_its_own_address(self):
        sftp_port = free_port()
        server = Server(start=False, settings=False)
        self.addCleanup(server.cleanup)
        server.write("ftpconfig.xml", settings_document(
            listenip="127.0.0.1", ftpport=server.ftp_port, httpport=server.web_port,
            extra="<sftpport>%d</sftpport><sftplistenip>127.0.0.2</sftplistenip>" % sftp_port))
        server.start(args=("-d",))
        self.assertEqual(listening_ports(server.pid()), {server.ftp_port, server.web_port, sftp_port})
        scanned = subprocess.run(["ssh-keyscan", "-p", str(sftp_port), "127.0.0.2"], capture_output=True, text=True,
                                 timeout=30)
        self.assertIn("ssh-ed25519", scanned.stdout)
        refused = subprocess.run(["ssh-keyscan", "-T", "3", "-p", str(sftp_port), "127.0.0.1"], capture_output=True,
                                 text=True, timeout=30)
        self.assertNotIn("ssh-ed25519", refused.stdout)


if __name__ == "__main__":
    unittest.main()
