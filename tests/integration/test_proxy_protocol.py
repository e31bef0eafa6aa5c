"""Connections through a load balancer (<proxyfrom>): the PROXY header's client address
stands for the peer in the access policy, STAT, the data connection checks and the
log; a header from anyone else is not trusted, and a balancer's connection without a
valid header is closed."""
import base64
import os
import socket
import struct
import time
import unittest

from harness import LOOPBACK, Control, Server, digest, recv_all, user_element, users_document


def v2_header(client, port=40000, destination="127.0.0.1", destination_port=21):
    addresses = socket.inet_aton(client) + socket.inet_aton(destination) + struct.pack("!HH", port, destination_port)
    return b"\r\n\r\n\x00\r\nQUIT\n" + bytes([0x21, 0x11]) + struct.pack("!H", len(addresses)) + addresses


BALANCER = "127.0.0.9"


def connect(port, source=BALANCER, timeout=10):
    sock = socket.socket()
    sock.bind((source, 0))
    sock.settimeout(timeout)
    sock.connect((LOOPBACK, port))
    control = Control.__new__(Control)
    control.sock, control.buffer = sock, b""
    return control


class BehindABalancer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(start=False)
        home = cls.server.path("home")
        os.makedirs(home)
        with open(os.path.join(home, "file.txt"), "wb") as f:
            f.write(b"through the balancer\n")
        cls.server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        cls.server.write("ftpaccess.xml", '<access><iptable type="REJECT"><ip value="203.0.113.*"/></iptable></access>')
        cls.server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                         "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg><proxyfrom>127.0.0.8 127.0.0.9"
                         "</proxyfrom></config>" % (cls.server.ftp_port, cls.server.web_port))
        cls.server.start(args=("-d",))

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_the_client_address_stands_for_the_peer(self):
        for header in (b"PROXY TCP4 127.0.0.3 127.0.0.1 40000 21\r\n", v2_header("127.0.0.3")):
            with connect(self.server.ftp_port) as c:
                c.send(header)
                self.assertTrue(c.reply().startswith(b"220"))
                c.login("alice", "pw")
                self.assertEqual(c.command("STAT"),
                                 b"211- Status for user alice from 127.0.0.3\r\n211 End of status.\r\n")
                # The data connection must come from the client itself, not the balancer.
                reply = c.command("PASV").decode()
                numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
                data_port = int(numbers[4]) * 256 + int(numbers[5])
                with socket.socket() as thief:
                    thief.bind((BALANCER, 0))
                    thief.settimeout(5)
                    thief.connect((LOOPBACK, data_port))
                    self.assertEqual(recv_all(thief, 5), b"")  # closed: the balancer is not the client
                with socket.socket() as data:
                    data.bind(("127.0.0.3", 0))
                    data.settimeout(10)
                    data.connect((LOOPBACK, data_port))
                    self.assertTrue(c.command("RETR file.txt").startswith(b"150"))
                    self.assertEqual(recv_all(data), b"through the balancer\n")
                self.assertEqual(c.reply(), b"226 Transfer complete.\r\n")
        self.assertIn('login succeeded: service=ftp address=127.0.0.3 user="alice"', self.server.read("stderr.log").decode())

    def test_the_access_policy_judges_the_client_not_the_balancer(self):
        with connect(self.server.ftp_port) as c:
            c.send(b"PROXY TCP4 203.0.113.8 127.0.0.1 40000 21\r\n")
            self.assertEqual(c.read_all_until_closed(), b"")

    def test_a_balancer_connection_without_a_valid_header_is_closed_without_a_word(self):
        for start in (b"", b"USER alice\r\n", b"PROXY TCP4 nonsense\r\n"):
            with connect(self.server.ftp_port) as c:
                started = time.monotonic()
                if start:
                    c.send(start)
                self.assertEqual(c.read_all_until_closed(timeout=15), b"")
                self.assertLess(time.monotonic() - started, 8)

    def test_a_header_from_outside_proxyfrom_is_not_trusted(self):
        with connect(self.server.ftp_port, source="127.0.0.2") as c:
            self.assertTrue(c.reply().startswith(b"220"))
            self.assertEqual(c.command("PROXY TCP4 10.9.9.9 127.0.0.1 40000 21"),
                             b'500 "PROXY" :command not understood\r\n')
            c.login("alice", "pw")
            self.assertEqual(c.command("STAT"), b"211- Status for user alice from 127.0.0.2\r\n211 End of status.\r\n")

    def test_the_web_port_reads_the_header_too(self):
        credentials = base64.b64encode(b"alice:pw").decode()
        with connect(self.server.web_port) as c:
            c.send(v2_header("127.0.0.6") + ("GET / HTTP/1.1\r\nAuthorization: Basic %s\r\n\r\n" % credentials).encode())
            self.assertTrue(c.read_all_until_closed().startswith(b"HTTP/1.1 200 OK"))
        self.assertIn('login succeeded: service=web address=127.0.0.6 user="alice"', self.server.read("stderr.log").decode())
        with connect(self.server.web_port) as c:
            c.send(b"GET / HTTP/1.1\r\n\r\n")  # no header from the balancer
            self.assertEqual(c.read_all_until_closed(timeout=15), b"")


if __name__ == "__main__":
    unittest.main()
