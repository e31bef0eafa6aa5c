"""One hostile address, or a crowd of them, against the real server: a flood of
failing logins from many addresses with bans on, one address holding stalled TLS
handshakes and half-sent requests on the web port, and one address holding idle
FTP connections before login. Each case checks that another address still logs
in, lists and downloads, and how long that takes."""
import base64
import concurrent.futures
import os
import socket
import statistics
import ssl
import time
import unittest

from harness import LOOPBACK, Control, Server, connect_tcp, digest, recv_all, user_element, users_document
from test_tls import client_context

FULL = 0x7001F
PAYLOAD = os.urandom(200000)
TOO_MANY = b"550 Too Many Connection\r\n"


def limits_server(extra="", maxconn=32, args=("-d",)):
    server = Server(start=False)
    home = server.path("home")
    os.makedirs(home)
    with open(os.path.join(home, "f.bin"), "wb") as f:
        f.write(PAYLOAD)
    server.write("ftpusers.xml", users_document(user_element("alice", digest("pw"), home, privilege=FULL)))
    server.write("ftpconfig.xml", "<config><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>%d</maxconn>"
                 "<pasvmode>yes</pasvmode><welcomemsg></welcomemsg>%s</config>"
                 % (server.ftp_port, server.web_port, maxconn, extra))
    server.start(args=args)
    return server


def basic(user, password):
    return "Authorization: Basic %s\r\n" % base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


def read_until_closed(s, timeout=10):
    s.settimeout(timeout)
    data = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data
            data += chunk
    except (ConnectionResetError, socket.timeout):
        return data


def web_request(port, request, source=LOOPBACK, context=None, timeout=10):
    """One request (over TLS with context); returns everything answered."""
    with connect_tcp(port, source, timeout) as raw:
        if not context:
            raw.sendall(request.encode("latin-1"))
            return read_until_closed(raw, timeout)
        with context.wrap_socket(raw) as s:
            s.sendall(request.encode("latin-1"))
            return read_until_closed(s, timeout)


def fetch(control, command, source):
    """Runs LIST or RETR over a passive data connection from source (the control
    connection's own address, as the server insists); returns (opening, data, closing)."""
    reply = control.command("PASV").decode()
    numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
    with connect_tcp(int(numbers[4]) * 256 + int(numbers[5]), source) as data:
        opening = control.command(command)
        body = recv_all(data) if opening.startswith(b"150") else b""
    return opening, body, control.reply() if opening.startswith(b"150") else b""


def served_over_ftp(port, source=None):
    """Greeting, login, listing and download of one client; returns the seconds
    each took, or fails the test."""
    times = {}
    started = time.monotonic()
    with Control(port, source=source) as c:
        assert c.reply().startswith(b"220")
        times["greeting"] = time.monotonic() - started
        started = time.monotonic()
        assert c.login("alice", "pw").startswith(b"230")
        times["login"] = time.monotonic() - started
        started = time.monotonic()
        opening, listing, _ = fetch(c, "LIST", source or LOOPBACK)
        assert opening.startswith(b"150") and b"f.bin" in listing
        opening, body, closing = fetch(c, "RETR f.bin", source or LOOPBACK)
        assert body == PAYLOAD and closing.startswith(b"226")
        times["transfer"] = time.monotonic() - started
    return times


