#!/usr/bin/env python3
"""Local reference platform: the server the player talks to in tests and in the demo.

It reads the same JSON configuration the player is built from (endpoint paths, header names,
secrets, JSON keys) and the test certificates in tools/pki/, and listens on 127.0.0.1 only.

Ports (base B, default: the port of platform_base_url, 47443 in the default configuration):

  B+0   HTTPS, chain-main.pem / leaf-a.key: the configured platform (leaf, intermediate and
        root are all pinned)
  B+1   HTTPS, chain-interceptor.pem / leaf-x.key: an intercepting proxy (nothing pinned)
  B+2   HTTPS, chain-rotated-leaf.pem / leaf-b.key: new leaf key under the pinned intermediate
  B+3   HTTPS, chain-root-only.pem / leaf-d.key: only the root is pinned
  B+4   HTTPS, chain-intermediate-only.pem / leaf-e.key: only the intermediate is pinned
  B+37  plain HTTP, the same routes
  B+36  plain HTTP control port (JSON; its requests are neither logged nor counted)

Every data port serves every route. Requests are HTTP/1.1 with keep-alive; accepted TCP
connections and completed TLS handshakes are counted per port.

Platform API (paths from the configuration):

  GET pin_list_url path      X-Secret required (403 otherwise). A JSON array: scope "localhost"
                             with the pins of inter-a and root-a, and one entry with an empty
                             "pins" array that a client must drop.
  GET version_path           {"version": "4.11", "is_required": 0, "link": ""}: no update for 4.11.
  PUT content_path           form body (application/x-www-form-urlencoded) with form_token_field
                             and form_content_link_field; X-Secret and the constant header are
                             required (403), the token must be known (401), the content link id
                             must be in the catalog and not expired (404). Every failure carries
                             {"message": "<English> <Arabic>"}.
  GET page_script prefix + N JavaScript for the script numbers 1, 3, 4 and 7 (404 otherwise);
                             each adds a banner with the id "corvel-page-script-N".
  GET fallback download path a small placeholder installer body.

Tokens: "demo-token-2026" and "k+y&z=2026%25/ok" (its "+", "&", "=" and "%" only survive a form
encoder, so it proves the client percent-encodes the form). Content catalog (content link id:
type, address, watermark, script number, wrapped under content_wrapper_key or not):

  lesson-page           video, /demo/lesson.html, 3, plain           (player kind url_direct)
  lesson-encoded+1&2=3  same record as lesson-page: an id that needs form encoding
  lesson-pdf            pdf, /demo/lesson.pdf, 1, wrapped, watermark at top level
  lesson-pdf-url        pdf_url, /demo/handout.pdf, 1, plain
  lesson-embed          iframe, /demo/embed.html, 5, plain, video_stream null (composed page)
  lesson-youtube        video, videoUrl https://www.youtube.com/watch?v=M7lc1UVf-VE&t=42, 7
  lesson-zoom           meeting, https://us02web.zoom.us/j/81234567890?pwd=demo, 1 (a Zoom address)
  lesson-wrapped        video, /demo/lesson.html?wrapped=1, 4, wrapped; the inner object also
                        carries a watermark that a client must ignore
  lesson-expired        404 with a message
Local addresses are absolute, on the origin (scheme, host and port) the request came in on.

Demo pages: /start and /home (init screen pages; they echo the init-screen headers and the
identification header), /select-tenants, /demo/lesson.html (English and Arabic, links inside and
outside the allowed domains), /demo/messages.html ("toggleFullscreen", print requests and the
"printResult" answers), /demo/embed.html, /demo/blocked.html, /demo/lesson.pdf, /demo/handout.pdf,
/demo/youtube.com/embed/<id>, /demo/meeting.zoom.us/j/<id> (pages whose paths merely name
YouTube and Zoom), /echo/headers (JSON of the request
headers), /redirected (target of the "redirect" switch).

Control port (JSON over plain HTTP):

  POST /reset   clears switches, the request log and the counters
  POST /switch  {"path": exact path or path prefix, "mode": M, ...}; optional "method" (only that
                method), "times" (only the next N matching requests). Modes:
                "404_message" (404 {"message"}; "message" overrides the text), "500" (no body),
                "not_json" (200, a body that is not JSON), "wrong_types" (200, the endpoint's
                document with fields of wrong JSON types; "field" limits it to one key),
                "redirect" (302; "location", default /redirected), "delay" ("delay_ms", default
                35000, then the normal answer), "respond" ("status", "body", "content_type",
                "headers" as given), "drop" (close the connection without an answer), "off"
                (remove the switch of that path). An exact path wins over the longest prefix.
  POST /tls     {"port": a TLS port, "chains": [name, ...], "close": bool}: the port's next new
                connections present these chains in turn (the last one stays), names from CHAINS
                (main, interceptor, rotated, root-only, intermediate-only, product-root: a root named
                like a security product, spliced: a forged leaf followed by the real Intermediate
                A, without-root: chain-main without its root, wrong-name, expired, client-only:
                leaves of Intermediate A for evil.example, lapsed in 2020, for clients only); with
                "close" every answer on the
                port closes its connection, so each request needs a new one. Until /reset.
  GET /log      {"requests": [{"seq", "port", "tls", "tls_version", "chain", "connection", "method", "path", "query",
                "headers": [[name, value], ...], "body", "status", "switch"}], "connections":
                {"<port>": n, "total": n}, "handshakes": {...}, "handshake_failures": {...}}
  GET /health   200 "ok"

Usage: platform_server.py [--config FILE] [--pki DIR] [--port-base N] [--latency-ms N]
       platform_server.py --daemon --pidfile FILE --logfile FILE [--wait S] [--idle-exit S]
       platform_server.py --stop --pidfile FILE
A daemon start first stops the server that its pidfile names (one left by a crashed run), then
waits up to --wait seconds for ports held by anything else (another build's server), and returns
once every port listens. --idle-exit ends a server that has seen no request for that long.
--latency-ms N holds every answer of a data port N milliseconds, as a distant server would
(the launch benchmark, tools/bench-launch).
"""

