#!/usr/bin/env python3
"""Launch links end to end against the local reference platform: corvel-make-link writes the
link, corvel-inspect-link --resolve runs the player's own link handling over the network (built-in
pins, the served pin list, the content request, the page script) and prints the content fields
the player window would get. Also the interception notice on the platform's own domain, and the
cost of the player's start-up exchange (corvel-measure-exchange): one TCP connection and one TLS
handshake for all of it.

  link_resolve_test.py --make PATH --inspect PATH --decode PATH --measure PATH --config FILE
                       [--emulator PATH] [unittest options]
  link_resolve_test.py ... --report N     run the start-up exchange N times, print the medians

In the cross build the tools are Windows programs run through the emulator script (Wine); the
server is always the native one. The server's log and counters are global: the test resets them
through the control port and must not share the server with other tests (CTest's resource lock).
"""
import argparse
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import threading
import unittest
import urllib.parse
import urllib.request

TOOLS = {}
EMULATOR = []
SERVER = {}

TOKEN = "demo-token-2026"
ENCODING_TOKEN = "k+y&z=2026%25/ok"  # only arrives intact when the form is percent-encoded
WATERMARK = "Demo Student \u00b7 \u0637\u0627\u0644\u0628 \u062a\u062c\u0631\u064a\u0628\u064a \u00b7 2026"
MSG_EXPIRED = ("This lesson link has expired. Please open the lesson again from the platform. "
               "\u0627\u0646\u062a\u0647\u062a \u0635\u0644\u0627\u062d\u064a\u0629 \u0631\u0627\u0628\u0637 "
               "\u0647\u0630\u0627 \u0627\u0644\u062f\u0631\u0633. \u064a\u0631\u062c\u0649 \u0641\u062a\u062d "
               "\u0627\u0644\u062f\u0631\u0633 \u0645\u0631\u0629 \u0623\u062e\u0631\u0649 \u0645\u0646 "
               "\u0627\u0644\u0645\u0646\u0635\u0629.")
NOTICE_TITLE = "Network Connection Intercepted - \u0627\u062a\u0635\u0627\u0644 \u063a\u064a\u0631 \u0622\u0645\u0646"
NOTICE_ENGLISH = ("A security program is blocking the secure connection.\n"
                  "Please disable 'HTTPS Scanning' or 'Web Shield' in your antivirus settings and try again.")
NOTICE_ARABIC = ("\u0628\u0631\u0646\u0627\u0645\u062c \u062d\u0645\u0627\u064a\u0629 \u064a\u0645\u0646\u0639 "
                 "\u0627\u0644\u0627\u062a\u0635\u0627\u0644 \u0627\u0644\u0622\u0645\u0646.\n"
                 "\u064a\u0631\u062c\u0649 \u062a\u0639\u0637\u064a\u0644 \u062e\u0627\u0635\u064a\u0629 "
                 "'\u0641\u062d\u0635 HTTPS' \u0623\u0648 '\u062d\u0645\u0627\u064a\u0629 \u0627\u0644\u0648\u064a\u0628' "
                 "\u0641\u064a \u0625\u0639\u062f\u0627\u062f\u0627\u062a \u0645\u0643\u0627\u0641\u062d "
                 "\u0627\u0644\u0641\u064a\u0631\u0648\u0633\u0627\u062a \u0648\u062d\u0627\u0648\u0644 "
                 "\u0645\u0631\u0629 \u0623\u062e\u0631\u0649.")


def run(tool, *args, timeout=180):
    """Runs one tool; returns (exit status, stdout, stderr) as text."""
    done = subprocess.run(EMULATOR + [TOOLS[tool], *args], capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")


def make_link(token, content_id, domain):
    status, out, err = run("make", token, content_id, domain)
    if status != 0:
        raise AssertionError(f"corvel-make-link failed with {status}: {err}")
    return out.strip()


def fields_of(out):
    return dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)


def control(path, doc=None):
    data = None if doc is None else json.dumps(doc).encode()
    request = urllib.request.Request(SERVER["control"] + path, data=data, method="GET" if doc is None else "POST")
    with urllib.request.urlopen(request, timeout=30) as answer:
        return json.loads(answer.read().decode("utf-8"))


def requests_of(log, method=None):
    return [r for r in log["requests"] if method is None or r["method"] == method]


