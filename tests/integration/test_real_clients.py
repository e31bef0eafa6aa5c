"""Stock clients no one here wrote, end to end, in passive and active mode:
curl, lftp (mirror both ways) and Python's ftplib."""
import ftplib
import hashlib
import io
import os
import random
import shutil
import subprocess
import unittest

from harness import Server, digest, user_element, users_document

FULL = 0x7001F


def tree_digest(root):
    result = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                result[os.path.relpath(path, root)] = hashlib.sha256(f.read()).hexdigest()
    return result


class RealClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(welcomemsg="", start=False)
        cls.home = cls.server.path("home")
        os.makedirs(cls.home)
        cls.server.write("ftpusers.xml", users_document(user_element("u", digest("pw"), cls.home, privilege=FULL)))
        cls.server.start()
        cls.url = "ftp://u:pw@127.0.0.1:%d/" % cls.server.ftp_port

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def curl(self, *args, active=False):
        command = ["curl", "-sS", "--max-time", "60"] + (["-P", "-"] if active else []) + list(args)
        return subprocess.run(command, capture_output=True, timeout=90)

    def test_curl_download_upload_resume_listing_and_quote(self):
        for active in (False, True):
            with self.subTest(active=active):
                mode = "act" if active else "pas"
                payload = os.urandom(300000)
                local = self.server.path("up-%s.bin" % mode)
                with open(local, "wb") as f:
                    f.write(payload)
                self.assertEqual(self.curl("-T", local, self.url + "c-%s.bin" % mode, active=active).returncode, 0)
                got = self.curl(self.url + "c-%s.bin" % mode, active=active)
                self.assertEqual(got.stdout, payload)
                partial = self.server.path("partial-%s.bin" % mode)
                with open(partial, "wb") as f:
                    f.write(payload[:123456])
                r = self.curl("-C", "-", "-o", partial, self.url + "c-%s.bin" % mode, active=active)
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(partial, "rb") as f:
                    self.assertEqual(f.read(), payload)
                listing = self.curl(self.url, active=active).stdout
                self.assertIn(b" c-%s.bin" % mode.encode(), listing)  # curl turns CR LF into LF
                r = self.curl("-Q", "RNFR c-%s.bin" % mode, "-Q", "RNTO d-%s.bin" % mode, self.url, active=active)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertTrue(os.path.exists(os.path.join(self.home, "d-%s.bin" % mode)))
                r = self.curl("-Q", "DELE d-%s.bin" % mode, self.url, active=active)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.home, "d-%s.bin" % mode)))

    def test_lftp_mirrors_a_tree_both_ways(self):
        rng = random.Random(7)
        source = self.server.path("src-tree")
        for i in range(200):
            folder = os.path.join(source, "d%d" % (i % 7), "e%d" % (i % 3))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%03d.bin" % i), "wb") as f:
                f.write(rng.randbytes(rng.randint(0, 20000)))
        expected = tree_digest(source)
        for passive in ("true", "false"):
            with self.subTest(passive=passive):
                remote = "tree-" + passive
                down = self.server.path("down-" + passive)
                script = ("set ftp:passive-mode %s; set net:max-retries 1; set net:timeout 20; "
                          "set ftp:use-feat no; set ftp:use-mdtm no; set ftp:use-size yes; "
                          "mirror -R --no-perms %s %s; mirror --no-perms %s %s; bye"
                          % (passive, source, remote, remote, down))
                r = subprocess.run(["lftp", "-u", "u,pw", "-p", str(self.server.ftp_port), "-e", script,
                                    "127.0.0.1"], capture_output=True, timeout=300)
                self.assertEqual(r.returncode, 0, r.stderr[-2000:])
                self.assertEqual(tree_digest(os.path.join(self.home, remote)), expected)
                self.assertEqual(tree_digest(down), expected)

    def test_ftplib_store_retrieve_rename_directories(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = ftplib.FTP()
                ftp.connect("127.0.0.1", self.server.ftp_port, timeout=30)
                ftp.login("u", "pw")
                ftp.set_pasv(passive)
                folder = "lib-%s" % passive
                self.assertTrue(ftp.mkd(folder).endswith(folder))
                ftp.cwd(folder)
                payload = os.urandom(70000)
                ftp.storbinary("STOR a.bin", io.BytesIO(payload))
                received = io.BytesIO()
                ftp.retrbinary("RETR a.bin", received.write)
                self.assertEqual(received.getvalue(), payload)
                ftp.rename("a.bin", "b.bin")
                self.assertTrue(any(line.endswith(" b.bin") for line in ftp.nlst()))
                ftp.delete("b.bin")
                ftp.cwd("..")
                ftp.rmd(folder)
                self.assertFalse(os.path.exists(os.path.join(self.home, folder)))
                ftp.quit()


if __name__ == "__main__":
    unittest.main()