import argparse
import base64
import errno
import hashlib
import html
import http.server
import json
import os
import re
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_CONFIG = os.path.join(HERE, os.pardir, "config", "corvel.json")
DEFAULT_PKI = os.path.join(HERE, "pki")
DEMO_DIR = os.path.join(HERE, "platform_demo")
DEFAULT_PORT_BASE = 47443
MAX_BODY = 1 << 20

# The chains a TLS port can present (the /tls switch names them): chain file, key file.
CHAINS = {
    "main": ("chain-main.pem", "leaf-a.key"),
    "interceptor": ("chain-interceptor.pem", "leaf-x.key"),
    "rotated": ("chain-rotated-leaf.pem", "leaf-b.key"),
    "root-only": ("chain-root-only.pem", "leaf-d.key"),
    "intermediate-only": ("chain-intermediate-only.pem", "leaf-e.key"),
    "product-root": ("chain-product-root.pem", "leaf-k.key"),
    "spliced": ("chain-spliced.pem", "leaf-f.key"),
    "without-root": ("chain-without-root.pem", "leaf-a.key"),
    # Leaves Intermediate A signed that do not serve this server: another name, lapsed dates,
    # client authentication only.
    "wrong-name": ("chain-wrong-name.pem", "leaf-n.key"),
    "expired": ("chain-expired.pem", "leaf-t.key"),
    "client-only": ("chain-client-only.pem", "leaf-u.key"),
}

# (offset from the base, chain name, role)
TLS_PORTS = [
    (0, "main", "configured platform"),
    (1, "interceptor", "intercepting proxy, key not pinned"),
    (2, "rotated", "rotated leaf, intermediate and root pinned"),
    (3, "root-only", "only the root pinned"),
    (4, "intermediate-only", "only the intermediate pinned"),
]
PLAIN_OFFSET = 37
CONTROL_OFFSET = 36

TOKENS = {"demo-token-2026": "Demo Student", "k+y&z=2026%25/ok": "Encoding Student"}

MSG_FORBIDDEN = ("This request was refused because the desktop client could not be verified. "
                 "تم رفض هذا الطلب لأنه تعذر التحقق من تطبيق سطح المكتب.")
MSG_SESSION = ("Your session has expired. Please sign in again. "
               "انتهت صلاحية جلستك. يرجى تسجيل الدخول مرة أخرى.")
MSG_NOT_FOUND = ("This lesson could not be found. It may have been removed. "
                 "تعذر العثور على هذا الدرس. ربما تمت إزالته.")
MSG_EXPIRED = ("This lesson link has expired. Please open the lesson again from the platform. "
               "انتهت صلاحية رابط هذا الدرس. يرجى فتح الدرس مرة أخرى من المنصة.")
MSG_BAD_FORM = ("The request did not include the lesson details. "
                "الطلب لا يتضمن بيانات الدرس.")
MSG_SWITCH_404 = ("This content is not available right now. "
                  "هذا المحتوى غير متاح حالياً.")

WATERMARK = "Demo Student · طالب تجريبي · 2026"

# id -> record; "url"/"video" starting with "/" are made absolute on the request's origin.
CATALOG = {
    "lesson-page": {"type": "video", "url": "/demo/lesson.html", "watermark": WATERMARK,
                    "script_id": 3},
    "lesson-encoded+1&2=3": {"type": "video", "url": "/demo/lesson.html", "watermark": WATERMARK,
                             "script_id": 3},
    "lesson-pdf": {"type": "pdf", "url": "/demo/lesson.pdf", "watermark": WATERMARK,
                   "script_id": 1, "wrapped": True},
    "lesson-pdf-url": {"type": "pdf_url", "url": "/demo/handout.pdf", "watermark": WATERMARK,
                       "script_id": 1},
    "lesson-embed": {"type": "iframe", "url": "/demo/embed.html", "video": None,
                     "watermark": WATERMARK, "script_id": 5},
    "lesson-youtube": {"type": "video", "url": "/demo/lesson.html",
                       "video": "https://www.youtube.com/watch?v=M7lc1UVf-VE&t=42",
                       "watermark": WATERMARK, "script_id": 7},
    "lesson-zoom": {"type": "meeting", "url": "https://us02web.zoom.us/j/81234567890?pwd=demo",
                    "watermark": "", "script_id": 1},
    "lesson-wrapped": {"type": "video", "url": "/demo/lesson.html?wrapped=1",
                       "watermark": WATERMARK, "script_id": 4, "wrapped": True,
                       "inner_watermark": "inner watermark, ignored by clients"},
    "lesson-expired": {"expired": True},
}

PAGE_SCRIPTS = {1: "Platform script", 3: "Lesson page script", 4: "Wrapped lesson script",
                7: "Video lesson script"}

