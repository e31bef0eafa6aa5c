"""Starts the real corveld in a temporary program directory and talks to it.

Every server gets its own copy of the binary (the program directory is where the
executable lies), its own CORVELFTP_RUNTIME_DIR and free loopback ports. Every wait
is bounded; every process started here is stopped by PID.
"""
import ftplib
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

BUILD_DIR = os.environ.get(
    "CORVEL_BUILD_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build"))
LOOPBACK = "127.0.0.1"


def _ephemeral_floor():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def free_port():
    """A port nothing holds now, taken below the ephemeral range: the kernel hands out
    ephemeral numbers to every client connection and passive listener of the tests
    running in parallel, so a number from there may be taken again before corveld
    binds it."""
    floor = _ephemeral_floor()
    for _ in range(200):
        port = random.randrange(10000, max(floor, 10001))
        with socket.socket() as s:
            try:
                s.bind(("", port))
            except OSError:
                continue
            return port
    with socket.socket() as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def connect_tcp(port, source=None, timeout=10, host=LOOPBACK):
    """A TCP connection to host:port, from the local address source when given (any
    of 127.0.0.0/8 is loopback). The client end takes SO_REUSEADDR, so the port it
    is given never keeps a server of another test from binding the same number."""
    sock = socket.socket()
    try:
        sock.settimeout(timeout)
        if source:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind((source, 0))
        sock.connect((host, port))
    except BaseException:
        sock.close()
        raise
    return sock


def wait_until(predicate, timeout=10.0, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def settings_document(listenip="", ftpport=21, httpport=8080, maxconn=32, pasvmode="yes",
                      welcomemsg="Welcome to my ftp server", extra=""):
    """extra: optional elements, put after the six of every file."""
    return ("<config><listenip>%s</listenip><ftpport>%d</ftpport><httpport>%d</httpport>"
            "<maxconn>%s</maxconn><pasvmode>%s</pasvmode><welcomemsg>%s</welcomemsg>%s</config>"
            % (listenip, ftpport, httpport, maxconn, pasvmode, welcomemsg, extra))


class Server:
    """One corveld /nontservice in its own program directory."""

    def __init__(self, settings=None, files=None, program_dir=None, start=True, **settings_args):
        self.dir = program_dir or tempfile.mkdtemp(prefix="corveld-")
        self.runtime_dir = os.path.join(self.dir, "run")
        os.makedirs(self.runtime_dir, exist_ok=True)
        self.binary = os.path.join(self.dir, "corveld")
        if not os.path.exists(self.binary):
            shutil.copy2(os.path.join(BUILD_DIR, "corveld"), self.binary)
        self.ftp_port = settings_args.pop("ftpport", None) or free_port()
        self.web_port = settings_args.pop("httpport", None) or free_port()
        if settings is None:
            settings = settings_document(ftpport=self.ftp_port, httpport=self.web_port, **settings_args)
        if settings is not False:
            self.write("ftpconfig.xml", settings)
        for name, text in (files or {}).items():
            self.write(name, text)
        self.process = None
        if start:
            self.start()

    def env(self):
        env = dict(os.environ)
        env["CORVELFTP_RUNTIME_DIR"] = self.runtime_dir
        return env

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, text, mode="w"):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, mode) as f:
            f.write(text)
        return path

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def start(self, args=("/nontservice",), wait=True):
        for attempt in range(3):
            with open(self.path("stdout.log"), "ab") as out, open(self.path("stderr.log"), "ab") as err:
                self.process = subprocess.Popen([self.binary, *args], env=self.env(), cwd=self.dir,
                                                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            if not wait:
                return self.process
            try:
                if wait_until(self.accepts_ftp, timeout=15):
                    return self.process
            except RuntimeError:
                # A test running beside this one may have bound a port between
                # free_port() and corveld's bind; corveld then ends quietly. Given
                # fresh numbers, it starts; any other early end repeats and is raised.
                if attempt == 2 or not self._take_fresh_ports():
                    raise
                continue
            self.stop()
            raise RuntimeError("corveld did not start listening on %d" % self.ftp_port)
        return self.process

    def _take_fresh_ports(self):
        """Rewrites the settings file's two port numbers to fresh ones; False when the
        file does not name the ports this server was given."""
        try:
            text = self.read("ftpconfig.xml").decode("utf-8", "surrogateescape")
        except OSError:
            return False
        ftp, web = free_port(), free_port()
        changed, count = re.subn(r"<ftpport>%d</ftpport>" % self.ftp_port, "<ftpport>%d</ftpport>" % ftp, text)
        if count != 1:
            return False
        changed = re.sub(r"<httpport>%d</httpport>" % self.web_port, "<httpport>%d</httpport>" % web, changed)
        with open(self.path("ftpconfig.xml"), "wb") as f:
            f.write(changed.encode("utf-8", "surrogateescape"))
        self.ftp_port, self.web_port = ftp, web
        return True

    def accepts_ftp(self):
        if self.process is not None and self.process.poll() is not None:
            raise RuntimeError("corveld exited with %s" % self.process.returncode)
        try:
            with socket.create_connection((LOOPBACK, self.ftp_port), timeout=0.5) as s:
                s.settimeout(2)
                s.recv(1)  # wait for the greeting so the session ends cleanly
            return True
        except OSError:
            return False

    def pid(self):
        return self.process.pid

    def sanitized(self):
        """Whether the binary runs under a sanitizer, whose bookkeeping makes memory
        figures meaningless. A statically linked runtime (clang's default) leaves no
        library name in the maps, so the build's own setting is asked first."""
        if os.environ.get("CORVEL_SANITIZE"):
            return True
        with open("/proc/%d/maps" % self.process.pid) as f:
            return any(name in f.read() for name in ("libasan", "libtsan", "libubsan"))

    def rss_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self, timeout=10):
        if self.process is None or self.process.poll() is not None:
            return self.process.returncode if self.process else None
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(5)
        return self.process.returncode

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class LimitedServer(Server):
    """A Server whose process is started with extra Popen arguments (user, preexec_fn)."""

    def __init__(self, popen_args=None, **kwargs):
        self.popen_args = popen_args or {}
        super().__init__(**kwargs)

    def start(self, args=("/nontservice",), wait=True):
        with open(self.path("stdout.log"), "ab") as out, open(self.path("stderr.log"), "ab") as err:
            self.process = subprocess.Popen([self.binary, *args], env=self.env(), cwd=self.dir,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=err, **self.popen_args)
        if wait and not wait_until(self.accepts_ftp, timeout=15):
            self.stop()
            raise RuntimeError("corveld did not start listening on %d" % self.ftp_port)
        return self.process


