"""fail2ban against the real server: the shipped filter matches exactly the failed
logins corveld logs (as its terminal mode prints them, as syslog files and as the
journal hold them), a fail2ban-server with the shipped jail bans the guessing
address, and failed logins are slowed per connection without holding anyone up.

Nothing here touches the host's firewall or fail2ban: the fail2ban-server started
here has its own configuration, socket, pid file and database under a temporary
directory, and its only action appends to a file.
"""
import base64
import ftplib
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from harness import LOOPBACK, Control, Server, digest, user_element, users_document, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
CONTRIB = os.path.join(HERE, "..", "..", "contrib", "fail2ban")
SYSTEM_CONFIG = "/etc/fail2ban"
TOOLS = ("fail2ban-server", "fail2ban-client", "fail2ban-regex")
MISSING = [tool for tool in TOOLS if shutil.which(tool) is None]
if not MISSING and not os.path.exists(os.path.join(SYSTEM_CONFIG, "filter.d", "common.conf")):
    MISSING.append(os.path.join(SYSTEM_CONFIG, "filter.d", "common.conf"))

PASSWORD = "s3cret"
# Names a client may choose to fake another address or break the line.
FTP_HOSTILE = 'x" address=10.9.9.9'
WEB_HOSTILE = 'evil\naddress=10.9.9.9 user="z'
ODD_BYTES = "e\x1b[31m\\\xe9"
LOGIN_LINE = re.compile(rb"^\S+ corvelftpservice\[(\d+)\]: (login (?:failed|succeeded): .*)$")
# How long any answer that must not wait for a failed login's delay may take.
PROMPT = 0.5


def escaped(name):
    """A user name as corveld writes it into the log line."""
    return "".join(c if 0x20 <= ord(c) < 0x7f and c not in '"\\' else "\\x%02X" % ord(c) for c in name)


def ftp_login(port, user, password):
    """One FTP login with ftplib; True when it succeeded."""
    ftp = ftplib.FTP(encoding="latin-1", timeout=10)
    try:
        ftp.connect(LOOPBACK, port)
        ftp.login(user, password)
        return True
    except ftplib.error_perm:
        return False
    finally:
        ftp.close()


def web_get(port, user=None, password=None):
    """One GET of the listing, with Basic credentials when given; returns
    (status line, seconds until the answer was complete)."""
    request = "GET / HTTP/1.1\r\nHost: %s:%d\r\n" % (LOOPBACK, port)
    if user is not None:
        token = base64.b64encode(("%s:%s" % (user, password)).encode("latin-1")).decode()
        request += "Authorization: Basic %s\r\n" % token
    started = time.monotonic()
    data = b""
    with socket.create_connection((LOOPBACK, port), timeout=10) as s:
        s.sendall((request + "\r\n").encode("latin-1"))
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return data.split(b"\r\n", 1)[0], time.monotonic() - started


def run_parallel(functions):
    """Runs each function on its own thread; returns their results in order."""
    results = [None] * len(functions)
    errors = []

    def run(i, function):
        try:
            results[i] = function()
        except Exception as e:  # reported below, on the test's thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=(i, f)) for i, f in enumerate(functions)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(30)
    if errors:
        raise errors[0]
    if any(t.is_alive() for t in threads):
        raise TimeoutError("a client thread did not finish")
    return results


def fail2ban_config(directory, jail_local=None):
    """A fail2ban configuration directory as an administrator gets it from Debian's
    package plus `cp -r contrib/fail2ban/* /etc/fail2ban/`, without the host's own
    jails or changes; jail_local, when given, becomes its jail.local."""
    for name in ("fail2ban.conf", "jail.conf", "paths-common.conf", "paths-debian.conf",
                 "filter.d/common.conf", "action.d/iptables-multiport.conf", "action.d/iptables.conf"):
        source = os.path.join(SYSTEM_CONFIG, name)
        if os.path.exists(source):
            os.makedirs(os.path.dirname(os.path.join(directory, name)), exist_ok=True)
            shutil.copy(source, os.path.join(directory, name))
    shutil.copytree(CONTRIB, directory, dirs_exist_ok=True)
    if jail_local is not None:
        with open(os.path.join(directory, "jail.local"), "w") as f:
            f.write(jail_local)
    return directory


def run_tool(*args, timeout=30):
    return subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout, text=True)


