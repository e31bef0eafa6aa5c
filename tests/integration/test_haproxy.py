"""Two corveld instances behind HAProxy, run from a config generated out of
deploy/haproxy/haproxy.cfg (the same directives on loopback test ports): both
instances serve, the access policy judges the client's own address, a file uploaded
through one instance is served by the other, a password changed on one instance's
web page works on the other after a reload request, SFTP passes with the client's
address and one host key, and a PROXY line from anyone but the balancer is no more
than an unknown command."""
import base64
import ftplib
import io
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest

from harness import (BUILD_DIR, LOOPBACK, Control, Server, digest, free_port, recv_all, user_element,
                     users_document, wait_until)

HAPROXY = shutil.which("haproxy")
SFTP = shutil.which("sftp")
SSHPASS = shutil.which("sshpass")
DEPLOY_CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "deploy", "haproxy",
                             "haproxy.cfg")
CORVELCTL = os.path.join(BUILD_DIR, "corvelctl")
BALANCER = "127.0.0.9"     # HAProxy's source address towards the instances (<proxyfrom>)
REFUSED = "127.0.0.3"      # a client address both instances' ftpaccess.xml rejects
NAMES = ("corveld-a", "corveld-b")
LIST_READ_WRITE = 0x20007  # List, Read, Write and Create File


def balancer_config(deploy_text, ftp_port, web_port, instances, stats_socket, sftp_port):
    """The deploy config with its addresses turned into this test's: the frontends on
    loopback test ports, the instances' ports, the balancer's source address, and a
    global section fit for a foreground run without root. Every replacement must hit
    as often as the deploy file is meant to have it, so the two cannot drift apart."""
    lines = [line for line in deploy_text.splitlines() if line.strip() and not line.lstrip().startswith("#")]
    text = "\n".join(lines) + "\n"
    a, b = instances
    replacements = [
        (r"^\s*(chroot|user|group|daemon)\b.*$", "", 4),
        (r"^\s*log /dev/log local0$", "    log stderr format raw local0", 1),
        (r"stats socket /run/haproxy/admin\.sock", "stats socket " + stats_socket, 1),
        (r"bind :21$", "bind %s:%d" % (LOOPBACK, ftp_port), 1),
        (r"bind :80$", "bind %s:%d" % (LOOPBACK, web_port), 1),
        (r"bind :2222$", "bind %s:%d" % (LOOPBACK, sftp_port), 1),
        (r" 10\.0\.0\.11:2222 ", " %s:%d " % (LOOPBACK, a.sftp_port), 1),
        (r" 10\.0\.0\.12:2222 ", " %s:%d " % (LOOPBACK, b.sftp_port), 1),
        (r" 10\.0\.0\.11:21 ", " %s:%d " % (LOOPBACK, a.ftp_port), 1),
        (r" 10\.0\.0\.12:21 ", " %s:%d " % (LOOPBACK, b.ftp_port), 1),
        (r" 10\.0\.0\.11:8080 ", " %s:%d " % (LOOPBACK, a.web_port), 1),
        (r" 10\.0\.0\.12:8080 ", " %s:%d " % (LOOPBACK, b.web_port), 1),
        (r" source 10\.0\.0\.9 ", " source %s " % BALANCER, 6),
    ]
    for pattern, replacement, count in replacements:
        text, made = re.subn(pattern, replacement, text, flags=re.M)
        if made != count:
            raise AssertionError("deploy/haproxy/haproxy.cfg: %r matched %d times, not %d" % (pattern, made, count))
    return re.sub(r"\n\n+", "\n", text)


def passive_ranges():
    # Above the system's ephemeral ports (32768-60999) and the passive range test's
    # 61000-64999, so no other socket lands in them; ten ports per instance.
    low = 65000 + (os.getpid() % 25) * 20
    return (low, low + 9), (low + 10, low + 19)


def stats(socket_path):
    """HAProxy's "show stat" as {(backend, server): row}."""
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(5)
        s.connect(socket_path)
        s.sendall(b"show stat\n")
        text = recv_all(s, 5).decode()
    lines = text.splitlines()
    header = lines[0].lstrip("# ").split(",")
    rows = [dict(zip(header, line.split(","))) for line in lines[1:] if line]
    return {(r["pxname"], r["svname"]): r for r in rows}


def web_request(port, raw, timeout=10):
    with socket.create_connection((LOOPBACK, port), timeout=timeout) as s:
        s.sendall(raw.encode("latin-1"))
        return recv_all(s, timeout)


def connect_from(source, port):
    sock = socket.socket()
    sock.bind((source, 0))
    sock.settimeout(10)
    sock.connect((LOOPBACK, port))
    control = Control.__new__(Control)
    control.sock, control.buffer = sock, b""
    return control


