"""<passwordhash>argon2id</passwordhash> against the real server: accounts corvelctl
adds as Argon2id log in over FTP and the web, a designed digest is rewritten at its
first login on either protocol with the rest of the file kept, the web's password
change writes Argon2id, and without the element the file is never touched."""
import base64
import ftplib
import os
import re
import subprocess
import unittest

from harness import BUILD_DIR, LOOPBACK, Server, connect_tcp, digest, recv_all, wait_until

CTL = os.path.join(BUILD_DIR, "corvelctl")
ARGON2ID = re.compile(r'^\$argon2id\$v=19\$m=19456,t=2,p=1\$[A-Za-z0-9+/]{22}\$[A-Za-z0-9+/]{43}$')


def web_get(port, user, password, path="list.html", body=None):
    token = base64.b64encode(("%s:%s" % (user, password)).encode("latin-1")).decode()
    if body is None:
        raw = "GET /%s HTTP/1.1\r\nAuthorization: Basic %s\r\n\r\n" % (path, token)
    else:
        raw = ("POST /%s HTTP/1.1\r\nAuthorization: Basic %s\r\nContent-Length: %d\r\n\r\n%s"
               % (path, token, len(body), body))
    with connect_tcp(port, timeout=20) as s:
        s.sendall(raw.encode("latin-1"))
        return recv_all(s, 20)


def ftp_login(port, user, password):
    ftp = ftplib.FTP()
    ftp.connect(LOOPBACK, port, timeout=20)
    try:
        return ftp.login(user, password)
    except ftplib.error_perm as e:
        return str(e)
    finally:
        ftp.close()


def stored_passwords(server):
    text = server.read("ftpusers.xml").decode("latin-1")
    return dict(re.findall(r'<user username="([^"]*)" password="([^"]*)"', text))


class PasswordHashTest(unittest.TestCase):
    def setUp(self):
        self.homes = {}
        users = "<users note=\"kept\">\n    <!-- by hand -->\n"
        for name in ("bob", "carol"):
            users += ('    <user username="%s" password="%s" alias="" privilege="131074" work_dir="{home}" '
                      'welcome_msg="" disabled="no" quota="7"><key>AAAA</key></user>\n' % (name, digest(name + "-pw")))
        users += "    <group name=\"staff\" />\n</users>\n"
        self.server = Server(extra="<passwordhash>argon2id</passwordhash>", start=False)
        self.addCleanup(self.server.cleanup)
        home = self.server.path("home")
        os.makedirs(home)
        with open(os.path.join(home, "hello.txt"), "w") as f:
            f.write("hello\n")
        self.server.write("ftpusers.xml", users.replace("{home}", home))
        self.home = home
        self.server.start()

    def ctl(self, *args, stdin=None):
        return subprocess.run([CTL, "--dir", self.server.dir, *args], input=stdin, env=self.server.env(),
                              capture_output=True, text=True, timeout=60)

    def test_argon2id_accounts_and_upgrades_over_ftp_and_web(self):
        server = self.server
        added = self.ctl("user", "add", "alice", "--home", self.home, "--password-stdin", stdin="s3cret pw\n")
        self.assertEqual(added.returncode, 0, added.stderr)
        self.assertRegex(stored_passwords(server)["alice"], ARGON2ID)
        self.assertTrue(wait_until(lambda: ftp_login(server.ftp_port, "alice", "s3cret pw").startswith("230"),
                                   timeout=15))

        # alice, stored as Argon2id: both protocols, and nothing else.
        ftp = ftplib.FTP()
        ftp.connect(LOOPBACK, server.ftp_port, timeout=20)
        self.addCleanup(ftp.close)
        self.assertTrue(ftp.login("alice", "s3cret pw").startswith("230"))
        lines = []
        ftp.retrlines("RETR hello.txt", lines.append)
        self.assertEqual(lines, ["hello"])
        ftp.quit()
        page = web_get(server.web_port, "alice", "s3cret pw")
        self.assertTrue(page.startswith(b"HTTP/1.1 200 OK\r\n"), page[:80])
        self.assertIn(b"hello.txt", page)
        self.assertTrue(ftp_login(server.ftp_port, "alice", "s3cret").startswith("530"))
        self.assertTrue(web_get(server.web_port, "alice", "S3cret pw").startswith(b"HTTP/1.1 401"))

        # bob upgrades at his first FTP login, carol at her first web request; the
        # other elements and attributes of the file stay.
        before = server.read("ftpusers.xml").decode("latin-1")
        self.assertTrue(ftp_login(server.ftp_port, "bob", "wrong").startswith("530"))
        self.assertEqual(server.read("ftpusers.xml").decode("latin-1"), before)
        self.assertTrue(ftp_login(server.ftp_port, "bob", "bob-pw").startswith("230"))
        self.assertTrue(web_get(server.web_port, "carol", "carol-pw").startswith(b"HTTP/1.1 200 OK\r\n"))
        stored = stored_passwords(server)
        self.assertRegex(stored["bob"], ARGON2ID)
        self.assertRegex(stored["carol"], ARGON2ID)
        after = server.read("ftpusers.xml").decode("latin-1")
        self.assertEqual(re.sub(r'password="[^"]*"', "", after), re.sub(r'password="[^"]*"', "", before))
        for kept in ('note="kept"', "<!-- by hand -->", 'quota="7"', "<key>AAAA</key>", '<group name="staff" />'):
            self.assertIn(kept, after)
        self.assertNotIn(digest("bob-pw"), after)
        # The rewritten accounts log in with the same password, on the other protocol too.
        self.assertTrue(web_get(server.web_port, "bob", "bob-pw").startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertTrue(ftp_login(server.ftp_port, "carol", "carol-pw").startswith("230"))
        self.assertEqual(stored_passwords(server), stored)  # upgraded once only

        # The web's password change writes Argon2id too.
        reply = web_get(server.web_port, "bob", "bob-pw", "update_password.html",
                        body="new_pwd=n%26w+1&new_pwd_confirm=n%26w+1")
        self.assertIn(b"Update Successfully", reply)
        changed = stored_passwords(server)["bob"]
        self.assertRegex(changed, ARGON2ID)
        self.assertNotEqual(changed, stored["bob"])
        self.assertTrue(ftp_login(server.ftp_port, "bob", "n&w 1").startswith("230"))
        self.assertTrue(ftp_login(server.ftp_port, "bob", "bob-pw").startswith("530"))

    def test_without_the_element_logins_leave_the_file_as_it_was(self):
        self.server.stop()
        plain = Server(files={"ftpusers.xml": self.server.read("ftpusers.xml").decode("latin-1")}, start=False)
        self.addCleanup(plain.cleanup)
        original = plain.read("ftpusers.xml")
        plain.start()
        self.assertTrue(ftp_login(plain.ftp_port, "bob", "bob-pw").startswith("230"))
        self.assertTrue(web_get(plain.web_port, "carol", "carol-pw").startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertEqual(plain.read("ftpusers.xml"), original)

    def test_a_value_other_than_argon2id_stops_the_start(self):
        self.server.stop()
        bad = Server(extra="<passwordhash>md5</passwordhash>", start=False)
        self.addCleanup(bad.cleanup)
        run = subprocess.run([bad.binary, "-d"], env=bad.env(), cwd=bad.dir, capture_output=True, timeout=30)
        self.assertIn("<passwordhash>md5</passwordhash> is not argon2id", run.stderr.decode())

if __name__ == "__main__":
    unittest.main()
