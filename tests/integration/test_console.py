"""The real corvelpanel with the real corveld, without a display.

Each console gets a temporary program directory holding copies of both programs, its
own CORVELFTP_RUNTIME_DIR, an empty unit directory and a systemctl stand-in, so the
service counts as not installed and the console runs corveld as a background server.
The console's status dump (CORVELPANEL_STATUS_DUMP) shows what it displays on each
tick. Every process started here, the detached server included, is ended by PID.
"""
import os
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import time
import unittest

from harness import BUILD_DIR, LOOPBACK, free_port, settings_document, wait_until

FAKE_SYSTEMCTL = """#!/bin/sh
# Stands in for systemctl: no unit of that name is known here.
echo "$@" >> "$(dirname "$0")/systemctl.log"
case "$1" in
  is-active) echo inactive; exit 3 ;;
  is-system-running) echo offline; exit 1 ;;
  *) echo "Unit corvelftpservice.service not found." >&2; exit 5 ;;
esac
"""


def process_gone(pid):
    """True when pid has ended (a zombie awaiting its reaper counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except (FileNotFoundError, ProcessLookupError):
        return True


class Console:
    """One corvelpanel in its own program directory."""

    def __init__(self, hidden=False):
        self.dir = tempfile.mkdtemp(prefix="corvelpanel-")
        self.runtime_dir = os.path.join(self.dir, "run")
        self.unit_dir = os.path.join(self.dir, "units")
        os.makedirs(self.runtime_dir)
        os.makedirs(self.unit_dir)
        for name in ("corvelpanel", "corveld"):
            shutil.copy2(os.path.join(BUILD_DIR, name), os.path.join(self.dir, name))
        self.systemctl = os.path.join(self.dir, "systemctl")
        with open(self.systemctl, "w") as f:
            f.write(FAKE_SYSTEMCTL)
        os.chmod(self.systemctl, stat.S_IRWXU)
        self.ftp_port = free_port()
        self.web_port = free_port()
        with open(os.path.join(self.dir, "ftpconfig.xml"), "w") as f:
            f.write(settings_document(listenip=LOOPBACK, ftpport=self.ftp_port, httpport=self.web_port, maxconn=7))
        self.dump = os.path.join(self.dir, "status.txt")
        self.hidden = hidden
        self.process = None
        self.server_pids = set()

    def env(self):
        env = dict(os.environ)
        env.update(QT_QPA_PLATFORM="offscreen", CORVELFTP_RUNTIME_DIR=self.runtime_dir,
                   CORVELFTP_UNIT_DIR=self.unit_dir, CORVELFTP_SYSTEMCTL=self.systemctl,
                   CORVELPANEL_STATUS_DUMP=self.dump)
        if self.hidden:
            env["CORVELPANEL_HIDDEN"] = "1"
        return env

    def start(self):
        self.process = subprocess.Popen([os.path.join(self.dir, "corvelpanel")], env=self.env(), cwd=self.dir,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def run_second(self, timeout=10):
        return subprocess.run([os.path.join(self.dir, "corvelpanel")], env=self.env(), cwd=self.dir,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def status(self):
        """The last dump as (fields, panel lines); ({}, []) before the first tick."""
        try:
            with open(self.dump) as f:
                text = f.read()
        except FileNotFoundError:
            return {}, []
        head, _, panel = text.partition("panel:\n")
        fields = dict(line.split("=", 1) for line in head.splitlines() if "=" in line)
        if fields.get("serverpid", "0") != "0":
            self.server_pids.add(int(fields["serverpid"]))
        return fields, panel.splitlines()

    def field(self, name):
        return self.status()[0].get(name)

    def wait_for(self, predicate, timeout=10):
        return wait_until(lambda: predicate(*self.status()), timeout=timeout)

    def cleanup(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)
        self.status()
        for pid in self.server_pids:
            if not process_gone(pid):
                os.kill(pid, signal.SIGKILL)
                wait_until(lambda: process_gone(pid), timeout=5)
        shutil.rmtree(self.dir, ignore_errors=True)


class ConsoleTest(unittest.TestCase):
    def console(self, **kwargs):
        console = Console(**kwargs)
        self.addCleanup(console.cleanup)
        return console.start()

    def test_starts_the_background_server_shows_it_and_stops_it_on_exit(self):
        console = self.console()
        self.assertTrue(console.wait_for(lambda f, lines: f.get("running") == "1" and len(lines) == 7),
                        console.status())
        fields, lines = console.status()
        self.assertEqual(lines[1], "LOCALHOST   IP: 127.0.0.1")
        self.assertEqual(lines[2], "      FTP PORT: %d" % console.ftp_port)
        self.assertEqual(lines[3], "      WEB PORT: %d" % console.web_port)
        self.assertEqual(lines[4], "  MAX SIM CONN: 7")
        self.assertEqual(lines[5], "  CURRENT CONN: 0")
        self.assertEqual(lines[6], "   HAS RUN FOR: 0:00")
        self.assertEqual((fields["start"], fields["stop"], fields["servicemode"], fields["servicemodechecked"]),
                         ("0", "1", "1", "0"))
        self.assertTrue(console.wait_for(lambda f, _: f.get("tray") == "idle"))
        server_pid = int(fields["serverpid"])
        self.assertFalse(process_gone(server_pid))

        with socket.create_connection((LOOPBACK, console.ftp_port), timeout=10) as client:
            self.assertTrue(client.recv(1024).startswith(b"220"))
            self.assertTrue(console.wait_for(lambda _, lines: "  CURRENT CONN: 1" in lines), console.status())
            frames = set()
            wait_until(lambda: frames.add(console.field("tray")) or len({f for f in frames if f.startswith("frame")}) >= 3,
                       timeout=5)
            self.assertGreaterEqual(len({f for f in frames if f.startswith("frame")}), 3, frames)
        self.assertTrue(console.wait_for(lambda f, lines: "  CURRENT CONN: 0" in lines and f.get("tray") == "idle"))

        # Ended by the system, the console leaves as Exit does: code 1, server told to stop.
        console.process.send_signal(signal.SIGTERM)
        self.assertEqual(console.process.wait(10), 1)
        self.assertTrue(wait_until(lambda: process_gone(server_pid), timeout=10))
        self.assertFalse(os.path.exists(os.path.join(console.runtime_dir, "CORVELFTP_STATUS")))

    def test_a_server_that_ends_shows_as_stopped(self):
        console = self.console()
        self.assertTrue(console.wait_for(lambda f, _: f.get("running") == "1"))
        os.kill(int(console.field("serverpid")), signal.SIGKILL)
        self.assertTrue(console.wait_for(
            lambda f, lines: lines == ["CorvelFtp Service is stoped."] and f.get("tray") == "stopped"
            and f.get("start") == "1" and f.get("stop") == "0"), console.status())

    def test_a_second_start_ends_with_minus_one_and_shows_the_hidden_first(self):
        console = self.console(hidden=True)
        self.assertTrue(console.wait_for(lambda f, _: f.get("running") == "1"))
        self.assertEqual(console.field("visible"), "0")
        self.assertEqual(console.run_second(), 255)
        self.assertTrue(console.wait_for(lambda f, _: f.get("visible") == "1", timeout=2))
        self.assertIsNone(console.process.poll())
        # Only the first console started a server.
        self.assertEqual(len(console.server_pids), 1)


if __name__ == "__main__":
    unittest.main()
