"""The unit that corveld -i writes, under a real systemd: tests/systemd/unit_lifecycle.sh
runs inside a Debian 12 container with systemd as PID 1 (systemd-container.sh), where
it installs, starts, checks, fails on purpose, stops and removes the service, as root
and as an unprivileged account on port 21: the exposure rating of both units, clients
in homes below /srv and /home, a restart after kill -9, a failed start told by
"corveld -s" within 20 s, and the warning about a home added after the install.

Needs root and the container tool: $CORVEL_SYSTEMD_CONTAINER, else
../../../shared/tools/systemd-container.sh from this folder. The first run builds the
container's root file system with debootstrap (a few minutes, cached under /var/tmp);
after that the whole test takes about twenty seconds."""
import os
import signal
import subprocess
import sys
import unittest

from harness import BUILD_DIR

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.realpath(os.path.join(HERE, "..", ".."))
TOOL = os.environ.get("CORVEL_SYSTEMD_CONTAINER") or os.path.join(
    HERE, "..", "..", "..", "shared", "tools", "systemd-container.sh")
# What the script inside may take (SDC_TIMEOUT); its own waits are far shorter.
SCRIPT_LIMIT_S = 150
# Booting and shutting the container down, on top of the script.
CONTAINER_SLACK_S = 90
# A first run builds the root file system before it boots.
ROOT_BUILD_S = 600
# How long the tool may take to halt its container after SIGTERM (it allows 30 s).
HALT_WAIT_S = 45


def root_file_system_ready():
    root = os.environ.get("SDC_ROOT", "/var/tmp/corvel-systemd-root")
    return os.access(os.path.join(root, "lib", "systemd", "systemd"), os.X_OK)


def children_of(pid):
    found = []
    for name in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % name) as f:
                if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    found.append(int(name))
        except (OSError, ValueError, IndexError):
            continue
    return found


def run_tool(arguments, env, limit):
    """Runs the container tool; returns (status, output), or (None, output) when it
    outlived limit and was stopped: SIGTERM to it and to its systemd-nspawn (a session
    of its own), which halts the container, then SIGKILL for both."""
    tool = subprocess.Popen(arguments, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        output, _ = tool.communicate(timeout=limit)
        return tool.returncode, output.decode(errors="replace")
    except subprocess.TimeoutExpired:
        children = children_of(tool.pid)
        for pid in [tool.pid] + children:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        try:
            output, _ = tool.communicate(timeout=HALT_WAIT_S)
        except subprocess.TimeoutExpired:
            for child in children:
                try:
                    os.kill(child, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            tool.kill()
            output, _ = tool.communicate()
        return None, output.decode(errors="replace")


def build_dir_in_repo():
    """The build folder relative to the repository (the container sees only that), or None."""
    build = os.path.realpath(BUILD_DIR)
    relative = os.path.relpath(build, REPO)
    return None if relative.startswith("..") else relative


@unittest.skipUnless(os.path.isfile(TOOL) and os.access(TOOL, os.X_OK),
                     "no systemd container tool at %s (set CORVEL_SYSTEMD_CONTAINER)" % os.path.normpath(TOOL))
@unittest.skipUnless(os.geteuid() == 0, "booting a systemd container needs root")
class UnitUnderSystemd(unittest.TestCase):
    def test_install_start_fail_stop_remove(self):
        build = build_dir_in_repo()
        if build is None:
            self.skipTest("the build folder %s lies outside the repository the container sees" % BUILD_DIR)
        if not os.path.isfile(os.path.join(REPO, build, "corveld")):
            self.fail("no corveld in %s" % os.path.join(REPO, build))
        limit = SCRIPT_LIMIT_S + CONTAINER_SLACK_S + (0 if root_file_system_ready() else ROOT_BUILD_S)
        env = dict(os.environ, SDC_TIMEOUT=str(SCRIPT_LIMIT_S))
        command = "bash tests/systemd/unit_lifecycle.sh %s" % build
        status, output = run_tool([TOOL, REPO, command], env, limit)
        if status is None:
            self.fail("the container did not finish within %d s:\n%s" % (limit, output))
        if status == 125:
            # The tool's own code for "no container could be booted on this machine"
            # (no debootstrap mirror, no systemd-nspawn): nothing of ours was tried.
            self.skipTest("no systemd container could be booted here:\n%s" % output[-2000:])
        self.assertEqual(status, 0, "systemd-container.sh exited with %d:\n%s" % (status, output))
        self.assertIn("ALL PASSED", output, output)
        for line in output.splitlines():
            if line.startswith("PENDING:"):
                print("\n" + line, file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
