#!/usr/bin/env python3
"""Drives the module through the stand-in host against the stand-in service:
a one-feed configuration makes the worker ask for the first search page, and
the module's log shows the answer parsed. A second pass points the module at
a server whose answers carry no readable status, which must never count as a
successful request.

usage: host_page_test.py --host VDTHOST --module MODULE [--wine]
Environment: LUMORA_TEST_SERVICE_DIR (the running stand-in service).
"""

import os
import socket
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import arguments, control, plugin_lines, service_url, write_settings  # noqa: E402

HOST = None
FEED = {"Type": 0, "Flg": 1, "Query": "", "Categories": "111", "Purity": "100", "Sorting": 1, "TopRange": 3,
        "Atleast": "", "Ratios": ""}


def run_host(url, seconds, workdir):
    folder = os.path.join(workdir, "images")
    os.makedirs(folder, exist_ok=True)
    ini = os.path.join(workdir, "host.ini")
    write_settings(ini, HOST.path(folder), [FEED])
    # No API key: the native registry stand-in reads a file of this run's own.
    env = dict(os.environ, LUMORA_SERVICE_URL=url, LUMORA_REGISTRY_FILE=os.path.join(workdir, "registry.ini"))
    code, out = HOST.run(ini, "run", "--seconds", seconds, env=env, timeout=180)
    return code, out, plugin_lines(out)


class HostDrivesAPage(unittest.TestCase):
    def test_first_search_page_is_requested_and_parsed(self):
        control("POST", "reset", {})
        with tempfile.TemporaryDirectory(dir=os.getcwd()) as work:
            code, out, lines = run_host(service_url(), 4, work)
        self.assertEqual(code, 0, out)
        searches = [e for e in control("GET", "log") if e["url"].startswith("/api/v1/search")]
        self.assertTrue(searches, out)
        first = searches[0]
        self.assertEqual(first["method"], "GET")
        self.assertEqual(first["url"], "/api/v1/search?categories=111&purity=100&sorting=date_added&page=1")
        self.assertEqual(first["headers"].get("User-Agent"), "Mozilla/5.0 (compatible; MSIE 10.0)")
        self.assertNotIn("X-API-Key", first["headers"])
        self.assertIn("QueryServerApi: RetCode: 0", lines, out)
        parsed = [l for l in lines if l.startswith("ParseWallpaperArray: parsed 24 wallpapers, total=")]
        self.assertTrue(parsed, out)


class Garbage(threading.Thread):
    """A server that answers every connection with fixed bytes, then closes."""

    def __init__(self, reply):
        super().__init__(daemon=True)
        self.reply = reply
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.stopping = False
        self.hits = 0

    def run(self):
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                continue
            with conn:
                conn.settimeout(5)
                try:
                    data = b""
                    while b"\r\n\r\n" not in data:
                        piece = conn.recv(4096)
                        if not piece:
                            break
                        data += piece
                    self.hits += 1
                    conn.sendall(self.reply)
                except OSError:
                    pass

    def stop(self):
        self.stopping = True
        self.join(5)
        self.sock.close()


class UnreadableStatus(unittest.TestCase):
    REPLIES = [
        b'{"data":[{"id":"abc123"}],"meta":{"last_page":1,"total":1}}\n',   # no status line at all
        b"HTTP/1.0 OK Fine\r\nContent-Length: 2\r\n\r\n{}",               # no status number
    ]

    def test_no_status_is_never_success(self):
        for reply in self.REPLIES:
            with self.subTest(reply=reply[:30]):
                server = Garbage(reply)
                server.start()
                try:
                    with tempfile.TemporaryDirectory(dir=os.getcwd()) as work:
                        code, out, lines = run_host("http://127.0.0.1:%d" % server.port, 3, work)
                finally:
                    server.stop()
                self.assertEqual(code, 0, out)
                self.assertGreater(server.hits, 0, out)
                retcodes = [l for l in lines if l.startswith("QueryServerApi: RetCode: ")]
                self.assertTrue(retcodes, out)
                self.assertNotIn("QueryServerApi: RetCode: 0", lines, out)
                self.assertFalse([l for l in lines if l.startswith("ParseWallpaperArray: parsed")], out)


def main():
    global HOST
    _, HOST, argv = arguments(__doc__)
    result = unittest.main(argv=argv + ["-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
