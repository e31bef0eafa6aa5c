"""Another site cannot change a logged-in user's web password: headless Chromium
(driven by playwright-core, answering the Basic challenge as the user's browser
would) opens attacker pages served from 127.0.0.2 that post the password form to
the server on 127.0.0.1 (with and without a referrer), follow a GET link to it and
load it as an image; the real form in the same browser still changes the password."""
import ftplib
import http.server
import json
import os
import queue
import shutil
import subprocess
import threading
import unittest

from harness import LOOPBACK, Server, digest, user_element, users_document

BROWSER_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser")
CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
ATTACKER_HOST = "127.0.0.2"  # another loopback address, so another site to the browser
NOT_UPDATED = '<font color="red">Password can not be updated</font>'
UPDATED = '<font color="green">Update Successfully</font>'
LINE_TIMEOUT = 90  # seconds for one JSON line of csrf.mjs (browser start plus one phase)


def attacker_pages(web_port):
    target = "http://%s:%d/update_password.html" % (LOOPBACK, web_port)
    form = ('<form method=POST action="%s"><input name=new_pwd value=pwned>'
            '<input name=new_pwd_confirm value=pwned></form><script>document.forms[0].submit()</script>'
            % target)
    # Without a referrer the browser sends no Referer, and on a POST "Origin: null".
    hidden = '<meta name="referrer" content="no-referrer">'
    return {
        "/post.html": "<html><body>%s</body></html>" % form,
        "/post-hidden.html": "<html><head>%s</head><body>%s</body></html>" % (hidden, form),
        "/link.html": ('<html><head>%s</head><body><script>location.href = '
                       '"%s?new_pwd=pwned&new_pwd_confirm=pwned"</script></body></html>' % (hidden, target)),
        "/img.html": ('<html><body><img src="%s?new_pwd=pwned&new_pwd_confirm=pwned"></body></html>'
                      % target),
    }


class AttackerSite:
    """An HTTP server on ATTACKER_HOST, in a thread, serving fixed pages."""

    def __init__(self, pages):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                page = pages.get(self.path)
                body = (page or "not here").encode()
                self.send_response(200 if page else 404)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer((ATTACKER_HOST, 0), Handler)
        self.base = "http://%s:%d" % (ATTACKER_HOST, self.httpd.server_address[1])
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                       daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)


class BrowserRun:
    """node csrf.mjs with its stdout read line by line, each read bounded."""

    def __init__(self, args, stderr_path):
        self.stderr_path = stderr_path
        with open(stderr_path, "wb") as err:
            self.process = subprocess.Popen(["node", "csrf.mjs", *args], cwd=BROWSER_DIR, text=True,
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def stderr(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()[-3000:]

    def json_line(self, phase):
        try:
            line = self.lines.get(timeout=LINE_TIMEOUT)
        except queue.Empty:
            raise AssertionError("no %s line from csrf.mjs in %d s: %s" % (phase, LINE_TIMEOUT, self.stderr()))
        if line is None:
            raise AssertionError("csrf.mjs ended before the %s line: %s" % (phase, self.stderr()))
        seen = json.loads(line)
        if seen.get("phase") != phase:
            raise AssertionError("expected the %s line, got %r" % (phase, line))
        return seen

    def resume(self):
        self.process.stdin.write("go\n")
        self.process.stdin.close()

    def finish(self, timeout=30):
        """Waits for the exit; asks it to stop (it closes its browser on SIGTERM) and
        then kills it if it outstays the timeout. Returns the exit code."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.terminate()
            try:
                return self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                return self.process.wait(5)
        finally:
            if not self.process.stdin.closed:
                self.process.stdin.close()
            self.reader.join(5)
            self.process.stdout.close()


def ftp_login_works(port, user, password):
    ftp = ftplib.FTP()
    ftp.connect(LOOPBACK, port, timeout=10)
    try:
        return ftp.login(user, password).startswith("230")
    except ftplib.error_perm:
        return False
    finally:
        ftp.close()


@unittest.skipUnless(os.access(CHROMIUM, os.X_OK), "Chromium is needed at %s (set CHROMIUM)" % CHROMIUM)
@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(BROWSER_DIR, "node_modules",
                                                                         "playwright-core")),
                     "node and tests/browser/node_modules/playwright-core are needed "
                     "(scripts/test.sh installs them)")
class CrossSitePasswordChange(unittest.TestCase):
    def test_other_site_cannot_change_the_password_but_the_own_form_can(self):
        server = Server(start=False)
        attacker = None
        run = None
        try:
            home = server.path("home")
            os.makedirs(home)
            with open(os.path.join(home, "ledger.txt"), "w") as f:
                f.write("figures\n")
            server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
            server.start()
            attacker = AttackerSite(attacker_pages(server.web_port))
            run = BrowserRun(["http://%s:%d" % (LOOPBACK, server.web_port), attacker.base, "alice", "pw",
                              "fresh"], server.path("csrf-stderr.log"))

            attack = run.json_line("attack")
            self.assertEqual(attack["listStatus"], 200)
            self.assertIn("ledger.txt", attack["listText"])
            # The forms and the link are top-level navigations: the browser sends them
            # logged in, and the server answers with the refusal.
            for name, method in (("post", "POST"), ("postHidden", "POST"), ("link", "GET")):
                seen = attack[name]
                self.assertEqual(seen["method"], method, seen)
                self.assertTrue(seen["sent"][-1]["credentials"], seen)
                self.assertEqual(seen["statuses"][-1], 200, seen)
                self.assertIn(NOT_UPDATED, seen["body"], seen)
                self.assertIn("Password can not be updated", seen["pageText"])
            self.assertEqual(attack["post"]["sent"][-1]["origin"], attacker.base)
            self.assertEqual(attack["postHidden"]["sent"][-1]["origin"], "null")
            self.assertEqual(attack["postHidden"]["sent"][-1]["referer"], "")
            # The link says nothing of where it came from: only its method refuses it.
            self.assertEqual((attack["link"]["sent"][-1]["origin"], attack["link"]["sent"][-1]["referer"]),
                             ("", ""))
            # The image reaches the server; the browser keeps its answer from the
            # page, so only the status shows: 401 when it did not send the
            # credentials to another site's image, 200 (the refusal) when it did.
            img = attack["img"]
            self.assertEqual(img["statuses"][-1], 200 if img["sent"][-1]["credentials"] else 401, img)
            self.assertTrue(ftp_login_works(server.ftp_port, "alice", "pw"))
            self.assertFalse(ftp_login_works(server.ftp_port, "alice", "pwned"))

            run.resume()
            control = run.json_line("control")["post"]
            self.assertEqual(control["sent"][-1]["origin"], "http://%s:%d" % (LOOPBACK, server.web_port))
            self.assertIn(UPDATED, control["body"])
            self.assertIn("Update Successfully", control["pageText"])
            self.assertEqual(run.finish(), 0, run.stderr())
            self.assertTrue(ftp_login_works(server.ftp_port, "alice", "fresh"))
            self.assertFalse(ftp_login_works(server.ftp_port, "alice", "pw"))
        finally:
            if run is not None:
                run.finish(timeout=0)
            if attacker is not None:
                attacker.close()
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