class BanTableUnderAFlood(unittest.TestCase):
    ATTACKERS = 900   # distinct addresses, each banned at its first failure
    AT_ONCE = 150     # attackers in flight together (each failure is answered a second later)

    def test_a_flood_of_failing_addresses_leaves_logins_prompt_and_bans_them_all(self):
        server = limits_server("<banfailures>1</banfailures>", maxconn=300)
        self.addCleanup(server.cleanup)
        rss_before = server.rss_kib()
        addresses = ["127.10.%d.%d" % (i // 250, i % 250 + 1) for i in range(self.ATTACKERS)]

        def attack(source):
            # A generous wait: each failure is answered a second late, and a busy
            # runner may add to that; what is checked is that every one is answered.
            return web_request(server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "guess") + "\r\n", source,
                               timeout=30)

        taken = {"greeting": [], "login": [], "web": []}
        with concurrent.futures.ThreadPoolExecutor(self.AT_ONCE) as pool:
            started = time.monotonic()
            answers = pool.map(attack, addresses)
            probes = 0
            while time.monotonic() - started < 4 and probes < 20:
                times = served_over_ftp(server.ftp_port)
                for key in ("greeting", "login"):
                    taken[key].append(times[key])
                begun = time.monotonic()
                page = web_request(server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "pw") + "\r\n")
                self.assertTrue(page.startswith(b"HTTP/1.1 200 OK"))
                taken["web"].append(time.monotonic() - begun)
                probes += 1
                time.sleep(0.1)
            answers = list(answers)
        self.assertGreaterEqual(probes, 5)
        others = [a[:40] for a in answers if not a.startswith(b"HTTP/1.1 401")]
        self.assertEqual(others, [], "%d of %d attackers got no 401" % (len(others), self.ATTACKERS))
        # A login of another address stays prompt while the table fills (the failed
        # logins' one-second pause is theirs alone). The median is held to the bound
        # and every probe to ten times it: a table searched in full under the accept
        # path's lock took a second and more for each, while one late probe on a busy
        # two-core runner is only the scheduler.
        bound = 1.0 if server.sanitized() else 0.1
        for key, seconds in taken.items():
            self.assertLess(statistics.median(seconds), bound, (key, seconds))
            self.assertLess(max(seconds), 10 * bound, (key, seconds))
        log = server.read("stderr.log").decode()
        self.assertEqual(log.count("ban: address=127.10."), self.ATTACKERS)
        # Every attacker is turned away on both ports; this host is not.
        for source in (addresses[0], addresses[-1]):
            with connect_tcp(server.ftp_port, source) as s:
                self.assertEqual(read_until_closed(s), b"")
            self.assertEqual(web_request(server.web_port, "GET / HTTP/1.1\r\n\r\n", source), b"")
        served_over_ftp(server.ftp_port)
        if not server.sanitized():
            self.assertLess(server.rss_kib() - rss_before, 64 * 1024)


class WebShareOfOneAddress(unittest.TestCase):
    def test_stalled_handshakes_and_half_sent_heads_of_one_address_leave_https_to_others(self):
        server = limits_server("<webtls>yes</webtls>")
        self.addCleanup(server.cleanup)
        held = []
        self.addCleanup(lambda: [s.close() for s in held])
        # 300 connections that never start their handshake.
        for _ in range(300):
            held.append(connect_tcp(server.web_port, "127.0.8.1"))
        # 64 that try to finish one and leave their request half-sent: enough to pass
        # the share, and few enough to be done well within the handshake limit, which
        # would free the stalled ones' places (and rightly let more in) on a slow run.
        half_sent = 0
        for _ in range(64):
            raw = connect_tcp(server.web_port, "127.0.8.1", timeout=5)
            try:
                tls = client_context().wrap_socket(raw)
                tls.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
                held.append(tls)
                half_sent += 1
            except (ssl.SSLError, OSError):
                raw.close()
        # Once half the web slots were taken, the address's connections past its
        # share were closed at once.
        self.assertLessEqual(half_sent, 16)
        closed = sum(self.closed_by_peer(s) for s in held[:300])
        self.assertGreaterEqual(closed, 300 - 128 - 2)
        # Another address is served at once, over HTTPS as over FTP.
        started = time.monotonic()
        page = web_request(server.web_port, "GET /download.html?path=f.bin HTTP/1.1\r\n" + basic("alice", "pw") +
                           "\r\n", source="127.0.8.2", context=client_context())
        self.assertTrue(page.startswith(b"HTTP/1.1 200 OK"))
        self.assertTrue(page.endswith(PAYLOAD))
        self.assertLess(time.monotonic() - started, 2)
        served_over_ftp(server.ftp_port, source="127.0.8.2")

    @staticmethod
    def closed_by_peer(s):
        try:
            s.settimeout(0.05)
            return s.recv(1) == b""
        except ConnectionResetError:
            return True
        except (socket.timeout, OSError):
            return False

    def test_the_share_is_overridable_and_other_addresses_are_unaffected(self):
        # Eight web slots in all: the share binds from the fourth live connection on.
        server = limits_server("<webmaxperip>4</webmaxperip><maxwebconn>8</maxwebconn>")
        self.addCleanup(server.cleanup)
        held = [connect_tcp(server.web_port, "127.0.8.3") for _ in range(4)]
        self.addCleanup(lambda: [s.close() for s in held])
        for s in held:
            s.sendall(b"GET / HTTP/1.1\r\n")
        started = time.monotonic()
        self.assertEqual(web_request(server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "pw") + "\r\n",
                                     source="127.0.8.3"), b"")
        self.assertLess(time.monotonic() - started, 2)
        self.assertTrue(web_request(server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "pw") + "\r\n",
                                    source="127.0.8.4").startswith(b"HTTP/1.1 200 OK"))
        held.pop().close()  # a place is free again
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            page = web_request(server.web_port, "GET / HTTP/1.1\r\n" + basic("alice", "pw") + "\r\n",
                               source="127.0.8.3")
            if page:
                break
            time.sleep(0.1)
        self.assertTrue(page.startswith(b"HTTP/1.1 200 OK"))


