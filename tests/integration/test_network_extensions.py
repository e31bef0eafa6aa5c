"""The network extensions against real clients: IPv6 with EPSV and EPRT, the passive
port range and address a router needs, bans shared by both ports, and the limit of
sessions per address."""
import base64
import os
import socket
import subprocess
import threading
import time
import unittest

from harness import LOOPBACK, Control, Server, digest, recv_all, user_element, users_document, wait_until

FULL = 0x7001F


def extension_server(extra, listenip="", maxconn=32, files=None):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(home)
    with open(os.path.join(home, "hello.txt"), "wb") as f:
        f.write(b"hello over the network\n")
    server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home, privilege=FULL)))
    server.write("ftpconfig.xml", "<config><listenip>%s</listenip><ftpport>%d</ftpport><httpport>%d</httpport>"
                 "<maxconn>%d</maxconn><pasvmode>yes</pasvmode><welcomemsg></welcomemsg>%s</config>"
                 % (listenip, server.ftp_port, server.web_port, maxconn, extra))
    return server, home


def connect_from(source, port, timeout=10):
    """A control connection whose client end is bound to source (another loopback host)."""
    sock = socket.socket()
    sock.bind((source, 0))
    sock.settimeout(timeout)
    sock.connect((LOOPBACK, port))
    control = Control.__new__(Control)
    control.sock = sock
    control.buffer = b""
    return control


def web_get(port, user, password, source=LOOPBACK):
    with socket.socket() as s:
        s.bind((source, 0))
        s.settimeout(10)
        s.connect((LOOPBACK, port))
        credentials = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
        s.sendall(("GET / HTTP/1.1\r\nAuthorization: Basic %s\r\n\r\n" % credentials).encode())
        try:
            return recv_all(s, 10)
        except ConnectionResetError:
            return b""


