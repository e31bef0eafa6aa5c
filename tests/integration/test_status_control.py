"""The server's named objects seen from outside: status block bytes, reload
requests, stop event, heartbeat and the single plain instance."""
import os
import signal
import socket
import struct
import subprocess
import time
import unittest

from harness import BUILD_DIR, Control, Server, digest, user_element, users_document, wait_until

TOOL = os.path.join(BUILD_DIR, "named_object_tool")


def tool(server, *args, timeout=30):
    return subprocess.run([TOOL, *args], env=server.env(), capture_output=True, text=True, timeout=timeout)


def status(server):
    with open(os.path.join(server.runtime_dir, "CORVELFTP_STATUS"), "rb") as f:
        data = f.read()
    assert len(data) == 32, len(data)
    address = data[:16].split(b"\0")[0].decode()
    ftp, web, limit = struct.unpack_from("<HHH", data, 16)
    active, start = struct.unpack_from("<ii", data, 24)
    return {"address": address, "ftp": ftp, "web": web, "limit": limit, "active": active, "start": start,
            "pad": data[22:24]}


class StatusBlock(unittest.TestCase):
    def test_status_bytes_follow_the_live_session_count(self):
        before = int(time.time())
        server = Server(listenip="127.0.0.1", maxconn=70000)
        try:
            self.assertTrue(wait_until(lambda: status(server)["ftp"] == server.ftp_port, timeout=5))
            s = status(server)
            self.assertEqual(s["address"], "127.0.0.1")
            self.assertEqual((s["web"], s["limit"], s["pad"]), (server.web_port, 70000 & 0xFFFF, b"\0\0"))
            self.assertTrue(before - 1 <= s["start"] <= int(time.time()) + 1)
            self.assertTrue(wait_until(lambda: status(server)["active"] == 0, timeout=5))
            sessions = [Control(server.ftp_port) for _ in range(2)]
            for c in sessions:
                c.reply()
            web = [socket.create_connection(("127.0.0.1", server.web_port)) for _ in range(3)]
            self.assertTrue(wait_until(lambda: status(server)["active"] == 2, timeout=5))
            time.sleep(0.5)
            self.assertEqual(status(server)["active"], 2)  # web connections are not counted
            for c in sessions:
                c.close()
            for w in web:
                w.close()
            self.assertTrue(wait_until(lambda: status(server)["active"] == 0, timeout=5))
        finally:
            server.cleanup()

    def test_empty_listen_address_is_published_empty(self):
        server = Server()
        try:
            self.assertTrue(wait_until(lambda: status(server)["ftp"] == server.ftp_port, timeout=5))
            self.assertEqual(status(server)["address"], "")
        finally:
            server.cleanup()


class Control_(unittest.TestCase):
    def test_reload_bits_take_effect_within_a_turn_and_only_they_are_cleared(self):
        server = Server(welcomemsg="", start=False)
        home = server.path("h")
        os.makedirs(home)
        server.write("ftpusers.xml", users_document(user_element("old", digest("pw"), home)))
        server.start()
        try:
            server.write("ftpusers.xml", users_document(user_element("new", digest("pw"), home)))
            server.write("ftpaccess.xml", '<a><iptable type="REJECT"><ip value="127.*"/></iptable></a>')
            self.assertEqual(tool(server, "set-control", str(0x2 | 0x10)).returncode, 0)
            self.assertTrue(wait_until(lambda: tool(server, "read-control", "x").stdout.strip() == "16", timeout=3))
            with Control(server.ftp_port) as c:
                c.reply()
                self.assertTrue(c.login("new", "pw").endswith(b"230 new logged in.\r\n"))
            self.assertEqual(tool(server, "set-control", "4").returncode, 0)
            self.assertTrue(wait_until(lambda: tool(server, "read-control", "x").stdout.strip() == "16", timeout=3))
            with Control(server.ftp_port) as c:
                self.assertEqual(c.read_all_until_closed(), b"")
        finally:
            server.cleanup()

    def test_stop_event_ends_an_idle_server_quickly(self):
        server = Server()
        try:
            time.sleep(0.5)
            start = time.monotonic()
            self.assertEqual(tool(server, "signal", "CORVELFTP_BASICSVRSTOP_EVENT").returncode, 0)
            server.process.wait(5)
            self.assertLess(time.monotonic() - start, 0.6)
            self.assertEqual(server.process.returncode, 0)
        finally:
            server.cleanup()

    def test_heartbeat_is_about_six_signals_a_second(self):
        server = Server()
        try:
            count = int(tool(server, "count", "CORVELFTP_BASICSVREXIST_EVENT", "3").stdout)
            self.assertGreaterEqual(count, 12)
            self.assertLessEqual(count, 24)
        finally:
            server.cleanup()

    def test_stuck_status_mutex_holder_never_stops_the_accept_loop(self):
        server = Server(welcomemsg="")
        try:
            holder = subprocess.Popen([TOOL, "hold", "CORVELFTP_STATUSMutex", "8"], env=server.env(),
                                      stdout=subprocess.PIPE, text=True)
            try:
                self.assertEqual(holder.stdout.readline().strip(), "held")
                start = time.monotonic()
                with Control(server.ftp_port, timeout=20) as c:
                    self.assertTrue(c.reply(timeout=20).startswith(b"220"))
                self.assertLess(time.monotonic() - start, 7)
            finally:
                holder.wait(20)
                holder.stdout.close()
            self.assertTrue(wait_until(lambda: status(server)["ftp"] == server.ftp_port, timeout=8))
        finally:
            server.cleanup()


class SingleInstance(unittest.TestCase):
    def test_second_plain_server_exits_at_once_and_a_killed_one_is_replaced(self):
        first = Server()
        try:
            second = subprocess.run([first.binary, "/nontservice"], env=first.env(), timeout=10)
            self.assertEqual(second.returncode, 0)
            self.assertTrue(first.accepts_ftp())
            first.process.send_signal(signal.SIGKILL)
            first.process.wait(5)
            first.start()
            with Control(first.ftp_port) as c:
                self.assertTrue(c.reply().startswith(b"220"))
        finally:
            first.cleanup()

    def test_runtime_directories_keep_servers_apart(self):
        a, b = Server(), Server()
        try:
            self.assertTrue(a.accepts_ftp() and b.accepts_ftp())
        finally:
            a.cleanup()
            b.cleanup()


if __name__ == "__main__":
    unittest.main()
