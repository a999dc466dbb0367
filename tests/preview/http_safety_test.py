"""`lumets preview` against other local users and hostile clients: the session's
token, slow and crowding clients, unbounded bodies, ambiguous requests.

Usage: http_safety_test.py LUMETS SOURCE_DIR
"""
import http.client
import json
import os
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import Preview  # noqa: E402

LUMETS, SOURCE = sys.argv[1], sys.argv[2]


def exchange(port, data, timeout=5.0):
    """Sends raw bytes and returns (status, headers, body) of the answer."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        return read_answer(s)


def read_answer(s):
    got = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        got += chunk
    head, _, body = got.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}
    return int(lines[0].split()[1]), headers, body


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))


class SlowClient(threading.Thread):
    """Sends a request head a byte every `pause` seconds until the server answers."""

    def __init__(self, port, pause=0.5, limit=20.0):
        super().__init__(daemon=True)
        self.port, self.pause, self.limit, self.status, self.answered_after = port, pause, limit, None, None
        self.stop = threading.Event()

    def run(self):
        start = time.time()
        head = b"GET /api/controls HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX-Padding: " % self.port + b"x" * 1000
        with socket.create_connection(("127.0.0.1", self.port), timeout=self.limit) as s:
            s.setblocking(False)
            for byte in head:
                if self.stop.is_set() or time.time() - start > self.limit:
                    return
                try:  # the answer, if one came, before the next byte
                    answer = s.recv(4096)
                    if answer.startswith(b"HTTP/1.1 "):
                        self.status = int(answer.split()[1])
                    self.answered_after = time.time() - start
                    return
                except BlockingIOError:
                    pass
                except OSError:
                    self.answered_after = time.time() - start
                    return
                try:
                    s.send(bytes([byte]))
                except OSError:
                    return
                time.sleep(self.pause)


class PreviewSafety(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = Preview(LUMETS, SOURCE)

    @classmethod
    def tearDownClass(cls):
        if cls.p.stop() != 0:
            raise AssertionError("the preview server ended badly: " + cls.p.stderr[-2000:])

    def test_every_request_needs_the_sessions_token(self):
        p = self.p
        self.assertRegex(p.token, r"^[0-9a-f]{32,}$")
        with open(p.flow, "rb") as f:
            flow_before = f.read()
        wrong = "0" * len(p.token) if p.token != "0" * len(p.token) else "1" * len(p.token)
        requests = [("GET", "/", None), ("GET", "/preview.js", None), ("GET", "/preview.css", None),
                    ("GET", "/api/controls", None), ("GET", "/api/frame/3.png", None),
                    ("POST", "/api/save", {}), ("POST", "/api/set", {"name": "Birthrate", "value": 7}),
                    ("POST", "/api/press", {"name": "RecordNow"}), ("GET", "/api/render", None)]
        for method, path, body in requests:
            for headers, query in (({}, ""), ({"X-Lumets-Token": wrong}, ""), ({}, "?token=" + wrong),
                                   ({}, "?token=" + p.token[:-1])):
                with self.subTest(method=method, path=path + query, headers=headers):
                    status, reply = p.request(method, path + query, body, headers, token=bool(headers))
                    self.assertEqual(status, 403, reply)
                    self.assertIn("token", reply["error"])
        with open(p.flow, "rb") as f:
            self.assertEqual(f.read(), flow_before)
        # The printed address opens the page; its script and style sheet carry the
        # token; nothing is put in a cookie and no address leaves as a Referer.
        conn = http.client.HTTPConnection("127.0.0.1", p.port, timeout=30)
        conn.request("GET", "/?token=" + p.token, headers={"Host": "127.0.0.1:%d" % p.port})
        r = conn.getresponse()
        page = r.read().decode()
        conn.close()
        self.assertEqual(r.status, 200)
        self.assertIsNone(r.getheader("Set-Cookie"))
        self.assertEqual(r.getheader("Referrer-Policy"), "no-referrer")
        for asset in ("/preview.js?token=" + p.token, "/preview.css?token=" + p.token):
            self.assertIn('"%s"' % asset, page)
            self.assertEqual(p.request("GET", asset, token=False)[0], 200)
        self.assertEqual(p.request("GET", "/api/controls")[0], 200)

    def test_requests_that_read_two_ways_are_refused(self):
        p = self.p
        # Only application/json itself (with parameters) counts as JSON.
        status, reply = p.request("POST", "/api/set", {"name": "Birthrate", "value": 7},
                                  {"Content-Type": "application/jsonx"})
        self.assertEqual(status, 415, reply)
        status, reply = p.request("POST", "/api/set", {"name": "Birthrate", "value": 7},
                                  {"Content-Type": "Application/JSON; charset=utf-8"})
        self.assertEqual(status, 200, reply)
        # Two Host headers, whichever comes first.
        for hosts in (("127.0.0.1:%d" % p.port, "attacker.example"), ("attacker.example", "127.0.0.1:%d" % p.port)):
            with self.subTest(hosts=hosts):
                status, _, body = exchange(p.port, ("GET /api/controls HTTP/1.1\r\nHost: %s\r\nHost: %s\r\n"
                                                    "X-Lumets-Token: %s\r\nConnection: close\r\n\r\n" % (hosts + (p.token,))).encode())
                self.assertEqual(status, 400, body[:200])
                self.assertIn("Host", json.loads(body)["error"])

    def test_error_texts_keep_what_follows_a_nul(self):
        for key, body in (("name", {"name": "Birth\u0000rate", "value": 1}),
                          ("file", {"name": "SaveFile", "file": "a\u0000b.lpd"})):
            with self.subTest(body=body):
                status, reply = self.p.request("POST", "/api/set" if "value" in body else "/api/press", body)
                self.assertEqual(status, 400, reply)
                self.assertIn("\\x00", reply["error"])
                self.assertIn("rate" if key == "name" else "b.lpd", reply["error"])

    def test_bodies_are_bounded_before_they_are_read(self):
        p = self.p
        head = ("POST /api/set HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX-Lumets-Token: %s\r\n"
                "Content-Type: application/json\r\n" % (p.port, p.token))
        # Refused from the head alone: no body is sent, and the answer comes at once.
        for extra, want in (("Transfer-Encoding: chunked\r\n", 411), ("Content-Length: 62914560\r\n", 413)):
            with self.subTest(extra=extra):
                status, _, body = exchange(p.port, (head + extra + "\r\n").encode(), timeout=5)
                self.assertEqual(status, want, body[:200])
        # Deep, wide and repeated-key bodies within the limit are refused without
        # the memory growing far beyond them.
        before = rss_kib(p.proc.pid)
        for body in (b"[" * 1000000, b"[" + b"[]," * 330000 + b"[]]", b'{"name": "Birthrate", "name": 1}'):
            status, reply = self.post_raw(body)
            self.assertEqual(status, 400, reply)
        self.assertLess(rss_kib(p.proc.pid) - before, 64 << 10)
        self.assertEqual(p.request("GET", "/api/controls")[0], 200)

    def post_raw(self, data):
        conn = http.client.HTTPConnection("127.0.0.1", self.p.port, timeout=60)
        conn.request("POST", "/api/set", body=data, headers={
            "Host": "127.0.0.1:%d" % self.p.port, "X-Lumets-Token": self.p.token, "Content-Type": "application/json"})
        r = conn.getresponse()
        payload = r.read()
        conn.close()
        return r.status, payload[:200]

    def test_slow_clients_neither_starve_others_nor_stay(self):
        p = self.p
        slow = [SlowClient(p.port) for _ in range(8)]
        for c in slow:
            c.start()
        try:
            time.sleep(1.0)
            # Normal requests are answered at once meanwhile.
            for _ in range(3):
                start = time.time()
                conn = http.client.HTTPConnection("127.0.0.1", p.port, timeout=5)
                conn.request("GET", "/api/render", headers={"Host": "127.0.0.1:%d" % p.port,
                                                            "X-Lumets-Token": p.token})
                self.assertEqual(conn.getresponse().status, 200)
                conn.close()
                self.assertLess(time.time() - start, 2.0)
            # Each slow client is answered 408 when its request's time is up.
            for c in slow:
                c.join(timeout=20)
            self.assertEqual([c.status for c in slow], [408] * 8)
            self.assertTrue(all(9 <= c.answered_after <= 14 for c in slow), [c.answered_after for c in slow])
        finally:
            for c in slow:
                c.stop.set()

    def test_connections_beyond_the_limit_are_turned_away(self):
        p = self.p
        idle = []
        try:
            for _ in range(40):
                idle.append(socket.create_connection(("127.0.0.1", p.port), timeout=5))
            turned_away = 0
            for s in idle[32:]:
                s.settimeout(3)
                status, _, body = read_answer(s)
                self.assertEqual(status, 503, body[:200])
                turned_away += 1
            self.assertEqual(turned_away, 8)
        finally:
            for s in idle:
                s.close()
        # Once they are gone, requests are served again.
        deadline = time.time() + 5
        while p.request("GET", "/api/render")[0] != 200 and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(p.request("GET", "/api/render")[0], 200)

    def test_terminate_ends_at_once_despite_slow_clients(self):
        other = Preview(LUMETS, SOURCE)
        slow = [SlowClient(other.port, limit=10) for _ in range(8)]
        try:
            for c in slow:
                c.start()
            time.sleep(1.0)
            start = time.time()
            other.proc.terminate()
            self.assertEqual(other.proc.wait(timeout=10), 0)
            self.assertLess(time.time() - start, 1.5)
        finally:
            for c in slow:
                c.stop.set()
            other.stop()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