class LinkResolveTest(unittest.TestCase):
    def setUp(self):
        control("/reset", {})

    def resolve(self, link):
        return run("inspect", "--resolve", link)

    def test_catalog_contents_reach_the_player_fields(self):
        origin = SERVER["origin"]
        youtube_embed = ("https://www.youtube.com/embed/M7lc1UVf-VE?origin="
                         + urllib.parse.quote(origin, safe="").lower())
        # (token, content link id, link domain) -> the fields the player window would get
        cases = [
            ((TOKEN, "lesson-page", origin + "/"),
             {"content kind": "url_direct", "address": origin + "/demo/lesson.html", "watermark": WATERMARK,
              "script number": "3", "page script length": "0", "platform domain": origin}),
            ((TOKEN, "lesson-pdf", origin),
             {"content kind": "pdf", "address": origin + "/demo/lesson.pdf", "watermark": WATERMARK,
              "script number": "1", "page script length": "0", "platform domain": origin}),
            ((TOKEN, "lesson-pdf-url", origin),
             {"content kind": "pdf_url", "address": origin + "/demo/handout.pdf", "watermark": WATERMARK,
              "script number": "1", "page script length": "0", "platform domain": origin}),
            ((TOKEN, "lesson-embed", origin),
             {"content kind": "iframe", "address": origin + "/demo/embed.html", "watermark": WATERMARK,
              "script number": "5", "page script length": "0", "platform domain": origin}),
            ((TOKEN, "lesson-zoom", origin),
             {"content kind": "url_direct", "address": "https://us02web.zoom.us/j/81234567890?pwd=demo",
              "watermark": "", "script number": "1", "page script length": "0", "platform domain": origin}),
            # Wrapped record: the inner watermark is not the one shown.
            ((TOKEN, "lesson-wrapped", origin),
             {"content kind": "url_direct", "address": origin + "/demo/lesson.html?wrapped=1",
              "watermark": WATERMARK, "script number": "4", "page script length": "0",
              "platform domain": origin}),
            # "+", "&", "=" and "%" in token and id survive only a percent-encoded form; a bare
            # host:port domain gets the https scheme for the request and is kept as written.
            ((ENCODING_TOKEN, "lesson-encoded+1&2=3", SERVER["hostport"]),
             {"content kind": "url_direct", "address": origin + "/demo/lesson.html", "watermark": WATERMARK,
              "script number": "3", "page script length": "0", "platform domain": SERVER["hostport"]}),
            # A direct address asks the server for nothing but the pin list.
            ((TOKEN, origin + "/demo/lesson.html", origin),
             {"content kind": "url_direct", "address": origin + "/demo/lesson.html", "watermark": "",
              "script number": "0", "page script length": "0", "platform domain": origin}),
        ]
        for (token, content_id, domain), expected in cases:
            with self.subTest(content_id):
                control("/reset", {})
                status, out, err = self.resolve(make_link(token, content_id, domain))
                self.assertEqual(status, 0, out + err)
                self.assertEqual(fields_of(out), expected)
                log = control("/log")
                puts = requests_of(log, "PUT")
                self.assertEqual(len(puts), 0 if content_id.startswith("https://") else 1)
                self.assertEqual([r["path"] for r in requests_of(log, "GET")], [SERVER["pin_path"]])
                self.assertEqual([r["status"] for r in log["requests"]], [200] * len(log["requests"]))

    def test_youtube_content_fetches_its_page_script(self):
        origin = SERVER["origin"]
        status, out, err = self.resolve(make_link(TOKEN, "lesson-youtube", origin))
        self.assertEqual(status, 0, out + err)
        fields = fields_of(out)
        self.assertEqual(fields["content kind"], "url_direct")
        self.assertEqual(fields["address"], "https://www.youtube.com/embed/M7lc1UVf-VE?origin="
                         + urllib.parse.quote(origin, safe="").lower())
        self.assertEqual(fields["script number"], "7")
        self.assertEqual(fields["watermark"], WATERMARK)
        log = control("/log")
        scripts = [r for r in requests_of(log, "GET") if r["path"] == SERVER["script_path"] + "7"]
        self.assertEqual(len(scripts), 1, log["requests"])
        self.assertEqual(scripts[0]["status"], 200)
        # The page-script client is a client of its own: none of the shared client's headers.
        self.assertNotIn("x-secret", [name.lower() for name, _ in scripts[0]["headers"]])
        # The length shown is the length of what the server sent (the plain port serves the same).
        with urllib.request.urlopen(SERVER["plain"] + SERVER["script_path"] + "7", timeout=30) as answer:
            body = answer.read()
        self.assertGreater(len(body), 0)
        self.assertEqual(fields["page script length"], str(len(body)))

    def test_server_message_is_the_error(self):
        status, out, err = self.resolve(make_link(TOKEN, "lesson-expired", SERVER["origin"]))
        self.assertEqual(status, 1, out + err)
        lines = out.splitlines()
        self.assertEqual(lines[0], "error: server:" + MSG_EXPIRED)
        self.assertEqual(lines[2], "message: " + MSG_EXPIRED)
        diag = re.fullmatch(r"diagnostic code: ([A-Za-z0-9+/=]+)", lines[1])
        self.assertIsNotNone(diag, lines[1])
        status, text, err = run("decode", diag.group(1))
        self.assertEqual(status, 0, err)
        self.assertIn("reason: server:" + MSG_EXPIRED, text.splitlines())
        self.assertEqual(len(requests_of(control("/log"), "PUT")), 1)

    def test_unreachable_pinned_host_fails_in_the_pre_flight(self):
        # Nothing listens on port 1 of the pinned platform host: no certificate can be read, so
        # the pre-flight refuses the host (no notice: nothing intercepted) and its text becomes
        # the server code.
        status, out, err = self.resolve(make_link(TOKEN, "lesson-page", "https://%s:1" % SERVER["host"]))
        self.assertEqual(status, 1, out + err)
        text = "Pre-flight SSL Pin validation FAILED for %s. MITM Attack Prevented!" % SERVER["host"]
        lines = out.splitlines()
        self.assertEqual(lines[0], "error: server:" + text)
        self.assertEqual(lines[2], "message: " + text)

    def test_interception_on_the_platform_domain_ends_with_the_notice(self):
        # The intercepting proxy answers on the platform's own host: the pre-flight refuses its
        # certificate, the notice ends the process with 0 and the content request never leaves.
        link = make_link(TOKEN, "lesson-page", "https://" + SERVER["host"] + ":" + str(SERVER["proxy_port"]))
        status, out, err = self.resolve(link)
        self.assertEqual(status, 0, out + err)
        self.assertNotIn("content kind", out)
        self.assertNotIn("error:", out)
        if not EMULATOR:  # Linux writes the notice to standard error; Windows starts its dialog
            for text in (NOTICE_TITLE, NOTICE_ENGLISH, NOTICE_ARABIC, "Diagnostic Code:\nSSL_" + SERVER["host"]):
                self.assertIn(text, err)
        log = control("/log")
        self.assertEqual(requests_of(log, "PUT"), [])
        # The proxy's certificate is refused before the content request goes out: the notice
        # ends the process there.
        self.assertEqual([r for r in log["requests"] if r["port"] == SERVER["proxy_port"]], [])
        self.assertEqual(log["connections"][str(SERVER["proxy_port"])], 1)

    def test_server_taking_over_after_the_first_request_ends_with_the_notice(self):
        # The platform's port shows its pinned chain to the pin list request and the
        # interceptor's to every later connection (each answer closes its connection): the
        # content request is refused before it leaves, with the notice, and its token and id
        # never arrive.
        # (The Windows client's pre-flight is a HEAD of its own, on a connection of its own.)
        passing = [("HEAD", "/", "main")] if EMULATOR else []
        chains = ["main"] * (len(passing) + 1) + ["interceptor"]
        control("/tls", {"port": SERVER["port"], "chains": chains, "close": True})
        link = make_link(TOKEN, "lesson-page", SERVER["origin"])
        status, out, err = self.resolve(link)
        self.assertEqual(status, 0, out + err)
        self.assertNotIn("content kind", out)
        self.assertNotIn("error:", out)
        if not EMULATOR:
            for text in (NOTICE_TITLE, NOTICE_ENGLISH, NOTICE_ARABIC, "Diagnostic Code:\nSSL_" + SERVER["host"]):
                self.assertIn(text, err)
        log = control("/log")
        self.assertEqual([(r["method"], r["path"], r["chain"]) for r in log["requests"]],
                         passing + [("GET", SERVER["pin_path"], "main")])
        self.assertEqual(log["connections"][str(SERVER["port"])], len(chains), "the content request met the interceptor")
        self.assertEqual(requests_of(log, "PUT"), [])

    def test_bad_usage_asks_no_server(self):
        link = make_link(TOKEN, "lesson-page", SERVER["origin"])
        for args in (("--resolve",), ("--resolve", link, link), ("--resolve", "--envelope", link),
                     ("--envelope", "--resolve", link)):
            with self.subTest(" ".join(args)[:40]):
                status, out, err = run("inspect", *args)
                self.assertEqual(status, 2)
                self.assertEqual(out, "")
                self.assertIn("usage:", err)
        self.assertEqual(control("/log")["requests"], [])

    def test_startup_exchange_runs_on_one_connection(self):
        # The player's start-up exchange for a YouTube link, in its order, over one kept-alive
        # connection: a second connection (a pre-flight whose connection is not handed back, a
        # page-script client that cannot reuse the pool) shows up as a second handshake.
        report = measure(make_link(TOKEN, "lesson-youtube", SERVER["origin"]))
        self.assertTrue(report["parsed"], report["error"])
        self.assertGreater(report["page_script_bytes"], 0)
        preflight = [("HEAD", "/")] if EMULATOR else []  # Windows: a request of its own
        self.assertEqual([(r["method"], r["path"]) for r in report["requests"]],
                         preflight + [("GET", SERVER["pin_path"]), ("GET", SERVER["version_path"]),
                                      ("PUT", SERVER["content_path"]), ("GET", SERVER["script_path"] + "7"),
                                      ("GET", SERVER["version_path"])])
        self.assertEqual(report["connections"]["total"], 1, report["requests"])
        self.assertEqual(report["handshakes"]["total"], 1, report["requests"])
        self.assertEqual(len({r["connection"] for r in report["requests"]}), 1)


