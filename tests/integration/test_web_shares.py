"""The web client's share links (<webapp>yes), driven with http.client: a file link
with a password, an expiry and a most number of downloads; a folder link that
stays inside its folder; an upload-only drop box; links that die with their
owner's account or right; revoking; the access policy, bans and the login pause
for visitors; the log line of every use; ftpshares.xml keeping only digests; and
corvelctl share list|add|revoke against the running server."""
import base64
import datetime
import hashlib
import io
import os
import re
import subprocess
import time
import unittest
import urllib.parse
import zipfile

from harness import BUILD_DIR, LOOPBACK, Server, digest, user_element, users_document, wait_until
from test_web_app import EVERY_RIGHT, Client, multipart

CTL = os.path.join(BUILD_DIR, "corvelctl")
READ_AND_LIST = 0x2 | 0x20000
WRITE_AND_CREATE = 0x1 | 0x4


def tomorrow():
    return (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=1)).strftime("%Y-%m-%d")


def ctl(server, *args, stdin=None):
    return subprocess.run([CTL, "--dir", server.dir, *args], input=stdin, env=server.env(), capture_output=True,
                          text=True, timeout=30)


def write_users(server, alice_privilege=EVERY_RIGHT, alice_disabled="no"):
    server.write("ftpusers.xml", users_document(
        user_element("alice", digest("secret"), server.path("home"), privilege=alice_privilege,
                     disabled=alice_disabled),
        user_element("bob", digest("pw"), server.path("bobhome"), privilege=EVERY_RIGHT)))


def start_server(extra="<webapp>yes</webapp>"):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(os.path.join(home, "docs", "sub"))
    with open(os.path.join(home, "docs", "a.txt"), "wb") as f:
        f.write(b"alpha")
    with open(os.path.join(home, "docs", "sub", "deep.txt"), "wb") as f:
        f.write(b"deep")
    with open(os.path.join(home, "secret.txt"), "wb") as f:
        f.write(b"not shared")
    with open(os.path.join(home, "report.pdf"), "wb") as f:
        f.write(b"%PDF report")
    os.makedirs(os.path.join(home, "inbox"))
    os.makedirs(server.path("bobhome"))
    write_users(server)
    server.write("ftpconfig.xml", server.read("ftpconfig.xml").decode().replace("</config>", extra + "</config>"))
    server.start(args=("-d",))
    return server, home


class Visitor(Client):
    """A browser without an account: only the link, and the cookie of its password."""

    def get(self, path, headers=None):
        return self.request("GET", path, headers=headers)


def make_link(test, owner, path, **fields):
    fields = dict(fields)
    fields["path"] = path
    status, _, page = owner.post_form("/app/share", fields)
    test.assertEqual(status, 200, page[-600:])
    url = re.search(rb'id="link" class="link" readonly value="([^"]+)"', page).group(1).decode()
    parsed = urllib.parse.urlsplit(url)
    test.assertEqual(parsed.netloc, "%s:%d" % (LOOPBACK, test.server.web_port))
    return parsed.path


def log_text(server):
    return server.read("stderr.log").decode("latin-1")


class SharesTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = start_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def owner(self, user="alice", password="secret"):
        client = Client(self.server.web_port)
        client.sign_in(user, password)
        return client

    def visitor(self):
        return Visitor(self.server.web_port)