PAGE_SCRIPT_TEMPLATE = """var corvelBanner = document.getElementById('corvel-page-script-%(id)d');
if (!corvelBanner) {
  corvelBanner = document.createElement('div');
  corvelBanner.id = 'corvel-page-script-%(id)d';
  corvelBanner.setAttribute('data-script-id', '%(id)d');
  corvelBanner.textContent = '%(title)s %(id)d is active \\u2014 \\u0646\\u0635 \\u0627\\u0644\\u0645\\u0646\\u0635\\u0629 \\u064a\\u0639\\u0645\\u0644';
  corvelBanner.style.cssText = 'position:fixed;left:0;right:0;bottom:0;padding:8px;' +
      'background:#0b7a4b;color:#fff;font:14px sans-serif;text-align:center;z-index:2147483000';
  (document.body || document.documentElement).appendChild(corvelBanner);
}
window.corvelPageScript = %(id)d;
"""

SWITCH_MODES = {"404_message", "500", "not_json", "wrong_types", "redirect", "delay", "respond",
                "drop", "off"}


# ---------------------------------------------------------------------------------------------
# Certificates


def pem_to_der_list(path):
    with open(path, "r", encoding="ascii") as f:
        text = f.read()
    blocks = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----", text, re.S)
    return [ssl.PEM_cert_to_DER_cert(b) for b in blocks]


def _der_item(data, pos):
    """Returns (tag, content start, content end) of the DER item at pos."""
    tag = data[pos]
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    return tag, pos, pos + length


def spki_of_certificate(der):
    """The DER SubjectPublicKeyInfo of an X.509 certificate."""
    _, cert_start, _ = _der_item(der, 0)
    _, pos, _ = _der_item(der, cert_start)  # tbsCertificate
    tag, _, end = _der_item(der, pos)
    if tag == 0xA0:  # explicit version
        pos = end
    for _ in range(5):  # serial, signature, issuer, validity, subject
        _, _, pos = _der_item(der, pos)
    _, _, end = _der_item(der, pos)
    return der[pos:end]


def certificate_pin(pem_path):
    """Base64 of SHA-256 over the certificate's SubjectPublicKeyInfo, as the player pins keys."""
    spki = spki_of_certificate(pem_to_der_list(pem_path)[0])
    return base64.b64encode(hashlib.sha256(spki).digest()).decode("ascii")


# ---------------------------------------------------------------------------------------------
# Configuration


class Settings:
    def __init__(self, config_path, pki_dir, port_base):
        with open(config_path, "r", encoding="utf-8") as f:
            self.cfg = json.load(f)
        cfg = self.cfg
        self.pki = pki_dir
        if port_base is None:
            port_base = urllib.parse.urlsplit(cfg["platform_base_url"]).port or DEFAULT_PORT_BASE
        self.port_base = port_base
        self.main_port = port_base
        self.plain_port = port_base + PLAIN_OFFSET
        self.control_port = port_base + CONTROL_OFFSET
        self.tls_ports = [(port_base + off, chain, role) for off, chain, role in TLS_PORTS]
        self.data_ports = [p for p, _, _ in self.tls_ports] + [self.plain_port]

        def path_of(url):
            return urllib.parse.urlsplit(url).path or "/"

        self.pin_path = path_of(cfg["pin_list_url"])
        self.version_paths = {cfg["version_path"], path_of(cfg["version_url"])}
        self.content_path = cfg["content_path"]
        self.script_prefix = path_of(cfg["page_script_url_prefix"])
        self.start_path = path_of(cfg["init_start_url"])
        self.home_path = path_of(cfg["init_home_url"])
        self.download_path = path_of(cfg["fallback_download_url"])
        self.secret = cfg["x_secret"]
        self.pins = [certificate_pin(os.path.join(pki_dir, n)) for n in ("inter-a.pem", "root-a.pem")]

    def endpoint_of(self, path):
        if path == self.pin_path:
            return "pins"
        if path in self.version_paths:
            return "version"
        if path == self.content_path:
            return "content"
        if path.startswith(self.script_prefix):
            return "page_script"
        return "other"


# ---------------------------------------------------------------------------------------------
# Shared state: switches, request log, counters


class State:
    def __init__(self, ports, latency_ms=0):
        self.lock = threading.Lock()
        self.ports = ports
        self.latency = max(latency_ms, 0) / 1000.0  # added before every answer of a data port
        self.last_activity = time.monotonic()
        self.reset_event = threading.Event()
        self.connection_ids = 0
        self._clear()

    def _clear(self):
        self.switches = {}
        self.tls_plans = {}
        self.requests = []
        self.seq = 0
        self.connections = {str(p): 0 for p in self.ports}
        self.handshakes = {str(p): 0 for p in self.ports}
        self.handshake_failures = {str(p): 0 for p in self.ports}

    def touch(self):
        self.last_activity = time.monotonic()

    def reset(self):
        with self.lock:
            self._clear()
            # Requests held by a "delay" switch give up instead of answering later.
            self.reset_event.set()
            self.reset_event = threading.Event()

    def count(self, table, port):
        with self.lock:
            getattr(self, table)[str(port)] += 1
        self.touch()

    def new_connection_id(self):
        with self.lock:
            self.connection_ids += 1
            return self.connection_ids

    def add_switch(self, switch):
        with self.lock:
            if switch["mode"] == "off":
                self.switches.pop(switch["path"], None)
            else:
                self.switches[switch["path"]] = dict(switch)

    def take_switch(self, path, method):
        """The switch for a request: an exact path first, else the longest matching prefix."""
        with self.lock:
            candidates = sorted((p for p in self.switches if path == p or path.startswith(p)),
                                key=lambda p: (p != path, -len(p)))
            for key in candidates:
                sw = self.switches[key]
                if sw.get("method") and sw["method"].upper() != method:
                    continue
                if "times" in sw:
                    sw["times"] -= 1
                    if sw["times"] <= 0:
                        del self.switches[key]
                return dict(sw), self.reset_event
            return None, self.reset_event

    def set_tls_plan(self, plan):
        with self.lock:
            self.tls_plans[plan["port"]] = {"chains": list(plan["chains"]), "close": bool(plan.get("close")),
                                            "used": 0}

    def next_chain(self, port, default):
        """The chain a new connection on the port presents: the plan's next one, else the port's own."""
        with self.lock:
            plan = self.tls_plans.get(port)
            if not plan:
                return default
            chains = plan["chains"]
            name = chains[min(plan["used"], len(chains) - 1)]
            plan["used"] += 1
            return name

    def closes_after_answer(self, port):
        with self.lock:
            plan = self.tls_plans.get(port)
            return bool(plan and plan["close"])

    def log_request(self, entry):
        with self.lock:
            self.seq += 1
            entry["seq"] = self.seq
            self.requests.append(entry)
        self.touch()

    def snapshot(self):
        def with_total(table):
            out = dict(table)
            out["total"] = sum(table.values())
            return out

        with self.lock:
            return {
                "requests": [dict(r) for r in self.requests],
                "connections": with_total(self.connections),
                "handshakes": with_total(self.handshakes),
                "handshake_failures": with_total(self.handshake_failures),
            }


