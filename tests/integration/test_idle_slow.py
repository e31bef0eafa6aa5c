"""A logged-in client that sends nothing is disconnected after about 121 seconds:
without a word as designed, with "421" first under <ftpext>yes. One that never logs
in is told 421 and disconnected 60 seconds after its greeting."""
import time
import unittest

from harness import Control, Server, settings_document


class IdleClient(unittest.TestCase):
    def test_silent_clients_are_disconnected_after_the_login_deadline_and_the_idle_limit(self):
        server = Server(welcomemsg="")
        standard = Server(start=False)
        try:
            standard.write("ftpconfig.xml", settings_document(ftpport=standard.ftp_port, httpport=standard.web_port,
                                                              welcomemsg="").replace(
                "</config>", "<ftpext>yes</ftpext></config>"))
            standard.start()
            # All three wait at once, so the extra ones cost no time of their own.
            with Control(server.ftp_port, timeout=200) as member, \
                    Control(server.ftp_port, timeout=200) as stranger, \
                    Control(standard.ftp_port, timeout=200) as standard_member:
                member.reply()
                stranger.reply()
                standard_member.reply()
                start = time.monotonic()
                self.assertTrue(member.login().startswith(b"230"))
                self.assertTrue(standard_member.login().startswith(b"230"))
                self.assertEqual(stranger.read_all_until_closed(timeout=90),
                                 b"421 Login timeout, closing control connection.\r\n")
                elapsed = time.monotonic() - start
                self.assertGreaterEqual(elapsed, 59)
                self.assertLess(elapsed, 65)
                self.assertEqual(member.read_all_until_closed(timeout=180), b"")
                elapsed = time.monotonic() - start
                self.assertGreaterEqual(elapsed, 119)
                self.assertLess(elapsed, 135)
                self.assertEqual(standard_member.read_all_until_closed(timeout=30),
                                 b"421 Idle time-out: closing control connection.\r\n")
        finally:
            server.cleanup()
            standard.cleanup()


if __name__ == "__main__":
    unittest.main()
