"""A client that connects and sends nothing is disconnected after about 121 seconds."""
import time
import unittest

from harness import Control, Server


class IdleClient(unittest.TestCase):
    def test_silent_client_is_disconnected_after_the_idle_limit(self):
        server = Server(welcomemsg="")
        try:
            with Control(server.ftp_port, timeout=200) as c:
                c.reply()
                start = time.monotonic()
                self.assertEqual(c.read_all_until_closed(timeout=180), b"")
                elapsed = time.monotonic() - start
                self.assertGreaterEqual(elapsed, 119)
                self.assertLess(elapsed, 135)
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