# ---------------------------------------------------------------------------------------------
# Demo content


def pdf_text(s):
    return s.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def build_pdf(title, pages):
    """A small valid PDF: one Helvetica text page per entry of pages (a list of line lists)."""
    page_count = len(pages)
    font_obj = 3 + 2 * page_count
    info_obj = font_obj + 1
    objects = {
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: ("<< /Type /Pages /Kids [%s] /Count %d >>" % (
            " ".join("%d 0 R" % (3 + 2 * i) for i in range(page_count)), page_count)).encode(),
        font_obj: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        info_obj: ("<< /Title (%s) /Producer (Corvel reference platform) >>" % pdf_text(title)).encode(),
    }
    for i, lines in enumerate(pages):
        ops = ["BT", "/F1 22 Tf", "72 720 Td", "(%s) Tj" % pdf_text(lines[0]), "/F1 13 Tf"]
        for line in lines[1:]:
            ops += ["0 -26 Td", "(%s) Tj" % pdf_text(line)]
        ops += ["ET", "0.13 0.59 0.95 RG", "2 w", "72 708 m 540 708 l S"]
        stream = "\n".join(ops).encode("latin-1")
        objects[3 + 2 * i] = ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                              "/Resources << /Font << /F1 %d 0 R >> >> /Contents %d 0 R >>"
                              % (font_obj, 4 + 2 * i)).encode()
        objects[4 + 2 * i] = b"<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream)
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for number in sorted(objects):
        offsets[number] = len(out)
        out += b"%d 0 obj\n%s\nendobj\n" % (number, objects[number])
    xref = len(out)
    count = max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % count
    for number in range(1, count):
        out += b"%010d 00000 n \n" % offsets[number]
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        count, info_obj, xref)
    return bytes(out)


LESSON_PDF = build_pdf("Corvel demo lesson", [
    ["Corvel demo lesson", "Unit 3: Fractions and decimals",
     "This PDF comes from the local reference platform.",
     "The player lays the student's watermark over it and adds a print button.",
     "Printing goes through the player's own printer dialog."],
    ["Exercises", "1. Write 3/4 as a decimal.", "2. Write 0.2 as a fraction.",
     "3. Which is larger: 5/8 or 0.6?"],
])
HANDOUT_PDF = build_pdf("Corvel demo handout", [
    ["Corvel demo handout", "A PDF shown by address (content type pdf_url).",
     "Summary: a fraction names a part of a whole."],
])


def render_template(name, values):
    """platform_demo/<name> with {{key}} replaced by the HTML-escaped value ({{{key}}}: as is)."""
    with open(os.path.join(DEMO_DIR, name), "r", encoding="utf-8") as f:
        text = f.read()

    def raw(m):
        return str(values[m.group(1)])

    def escaped(m):
        return html.escape(str(values[m.group(1)]), quote=True)

    text = re.sub(r"\{\{\{(\w+)\}\}\}", raw, text)
    return re.sub(r"\{\{(\w+)\}\}", escaped, text)


# ---------------------------------------------------------------------------------------------
# Data port handler


class Reply:
    def __init__(self, status, body=b"", content_type="application/json; charset=utf-8",
                 headers=None):
        self.status = status
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.content_type = content_type
        self.headers = list(headers or [])


def json_reply(status, doc, headers=None):
    return Reply(status, json.dumps(doc, ensure_ascii=False), headers=headers)


def message_reply(status, text):
    return json_reply(status, {"message": text})


def html_reply(text):
    return Reply(200, text, "text/html; charset=utf-8")


class DataHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "CorvelPlatform/1.0"
    timeout = 120  # idle keep-alive connections are closed after this

    # -- plumbing --

    def setup(self):
        self.connection_id = self.server.state.new_connection_id()
        super().setup()

    def log_message(self, fmt, *args):
        sys.stderr.write("[%d] %s\n" % (self.server.port, fmt % args))
        sys.stderr.flush()

    def do_GET(self):
        self.dispatch()

    do_PUT = do_POST = do_DELETE = do_PATCH = do_OPTIONS = do_HEAD = do_GET

    def read_body(self):
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline()
                if len(body) > MAX_BODY:
                    raise ValueError("body too large")
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_BODY:
            raise ValueError("bad Content-Length")
        return self.rfile.read(length) if length else b""

    def send(self, reply):
        if self.server.state.latency:
            time.sleep(self.server.state.latency)  # a distant server: one round trip per answer
        self.send_response(reply.status)
        names = {n.lower() for n, _ in reply.headers}
        if reply.content_type and "content-type" not in names:
            self.send_header("Content-Type", reply.content_type)
        for name, value in reply.headers:
            self.send_header(name, value)
        if self.server.state.closes_after_answer(self.server.port):
            # The client has to open a new connection (and meet the port's next chain).
            self.send_header("Connection", "close")
            self.close_connection = True
        self.send_header("Content-Length", str(len(reply.body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(reply.body)

    def origin(self):
        """Scheme, host and port the client used, for absolute addresses in answers."""
        scheme = "https" if self.server.tls else "http"
        host = self.headers.get("Host") or ""
        if not re.fullmatch(r"(127\.0\.0\.1|localhost)(:\d{1,5})?", host):
            host = "127.0.0.1:%d" % self.server.port
        return "%s://%s" % (scheme, host)

    def header(self, name):
        return self.headers.get(name)

    # -- request flow --

    def dispatch(self):
        state = self.server.state
        split = urllib.parse.urlsplit(self.path)
        self.req_path, self.req_query = split.path or "/", split.query
        try:
            self.body = self.read_body()
        except ValueError:
            self.close_connection = True
            self.send(message_reply(413, "Request body rejected."))
            return
        entry = {
            "port": self.server.port, "tls": self.server.tls,
            "tls_version": self.connection.version() if self.server.tls else None,
            "chain": getattr(self.connection, "corvel_chain", None),
            "connection": self.connection_id,
            "method": self.command, "path": self.req_path, "query": self.req_query,
            "headers": [[n, v] for n, v in self.headers.items()],
            "body": self.body.decode("utf-8", "replace"), "status": None, "switch": None,
        }
        state.log_request(entry)
        switch, reset_event = state.take_switch(self.req_path, self.command)
        if switch:
            entry["switch"] = switch["mode"]
            reply = self.apply_switch(switch, reset_event)
        else:
            reply = self.route()
        if reply is None:  # "drop", or a delay cut short by /reset
            entry["status"] = 0
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        entry["status"] = reply.status
        self.send(reply)

    def apply_switch(self, sw, reset_event):
        mode = sw["mode"]
        if mode == "404_message":
            return message_reply(404, sw.get("message", MSG_SWITCH_404))
        if mode == "500":
            return Reply(500, b"", None)
        if mode == "not_json":
            return Reply(200, "<html><body>Service temporarily unavailable</body></html>",
                         "application/json; charset=utf-8")
        if mode == "wrong_types":
            return json_reply(200, self.wrong_types_document(sw.get("field")))
        if mode == "redirect":
            return Reply(302, b"", None, [("Location", sw.get("location", "/redirected"))])
        if mode == "delay":
            if reset_event.wait(float(sw.get("delay_ms", 35000)) / 1000.0):
                return None
            return self.route()
        if mode == "respond":
            body = sw.get("body", "")
            if not isinstance(body, str):
                body = json.dumps(body, ensure_ascii=False)
            headers = sw.get("headers") or []
            if isinstance(headers, dict):
                headers = list(headers.items())
            return Reply(int(sw.get("status", 200)), body,
                         sw.get("content_type", "application/json; charset=utf-8"),
                         [(str(n), str(v)) for n, v in headers])
        return None  # drop

    def wrong_types_document(self, field):
        """The endpoint's usual document with fields of the wrong JSON types."""
        settings = self.server.settings
        cfg = settings.cfg
        endpoint = settings.endpoint_of(self.req_path)
        if endpoint == "pins":
            if field == "pins":
                return [{"scope": "localhost", "pins": "sha256/" + settings.pins[0]}]
            return [{"scope": 42, "pins": ["sha256/" + p for p in settings.pins]}]
        if endpoint == "version":
            good = {"version": "9.0", "is_required": 1, "link": self.origin() + settings.download_path}
            wrong = {"version": True, "is_required": True, "link": 12}
        elif endpoint == "content":
            good = self.content_document(CATALOG["lesson-page"])
            wrong = {cfg["content_type_key"]: 42, cfg["content_url_key"]: ["not", "a", "string"],
                     cfg["content_video_url_key"]: {"no": "string"},
                     cfg["content_watermark_key"]: 7, cfg["content_script_id_key"]: "seven",
                     cfg["content_wrapper_key"]: "not an object"}
        else:
            good, wrong = {"message": "ok"}, {"message": 404}
        if field:
            good[field] = wrong.get(field, 12345)
            return good
        return wrong

    def route(self):
        s = self.server.settings
        path, method = self.req_path, self.command
        endpoint = s.endpoint_of(path)
        if endpoint == "pins":
            return self.only(("GET",)) or self.pin_list()
        if endpoint == "version":
            return self.only(("GET",)) or json_reply(200, {"version": "4.11", "is_required": 0,
                                                           "link": ""})
        if endpoint == "content":
            return self.only(("PUT",)) or self.content_data()
        if endpoint == "page_script":
            return self.only(("GET",)) or self.page_script(path[len(s.script_prefix):])
        if method not in ("GET", "HEAD"):
            return self.only(("GET",))
        if path == s.download_path:
            return Reply(200, b"Corvel installer placeholder 4.12.0\n", "application/octet-stream",
                         [("Content-Disposition", 'attachment; filename="corvel.exe"')])
        if path in (s.start_path, s.home_path, "/"):
            return html_reply(self.platform_page("Home" if path != s.start_path else "Start"))
        if path == "/select-tenants":
            return html_reply(render_template("select_tenants.html", self.page_values()))
        if path == "/echo/headers":
            return json_reply(200, {"headers": [[n, v] for n, v in self.headers.items()]})
        if path == "/redirected":
            return json_reply(200, {"redirected": True})
        if path == "/demo/lesson.pdf":
            return Reply(200, LESSON_PDF, "application/pdf")
        if path == "/demo/handout.pdf":
            return Reply(200, HANDOUT_PDF, "application/pdf")
        m = re.fullmatch(r"/demo/youtube\.com/embed/([\w-]{1,64})", path)
        if m:
            values = self.page_values(video_id=m.group(1), referer=self.header("Referer") or "",
                                      origin_param=urllib.parse.parse_qs(self.req_query).get(
                                          "origin", [""])[0])
            return html_reply(render_template("youtube_embed.html", values))
        m = re.fullmatch(r"/demo/meeting\.zoom\.us/j/(\d{1,20})", path)
        if m:
            return html_reply(render_template("zoom_meeting.html",
                                              self.page_values(meeting_id=m.group(1))))
        if path == "/demo/style.css":
            with open(os.path.join(DEMO_DIR, "style.css"), "rb") as f:
                return Reply(200, f.read(), "text/css; charset=utf-8")
        m = re.fullmatch(r"/demo/(lesson|messages|embed|blocked)\.html", path)
        if m:
            return html_reply(render_template(m.group(1) + ".html", self.page_values()))
        return message_reply(404, "Not found.")

    def only(self, methods):
        if self.command in methods or (self.command == "HEAD" and "GET" in methods):
            return None
        return Reply(405, json.dumps({"message": "Method not allowed."}),
                     headers=[("Allow", ", ".join(methods))])

    # -- platform API --

    def secret_ok(self):
        return self.header("X-Secret") == self.server.settings.secret

    def pin_list(self):
        if not self.secret_ok():
            return message_reply(403, MSG_FORBIDDEN)
        pins = ["sha256/" + p for p in self.server.settings.pins]
        return json_reply(200, [{"scope": "localhost", "pins": pins},
                                {"scope": "empty.corvel.test", "pins": []}])

    def content_document(self, item):
        cfg = self.server.settings.cfg

        def absolute(value):
            return self.origin() + value if isinstance(value, str) and value.startswith("/") else value

        data = {cfg["content_type_key"]: item["type"], cfg["content_url_key"]: absolute(item["url"])}
        if "video" in item:
            data[cfg["content_video_url_key"]] = absolute(item["video"])
        data[cfg["content_script_id_key"]] = item["script_id"]
        if item.get("wrapped"):
            if "inner_watermark" in item:
                data[cfg["content_watermark_key"]] = item["inner_watermark"]
            return {cfg["content_wrapper_key"]: data, cfg["content_watermark_key"]: item["watermark"],
                    "status": "ok"}
        data[cfg["content_watermark_key"]] = item["watermark"]
        return data

    def content_data(self):
        cfg = self.server.settings.cfg
        if not self.secret_ok() or \
                self.header(cfg["constant_header_name"]) != cfg["constant_header_value"]:
            return message_reply(403, MSG_FORBIDDEN)
        ctype = (self.header("Content-Type") or "").split(";")[0].strip().lower()
        if ctype != "application/x-www-form-urlencoded":
            return message_reply(415, MSG_BAD_FORM)
        form = urllib.parse.parse_qs(self.body.decode("utf-8", "replace"), keep_blank_values=True)
        tokens = form.get(cfg["form_token_field"], [])
        ids = form.get(cfg["form_content_link_field"], [])
        if len(tokens) != 1 or len(ids) != 1:
            return message_reply(400, MSG_BAD_FORM)
        if tokens[0] not in TOKENS:
            return message_reply(401, MSG_SESSION)
        item = CATALOG.get(ids[0])
        if item is None:
            return message_reply(404, MSG_NOT_FOUND)
        if item.get("expired"):
            return message_reply(404, MSG_EXPIRED)
        return json_reply(200, self.content_document(item))

    def page_script(self, rest):
        if re.fullmatch(r"-?\d{1,10}", rest) and int(rest) in PAGE_SCRIPTS:
            script_id = int(rest)
            text = PAGE_SCRIPT_TEMPLATE % {"id": script_id, "title": PAGE_SCRIPTS[script_id]}
            return Reply(200, text, "application/javascript; charset=utf-8")
        return message_reply(404, "No page script with this number.")

    # -- pages --

    def page_values(self, **extra):
        s = self.server.settings
        values = {
            "origin": self.origin(),
            "main_origin": "https://127.0.0.1:%d" % s.main_port,
            "plain_origin": "http://127.0.0.1:%d" % s.plain_port,
            "localhost_main": "https://localhost:%d" % s.main_port,
            "offlist_origin": "http://localhost:%d" % s.plain_port,
            "start_path": s.start_path, "home_path": s.home_path,
        }
        values.update(extra)
        return values

    def platform_page(self, title):
        cfg = self.server.settings.cfg
        names = list(cfg["init_header_names"]) + [cfg["identification_header_name"]]
        expected = [cfg["init_header_value"]] * len(cfg["init_header_names"]) + \
            [cfg["identification_header_value"]]
        rows = []
        for name, want in zip(names, expected):
            got = self.header(name)
            state = "ok" if got == want else ("missing" if got is None else "wrong")
            rows.append('<tr id="header-%s" data-state="%s"><th>%s</th><td>%s</td><td>%s</td></tr>' % (
                html.escape(name.lower()), state, html.escape(name),
                html.escape(got if got is not None else "(not sent)"), state))
        headers_json = json.dumps([[n, v] for n, v in self.headers.items()]).replace("<", "\\u003c")
        return render_template("platform.html", self.page_values(
            title=title, header_rows="\n".join(rows), headers_json=headers_json))


# ---------------------------------------------------------------------------------------------
# Servers


class DataServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, port, chain, contexts, settings, state):
        """chain: the name of the port's own chain (None for plain HTTP); contexts: name -> context."""
        self.port = port
        self.chain = chain
        self.contexts = contexts
        self.tls = chain is not None
        self.settings = settings
        self.state = state
        super().__init__(("127.0.0.1", port), DataHandler)

    def get_request(self):
        sock, addr = super().get_request()
        self.state.count("connections", self.port)
        # Headers and body go out in separate writes: without this, every answer on a kept-alive
        # connection would wait for the client's delayed acknowledgement (about 40 ms).
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.tls:
            # The handshake runs in the connection's own thread (process_request_thread), so a
            # client that stalls it cannot hold up the accept loop.
            name = self.state.next_chain(self.port, self.chain)
            sock = self.contexts[name].wrap_socket(sock, server_side=True,
                                                   do_handshake_on_connect=False)
            sock.corvel_chain = name
        return sock, addr

    def process_request_thread(self, request, client_address):
        if self.tls:
            try:
                request.settimeout(15)
                request.do_handshake()
            except (OSError, ssl.SSLError):
                self.state.count("handshake_failures", self.port)
                self.shutdown_request(request)
                return
            self.state.count("handshakes", self.port)
        super().process_request_thread(request, client_address)

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if isinstance(exc, (ConnectionError, ssl.SSLError, socket.timeout, TimeoutError)):
            return  # clients that go away are normal here
        super().handle_error(request, client_address)


class ControlHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "CorvelPlatformControl/1.0"

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, doc, content_type="application/json; charset=utf-8"):
        body = doc if isinstance(doc, bytes) else json.dumps(doc, ensure_ascii=False).encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        self.server.state.touch()
        if path == "/health":
            self.reply(200, b"ok", "text/plain")
        elif path == "/log":
            self.reply(200, self.server.state.snapshot())
        else:
            self.reply(404, {"error": "unknown control path"})

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        state = self.server.state
        try:
            length = int(self.headers.get("Content-Length") or 0)
            raw = self.rfile.read(length) if length else b""
            doc = json.loads(raw.decode("utf-8")) if raw.strip() else {}
        except (ValueError, UnicodeDecodeError):
            self.reply(400, {"error": "body is not JSON"})
            return
        state.touch()
        if path == "/reset":
            state.reset()
            self.reply(200, {"reset": True})
        elif path == "/switch":
            error = validate_switch(doc)
            if error:
                self.reply(400, {"error": error})
                return
            state.add_switch(doc)
            self.reply(200, {"switch": doc})
        elif path == "/tls":
            error = validate_tls_plan(doc, self.server.tls_ports)
            if error:
                self.reply(400, {"error": error})
                return
            state.set_tls_plan(doc)
            self.reply(200, {"tls": doc})
        else:
            self.reply(404, {"error": "unknown control path"})


def validate_switch(doc):
    if not isinstance(doc, dict):
        return "a switch is a JSON object"
    if not isinstance(doc.get("path"), str) or not doc["path"].startswith("/"):
        return "\"path\" must be a path beginning with /"
    if doc.get("mode") not in SWITCH_MODES:
        return "\"mode\" must be one of " + ", ".join(sorted(SWITCH_MODES))
    if "times" in doc and (not isinstance(doc["times"], int) or doc["times"] < 1):
        return "\"times\" must be a positive integer"
    if "delay_ms" in doc and not isinstance(doc["delay_ms"], (int, float)):
        return "\"delay_ms\" must be a number"
    return None


def validate_tls_plan(doc, tls_ports):
    if not isinstance(doc, dict):
        return "a TLS plan is a JSON object"
    if doc.get("port") not in tls_ports:
        return "\"port\" must be one of the TLS ports " + ", ".join(str(p) for p in sorted(tls_ports))
    chains = doc.get("chains")
    if not isinstance(chains, list) or not chains or any(c not in CHAINS for c in chains):
        return "\"chains\" must be a non-empty list of " + ", ".join(sorted(CHAINS))
    if "close" in doc and not isinstance(doc["close"], bool):
        return "\"close\" must be true or false"
    return None


class ControlServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, port, state, tls_ports):
        self.state = state
        self.tls_ports = tls_ports
        super().__init__(("127.0.0.1", port), ControlHandler)


