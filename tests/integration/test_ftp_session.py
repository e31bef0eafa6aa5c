"""The FTP control session against the real server: admission, greeting, login,
session commands and hostile input."""
import os
import re
import socket
import threading
import time
import unittest

from harness import (Control, Server, digest, greeting_of, settings_document, user_element,
                     users_document, wait_until)

BANNER = b"CorvelFtp Server powered by Tessaly"


class GreetingAndDefaults(unittest.TestCase):
    def test_first_start_writes_default_files_and_anonymous_home(self):
        server = Server()
        try:
            self.assertTrue(os.path.isdir(server.path("anonymous")))
            users = server.read("ftpusers.xml").decode()
            self.assertIn('username="anonymous"', users)
            self.assertIn('privilege="131074"', users)
            self.assertIn('work_dir="%s"' % server.path("anonymous"), users)
            self.assertIn('type="REJECT"', server.read("ftpaccess.xml").decode())
            with Control(server.ftp_port) as c:
                c.reply()
                self.assertTrue(c.login("anonymous", "whatever").endswith(b"230 anonymous logged in.\r\n"))
        finally:
            server.cleanup()

    def test_missing_settings_file_is_written_with_defaults(self):
        server = Server(settings=False, start=False)
        try:
            server.start(wait=False)
            self.assertTrue(wait_until(lambda: os.path.exists(server.path("ftpconfig.xml")), timeout=10))
            text = server.read("ftpconfig.xml").decode()
            for fragment in ("<ftpport>21</ftpport>", "<httpport>8080</httpport>", "<maxconn>32</maxconn>",
                             "<pasvmode>yes</pasvmode>", "<welcomemsg>Welcome to my ftp server</welcomemsg>"):
                self.assertIn(fragment, text)
        finally:
            server.cleanup()

    def test_greeting_with_and_without_welcome_text(self):
        server = Server(welcomemsg="Hello there")
        try:
            self.assertEqual(greeting_of(server.ftp_port),
                             b"220- " + BANNER + b"\r\n220- Hello there\r\n220 \r\n")
        finally:
            server.cleanup()
        server = Server(welcomemsg="")
        try:
            self.assertEqual(greeting_of(server.ftp_port), b"220 " + BANNER + b"\r\n")
        finally:
            server.cleanup()


class LoginAndSessionCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(welcomemsg="")
        home = cls.server.path("alicehome")
        os.makedirs(home)
        cls.server.write("ftpusers.xml", users_document(
            user_element("alice", digest("secret"), home, welcome="Hi Alice"),
            user_element("alice", digest("other"), "/nonexistent", welcome="second"),
            user_element("bob", digest("pw"), home, disabled="yes"),
            user_element("anonymous", "anonymous", cls.server.path("anonymous"))))
        cls.server.stop()
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def session(self):
        c = Control(self.server.ftp_port)
        c.reply()
        return c

    def test_login_replies_byte_for_byte(self):
        with self.session() as c:
            self.assertEqual(c.command("USER alice"), b"331 User name okay, need password.\r\n")
            reply = c.command("PASS secret")
            self.assertRegex(reply, rb"\A230- Hi Alice\r\n230- Service has run for \d+h-\d+m-\d+s\r\n"
                                    rb"230 alice logged in\.\r\n\Z")
            # Duplicate names: the second password logs in, lookups come from the first.
            self.assertEqual(c.command("USER alice"), b"331 User name okay, need password.\r\n")
            self.assertTrue(c.command("PASS other").startswith(b"230- Hi Alice\r\n"))

    def test_anonymous_without_welcome_still_gets_the_first_line(self):
        with self.session() as c:
            c.command("USER anonymous")
            self.assertTrue(c.command("PASS ").startswith(b"230- \r\n230- Service has run for "))

    def test_wrong_disabled_and_unknown_logins_are_refused(self):
        with self.session() as c:
            for user, password in (("alice", "wrong"), ("bob", "pw"), ("nobody", "x"), ("Anonymous", "x")):
                c.command("USER " + user)
                self.assertEqual(c.command("PASS " + password), b"530 Login incorrect.\r\n")
            self.assertEqual(c.command("PASS secret"), b"530 Login incorrect.\r\n")  # user is still Anonymous

    def test_pass_without_user_fails_and_commands_need_login(self):
        with self.session() as c:
            self.assertEqual(c.command("PASS secret"), b"530 Login incorrect.\r\n")
            self.assertEqual(c.command("STAT"), b"530 Not logged in.\r\n")
            self.assertEqual(c.command("PWD"), b"530 Not logged in.\r\n")

    def test_user_after_login_requires_pass_again(self):
        with self.session() as c:
            c.login("alice", "secret")
            self.assertEqual(c.command("USER alice"), b"331 User name okay, need password.\r\n")
            self.assertEqual(c.command("STAT"), b"530 Not logged in.\r\n")

    def test_small_commands(self):
        with self.session() as c:
            self.assertEqual(c.command("SYST"), b"215 UNIX Type: L8\r\n")
            self.assertEqual(c.command("noop"), b"200 Command okay\r\n")
            self.assertEqual(c.command("NoOp \t "), b"200 Command okay\r\n")
            self.assertEqual(c.command("HELP me"), b"214 help info\r\n")
            self.assertEqual(c.command("TYPE A"), b"220 Type set to A\r\n")
            self.assertEqual(c.command("type i"), b"220 Type set to I\r\n")
            self.assertEqual(c.command("TYPE a"), b"220 Type set to A\r\n")
            self.assertEqual(c.command("TYPE A N"), b"504 Command not implemented for that parameter.\r\n")
            self.assertEqual(c.command("TYPE"), b"504 Command not implemented for that parameter.\r\n")
            c.login("alice", "secret")
            self.assertEqual(c.command("STAT x"),
                             b"211- Status for user alice from 127.0.0.1\r\n211 End of status.\r\n")
            self.assertEqual(c.command("QUIT"), b"221 bye\r\n")
            self.assertEqual(c.read_all_until_closed(), b"")

    def test_unknown_verbs_missing_arguments_and_long_lines(self):
        with self.session() as c:
            self.assertEqual(c.command("FEAT"), b'500 "FEAT" :command not understood\r\n')
            self.assertEqual(c.command("  NOOP"), b'500 "" :command not understood\r\n')
            self.assertEqual(c.command(""), b'500 "" :command not understood\r\n')
            self.assertEqual(c.command("SIZE"), b"501 Syntax error in parameters or arguments.\r\n")
            self.assertEqual(c.command("SIZE   "), b"501 Syntax error in parameters or arguments.\r\n")
            # 4093 characters plus LF is still a command line.
            self.assertEqual(c.command("X" * 4092), b'500 "' + b"X" * 4092 + b'" :command not understood\r\n')
            c.send("NOOP" + "x" * 4089 + "\n")
            self.assertEqual(c.reply(), b'500 "NOOP' + b"x" * 4089 + b'" :command not understood\r\n')
            c.send("ABCD " + "y" * 5000 + "\r\n")
            self.assertEqual(c.reply(), b'500 "ABCD..." :command is too long\r\n')
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")

    def test_rein_greets_again_and_forgets_the_login(self):
        with self.session() as c:
            c.login("alice", "secret")
            self.assertEqual(c.command("REIN"), b"220 " + BANNER + b"\r\n")
            self.assertEqual(c.command("STAT"), b"530 Not logged in.\r\n")
            self.assertTrue(c.login("alice", "secret").endswith(b"230 alice logged in.\r\n"))

    def test_tenth_failed_password_closes_even_after_a_success(self):
        with self.session() as c:
            for _ in range(5):
                c.command("USER alice")
                self.assertEqual(c.command("PASS bad"), b"530 Login incorrect.\r\n")
            c.login("alice", "secret")
            for _ in range(4):
                self.assertEqual(c.command("PASS bad"), b"530 Login incorrect.\r\n")
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")
            c.send("PASS bad\r\n")
            self.assertEqual(c.read_all_until_closed(), b"530 Login incorrect.\r\n")

    def test_rein_resets_the_failure_count(self):
        with self.session() as c:
            for _ in range(9):
                c.command("PASS bad")
            c.command("REIN")
            for _ in range(9):
                self.assertEqual(c.command("PASS bad"), b"530 Login incorrect.\r\n")
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")