class FileLinks(SharesTestCase):
    def test_a_file_link_with_a_password_expiry_and_limit(self):
        owner = self.owner()
        link = make_link(self, owner, "report.pdf", password="open sesame", expires=tomorrow(), max="2")
        self.assertRegex(link, r"^/app/s/[A-Za-z0-9_-]{32}$")
        token = link.rsplit("/", 1)[1]
        # The file keeps the token's SHA-256, never the token, and is private.
        stored = self.server.read("ftpshares.xml").decode()
        self.assertNotIn(token, stored)
        self.assertIn(hashlib.sha256(token.encode()).hexdigest(), stored)
        self.assertNotIn("open sesame", stored)
        self.assertEqual(os.stat(self.server.path("ftpshares.xml")).st_mode & 0o777, 0o600)
        link_id = re.search(r'<share id="([0-9a-f]{12})"', stored).group(1)

        visitor = self.visitor()
        status, _, page = visitor.get(link)
        self.assertEqual(status, 401)
        self.assertIn(b"This link has a password", page)
        self.assertEqual(visitor.get(link + "/get")[0], 401)
        # A wrong password waits, is logged as a web login and counted.
        started = time.monotonic()
        status, _, page = visitor.request("POST", link + "/unlock", {"password": "wrong"})
        self.assertEqual(status, 401)
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        self.assertIn(b"Wrong password", page)
        self.assertIn('login failed: service=web address=127.0.0.1 user="share:%s"' % link_id, log_text(self.server))
        # From another site's form, nothing is even checked.
        status, _, _ = visitor.request("POST", link + "/unlock", {"password": "open sesame"},
                                       headers={"Origin": "http://evil.example"}, origin=False)
        self.assertEqual(status, 403)
        status, headers, _ = visitor.request("POST", link + "/unlock", {"password": "open sesame"})
        self.assertEqual(status, 303)
        self.assertEqual(headers["location"], link)
        self.assertRegex(headers["set-cookie"],
                         r"^corvel_share=[0-9a-f]{64}; Path=%s; HttpOnly; SameSite=Strict$" % re.escape(link))
        cookie = headers["set-cookie"].split(";")[0]
        status, _, page = visitor.get(link, headers={"Cookie": cookie})
        self.assertEqual(status, 200)
        self.assertIn(b"report.pdf", page)
        status, headers, body = visitor.get(link + "/get", headers={"Cookie": cookie})
        self.assertEqual((status, body), (200, b"%PDF report"))
        self.assertIn('filename="report.pdf"', headers["content-disposition"])
        # Scripts give the password with HTTP Basic.
        basic = {"Authorization": "Basic " + base64.b64encode(b"any:open sesame").decode()}
        self.assertEqual(visitor.get(link + "/get", headers=basic)[:3:2], (200, b"%PDF report"))
        # Two downloads were allowed: the link has ended, for everyone.
        self.assertEqual(visitor.get(link + "/get", headers=basic)[0], 404)
        self.assertEqual(visitor.get(link, headers={"Cookie": cookie})[0], 404)
        log = log_text(self.server)
        self.assertEqual(log.count('share download: id=%s address=127.0.0.1 owner="alice" path="report.pdf"'
                                   % link_id), 2, log[-3000:])
        self.assertIn("share refused (used up): id=%s address=127.0.0.1" % link_id, log)
        self.assertIn('uses="2"', self.server.read("ftpshares.xml").decode())

    def test_an_expired_or_unknown_link_gives_the_same_page(self):
        owner = self.owner()
        link = make_link(self, owner, "report.pdf")
        visitor = self.visitor()
        self.assertEqual(visitor.get(link + "/get")[2], b"%PDF report")
        text = self.server.read("ftpshares.xml").decode()
        self.server.write("ftpshares.xml", re.sub(r'expires="0"', 'expires="%d"' % (time.time() - 5), text))
        status, _, expired = visitor.get(link)
        self.assertEqual(status, 404)
        status, _, unknown = visitor.get("/app/s/" + "A" * 32)
        self.assertEqual((status, unknown), (404, expired))
        self.assertEqual(visitor.get("/app/s/short")[0], 404)
        self.server.write("ftpshares.xml", text)

    def test_the_page_refuses_a_past_date_and_a_bad_limit_and_links_need_the_right(self):
        owner = self.owner()
        self.assertEqual(owner.post_form("/app/share", {"path": "report.pdf", "expires": "2001-01-01"})[0], 400)
        self.assertEqual(owner.post_form("/app/share", {"path": "report.pdf", "expires": "tomorrow"})[0], 400)
        self.assertEqual(owner.post_form("/app/share", {"path": "report.pdf", "max": "0"})[0], 400)
        self.assertEqual(owner.post_form("/app/share", {"path": "report.pdf", "max": "-1"})[0], 400)
        self.assertEqual(owner.post_form("/app/share", {"path": "nothing.txt"})[0], 404)
        self.assertEqual(owner.post_form("/app/share", {"path": "../.."})[0], 403)
        self.assertEqual(owner.post_form("/app/share", {"path": "report.pdf", "kind": "dropbox"})[0], 409)