class Control:
    """A raw FTP control connection for byte-exact checks."""

    def __init__(self, port, host=LOOPBACK, timeout=10, source=None):
        """source: the local address to connect from (any of 127.0.0.0/8 is loopback)."""
        self.sock = (connect_tcp(port, source, timeout, host) if source
                     else socket.create_connection((host, port), timeout=timeout))
        self.buffer = b""

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def reply(self, timeout=10):
        """Reads one complete reply (multi-line until 'ddd ' line); returns its bytes."""
        deadline = time.monotonic() + timeout
        while True:
            end = self._complete_reply_end()
            if end is not None:
                data, self.buffer = self.buffer[:end], self.buffer[end:]
                return data
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("no complete reply; have %r" % self.buffer)
            self.sock.settimeout(remaining)
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed; have %r" % self.buffer)
            self.buffer += chunk

    def _complete_reply_end(self):
        pos = 0
        while True:
            nl = self.buffer.find(b"\r\n", pos)
            if nl < 0:
                return None
            line = self.buffer[pos:nl]
            if len(line) >= 4 and line[:3].isdigit() and line[3:4] == b" ":
                return nl + 2
            pos = nl + 2

    def command(self, line, timeout=10):
        self.send(line + "\r\n")
        return self.reply(timeout)

    def login(self, user="anonymous", password="x"):
        self.command("USER " + user)
        return self.command("PASS " + password)

    def read_all_until_closed(self, timeout=10):
        deadline = time.monotonic() + timeout
        data = self.buffer
        self.buffer = b""
        while time.monotonic() < deadline:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                raise TimeoutError("still open; have %r" % data)
            except ConnectionResetError:
                return data
            if not chunk:
                return data
            data += chunk
        raise TimeoutError("still open; have %r" % data)


class SessionHelpers:
    """For a TestCase whose self.server runs: logged-in sessions closed when the test ends."""

    def control(self, user="u", password="pw"):
        """A raw session after its greeting (kept in self.greeting), logged in unless user is None."""
        c = Control(self.server.ftp_port)
        self.addCleanup(c.close)
        self.greeting = c.reply()
        if user:
            c.login(user, password)
        return c

    def ftp(self, user="u", password="pw"):
        """A stock ftplib session, logged in."""
        ftp = ftplib.FTP()
        ftp.connect(LOOPBACK, self.server.ftp_port, timeout=30)
        self.addCleanup(ftp.close)
        ftp.login(user, password)
        return ftp


def sftp_server(case, extra=""):
    """A server, not started yet, whose settings add <sftpport> on a free port and the
    elements in extra; it is cleaned up with case. Returns it and the SFTP port."""
    sftp_port = free_port()
    server = Server(start=False, settings=False)
    case.addCleanup(server.cleanup)
    server.write("ftpconfig.xml", settings_document(
        ftpport=server.ftp_port, httpport=server.web_port, extra="<sftpport>%d</sftpport>%s" % (sftp_port, extra)))
    return server, sftp_port


def greeting_of(port):
    with Control(port) as c:
        return c.reply()


def user_element(username, password_digest, work_dir, privilege=131074, alias="", welcome="", disabled="no"):
    return ('<user username="%s" password="%s" alias="%s" privilege="%s" work_dir="%s" '
            'welcome_msg="%s" disabled="%s" />' % (username, password_digest, alias, privilege, work_dir,
                                                 welcome, disabled))


def users_document(*elements):
    return "<users>" + "".join(elements) + "</users>"


def passive_data(control):
    """Sends PASV, connects the data socket; returns it."""
    reply = control.command("PASV").decode()
    numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
    host = ".".join(numbers[:4])
    port = int(numbers[4]) * 256 + int(numbers[5])
    return socket.create_connection((host, port), timeout=10)


def recv_all(sock, timeout=10):
    sock.settimeout(timeout)
    data = b""
    while True:
        chunk = sock.recv(1 << 20)
        if not chunk:
            return data
        data += chunk


def digest(password):
    """The stored digest of a password of at most 55 bytes (MD5, words printed as numbers)."""
    import hashlib
    raw = hashlib.md5(password.encode("latin-1")).digest()
    assert len(password) <= 55
    return "".join(raw[i:i + 4][::-1].hex().upper() for i in range(0, 16, 4))


def fetch(control, command):
    """Runs a command that sends data back (RETR, LIST, NLST) over a passive data
    connection; returns (opening reply, data, closing reply), the last two empty
    when the opening reply is not 150."""
    data = passive_data(control)
    opening = control.command(command)
    body = recv_all(data) if opening.startswith(b"150") else b""
    data.close()
    closing = control.reply() if opening.startswith(b"150") else b""
    return opening, body, closing
