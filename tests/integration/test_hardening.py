"""The server tried as an attacker on this machine or the network would: a web flood
from one address, oversized request heads, other local accounts at the named objects,
a stuck holder of the users-file lock, secrets on disk, damaged files and huge folders.
Each case also checks that well-behaved clients are still served."""
import ftplib
import os
import resource
import shutil
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import base64

from harness import (BUILD_DIR, LOOPBACK, Control, LimitedServer, Server, connect_tcp, digest, fetch, recv_all,
                     user_element, users_document, wait_until)

TOOL = os.path.join(BUILD_DIR, "named_object_tool")
# Another local account with no processes of its own: not "nobody", whose thread
# count another test limits at the same time.
OTHER_ACCOUNT = 64123
FULL = 0x7001F


def basic(user, password):
    return "Authorization: Basic %s\r\n" % base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


def web_exchange(port, raw, timeout=10):
    """Sends raw bytes; returns what arrives until the server closes (a reset, as
    when the server closes while we still send, ends it too)."""
    with socket.create_connection((LOOPBACK, port), timeout=timeout) as s:
        data = b""
        try:
            s.sendall(raw.encode("latin-1") if isinstance(raw, str) else raw)
            s.settimeout(timeout)
            while True:
                chunk = s.recv(1 << 20)
                if not chunk:
                    return data
                data += chunk
        except (ConnectionResetError, BrokenPipeError):
            return data


def ftp_download(port, user, password, name):
    ftp = ftplib.FTP()
    ftp.connect(LOOPBACK, port, timeout=10)
    try:
        ftp.login(user, password)
        chunks = []
        ftp.retrbinary("RETR " + name, chunks.append)
        return b"".join(chunks)
    finally:
        ftp.close()


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class WebFlood(unittest.TestCase):
    """1,100 half-sent web requests from a hundred addresses (each within its share)
    with a low descriptor limit."""

    def test_ftp_keeps_greeting_and_transferring_while_the_web_side_is_flooded(self):
        def low_descriptor_limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (256, 256))
        server = LimitedServer(popen_args={"preexec_fn": low_descriptor_limit}, start=False, maxconn=10)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        with open(os.path.join(home, "f.bin"), "wb") as f:
            f.write(b"x" * 300000)
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        server.start()

        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 8192), hard))
        self.addCleanup(resource.setrlimit, resource.RLIMIT_NOFILE, (soft, hard))
        flood = []
        self.addCleanup(lambda: [s.close() for s in flood])
        deadline = time.monotonic() + 60
        for i in range(1100):
            if time.monotonic() > deadline:
                break
            try:
                s = connect_tcp(server.web_port, "127.0.7.%d" % (i % 100 + 1), timeout=5)
                s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")  # never finished
                flood.append(s)
            except OSError:
                pass
        self.assertGreater(len(flood), 500)

        # FTP sessions up to maxconn are greeted and transfer (the first from this
        # host's own address, which its data connections come from; the others from
        # addresses of their own: one address holds only a few connections not logged
        # in yet).
        sessions = []
        for i in range(10):
            c = Control(server.ftp_port, source="127.0.6.%d" % i if i else None)
            sessions.append(c)
            self.assertTrue(c.reply().startswith(b"220"))
        self.assertTrue(sessions[0].login("alice", "pw").startswith(b"230"))
        opening, body, closing = fetch(sessions[0], "RETR f.bin")
        self.assertEqual((opening[:3], len(body), closing), (b"150", 300000, b"226 Transfer complete.\r\n"))
        for c in sessions:
            c.close()
        self.assertEqual(ftp_download(server.ftp_port, "alice", "pw", "f.bin"), b"x" * 300000)

        # A web connection past the limit is closed at once, without an answer.
        started = time.monotonic()
        self.assertEqual(web_exchange(server.web_port, "GET / HTTP/1.1\r\n\r\n"), b"")
        self.assertLess(time.monotonic() - started, 5)

        for s in flood:
            s.close()
        flood.clear()
        self.assertTrue(wait_until(lambda: web_exchange(
            server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "pw") + "\r\n").startswith(b"HTTP/1.1 200 OK"),
            timeout=20, step=0.5))


