"""The <ftpext> commands against the real server and stock clients: FEAT and OPTS
byte for byte, MDTM/MFMT, MLST/MLSD facts (ftplib), names-only NLST (ftplib, curl),
one path after LIST's options, ls dates, lftp mirror and wget -N keeping dates,
listings streamed and protected, and all of it absent while <ftpext> is not on."""
import calendar
import ftplib
import os
import ssl
import subprocess
import threading
import time
import unittest

from harness import (Control, Server, SessionHelpers, digest, fetch, passive_data, recv_all, user_element,
                     users_document)

OLD = calendar.timegm((2019, 5, 6, 7, 8, 9))
FEATURES = (b"211-Features:\r\n EPRT\r\n EPSV\r\n MDTM\r\n MFMT\r\n"
            b" MLST type*;size*;modify*;perm*;unix.mode*;\r\n REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n211 End\r\n")
DENIED = b"550 Permission denied.\r\n"


def extensions_server(ftpext="<ftpext>yes</ftpext>", extra=""):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(home)
    accounts = (("u", 0x7001F), ("reader", 0x20002), ("blind", 0x2))  # all; List + Read File; Read File
    server.write("ftpusers.xml", users_document(*(user_element(name, digest("pw"), home, privilege=bits)
                                                  for name, bits in accounts)))
    server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>"
                 "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg>%s%s</config>"
                 % (server.ftp_port, server.web_port, ftpext, extra))
    server.start()
    return server, home


def make_file(path, data=b"0123456789", mtime=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))


def mtimes(root):
    return {os.path.relpath(os.path.join(folder, name), root): int(os.stat(os.path.join(folder, name)).st_mtime)
            for folder, _, files in os.walk(root) for name in files}


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