def ftp_login(port, user, password):
    ftp = ftplib.FTP()
    ftp.connect(LOOPBACK, port, timeout=10)
    ftp.login(user, password)
    return ftp


def logs_in(port, user, password):
    with Control(port) as c:
        c.reply()
        return c.login(user, password).startswith(b"230")


@unittest.skipUnless(HAPROXY, "haproxy is not installed (scripts/install-deps.sh test installs it)")
class TwoInstancesBehindHaproxy(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = tempfile.mkdtemp(prefix="corveld-shared-")
        cls.home = os.path.join(cls.shared, "home")  # one account tree for both (NFS or CephFS in production)
        os.makedirs(cls.home)
        # Each program directory holds its own ftpusers.xml with the same accounts;
        # the test stands in for the shared storage and copies the file from one to
        # the other after a change. (A symlink would not do: see SharedUsersFile.)
        users = users_document(user_element("alice", digest("pw"), cls.home, privilege=LIST_READ_WRITE),
                               user_element("carol", digest("old"), cls.home))
        cls.servers, cls.ranges = [], passive_ranges()
        cls.haproxy = None
        try:
            for name, (low, high) in zip(NAMES, cls.ranges):
                server = Server(start=False)
                server.sftp_port = free_port()
                cls.servers.append(server)
                server.write("ftpusers.xml", users)
                server.write("ftpaccess.xml", '<access><iptable type="REJECT"><ip value="%s"/></iptable></access>'
                             % REFUSED)
                server.write("ftpconfig.xml",
                             "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>64</maxconn>"
                             "<pasvmode>yes</pasvmode><welcomemsg>%s</welcomemsg><pasvports>%d-%d</pasvports>"
                             "<proxyfrom>%s</proxyfrom><sftpport>%d</sftpport></config>"
                             % (server.ftp_port, server.web_port, name, low, high, BALANCER, server.sftp_port))
                if cls.servers[0] is not server:
                    # The same host keys on both, as the recipe says.
                    for key in ("corveld-sftp-ed25519.key", "corveld-sftp-rsa.key"):
                        shutil.copy2(cls.servers[0].path(key), server.path(key))
                server.start(args=("-d",))
            cls.start_balancer()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_balancer(cls):
        cls.ftp_port, cls.web_port, cls.sftp_port = free_port(), free_port(), free_port()
        cls.stats_socket = os.path.join(cls.shared, "haproxy.sock")
        with open(DEPLOY_CONFIG) as f:
            config = balancer_config(f.read(), cls.ftp_port, cls.web_port, cls.servers, cls.stats_socket,
                                     cls.sftp_port)
        config_path = os.path.join(cls.shared, "haproxy.cfg")
        with open(config_path, "w") as f:
            f.write(config)
        cls.haproxy_log = os.path.join(cls.shared, "haproxy.log")
        with open(cls.haproxy_log, "wb") as log:
            cls.haproxy = subprocess.Popen([HAPROXY, "-f", config_path, "-db"], stdin=subprocess.DEVNULL,
                                           stdout=log, stderr=subprocess.STDOUT)

        # Ready when every server passed its health check, which goes through
        # corveld's PROXY handling as a LOCAL header: L7OK, not just "UP" from the start.
        def all_checked():
            if cls.haproxy.poll() is not None:
                raise RuntimeError("haproxy exited: " + open(cls.haproxy_log).read())
            try:
                table = stats(cls.stats_socket)
            except OSError:
                return False
            keys = [(backend, name) for backend in ("corveld-ftp", "corveld-web", "corveld-sftp") for name in NAMES]
            return all(k in table and table[k]["status"] == "UP" and table[k]["check_status"] == "L7OK"
                       for k in keys)
        if not wait_until(all_checked, timeout=20, step=0.2):
            table = {"%s/%s" % k: (r["status"], r["check_status"], r["last_chk"])
                     for k, r in stats(cls.stats_socket).items() if k[1] in NAMES}
            raise RuntimeError("health checks did not pass: %r\n%s" % (table, open(cls.haproxy_log).read()))

    @classmethod
    def tearDownClass(cls):
        if cls.haproxy is not None and cls.haproxy.poll() is None:
            cls.haproxy.send_signal(signal.SIGTERM)
            try:
                cls.haproxy.wait(10)
            except subprocess.TimeoutExpired:
                cls.haproxy.kill()
                cls.haproxy.wait(5)
        for server in cls.servers:
            server.cleanup()
        shutil.rmtree(cls.shared, ignore_errors=True)

    def instance_of(self, ftp):
        """Which instance runs an ftplib session, by its greeting."""
        names = [n for n in NAMES if n in ftp.getwelcome()]
        self.assertEqual(len(names), 1, ftp.getwelcome())
        return NAMES.index(names[0])

    def open_sessions(self, name):
        return int(stats(self.stats_socket)[("corveld-ftp", name)]["scur"])

    def test_both_instances_serve_and_see_the_client(self):
        answered = [0, 0]
        for _ in range(20):
            with ftp_login(self.ftp_port, "alice", "pw") as ftp:
                answered[self.instance_of(ftp)] += 1
                self.assertEqual(ftp.sendcmd("STAT"), "211- Status for user alice from 127.0.0.1\n211 End of status.")
        self.assertGreater(answered[0], 0, answered)
        self.assertGreater(answered[1], 0, answered)
        # leastconn: while one instance holds a session, new ones go to the other.
        with ftp_login(self.ftp_port, "alice", "pw") as held:
            other = 1 - self.instance_of(held)
            for _ in range(4):
                self.assertTrue(wait_until(lambda: self.open_sessions(NAMES[other]) == 0, timeout=5))
                with ftp_login(self.ftp_port, "alice", "pw") as ftp:
                    self.assertEqual(self.instance_of(ftp), other)
        # The web port passes too: the start page asks for a login.
        self.assertTrue(web_request(self.web_port, "GET / HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.1 401"))

    def test_the_access_policy_judges_the_client_behind_the_balancer(self):
        for _ in range(2):
            with connect_from(REFUSED, self.ftp_port) as c:
                self.assertEqual(c.read_all_until_closed(), b"")
        with connect_from(LOOPBACK, self.ftp_port) as c:
            self.assertTrue(c.reply().startswith(b"220"))
        # Both instances refused it: HAProxy's log names the server of each connection.
        def refused_by():
            with open(self.haproxy_log) as f:
                return set(re.findall(r"^%s:\d+ .* corveld-ftp/(corveld-[ab]) " % re.escape(REFUSED), f.read(), re.M))
        self.assertTrue(wait_until(lambda: refused_by() == set(NAMES), timeout=5), refused_by())

    def test_an_upload_through_one_instance_is_served_by_the_other(self):
        content = os.urandom(256 * 1024)
        with ftp_login(self.ftp_port, "alice", "pw") as ftp:
            uploader = self.instance_of(ftp)
            # Passive data goes straight to the port the instance announced, from its
            # own range; HAProxy never sees it. On this machine the balancer and the
            # instances share 127.0.0.1, as the deploy recipe's forwarding of each range
            # makes them share the balancer's address.
            ftp.trust_server_pasv_ipv4_address = True
            announced = []
            makepasv = ftp.makepasv
            ftp.makepasv = lambda: announced.append(makepasv()) or announced[-1]
            ftp.storbinary("STOR shared.bin", io.BytesIO(content))
            low, high = self.ranges[uploader]
            self.assertEqual(announced[0][0], LOOPBACK)
            self.assertTrue(low <= announced[0][1] <= high, (announced, self.ranges))
        # Straight to the other instance: its <proxyfrom> names only the balancer, so
        # a connection from 127.0.0.1 is served as usual.
        other = self.servers[1 - uploader]
        with ftp_login(other.ftp_port, "alice", "pw") as ftp:
            self.assertIn(NAMES[1 - uploader], ftp.getwelcome())
            received = io.BytesIO()
            ftp.retrbinary("RETR shared.bin", received.write)
        self.assertEqual(received.getvalue(), content)

    def test_a_password_changed_on_one_web_page_works_on_the_other_after_a_reload(self):
        body = "new_pwd=fresh&new_pwd_confirm=fresh"
        credentials = base64.b64encode(b"carol:old").decode()
        host = "%s:%d" % (LOOPBACK, self.web_port)
        reply = web_request(self.web_port, "POST /update_password.html HTTP/1.1\r\nHost: %s\r\nOrigin: http://%s\r\n"
                                           "Authorization: Basic %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s"
                            % (host, host, credentials, len(body), body))
        self.assertIn(b"Update Successfully", reply)
        changed = [i for i, s in enumerate(self.servers) if digest("fresh").encode() in s.read("ftpusers.xml")]
        self.assertEqual(len(changed), 1)
        writer, reader = self.servers[changed[0]], self.servers[1 - changed[0]]
        self.assertTrue(logs_in(writer.ftp_port, "carol", "fresh"))
        # The shared file changes under the other instance, which keeps its table
        # until asked to reload it.
        copy = reader.path("ftpusers.xml.sync")
        shutil.copyfile(writer.path("ftpusers.xml"), copy)
        os.replace(copy, reader.path("ftpusers.xml"))
        self.assertFalse(logs_in(reader.ftp_port, "carol", "fresh"))
        done = subprocess.run([CORVELCTL, "reload", "users"], env=reader.env(), capture_output=True, timeout=20)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(wait_until(lambda: logs_in(reader.ftp_port, "carol", "fresh"), timeout=10, step=0.2))
        self.assertFalse(logs_in(reader.ftp_port, "carol", "old"))

    def sftp_from(self, source, port=None):
        """sftp -b "ls" through the balancer (or port) from a local source address; the return code."""
        done = subprocess.run(
            [SSHPASS, "-p", "pw", SFTP, "-F", "/dev/null", "-o", "StrictHostKeyChecking=no",
             "-o", "UserKnownHostsFile=/dev/null", "-o", "PreferredAuthentications=password",
             "-o", "PubkeyAuthentication=no", "-o", "LogLevel=ERROR", "-o", "ConnectTimeout=10", "-o", "BatchMode=no",
             "-o", "BindAddress=" + source, "-P", str(port or self.sftp_port), "-b", "-", "alice@" + LOOPBACK],
            input="ls\n", capture_output=True, text=True, timeout=60, env=dict(os.environ, HOME=self.shared))
        self.last_sftp_error = done.stderr
        return done.returncode

    @unittest.skipUnless(shutil.which("sftp") and shutil.which("sshpass"), "OpenSSH's sftp and sshpass are needed")
    def test_sftp_passes_with_the_client_address_and_one_host_key(self):
        self.assertEqual(self.sftp_from("127.0.0.6"), 0, self.last_sftp_error)
        self.assertEqual(self.sftp_from("127.0.0.6"), 0, self.last_sftp_error)
        line = 'login succeeded: service=sftp address=127.0.0.6 user="alice"'
        logs = lambda: [s.read("stderr.log").decode("utf-8", "replace") for s in self.servers]
        self.assertTrue(wait_until(lambda: any(line in log for log in logs()), timeout=5), logs())
        self.assertFalse(any("address=%s" % BALANCER in log for log in logs()))
        # The policy judges the client: refused by the instance, before its banner.
        self.assertNotEqual(self.sftp_from(REFUSED), 0)
        self.assertFalse(any(re.search(r"login \w+: service=sftp address=%s " % re.escape(REFUSED), log)
                             for log in logs()))
        # Both instances show one host key to the client.
        scans = [subprocess.run(["ssh-keyscan", "-t", "ed25519", "-p", str(s.sftp_port), LOOPBACK],
                                capture_output=True, text=True, timeout=30).stdout.split()[-1] for s in self.servers]
        self.assertEqual(scans[0], scans[1])
        # Straight to an instance, from an address that is not the balancer, needs no header.
        self.assertEqual(self.sftp_from("127.0.0.6", self.servers[0].sftp_port), 0)

    def test_a_proxy_line_from_a_client_that_is_not_the_balancer_is_not_trusted(self):
        with Control(self.servers[0].ftp_port) as c:
            self.assertTrue(c.reply().startswith(b"220"))
            self.assertEqual(c.command("PROXY TCP4 10.9.9.9 127.0.0.1 40000 21"),
                             b'500 "PROXY" :command not understood\r\n')
            c.login("alice", "pw")
            self.assertEqual(c.command("STAT"), b"211- Status for user alice from 127.0.0.1\r\n211 End of status.\r\n")


class SharedUsersFile(unittest.TestCase):
    # Two program directories may share one ftpusers.xml through a symlink: a save
    # writes its temporary beside the link's target and renames it there, so the link
    # stays and every instance sees the change.
    def test_a_password_changed_through_a_symlinked_users_file_reaches_the_shared_file(self):
        shared = tempfile.mkdtemp(prefix="corveld-shared-")
        self.addCleanup(shutil.rmtree, shared, True)
        users = os.path.join(shared, "ftpusers.xml")
        with open(users, "w") as f:
            f.write(users_document(user_element("carol", digest("old"), shared)))
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        os.symlink(users, server.path("ftpusers.xml"))
        server.start()
        body = "new_pwd=fresh&new_pwd_confirm=fresh"
        reply = web_request(server.web_port, "POST /update_password.html HTTP/1.1\r\nAuthorization: Basic %s\r\n"
                                             "Content-Length: %d\r\n\r\n%s"
                            % (base64.b64encode(b"carol:old").decode(), len(body), body))
        self.assertIn(b"Update Successfully", reply)
        with open(users) as f:
            self.assertIn(digest("fresh"), f.read())
        self.assertTrue(os.path.islink(server.path("ftpusers.xml")))


if __name__ == "__main__":
    unittest.main()