class RequestHeads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(start=False)
        home = cls.server.path("home")
        os.makedirs(home)
        cls.server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_a_head_past_64_kib_is_closed_without_an_answer(self):
        filler = "".join("X-Filler-%d: %s\r\n" % (i, "a" * 3000) for i in range(25))  # about 75 KiB
        self.assertEqual(web_exchange(self.server.web_port, "GET / HTTP/1.1\r\n" + filler + "\r\n"), b"")
        below = "".join("X-Filler-%d: %s\r\n" % (i, "a" * 3000) for i in range(20))  # about 60 KiB
        reply = web_exchange(self.server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "pw") + below + "\r\n")
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK"))

    def test_a_url_past_the_head_cap_gets_414_and_one_within_it_is_drained_unanswered(self):
        reply = web_exchange(self.server.web_port, "GET /" + "a" * 70000 + " HTTP/1.1\r\n" + basic("alice", "pw") +
                             "\r\n")
        self.assertTrue(reply.startswith(b"HTTP/1.1 414 URI Too Long\r\n"), reply[:100])
        self.assertIn(b"Connection: close\r\n", reply)
        self.assertEqual(web_exchange(self.server.web_port, "GET /" + "a" * 5000 + " HTTP/1.1\r\n\r\n"), b"")

    def test_a_nul_in_a_web_path_names_no_file(self):
        with open(os.path.join(self.server.path("home"), "f.bin"), "wb") as f:
            f.write(b"secret bytes")
        auth = basic("alice", "pw")
        whole = web_exchange(self.server.web_port, "GET /download.html?path=f.bin HTTP/1.1\r\n" + auth + "\r\n")
        self.assertTrue(whole.endswith(b"secret bytes"))
        for path in ("f.bin%00.txt", "f.bin%00", "%00f.bin"):
            for route in ("download.html", "list.html"):
                reply = web_exchange(self.server.web_port, "GET /%s?path=%s HTTP/1.1\r\n%s\r\n" % (route, path, auth))
                self.assertTrue(reply.startswith(b"HTTP/1.1 404 Error\r\n"), (route, path, reply[:60]))
                self.assertNotIn(b"secret bytes", reply)

    def test_a_huge_single_header_line_is_not_read_in_full(self):
        with socket.create_connection((LOOPBACK, self.server.web_port), timeout=10) as s:
            s.sendall(b"GET / HTTP/1.1\r\nX-Big: ")
            sent = 0
            try:
                for _ in range(20 * 16):  # up to 20 MiB in 64 KiB pieces
                    s.sendall(b"a" * 65536)
                    sent += 65536
            except OSError:
                pass  # the server closed the connection: what we want
            self.assertLess(sent, 4 << 20)


def run_as_other_account(*args, env=None, timeout=15):
    return subprocess.run(["setpriv", "--reuid", str(OTHER_ACCOUNT), "--regid", str(OTHER_ACCOUNT), "--clear-groups",
                           *args],
                          env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root and setpriv to act as another account")
@unittest.skipIf(os.path.isdir("/run/corvelftp"), "/run/corvelftp exists: the service's directory would be used")
class OtherLocalAccounts(unittest.TestCase):
    """Without CORVELFTP_RUNTIME_DIR: the server makes its own private directory."""

    def setUp(self):
        self.session_dir = tempfile.mkdtemp(prefix="corvel-xdg-")
        os.chmod(self.session_dir, 0o755)
        self.addCleanup(shutil.rmtree, self.session_dir, True)
        self.tool = os.path.join(self.session_dir, "named_object_tool")
        shutil.copy2(TOOL, self.tool)
        os.chmod(self.tool, 0o755)
        self.env = {k: v for k, v in os.environ.items() if k != "CORVELFTP_RUNTIME_DIR"}
        self.env["XDG_RUNTIME_DIR"] = self.session_dir
        self.objects = os.path.join(self.session_dir, "corvelftp")

    def start_server(self):
        server = Server(start=False)
        server.env = lambda: self.env
        self.addCleanup(server.cleanup)
        server.start()
        return server

    def test_another_account_can_neither_take_the_instance_mutex_first_nor_stop_or_stall_the_server(self):
        # Before any server: the other account tries to take the single-instance mutex first.
        blocked = run_as_other_account(self.tool, "hold", "CORVELFTP_BASICSVR_MUTEX", "30", env=self.env)
        self.assertNotEqual(blocked.returncode, 0)
        server = self.start_server()
        info = os.stat(self.objects)
        self.assertEqual(stat.S_IMODE(info.st_mode), 0o700)
        for name in os.listdir(self.objects):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.objects, name)).st_mode) & 0o007, 0, name)

        for args in (("signal", "CORVELFTP_BASICSVRSTOP_EVENT"), ("hold", "LUMOXMLUSERTABLE", "30"),
                     ("set-control", "0x2"), ("hold", "CORVELFTP_PIPEMutex", "30")):
            self.assertNotEqual(run_as_other_account(self.tool, *args, env=self.env).returncode, 0, args)
        time.sleep(0.5)
        started = time.monotonic()
        with Control(server.ftp_port) as c:
            self.assertTrue(c.reply().startswith(b"220"))
        self.assertLess(time.monotonic() - started, 2)
        self.assertIsNone(server.process.poll())
        # The owner itself still reaches the objects (as the console does).
        self.assertEqual(subprocess.run([TOOL, "wait", "CORVELFTP_BASICSVREXIST_EVENT", "2000"],
                                        env=self.env).returncode, 0)