def tls_context(settings, name):
    chain, key = CHAINS[name]
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    # The whole chain file is presented, leaf first.
    ctx.load_cert_chain(os.path.join(settings.pki, chain), os.path.join(settings.pki, key))
    return ctx


def create_servers(settings, state):
    """All listening servers, or raises OSError (the ports bound so far are released)."""
    servers = []
    try:
        contexts = {name: tls_context(settings, name) for name in CHAINS}
        for port, chain, _ in settings.tls_ports:
            servers.append(DataServer(port, chain, contexts, settings, state))
        servers.append(DataServer(settings.plain_port, None, contexts, settings, state))
        servers.append(ControlServer(settings.control_port, state, [p for p, _, _ in settings.tls_ports]))
    except OSError:
        for server in servers:
            server.server_close()
        raise
    return servers


def describe_ports(settings):
    lines = ["https://127.0.0.1:%d  %s (%s, %s)" % ((p, role) + CHAINS[chain])
             for p, chain, role in settings.tls_ports]
    lines.append("http://127.0.0.1:%d  plain HTTP, same routes" % settings.plain_port)
    lines.append("http://127.0.0.1:%d  control (POST /reset, POST /switch, GET /log, GET /health)"
                 % settings.control_port)
    return lines


def create_servers_waiting(settings, state, wait_seconds, report):
    deadline = time.monotonic() + wait_seconds
    reported = False
    while True:
        try:
            return create_servers(settings, state)
        except OSError as e:
            if e.errno != errno.EADDRINUSE or time.monotonic() >= deadline:
                raise
            if not reported:
                report("waiting up to %d s for the platform ports, held by another process"
                       % wait_seconds)
                reported = True
            time.sleep(0.5)