class Corveld:
    """A corveld -d with one account, whose standard error is the log under test."""

    def __init__(self):
        self.server = Server(start=False)
        home = self.server.path("home")
        os.makedirs(home)
        self.server.write("ftpusers.xml", users_document(user_element("alice", digest(PASSWORD), home)))
        self.server.start(args=("-d",))
        self.log = self.server.path("stderr.log")

    def log_size(self):
        return os.path.getsize(self.log)

    def login_lines(self, since=0):
        """The login lines written after offset since, as (pid, message) pairs."""
        with open(self.log, "rb") as f:
            f.seek(since)
            lines = f.read().splitlines()
        return [(m.group(1).decode(), m.group(2).decode("latin-1")) for m in map(LOGIN_LINE.match, lines) if m]

    def close(self):
        self.server.cleanup()


@unittest.skipIf(MISSING, "fail2ban is not installed (missing %s); scripts/install-deps.sh test installs it"
                 % ", ".join(MISSING))
class Fail2banTestCase(unittest.TestCase):
    def setUp(self):
        self.corveld = Corveld()
        self.addCleanup(self.corveld.close)
        self.temp = tempfile.mkdtemp(prefix="corvel-f2b-")
        self.addCleanup(shutil.rmtree, self.temp, True)
        self.ftp = self.corveld.server.ftp_port
        self.web = self.corveld.server.web_port


class Filter(Fail2banTestCase):
    def failures_found(self, log_text, filter_name="corvelftp"):
        """(address, user) of every line fail2ban-regex matches with the shipped filter."""
        config = fail2ban_config(os.path.join(self.temp, "conf"))
        log = os.path.join(self.temp, "lines.log")
        with open(log, "w", encoding="utf-8") as f:
            f.write(log_text)
        result = run_tool("fail2ban-regex", "-c", config, "-o", "<ip>|<F-USER>", log, filter_name)
        self.assertEqual(result.returncode, 0, result.stderr)
        return sorted(tuple(line.split("|", 1)) for line in result.stdout.splitlines())

    def test_matches_exactly_the_failed_logins_with_their_address(self):
        since = self.corveld.log_size()
        outcomes = run_parallel([
            lambda: ftp_login(self.ftp, "alice", "wrong"),
            lambda: ftp_login(self.ftp, "alice", PASSWORD),
            lambda: ftp_login(self.ftp, FTP_HOSTILE, "wrong"),
            lambda: ftp_login(self.ftp, ODD_BYTES, "wrong"),
            lambda: web_get(self.web, "alice", "wrong")[0],
            lambda: web_get(self.web, "alice", PASSWORD)[0],
            lambda: web_get(self.web, WEB_HOSTILE, "wrong")[0],
            lambda: web_get(self.web)[0],
        ])
        self.assertEqual(outcomes[:4], [False, True, False, False])
        self.assertEqual([status.split()[1] for status in outcomes[4:]], [b"401", b"200", b"401", b"401"])
        failed = sorted(("127.0.0.1", escaped(name))
                        for name in ("alice", FTP_HOSTILE, ODD_BYTES, "alice", WEB_HOSTILE))
        lines = self.corveld.login_lines(since)
        # One line for each attempt that carried credentials, none for the bare request.
        self.assertEqual(len(lines), 7, lines)
        self.assertEqual(sum("login succeeded" in message for _, message in lines), 2)

        with open(self.corveld.log, "rb") as f:
            f.seek(since)
            stamped = f.read().decode("latin-1")
        self.assertEqual(self.failures_found(stamped), failed)

        # The same messages as rsyslog writes them to /var/log/syslog (classic and
        # RFC 3339 stamps), and as the journal backend hands them over.
        syslog = "".join("Dec  8 13:05:09 myhost corvelftpservice[%s]: %s\n"
                         "2026-12-08T13:05:09.123456+01:00 myhost corvelftpservice[%s]: %s\n"
                         % (pid, message, pid, message) for pid, message in lines)
        self.assertEqual(self.failures_found(syslog), sorted(failed * 2))
        journal = "".join("myhost corvelftpservice[%s]: %s\n" % (pid, message) for pid, message in lines)
        self.assertEqual(self.failures_found(journal, "corvelftp[logtype=journal]"), failed)

    def test_ignores_other_daemons_and_lines_the_server_never_writes(self):
        lines = [
            # Another program's line, even with corveld's words in it.
            'Dec  8 13:05:09 myhost otherd[77]: login failed: service=ftp address=10.9.9.9 user="x"',
            'Dec  8 13:05:09 myhost sshd[78]: Invalid user login failed: service=ftp address=10.9.9.9 user="x"',
            # A name with a bare quote or backslash is never written by corveld.
            'Dec  8 13:05:09 myhost corvelftpservice[79]: login failed: service=ftp address=10.9.9.9 user="a" b"',
            'Dec  8 13:05:09 myhost corvelftpservice[79]: login failed: service=web address=10.9.9.9 user="a\\"',
            'Dec  8 13:05:09 myhost corvelftpservice[79]: login failed: service=ftp address=unknown user="a"',
            'Dec  8 13:05:09 myhost corvelftpservice[79]: login failed: service=smtp address=10.9.9.9 user="a"',
            'Dec  8 13:05:09 myhost corvelftpservice[79]: login succeeded: service=ftp address=10.9.9.9 user="a"',
            'Dec  8 13:05:09 myhost corvelftpservice[79]: Failed to load ftpaccess.xml from 10.9.9.9',
            # And one it does write, with an IPv6 peer.
            'Dec  8 13:05:09 myhost corvelftpservice[79]: login failed: service=web address=2001:db8::7 user="a"',
        ]
        self.assertEqual(self.failures_found("\n".join(lines) + "\n"), [("2001:db8::7", "a")])