class FtpConnectionsBeforeLogin(unittest.TestCase):
    def test_idle_connections_of_one_address_leave_another_greeted_and_logged_in(self):
        server = limits_server(maxconn=32)
        self.addCleanup(server.cleanup)
        idle = [Control(server.ftp_port, source="127.0.9.1") for _ in range(33)]
        self.addCleanup(lambda: [c.close() for c in idle])
        # The share binds once half of the 33 places are taken (17 sessions); their
        # threads admit them side by side, so which get in, and a refused one
        # counted for its short life, may vary: at most the free half plus one share
        # (17 + 8), which leaves places to every other address.
        replies = [c.reply() for c in idle]
        greeted = [c for c, r in zip(idle, replies) if r.startswith(b"220")]
        self.assertGreaterEqual(len(greeted), 8)
        self.assertLessEqual(len(greeted), 25)
        self.assertEqual(sorted(set(replies) - {replies[idle.index(greeted[0])]}), [TOO_MANY])
        self.assertEqual({c.read_all_until_closed(timeout=5) for c in idle if c not in greeted}, {b""})
        times = served_over_ftp(server.ftp_port, source="127.0.9.2")
        self.assertLess(times["greeting"] + times["login"], 1.0, times)
        # The address itself gets places back as its connections log in.
        for c in greeted[7:]:
            self.assertTrue(c.login("alice", "pw").startswith(b"230"))
        with Control(server.ftp_port, source="127.0.9.1") as again:
            self.assertTrue(again.reply().startswith(b"220"))

    def test_the_share_is_overridable(self):
        # Four places in all: the share binds from the second live session on.
        server = limits_server("<maxprelogin>2</maxprelogin>", maxconn=3)
        self.addCleanup(server.cleanup)
        held = [Control(server.ftp_port, source="127.0.9.3") for _ in range(2)]
        self.addCleanup(lambda: [c.close() for c in held])
        for c in held:
            self.assertTrue(c.reply().startswith(b"220"))
        with Control(server.ftp_port, source="127.0.9.3") as third:
            self.assertEqual(third.read_all_until_closed(), TOO_MANY)
        unlimited = limits_server("<maxprelogin>0</maxprelogin>", maxconn=12)
        self.addCleanup(unlimited.cleanup)
        many = [Control(unlimited.ftp_port, source="127.0.9.4") for _ in range(12)]
        self.addCleanup(lambda: [c.close() for c in many])
        self.assertTrue(all(c.reply().startswith(b"220") for c in many))

    def test_a_burst_of_one_address_is_served_while_the_server_has_room(self):
        # An office behind one NAT address, or a mirror opening its connections at
        # once: below half of maxconn nobody is turned away for the address's share.
        server = limits_server(maxconn=32)
        self.addCleanup(server.cleanup)
        burst = [Control(server.ftp_port, source="127.0.9.5") for _ in range(14)]
        self.addCleanup(lambda: [c.close() for c in burst])
        self.assertTrue(all(c.reply().startswith(b"220") for c in burst))
        web = [connect_tcp(server.web_port, "127.0.9.5") for _ in range(30)]
        self.addCleanup(lambda: [s.close() for s in web])
        for s in web:
            s.sendall(b"GET / HTTP/1.1\r\n" + basic("alice", "pw").encode() + b"\r\n")
        self.assertTrue(all(read_until_closed(s).startswith(b"HTTP/1.1 200 OK") for s in web))


if __name__ == "__main__":
    unittest.main()