class Ipv6AndExtendedDataConnections(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = extension_server("<ftpext>yes</ftpext>", listenip="::")
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_curl_lists_and_downloads_over_ipv6_and_over_ipv4_on_one_listener(self):
        for host in ("[::1]", "127.0.0.1"):
            url = "ftp://%s:%d/" % (host, self.server.ftp_port)
            listing = subprocess.run(["curl", "-sS", "-g", "--max-time", "20", "-u", "alice:pw", url],
                                     capture_output=True, timeout=60)
            self.assertEqual(listing.returncode, 0, listing.stderr)
            self.assertIn(b" hello.txt", listing.stdout)
            got = subprocess.run(["curl", "-v", "-sS", "-g", "--max-time", "20", "-u", "alice:pw", url + "hello.txt"],
                                 capture_output=True, timeout=60)
            self.assertEqual(got.stdout, b"hello over the network\n", got.stderr)
            # curl takes the extended passive mode the server now offers.
            self.assertIn(b"> EPSV", got.stderr)
            self.assertIn(b"< 229 Entering Extended Passive Mode (|||", got.stderr)
        # An IPv4 client of the dual-stack listener is its plain IPv4 address everywhere.
        with Control(self.server.ftp_port) as c:
            c.reply()
            c.login("alice", "pw")
            self.assertEqual(c.command("STAT"), b"211- Status for user alice from 127.0.0.1\r\n211 End of status.\r\n")

    def test_epsv_eprt_and_their_rules(self):
        with socket.create_connection(("::1", self.server.ftp_port), timeout=10) as sock:
            c = Control.__new__(Control)
            c.sock, c.buffer = sock, b""
            c.reply()
            c.login("alice", "pw")
            self.assertEqual(c.command("STAT"), b"211- Status for user alice from ::1\r\n211 End of status.\r\n")
            # PASV and PORT are IPv4 only.
            self.assertEqual(c.command("PASV"), b"425 Can't open data connection.\r\n")
            self.assertEqual(c.command("PORT 127,0,0,1,4,1"), b"425 Can't open data connection.\r\n")
            self.assertEqual(c.command("EPSV 1"), b"522 Network protocol not supported, use (2)\r\n")
            reply = c.command("EPSV")
            self.assertTrue(reply.startswith(b"229 Entering Extended Passive Mode (|||"), reply)
            port = int(reply.split(b"|||")[1].split(b"|")[0])
            with socket.create_connection(("::1", port), timeout=10) as data:
                self.assertTrue(c.command("RETR hello.txt").startswith(b"150"))
                self.assertEqual(recv_all(data), b"hello over the network\n")
            self.assertEqual(c.reply(), b"226 Transfer complete.\r\n")
            # EPRT to the client itself works; anywhere else is the bounce it must refuse.
            with socket.socket(socket.AF_INET6) as listener:
                listener.bind(("::1", 0))
                listener.listen(1)
                self.assertEqual(c.command("EPRT |2|::1|%d|" % listener.getsockname()[1]),
                                 b"200 EPRT command successful.\r\n")
                accepted, _ = listener.accept()
                accepted.close()
            self.assertEqual(c.command("EPRT |1|127.0.0.1|21|"), b"425 Can't open data connection.\r\n")
            self.assertEqual(c.command("EPRT |2|0:0:0:0:0:0:0:2|21|"), b"425 Can't open data connection.\r\n")
            for bad in ("EPRT |3|::1|21|", "EPRT |2|::1|99999|", "EPRT |2|nonsense|21|", "EPRT ||::1|21"):
                self.assertIn(c.command(bad)[:3], (b"501", b"522"), bad)
            # After EPSV ALL only EPSV may open data connections.
            self.assertEqual(c.command("EPSV ALL"), b"200 EPSV ALL ok.\r\n")
            self.assertEqual(c.command("EPRT |2|::1|21|"), b"425 Can't open data connection.\r\n")
            c.command("QUIT")

    def test_without_ftpext_an_ipv6_listen_address_is_refused_with_the_reason(self):
        server, _ = extension_server("", listenip="::")
        self.addCleanup(server.cleanup)
        run = subprocess.run([server.binary, "-d"], env=server.env(), cwd=server.dir, capture_output=True, timeout=30)
        self.assertIn("needs <ftpext>yes</ftpext>", run.stderr.decode())


class PassivePortsAndAddress(unittest.TestCase):
    def test_passive_listeners_stay_in_the_range_and_the_101st_is_refused_while_all_are_held(self):
        # Above the system's ephemeral ports (32768-60999), where no other test's socket lands.
        low = 61000 + (os.getpid() % 40) * 100
        server, _ = extension_server("<pasvports>%d-%d</pasvports><pasvaddress>198.51.100.7</pasvaddress>"
                                     % (low, low + 99), maxconn=200)
        self.addCleanup(server.cleanup)
        server.start()
        sessions, ports = [], set()
        self.addCleanup(lambda: [c.close() for c in sessions])
        for _ in range(100):
            c = Control(server.ftp_port, timeout=20)
            sessions.append(c)
            c.reply()
            c.login("alice", "pw")
            reply = c.command("PASV").decode()
            numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
            # A client on loopback is told the server's own address, not <pasvaddress>.
            self.assertEqual(".".join(numbers[:4]), "127.0.0.1")
            ports.add(int(numbers[4]) * 256 + int(numbers[5]))
        self.assertEqual(ports, set(range(low, low + 100)))
        with Control(server.ftp_port) as extra:
            extra.reply()
            extra.login("alice", "pw")
            self.assertEqual(extra.command("PASV"), b"425 Can't open data connection.\r\n")


class Bans(unittest.TestCase):
    def test_failures_ban_the_address_on_both_ports_and_close_its_other_sessions(self):
        server, _ = extension_server("<banfailures>3</banfailures><banminutes>1</banminutes>")
        self.addCleanup(server.cleanup)
        server.start(args=("-d",))
        bystander = connect_from("127.0.0.3", server.ftp_port)
        self.addCleanup(bystander.close)
        bystander.reply()
        self.assertTrue(bystander.login("alice", "pw").startswith(b"230"))
        # Failures from 127.0.0.3, on both ports.
        with connect_from("127.0.0.3", server.ftp_port) as guesser:
            guesser.reply()
            for _ in range(2):
                guesser.command("USER alice")
                self.assertEqual(guesser.command("PASS wrong"), b"530 Login incorrect.\r\n")
        self.assertTrue(web_get(server.web_port, "alice", "wrong", "127.0.0.3").startswith(b"HTTP/1.1 401"))
        # Banned now: the live session is closed, new connections on both ports are too.
        self.assertEqual(bystander.read_all_until_closed(timeout=10), b"")
        with connect_from("127.0.0.3", server.ftp_port) as refused:
            self.assertEqual(refused.read_all_until_closed(timeout=10), b"")
        self.assertEqual(web_get(server.web_port, "alice", "pw", "127.0.0.3"), b"")
        # Another address still logs in, and the ban is in the log.
        with connect_from("127.0.0.2", server.ftp_port) as other:
            other.reply()
            self.assertTrue(other.login("alice", "pw").startswith(b"230"))
        self.assertIn("ban: address=127.0.0.3 for 1 minutes after 3 failed logins within 10 minutes",
                      server.read("stderr.log").decode())


class SessionsPerAddress(unittest.TestCase):
    def test_an_address_past_maxperip_gets_the_connection_limit_reply(self):
        server, _ = extension_server("<maxperip>2</maxperip>")
        self.addCleanup(server.cleanup)
        server.start()
        held = [connect_from("127.0.0.4", server.ftp_port) for _ in range(2)]
        self.addCleanup(lambda: [c.close() for c in held])
        for c in held:
            self.assertTrue(c.reply().startswith(b"220"))
        with connect_from("127.0.0.4", server.ftp_port) as third:
            self.assertEqual(third.read_all_until_closed(), b"550 Too Many Connection\r\n")
        with connect_from("127.0.0.5", server.ftp_port) as elsewhere:
            self.assertTrue(elsewhere.reply().startswith(b"220"))
        held[0].close()
        self.assertTrue(wait_until(lambda: connect_from("127.0.0.4", server.ftp_port).reply().startswith(b"220"),
                                   timeout=10, step=0.2))


if __name__ == "__main__":
    unittest.main()