class FolderLinks(SharesTestCase):
    def test_a_folder_link_lists_downloads_and_zips_inside_its_folder_only(self):
        owner = self.owner()
        with open(os.path.join(self.home, "docs", ".half.bin.corvel-upload"), "wb") as f:
            f.write(b"half")
        link = make_link(self, owner, "docs")
        visitor = self.visitor()
        status, _, page = visitor.get(link)
        self.assertEqual(status, 200)
        self.assertIn(b'data-name="a.txt"', page)
        self.assertIn(b'data-name="sub"', page)
        self.assertNotIn(b"corvel-upload", page)
        self.assertNotIn(b"secret.txt", page)
        status, _, page = visitor.get(link + "?path=sub")
        self.assertIn(b'data-name="deep.txt"', page)
        self.assertEqual(visitor.get(link + "/get?path=sub/deep.txt")[2], b"deep")
        for escape in ("..", "../secret.txt", "sub/../../secret.txt", "/../secret.txt"):
            status, _, body = visitor.get(link + "/get?path=" + urllib.parse.quote(escape))
            self.assertIn(status, (403, 404), escape)
            self.assertNotIn(b"not shared", body)
            self.assertNotIn(b"secret", visitor.get(link + "?path=" + urllib.parse.quote(escape))[2])
        self.assertEqual(visitor.get(link + "/get?path=.half.bin.corvel-upload")[0], 404)
        # The whole folder, then a selection of it, as one zip.
        status, headers, body = visitor.get(link + "/zip")
        self.assertEqual(status, 200)
        self.assertIn("docs.zip", headers["content-disposition"])
        self.assertEqual(sorted(zipfile.ZipFile(io.BytesIO(body)).namelist()),
                         ["docs/", "docs/a.txt", "docs/sub/", "docs/sub/deep.txt"])
        status, _, body = visitor.get(link + "/zip?path=&pick=sub")
        self.assertEqual(sorted(zipfile.ZipFile(io.BytesIO(body)).namelist()),
                         ["docs/", "docs/sub/", "docs/sub/deep.txt"])
        self.assertEqual(visitor.get(link + "/zip?path=&pick=..")[0], 400)
        log = log_text(self.server)
        self.assertIn('share list: id=', log)
        self.assertIn('path="sub/deep.txt"', log)
        self.assertIn('share zip: id=', log)


class DropBoxes(SharesTestCase):
    def put(self, visitor, link, upload, name, data, offset=0, done=False, total=None):
        query = "upload=%s&name=%s&offset=%d" % (upload, urllib.parse.quote(name), offset)
        if done:
            query += "&done=1&total=%d" % (total if total is not None else offset + len(data))
        return visitor.request("PUT", link + "/upload?" + query, data)

    def test_a_drop_box_takes_files_and_shows_nothing(self):
        owner = self.owner()
        with open(os.path.join(self.home, "inbox", "private.txt"), "wb") as f:
            f.write(b"private")
        link = make_link(self, owner, "inbox", kind="dropbox")
        visitor = self.visitor()
        status, _, page = visitor.get(link)
        self.assertEqual(status, 200)
        self.assertIn(b"Send files to inbox", page)
        self.assertNotIn(b"private", page)
        self.assertEqual(visitor.get(link + "/get?path=private.txt")[0], 404)
        self.assertEqual(visitor.get(link + "/zip")[0], 404)
        # Chunks with offsets, resumed after asking how much arrived.
        upload = "0123456789abcdef" * 2
        self.assertEqual(self.put(visitor, link, upload, "private.txt", b"first ")[0], 200)
        status, _, body = visitor.get(link + "/upload?upload=" + upload)
        self.assertEqual((status, body), (200, b'{"received":6}'))
        self.assertEqual(self.put(visitor, link, upload, "private.txt", b"again", offset=3)[0], 409)
        status, _, body = self.put(visitor, link, upload, "private.txt", b"half", offset=6, done=True, total=10)
        self.assertEqual(status, 200, body)
        # The name was taken, so the file got the next one; nothing was replaced.
        self.assertIn(b'"name":"private (2).txt"', body)
        with open(os.path.join(self.home, "inbox", "private.txt"), "rb") as f:
            self.assertEqual(f.read(), b"private")
        with open(os.path.join(self.home, "inbox", "private (2).txt"), "rb") as f:
            self.assertEqual(f.read(), b"first half")
        self.assertEqual(self.put(visitor, link, "bad", "x.txt", b"x", done=True)[0], 400)
        self.assertEqual(self.put(visitor, link, upload, "../x.txt", b"x", done=True)[0], 200)  # the last name only
        self.assertTrue(os.path.exists(os.path.join(self.home, "inbox", "x.txt")))
        # The plain form, without the script.
        body, headers = multipart([("files", "form.txt", b"by the form"), ("files", "form.txt", b"twice")])
        status, _, page = visitor.request("POST", link + "/send", body, headers=headers)
        self.assertEqual(status, 200, page)
        self.assertIn(b"form.txt: received", page)
        self.assertIn(b"form (2).txt: received", page)
        with open(os.path.join(self.home, "inbox", "form (2).txt"), "rb") as f:
            self.assertEqual(f.read(), b"twice")
        self.assertEqual(sorted(n for n in os.listdir(os.path.join(self.home, "inbox")) if n.startswith(".")), [])
        self.assertIn('share upload: id=', log_text(self.server))
        self.assertIn('path="private (2).txt"', log_text(self.server))


