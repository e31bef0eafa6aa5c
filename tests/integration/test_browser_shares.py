"""Share links in a real browser (Debian's Chromium, driven by playwright-core,
tests/browser/shares.mjs) against the real server: a file link with a password,
an expiry and a most number of downloads made on the page and opened by a visitor,
a drop box filled with the pickers and with the plain form, a selection of a folder
downloaded as one zip with JavaScript off, and a revoke on the list."""
import datetime
import io
import json
import os
import subprocess
import tempfile
import unittest
import zipfile

from harness import Server, digest, user_element, users_document
from test_browser_app import BROWSER_DIR, EVERY_RIGHT
from test_browser_csrf import CHROMIUM
import shutil


@unittest.skipUnless(os.access(CHROMIUM, os.X_OK), "Chromium is needed at %s (set CHROMIUM)" % CHROMIUM)
@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(BROWSER_DIR, "node_modules")),
                     "node and tests/browser/node_modules are needed (scripts/test.sh installs them)")
class BrowserShares(unittest.TestCase):
    def test_links_drop_boxes_and_a_selection_in_a_browser(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(os.path.join(home, "docs", "sub"))
        os.makedirs(os.path.join(home, "inbox"))
        report = os.urandom(200000)
        with open(os.path.join(home, "report.pdf"), "wb") as f:
            f.write(report)
        with open(os.path.join(home, "docs", "sub", "deep.txt"), "wb") as f:
            f.write(b"deep")
        with open(os.path.join(home, "other.txt"), "wb") as f:
            f.write(b"left out")
        sources = tempfile.mkdtemp(prefix="corvel-drop-")
        self.addCleanup(shutil.rmtree, sources, True)
        drops = []
        for name, size in (("photo.jpg", 300000), ("notes.txt", 12)):
            drops.append(os.path.join(sources, name))
            with open(drops[-1], "wb") as f:
                f.write(os.urandom(size))
        server.write("ftpusers.xml", users_document(user_element("alice", digest("secret"), home,
                                                                 privilege=EVERY_RIGHT)))
        server.write("ftpconfig.xml", server.read("ftpconfig.xml").decode().replace(
            "</config>", "<webapp>yes</webapp></config>"))
        server.start()
        base = "http://127.0.0.1:%d" % server.web_port
        expires = (datetime.date.today() + datetime.timedelta(days=2)).isoformat()
        run = subprocess.run(["node", "shares.mjs", base, "alice", "secret", expires, *drops, "--", sources],
                             cwd=BROWSER_DIR, capture_output=True, text=True, timeout=180)
        self.assertEqual(run.returncode, 0, run.stderr[-3000:])
        seen = json.loads(run.stdout.strip().splitlines()[-1])

        self.assertEqual(seen["outside"], [])
        self.assertRegex(seen["fileLink"], r"^%s/app/s/[A-Za-z0-9_-]{32}$" % base)
        self.assertTrue(seen["askedPassword"])
        self.assertIn("Wrong password", seen["wrongPassword"])
        self.assertIn("report.pdf", seen["filePage"])
        self.assertEqual(seen["downloadName"], "report.pdf")
        with open(os.path.join(sources, "shared-download"), "rb") as f:
            self.assertEqual(f.read(), report)
        # The file's link was revoked at the end; the drop box counted its three files.
        shares = server.read("ftpshares.xml").decode()
        self.assertNotIn('kind="file"', shares)
        self.assertIn('kind="dropbox"', shares)
        self.assertIn('uses="3"', shares)
        self.assertIn("Send files to inbox", seen["dropPage"])
        self.assertNotIn("photo", seen["dropPage"])
        self.assertIn("photo.jpg: sent", seen["dropProgress"])
        for path in drops:
            with open(path, "rb") as a, open(os.path.join(home, "inbox", os.path.basename(path)), "rb") as b:
                self.assertEqual(a.read(), b.read())
        self.assertIn("photo (2).jpg: received", seen["plainDrop"])
        self.assertTrue(os.path.exists(os.path.join(home, "inbox", "photo (2).jpg")))
        self.assertEqual(seen["zipName"], "files.zip")
        archive = zipfile.ZipFile(os.path.join(sources, "selection.zip"))
        self.assertEqual(sorted(archive.namelist()),
                         ["files/", "files/docs/", "files/docs/sub/", "files/docs/sub/deep.txt", "files/report.pdf"])
        self.assertEqual(archive.read("files/report.pdf"), report)
        self.assertEqual((seen["listed"], seen["listedAfter"]), (2, 1))
        self.assertIn("Revoke the link", seen["revokeQuestion"])
        self.assertEqual(seen["afterRevoke"], 404)


if __name__ == "__main__":
    unittest.main()
