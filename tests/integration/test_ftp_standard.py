"""With <ftpext>yes the server speaks standard FTP: stock ftplib and raw sessions
against the RFC forms (REST for one transfer, resumed STOR, 522 for any unknown
network protocol, TYPE 200, PWD/MKD quoting, OPTS MLST, 421, 226 for an idle ABOR).
The designed forms without <ftpext> are pinned by test_ftp_session and test_ftp_files."""
import ftplib
import io
import os
import socket
import struct
import unittest

from harness import (Control, Server, SessionHelpers, digest, fetch, passive_data, user_element, users_document,
                     wait_until)

SIZE = 200_000
PAYLOAD = bytes(range(251)) * (SIZE // 251) + bytes(SIZE % 251)
SYNTAX = b"501 Syntax error in parameters or arguments.\r\n"
BEYOND = b"554 Restart offset beyond the end of the file.\r\n"


def standard_server(extra="", welcome="Welcome to the office"):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(home)
    server.write("ftpusers.xml", users_document(user_element("u", digest("pw"), home, privilege=0x7001F),
                                                user_element("w", digest("pw"), home, welcome="Hi")))
    server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                 "<pasvmode>yes</pasvmode><welcomemsg>%s</welcomemsg><ftpext>yes</ftpext>%s</config>"
                 % (server.ftp_port, server.web_port, welcome, extra))
    server.start()
    return server, home


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def connect_from(source, port):
    control = Control.__new__(Control)
    control.sock = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
    control.buffer = b""
    return control