class Admission(unittest.TestCase):
    def test_maxconn_two_admits_a_third_and_refuses_a_fourth(self):
        server = Server(maxconn=2, welcomemsg="")
        try:
            sessions = []
            for _ in range(3):
                c = Control(server.ftp_port)
                self.assertEqual(c.reply(), b"220 " + BANNER + b"\r\n")
                sessions.append(c)
            with Control(server.ftp_port) as fourth:
                self.assertEqual(fourth.read_all_until_closed(), b"550 Too Many Connection\r\n")
            sessions.pop().close()
            # The freed place is taken by the next client once the session ended.
            def admitted():
                with Control(server.ftp_port) as c:
                    return c.reply().startswith(b"220 ")
            self.assertTrue(wait_until(admitted, timeout=5))
            for c in sessions:
                c.close()
        finally:
            server.cleanup()

    def test_reject_list_closes_without_a_byte(self):
        policy = '<access><iptable type="REJECT"><ip value="127.0.0.*" /></iptable></access>'
        server = Server(files={"ftpaccess.xml": policy})
        try:
            with Control(server.ftp_port) as c:
                self.assertEqual(c.read_all_until_closed(), b"")
        finally:
            server.cleanup()

    def test_permit_list_admits_only_listed_addresses(self):
        permit_other = '<access><iptable type="PASS"><ip value="10.0.0.?" /></iptable></access>'
        server = Server(files={"ftpaccess.xml": permit_other})
        try:
            with Control(server.ftp_port) as c:
                self.assertEqual(c.read_all_until_closed(), b"")
        finally:
            server.cleanup()
        permit_local = '<access><iptable type="PASS"><ip value="127.0.0.1" /></iptable></access>'
        server = Server(files={"ftpaccess.xml": permit_local})
        try:
            self.assertTrue(greeting_of(server.ftp_port).startswith(b"220"))
        finally:
            server.cleanup()

    def test_malformed_users_file_is_kept_aside_and_default_account_works(self):
        server = Server(files={"ftpusers.xml": "<users><user username='x'"}, start=False)
        try:
            server.start()
            self.assertEqual(server.read("ftpusers.xml.broken"), b"<users><user username='x'")
            with Control(server.ftp_port) as c:
                c.reply()
                self.assertTrue(c.login("anonymous", "a@b").endswith(b"230 anonymous logged in.\r\n"))
        finally:
            server.cleanup()


class HostileInput(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(welcomemsg="", maxconn=1000)

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def assert_still_serving(self):
        with Control(self.server.ftp_port) as c:
            c.reply()
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")

    def test_nul_bytes_and_binary_garbage(self):
        with Control(self.server.ftp_port) as c:
            c.reply()
            c.send(b"NO\x00OP\r\n")
            self.assertEqual(c.reply(), b'500 "NO" :command not understood\r\n')
            c.send(bytes(range(256)).replace(b"\n", b"") + b"\n")
            self.assertTrue(c.reply().startswith(b'500 "'))
            c.send(b"\xff\xfe\xfd USER \x00\x01\r\n")
            self.assertTrue(c.reply().startswith(b"500 "))
            self.assertEqual(c.command("NOOP"), b"200 Command okay\r\n")
        self.assert_still_serving()

    def test_lines_without_cr_and_megabyte_lines(self):
        with Control(self.server.ftp_port) as c:
            c.reply()
            c.send(b"NOOP\nNOOP\n")
            self.assertEqual(c.reply(), b"200 Command okay\r\n")
            self.assertEqual(c.reply(), b"200 Command okay\r\n")
            c.send(b"A" * (1 << 20) + b"\r\nNOOP\r\n")
            self.assertEqual(c.reply(timeout=30), b'500 "' + b"A" * 4094 + b'..." :command is too long\r\n')
            self.assertEqual(c.reply(), b"200 Command okay\r\n")
        self.assert_still_serving()

    def test_client_closing_mid_line_and_without_reading(self):
        for _ in range(20):
            s = socket.create_connection(("127.0.0.1", self.server.ftp_port))
            s.sendall(b"USER half")
            s.close()
        self.assert_still_serving()

    def test_three_hundred_clients_at_once_are_all_greeted(self):
        results = []
        lock = threading.Lock()

        def client():
            try:
                with Control(self.server.ftp_port, timeout=20) as c:
                    ok = c.reply(timeout=20).startswith(b"220 ")
            except OSError:
                ok = False
            with lock:
                results.append(ok)

        threads = [threading.Thread(target=client) for _ in range(300)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(len(results), 300)
        self.assertTrue(all(results), "%d of 300 not greeted" % results.count(False))
        self.assert_still_serving()


if __name__ == "__main__":
    unittest.main()
