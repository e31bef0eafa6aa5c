"""corvelctl sessions and kick against the real server: FTP sessions and web
connections are listed with protocol, account, address, start and bytes, and a
kicked session (by ID, or every session of an account, a running transfer too) is
closed within a second."""
import base64
import json
import os
import socket
import subprocess
import time
import unittest

from harness import BUILD_DIR, LOOPBACK, Control, Server, connect_tcp, digest, passive_data, user_element, \
    users_document

CTL = os.path.join(BUILD_DIR, "corvelctl")


def closed_within(sock, seconds):
    """Whether the peer closes sock within seconds (what it sent before is read away)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            if not sock.recv(1 << 20):
                return True
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True
    return False


class SessionsTest(unittest.TestCase):
    def setUp(self):
        self.server = Server(maxconn=64, start=False)
        self.addCleanup(self.server.cleanup)
        home = self.server.path("home")
        os.makedirs(home)
        with open(os.path.join(home, "big.bin"), "wb") as f:
            f.truncate(1 << 30)
        self.server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home),
                                                         user_element("bob", digest("pw"), home)))
        self.server.start()

    def ctl(self, *args):
        return subprocess.run([CTL, "--dir", self.server.dir, *args], env=self.server.env(), capture_output=True,
                              text=True, timeout=60)

    def sessions(self):
        done = self.ctl("--json", "sessions")
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)

    def control(self, user=None):
        c = Control(self.server.ftp_port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        if user:
            self.assertTrue(c.login(user, "pw").startswith(b"230"))
        return c

    def web_download(self, user):
        """A download the client does not read, so the server's send waits on it."""
        sock = connect_tcp(self.server.web_port, timeout=20)
        self.addCleanup(sock.close)
        token = base64.b64encode(("%s:pw" % user).encode()).decode()
        sock.sendall(("GET /download.html?path=big.bin HTTP/1.1\r\nAuthorization: Basic %s\r\n\r\n"
                      % token).encode())
        return sock

    def test_listed_and_kicked_within_a_second(self):
        alice = self.control("alice")
        anonymous_try = self.control()
        web = self.web_download("alice")
        bob = self.control("bob")
        # bob's download runs, its client reading nothing.
        data = passive_data(bob)
        self.assertTrue(bob.command("RETR big.bin").startswith(b"150"))
        deadline = time.monotonic() + 10
        while len(self.sessions()) < 4 or not any(s["protocol"] == "web" and s["user"] for s in self.sessions()):
            self.assertLess(time.monotonic(), deadline, self.sessions())
            time.sleep(0.05)

        rows = self.sessions()
        self.assertEqual(sorted((s["protocol"], s["user"] or "") for s in rows),
                         [("ftp", ""), ("ftp", "alice"), ("ftp", "bob"), ("web", "alice")])
        for row in rows:
            self.assertEqual(row["address"], LOOPBACK)
            self.assertLessEqual(abs(row["sinceUnix"] - time.time()), 60)
        self.assertEqual(len({s["id"] for s in rows}), 4)
        self.assertGreater([s for s in rows if s["user"] == "bob"][0]["bytes"], 0)  # the running download counts
        self.assertGreater([s for s in rows if s["protocol"] == "web"][0]["bytes"], 0)
        table = self.ctl("sessions").stdout.splitlines()
        self.assertEqual(table[0].split(), ["ID", "PROTOCOL", "USER", "ADDRESS", "SINCE", "BYTES"])
        self.assertEqual(len(table), 5)
        self.assertIn(" - ", [line for line in table if " ftp " in line and " alice " not in line
                              and " bob " not in line][0])

        # By ID: the one not logged in.
        unnamed = [s["id"] for s in rows if s["user"] is None][0]
        kicked = self.ctl("kick", str(unnamed))
        self.assertEqual((kicked.returncode, kicked.stdout), (0, "Closed 1 session.\n"), kicked.stderr)
        self.assertTrue(closed_within(anonymous_try.sock, 1.0))

        # bob's running transfer: the data connection and the session end.
        kicked = self.ctl("kick", "--user", "bob")
        self.assertEqual(kicked.stdout, "Closed 1 session.\n", kicked.stderr)
        self.assertTrue(closed_within(data, 1.0))
        self.assertTrue(closed_within(bob.sock, 1.0))

        # Every session of alice, FTP and web.
        kicked = self.ctl("kick", "--user", "alice")
        self.assertEqual(kicked.stdout, "Closed 2 sessions.\n", kicked.stderr)
        self.assertTrue(closed_within(alice.sock, 1.0))
        self.assertTrue(closed_within(web, 1.0))
        deadline = time.monotonic() + 5
        while self.sessions():
            self.assertLess(time.monotonic(), deadline, self.sessions())
            time.sleep(0.05)

        for args, says in ((("kick", "99999"), "no live session has the ID 99999"),
                           (("kick", "--user", "carol"), "no live session of carol"),
                           (("kick", "x1"), "is no session ID"),
                           (("kick", "1", "--user", "alice"), "not both"),
                           (("kick",), "needs a session ID or --user NAME")):
            refused = self.ctl(*args)
            self.assertEqual(refused.returncode, 1, args)
            self.assertIn(says, refused.stderr)

    def test_without_a_server(self):
        self.server.stop()
        for args in (("sessions",), ("kick", "1")):
            done = self.ctl(*args)
            self.assertEqual((done.returncode, done.stderr), (1, "corvelctl: no server is running\n"))


if __name__ == "__main__":
    unittest.main()
