"""File commands against the real server, byte for byte: paths, permissions, data
connections, listings, transfers and file management."""
import os
import re
import socket
import threading
import time
import unittest

from harness import (Control, Server, fetch, digest, passive_data, recv_all, user_element, users_document,
                     wait_until)

FULL = 0x7001F
READ_LIST = 0x20002
WRITE_NO_CREATE = 0x20006


class FileCommandsBase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(welcomemsg="", start=False)
        cls.home = cls.server.path("home")
        cls.reader_home = cls.server.path("readerhome")
        os.makedirs(cls.home)
        os.makedirs(cls.reader_home)
        cls.server.write("ftpusers.xml", users_document(
            user_element("alice", digest("pw"), cls.home, privilege=FULL),
            user_element("reader", digest("pw"), cls.reader_home, privilege=READ_LIST),
            user_element("writer", digest("pw"), cls.reader_home, privilege=WRITE_NO_CREATE)))
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def session(self, user="alice"):
        c = Control(self.server.ftp_port)
        c.reply()
        self.assertTrue(c.login(user, "pw").endswith(b"logged in.\r\n"))
        self.addCleanup(c.close)
        return c

    def put(self, relative, data=b"", home=None):
        path = os.path.join(home or self.home, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def retr(self, c, name):
        return fetch(c, "RETR " + name)

    def stor(self, c, name, payload, verb="STOR"):
        data = passive_data(c)
        opening = c.command("%s %s" % (verb, name))
        if opening.startswith(b"150"):
            data.sendall(payload)
        data.close()
        closing = c.reply() if opening.startswith(b"150") else b""
        return opening, closing

    def list(self, c, argument=""):
        return fetch(c, ("LIST " + argument).rstrip())


class PathsAndDirectories(FileCommandsBase):
    def test_pwd_cwd_cdup(self):
        os.makedirs(os.path.join(self.home, "pub", "in"), exist_ok=True)
        c = self.session()
        self.assertEqual(c.command("PWD"), b'257 "//" is current directory.\r\n')
        # An empty argument names the current directory; "/" and "" both mean the root.
        self.assertEqual(c.command("CWD"), b"250 Directory changed to \r\n")
        self.assertEqual(c.command("CWD pub/in"), b"250 Directory changed to pub/in\r\n")
        self.assertEqual(c.command("XPWD"), b'257 "pub/in/" is current directory.\r\n')
        self.assertEqual(c.command("CDUP"), b"250 Directory changed to pub\r\n")
        self.assertEqual(c.command("CWD /"), b"250 Directory changed to \r\n")
        self.assertEqual(c.command("PWD"), b'257 "/" is current directory.\r\n')
        self.assertEqual(c.command("CWD .."), b"550 /:No such file or directory.\r\n")
        self.assertEqual(c.command("XCUP"), b"550 No such directory.\r\n")
        self.assertEqual(c.command("CWD missing"), b"550 /missing:No such directory.\r\n")
        self.assertEqual(c.command("CWD /a/../../b"), b"550 /b:No such file or directory.\r\n")
        self.assertEqual(c.command("XCWD \\pub\\.\\in\\"), b"250 Directory changed to pub/in\r\n")

    def test_cdup_does_not_look_at_the_disk(self):
        os.makedirs(os.path.join(self.home, "gone", "in"), exist_ok=True)
        c = self.session()
        c.command("CWD gone/in")
        os.rmdir(os.path.join(self.home, "gone", "in"))
        os.rmdir(os.path.join(self.home, "gone"))
        self.assertEqual(c.command("CDUP"), b"250 Directory changed to gone\r\n")

    def test_mkd_rmd_dele(self):
        c = self.session()
        self.assertEqual(c.command("MKD newdir"), b'257 "newdir" directory created.\r\n')
        self.assertEqual(c.command("XMKD newdir"), b"550 /newdir:failed to create.\r\n")
        self.put("plainfile")
        self.assertEqual(c.command("MKD plainfile"), b"550 Permission denied.\r\n")
        self.assertEqual(c.command("MKD no/parent"), b"550 Permission denied.\r\n")
        self.assertEqual(c.command("MKD ../x"), b"550 /x:No such file or directory.\r\n")
        self.put("newdir/inner")
        self.assertEqual(c.command("RMD newdir"), b"550 Permission denied.\r\n")
        self.assertEqual(c.command("DELE newdir"), b"550 /newdir:No such file or directory.\r\n")
        self.assertEqual(c.command("DELE newdir/inner"), b"250 command ok \r\n")
        self.assertEqual(c.command("XRMD newdir"), b"250 command ok \r\n")
        self.assertEqual(c.command("RMD newdir"), b"550 /newdir:No such file or directory2.\r\n")
        self.assertEqual(c.command("RMD ../.."), b"550 /:No such file or directory1.\r\n")
        self.assertEqual(c.command("DELE plainfile"), b"250 command ok \r\n")
        self.assertEqual(c.command("DELE plainfile"), b"550 /plainfile:No such file or directory.\r\n")

    def test_rename_table(self):
        c = self.session()
        self.assertEqual(c.command("RNTO x"), b"503 Bad sequence of commands.\r\n")
        self.put("ren/a.txt", b"A")
        self.put("ren/exists.txt", b"E")
        self.assertEqual(c.command("RNFR ../a"), b"550 /a:No such file or directory.1\r\n")
        self.assertEqual(c.command("RNFR ren/missing"), b"550 /ren/missing:No such file or directory.2\r\n")
        self.assertEqual(c.command("RNFR /ren/a.txt"), b"350 File or directory exists, ready for destination name.\r\n")
        self.assertEqual(c.command("RNTO /ren/exists.txt"), b"550 RNTO command failed.5\r\n")
        self.assertEqual(c.command("RNTO ../../b"), b"550 RNTO command failed.3\r\n")
        self.assertEqual(c.command("RNTO /ren/nodir/b.txt"), b"550 RNTO command failed.4\r\n")
        self.assertEqual(c.command("RNTO /ren/b.txt"), b"250 RNTO command successful.\r\n")
        self.assertEqual(open(os.path.join(self.home, "ren", "b.txt"), "rb").read(), b"A")
        self.assertEqual(open(os.path.join(self.home, "ren", "exists.txt"), "rb").read(), b"E")
        # The source stays set and is resolved again: it is gone now.
        self.assertEqual(c.command("RNTO /ren/c.txt"), b"550 RNTO command failed.2\r\n")
        self.assertEqual(c.command("RNTO " + "x" * 4080), b"550 RNTO command failed.2\r\n")
        c.command("RNFR ren/exists.txt")
        self.assertEqual(c.command("RNTO " + "x" * 4080), b"550 No such file or directory\r\n")
        c.command("RNFR ren")
        self.assertEqual(c.command("RNTO renamed_dir"), b"250 RNTO command successful.\r\n")
        self.assertTrue(os.path.isdir(os.path.join(self.home, "renamed_dir")))
        c.command("REIN")
        c.login("alice", "pw")
        self.assertEqual(c.command("RNTO y"), b"503 Bad sequence of commands.\r\n")

    def test_size_joins_names_with_backslashes(self):
        self.put("sz/file.bin", b"x" * 1234)
        c = self.session()
        self.assertEqual(c.command("SIZE sz/file.bin"), b"213 1234\r\n")
        self.assertEqual(c.command("SIZE sz"), b"213 0\r\n")
        self.assertEqual(c.command("SIZE a/b"), b"550 /a\\b:No such file or directory.\r\n")
        self.assertEqual(c.command("SIZE /x/../../y"), b"550 /y:No such file or directory.\r\n")
        # The home directory's path pushes this past the 4095-character limit.
        self.assertEqual(c.command("SIZE " + "a" * 4085), b"550 No such file or directory\r\n")

    def test_permission_matrix_for_list_and_read_only(self):
        self.put("pub.txt", b"public", home=self.reader_home)
        c = self.session("reader")
        opening, body, closing = self.retr(c, "pub.txt")
        self.assertEqual((body, closing), (b"public", b"226 Transfer complete.\r\n"))
        self.assertTrue(self.list(c)[1].endswith(b" pub.txt\r\n"))
        for command in ("STOR new.txt", "APPE pub.txt", "DELE pub.txt", "MKD d", "RMD d", "RNFR pub.txt",
                        "RNTO x"):
            self.assertEqual(c.command(command), b"550 Permission denied.\r\n", command)
        self.assertEqual(os.listdir(self.reader_home), ["pub.txt"])

    def test_store_needs_create_only_for_new_files(self):
        self.put("existing.txt", b"old", home=self.reader_home)
        c = self.session("writer")
        self.assertEqual(c.command("STOR brand_new.txt"), b"550 Permission denied.\r\n")
        opening, closing = self.stor(c, "existing.txt", b"new contents")
        self.assertEqual(opening, b"150 Opening BINARY mode data connection for existing.txt\r\n")
        self.assertEqual(closing, b"226 Transfer complete.\r\n")
        self.assertEqual(open(os.path.join(self.reader_home, "existing.txt"), "rb").read(), b"new contents")


class Transfers(FileCommandsBase):
    def test_retr_replies_and_rest_persistence(self):
        payload = bytes(range(256)) * 4 + b"\n" * 10 + b"tail"
        self.put("t/data.bin", payload)
        c = self.session()
        opening, body, closing = self.retr(c, "t/data.bin")
        self.assertEqual(opening, b"150 Opening BINARY mode data connection for t/data.bin(%d bytes)\r\n" % len(payload))
        self.assertEqual(body, payload)
        self.assertEqual(closing, b"226 Transfer complete.\r\n")
        self.assertEqual(c.command("REST 100"), b"350 Restarting at 100. Send STORE or RETRIEVE.\r\n")
        self.assertEqual(self.retr(c, "t/data.bin")[1], payload[100:])
        self.assertEqual(self.retr(c, "t/data.bin")[1], payload[100:])
        self.assertEqual(c.command("REST abc"), b"350 Restarting at abc. Send STORE or RETRIEVE.\r\n")
        self.assertEqual(self.retr(c, "t/data.bin")[1], payload[100:])
        c.command("REST -5")
        self.assertEqual(self.retr(c, "t/data.bin")[1], payload)
        # Past the largest file offset: refused, the offset stays (no wrap to byte 1).
        self.assertEqual(c.command("REST 18446744073709551617"), b"501 Syntax error in parameters or arguments.\r\n")
        self.assertEqual(c.command("REST 9223372036854775808"), b"501 Syntax error in parameters or arguments.\r\n")
        self.assertEqual(self.retr(c, "t/data.bin")[1], payload)
        self.assertEqual(c.command("REST 9223372036854775807"), b"350 Restarting at 9223372036854775807. Send STORE or RETRIEVE.\r\n")
        self.assertEqual(self.retr(c, "t/data.bin")[1:], (b"", b"226 Transfer complete.\r\n"))
        c.command("REST 0")
        c.command("TYPE A")
        opening, body, _ = self.retr(c, "t/data.bin")
        self.assertTrue(opening.startswith(b"150 Opening ASCII mode data connection for "))
        self.assertEqual(body, payload)  # never converted

    def test_retr_of_a_directory_sends_its_listing(self):
        self.put("dirretr/one.txt", b"1")
        c = self.session()
        opening, body, closing = self.retr(c, "dirretr")
        self.assertEqual(opening, b"150 Opening BINARY mode data connection for dirretr(0 bytes)\r\n")
        self.assertRegex(body, rb"-rw-------   1 alice     alice            1 \w{3} [ \d]\d \d\d:\d\d one\.txt\r\n")
        self.assertEqual(closing, b"226 Transfer complete.\r\n")

    def test_retr_missing_and_escaped(self):
        c = self.session()
        self.assertEqual(self.retr(c, "nothing.bin")[0], b"550 /nothing.bin:No such file or directory.\r\n")
        self.assertEqual(c.command("RETR ../../etc/passwd"), b"550 /etc/passwd:No such file or directory.\r\n")

    def test_stor_appe_and_overwrite(self):
        c = self.session()
        opening, closing = self.stor(c, "up/../up.bin", b"first")
        self.assertEqual(opening, b"150 Opening BINARY mode data connection for up/../up.bin\r\n")
        self.assertEqual(closing, b"226 Transfer complete.\r\n")
        self.stor(c, "up.bin", b"+more", verb="APPE")
        self.assertEqual(open(os.path.join(self.home, "up.bin"), "rb").read(), b"first+more")
        self.stor(c, "up.bin", b"replaced")
        self.assertEqual(open(os.path.join(self.home, "up.bin"), "rb").read(), b"replaced")
        big = os.urandom(3 * 1024 * 1024 + 17)
        self.stor(c, "big.bin", big)
        self.assertEqual(self.retr(c, "big.bin")[1], big)

    def test_stor_onto_a_directory_or_a_missing_folder(self):
        os.makedirs(os.path.join(self.home, "adir"), exist_ok=True)
        c = self.session()
        data = passive_data(c)
        self.assertEqual(c.command("STOR adir"), b"550 Permission denied.\r\n")
        data.close()
        data = passive_data(c)
        self.assertEqual(c.command("STOR nofolder/x.bin"), b"550 /nofolder/x.bin:No such file or directory.\r\n")
        data.close()
        self.assertTrue(os.path.isdir(os.path.join(self.home, "adir")))

    def test_transfers_without_a_data_connection_answer_425(self):
        self.put("f425.txt", b"x")
        c = self.session()
        for command in ("RETR f425.txt", "STOR f425.txt", "APPE f425.txt", "LIST", "NLST"):
            self.assertEqual(c.command(command), b"425 Can't open data connection.\r\n", command)
        with open(os.path.join(self.home, "f425.txt"), "rb") as f:
            self.assertEqual(f.read(), b"x")

    def test_abor(self):
        c = self.session()
        self.assertEqual(c.command("ABOR"), b"426 Connection closed; Transfer aborted\r\n")
        data = passive_data(c)
        self.assertEqual(c.command("ABOR"), b"426 Connection closed; Transfer aborted\r\n")
        data.settimeout(5)
        self.assertEqual(data.recv(10), b"")
        self.assertEqual(c.command("LIST"), b"425 Can't open data connection.\r\n")

    def test_fifo_is_not_a_file(self):
        os.mkfifo(os.path.join(self.home, "pipe"))
        c = self.session()
        self.assertEqual(c.command("SIZE pipe"), b"550 /pipe:No such file or directory.\r\n")
        self.assertEqual(self.retr(c, "pipe")[0], b"550 /pipe:No such file or directory.\r\n")
        self.assertNotIn(b"pipe", self.list(c)[1])
        self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")

    def test_upload_broken_by_the_client_keeps_its_bytes(self):
        c = self.session()
        data = passive_data(c)
        self.assertTrue(c.command("STOR partial.bin").startswith(b"150"))
        data.sendall(b"k" * 100000)
        data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        data.close()  # reset instead of an orderly close
        self.assertEqual(c.reply(), b"426 Connection closed; Transfer aborted\r\n")
        self.assertEqual(os.path.getsize(os.path.join(self.home, "partial.bin")), 100000)


class Listing(FileCommandsBase):
    def test_list_words_and_line_format(self):
        self.put("lst/pub/inner.txt", b"abc")
        self.put("lst/file.txt", b"12345")
        os.makedirs(os.path.join(self.home, "lst", "sub"), exist_ok=True)
        c = self.session()
        c.command("CWD lst")
        opening, body, closing = self.list(c)
        self.assertEqual(opening, b"150 Opening ASCII mode data connection\r\n")
        self.assertEqual(closing, b"226 Transfer complete.\r\n")
        lines = body.split(b"\r\n")[:-1]
        names = [l.rsplit(b" ", 1)[1] for l in lines]
        self.assertEqual(sorted(names), sorted([b".", b"..", b"pub", b"sub", b"file.txt"]))
        kinds = [l[:1] for l in lines]
        self.assertEqual(kinds, sorted(kinds, key=lambda k: k != b"d"))  # directories first
        line = [l for l in lines if l.endswith(b"file.txt")][0]
        self.assertRegex(line, rb"^-rw-------   1 alice     alice            5 (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|"
                               rb"Oct|Nov|Dec) [ 1-3]\d [0-2]\d:[0-5]\d file\.txt$")
        for argument in ("-l", "-al"):
            self.assertEqual(sorted(self.list(c, argument)[1].split(b"\r\n")), sorted(body.split(b"\r\n")))
        for argument in ("pub", "-la pub", "-a -l pub"):
            self.assertTrue(self.list(c, argument)[1].endswith(b" inner.txt\r\n"), argument)
        self.assertEqual(self.list(c, "missing"), (opening, b"", closing))
        # Refused before any 150, and the data connection it would have used is gone.
        data = passive_data(c)
        self.assertEqual(c.command("LIST ../.."), b"550 /../..:No such file or directory.\r\n")
        self.assertEqual(recv_all(data), b"")
        data.close()
        self.assertEqual(c.command("RETR " + "file.txt"), b"425 Can't open data connection.\r\n")

    def test_nlst_sends_the_same_long_lines(self):
        self.put("nl/x.txt", b"x")
        c = self.session()
        data = passive_data(c)
        self.assertEqual(c.command("NLST nl"), b"150 Opening ASCII mode data connection\r\n")
        self.assertTrue(recv_all(data).endswith(b" x.txt\r\n"))
        data.close()
        self.assertEqual(c.reply(), b"226 Transfer complete.\r\n")

    def test_symlinks_are_followed_and_broken_ones_hidden(self):
        self.put("links/target.txt", b"t")
        os.symlink("target.txt", os.path.join(self.home, "links", "good"))
        os.symlink("nowhere", os.path.join(self.home, "links", "broken"))
        c = self.session()
        body = self.list(c, "links")[1]
        self.assertIn(b" good\r\n", body)
        self.assertNotIn(b"broken", body)


class DataConnections(FileCommandsBase):
    def test_pasv_reply_carries_the_address_the_client_used(self):
        c = self.session()
        reply = c.command("PASV")
        self.assertRegex(reply, rb"^227 Entering Passive Mode \(127,0,0,1,\d+,\d+\)\r\n$")
        numbers = reply[reply.index(b"(") + 1:reply.index(b")")].split(b",")
        socket.create_connection(("127.0.0.1", int(numbers[4]) * 256 + int(numbers[5]))).close()
        self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")

    def test_port_connects_back_to_the_client_only(self):
        c = self.session()
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        self.assertEqual(c.command("PORT 127,0,0,1,%d,%d" % (port // 256, port % 256)),
                         b"200 PORT Command successful.\r\n")
        conn, _ = listener.accept()
        self.put("active.txt", b"over PORT")
        c.send("RETR active.txt\r\n")
        self.assertTrue(c.reply().startswith(b"150 "))
        self.assertEqual(recv_all(conn), b"over PORT")
        self.assertEqual(c.reply(), b"226 Transfer complete.\r\n")
        conn.close()
        # No FTP bounce: another address is refused and nothing is connected.
        self.assertEqual(c.command("PORT 127,0,0,2,%d,%d" % (port // 256, port % 256)),
                         b"425 Can't open data connection.\r\n")
        listener.settimeout(0.5)
        self.assertRaises(socket.timeout, listener.accept)
        listener.close()
        for bad in ("1,2,3", "a,b,c,d,e,f", "127,0,0,1,999999999999,5", "-1,-1,-1,-1,-1,-1"):
            self.assertIn(c.command("PORT " + bad)[:3], (b"501", b"425"), bad)
        self.assertEqual(c.command("PORT 1,2,3"), b"501 Syntax error in parameters or arguments.\r\n")
        self.assertEqual(c.command("PORT"), b"501 Syntax error in parameters or arguments.\r\n")

    def test_port_to_a_closed_port_fails_quickly(self):
        c = self.session()
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        start = time.monotonic()
        self.assertEqual(c.command("PORT 127,0,0,1,%d,%d" % (port // 256, port % 256)),
                         b"425 Can't open data connection.\r\n")
        self.assertLess(time.monotonic() - start, 5)

    def test_pasv_ignores_a_connection_from_another_address(self):
        c = self.session()
        reply = c.command("PASV")
        numbers = reply[reply.index(b"(") + 1:reply.index(b")")].split(b",")
        port = int(numbers[4]) * 256 + int(numbers[5])
        thief = socket.socket()
        thief.bind(("127.0.0.2", 0))
        thief.connect(("127.0.0.1", port))
        thief.settimeout(5)
        self.assertEqual(thief.recv(1), b"")  # closed by the server
        thief.close()
        data = socket.create_connection(("127.0.0.1", port))
        self.put("stolen.txt", b"mine")
        c.send("RETR stolen.txt\r\n")
        self.assertTrue(c.reply().startswith(b"150"))
        self.assertEqual(recv_all(data), b"mine")
        self.assertEqual(c.reply(), b"226 Transfer complete.\r\n")

    def test_pasv_off_refuses_but_port_works(self):
        server = Server(pasvmode="no")
        try:
            with Control(server.ftp_port) as c:
                c.reply()
                c.login("anonymous", "x")
                self.assertEqual(c.command("PASV"), b"425 Can't open data connection.\r\n")
                listener = socket.socket()
                listener.bind(("127.0.0.1", 0))
                listener.listen(1)
                port = listener.getsockname()[1]
                self.assertEqual(c.command("PORT 127,0,0,1,%d,%d" % (port // 256, port % 256)),
                                 b"200 PORT Command successful.\r\n")
                listener.close()
        finally:
            server.cleanup()


class Hostile(FileCommandsBase):
    def test_paths_never_leave_the_home_directory(self):
        secret_dir = self.server.path("outside")
        os.makedirs(secret_dir, exist_ok=True)
        with open(os.path.join(secret_dir, "secret.txt"), "w") as f:
            f.write("secret")
        c = self.session()
        for path in ("../outside/secret.txt", "..\\outside\\secret.txt", "/../outside/secret.txt",
                     "a/../../outside/secret.txt", "\\..\\..\\outside/secret.txt", "./../outside/secret.txt"):
            self.assertEqual(c.command("SIZE " + path), b"550 /outside\\secret.txt:No such file or directory.\r\n")
            self.assertTrue(self.retr(c, path)[0].startswith(b"550 /outside/secret.txt"), path)
        # Encoded dots are plain names; absolute paths are inside the home.
        self.assertTrue(c.command("SIZE %2e%2e/outside/secret.txt").startswith(b"550 /%2e%2e"))
        self.assertTrue(c.command("SIZE " + secret_dir + "/secret.txt").startswith(b"550 /"))
        c.send(b"SIZE ../\x00/outside\r\n")
        self.assertTrue(c.reply().startswith(b"550 "))
        self.assertEqual(c.command("MKD " + "n" * 300), b"550 Permission denied.\r\n")
        self.assertEqual(c.command("MKD " + "d/" * 2040), b"550 No such file or directory\r\n")

    def test_rnto_never_overwrites_under_a_race(self):
        for round_ in range(20):
            self.put("race/src%d" % round_, b"source")
        c = self.session()
        c2 = self.session()
        for round_ in range(20):
            c.command("RNFR race/src%d" % round_)
            target = os.path.join(self.home, "race", "dst%d" % round_)
            creator = threading.Thread(target=lambda: self.stor(c2, "race/dst%d" % round_, b"other"))
            creator.start()
            answer = c.command("RNTO race/dst%d" % round_)
            creator.join(10)
            source = os.path.join(self.home, "race", "src%d" % round_)
            if answer == b"250 RNTO command successful.\r\n":
                self.assertFalse(os.path.exists(source))
            else:
                # The upload won: the rename replaced nothing and the source is intact.
                self.assertIn(answer, (b"550 RNTO command failed.5\r\n", b"550 RNTO command failed.4\r\n"))
                with open(source, "rb") as f:
                    self.assertEqual(f.read(), b"source")
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), b"other")

    def test_two_simultaneous_uploads_into_one_file_never_interleave(self):
        c1 = self.session()
        c2 = self.session()
        d1 = passive_data(c1)
        self.assertTrue(c1.command("STOR shared.bin").startswith(b"150"))
        d1.sendall(b"1" * 50000)
        d2 = passive_data(c2)
        start = time.monotonic()
        self.assertEqual(c2.command("STOR shared.bin", timeout=30), b"550 Permission denied.\r\n")
        self.assertLess(time.monotonic() - start, 10)
        d2.close()
        d1.sendall(b"1" * 50000)
        d1.close()
        self.assertEqual(c1.reply(), b"226 Transfer complete.\r\n")
        self.assertEqual(open(os.path.join(self.home, "shared.bin"), "rb").read(), b"1" * 100000)

    def test_rmd_of_the_home_while_another_session_works_in_it(self):
        server = Server(start=False)
        try:
            home = server.path("victim")
            os.makedirs(home)
            server.write("ftpusers.xml", users_document(user_element("v", digest("pw"), home, privilege=FULL)))
            server.start()
            a, b = Control(server.ftp_port), Control(server.ftp_port)
            for c in (a, b):
                c.reply()
                c.login("v", "pw")
            self.assertEqual(a.command("RMD /"), b"250 command ok \r\n")
            self.assertFalse(os.path.exists(home))
            self.assertEqual(b.command("PWD"), b'257 "//" is current directory.\r\n')
            self.assertEqual(b.command("SIZE x"), b"550 /x:No such file or directory.\r\n")
            self.assertEqual(b.command("MKD x"), b"550 Permission denied.\r\n")
            a.close()
            b.close()
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