def serve(servers, state, stop_event, idle_exit):
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    for t in threads:
        t.start()
    try:
        while not stop_event.wait(1.0):
            if idle_exit and time.monotonic() - state.last_activity > idle_exit:
                sys.stderr.write("no request for %d s, stopping\n" % idle_exit)
                break
    except KeyboardInterrupt:
        pass
    stoppers = [threading.Thread(target=s.shutdown) for s in servers]
    for t in stoppers:
        t.start()
    for t in stoppers:
        t.join()
    for s in servers:
        s.server_close()


# ---------------------------------------------------------------------------------------------
# Daemon control


def read_pid(pidfile):
    try:
        with open(pidfile, "r", encoding="ascii") as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def is_our_server(pid):
    """True when pid runs this script (a recycled pid of another program is left alone)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return b"platform_server.py" in f.read()
    except OSError:
        return False


def stop_server(pidfile, quiet=False):
    pid = read_pid(pidfile)
    if pid is not None and is_our_server(pid):
        try:
            os.kill(pid, signal.SIGTERM)
            for _ in range(100):
                time.sleep(0.05)
                if not is_our_server(pid):
                    break
            else:
                os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if not quiet:
            print("platform server %d stopped" % pid)
    elif not quiet:
        print("no platform server running for %s" % pidfile)
    try:
        os.unlink(pidfile)
    except FileNotFoundError:
        pass


def run_daemon(args, settings):
    for path in (args.pidfile, args.logfile):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    stop_server(args.pidfile, quiet=True)  # a server left by an earlier, crashed run
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid:
        os.close(write_end)
        with os.fdopen(read_end, "r", encoding="utf-8") as status:
            lines = status.read().splitlines()
        os.waitpid(pid, 0)
        for line in lines:
            print(line)
        return 0 if lines and lines[-1].startswith("listening") else 1
    # First child: new session, then a grandchild that is not a session leader.
    os.close(read_end)
    os.setsid()
    if os.fork():
        os._exit(0)
    # Detach from the caller's pipes (CTest waits for them to close) and any other inherited fd.
    os.closerange(3, write_end)
    os.closerange(write_end + 1, 4096)
    devnull = os.open(os.devnull, os.O_RDONLY)
    logfd = os.open(args.logfile, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    os.dup2(devnull, 0)
    os.dup2(logfd, 1)
    os.dup2(logfd, 2)
    os.close(devnull)
    os.close(logfd)
    sys.stdout = os.fdopen(1, "w", buffering=1, encoding="utf-8")
    sys.stderr = os.fdopen(2, "w", buffering=1, encoding="utf-8")
    pipe = os.fdopen(write_end, "w", buffering=1, encoding="utf-8")

    def report(line):
        pipe.write(line + "\n")
        print(line)

    state = State(settings.data_ports, args.latency_ms)
    try:
        servers = create_servers_waiting(settings, state, args.wait, report)
    except OSError as e:
        report("failed to listen: %s" % e)
        pipe.close()
        os._exit(1)
    with open(args.pidfile, "w", encoding="ascii") as f:
        f.write("%d\n" % os.getpid())
    stop_event = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop_event.set())
    for line in describe_ports(settings):
        report(line)
    report("listening on 127.0.0.1 ports %d-%d, pid %d" % (
        settings.port_base, settings.plain_port, os.getpid()))
    pipe.close()
    serve(servers, state, stop_event, args.idle_exit)
    if read_pid(args.pidfile) == os.getpid():
        os.unlink(args.pidfile)
    os._exit(0)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Local reference platform server.")
    parser.add_argument("--config", default=DEFAULT_CONFIG)
    parser.add_argument("--pki", default=DEFAULT_PKI)
    parser.add_argument("--port-base", type=int, default=None)
    parser.add_argument("--daemon", action="store_true")
    parser.add_argument("--stop", action="store_true")
    parser.add_argument("--pidfile")
    parser.add_argument("--logfile")
    parser.add_argument("--wait", type=float, default=0,
                        help="seconds to wait for ports held by another process")
    parser.add_argument("--idle-exit", type=float, default=0,
                        help="stop after this many seconds without a request (0: never)")
    parser.add_argument("--latency-ms", type=int, default=0,
                        help="milliseconds added before every answer of a data port")
    args = parser.parse_args(argv)
    if args.stop:
        if not args.pidfile:
            parser.error("--stop needs --pidfile")
        stop_server(args.pidfile)
        return 0
    settings = Settings(args.config, args.pki, args.port_base)
    if args.daemon:
        if not args.pidfile or not args.logfile:
            parser.error("--daemon needs --pidfile and --logfile")
        return run_daemon(args, settings)
    state = State(settings.data_ports, args.latency_ms)
    servers = create_servers_waiting(settings, state, args.wait, print)
    for line in describe_ports(settings):
        print(line, flush=True)
    stop_event = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop_event.set())
    serve(servers, state, stop_event, args.idle_exit)
    return 0


if __name__ == "__main__":
    sys.exit(main())
