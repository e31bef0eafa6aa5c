"""The <ftpext> commands against the real server and stock clients: FEAT and OPTS
byte for byte, MDTM/MFMT, MLST/MLSD facts (ftplib), names-only NLST (ftplib, curl),
LIST and NLST taking one path after their options, ls dates with the year, lftp
mirror and wget -r -N keeping file dates, MLSD over protected data connections, and
every one of them absent (the replies of the 32 verbs alone) while <ftpext> is not on."""
import calendar
import ftplib
import os
import stat
import subprocess
import threading
import time
import unittest

from harness import Control, Server, digest, fetch, passive_data, recv_all, user_element, users_document

FULL = 0x7001F
READER = 0x20002  # List and Read File
LISTER = 0x20000  # List only

OLD = calendar.timegm((2019, 5, 6, 7, 8, 9))  # 2019-05-06 07:08:09 UTC
FEATURES = (b"211-Features:\r\n EPRT\r\n EPSV\r\n MDTM\r\n MFMT\r\n"
            b" MLST type*;size*;modify*;perm*;unix.mode*;\r\n REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n211 End\r\n")


def extensions_server(ftpext="<ftpext>yes</ftpext>", extra=""):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(home)
    server.write("ftpusers.xml", users_document(
        user_element("u", digest("pw"), home, privilege=FULL),
        user_element("reader", digest("pw"), home, privilege=READER),
        user_element("lister", digest("pw"), home, privilege=LISTER)))
    server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                 "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg>%s%s</config>"
                 % (server.ftp_port, server.web_port, ftpext, extra))
    server.start()
    return server, home