def measure(link):
    status, out, err = run("measure", "--control", SERVER["control"], link)
    if status != 0:
        raise AssertionError(f"corvel-measure-exchange failed with {status}: {err}")
    return json.loads(out)


def report(runs):
    """Runs the exchange `runs` times (a process each) and prints the medians."""
    link = make_link(TOKEN, "lesson-youtube", SERVER["origin"])
    measure(link)  # warm-up: caches, the emulator, the server's threads
    reports = [measure(link) for _ in range(runs)]
    steps = list(reports[0]["steps_ms"])
    print("runs: %d (%s)" % (runs, "Windows client under Wine" if EMULATOR else "native client"))
    print("wall ms: median %.1f (min %.1f, max %.1f)" % (
        statistics.median(r["wall_ms"] for r in reports), min(r["wall_ms"] for r in reports),
        max(r["wall_ms"] for r in reports)))
    for step in steps:
        print("  %s ms: median %.1f" % (step, statistics.median(r["steps_ms"][step] for r in reports)))
    print("connections: median %g" % statistics.median(r["connections"]["total"] for r in reports))
    print("handshakes: median %g" % statistics.median(r["handshakes"]["total"] for r in reports))
    print("requests of the last run (method path connection):")
    for r in reports[-1]["requests"]:
        print("  %s %s %d" % (r["method"], r["path"], r["connection"]))