class StuckUsersFileLock(unittest.TestCase):
    """An administrator's program keeps LUMOXMLUSERTABLE while a reload is asked for."""

    def test_greetings_go_on_and_the_reload_happens_once_the_lock_is_free(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        server.start()
        env = server.env()
        holder = subprocess.Popen([TOOL, "hold", "LUMOXMLUSERTABLE", "60"], env=env, stdout=subprocess.PIPE)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), b"held\n")
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home),
                                                    user_element("bob", digest("pw2"), home)))
        self.assertEqual(subprocess.run([TOOL, "set-control", "0x2"], env=env, timeout=10).returncode, 0)
        # While it is held: every greeting still arrives, within the bounded wait.
        for _ in range(2):
            started = time.monotonic()
            with Control(server.ftp_port, timeout=15) as c:
                self.assertTrue(c.reply(timeout=15).startswith(b"220"))
            self.assertLess(time.monotonic() - started, 12)
        # A web password change does not hang either: it says it could not be stored.
        body = "new_pwd=x&new_pwd_confirm=x"
        reply = web_exchange(server.web_port, "POST /update_password.html HTTP/1.1\r\n%sContent-Length: %d\r\n\r\n%s"
                             % (basic("alice", "pw"), len(body), body), timeout=20)
        self.assertIn(b"Password can not be updated", reply)
        holder.kill()  # the system frees the mutex of a process that dies
        holder.wait(10)
        # Released: the request left pending is served, bob can log in.
        def bob_logs_in():
            with Control(server.ftp_port) as c:
                c.reply()
                return c.login("bob", "pw2").startswith(b"230")
        self.assertTrue(wait_until(bob_logs_in, timeout=20, step=0.5))