class Owners(SharesTestCase):
    def reload_users(self, **changes):
        write_users(self.server, **changes)
        done = ctl(self.server, "reload", "users")
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_a_link_stops_with_its_owners_account_or_right(self):
        owner = self.owner()
        file_link = make_link(self, owner, "report.pdf")
        folder_link = make_link(self, owner, "docs")
        drop_link = make_link(self, owner, "inbox", kind="dropbox")
        visitor = self.visitor()
        status = lambda path: visitor.get(path)[0]  # noqa: E731
        try:
            self.reload_users(alice_disabled="yes")
            self.assertTrue(wait_until(lambda: status(file_link + "/get") == 404, timeout=10))
            self.assertEqual(status(folder_link), 404)
            self.assertIn("share refused (owner disabled or removed)", log_text(self.server))
            self.reload_users(alice_privilege=WRITE_AND_CREATE | 0x20000)  # no Read
            self.assertTrue(wait_until(lambda: status(folder_link) == 200, timeout=10))
            self.assertEqual(status(file_link + "/get"), 404)
            self.assertNotIn(b"/get?path=", visitor.get(folder_link)[2])  # listed, not downloadable
            self.assertEqual(status(folder_link + "/get?path=a.txt"), 403)
            self.assertEqual(status(drop_link), 200)
            self.reload_users(alice_privilege=READ_AND_LIST)  # no Write
            self.assertTrue(wait_until(lambda: status(drop_link) == 404, timeout=10))
            self.assertIn("share refused (owner lacks the right)", log_text(self.server))
            self.assertEqual(status(file_link + "/get"), 200)
            listed = ctl(self.server, "share", "list", "--user", "alice")
            self.assertIn("not working: owner lacks the right", listed.stdout)
        finally:
            self.reload_users()
            self.assertTrue(wait_until(lambda: status(drop_link) == 200, timeout=10))

    def test_links_are_listed_and_revoked_by_their_owner_only(self):
        owner = self.owner()
        link = make_link(self, owner, "docs/a.txt")
        link_id = re.findall(r'<share id="([0-9a-f]{12})"', self.server.read("ftpshares.xml").decode())[-1]
        status, _, page = owner.request("GET", "/app/shares")
        self.assertEqual(status, 200)
        self.assertIn(('data-id="%s"' % link_id).encode(), page)
        self.assertNotIn(link.rsplit("/", 1)[1].encode(), page)  # never shown again
        bob = self.owner("bob", "pw")
        self.assertNotIn(link_id.encode(), bob.request("GET", "/app/shares")[2])
        self.assertEqual(bob.post_form("/app/unshare", {"id": link_id})[0], 404)
        self.assertEqual(self.visitor().get(link + "/get")[2], b"alpha")
        # Another site's forms change nothing.
        evil = {"Origin": "http://evil.example"}
        self.assertEqual(owner.post_form("/app/unshare", {"id": link_id}, headers=evil, origin=False)[0], 403)
        self.assertEqual(owner.post_form("/app/share", {"path": "docs"}, headers=evil, origin=False)[0], 403)
        self.assertEqual(owner.request("POST", "/app/unshare", {"id": link_id})[0], 403)  # no token
        self.assertEqual(self.visitor().get(link + "/get")[0], 200)
        status, headers, _ = owner.post_form("/app/unshare", {"id": link_id})
        self.assertEqual((status, headers["location"]), (303, "/app/shares"))
        self.assertEqual(self.visitor().get(link + "/get")[0], 404)

    def test_corvelctl_makes_lists_and_revokes_links_the_server_serves(self):
        done = ctl(self.server, "share", "add", "alice", "/docs/sub", "--password-stdin", "--max-downloads", "5",
                   "--expires", tomorrow(), "--url", "http://%s:%d/" % (LOOPBACK, self.server.web_port),
                   stdin="pw\n")
        self.assertEqual(done.returncode, 0, done.stderr)
        url = done.stdout.strip().splitlines()[-1]
        link_id = re.search(r"Made share link ([0-9a-f]{12}) \(folder /docs/sub of alice\)", done.stdout).group(1)
        link = urllib.parse.urlsplit(url).path
        visitor = self.visitor()
        self.assertEqual(visitor.get(link)[0], 401)
        basic = {"Authorization": "Basic " + base64.b64encode(b"x:pw").decode()}
        self.assertEqual(visitor.get(link + "/get?path=deep.txt", headers=basic)[2], b"deep")
        listed = ctl(self.server, "share", "list")
        row = [line for line in listed.stdout.splitlines() if line.startswith(link_id)][0]
        self.assertRegex(row, r"alice +folder +/docs/sub +\d{4}-\d\d-\d\d 00:00 UTC +yes +1/5 +active")
        self.assertEqual(ctl(self.server, "share", "add", "alice", "nothing").returncode, 1)
        self.assertEqual(ctl(self.server, "share", "add", "carol", "docs").returncode, 1)
        self.assertEqual(ctl(self.server, "share", "add", "alice", "../..").returncode, 1)
        self.assertEqual(ctl(self.server, "share", "add", "alice", "report.pdf", "--dropbox").returncode, 1)
        self.assertEqual(ctl(self.server, "share", "revoke", link_id).returncode, 0)
        self.assertEqual(visitor.get(link, headers=basic)[0], 404)
        self.assertEqual(ctl(self.server, "share", "revoke", link_id).returncode, 1)