class ConnectProxy:
    """A small proxy of our own on loopback: it tunnels HTTPS (CONNECT) to the target it is asked
    for and records the targets, or, asking for a sign-in, answers every request with 407. It
    listens on 127.0.0.2: Wine's WinHTTP takes a proxy on the server's own host name for no proxy
    and skips the tunnel."""

    def __init__(self, sign_in=False):
        self.sign_in = sign_in
        self.targets = []
        self.listener = socket.create_server(("127.0.0.2", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def close(self):
        self.listener.close()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        with client:
            head = b""
            while b"\r\n\r\n" not in head:
                chunk = client.recv(4096)
                if not chunk:
                    return
                head += chunk
            method, target = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")[:2]
            self.targets.append(method + " " + target)
            if self.sign_in or method != "CONNECT":
                client.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                               b"Proxy-Authenticate: Basic realm=\"school\"\r\nContent-Length: 0\r\n"
                               b"Connection: close\r\n\r\n")
                return
            host, port = target.rsplit(":", 1)
            with socket.create_connection((host, int(port)), timeout=30) as upstream:
                client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                rest = head.split(b"\r\n\r\n", 1)[1]
                if rest:
                    upstream.sendall(rest)
                threading.Thread(target=self._pump, args=(upstream, client), daemon=True).start()
                self._pump(client, upstream)

    @staticmethod
    def _pump(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        try:
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def use_proxy(port):
    """The system's proxy for the tools: the environment on Linux, the user's Internet settings
    (their binary record) under Wine; None removes it."""
    for name in ("https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy", "no_proxy", "NO_PROXY"):
        os.environ.pop(name, None)
    if not EMULATOR:
        if port is not None:
            os.environ["https_proxy"] = "http://127.0.0.2:%d" % port
        return
    if port is None:
        subprocess.run(EMULATOR + ["reg", "delete", INTERNET_SETTINGS, "/v", "DefaultConnectionSettings", "/f"],
                       capture_output=True, timeout=120)
        return
    proxy = ("127.0.0.2:%d" % port).encode()
    record = (b"\x46\0\0\0" + b"\0\0\0\0" + b"\x03\0\0\0" + len(proxy).to_bytes(4, "little") + proxy
              + b"\0" * 4 * 8)
    subprocess.run(EMULATOR + ["reg", "add", INTERNET_SETTINGS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                               "/d", record.hex(), "/f"], check=True, capture_output=True, timeout=120)


class ProxyTest(unittest.TestCase):
    """The player's own requests through the system's proxy (run alone: the proxy is the
    machine's setting under Wine)."""

    def setUp(self):
        control("/reset", {})

    def tearDown(self):
        use_proxy(None)

    def through(self, proxy, content="lesson-page"):
        use_proxy(proxy.port)
        try:
            return run("inspect", "--resolve", make_link(TOKEN, content, SERVER["origin"]))
        finally:
            proxy.close()

    def test_the_content_resolves_through_a_tunnel_and_the_pins_still_decide(self):
        proxy = ConnectProxy()
        status, out, err = self.through(proxy)
        self.assertEqual(status, 0, out + err)
        self.assertIn("content kind: url_direct", out)
        self.assertIn("CONNECT " + SERVER["hostport"], proxy.targets)
        self.assertEqual(len(requests_of(control("/log"), "PUT")), 1)

        # The platform's port now shows an interceptor's chain through the same tunnel: refused
        # before any request, with the notice.
        control("/tls", {"port": SERVER["port"], "chains": ["interceptor"]})
        status, out, err = self.through(ConnectProxy())
        self.assertEqual(status, 0, out + err)
        self.assertNotIn("content kind", out)
        if not EMULATOR:
            self.assertIn(NOTICE_TITLE, err)
        self.assertEqual(len(requests_of(control("/log"), "PUT")), 1, "nothing more reached the platform")

    def test_a_proxy_that_wants_a_sign_in_ends_in_its_own_message(self):
        if EMULATOR:
            # Wine's WinHTTP reads the proxy's 407 to the tunnel request, then goes on to a TLS
            # handshake with the proxy itself and fails it; Windows answers the request with 407.
            self.skipTest("Wine's WinHTTP does not report a proxy's 407 to a tunnel request")
        proxy = ConnectProxy(sign_in=True)
        status, out, err = self.through(proxy)
        self.assertEqual(status, 1, out + err)
        self.assertIn("Code: PROXY-AUTH-407", out)
        self.assertIn("proxy server asks for a sign-in", out)
        self.assertTrue(proxy.targets)
        self.assertEqual(requests_of(control("/log"), "PUT"), [])


def keep_wine_running(emulator):
    """One warm-up run sets up the emulator's prefix; its server then stays up between runs."""
    subprocess.run([emulator, TOOLS["decode"]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    with open(emulator, encoding="utf-8") as script:
        prefix = re.search(r'WINEPREFIX="([^"]+)"', script.read())
    if prefix:
        env = dict(os.environ, WINEPREFIX=prefix.group(1))
        subprocess.run(["wineserver", "-p", "60"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def load_server(config_path):
    with open(config_path, encoding="utf-8") as f:
        cfg = json.load(f)
    base = urllib.parse.urlsplit(cfg["platform_base_url"])
    port = base.port or 443
    SERVER.update(
        host=base.hostname, port=port, hostport="%s:%d" % (base.hostname, port),
        origin="https://%s:%d" % (base.hostname, port), proxy_port=port + 1,
        control="http://%s:%d" % (base.hostname, port + 36), plain="http://%s:%d" % (base.hostname, port + 37),
        pin_path=urllib.parse.urlsplit(cfg["pin_list_url"]).path,
        version_path=cfg["version_path"], content_path=cfg["content_path"],
        script_path=urllib.parse.urlsplit(cfg["page_script_url_prefix"]).path)


def main():
    parser = argparse.ArgumentParser()
    for name in ("make", "inspect", "decode", "measure"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--emulator")
    parser.add_argument("--report", type=int, metavar="N")
    parser.add_argument("--proxy", action="store_true", help="run the proxy cases (alone) instead of the others")
    args, rest = parser.parse_known_args()
    TOOLS.update(make=args.make, inspect=args.inspect, decode=args.decode, measure=args.measure)
    load_server(args.config)
    if args.emulator:
        EMULATOR.append(args.emulator)
        keep_wine_running(args.emulator)
    if args.report:
        report(args.report)
        return
    if args.proxy:
        unittest.main(argv=[sys.argv[0], *rest], defaultTest="ProxyTest", verbosity=2)
    else:
        unittest.main(argv=[sys.argv[0], *rest], defaultTest="LinkResolveTest", verbosity=2)


if __name__ == "__main__":
    main()
