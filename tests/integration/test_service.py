"""The run modes and service actions of the real corveld: -i/-u/-s/-e against a fake
systemctl, -d in the terminal, -f as a daemon, and the service row outside systemd.
Every mode must leave no process behind."""
import errno
import grp
import os
import signal
import socket
import subprocess
import time
import unittest

from harness import LOOPBACK, Server, wait_until

FAKE_SYSTEMCTL = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              "..", "unit", "service", "fake_systemctl.sh")
FAKE_GROUPADD = os.path.join(os.path.dirname(FAKE_SYSTEMCTL), "fake_groupadd.sh")
FAKE_JOURNALCTL = os.path.join(os.path.dirname(FAKE_SYSTEMCTL), "fake_journalctl.sh")


def group_exists(name):
    try:
        grp.getgrnam(name)
        return True
    except KeyError:
        return False


def processes_of(binary):
    """PIDs of live (not zombie) processes running this executable file."""
    real = os.path.realpath(binary)
    pids = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            if os.readlink("/proc/%s/exe" % name) != real:
                continue
            with open("/proc/%s/stat" % name) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue
        except OSError:
            continue
        pids.append(int(name))
    return pids


class ServiceTestCase(unittest.TestCase):
    def setUp(self):
        self.server = Server(start=False)
        self.unit_dir = self.server.path("units")
        self.fake_dir = self.server.path("fake")
        os.makedirs(self.unit_dir)
        os.makedirs(self.fake_dir)

    def tearDown(self):
        for pid in processes_of(self.server.binary):
            os.kill(pid, signal.SIGKILL)
        self.server.cleanup()

    def env(self):
        env = self.server.env()
        env.pop("NOTIFY_SOCKET", None)
        env.pop("INVOCATION_ID", None)
        env["CORVELFTP_SYSTEMCTL"] = os.path.abspath(FAKE_SYSTEMCTL)
        env["CORVELFTP_GROUPADD"] = os.path.abspath(FAKE_GROUPADD)
        env["CORVELFTP_JOURNALCTL"] = os.path.abspath(FAKE_JOURNALCTL)
        env["CORVELFTP_UNIT_DIR"] = self.unit_dir
        env["FAKE_SYSTEMCTL_DIR"] = self.fake_dir
        return env

    def corveld(self, *args, timeout=30):
        """Runs corveld to its end; returns (status, stdout, stderr)."""
        done = subprocess.run([self.server.binary, *args], env=self.env(), cwd=self.server.dir,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def fake(self, name, text):
        with open(os.path.join(self.fake_dir, name), "w") as f:
            f.write(text)

    def assertNoProcessLeft(self):
        self.assertTrue(wait_until(lambda: not processes_of(self.server.binary), timeout=10),
                        processes_of(self.server.binary))


class ServiceActions(ServiceTestCase):
    def unit(self):
        with open(os.path.join(self.unit_dir, "corvelftpservice.service")) as f:
            return f.read()

    def test_install_start_stop_remove(self):
        os.remove(self.server.path("ftpconfig.xml"))
        self.assertEqual(self.corveld("-l", "alice", "-p", "secret", "-i"), (0, "CorvelFtp Service installed.\n", ""))
        unit = self.unit()
        self.assertIn("\nExecStart=%s\n" % os.path.realpath(self.server.binary), unit)
        self.assertIn("\nUser=alice\n", unit)
        self.assertNotIn("secret", unit)
        self.assertIn("\nType=notify\n", unit)
        self.assertIn("\nGroup=corvelftp\n", unit)
        self.assertIn("\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n", unit)
        # The tables are loaded in every mode; the settings file only when serving.
        self.assertTrue(os.path.isfile(self.server.path("ftpusers.xml")))
        self.assertTrue(os.path.isfile(self.server.path("ftpaccess.xml")))
        self.assertTrue(os.path.isdir(self.server.path("anonymous")))
        self.assertFalse(os.path.exists(self.server.path("ftpconfig.xml")))

        self.assertEqual(self.corveld("-i")[1], "CreateService failed - The specified service already exists.\n")
        self.assertEqual(self.unit(), unit)

        self.fake("start_polls", "1")
        self.assertEqual(self.corveld("-s")[1], "Starting up CorvelFtp Service..\nCorvelFtp Service started.\n")
        self.assertEqual(self.corveld("-e")[1], "Stopping CorvelFtp Service.\nCorvelFtp Service stopped.\n")

        self.assertEqual(self.corveld("-s")[1], "Starting up CorvelFtp Service..\nCorvelFtp Service started.\n")
        self.fake("stop_polls", "2")
        # The last action wins: this removes.
        self.assertEqual(self.corveld("-i", "-u"),
                         (0, "Stopping CorvelFtp Service...\nCorvelFtp Service stopped.\n"
                             "CorvelFtp Service removed.\n", ""))
        self.assertFalse(os.path.exists(os.path.join(self.unit_dir, "corvelftpservice.service")))

        missing = "OpenService failed - The specified service does not exist as an installed service.\n"
        self.assertEqual(self.corveld("-s"), (0, missing, ""))
        self.assertEqual(self.corveld("-e"), (0, missing, ""))
        self.assertEqual(self.corveld("-u"), (0, missing, ""))

    def test_homes_come_from_the_users_file(self):
        self.server.write("ftpusers.xml",
                          '<users><user username="bob" password="x" alias="bob" privilege="0" '
                          'work_dir="/usr/share/corvel ftp" welcome_msg="hi" disabled="no" /></users>')
        self.assertEqual(self.corveld("-i"), (0, "CorvelFtp Service installed.\n", ""))
        unit = self.unit()
        self.assertIn('\nReadWritePaths="-/usr/share/corvel ftp"\n', unit)
        self.assertNotIn("User=", unit)
        self.assertNotIn("AmbientCapabilities=", unit)

    @unittest.skipIf(group_exists("corvelftp"), "this system has a corvelftp group; groupadd is not run")
    def test_install_creates_the_group_or_writes_nothing(self):
        self.fake("refuse_groupadd", "groupadd: Permission denied.\n")
        self.assertEqual(self.corveld("-i"), (0, "CreateService failed - The group corvelftp cannot be created: "
                                                "groupadd: Permission denied.\n", ""))
        self.assertEqual(os.listdir(self.unit_dir), [])
        os.remove(os.path.join(self.fake_dir, "refuse_groupadd"))
        self.assertEqual(self.corveld("-i"), (0, "CorvelFtp Service installed.\n", ""))
        with open(os.path.join(self.fake_dir, "log")) as f:
            self.assertIn("groupadd --system corvelftp\ndaemon-reload\n", f.read())
        # The group may hold administrators: a removal leaves it.
        self.corveld("-u")
        with open(os.path.join(self.fake_dir, "log")) as f:
            self.assertNotIn("groupdel", f.read())

    def test_refusals_print_the_system_text_and_exit_zero(self):
        self.fake("manager", "offline")
        self.assertEqual(self.corveld("-i"), (0, "OpenSCManager failed - The service manager (systemd) is not "
                                                "running on this system.\n", ""))
        os.remove(os.path.join(self.fake_dir, "manager"))
        self.corveld("-i")
        self.fake("refuse_start", "Job for corvelftpservice.service failed.\n")
        self.assertEqual(self.corveld("-s"), (0, "Starting up CorvelFtp Service.\nCorvelFtp Service failed to "
                                                "start: Job for corvelftpservice.service failed.\n", ""))

    def test_debug_before_install_runs_and_never_installs(self):
        self.server.start(args=("-d", "-i"))
        self.assertEqual(self.server.stop(), 0)
        self.assertEqual(os.listdir(self.unit_dir), [])


class TerminalMode(ServiceTestCase):
    def test_prints_its_line_and_stops_on_ctrl_c(self):
        self.server.start(args=("-d",))
        self.assertEqual(self.server.read("stdout.log"), b"Debugging CorvelFtp Service.\n")
        self.server.process.send_signal(signal.SIGINT)
        self.assertEqual(self.server.process.wait(10), 0)
        self.assertEqual(self.server.read("stdout.log"),
                         b"Debugging CorvelFtp Service.\nStopping CorvelFtp Service.\n")
        self.assertNoProcessLeft()

    def test_port_in_use_is_printed_to_standard_error(self):
        with socket.socket() as taken:
            taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            taken.bind((LOOPBACK, self.server.ftp_port))
            taken.listen(1)
            status, out, err = self.corveld("-d", timeout=20)
        self.assertEqual(status, 0)
        self.assertEqual(out, "Debugging CorvelFtp Service.\n")
        self.assertIn("CorvelFtp Service failed to start: cannot listen on FTP port %d" % self.server.ftp_port, err)
        self.assertNoProcessLeft()


class DaemonMode(ServiceTestCase):
    def start_daemon(self):
        started = time.monotonic()
        self.assertEqual(self.corveld("-f", timeout=10), (0, "", ""))
        self.assertLess(time.monotonic() - started, 5)
        self.assertTrue(wait_until(self.server.accepts_ftp, timeout=15))
        pids = processes_of(self.server.binary)
        self.assertEqual(len(pids), 1)
        pid = pids[0]
        self.assertNotEqual(os.getsid(pid), pid)  # no session leader: never regains a terminal
        self.assertNotEqual(os.getsid(pid), os.getsid(0))
        self.assertEqual(os.readlink("/proc/%d/cwd" % pid), "/")
        for fd in (0, 1, 2):
            self.assertEqual(os.readlink("/proc/%d/fd/%d" % (pid, fd)), "/dev/null")
        return pid

    def test_detaches_and_stops_on_sigterm(self):
        os.kill(self.start_daemon(), signal.SIGTERM)
        self.assertNoProcessLeft()

    def test_end_of_session_stops_it(self):
        os.kill(self.start_daemon(), signal.SIGHUP)
        self.assertNoProcessLeft()


class ServiceUnderSystemd(ServiceTestCase):
    """systemd's side played by a notification socket of our own."""

    def test_reports_ready_once_listening_and_stopping_on_sigterm(self):
        notify_path = self.server.path("notify")
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
            notify.bind(notify_path)
            notify.settimeout(15)
            env = self.env()
            env["NOTIFY_SOCKET"] = notify_path
            with open(self.server.path("stderr.log"), "wb") as err:
                self.server.process = subprocess.Popen([self.server.binary], env=env, cwd=self.server.dir,
                                                       stdin=subprocess.DEVNULL, stdout=err, stderr=err)
            ready = notify.recv(4096).decode().split("\n")
            self.assertIn("READY=1", ready)
            self.assertTrue(any(line.startswith("STATUS=") for line in ready))
            self.assertTrue(self.server.accepts_ftp())  # listening before it said so
            self.server.process.send_signal(signal.SIGTERM)
            self.assertIn("STOPPING=1", notify.recv(4096).decode().split("\n"))
            self.assertEqual(self.server.process.wait(10), 0)
        self.assertNoProcessLeft()

    def test_start_up_failure_is_reported_as_status(self):
        notify_path = self.server.path("notify")
        with socket.socket() as taken, socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
            taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            taken.bind((LOOPBACK, self.server.web_port))
            taken.listen(1)
            notify.bind(notify_path)
            notify.settimeout(15)
            env = self.env()
            env["INVOCATION_ID"] = "0123456789abcdef"
            env["NOTIFY_SOCKET"] = notify_path
            done = subprocess.run([self.server.binary], env=env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=20)
            # A failed start shows as failed in systemctl status: a failure exit, the
            # reason with the system's text, and its errno.
            self.assertEqual(done.returncode, 1)
            self.assertEqual(notify.recv(4096).decode(), "STATUS=CorvelFtp Service failed to start: "
                                                          "cannot listen on web port %d: Address already in use\n"
                                                          "ERRNO=%d" % (self.server.web_port, errno.EADDRINUSE))
        self.assertNoProcessLeft()


class ServiceRowOutsideSystemd(ServiceTestCase):
    def check_exits_promptly(self, *args):
        started = time.monotonic()
        status, out, err = self.corveld(*args, timeout=10)
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual((status, out), (0, ""))
        self.assertIn("not started by the service manager", err)
        self.assertFalse(self.server.accepts_ftp())
        self.assertNoProcessLeft()

    def test_no_argument_exits_zero(self):
        self.check_exits_promptly()

    def test_nontservice_with_a_second_argument_is_the_service_row(self):
        self.check_exits_promptly("/nontservice", "x")


if __name__ == "__main__":
    unittest.main()