def make_file(path, data=b"0123456789", mtime=None, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
    if mtime is not None:
        os.utime(path, (mtime, mtime))


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def utc_text(seconds):
    return time.strftime("%Y%m%d%H%M%S", time.gmtime(seconds))


def mtimes(root):
    result = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            result[os.path.relpath(path, root)] = int(os.stat(path).st_mtime)
    return result


class ExtensionsOn(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = extensions_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def control(self, user="u"):
        c = Control(self.server.ftp_port)
        c.reply()
        if user:
            self.assertTrue(c.login(user, "pw").startswith(b"230"))
        return c

    def ftp(self, user="u"):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.ftp_port, timeout=30)
        ftp.login(user, "pw")
        self.addCleanup(ftp.close)
        return ftp

    def test_feat_lists_every_extension_and_opts_utf8_turns_on(self):
        with self.control(user=None) as c:
            self.assertEqual(c.command("FEAT"), FEATURES)  # before login as well
            for line in ("OPTS UTF8 ON", "OPTS utf8 on", "opts Utf8   On"):
                self.assertEqual(c.command(line), b"200 UTF8 set to on\r\n", line)
            self.assertEqual(c.command("OPTS UTF8 OFF"), b"504 Command not implemented for that parameter.\r\n")
            self.assertEqual(c.command("OPTS UTF8"), b"504 Command not implemented for that parameter.\r\n")
            self.assertEqual(c.command("OPTS MLST type;size;"), b"501 Option not understood.\r\n")
            self.assertEqual(c.command("OPTS"), b"501 Syntax error in parameters or arguments.\r\n")
            self.assertEqual(c.command("MDTM x"), b"530 Not logged in.\r\n")
            self.assertEqual(c.command("MLSD"), b"530 Not logged in.\r\n")
            c.login("u", "pw")
            self.assertEqual(c.command("FEAT"), FEATURES)

    def test_mdtm_and_mfmt_round_trip_and_refuse_what_they_must(self):
        folder = os.path.join(self.home, "times")
        target = os.path.join(folder, "a b.txt")
        make_file(target)
        os.makedirs(os.path.join(folder, "dir"), exist_ok=True)
        with self.control() as c:
            self.assertEqual(c.command("MFMT 20190506070809 times/a b.txt"),
                             b"213 Modify=20190506070809; times/a b.txt\r\n")
            self.assertEqual(os.stat(target).st_mtime, OLD)
            self.assertEqual(c.command("MDTM times/a b.txt"), b"213 20190506070809\r\n")
            # A fraction is accepted and dropped; times before 1970 work as well.
            self.assertEqual(c.command("MFMT 19600229235959.75 /times/a b.txt"),
                             b"213 Modify=19600229235959; /times/a b.txt\r\n")
            self.assertEqual(c.command("MDTM /times/a b.txt"), b"213 19600229235959\r\n")
            self.assertEqual(os.stat(target).st_mtime, calendar.timegm((1960, 2, 29, 23, 59, 59)))
            for line, expected in (
                    ("MDTM times/missing", b"550 /times/missing:No such file or directory.\r\n"),
                    ("MDTM times/dir", b"550 /times/dir:Not a plain file.\r\n"),
                    ("MDTM ../../etc/passwd", b"550 /etc/passwd:No such file or directory.\r\n"),
                    ("MFMT 20190506070809 times/dir", b"550 /times/dir:Not a plain file.\r\n"),
                    ("MFMT 20190506070809 times/missing", b"550 /times/missing:No such file or directory.\r\n"),
                    ("MFMT 20190230000000 times/a b.txt", b"501 The time must be YYYYMMDDHHMMSS (UTC).\r\n"),
                    ("MFMT 2019 times/a b.txt", b"501 The time must be YYYYMMDDHHMMSS (UTC).\r\n"),
                    ("MFMT 20190506070809", b"501 Syntax error in parameters or arguments.\r\n"),
                    ("MDTM", b"501 Syntax error in parameters or arguments.\r\n")):
                self.assertEqual(c.command(line), expected, line)
            self.assertFalse(os.path.exists(os.path.join(self.home, "..", "etc")))
        # MFMT needs Write File, MDTM Read File, as STOR and SIZE do.
        before = os.stat(target).st_mtime
        with self.control("reader") as c:
            self.assertEqual(c.command("MFMT 20200101000000 times/a b.txt"), b"550 Permission denied.\r\n")
            self.assertEqual(c.command("MDTM times/a b.txt"), b"213 19600229235959\r\n")
        with self.control("lister") as c:
            self.assertEqual(c.command("MDTM times/a b.txt"), b"550 Permission denied.\r\n")
        self.assertEqual(os.stat(target).st_mtime, before)

    def test_mlst_and_mlsd_give_the_facts_of_the_file_system_and_the_account(self):
        folder = os.path.join(self.home, "facts")
        make_file(os.path.join(folder, "a b.txt"), b"x" * 1234, OLD, 0o640)
        os.makedirs(os.path.join(folder, "sub"), exist_ok=True)
        os.chmod(os.path.join(folder, "sub"), 0o2750)
        os.utime(os.path.join(folder, "sub"), (OLD + 60, OLD + 60))
        os.symlink("a b.txt", os.path.join(folder, "link"))
        os.mkfifo(os.path.join(folder, "fifo"))
        os.symlink("gone", os.path.join(folder, "broken"))
        ftp = self.ftp("reader")
        entries = dict(ftp.mlsd("facts"))
        self.assertEqual(sorted(entries), [".", "a b.txt", "link", "sub"])  # no "..", FIFO or broken link
        self.assertEqual(entries["a b.txt"], {"type": "file", "size": "1234", "modify": "20190506070809",
                                              "perm": "r", "unix.mode": "0640"})
        self.assertEqual(entries["link"], entries["a b.txt"])  # links are followed
        self.assertEqual(entries["sub"], {"type": "dir", "modify": "20190506070909", "perm": "el",
                                          "unix.mode": "2750"})
        self.assertEqual(entries["."]["type"], "cdir")
        self.assertEqual(entries["."]["unix.mode"], "%04o" % stat.S_IMODE(os.stat(folder).st_mode))
        self.assertEqual(entries["."]["modify"], utc_text(os.stat(folder).st_mtime))
        full = dict(self.ftp("u").mlsd("/facts"))
        self.assertEqual((full["a b.txt"]["perm"], full["sub"]["perm"]), ("adfrw", "cdeflmp"))

        with self.control("reader") as c:
            self.assertEqual(c.command("MLST facts/a b.txt"),
                             b"250-Listing facts/a b.txt\r\n"
                             b" type=file;size=1234;modify=20190506070809;perm=r;unix.mode=0640; facts/a b.txt\r\n"
                             b"250 End\r\n")
            c.command("CWD facts/sub")
            reply = c.command("MLST")
            self.assertTrue(reply.startswith(b"250-Listing /facts/sub\r\n type=dir;modify=20190506070909;perm=el;"
                                             b"unix.mode=2750; /facts/sub\r\n250 End\r\n"), reply)
            self.assertEqual(c.command("MLST ../fifo"), b"550 /facts/fifo:No such file or directory.\r\n")
            self.assertEqual(c.command("MLST /../x"), b"550 /x:No such file or directory.\r\n")
            # MLSD: a data connection first, a directory only, the paths of LIST.
            self.assertEqual(c.command("MLSD"), b"425 Can't open data connection.\r\n")
            for argument, expected in (("../a b.txt", b"550 /facts/a b.txt:No such directory.\r\n"),
                                       ("../missing", b"550 /facts/missing:No such directory.\r\n"),
                                       ("../../../..", b"550 /../../../..:No such file or directory.\r\n")):
                data = passive_data(c)
                self.assertEqual(c.command("MLSD " + argument), expected, argument)
                self.assertEqual(recv_all(data), b"")  # closed unused
                data.close()
            opening, body, closing = fetch(c, "MLSD")
            self.assertEqual((opening, closing), (b"150 Opening ASCII mode data connection\r\n",
                                                  b"226 Transfer complete.\r\n"))
            self.assertTrue(body.startswith(b"type=cdir;") and body.endswith(b"; .\r\n"), body)
        with self.control("u") as c:
            self.assertEqual(c.command("MLSD /facts"), b"425 Can't open data connection.\r\n")
        ftp = self.ftp("lister")
        self.assertEqual(dict(ftp.mlsd("facts"))["a b.txt"]["perm"], "")

    def test_nlst_and_list_take_one_path_after_their_options(self):
        folder = os.path.join(self.home, "names")
        now = int(time.time())
        make_file(os.path.join(folder, "sub dir", "recent.txt"), mtime=now - 3600)
        make_file(os.path.join(folder, "sub dir", "old.txt"), mtime=OLD)
        make_file(os.path.join(folder, "sub dir", "future.txt"), mtime=now + 86400 * 60)
        os.makedirs(os.path.join(folder, "sub dir", "inner"), exist_ok=True)
        make_file(os.path.join(folder, "top.txt"))
        ftp = self.ftp()
        self.assertEqual(sorted(ftp.nlst("names")), ["sub dir", "top.txt"])
        ftp.cwd("names")
        self.assertEqual(sorted(ftp.nlst()), ["sub dir", "top.txt"])
        expected = ["future.txt", "inner", "old.txt", "recent.txt"]
        self.assertEqual(sorted(ftp.nlst("sub dir")), expected)
        self.assertEqual(sorted(ftp.nlst("-a sub dir")), expected)
        for argument in ("sub dir", "-la sub dir", "-l -a  sub dir"):
            lines = []
            ftp.retrlines("LIST " + argument, lines.append)
            self.assertEqual(sorted(line.split(None, 8)[8] for line in lines),
                             [".", "..", "future.txt", "inner", "old.txt", "recent.txt"], argument)
        by_name = {line.split(None, 8)[8]: line for line in lines}
        # ls dates: the time within the last six months, else the year.
        self.assertIn(time.strftime(" %b %e %H:%M recent.txt", time.localtime(now - 3600)), by_name["recent.txt"])
        self.assertIn(time.strftime(" %b %e  %Y old.txt", time.localtime(OLD)), by_name["old.txt"])
        self.assertIn(time.strftime(" %b %e  %Y future.txt", time.localtime(now + 86400 * 60)),
                      by_name["future.txt"])
        self.assertTrue(by_name["old.txt"].startswith("-rw-------   1 u     u           10 "))
        with self.control() as c:
            opening, body, closing = fetch(c, "NLST names/sub dir")
            self.assertEqual(sorted(body.split(b"\r\n")), [b"", b"future.txt", b"inner", b"old.txt", b"recent.txt"])
            self.assertTrue(body.endswith(b"\r\n"))
            self.assertEqual(c.command("NLST"), b"425 Can't open data connection.\r\n")
            data = passive_data(c)
            self.assertEqual(c.command("LIST -l ../../x y"), b"550 /x y../../x y:No such file or directory.\r\n")
            data.close()
        got = subprocess.run(["curl", "-sS", "--max-time", "30", "-l",
                              "ftp://u:pw@127.0.0.1:%d/names/sub%%20dir/" % self.server.ftp_port],
                             capture_output=True, timeout=60)
        self.assertEqual(got.returncode, 0, got.stderr)
        self.assertEqual(sorted(got.stdout.split()), [b"future.txt", b"inner", b"old.txt", b"recent.txt"])

    def test_a_huge_folder_is_listed_whole_in_every_form_with_bounded_memory(self):
        server, home = extensions_server()
        self.addCleanup(server.cleanup)
        folder = os.path.join(home, "huge")
        os.makedirs(folder)
        entries = 60000
        names = ["entry-with-a-long-name-%06d.txt" % i for i in range(entries)]
        for name in names:
            os.close(os.open(os.path.join(folder, name), os.O_CREAT | os.O_WRONLY))
        baseline = peak_rss_kib(server.pid())
        bodies = {}

        def listing(command):
            with Control(server.ftp_port, timeout=60) as c:
                c.reply()
                c.login("u", "pw")
                bodies[command] = fetch(c, command)[1]
        threads = [threading.Thread(target=listing, args=(command,)) for command in ("MLSD huge", "NLST huge",
                                                                                      "LIST -l huge")]
        for t in threads:
            t.start()
        for t in threads:
            t.join(180)
        self.assertEqual(sorted(bodies["NLST huge"].split(b"\r\n")[:-1]), [n.encode() for n in names])
        lines = bodies["MLSD huge"].split(b"\r\n")[:-1]
        self.assertEqual(len(lines), entries + 1)  # and the cdir line
        self.assertTrue(all(line.startswith(b"type=") for line in lines))
        self.assertEqual(bodies["LIST -l huge"].count(b"\r\n"), entries + 2)  # "." and ".."
        if server.sanitized():
            return  # the sanitizer's own bookkeeping grows with every allocation
        grown = peak_rss_kib(server.pid()) - baseline
        # Held whole, the MLSD listing alone would take some 6 MiB and LIST's 5; streamed,
        # the three take a few hundred KiB.
        self.assertLess(grown, 3 * 1024, "peak memory grew by %d KiB" % grown)

    def test_lftp_mirror_keeps_file_dates_both_ways(self):
        source = self.server.path("lftp-source")
        recent = int(time.time()) - 3 * 86400 + 17
        make_file(os.path.join(source, "old.txt"), b"old", OLD)
        make_file(os.path.join(source, "sub dir", "recent.txt"), b"recent", recent)
        make_file(os.path.join(source, "sub dir", "deep", "x.bin"), os.urandom(70000), OLD + 12345)
        expected = mtimes(source)
        down = self.server.path("lftp-down")
        script = ("set net:max-retries 1; set net:timeout 20; set cmd:fail-exit yes; "
                  "mirror -R --no-perms %s mirrored; mirror --no-perms mirrored %s; bye" % (source, down))
        r = subprocess.run(["lftp", "-u", "u,pw", "-p", str(self.server.ftp_port), "-e", script, "127.0.0.1"],
                           capture_output=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assertEqual(mtimes(os.path.join(self.home, "mirrored")), expected)  # set by MFMT
        self.assertEqual(mtimes(down), expected)                                  # read from MLSD

    def test_wget_recursive_timestamping_keeps_file_dates(self):
        folder = os.path.join(self.home, "wtree")
        # LIST tells a recent time to the minute and an old one to the day, in local time.
        recent = (int(time.time()) - 2 * 86400) // 60 * 60
        make_file(os.path.join(folder, "sub dir", "recent.txt"), b"recent", recent)
        make_file(os.path.join(folder, "old.txt"), b"old", OLD)
        dest = self.server.path("wget-dest")
        url = "ftp://u:pw@127.0.0.1:%d/wtree/" % self.server.ftp_port
        command = ["wget", "-r", "-N", "-nH", "-P", dest, "--timeout=20", "--tries=1", url]
        first = subprocess.run(command, capture_output=True, timeout=120)
        self.assertEqual(first.returncode, 0, first.stderr[-2000:])
        got = mtimes(os.path.join(dest, "wtree"))
        self.assertEqual(got["sub dir/recent.txt"], recent)
        old_day = time.localtime(OLD)
        self.assertEqual(got["old.txt"], int(time.mktime((old_day.tm_year, old_day.tm_mon, old_day.tm_mday,
                                                           0, 0, 0, 0, 0, -1))))
        # -N again: nothing is newer, so nothing is fetched.
        second = subprocess.run(command, capture_output=True, timeout=120)
        self.assertEqual(second.returncode, 0, second.stderr[-2000:])
        self.assertNotIn(b"RETR", second.stderr)
        self.assertEqual(mtimes(os.path.join(dest, "wtree")), got)


class ExtensionsOverTls(unittest.TestCase):
    """MLSD and NLST go through the same data protection as every transfer."""

    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = extensions_server(extra="<tls>required</tls><tlsreuse>no</tlsreuse>")
        make_file(os.path.join(cls.home, "a.txt"), mtime=OLD)

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_listings_need_and_use_protected_data_connections(self):
        import ssl
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        ftp = ftplib.FTP_TLS(context=context)
        ftp.connect("127.0.0.1", self.server.ftp_port, timeout=30)
        self.addCleanup(ftp.close)
        ftp.login("u", "pw")
        features = ftp.sendcmd("FEAT")
        self.assertTrue(features.startswith("211-Features:\n AUTH TLS\n PBSZ\n PROT\n EPRT\n"), features)
        with self.assertRaises(ftplib.error_perm) as refused:
            list(ftp.mlsd())
        self.assertTrue(str(refused.exception).startswith("521 "))
        ftp.prot_p()
        self.assertEqual(dict(ftp.mlsd())["a.txt"]["modify"], "20190506070809")
        self.assertEqual(ftp.nlst(), ["a.txt"])


class ExtensionsOff(unittest.TestCase):
    """Without <ftpext> (absent or "no") every reply is the one of the 32 verbs alone."""

    def test_extension_verbs_are_not_understood_and_listings_keep_their_word_rule(self):
        for element in ("", "<ftpext>no</ftpext>"):
            with self.subTest(element=element):
                server, home = extensions_server(ftpext=element)
                self.addCleanup(server.cleanup)
                make_file(os.path.join(home, "sub dir", "a.txt"))
                make_file(os.path.join(home, "dir", "b.txt"))
                with Control(server.ftp_port) as c:
                    c.reply()
                    self.assertEqual(c.command("FEAT"), b'500 "FEAT" :command not understood\r\n')
                    self.assertEqual(c.command("OPTS UTF8 ON"), b'500 "OPTS" :command not understood\r\n')
                    c.login("u", "pw")
                    for verb in ("MLSD", "MLST", "MDTM", "MFMT", "EPSV", "EPRT"):
                        self.assertEqual(c.command(verb + " a.txt"),
                                         ('500 "%s" :command not understood\r\n' % verb).encode())
                    _, body, _ = fetch(c, "NLST sub dir")
                    # The word rule of LIST without the extension: the third word ("dir") is the path.
                    self.assertIn(b"-rw-------   1 u     u           10 ", body)
                    self.assertTrue(body.endswith(b" b.txt\r\n"), body)
                    _, body, _ = fetch(c, "LIST -la")
                    self.assertIn(b" sub dir\r\n", body)


if __name__ == "__main__":
    unittest.main()