class StandardDialect(SessionHelpers, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = standard_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def download(self, ftp, name, rest=None):
        out = io.BytesIO()
        ftp.retrbinary("RETR " + name, out.write, rest=rest)
        return out.getvalue()

    def test_a_restart_offset_applies_to_the_next_transfer_only(self):
        write(os.path.join(self.home, "rest", "a"), PAYLOAD)
        ftp = self.ftp()
        self.assertEqual(self.download(ftp, "rest/a", rest=1000), PAYLOAD[1000:])
        self.assertEqual(self.download(ftp, "rest/a"), PAYLOAD)  # stock ftplib: the whole file again
        # A transfer that fails uses the offset up as well.
        ftp.sendcmd("REST 1000")
        with self.assertRaises(ftplib.error_perm):
            self.download(ftp, "rest/missing")
        self.assertEqual(self.download(ftp, "rest/a"), PAYLOAD)
        ftp.sendcmd("REST 1000")
        ftp.storbinary("APPE rest/log", io.BytesIO(b"appended"))  # APPE adds at the end, and clears it
        self.assertEqual(self.download(ftp, "rest/a"), PAYLOAD)
        ftp.sendcmd("REST %d" % SIZE)
        self.assertEqual(self.download(ftp, "rest/a"), b"")  # at the end: nothing left, 226
        c = self.control()
        for line in ("REST abc", "REST -5", "REST 10x", "REST", "REST 9223372036854775808"):
            self.assertEqual(c.command(line), SYNTAX, line)
        self.assertEqual(c.command("REST %d" % (SIZE + 1)), b"350 Restarting at %d. Send STORE or RETRIEVE.\r\n"
                         % (SIZE + 1))
        self.assertEqual(fetch(c, "RETR rest/a")[0], BEYOND)
        self.assertEqual(fetch(c, "RETR rest/a")[0], b"150 Opening BINARY mode data connection for rest/a "
                                                      b"(%d bytes)\r\n" % SIZE)

    def test_stor_after_rest_resumes_the_upload(self):
        target = os.path.join(self.home, "resume", "f")
        write(target, PAYLOAD[:5000])
        ftp = self.ftp()
        ftp.storbinary("STOR resume/f", io.BytesIO(PAYLOAD[5000:]), rest=5000)
        self.assertEqual(read(target), PAYLOAD)
        # Restarting inside the file replaces from there and ends where the upload ends.
        ftp.storbinary("STOR resume/f", io.BytesIO(b"END"), rest=10)
        self.assertEqual(read(target), PAYLOAD[:10] + b"END")
        # The offset is used up: the next STOR replaces the whole file.
        ftp.storbinary("STOR resume/f", io.BytesIO(b"whole"))
        self.assertEqual(read(target), b"whole")
        c = self.control()
        for name in ("resume/f", "resume/new"):  # past the end, or nothing to resume: no hole, no file
            c.command("REST 6")
            self.assertEqual(fetch(c, "STOR " + name)[0], BEYOND, name)
        self.assertEqual(read(target), b"whole")
        self.assertFalse(os.path.exists(os.path.join(self.home, "resume", "new")))

    def test_a_resumed_upload_that_breaks_keeps_every_byte(self):
        target = os.path.join(self.home, "broken", "f")
        write(target, PAYLOAD)
        c = self.control()
        data = passive_data(c)
        self.assertEqual(c.command("REST 100"), b"350 Restarting at 100. Send STORE or RETRIEVE.\r\n")
        self.assertTrue(c.command("STOR broken/f").startswith(b"150"))
        data.sendall(b"x" * 50)
        expected = PAYLOAD[:100] + b"x" * 50 + PAYLOAD[150:]
        self.assertTrue(wait_until(lambda: read(target) == expected, timeout=10))
        data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        data.close()  # a reset: the upload broke
        self.assertEqual(c.reply(), b"426 Connection closed; Transfer aborted\r\n")
        self.assertEqual(read(target), expected)  # what it did not replace is still there

    def test_session_replies_have_the_rfc_forms(self):
        c = self.control(user=None)
        self.assertEqual(self.greeting, b"220-CorvelFtp Server powered by Tessaly\r\n220-Welcome to the office\r\n"
                                        b"220 Service ready for new user.\r\n")
        self.assertRegex(c.login("w", "pw"), rb"^230-Hi\r\n230-Service has run for \d+h-\d+m-\d+s\r\n230 w logged in\.\r\n$")
        self.assertRegex(c.login("u", "pw"), rb"^230-Service has run for \d+h-\d+m-\d+s\r\n230 u logged in\.\r\n$")
        for line, expected in (("TYPE A", b"200 Type set to A\r\n"), ("type i", b"200 Type set to I\r\n"),
                               ("TYPE A N", b"200 Type set to A\r\n"), ("TYPE L 8", b"200 Type set to I\r\n"),
                               ("TYPE A T", b"504 Command not implemented for that parameter.\r\n"),
                               ("TYPE E", b"504 Command not implemented for that parameter.\r\n"),
                               ("TYPE", SYNTAX),
                               ("MODE s", b"200 Mode set to S.\r\n"),
                               ("MODE B", b"504 Command not implemented for that parameter.\r\n"),
                               ("STRU F", b"200 Structure set to F.\r\n"),
                               ("STRU R", b"504 Command not implemented for that parameter.\r\n"),
                               ("ALLO 1000", b"202 No storage allocation necessary.\r\n"),
                               ("PWD", b'257 "/" is current directory.\r\n'),
                               ('MKD q/say "hi"', b"550 Permission denied.\r\n"),
                               ("MKD q", b'257 "/q" directory created.\r\n'),
                               ('XMKD q/../q/say "hi"', b'257 "/q/say ""hi""" directory created.\r\n'),
                               ('CWD q/say "hi"', b'250 Directory changed to /q/say "hi"\r\n'),
                               ("XPWD", b'257 "/q/say ""hi""" is current directory.\r\n'),
                               ("CDUP", b"250 Directory changed to /q\r\n"),
                               ('RMD say "hi"', b"250 command ok\r\n"),
                               ("SIZE /q", b"550 /q:Not a plain file.\r\n"),
                               ("SIZE /q/none/x", b"550 /q/none/x:No such file or directory.\r\n"),
                               ("ABOR", b"226 No transfer to abort.\r\n")):
            self.assertEqual(c.command(line), expected, line)
        write(os.path.join(self.home, "q", "file"), b"12345")
        self.assertEqual(c.command("SIZE file"), b"213 5\r\n")
        self.assertEqual(fetch(c, "RETR /q")[0], b"550 /q:Not a plain file.\r\n")
        self.assertEqual(fetch(c, "LIST gone")[0], b"550 /q/gone:No such file or directory.\r\n")
        self.assertEqual(c.command("DELE file"), b"250 command ok\r\n")
        # ABOR also closes a data connection set up and left unused.
        data = passive_data(c)
        self.assertEqual(c.command("ABOR"), b"226 No transfer to abort.\r\n")
        data.settimeout(10)
        self.assertEqual(data.recv(1), b"")
        data.close()

    def test_rnto_completes_one_rnfr_only(self):
        write(os.path.join(self.home, "ren", "a"), b"a")
        c = self.control()
        self.assertEqual(c.command("RNFR ren/a"), b"350 File or directory exists, ready for destination name.\r\n")
        self.assertEqual(c.command("RNTO ren/b"), b"250 RNTO command successful.\r\n")
        self.assertEqual(c.command("RNTO ren/c"), b"503 Bad sequence of commands.\r\n")
        self.assertEqual(sorted(os.listdir(os.path.join(self.home, "ren"))), ["b"])

    def test_unsupported_network_protocols_get_522(self):
        c = self.control()
        for line in ("EPSV 7", "EPSV 2", "EPSV 99999999999", "EPRT |9|127.0.0.1|5000|", "EPRT |7|x|1|"):
            self.assertEqual(c.command(line), b"522 Network protocol not supported, use (1)\r\n", line)
        self.assertEqual(c.command("EPSV x"), SYNTAX)
        self.assertTrue(c.command("EPSV 1").startswith(b"229 "))

    def test_opts_mlst_selects_the_facts(self):
        write(os.path.join(self.home, "facts", "a b"), b"x" * 7)
        ftp = self.ftp()
        # ftplib's mlsd(facts=...) sends OPTS MLST first and wants a 2xx reply.
        self.assertEqual(dict(ftp.mlsd("facts", facts=["size", "Type"])),
                         {".": {"type": "cdir"}, "a b": {"size": "7", "type": "file"}})
        self.assertIn(" MLST type*;size*;modify;perm;unix.mode;", ftp.sendcmd("FEAT").splitlines())
        self.assertEqual(ftp.sendcmd("MLST facts/a b"), "250-Listing facts/a b\n type=file;size=7; facts/a b\n250 End")
        self.assertEqual(ftp.sendcmd("OPTS MLST bogus;"), "200 MLST OPTS")
        self.assertEqual(ftp.sendcmd("MLST facts/a b"), "250-Listing facts/a b\n  facts/a b\n250 End")
        ftp.sendcmd("REIN")
        ftp.login("u", "pw")
        self.assertIn("type=file;size=7;modify=", ftp.sendcmd("MLST facts/a b"))  # REIN chose all again


class ConnectionLimit(unittest.TestCase):
    def test_a_client_past_the_limit_gets_421(self):
        server, _ = standard_server("<maxperip>1</maxperip>")
        self.addCleanup(server.cleanup)
        # From an address of its own, so the harness's start-up probe does not count.
        with connect_from("127.0.0.6", server.ftp_port) as first:
            self.assertTrue(first.reply().startswith(b"220"))
            with connect_from("127.0.0.6", server.ftp_port) as second:
                self.assertEqual(second.read_all_until_closed(), b"421 Too many connections.\r\n")


if __name__ == "__main__":
    unittest.main()
