"""Waits that a hostile peer could stretch for ever by sending a byte, or connecting,
now and then: a web request head has one deadline (60 s) and a PASV wait one of its
own (91 s), however often something arrives; a TLS handshake that never comes is
given up (30 s). All run side by side, about 90 s."""
import os
import socket
import threading
import time
import unittest

from harness import LOOPBACK, Control, Server, digest, user_element, users_document


class TrickledPeers(unittest.TestCase):
    def test_trickling_bytes_or_foreign_connections_do_not_hold_a_wait_open(self):
        server = Server(start=False)
        self.addCleanup(server.cleanup)
        home = server.path("home")
        os.makedirs(home)
        server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home)))
        server.start()
        outcome = {}

        def trickle_web_head():
            with socket.create_connection((LOOPBACK, server.web_port), timeout=10) as s:
                started = time.monotonic()
                s.sendall(b"GET / HTTP/1.1\r\nX-Slow: ")
                received = b""
                while time.monotonic() - started < 120:
                    try:
                        s.sendall(b"a")
                    except OSError:
                        break
                    s.settimeout(5)
                    try:
                        chunk = s.recv(4096)
                    except socket.timeout:
                        continue
                    except OSError:
                        break
                    if not chunk:
                        break
                    received += chunk
                outcome["web"] = (time.monotonic() - started, received)

        def foreign_connections_during_pasv():
            with Control(server.ftp_port, timeout=130) as c:
                c.reply()
                c.login("alice", "pw")
                reply = c.command("PASV").decode()
                numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
                port = int(numbers[4]) * 256 + int(numbers[5])
                started = time.monotonic()
                stop = threading.Event()

                def knock():
                    # Another host of the network (127.0.0.2) takes a try every second.
                    while not stop.is_set() and time.monotonic() - started < 120:
                        try:
                            with socket.socket() as s:
                                s.bind(("127.0.0.2", 0))
                                s.settimeout(2)
                                s.connect((LOOPBACK, port))
                                s.recv(1)
                        except OSError:
                            pass
                        stop.wait(1)
                knocker = threading.Thread(target=knock)
                knocker.start()
                try:
                    late = c.reply(timeout=125)
                finally:
                    stop.set()
                    knocker.join(10)
                outcome["pasv"] = (time.monotonic() - started, late)

        tls = Server(start=False)
        self.addCleanup(tls.cleanup)
        tls.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><tls>explicit</tls></config>"
                  % (tls.ftp_port, tls.web_port))
        tls.start()

        def stalled_tls_handshake():
            with Control(tls.ftp_port, timeout=60) as c:
                c.reply()
                c.command("AUTH TLS")
                started = time.monotonic()
                outcome["tls"] = (c.read_all_until_closed(timeout=50), time.monotonic() - started)

        threads = [threading.Thread(target=trickle_web_head), threading.Thread(target=foreign_connections_during_pasv),
                   threading.Thread(target=stalled_tls_handshake)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(140)
        web_seconds, web_received = outcome["web"]
        self.assertEqual(web_received, b"")
        self.assertGreater(web_seconds, 55)
        self.assertLess(web_seconds, 75)
        tls_received, tls_seconds = outcome["tls"]
        self.assertEqual(tls_received, b"")  # a handshake that never comes is given up after 30 s
        self.assertGreater(tls_seconds, 25)
        self.assertLess(tls_seconds, 40)
        pasv_seconds, pasv_reply = outcome["pasv"]
        self.assertEqual(pasv_reply, b"425 Can't open data connection.\r\n")
        self.assertGreater(pasv_seconds, 85)
        self.assertLess(pasv_seconds, 100)


if __name__ == "__main__":
    unittest.main()
