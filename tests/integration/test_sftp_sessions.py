"""SFTP sessions in corvelctl sessions and kick, and SFTP transfers in the transfer
log (<xferlog>): a signed-in session is listed as sftp with its account and closed
by kick; every file handle closed is one xferlog line of service sftp."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from harness import BUILD_DIR, digest, sftp_server, user_element, users_document, wait_until
from test_xferlog import parse_xferlog

SFTP = shutil.which("sftp")
SSHPASS = shutil.which("sshpass")
CTL = os.path.join(BUILD_DIR, "corvelctl")
SYSTEM_PYTHON = "/usr/bin/python3"
HAS_PARAMIKO = os.path.exists(SYSTEM_PYTHON) and subprocess.run(
    [SYSTEM_PYTHON, "-c", "import paramiko"], capture_output=True).returncode == 0
FULL = 0x7001F

# Signs in, says so, then lists the home once a second until the session ends.
HOLDER = """
import sys, time, paramiko
t = paramiko.Transport(("127.0.0.1", int(sys.argv[1])))
t.connect(username="u", password="pw")
s = paramiko.SFTPClient.from_transport(t)
s.listdir(".")
print("holding", flush=True)
try:
    for _ in range(60):
        s.listdir(".")
        time.sleep(0.5)
except Exception:
    print("closed", flush=True)
"""


@unittest.skipUnless(SFTP and SSHPASS, "OpenSSH's sftp and sshpass are needed (scripts/install-deps.sh test)")
class SftpSessions(unittest.TestCase):
    def setUp(self):
        server, self.sftp_port = sftp_server(self, "<xferlog>xferlog</xferlog>")
        self.home = server.path("home")
        os.makedirs(self.home)
        with open(os.path.join(self.home, "down.bin"), "wb") as f:
            f.write(os.urandom(300000))
        server.write("ftpusers.xml", users_document(user_element("u", digest("pw"), self.home, privilege=FULL)))
        server.start(args=("-d",))
        self.server = server
        self.local = tempfile.mkdtemp(prefix="sftp-sessions-")
        self.addCleanup(shutil.rmtree, self.local, ignore_errors=True)

    def ctl(self, *args):
        return subprocess.run([CTL, "--dir", self.server.dir, *args], env=self.server.env(), capture_output=True,
                              text=True, timeout=60)

    def test_each_transfer_is_one_line_of_the_transfer_log(self):
        with open(os.path.join(self.local, "up.bin"), "wb") as f:
            f.write(os.urandom(123457))
        script = os.path.join(self.local, "batch")
        with open(script, "w") as f:
            f.write("put up.bin\nget down.bin\nls\n")
        done = subprocess.run(
            [SSHPASS, "-p", "pw", SFTP, "-F", "/dev/null", "-o", "StrictHostKeyChecking=no",
             "-o", "UserKnownHostsFile=/dev/null", "-o", "PreferredAuthentications=password", "-o", "BatchMode=no",
             "-o", "LogLevel=ERROR", "-P", str(self.sftp_port), "-b", script, "u@127.0.0.1"],
            cwd=self.local, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
            env=dict(os.environ, HOME=self.local))
        self.assertEqual(done.returncode, 0, done.stderr)
        path = self.server.path("xferlog")
        self.assertTrue(wait_until(lambda: os.path.exists(path) and self.server.read("xferlog").count(b"\n") == 2))
        up, down = parse_xferlog(self.server.read("xferlog"))
        self.assertEqual((up["service"], up["direction"], up["bytes"], up["name"], up["user"], up["status"]),
                         ("sftp", "i", 123457, os.path.join(self.home, "up.bin"), "u", "c"))
        self.assertEqual((down["service"], down["direction"], down["bytes"], down["name"], down["host"]),
                         ("sftp", "o", 300000, os.path.join(self.home, "down.bin"), "127.0.0.1"))

    @unittest.skipUnless(HAS_PARAMIKO, "paramiko (python3-paramiko) is not installed")
    def test_a_session_is_listed_and_kicked(self):
        holder = subprocess.Popen([SYSTEM_PYTHON, "-c", HOLDER, str(self.sftp_port)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, text=True)
        self.addCleanup(holder.wait, 30)
        self.addCleanup(holder.stdout.close)
        self.assertEqual(holder.stdout.readline().strip(), "holding")
        rows = [row for row in json.loads(self.ctl("--json", "sessions").stdout) if row["protocol"] == "sftp"]
        self.assertEqual(len(rows), 1, rows)
        self.assertEqual((rows[0]["user"], rows[0]["address"]), ("u", "127.0.0.1"))
        self.assertGreater(rows[0]["bytes"], 0)
        self.assertRegex(self.ctl("sessions").stdout, r"(?m)^%d +sftp +u +127\.0\.0\.1 " % rows[0]["id"])
        kicked = self.ctl("kick", str(rows[0]["id"]))
        self.assertEqual(kicked.returncode, 0, kicked.stderr)
        self.assertEqual(kicked.stdout, "Closed 1 session.\n")
        self.assertEqual(holder.stdout.readline().strip(), "closed")
        self.assertTrue(wait_until(lambda: not [r for r in json.loads(self.ctl("--json", "sessions").stdout)
                                                if r["protocol"] == "sftp"], timeout=10))


if __name__ == "__main__":
    unittest.main()
