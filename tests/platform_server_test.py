#!/usr/bin/env python3
"""Checks the running reference platform (tools/platform_server.py), started by the CTest fixture.

CORVEL_CONFIG names the configuration the server was started with; CORVEL_PLATFORM_PORT_BASE
overrides its port base.
"""
import http.client
import json
import os
import re
import socket
import ssl
import threading
import time
import unittest
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PKI = os.path.join(ROOT, "tools", "pki")
with open(os.environ.get("CORVEL_CONFIG", os.path.join(ROOT, "config", "corvel.json")),
          encoding="utf-8") as _f:
    CFG = json.load(_f)
BASE = int(os.environ.get("CORVEL_PLATFORM_PORT_BASE") or
           urllib.parse.urlsplit(CFG["platform_base_url"]).port)
PLAIN, CONTROL = BASE + 37, BASE + 36
FORM = "application/x-www-form-urlencoded"
GOOD_HEADERS = {"X-Secret": CFG["x_secret"], CFG["constant_header_name"]: CFG["constant_header_value"],
                "Content-Type": FORM}
UNVERIFIED = ssl._create_unverified_context()  # chains are checked in test_tls_chains


def connect(port, tls=True):
    if tls:
        return http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=UNVERIFIED)
    return http.client.HTTPConnection("127.0.0.1", port, timeout=10)


def fetch(path, method="GET", headers=None, body=None, port=BASE, tls=True):
    conn = connect(port, tls)
    try:
        conn.request(method, path, body=body, headers=headers or {})
        resp = conn.getresponse()
        return resp.status, dict(resp.getheaders()), resp.read()
    finally:
        conn.close()


def control(method, path, doc=None):
    conn = connect(CONTROL, tls=False)
    try:
        conn.request(method, path, body=None if doc is None else json.dumps(doc))
        resp = conn.getresponse()
        data = resp.read()
        return resp.status, (json.loads(data) if path != "/health" else data)
    finally:
        conn.close()


def server_log():
    return control("GET", "/log")[1]


def form(token, link_id):
    return urllib.parse.urlencode({CFG["form_token_field"]: token,
                                   CFG["form_content_link_field"]: link_id})


def put_content(body, headers=GOOD_HEADERS, port=BASE, tls=True):
    status, _, data = fetch(CFG["content_path"], "PUT", headers, body.encode(), port, tls)
    return status, json.loads(data)


