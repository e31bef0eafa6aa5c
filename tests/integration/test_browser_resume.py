"""An upload cut half-way in a real browser and resumed (tests/browser/resume.mjs):
the page is closed while a chunk is in flight, a new page picks the same file, the
upload goes on from where the stored part ends, and the stored file's checksum is
the source's. 1 GiB, about 12 s on a two-core machine (CORVEL_RESUME_MIB sets
another size)."""
import hashlib
import json
import os
import shutil
import subprocess
import unittest

from harness import Server, digest, user_element, users_document
from test_browser_app import BROWSER_DIR, EVERY_RIGHT
from test_browser_csrf import CHROMIUM


def sha256_of(path):
    result = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            result.update(block)
    return result.hexdigest()


@unittest.skipUnless(os.access(CHROMIUM, os.X_OK), "Chromium is needed at %s (set CHROMIUM)" % CHROMIUM)
@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(BROWSER_DIR, "node_modules")),
                     "node and tests/browser/node_modules are needed (scripts/test.sh installs them)")
class BrowserResume(unittest.TestCase):
    MIB = int(os.environ.get("CORVEL_RESUME_MIB", "1024"))
    SECONDS = 240

    def test_an_upload_cut_half_way_resumes_and_arrives_whole(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        source = server.path("source", "big.bin")
        os.makedirs(os.path.dirname(source))
        # Random blocks, so a chunk stored twice or at a wrong offset changes the sum.
        with open(source, "wb") as f:
            block = os.urandom(1 << 20)
            for i in range(self.MIB):
                f.write(block[i % 4096:] + block[:i % 4096])
        server.write("ftpusers.xml", users_document(user_element("alice", digest("secret"), home,
                                                                 privilege=EVERY_RIGHT)))
        server.write("ftpconfig.xml", server.read("ftpconfig.xml").decode().replace(
            "</config>", "<webapp>yes</webapp></config>"))
        server.start()
        run = subprocess.run(["node", "resume.mjs", "http://127.0.0.1:%d" % server.web_port, "alice", "secret",
                              source, os.path.join(home, ".big.bin.corvel-upload"), str(self.SECONDS)],
                             cwd=BROWSER_DIR, capture_output=True, text=True, timeout=self.SECONDS + 30)
        self.assertEqual(run.returncode, 0, run.stderr[-3000:])
        seen = json.loads(run.stdout.strip().splitlines()[-1])
        size = self.MIB << 20
        # Cut inside the upload, resumed from what was stored then, not from the start.
        self.assertGreaterEqual(seen["cutAt"], size // 2)
        self.assertLess(seen["cutAt"], size)
        self.assertEqual(seen["resumedFrom"], seen["cutAt"])
        self.assertEqual(os.path.getsize(os.path.join(home, "big.bin")), size)
        self.assertEqual(sha256_of(os.path.join(home, "big.bin")), sha256_of(source))
        self.assertFalse(os.path.exists(os.path.join(home, ".big.bin.corvel-upload")))


if __name__ == "__main__":
    unittest.main()
