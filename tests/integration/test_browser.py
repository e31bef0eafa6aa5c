"""A real browser (Debian's Chromium, driven by playwright-core) lists the home
folder with credentials, follows a folder link and downloads a file."""
import base64
import json
import os
import shutil
import subprocess
import unittest
import urllib.parse

from harness import Server, digest, user_element, users_document

BROWSER_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser")
SCREENSHOT = os.environ.get("CORVEL_WEB_SCREENSHOT")


@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(BROWSER_DIR, "node_modules")),
                     "node and tests/browser/node_modules are needed (scripts/test.sh installs them)")
class Browser(unittest.TestCase):
    def test_list_follow_a_folder_and_download(self):
        server = Server(start=False)
        try:
            home = server.path("home")
            os.makedirs(os.path.join(home, "Reports", "2026"))
            os.makedirs(os.path.join(home, "Photos"))
            payload = os.urandom(200000)
            with open(os.path.join(home, "Reports", "Summary.PDF"), "wb") as f:
                f.write(payload)
            for name, size in (("notes.txt", 1200), ("archive.tar.gz", 52000), ("budget.xls", 20480)):
                with open(os.path.join(home, name), "wb") as f:
                    f.write(b"x" * size)
            server.write("ftpusers.xml", users_document(user_element("alice", digest("secret"), home)))
            server.start()
            command = ["node", "browse.mjs", "http://127.0.0.1:%d" % server.web_port, "alice", "secret",
                       "Reports", "Summary.PDF"]
            if SCREENSHOT:
                command.append(SCREENSHOT)
            run = subprocess.run(command, cwd=BROWSER_DIR, capture_output=True, text=True, timeout=120)
            self.assertEqual(run.returncode, 0, run.stderr[-3000:])
            seen = json.loads(run.stdout.strip().splitlines()[-1])
            self.assertEqual(seen["listStatus"], 200)
            self.assertIn("list.html?path=Reports", urllib.parse.unquote(seen["folderUrl"]))
            self.assertIn("2026", seen["folderText"])
            self.assertEqual(seen["suggestedName"], "summary.pdf")
            self.assertEqual(base64.b64decode(seen["downloadBase64"]), payload)
        finally:
            server.cleanup()

    def test_utf8_names_show_right_with_a_declared_charset(self):
        server = Server(start=False)
        try:
            home = server.path("home")
            os.makedirs(os.path.join(home, "Grüße"))
            payload = os.urandom(5000)
            with open(os.path.join(home, "Grüße", "Überblick März.txt"), "wb") as f:
                f.write(payload)
            server.write("ftpusers.xml", users_document(user_element("alice", digest("secret"), home)))
            server.write("ftpconfig.xml", server.read("ftpconfig.xml").decode().replace(
                "</config>", "<webcharset>utf-8</webcharset></config>"))
            server.start()
            # The links are found by their text as Chromium decoded it: undeclared,
            # these UTF-8 bytes would read as windows-1252 ("GrÃ¼ÃŸe") and match nothing.
            run = subprocess.run(["node", "browse.mjs", "http://127.0.0.1:%d" % server.web_port, "alice", "secret",
                                  "Grüße", "Überblick März.txt"],
                                 cwd=BROWSER_DIR, capture_output=True, text=True, timeout=120)
            self.assertEqual(run.returncode, 0, run.stderr[-3000:])
            seen = json.loads(run.stdout.strip().splitlines()[-1])
            self.assertIn("Überblick März.txt", seen["folderText"])
            self.assertEqual(base64.b64decode(seen["downloadBase64"]), payload)
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
