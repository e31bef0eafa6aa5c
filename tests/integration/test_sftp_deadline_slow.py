"""The SFTP port's sign-in deadline: a connection that never signs in is closed
within 30 seconds of its start, whether it stays silent or stops after the SSH
version line. Slow: it waits the whole deadline."""
import socket
import time
import unittest

from harness import sftp_server


class SignInDeadline(unittest.TestCase):
    def test_connections_that_never_sign_in_are_closed(self):
        server, port = sftp_server(self)
        server.start()
        silent = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.addCleanup(silent.close)
        talker = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.addCleanup(talker.close)
        talker.sendall(b"SSH-2.0-Probe\r\n")
        start = time.monotonic()
        for connection in (silent, talker):
            connection.settimeout(45)
            while connection.recv(4096):
                pass
        self.assertLess(time.monotonic() - start, 35)


if __name__ == "__main__":
    unittest.main()
