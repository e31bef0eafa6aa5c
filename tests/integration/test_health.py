"""GET /health on the real web port: 200 ok without a login with <webext>yes, and the
designed 401 page without it."""
import unittest

from harness import Server, connect_tcp, recv_all

OK = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\nCache-Control: no-store\r\n\r\nok"


def exchange(port, raw):
    with connect_tcp(port, timeout=10) as s:
        s.sendall(raw)
        return recv_all(s, 10)


class HealthTest(unittest.TestCase):
    def test_health_answers_only_with_webext(self):
        server = Server(extra="<webext>yes</webext>")
        self.addCleanup(server.cleanup)
        self.assertEqual(exchange(server.web_port, b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n"), OK)
        self.assertEqual(exchange(server.web_port, b"HEAD /health HTTP/1.1\r\n\r\n"), OK[:-2])
        self.assertNotIn(b"login", server.read("stderr.log"))  # no login attempt was logged
        plain = Server()
        self.addCleanup(plain.cleanup)
        self.assertTrue(exchange(plain.web_port, b"GET /health HTTP/1.1\r\n\r\n").startswith(
            b"HTTP/1.1 401 Unauthorized\r\n"))


if __name__ == "__main__":
    unittest.main()
