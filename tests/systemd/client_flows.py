"""What clients do with the service under its unit, for tests/systemd/unit_lifecycle.sh:
each call that the confinement could refuse (splice on uploads, sendfile on downloads,
listings, folders, renames, TLS with the certificate the server made itself, the web
port) is made for real, and every result is checked against the disk.

    client_flows.py users NAME:HOME ...        prints an ftpusers.xml (password "pw-NAME",
                                               every right) for these accounts
    client_flows.py ftp PORT NAME HOME [tls]   the FTP flows as NAME, whose home is HOME
    client_flows.py web PORT NAME HOME         a download through the web port

Exits 0 when every check holds, else prints the first failure and exits 1."""
import base64
import ftplib
import io
import os
import ssl
import sys
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration"))
from harness import digest, user_element, users_document  # noqa: E402

# Every right of an account: files (create, read, write, remove), folders (create,
# list, remove).
ALL_RIGHTS = 0x1 | 0x2 | 0x4 | 0x8 | 0x10000 | 0x20000 | 0x40000
# Large enough that an upload goes through the pipe in many steps, small enough for
# a test that takes seconds.
PAYLOAD = os.urandom(3 * 1024 * 1024 + 17)
TIMEOUT_S = 20


def password_of(name):
    return "pw-" + name


class ReusingFtpTls(ftplib.FTP_TLS):
    """FTP_TLS whose data connections resume the control connection's session, as
    curl, lftp and FileZilla do (the server refuses data connections that do not)."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


def check(condition, what):
    if not condition:
        raise SystemExit("FAIL: " + what)


def on_disk(path):
    with open(path, "rb") as f:
        return f.read()


def ftp_flows(port, name, home, tls):
    if tls:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        ftp = ReusingFtpTls(context=context, timeout=TIMEOUT_S)
    else:
        ftp = ftplib.FTP(timeout=TIMEOUT_S)
    ftp.connect("127.0.0.1", port)
    if tls:
        ftp.auth()
    ftp.login(name, password_of(name))
    if tls:
        ftp.prot_p()
    label = "tls" if tls else "clear"
    stored = "upload-%s.bin" % label
    ftp.storbinary("STOR " + stored, io.BytesIO(PAYLOAD))
    check(on_disk(os.path.join(home, stored)) == PAYLOAD, "%s upload of %s into %s differs" % (label, name, home))
    ftp.storbinary("APPE " + stored, io.BytesIO(b"tail"))
    check(on_disk(os.path.join(home, stored)) == PAYLOAD + b"tail", "%s append into %s differs" % (label, home))
    fetched = io.BytesIO()
    ftp.retrbinary("RETR " + stored, fetched.write)
    check(fetched.getvalue() == PAYLOAD + b"tail", "%s download from %s differs" % (label, home))
    fetched = io.BytesIO()
    ftp.retrbinary("RETR " + stored, fetched.write, rest=len(PAYLOAD))
    check(fetched.getvalue() == b"tail", "%s resumed download from %s differs" % (label, home))
    folder = "folder-" + label
    ftp.mkd(folder)
    ftp.rename(stored, folder + "/moved.bin")
    check(os.path.isfile(os.path.join(home, folder, "moved.bin")), "the %s rename did not happen on disk" % label)
    lines = []
    ftp.retrlines("LIST " + folder, lines.append)
    check(any(line.endswith(" moved.bin") for line in lines), "the %s LIST lacks moved.bin: %r" % (label, lines))
    check(ftp.nlst() and folder in " ".join(ftp.nlst()), "the %s NLST lacks %s" % (label, folder))
    ftp.delete(folder + "/moved.bin")
    ftp.rmd(folder)
    check(not os.path.exists(os.path.join(home, folder)), "the %s folder was not removed" % label)
    ftp.quit()


def web_flow(port, name, home):
    with open(os.path.join(home, "web.bin"), "wb") as f:
        f.write(PAYLOAD)
    request = urllib.request.Request("http://127.0.0.1:%d/download.html?path=web.bin" % port)
    token = base64.b64encode(("%s:%s" % (name, password_of(name))).encode()).decode()
    request.add_header("Authorization", "Basic " + token)
    with urllib.request.urlopen(request, timeout=TIMEOUT_S) as answer:
        check(answer.read() == PAYLOAD, "the web download from %s differs" % home)
    os.remove(os.path.join(home, "web.bin"))


def main(arguments):
    if arguments[:1] == ["users"]:
        elements = []
        for account in arguments[1:]:
            name, home = account.split(":", 1)
            elements.append(user_element(name, digest(password_of(name)), home, privilege=ALL_RIGHTS))
        print(users_document(*elements))
    elif arguments[:1] == ["ftp"] and len(arguments) in (4, 5):
        ftp_flows(int(arguments[1]), arguments[2], arguments[3], arguments[4:] == ["tls"])
    elif arguments[:1] == ["web"] and len(arguments) == 4:
        web_flow(int(arguments[1]), arguments[2], arguments[3])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (OSError, ftplib.Error, EOFError) as error:
        raise SystemExit("FAIL: %s: %s" % (type(error).__name__, error))