class FilesOnDisk(unittest.TestCase):
    def test_new_users_file_is_private_an_existing_mode_stays_and_stale_temporaries_go(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        stale = server.write("ftpusers.xml.tmpAbC123", "<users><user password='secret digest'/></users>")
        old = time.time() - 600
        os.utime(stale, (old, old))
        fresh = server.write("ftpaccess.xml.tmpXyZ789", "a save in progress")
        unrelated = server.write("ftpusers.xml.tmp", "not one of ours")
        server.start()
        self.assertEqual(stat.S_IMODE(os.stat(server.path("ftpusers.xml")).st_mode), 0o600)
        self.assertFalse(os.path.exists(stale))
        self.assertTrue(os.path.exists(fresh))
        self.assertTrue(os.path.exists(unrelated))
        server.stop()

        home = server.path("home")
        os.makedirs(home)
        server.write("ftpusers.xml", users_document(user_element("carol", digest("old"), home)))
        os.chmod(server.path("ftpusers.xml"), 0o640)
        server.start()
        body = "new_pwd=new&new_pwd_confirm=new"
        reply = web_exchange(server.web_port, "POST /update_password.html HTTP/1.1\r\n%sContent-Length: %d\r\n\r\n%s"
                             % (basic("carol", "old"), len(body), body))
        self.assertIn(b"Update Successfully", reply)
        self.assertEqual(stat.S_IMODE(os.stat(server.path("ftpusers.xml")).st_mode), 0o640)
        leftovers = [n for n in os.listdir(server.dir) if ".tmp" in n and n != "ftpaccess.xml.tmpXyZ789"
                     and n != "ftpusers.xml.tmp"]
        self.assertEqual(leftovers, [])


class DamagedFiles(unittest.TestCase):
    def test_fallbacks_are_said_and_a_reload_keeps_what_was_loaded(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        server.write("ftpusers.xml", "<users><user username='alice'")
        server.write("ftpaccess.xml", "<access><iptable type='PASS'><ip value='127.0.0.1'/></iptable></access>")
        server.start(args=("-d",))
        err = server.read("stderr.log").decode()
        self.assertIn(server.path("ftpusers.xml") + " could not be read", err)
        self.assertIn("only the anonymous account can log in", err)

        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        self.assertEqual(subprocess.run([TOOL, "set-control", "0x6"], env=server.env(), timeout=10).returncode, 0)

        def alice_logs_in():
            with Control(server.ftp_port) as c:
                c.reply()
                return c.login("alice", "pw").startswith(b"230")
        self.assertTrue(wait_until(alice_logs_in, timeout=10, step=0.2))

        # Both files damaged while the server runs: a reload keeps the accounts and
        # the permit list instead of opening up.
        server.write("ftpusers.xml", "<users><user username='x'")
        server.write("ftpaccess.xml", "<access><iptable type='PASS'><ip value=")
        self.assertEqual(subprocess.run([TOOL, "set-control", "0x6"], env=server.env(), timeout=10).returncode, 0)
        self.assertTrue(wait_until(lambda: "the access policy already loaded stays" in
                                   server.read("stderr.log").decode(), timeout=10))
        self.assertTrue(alice_logs_in())
        with socket.socket() as other:
            other.bind(("127.0.0.2", 0))
            other.settimeout(10)
            other.connect((LOOPBACK, server.ftp_port))
            self.assertEqual(other.recv(100), b"")  # still refused: not on the permit list
        err = server.read("stderr.log").decode()
        self.assertIn("the accounts already loaded stay in force", err)
        self.assertEqual(server.read("ftpusers.xml"), b"<users><user username='x'")  # left as it is
        self.assertEqual(server.read("ftpusers.xml.broken"), b"<users><user username='alice'")


class HugeFolders(unittest.TestCase):
    ENTRIES = 60000

    def test_listings_of_a_huge_folder_keep_memory_bounded(self):
        server = Server(start=False, maxconn=40)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        big = os.path.join(home, "big")
        os.makedirs(big)
        for i in range(self.ENTRIES):
            os.close(os.open(os.path.join(big, "entry-with-a-long-name-%06d.txt" % i), os.O_CREAT | os.O_WRONLY))
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home, privilege=FULL)))
        server.start()
        baseline = peak_rss_kib(server.pid())

        results = []

        def web_listing():
            reply = web_exchange(server.web_port, "GET /list.html?path=big HTTP/1.1\r\n" + basic("alice", "pw") +
                                 "\r\n", timeout=120)
            results.append(reply.count(b"download.html?path="))

        def ftp_listing():
            with Control(server.ftp_port, timeout=60) as c:
                c.reply()
                c.login("alice", "pw")
                opening, body, closing = fetch(c, "LIST big")
                results.append(body.count(b"\r\n") - 2)  # without "." and ".."
        threads = [threading.Thread(target=web_listing) for _ in range(8)] + [threading.Thread(target=ftp_listing)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(180)
        self.assertEqual(results, [self.ENTRIES] * 9)
        if server.sanitized():
            return  # the sanitizer's own bookkeeping grows with every allocation
        grown = peak_rss_kib(server.pid()) - baseline
        # Held whole, each listing took some 18 MiB; streamed, the nine need a few.
        self.assertLess(grown, 16 * 1024, "peak memory grew by %d KiB" % grown)


if __name__ == "__main__":
    unittest.main()
