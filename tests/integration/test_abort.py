"""ABOR while data moves: stock ftplib.abort() (the end of its line sent as urgent
data) and the Telnet IP/Synch prefix curl sends end a running RETR or STOR within a
second with 426 and then 226, keep what an upload received, and leave the session
working; commands sent during a transfer are answered after it, in order."""
import ftplib
import os
import socket
import time
import unittest

from harness import Control, Server, SessionHelpers, digest, passive_data, user_element, users_document

BIG = 1 << 30  # sparse: never read from the disk, and far more than any socket buffer holds
TELNET_IP = b"\xff\xf4"
TELNET_SYNCH = b"\xff\xf2"


def serve(standard):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(home)
    with open(os.path.join(home, "big.bin"), "wb") as f:
        f.truncate(BIG)
    server.write("ftpusers.xml", users_document(user_element("u", digest("pw"), home, privilege=0x7001F)))
    server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                 "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg>%s</config>"
                 % (server.ftp_port, server.web_port, "<ftpext>yes</ftpext>" if standard else ""))
    server.start()
    return server, home


class AbortDuringTransfer(SessionHelpers):
    standard = False

    def setUp(self):
        self.server, self.home = serve(self.standard)
        self.addCleanup(self.server.cleanup)

    def stock_abort(self, ftp, data):
        started = time.monotonic()
        first = ftp.abort()
        data.close()
        second = ftp.voidresp()
        elapsed = time.monotonic() - started
        self.assertTrue(first.startswith("426"), first)
        self.assertEqual(second, "226 ABOR command successful.")
        self.assertLess(elapsed, 1.0)
        self.assertTrue(ftp.voidcmd("NOOP").startswith("200"))  # the session goes on

    def test_stock_abort_ends_a_large_download(self):
        ftp = self.ftp()
        ftp.voidcmd("TYPE I")
        data = ftp.transfercmd("RETR big.bin")
        self.assertEqual(len(data.recv(65536)) > 0, True)
        self.stock_abort(ftp, data)
        self.assertEqual(ftp.size("big.bin"), BIG)

    def test_stock_abort_ends_an_upload_and_keeps_what_arrived(self):
        ftp = self.ftp()
        ftp.voidcmd("TYPE I")
        data = ftp.transfercmd("STOR up.bin")
        sent = bytes(range(256)) * 4096  # 1 MiB
        data.sendall(sent)
        time.sleep(0.2)  # let the server take it, as a client that paused would
        self.stock_abort(ftp, data)
        with open(os.path.join(self.home, "up.bin"), "rb") as f:
            kept = f.read()
        self.assertEqual(kept, sent[:len(kept)])
        self.assertGreater(len(kept), 0)

    def test_telnet_prefix_with_urgent_synch_and_commands_that_wait_for_the_transfer(self):
        c = self.control("u", "pw")
        data = passive_data(c)
        self.assertTrue(c.command("RETR big.bin").startswith(b"150"))
        data.recv(65536)
        # Sent while the download runs, after two commands that must wait for it.
        c.send(b"NOOP\r\nPWD\r\n" + TELNET_IP + TELNET_SYNCH[:1])
        c.sock.send(TELNET_SYNCH[1:], socket.MSG_OOB)
        c.send(b"ABOR\r\n")
        self.assertEqual(c.reply(timeout=2), b"426 Connection closed; Transfer aborted\r\n")
        self.assertEqual(c.reply(timeout=2), b"226 ABOR command successful.\r\n")
        data.close()
        self.assertTrue(c.reply().startswith(b"200"))
        self.assertTrue(c.reply().startswith(b"257 \""))
        # With nothing running, the prefixed ABOR is an ABOR, not an unknown command.
        c.send(TELNET_IP + TELNET_SYNCH + b"ABOR\r\n")
        idle = b"226 No transfer to abort.\r\n" if self.standard else b"426 Connection closed; Transfer aborted\r\n"
        self.assertEqual(c.reply(), idle)

    def test_commands_during_a_transfer_that_ends_are_answered_after_its_226(self):
        with open(os.path.join(self.home, "mid.bin"), "wb") as f:
            f.write(os.urandom(8 << 20))
        c = self.control("u", "pw")
        data = passive_data(c)
        self.assertTrue(c.command("RETR mid.bin").startswith(b"150"))
        c.send(b"NOOP\r\nPWD\r\n")
        received = 0
        data.settimeout(10)
        while chunk := data.recv(1 << 20):
            received += len(chunk)
        data.close()
        self.assertEqual(received, 8 << 20)
        self.assertTrue(c.reply().startswith(b"226 "))
        self.assertTrue(c.reply().startswith(b"200"))
        self.assertTrue(c.reply().startswith(b"257 \""))


class DesignedDialect(AbortDuringTransfer, unittest.TestCase):
    standard = False


class StandardDialect(AbortDuringTransfer, unittest.TestCase):
    standard = True


if __name__ == "__main__":
    unittest.main()
