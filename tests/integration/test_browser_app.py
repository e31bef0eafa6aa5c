"""The web client in a real browser (Debian's Chromium, driven by playwright-core,
tests/browser/app.mjs) against the real server: sign-in on the form, three files
and a folder uploaded with the pickers, a replace agreed to, a folder made by
keyboard, renamed and deleted, sorting, phone width, the forms (an upload among
them) with JavaScript off, and another site's forms against every action changing
nothing."""
import json
import os
import shutil
import subprocess
import unittest

from harness import Server, digest, user_element, users_document
from test_browser_csrf import CHROMIUM, AttackerSite

BROWSER_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser")
SCREENSHOTS = os.environ.get("CORVEL_APP_SCREENSHOTS")  # a path prefix: PREFIX-desktop.png, PREFIX-phone.png
EVERY_RIGHT = 0x1 | 0x2 | 0x4 | 0x8 | 0x10000 | 0x20000 | 0x40000


def attack_pages(victim):
    def autosubmit(action, fields):
        inputs = "".join('<input name="%s" value="%s">' % item for item in fields.items())
        return ('<html><body><form method="POST" action="%s%s">%s</form>'
                '<script>document.forms[0].submit()</script></body></html>' % (victim, action, inputs))
    return {
        "/mkdir.html": autosubmit("/app/mkdir", {"path": "", "name": "evil"}),
        "/rename.html": autosubmit("/app/rename", {"path": "two.txt", "name": "evil.txt"}),
        "/delete.html": autosubmit("/app/delete", {"path": "two.txt", "kind": "file"}),
        "/logout.html": autosubmit("/app/logout", {}),
        "/login.html": autosubmit("/app/login", {"user": "alice", "password": "secret"}),
        "/upload.html": autosubmit("/app/upload?path=evil.bin&offset=0&done=1&total=4", {"x": "y"}),
    }


@unittest.skipUnless(os.access(CHROMIUM, os.X_OK), "Chromium is needed at %s (set CHROMIUM)" % CHROMIUM)
@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(BROWSER_DIR, "node_modules")),
                     "node and tests/browser/node_modules are needed (scripts/test.sh installs them)")
class BrowserApp(unittest.TestCase):
    def test_a_user_uploads_organises_and_another_site_changes_nothing(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        sources = server.path("sources")
        for name, size in (("one.txt", 10), ("two.txt", 300000), ("three.txt", 5000)):
            os.makedirs(os.path.join(sources, "files"), exist_ok=True)
            with open(os.path.join(sources, "files", name), "wb") as f:
                f.write(os.urandom(size))
        os.makedirs(os.path.join(sources, "tree", "inner"))
        with open(os.path.join(sources, "tree", "top.bin"), "wb") as f:
            f.write(os.urandom(70000))
        with open(os.path.join(sources, "tree", "inner", "deep.txt"), "wb") as f:
            f.write(b"deep")
        os.makedirs(os.path.join(sources, "again"))
        replacement = os.path.join(sources, "again", "one.txt")
        with open(replacement, "wb") as f:
            f.write(b"the second one")
        server.write("ftpusers.xml", users_document(user_element("alice", digest("secret"), home,
                                                                 privilege=EVERY_RIGHT)))
        server.write("ftpconfig.xml", server.read("ftpconfig.xml").decode().replace(
            "</config>", "<webapp>yes</webapp></config>"))
        server.start()
        victim = "http://127.0.0.1:%d" % server.web_port
        attacker = AttackerSite(attack_pages(victim))
        self.addCleanup(attacker.close)
        command = ["node", "app.mjs", victim, attacker.base, "alice", "secret", os.path.join(sources, "files"),
                   os.path.join(sources, "tree"), replacement]
        if SCREENSHOTS:
            command.append(SCREENSHOTS)
        run = subprocess.run(command, cwd=BROWSER_DIR, capture_output=True, text=True, timeout=180)
        self.assertEqual(run.returncode, 0, run.stderr[-3000:])
        seen = json.loads(run.stdout.strip().splitlines()[-1])

        self.assertTrue(seen["signedIn"])
        self.assertEqual(seen["outside"], [])
        self.assertIn({"name": "corvel_session", "httpOnly": True, "sameSite": "Strict"}, seen["cookies"])
        for name in ("two.txt", "three.txt"):
            with open(os.path.join(sources, "files", name), "rb") as a, open(os.path.join(home, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        with open(os.path.join(home, "one.txt"), "rb") as f:
            self.assertEqual(f.read(), b"the second one")
        self.assertIn("one.txt", seen["replaceQuestion"])
        with open(os.path.join(home, "tree", "inner", "deep.txt"), "rb") as f:
            self.assertEqual(f.read(), b"deep")
        self.assertEqual(os.path.getsize(os.path.join(home, "tree", "top.bin")), 70000)
        self.assertIn("top.bin", seen["treeText"])
        self.assertEqual(seen["focusOutline"], "solid")
        self.assertIn("Projekt Ä", seen["deleteQuestion"].replace("Renamed", "Projekt Ä"))
        self.assertNotIn("Renamed", seen["afterDelete"])
        self.assertFalse(os.path.exists(os.path.join(home, "Renamed")))
        self.assertEqual(seen["bySize"], ["one.txt", "three.txt", "two.txt"])
        self.assertEqual(seen["bySizeDown"], ["two.txt", "three.txt", "one.txt"])
        self.assertLessEqual(seen["phoneOverflow"], 0)
        self.assertLessEqual(seen["phoneShareOverflow"], 0)
        # Another site's forms: refused, nothing on the disk changed, still signed in.
        for action, status in seen["attacks"].items():
            self.assertIn(status, (401, 403, 404), action)
        self.assertEqual(sorted(os.listdir(home)), ["one.txt", "three.txt", "top.bin", "tree", "two.txt"])
        self.assertTrue(seen["stillSignedIn"])
        self.assertTrue(seen["plainFormHidden"])
        self.assertTrue(seen["noScriptUploaded"])
        with open(os.path.join(sources, "tree", "top.bin"), "rb") as a, open(os.path.join(home, "top.bin"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assertTrue(seen["noScriptMade"])
        self.assertTrue(seen["noScriptRemoved"])
        self.assertTrue(seen["noScriptSignedOut"].endswith("/app/login"))


if __name__ == "__main__":
    unittest.main()