class Visitors(unittest.TestCase):
    def test_the_access_policy_and_bans_apply_to_visitors(self):
        server, _ = start_server(extra="<webapp>yes</webapp><banfailures>2</banfailures>")
        try:
            owner = Client(server.web_port)
            owner.sign_in()
            fields = {"path": "report.pdf", "password": "pw", "csrf": owner.token}
            page = owner.request("POST", "/app/share", fields)[2]
            link = urllib.parse.urlsplit(re.search(rb'readonly value="([^"]+)"', page).group(1).decode()).path
            # Without <webpolicy> the owner's pages ignore the policy; a visitor never does.
            server.write("ftpaccess.xml", '<access><iptable type="REJECT"><ip value="127.0.0.1"/></iptable></access>')
            self.assertEqual(ctl(server, "reload", "policy").returncode, 0)
            visitor = Visitor(server.web_port)

            def refused():
                try:
                    visitor.get(link)
                    return False
                except (ConnectionError, OSError):
                    return True
            self.assertTrue(wait_until(refused, timeout=10))
            server.write("ftpaccess.xml", '<access><iptable type="REJECT"></iptable></access>')
            self.assertEqual(ctl(server, "reload", "policy").returncode, 0)
            self.assertTrue(wait_until(lambda: not refused(), timeout=10))
            # Wrong link passwords count like failed logins: two, and the address is banned.
            for _ in range(2):
                self.assertEqual(visitor.request("POST", link + "/unlock", {"password": "bad"})[0], 401)
            self.assertTrue(refused())
        finally:
            server.cleanup()

    def test_without_the_element_share_routes_are_the_designed_pages(self):
        server, _ = start_server(extra="")
        try:
            status, _, page = Visitor(server.web_port).get("/app/s/" + "A" * 32)
            self.assertEqual(status, 401)
            self.assertIn(b"401 Unauthorized", page)
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
