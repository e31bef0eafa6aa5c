"""Faults around the real server: a full disk or file-size limit during an upload,
SIGKILL while the users file is rewritten, clients vanishing mid-transfer, and the
system refusing descriptors or threads. Each time the server must keep serving and
lose nothing it had confirmed."""
import os
import random
import resource
import shutil
import signal
import socket
import struct
import subprocess
import time
import unittest
import xml.etree.ElementTree as ET

from harness import (BUILD_DIR, Control, LimitedServer, Server, digest, passive_data, recv_all, user_element,
                     users_document, wait_until)

FULL = 0x7001F
ABORTED = b"426 Connection closed; Transfer aborted\r\n"
COMPLETE = b"226 Transfer complete.\r\n"
WRITER = os.path.join(BUILD_DIR, "users_file_writer")
NAMED_OBJECT_TOOL = os.path.join(BUILD_DIR, "named_object_tool")
NOBODY = 65534


def active_sessions(server):
    with open(os.path.join(server.runtime_dir, "CORVELFTP_STATUS"), "rb") as f:
        data = f.read()
    return struct.unpack_from("<i", data, 24)[0]


def reset(sock):
    """Closes with an RST instead of an orderly close."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()


def login(server, user="alice", password="pw"):
    c = Control(server.ftp_port)
    c.reply()
    reply = c.login(user, password)
    if not reply.startswith(b"230"):
        c.close()
        raise AssertionError("login of %s refused: %r" % (user, reply))
    return c


def send_until_refused(sock, total, block=64 << 10):
    """Sends up to total bytes; returns how many went out before the peer refused more."""
    sent = 0
    chunk = b"z" * block
    try:
        while sent < total:
            sock.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass
    return sent


def upload(c, name, payload):
    data = passive_data(c)
    opening = c.command("STOR " + name)
    if not opening.startswith(b"150"):
        data.close()
        return opening, b""
    data.sendall(payload)
    data.close()
    return opening, c.reply()


def download(c, name):
    data = passive_data(c)
    opening = c.command("RETR " + name)
    body = recv_all(data) if opening.startswith(b"150") else b""
    data.close()
    return opening, body, (c.reply() if opening.startswith(b"150") else b"")


class UploadIntoAFullDisk(unittest.TestCase):
    def assert_keeps_serving(self, server, home):
        self.assertIsNone(server.process.poll(), "the server died")
        with login(server) as c:
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")
            self.assertEqual(c.command("DELE big.bin"), b"250 command ok \r\n")
            self.assertEqual(upload(c, "small.bin", b"s" * 1000), (b"150 Opening BINARY mode data connection for "
                                                                    b"small.bin\r\n", COMPLETE))
            self.assertEqual(download(c, "small.bin")[1:], (b"s" * 1000, COMPLETE))
        with open(os.path.join(home, "small.bin"), "rb") as f:
            self.assertEqual(f.read(), b"s" * 1000)

    def start_with_home(self, server, home):
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home, privilege=FULL)))
        server.start()
        self.addCleanup(server.cleanup)

    def test_full_file_system_aborts_the_upload_and_the_server_goes_on(self):
        server = Server(start=False)
        home = server.path("small")
        os.makedirs(home)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", home], capture_output=True)
        if mounted.returncode != 0:
            shutil.rmtree(server.dir, ignore_errors=True)
            self.skipTest("cannot mount a small tmpfs here: %s" % mounted.stderr.decode().strip())
        self.start_with_home(server, home)

        def unmount_then_remove():
            server.stop()
            subprocess.run(["umount", "-l", home], capture_output=True)
            server.cleanup()
        self.addCleanup(unmount_then_remove)
        with login(server) as c:
            data = passive_data(c)
            self.assertEqual(c.command("STOR big.bin"), b"150 Opening BINARY mode data connection for big.bin\r\n")
            sent = send_until_refused(data, 4 << 20)
            data.close()
            self.assertEqual(c.reply(timeout=30), ABORTED)
            self.assertLessEqual(os.path.getsize(os.path.join(home, "big.bin")), min(sent, 1 << 20))
        self.assert_keeps_serving(server, home)

    def test_file_size_limit_aborts_the_upload_without_killing_the_server(self):
        limit = 1 << 20

        def lower_file_size_limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        server = LimitedServer(popen_args={"preexec_fn": lower_file_size_limit}, start=False)
        home = server.path("home")
        os.makedirs(home)
        self.start_with_home(server, home)
        with login(server) as c:
            data = passive_data(c)
            self.assertTrue(c.command("STOR big.bin").startswith(b"150"))
            send_until_refused(data, 3 * limit)
            data.close()
            self.assertEqual(c.reply(timeout=30), ABORTED)
        self.assertLessEqual(os.path.getsize(os.path.join(home, "big.bin")), limit)
        self.assert_keeps_serving(server, home)


class UsersFileUnderSigkill(unittest.TestCase):
    ROUNDS = 30

    def setUp(self):
        if not os.path.exists(WRITER):
            self.skipTest("users_file_writer is not built in %s" % BUILD_DIR)
        self.server = Server(start=False)
        self.addCleanup(self.server.cleanup)
        self.home = self.server.path("home")
        os.makedirs(self.home)
        self.server.write("ftpusers.xml", users_document(user_element("u0", digest("pw"), self.home, privilege=FULL)))
        self.server.start()

    def parse_users(self):
        """The users file must always parse whole; returns its user count."""
        path = self.server.path("ftpusers.xml")
        root = ET.parse(path).getroot()
        self.assertEqual(root.tag, "users")
        users = root.findall("user")
        for i, user in enumerate(users):
            self.assertEqual(user.get("username"), "u%d" % i)
            self.assertEqual(user.get("welcome_msg"), "w" * (64 + i))
        return len(users)

    def login_works(self, user):
        try:
            with Control(self.server.ftp_port, timeout=3) as c:
                c.reply(timeout=3)
                return c.login(user, "pw").startswith(b"230")
        except OSError:
            return False

    def request_users_reload(self):
        subprocess.run([NAMED_OBJECT_TOOL, "set-control", "2"], env=self.server.env(), capture_output=True,
                       timeout=20)

    def test_sigkill_while_rewriting_never_leaves_a_malformed_file(self):
        rng = random.Random(1234)
        count = 1
        for round_ in range(self.ROUNDS):
            writer = subprocess.Popen([WRITER, self.server.dir, self.home, "100000"], env=self.server.env(),
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            kill_server = round_ % 3 == 2
            time.sleep(rng.uniform(0.0, 0.25))
            if kill_server:
                # The server is mid-reload of the same file when it dies.
                self.request_users_reload()
                time.sleep(rng.uniform(0.0, 0.05))
                self.server.process.send_signal(signal.SIGKILL)
                self.server.process.wait(10)
            time.sleep(rng.uniform(0.0, 0.05))
            writer.send_signal(signal.SIGKILL)
            output, _ = writer.communicate(timeout=10)
            saved = [int(line) for line in output.split()]
            previous, count = count, self.parse_users()
            if saved:
                # Either the last reported save or the one whose rename had just happened.
                self.assertIn(count, (saved[-1] + 1, saved[-1] + 2), "round %d" % round_)
            else:
                self.assertIn(count, (previous, 1), "round %d" % round_)
            if kill_server:
                self.server.start()
            else:
                # The writer may have died holding the users-file mutex; a reload must still happen.
                self.request_users_reload()
            newest = "u%d" % (count - 1)
            self.assertTrue(wait_until(lambda: self.login_works(newest), timeout=10, step=0.1),
                            "round %d: %s cannot log in" % (round_, newest))
        self.assertFalse(os.path.exists(self.server.path("ftpusers.xml.broken")))


class ClientsVanishingMidTransfer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(start=False, maxconn=100)
        cls.home = cls.server.path("home")
        os.makedirs(cls.home)
        with open(os.path.join(cls.home, "huge.bin"), "wb") as f:
            f.truncate(256 << 20)  # sparse: big enough that no transfer ends by itself
        cls.server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), cls.home, privilege=FULL)))
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def setUp(self):
        self.assertTrue(wait_until(lambda: active_sessions(self.server) == 0, timeout=5))

    def assert_sessions_freed(self):
        self.assertTrue(wait_until(lambda: active_sessions(self.server) == 0, timeout=5),
                        "%d sessions still live" % active_sessions(self.server))
        self.assertIsNone(self.server.process.poll())
        with login(self.server) as c:
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")

    def start_download(self):
        c = login(self.server)
        data = passive_data(c)
        self.assertTrue(c.command("RETR huge.bin").startswith(b"150"))
        data.settimeout(10)
        self.assertTrue(data.recv(65536))
        return c, data

    def test_download_ended_by_resets_of_both_connections(self):
        for order in ("data first", "control first"):
            with self.subTest(order=order):
                c, data = self.start_download()
                self.assertTrue(wait_until(lambda: active_sessions(self.server) == 1, timeout=5))
                pair = (data, c.sock) if order == "data first" else (c.sock, data)
                for sock in pair:
                    reset(sock)
                self.assert_sessions_freed()

    def test_download_ended_by_orderly_closes(self):
        c, data = self.start_download()
        data.close()
        c.close()
        self.assert_sessions_freed()

    def test_download_with_many_clients_vanishing_at_once(self):
        started = [self.start_download() for _ in range(20)]
        self.assertTrue(wait_until(lambda: active_sessions(self.server) == 20, timeout=5))
        for c, data in started:
            reset(c.sock)
            reset(data)
        self.assert_sessions_freed()

    def test_upload_ended_by_resets(self):
        for name in ("reset1.bin", "reset2.bin"):
            c = login(self.server)
            data = passive_data(c)
            self.assertTrue(c.command("STOR " + name).startswith(b"150"))
            data.sendall(b"u" * (1 << 20))
            reset(data)
            reset(c.sock)
            self.assert_sessions_freed()
            # F4: what arrived is on disk; a reset may drop bytes still queued in the kernel.
            self.assertLessEqual(os.path.getsize(os.path.join(self.home, name)), 1 << 20)

    def test_upload_whose_client_closes_data_then_vanishes_keeps_every_byte(self):
        c = login(self.server)
        data = passive_data(c)
        self.assertTrue(c.command("STOR kept.bin").startswith(b"150"))
        payload = os.urandom(3 << 20)
        data.sendall(payload)
        data.close()
        reset(c.sock)  # gone before reading 226
        # The status block is refreshed once a loop turn, so a quick client can be
        # gone before its session was ever counted: wait for the bytes themselves.
        path = os.path.join(self.home, "kept.bin")
        self.assertTrue(wait_until(lambda: os.path.getsize(path) == len(payload), timeout=15))
        self.assert_sessions_freed()
        with open(path, "rb") as f:
            self.assertEqual(f.read(), payload)


class SystemRefusingResources(unittest.TestCase):
    def greeted(self, port):
        try:
            with Control(port, timeout=3) as c:
                return c.reply(timeout=3).startswith(b"220")
        except (OSError, ConnectionError, TimeoutError):
            return False

    def open_sessions(self, server, count):
        """Opens count control connections, each from an address of its own (one
        address holds only a few connections not logged in yet); returns (greeted,
        not greeted) lists."""
        greeted, refused = [], []
        for i in range(count):
            try:
                c = Control(server.ftp_port, timeout=3, source="127.0.3.%d" % (i + 1))
            except OSError:
                continue
            try:
                ok = c.reply(timeout=2).startswith(b"220")
            except (OSError, ConnectionError, TimeoutError):
                ok = False
            (greeted if ok else refused).append(c)
        self.addCleanup(lambda: [c.close() for c in greeted + refused])
        return greeted, refused

    def assert_full_service(self, server, home):
        self.assertIsNone(server.process.poll(), "the server died")
        self.assertTrue(wait_until(lambda: self.greeted(server.ftp_port), timeout=10))
        greeted, refused = self.open_sessions(server, 20)
        self.assertEqual((len(greeted), len(refused)), (20, 0))
        for c in greeted:
            c.close()
        with login(server) as c:
            self.assertEqual(download(c, "f.txt")[1:], (b"contents", COMPLETE))

    def make_server(self, **kwargs):
        server = LimitedServer(start=False, maxconn=1000, **kwargs)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        with open(os.path.join(home, "f.txt"), "wb") as f:
            f.write(b"contents")
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home, privilege=FULL)))
        return server, home

    def test_descriptor_limit_refuses_connections_and_recovers(self):
        server, home = self.make_server()
        server.start()
        pid = server.pid()
        self.assertTrue(wait_until(lambda: active_sessions(server) == 0, timeout=5))
        soft, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
        in_use = len(os.listdir("/proc/%d/fd" % pid))
        resource.prlimit(pid, resource.RLIMIT_NOFILE, (in_use + 3, hard))
        try:
            greeted, refused = self.open_sessions(server, 12)
            self.assertGreaterEqual(len(greeted), 1)
            self.assertGreaterEqual(len(refused), 1)
            self.assertIsNone(server.process.poll(), "the server died at the descriptor limit")
            # A session that got in cannot open a data connection or a file: it is told so.
            admitted = None
            for c in greeted:
                try:
                    if c.login("alice", "pw").startswith(b"230"):
                        admitted = c
                        break
                except (OSError, ConnectionError, TimeoutError):
                    pass
            if admitted is not None:
                reply = admitted.command("PASV")
                self.assertTrue(reply.startswith(b"227") or reply == b"425 Can't open data connection.\r\n", reply)
                if reply.startswith(b"227"):
                    admitted.sock.close()  # leaves the PASV wait hanging on its own
            for c in greeted + refused:
                c.close()
        finally:
            resource.prlimit(pid, resource.RLIMIT_NOFILE, (soft, hard))
        self.assert_full_service(server, home)

    def test_thread_limit_refuses_connections_and_recovers(self):
        server, home = self.make_server(popen_args={"user": NOBODY, "group": NOBODY, "extra_groups": []})
        for root, dirs, files in os.walk(server.dir):
            for name in dirs + files + [""]:
                os.chown(os.path.join(root, name), NOBODY, NOBODY)
        os.chmod(server.dir, 0o755)
        server.start()
        pid = server.pid()
        # RLIMIT_NPROC counts every thread of the user; root would ignore it.
        def tasks_of_nobody():
            out = subprocess.run(["ps", "-L", "-u", str(NOBODY), "-o", "lwp="], capture_output=True, text=True)
            return len(out.stdout.split())
        self.assertTrue(wait_until(lambda: active_sessions(server) == 0, timeout=5))
        # Without CAP_SYS_RESOURCE only a process of the same user may change its limits.
        def set_soft_nproc(value):
            subprocess.run(["setpriv", "--reuid", str(NOBODY), "--regid", str(NOBODY), "--clear-groups",
                            "prlimit", "--pid", str(pid), "--nproc=%s:" % value], check=True, timeout=10)

        with open("/proc/%d/limits" % pid) as f:
            original = [line.split()[3] for line in f if line.startswith("Max processes")][0]
        set_soft_nproc(tasks_of_nobody() + 2)
        try:
            greeted, refused = self.open_sessions(server, 8)
            # Two new threads, and the one the start-up check's connection left parked.
            self.assertIn(len(greeted), (1, 2, 3))
            self.assertIsNone(server.process.poll(), "the server died at the thread limit")
            # Connections the server could not serve were closed, not left hanging.
            for c in refused:
                self.assertEqual(c.read_all_until_closed(timeout=5), b"")
            for c in greeted + refused:
                c.close()
            self.assertTrue(wait_until(lambda: active_sessions(server) == 0, timeout=5))
        finally:
            set_soft_nproc(original)
        self.assert_full_service(server, home)


if __name__ == "__main__":
    unittest.main()