class ExtensionsOn(SessionHelpers, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.home = extensions_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def test_feat_and_opts_utf8(self):
        c = self.control(user=None)
        self.assertEqual(c.command("FEAT"), FEATURES)
        for line, expected in (("opts Utf8   On", b"200 UTF8 set to on\r\n"),
                               ("OPTS UTF8 OFF", b"504 Command not implemented for that parameter.\r\n"),
                               ("OPTS MLST type;", b"200 MLST OPTS type;\r\n"),
                               ("OPTS MLST", b"200 MLST OPTS\r\n"),
                               ("OPTS MLST unix.mode;perm;modify;size;type;",
                                b"200 MLST OPTS type;size;modify;perm;unix.mode;\r\n"),
                               ("OPTS MODE Z", b"501 Option not understood.\r\n"),
                               ("MDTM x", b"530 Not logged in.\r\n")):
            self.assertEqual(c.command(line), expected, line)
        c.login("u", "pw")
        self.assertEqual(c.command("FEAT"), FEATURES)

    def test_mdtm_and_mfmt_round_trip(self):
        target = os.path.join(self.home, "times", "a b.txt")
        make_file(target)
        os.makedirs(os.path.join(self.home, "times", "dir"))
        c = self.control()
        self.assertEqual(c.command("MFMT 20190506070809 times/a b.txt"), b"213 Modify=20190506070809; times/a b.txt\r\n")
        self.assertEqual(os.stat(target).st_mtime, OLD)
        self.assertEqual(c.command("MDTM /times/a b.txt"), b"213 20190506070809\r\n")
        self.assertEqual(c.command("MFMT 19600229235959.75 times/a b.txt"),
                         b"213 Modify=19600229235959; times/a b.txt\r\n")
        self.assertEqual(c.command("MDTM times/a b.txt"), b"213 19600229235959\r\n")
        for line, expected in (("MDTM times/dir", b"550 /times/dir:Not a plain file.\r\n"),
                               ("MDTM ../../etc/passwd", b"550 /etc/passwd:No such file or directory.\r\n"),
                               ("MFMT 20190506070809 times/gone", b"550 /times/gone:No such file or directory.\r\n"),
                               ("MFMT 20190230000000 times/a b.txt", b"501 The time must be YYYYMMDDHHMMSS (UTC).\r\n"),
                               ("MFMT 20190506070809", b"501 Syntax error in parameters or arguments.\r\n")):
            self.assertEqual(c.command(line), expected, line)
        # MFMT needs Write File, as STOR does.
        self.assertEqual(self.control("reader").command("MFMT 20200101000000 times/a b.txt"), DENIED)
        self.assertEqual(os.stat(target).st_mtime, calendar.timegm((1960, 2, 29, 23, 59, 59)))

    def test_mlsd_and_mlst_facts(self):
        folder = os.path.join(self.home, "facts")
        make_file(os.path.join(folder, "a b.txt"), b"x" * 1234, OLD)
        os.chmod(os.path.join(folder, "a b.txt"), 0o640)
        os.makedirs(os.path.join(folder, "sub"))
        os.chmod(os.path.join(folder, "sub"), 0o2750)
        os.symlink("a b.txt", os.path.join(folder, "link"))
        os.mkfifo(os.path.join(folder, "fifo"))
        entries = dict(self.ftp("reader").mlsd("facts"))
        self.assertEqual(sorted(entries), [".", "a b.txt", "link", "sub"])  # no "..", FIFO
        self.assertEqual(entries["a b.txt"], {"type": "file", "size": "1234", "modify": "20190506070809",
                                              "perm": "r", "unix.mode": "0640"})
        self.assertEqual(entries["link"], entries["a b.txt"])
        self.assertEqual((entries["sub"]["type"], entries["sub"]["perm"], entries["sub"]["unix.mode"]),
                         ("dir", "el", "2750"))
        self.assertEqual(entries["."]["type"], "cdir")
        full = dict(self.ftp("u").mlsd("/facts"))
        self.assertEqual((full["a b.txt"]["perm"], full["sub"]["perm"]), ("adfrw", "cdeflmp"))
        c = self.control("reader")
        self.assertEqual(c.command("MLST facts/a b.txt"),
                         b"250-Listing facts/a b.txt\r\n type=file;size=1234;modify=20190506070809;perm=r;"
                         b"unix.mode=0640; facts/a b.txt\r\n250 End\r\n")
        c.command("CWD facts/sub")
        self.assertTrue(c.command("MLST").startswith(b"250-Listing /facts/sub\r\n type=dir;"))
        self.assertEqual(c.command("MLSD"), b"425 Can't open data connection.\r\n")
        # LIST's path refusals, and a directory only; the unused data connection is closed.
        for argument, expected in (("../a b.txt", b"550 /facts/a b.txt:No such directory.\r\n"),
                                   ("../../../..", b"550 /../../../..:No such file or directory.\r\n")):
            data = passive_data(c)
            self.assertEqual(c.command("MLSD " + argument), expected)
            self.assertEqual(recv_all(data), b"")
            data.close()
        blind = self.control("blind")
        for line in ("MLSD facts", "MLST facts", "NLST facts", "LIST facts"):
            self.assertEqual(blind.command(line), DENIED, line)

    def test_nlst_names_and_list_paths_after_options(self):
        now = int(time.time())
        stamps = {"recent.txt": now - 3600, "old.txt": OLD, "future.txt": now + 86400 * 60}
        for name, mtime in stamps.items():
            make_file(os.path.join(self.home, "names", "sub dir", name), mtime=mtime)
        os.makedirs(os.path.join(self.home, "names", "sub dir", "inner"))
        ftp = self.ftp()
        self.assertEqual(ftp.nlst("names"), ["sub dir"])
        expected = ["future.txt", "inner", "old.txt", "recent.txt"]
        for argument in ("names/sub dir", "-la names/sub dir", "-l -a  names/sub dir"):
            self.assertEqual(sorted(ftp.nlst(argument)), expected, argument)
            lines = []
            ftp.retrlines("LIST " + argument, lines.append)
            by_name = {line.split(None, 8)[8]: line for line in lines}
            self.assertEqual(sorted(by_name), [".", ".."] + expected, argument)
        # The time within the last six months, else the year, in local time as ls.
        for name, form in (("recent.txt", "%b %e %H:%M"), ("old.txt", "%b %e  %Y"), ("future.txt", "%b %e  %Y")):
            self.assertTrue(by_name[name].endswith(time.strftime(form, time.localtime(stamps[name])) + " " + name))
        self.assertTrue(fetch(self.control(), "NLST names")[1] == b"sub dir\r\n")
        got = subprocess.run(["curl", "-sS", "--max-time", "30", "-l",
                              "ftp://u:pw@127.0.0.1:%d/names/sub%%20dir/" % self.server.ftp_port],
                             capture_output=True, timeout=60)
        self.assertEqual(sorted(got.stdout.split()), [name.encode() for name in expected], got.stderr)

    def test_huge_folder_streams_in_every_form(self):
        server, home = extensions_server()
        self.addCleanup(server.cleanup)
        os.makedirs(os.path.join(home, "huge"))
        names = [b"entry-with-a-long-name-%06d.txt" % i for i in range(60000)]
        for name in names:
            os.close(os.open(os.path.join(home.encode(), b"huge", name), os.O_CREAT | os.O_WRONLY))
        baseline = peak_rss_kib(server.pid())
        bodies = {}

        def listing(command):
            with Control(server.ftp_port, timeout=60) as c:
                c.reply()
                c.login("u", "pw")
                bodies[command] = fetch(c, command)[1]
        threads = [threading.Thread(target=listing, args=(verb + " huge",)) for verb in ("MLSD", "NLST", "LIST")]
        for t in threads:
            t.start()
        for t in threads:
            t.join(180)
        self.assertEqual(sorted(bodies["NLST huge"].split(b"\r\n")[:-1]), names)
        self.assertEqual(bodies["MLSD huge"].count(b"\r\ntype=file;size=0;"), len(names))
        self.assertEqual(bodies["LIST huge"].count(b"\r\n"), len(names) + 2)
        if not server.sanitized():  # a sanitizer's own books grow with every allocation
            # Held whole, MLSD's listing alone would take some 6 MiB and LIST's 5.
            self.assertLess(peak_rss_kib(server.pid()) - baseline, 3 * 1024)

    def test_lftp_mirror_keeps_dates_both_ways(self):
        source = self.server.path("lftp-source")
        make_file(os.path.join(source, "old.txt"), b"old", OLD)
        make_file(os.path.join(source, "sub dir", "recent.bin"), os.urandom(70000), int(time.time()) - 3 * 86400 + 17)
        down = self.server.path("lftp-down")
        script = ("set net:max-retries 1; set net:timeout 20; set cmd:fail-exit yes; "
                  "mirror -R --no-perms %s mirrored; mirror --no-perms mirrored %s; bye" % (source, down))
        r = subprocess.run(["lftp", "-u", "u,pw", "-p", str(self.server.ftp_port), "-e", script, "127.0.0.1"],
                           capture_output=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assertEqual(mtimes(os.path.join(self.home, "mirrored")), mtimes(source))  # by MFMT
        self.assertEqual(mtimes(down), mtimes(source))  # from MLSD

    def test_wget_timestamping_keeps_dates(self):
        # LIST tells a recent time to the minute, an old one to the day.
        recent = (int(time.time()) - 2 * 86400) // 60 * 60
        make_file(os.path.join(self.home, "wtree", "sub dir", "recent.txt"), b"recent", recent)
        make_file(os.path.join(self.home, "wtree", "old.txt"), b"old", OLD)
        dest = self.server.path("wget-dest")
        command = ["wget", "-r", "-N", "-nH", "-P", dest, "--timeout=20", "--tries=1",
                   "ftp://u:pw@127.0.0.1:%d/wtree/" % self.server.ftp_port]
        for run in range(2):
            r = subprocess.run(command, capture_output=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr[-2000:])
            day = time.localtime(OLD)[:3]
            self.assertEqual(mtimes(os.path.join(dest, "wtree")), {
                "sub dir/recent.txt": recent, "old.txt": int(time.mktime(day + (0, 0, 0, 0, 0, -1)))})
        self.assertNotIn(b"RETR", r.stderr)  # the second run found nothing newer


class ExtensionsOverTls(unittest.TestCase):
    def test_listings_take_the_data_protection_of_every_transfer(self):
        server, home = extensions_server(extra="<tls>required</tls><tlsreuse>no</tlsreuse>")
        self.addCleanup(server.cleanup)
        make_file(os.path.join(home, "a.txt"), mtime=OLD)
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        ftp = ftplib.FTP_TLS(context=context)
        ftp.connect("127.0.0.1", server.ftp_port, timeout=30)
        self.addCleanup(ftp.close)
        ftp.login("u", "pw")
        self.assertTrue(ftp.sendcmd("FEAT").startswith("211-Features:\n AUTH TLS\n PBSZ\n PROT\n EPRT\n"))
        with self.assertRaisesRegex(ftplib.error_perm, "^521 "):
            list(ftp.mlsd())
        ftp.prot_p()
        self.assertEqual(dict(ftp.mlsd())["a.txt"]["modify"], "20190506070809")
        self.assertEqual(ftp.nlst(), ["a.txt"])


class ExtensionsOff(unittest.TestCase):
    def test_extension_verbs_are_not_understood_and_list_keeps_its_word_rule(self):
        for element in ("", "<ftpext>no</ftpext>"):
            with self.subTest(element=element):
                server, home = extensions_server(ftpext=element)
                self.addCleanup(server.cleanup)
                make_file(os.path.join(home, "dir", "b.txt"))
                with Control(server.ftp_port) as c:
                    c.reply()
                    self.assertEqual(c.command("FEAT"), b'500 "FEAT" :command not understood\r\n')
                    c.login("u", "pw")
                    for verb in ("OPTS", "MLSD", "MLST", "MDTM", "MFMT", "EPSV"):
                        self.assertEqual(c.command(verb + " b"), b'500 "%s" :command not understood\r\n' % verb.encode())
                    # Long lines, and the third word ("dir") is the path.
                    body = fetch(c, "NLST sub dir")[1]
                    self.assertTrue(body.startswith(b"drw-------   1 u     u            0 ") and
                                    body.endswith(b" b.txt\r\n"), body)


if __name__ == "__main__":
    unittest.main()