class Jail(Fail2banTestCase):
    def test_shipped_jail_watches_the_journal_with_sensible_limits(self):
        config = fail2ban_config(os.path.join(self.temp, "conf"))
        result = run_tool("fail2ban-client", "-c", config, "-d")
        self.assertEqual(result.returncode, 0, result.stderr)
        dump = result.stdout
        for expected in ("['add', 'corvelftp', 'systemd']",
                         "['set', 'corvelftp', 'addjournalmatch', 'SYSLOG_IDENTIFIER=corvelftpservice']",
                         "['set', 'corvelftp', 'maxretry', 5]", "['set', 'corvelftp', 'findtime', '10m']",
                         "['set', 'corvelftp', 'bantime', '15m']", "--dports ftp,ftp-data,8080",
                         "['start', 'corvelftp']"):
            self.assertIn(expected, dump)

    def status(self, socket_path):
        result = run_tool("fail2ban-client", "-s", socket_path, "status", "corvelftp", timeout=10)
        if result.returncode != 0:
            return None
        fields = dict(re.findall(r"[|`]- ([^:\n]+):[ \t]*(.*)", result.stdout))
        return int(fields["Total failed"]), fields["Banned IP list"].split()

    def test_bans_the_address_after_maxretry_failures(self):
        bans = os.path.join(self.temp, "bans.txt")
        config = fail2ban_config(os.path.join(self.temp, "conf"), jail_local=(
            "[corvelftp]\n"
            "backend = polling\n"
            "logpath = %s\n"
            "maxretry = 3\n"
            "ignoreself = false\n"
            "ignoreip =\n"
            "action = record\n" % self.corveld.log))
        with open(os.path.join(config, "fail2ban.local"), "w") as f:
            f.write("[Definition]\ndbfile = :memory:\n")
        with open(os.path.join(config, "action.d", "record.conf"), "w") as f:
            f.write("[Definition]\nactionstart =\nactionstop =\nactioncheck =\n"
                    "actionban = echo ban <ip> >> %s\nactionunban = echo unban <ip> >> %s\n" % (bans, bans))
        sock = os.path.join(self.temp, "f2b.sock")
        with open(os.path.join(self.temp, "server.out"), "wb") as out:
            server = subprocess.Popen(
                ["fail2ban-server", "-f", "-x", "-c", config, "-s", sock, "-p", os.path.join(self.temp, "f2b.pid"),
                 "--logtarget", os.path.join(self.temp, "fail2ban.log"), "--loglevel", "INFO"],
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        self.addCleanup(self.stop_fail2ban, server, sock)
        self.assertTrue(wait_until(lambda: server.poll() is not None or self.status(sock) is not None, 20),
                        "fail2ban-server did not answer")
        self.assertIsNone(server.poll(), "fail2ban-server exited")

        # Two failures and a success: counted, not yet banned.
        run_parallel([lambda: ftp_login(self.ftp, "alice", "wrong"),
                      lambda: web_get(self.web, "mallory", "wrong"),
                      lambda: ftp_login(self.ftp, "alice", PASSWORD)])
        self.assertTrue(wait_until(lambda: self.status(sock) == (2, []), 10), self.status(sock))
        ftp_login(self.ftp, FTP_HOSTILE, "wrong")
        self.assertTrue(wait_until(lambda: (self.status(sock) or (0, []))[1] == ["127.0.0.1"], 10),
                        self.status(sock))
        self.assertTrue(wait_until(lambda: os.path.exists(bans), 5))
        with open(bans) as f:
            self.assertEqual(f.read(), "ban 127.0.0.1\n")

    def stop_fail2ban(self, server, sock):
        if server.poll() is None:
            run_tool("fail2ban-client", "-s", sock, "stop", timeout=15)
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait(5)


class GuessingRate(Fail2banTestCase):
    GUESSERS = 8
    SECONDS = 3.0
    MAX_RATE = 1.2  # tries per connection per second with a one-second delay

    def guess_ftp(self, name):
        """Wrong passwords on one connection for SECONDS; returns (tries, seconds taken)."""
        with Control(self.ftp) as c:
            c.reply()
            self.assertTrue(c.command("USER " + name).startswith(b"331"))
            started = time.monotonic()
            tries = 0
            while time.monotonic() - started < self.SECONDS and tries < 9:
                self.assertEqual(c.command("PASS wrong"), b"530 Login incorrect.\r\n")
                tries += 1
            return tries, time.monotonic() - started

    def guess_web(self):
        """Wrong Basic credentials for SECONDS; returns the time each answer took."""
        started = time.monotonic()
        durations = []
        while time.monotonic() - started < self.SECONDS and len(durations) < 9:
            status, seconds = web_get(self.web, "mallory", "wrong")
            self.assertEqual(status.split()[1], b"401")
            durations.append(seconds)
        return durations

    def watch(self, probe, rounds=4):
        """Runs probe a few times while the guessers run; returns the slowest time."""
        slowest = 0.0
        for _ in range(rounds):
            time.sleep(0.4)
            started = time.monotonic()
            probe()
            slowest = max(slowest, time.monotonic() - started)
        return slowest

    def test_ftp_guesses_wait_per_connection_and_hold_no_one_up(self):
        since = self.corveld.log_size()
        with Control(self.ftp) as observer:
            observer.reply()
            observer.login("alice", PASSWORD)

            def noop():
                self.assertEqual(observer.command("NOOP"), b"200 Command okay\r\n")
                # From an address of its own: the guessers' address holds its share of
                # connections not logged in yet.
                with Control(self.ftp, source="127.0.0.2") as newcomer:
                    self.assertTrue(newcomer.reply().startswith(b"220"))

            guessers = [lambda i=i: self.guess_ftp("guess%d" % i) for i in range(self.GUESSERS)]
            results = run_parallel(guessers + [lambda: self.watch(noop)])
        slowest = results.pop()
        self.assertLess(slowest, PROMPT)
        for tries, seconds in results:
            self.assertLessEqual(tries / seconds, self.MAX_RATE, results)
            self.assertGreaterEqual(tries, 2, results)  # the connections were not served in turn
        failures = [m for _, m in self.corveld.login_lines(since) if m.startswith("login failed: service=ftp")]
        self.assertEqual(len(failures), sum(tries for tries, _ in results))

    def test_web_guesses_wait_and_a_bare_request_is_answered_at_once(self):
        since = self.corveld.log_size()

        def bare():
            status, seconds = web_get(self.web)
            self.assertEqual(status.split()[1], b"401")

        results = run_parallel([self.guess_web] * self.GUESSERS + [lambda: self.watch(bare)])
        slowest = results.pop()
        self.assertLess(slowest, PROMPT)
        for durations in results:
            self.assertGreaterEqual(min(durations), 0.95, results)
            self.assertGreaterEqual(len(durations), 2, results)
        # One line per guess; the bare requests left none.
        lines = self.corveld.login_lines(since)
        self.assertEqual(len(lines), sum(map(len, results)))
        self.assertTrue(all(m == 'login failed: service=web address=127.0.0.1 user="mallory"' for _, m in lines))


if __name__ == "__main__":
    unittest.main()