def pem_certs(name):
    with open(os.path.join(PKI, name), encoding="ascii") as f:
        return [ssl.PEM_cert_to_DER_cert(b) for b in
                re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----", f.read(), re.S)]


class PlatformServerTest(unittest.TestCase):
    def setUp(self):
        self.assertEqual(control("GET", "/health"), (200, b"ok"))
        control("POST", "/reset")

    tearDown = setUp

    def test_tls_chains(self):
        # Trusting only the root proves the intermediate is presented; the leaf must be the file's.
        ports = [(0, "chain-main.pem", "root-a.pem"), (1, "chain-interceptor.pem", "root-x.pem"),
                 (2, "chain-rotated-leaf.pem", "root-a.pem"), (3, "chain-root-only.pem", "root-a.pem"),
                 (4, "chain-intermediate-only.pem", "root-c.pem")]
        for offset, chain, root in ports:
            for version in (ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3):
                with self.subTest(port=BASE + offset, version=version.name):
                    ctx = ssl.create_default_context(cafile=os.path.join(PKI, root))
                    ctx.minimum_version = ctx.maximum_version = version
                    with socket.create_connection(("127.0.0.1", BASE + offset), timeout=10) as raw:
                        with ctx.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
                            self.assertEqual(tls.version(), {"TLSv1_2": "TLSv1.2"}.get(
                                version.name, "TLSv1.3"))
                            self.assertEqual(tls.getpeercert(binary_form=True), pem_certs(chain)[0])

    def test_tls_plan_switches_chains_per_connection(self):
        # Catches a plan that is not followed connection by connection, a last chain that does
        # not stay, an answer that keeps its connection under "close", and a plan that survives
        # /reset.
        port = BASE + 2
        self.assertEqual(control("POST", "/tls", {"port": port, "chains": ["rotated", "interceptor", "spliced"],
                                                   "close": True})[0], 200)
        for _ in range(4):
            conn = connect(port)
            conn.request("GET", CFG["version_path"])
            resp = conn.getresponse()
            resp.read()
            self.assertEqual(resp.getheader("Connection"), "close")
            conn.close()
        self.assertEqual([r["chain"] for r in server_log()["requests"]],
                         ["rotated", "interceptor", "spliced", "spliced"])
        for name, pem in (("product-root", "chain-product-root.pem"), ("without-root", "chain-without-root.pem")):
            control("POST", "/tls", {"port": port, "chains": [name]})
            with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
                with UNVERIFIED.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
                    self.assertEqual(tls.getpeercert(binary_form=True), pem_certs(pem)[0])
        for bad in ({"port": 1, "chains": ["main"]}, {"port": port, "chains": []},
                    {"port": port, "chains": ["unknown"]}, {"port": port, "chains": ["main"], "close": 1}):
            self.assertEqual(control("POST", "/tls", bad)[0], 400, bad)
        control("POST", "/reset")
        status, headers, _ = fetch(CFG["version_path"], port=port)
        self.assertEqual(status, 200)
        self.assertNotEqual(headers.get("Connection"), "close")
        self.assertEqual(server_log()["requests"][0]["chain"], "rotated")

    def test_keep_alive_and_counters(self):
        for port, tls in ((BASE, True), (PLAIN, False)):
            conn = connect(port, tls)
            for _ in range(2):
                conn.request("GET", CFG["version_path"])
                resp = conn.getresponse()
                resp.read()
                self.assertEqual(resp.status, 200)
            conn.close()
        with socket.create_connection(("127.0.0.1", BASE + 1)) as raw:  # not a TLS client
            raw.sendall(b"GET / HTTP/1.1\r\n\r\n")
            raw.recv(100)
        deadline = time.monotonic() + 5
        while server_log()["handshake_failures"]["total"] == 0 and time.monotonic() < deadline:
            time.sleep(0.05)
        log = server_log()
        self.assertEqual(log["connections"], {**{str(BASE + i): 0 for i in range(5)},
                                              str(BASE): 1, str(BASE + 1): 1, str(PLAIN): 1, "total": 3})
        self.assertEqual((log["handshakes"][str(BASE)], log["handshakes"][str(PLAIN)],
                          log["handshakes"]["total"]), (1, 0, 1))
        self.assertEqual(log["handshake_failures"][str(BASE + 1)], 1)
        reqs = log["requests"]
        self.assertEqual([(r["port"], r["tls"], r["status"]) for r in reqs],
                         [(BASE, True, 200)] * 2 + [(PLAIN, False, 200)] * 2)
        self.assertEqual(reqs[0]["connection"], reqs[1]["connection"])
        self.assertNotEqual(reqs[1]["connection"], reqs[2]["connection"])

    def test_pin_list(self):
        path = urllib.parse.urlsplit(CFG["pin_list_url"]).path
        for headers in ({}, {"X-Secret": CFG["x_secret"] + "x"}):
            status, _, body = fetch(path, headers=headers)
            self.assertEqual(status, 403)
            self.assertIsInstance(json.loads(body)["message"], str)
        self.assertEqual(fetch(path, "POST", {"X-Secret": CFG["x_secret"]})[0], 405)
        status, headers, body = fetch(path, headers={"X-Secret": CFG["x_secret"]})
        self.assertEqual((status, headers["Content-Type"]), (200, "application/json; charset=utf-8"))
        # Built-in pins of the configuration: leaf-a, inter-a, root-a, backup.
        builtin = CFG["builtin_pins"]["pins"]
        self.assertEqual(json.loads(body)[0], {"scope": "localhost",
                                               "pins": ["sha256/" + builtin[1], "sha256/" + builtin[2]]})
        self.assertIn([], [e["pins"] for e in json.loads(body)[1:]])

    def test_content_requests(self):
        session = "Your session has expired. Please sign in again."
        no_const = {k: v for k, v in GOOD_HEADERS.items() if k != CFG["constant_header_name"]}
        cases = [  # body, headers, status, part of the message
            (form("demo-token-2026", "lesson-page"), GOOD_HEADERS, 200, None),
            (form("k+y&z=2026%25/ok", "lesson-encoded+1&2=3"), GOOD_HEADERS, 200, None),
            # The same token and id without form encoding: "+" reads as a blank, "&" splits.
            ("%s=k+y&z=2026%%25/ok&%s=lesson-page" % (CFG["form_token_field"],
                                                      CFG["form_content_link_field"]),
             GOOD_HEADERS, 401, session),
            (form("demo-token-2026", "lesson-page"), {**GOOD_HEADERS, "X-Secret": "nope"}, 403, ""),
            (form("demo-token-2026", "lesson-page"), no_const, 403, ""),
            (form("demo-token-2026", "lesson-page"), {**GOOD_HEADERS, "Content-Type": "text/plain"},
             415, ""),
            (form("other-token", "lesson-page"), GOOD_HEADERS, 401, session),
            (form("demo-token-2026", "no-such-lesson"), GOOD_HEADERS, 404, "could not be found"),
            (form("demo-token-2026", "lesson-expired"), GOOD_HEADERS, 404, "expired"),
            (CFG["form_token_field"] + "=demo-token-2026", GOOD_HEADERS, 400, ""),
        ]
        for body, headers, want_status, want_message in cases:
            with self.subTest(body=body, status=want_status):
                status, doc = put_content(body, headers)
                self.assertEqual(status, want_status)
                if want_message is not None:
                    self.assertIn(want_message, doc["message"])
                    self.assertRegex(doc["message"], "[\u0600-\u06ff]")  # Arabic as well
        self.assertEqual(fetch(CFG["content_path"])[0], 405)

    def test_catalog(self):
        key = {n: CFG["content_" + n + "_key"] for n in ("type", "url", "video_url", "watermark",
                                                       "script_id", "wrapper")}
        expected = {"lesson-page": ("video", False), "lesson-pdf": ("pdf", True),
                    "lesson-pdf-url": ("pdf_url", False), "lesson-embed": ("iframe", False),
                    "lesson-youtube": ("video", False),
                    "lesson-zoom": ("meeting", False), "lesson-wrapped": ("video", True)}
        for port, tls in ((BASE, True), (PLAIN, False)):
            origin = "%s://127.0.0.1:%d" % ("https" if tls else "http", port)
            for link_id, (kind, wrapped) in expected.items():
                with self.subTest(link_id=link_id, port=port):
                    status, doc = put_content(form("demo-token-2026", link_id), port=port, tls=tls)
                    self.assertEqual(status, 200)
                    data = doc[key["wrapper"]] if wrapped else doc
                    self.assertEqual(data[key["type"]], kind)
                    self.assertIsInstance(data[key["script_id"]], int)
                    self.assertTrue(doc[key["watermark"]] or link_id == "lesson-zoom")
                    if wrapped and key["watermark"] in data:
                        self.assertNotEqual(data[key["watermark"]], doc[key["watermark"]])
                    urls = [u for u in (data[key["url"]], data.get(key["video_url"]))
                            if u and u.startswith(origin)]
                    for url in urls:  # every local address of the catalog is served
                        self.assertTrue(url.startswith(origin + "/"), url)
                        self.assertEqual(fetch(url[len(origin):], port=port, tls=tls)[0], 200, url)
        self.assertIn("youtube.com/watch?v=", put_content(form("demo-token-2026", "lesson-youtube"))[1]
                      [key["video_url"]])
        self.assertIn(".zoom.us", put_content(form("demo-token-2026", "lesson-zoom"))[1][key["url"]])

    def test_switches(self):
        version, pins = CFG["version_path"], urllib.parse.urlsplit(CFG["pin_list_url"]).path
        scripts = urllib.parse.urlsplit(CFG["page_script_url_prefix"]).path
        self.assertEqual(control("POST", "/switch", {"path": version, "mode": "nope"})[0], 400)
        cases = [  # switch, request path, check(status, headers, body)
            ({"mode": "404_message", "message": "Gone. انتهى"}, version,
             lambda s, h, b: s == 404 and json.loads(b) == {"message": "Gone. انتهى"}),
            ({"mode": "500"}, pins, lambda s, h, b: s == 500 and b == b""),
            ({"mode": "not_json"}, version, lambda s, h, b: s == 200 and not _is_json(b)),
            ({"mode": "wrong_types"}, version,
             lambda s, h, b: s == 200 and type(json.loads(b)["version"]) not in (int, float, str)),
            ({"mode": "redirect"}, version, lambda s, h, b: s == 302 and h["Location"] == "/redirected"),
            ({"mode": "respond", "status": 201, "body": {"a": 1}, "headers": {"X-Test": "yes"}},
             scripts + "99", lambda s, h, b: s == 201 and json.loads(b) == {"a": 1} and h["X-Test"] == "yes"),
        ]
        for switch, path, check in cases:
            with self.subTest(mode=switch["mode"]):
                switch_path = scripts if path.startswith(scripts) else path  # a prefix switch
                self.assertEqual(control("POST", "/switch", dict(switch, path=switch_path))[0], 200)
                for port, tls in ((BASE, True), (BASE + 2, True), (PLAIN, False)):
                    status, headers, body = fetch(path, headers={"X-Secret": CFG["x_secret"]},
                                                  port=port, tls=tls)
                    self.assertTrue(check(status, headers, body), (port, status, body))
                control("POST", "/reset")
                self.assertEqual(fetch(path, headers={"X-Secret": CFG["x_secret"]})[0],
                                 404 if path.startswith(scripts) else 200)

        # A field-limited wrong type on the content endpoint leaves the other fields valid.
        control("POST", "/switch", {"path": CFG["content_path"], "mode": "wrong_types",
                                    "field": CFG["content_type_key"]})
        doc = put_content(form("demo-token-2026", "lesson-page"))[1]
        self.assertEqual(doc[CFG["content_type_key"]], 42)
        self.assertTrue(doc[CFG["content_url_key"]].startswith("https://"))

        # "times" and "method" narrow a switch.
        control("POST", "/switch", {"path": version, "mode": "500", "times": 1, "method": "GET"})
        self.assertEqual(fetch(version, "HEAD")[0], 200)
        self.assertEqual([fetch(version)[0] for _ in range(2)], [500, 200])

        # "drop" closes without an answer; "delay" answers late, or never when reset meanwhile.
        control("POST", "/switch", {"path": version, "mode": "drop"})
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError)):
            fetch(version)
        control("POST", "/switch", {"path": version, "mode": "delay", "delay_ms": 400})
        started = time.monotonic()
        self.assertEqual(fetch(version)[0], 200)
        self.assertGreaterEqual(time.monotonic() - started, 0.4)
        control("POST", "/reset")
        control("POST", "/switch", {"path": version, "mode": "delay"})
        outcome = []
        waiter = threading.Thread(target=lambda: outcome.append(_try_fetch(version)))
        waiter.start()
        while not server_log()["requests"]:
            time.sleep(0.05)
        control("POST", "/reset")
        waiter.join(5)
        self.assertEqual(outcome, ["disconnected"])

    def test_log_keeps_request_details(self):
        body = "a=1&b=%D8%B9"
        fetch(CFG["content_path"] + "?x=1&y=2", "PUT",
              {"X-Zeta": "z", "x-alpha": "a", "Content-Type": FORM}, body.encode(), port=PLAIN, tls=False)
        control("GET", "/health")
        (entry,) = server_log()["requests"]
        self.assertEqual((entry["method"], entry["path"], entry["query"], entry["body"], entry["status"]),
                         ("PUT", CFG["content_path"], "x=1&y=2", body, 403))
        names = [n for n, _ in entry["headers"]]
        self.assertLess(names.index("X-Zeta"), names.index("x-alpha"))
        self.assertIn(["x-alpha", "a"], entry["headers"])

    def test_pages_and_files(self):
        scripts = urllib.parse.urlsplit(CFG["page_script_url_prefix"]).path
        status, headers, script = fetch(scripts + "7")
        self.assertEqual((status, headers["Content-Type"].split(";")[0]), (200, "application/javascript"))
        self.assertIn(b"corvel-page-script-7", script)
        for bad in ("99", "x7", "7.0", ""):
            self.assertEqual(fetch(scripts + bad)[0], 404, bad)

        start = urllib.parse.urlsplit(CFG["init_start_url"]).path
        init = {n: CFG["init_header_value"] for n in CFG["init_header_names"]}
        ident = {CFG["identification_header_name"]: CFG["identification_header_value"]}
        for sent, state in (({**init, **ident}, "ok"), ({}, "missing")):
            page = fetch(start, headers=sent)[2].decode()
            for name in list(init) + list(ident):
                self.assertIn('id="header-%s" data-state="%s"' % (name.lower(), state), page)
        self.assertIn('href="/select-tenants"', page)
        self.assertIn('href="http://localhost:%d/demo/blocked.html"' % PLAIN,
                      fetch("/demo/lesson.html")[2].decode())

        status, headers, pdf = fetch("/demo/lesson.pdf")
        self.assertEqual((status, headers["Content-Type"]), (200, "application/pdf"))
        xref = int(re.search(rb"startxref\n(\d+)\n%%EOF\n$", pdf).group(1))
        self.assertTrue(pdf[xref:].startswith(b"xref\n"))
        offsets = [int(o) for o in re.findall(rb"(\d{10}) 00000 n", pdf)]
        self.assertGreater(len(offsets), 4)
        for number, offset in enumerate(offsets, start=1):
            self.assertTrue(pdf[offset:].startswith(b"%d 0 obj" % number), number)

        status, _, body = fetch(urllib.parse.urlsplit(CFG["fallback_download_url"]).path)
        self.assertEqual(status, 200)
        self.assertTrue(body)


def _is_json(data):
    try:
        json.loads(data)
        return True
    except ValueError:
        return False


def _try_fetch(path):
    try:
        return fetch(path)[0]
    except (http.client.RemoteDisconnected, ConnectionError):
        return "disconnected"


if __name__ == "__main__":
    unittest.main(verbosity=2)
