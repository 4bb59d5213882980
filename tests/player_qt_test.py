#!/usr/bin/env python3
"""The Linux player end to end: the real corvel program against the reference platform server
(tools/platform_server.py, started by the CTest fixture) on the X display the suite runs in.

  player_qt_test.py --player PATH --make-link PATH --decode PATH --config PATH --case NAME

Each case starts the player with its own HOME and XDG folders in a temporary folder, reads the
"Step" lines and the test-hook events (corvel-event: ...) from its standard error, drives it
through its test commands on standard input (webview/test_hooks_qt.h, app/test_commands_qt.h)
and checks what reached the server in its request log. Dialogs answer themselves
(CORVEL_TEST_ANSWER). Exit status 77 (skipped) without a display.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

CONTROL = "http://127.0.0.1:47479"
PLATFORM = "https://127.0.0.1:47443"
TOKEN = "demo-token-2026"
SKIPPED = 77

STEP_LINES = [
    "Step 7: Initializing SSL pinning defaults",
    "Step 7: Loading dynamic pins synchronously",
    "Step 7: Dynamic pins loaded OK",
    "Step 7B: Checking app version...",
    "Step 7B: Version check done. hasUpdate=0",
    "Step 8: Registering URL protocol...",
    "Step 9: Parsing command line...",
]

ARGS = None
CONFIG = None


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# --- the reference platform's control port ------------------------------------------------------

def control(method, path, body=None):
    data = None if body is None else json.dumps(body).encode("utf-8")
    request = urllib.request.Request(CONTROL + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as response:
        return json.loads(response.read().decode("utf-8") or "null")


def server_requests():
    return control("GET", "/log")["requests"]


def requests_for(path, query=None):
    return [r for r in server_requests()
            if r["path"] == path and (query is None or r.get("query", "") == query)]


def header(request, name):
    for key, value in request["headers"]:
        if key.lower() == name.lower():
            return value
    return None


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


# --- the player ---------------------------------------------------------------------------------

def make_link(content_link_id, domain=PLATFORM):
    done = subprocess.run([ARGS.make_link, TOKEN, content_link_id, domain], capture_output=True,
                          text=True, check=True, timeout=30)
    return done.stdout.strip()


class Player:
    """One run of the player, with its standard error collected line by line."""

    def __init__(self, home, link=None, answer="ok", env=None):
        self.home = home
        environment = dict(os.environ)
        environment.update({
            "HOME": home,
            "XDG_DATA_HOME": os.path.join(home, "data"),
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "XDG_CACHE_HOME": os.path.join(home, "cache"),
            "XDG_RUNTIME_DIR": os.path.join(home, "runtime"),
            "CORVEL_TEST_HOOKS": "1",
            "CORVEL_TEST_ANSWER": answer,
            "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu --disable-background-networking "
                                          "--disable-component-update --no-first-run",
            "LANG": "C.UTF-8",
        })
        environment.update(env or {})
        os.makedirs(environment["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        self.lines = []
        self.condition = threading.Condition()
        command = [ARGS.player] + ([link] if link is not None else [])
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, env=environment)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            with self.condition:
                self.lines.append(line)
                self.condition.notify_all()

    def events(self):
        with self.condition:
            return [l[len("corvel-event: "):] for l in self.lines if l.startswith("corvel-event: ")]

    def wait_event(self, predicate, timeout=30, what=None):
        """The first event (from the start of the run) that `predicate` accepts; a string
        predicate matches events that begin with it."""
        test = (lambda e: e.startswith(predicate)) if isinstance(predicate, str) else predicate
        deadline = time.monotonic() + timeout
        with self.condition:
            while True:
                for event in self.events_locked():
                    if test(event):
                        return event
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.process.poll() is not None and not self.reader.is_alive():
                    break
                self.condition.wait(min(remaining, 0.2))
        raise Failure("no event %r; output so far:\n%s" % (what or predicate, self.output()))

    def events_locked(self):
        return [l[len("corvel-event: "):] for l in self.lines if l.startswith("corvel-event: ")]

    def output(self):
        with self.condition:
            return "\n".join(self.lines[-80:])

    def send(self, command):
        self.process.stdin.write((command + "\n").encode("utf-8"))
        self.process.stdin.flush()

    def js(self, script, timeout=15):
        before = len([e for e in self.events() if e.startswith("js-result")])
        self.send("js " + script)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            results = [e for e in self.events() if e.startswith("js-result")]
            if len(results) > before:
                return results[before][len("js-result "):]
            time.sleep(0.05)
        raise Failure("no answer to script %r; output:\n%s" % (script, self.output()))

    def click(self, element_id):
        """Clicks an element a moment after the script has answered (a click that navigates
        would otherwise replace the document before the answer comes back)."""
        answer = self.js("setTimeout(function(){document.getElementById('%s').click();},50);"
                         "!!document.getElementById('%s')" % (element_id, element_id))
        check(answer == "true", "no element #%s on the page" % element_id)

    def window(self):
        """The main window's title, size and state, as a dict."""
        before = len([e for e in self.events() if e.startswith("window ")])
        self.send("window")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            reports = [e for e in self.events() if e.startswith("window ")]
            if len(reports) > before:
                text = reports[before][len("window "):]
                title, rest = text[len("title="):].split(" size=", 1)
                fields = dict(part.split("=", 1) for part in ("size=" + rest).split(" "))
                fields["title"] = title
                return fields
            time.sleep(0.05)
        raise Failure("no window report; output:\n" + self.output())

    def close_and_wait(self, timeout=20):
        self.send("close")
        return self.wait_exit(timeout)

    def wait_exit(self, timeout=30):
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure("the player did not end; output:\n" + self.output())
        self.reader.join(5)
        return code

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)


def check_steps_in_order(player, has_link):
    with player.condition:
        steps = [l for l in player.lines if l.startswith("Step ")]
    expected = STEP_LINES + ["Step 9: hasSchemeArgs=" + ("1" if has_link else "0")]
    check(steps == expected, "Step lines %r, expected %r" % (steps, expected))


def identification_header():
    return CONFIG["identification_header_name"], CONFIG["identification_header_value"]


# --- the cases ----------------------------------------------------------------------------------

def case_pdf(home):
    """A PDF link: the window appears and is revealed, the PDF is requested with the
    identification header, the watermark and print button are on it, the URL handler entry is
    written, and closing the window ends the player with 0."""
    player = Player(home, make_link("lesson-pdf"))
    try:
        player.wait_event("revealed")
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/lesson.pdf")
        check_steps_in_order(player, True)
        events = player.events()
        check(events.index("revealed") < events.index("navigation allowed " + PLATFORM + "/demo/lesson.pdf"),
              "the window is revealed once the content navigation has started: %r" % events)
        check("splash removed" in events or not any(e.startswith("splash shown") for e in events),
              "the splash goes when the content is revealed")
        window = player.window()
        check(window == {"title": "Corvel V 4.11.0", "size": "1280x720", "visible": "1", "fullscreen": "0"},
              "the player window: %r" % window)

        # The pin list first (the later requests are judged with it), then both update checks and
        # the content request, which may run together, and the lesson itself last.
        paths = [r["path"] for r in server_requests() if r["path"] != "/"]
        middle = sorted(["/api/desktop/version", "/api/desktop/version", "/api/desktop/content-data"])
        check(paths[0] == "/api/desktop/pins" and sorted(paths[1:4]) == middle and
              paths[4] == "/demo/lesson.pdf", "the requests in order: %r" % paths)
        name, value = identification_header()
        pdf = requests_for("/demo/lesson.pdf")[0]
        check(header(pdf, name) == value, "identification header on the PDF request: %r" % pdf["headers"])
        check(header(pdf, "Referer") is None, "a Referer is set on YouTube requests only")

        marks = player.js("(document.getElementById('kelmo-watermark')||{}).textContent + '|' + "
                          "!!document.getElementById('kelmo-print-btn')")
        check(marks == "Demo Student \u00b7 \u0637\u0627\u0644\u0628 \u062a\u062c\u0631\u064a\u0628\u064a"
                       " \u00b7 2026|true", "watermark and print button: %r" % marks)

        if os.geteuid() == 0:
            check("The web view's renderer sandbox is off (the player runs as root" in player.output(),
                  "as root the player says that the sandbox is off")

        # The screenshot goes into the player's own data folder and nowhere else.
        elsewhere = os.path.join(home, "elsewhere.png")
        player.send("screenshot " + elsewhere)
        player.wait_event("screenshot-refused")
        player.send("screenshot")
        shot = player.wait_event(lambda e: e.startswith("screenshot ") or e.startswith("screenshot-failed"),
                                 what="the screenshot")
        expected_shot = os.path.join(home, "data", "Corvel", "screenshot.png")
        check(shot == "screenshot " + expected_shot, shot)
        with open(expected_shot, "rb") as image:
            check(image.read(8) == b"\x89PNG\r\n\x1a\n", "a PNG file")
        check(not os.path.exists(elsewhere), "the player wrote a file where it was told to")

        entry_path = os.path.join(home, "data", "applications", "corvel.desktop")
        with open(entry_path, encoding="utf-8") as entry_file:
            entry = entry_file.read()
        check("MimeType=x-scheme-handler/corvel;\n" in entry, entry)
        check('Exec="%s" %%u\n' % os.path.realpath(ARGS.player) in entry, entry)

        code = player.close_and_wait()
        check(code == 0, "exit code after closing the window: %d" % code)
        check("window closed" in player.events(), "the window reported its close")
    finally:
        player.stop()


def case_policy(home):
    """The navigation policy at work on a lesson page: off-list hosts never load (no request
    reaches the server), a same-site page does, and a new window is folded into the view."""
    player = Player(home, make_link("lesson-page"))
    try:
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/lesson.html")

        offlist = "http://localhost:47480/demo/blocked.html"
        player.click("link-offlist-local")
        player.wait_event("navigation blocked " + offlist)
        player.click("link-offlist")
        player.wait_event("navigation blocked https://example.org/")
        time.sleep(1.5)
        check(not requests_for("/demo/blocked.html"), "the off-list page was requested")
        check(player.js("location.pathname") == "/demo/lesson.html", "the lesson stays on screen")

        player.click("link-new-window")
        player.wait_event("navigation allowed " + PLATFORM + "/demo/embed.html?window=new")
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/embed.html?window=new")
        wait_until(lambda: requests_for("/demo/embed.html", "window=new"), 10, "the new window's request")
        check(player.js("location.search") == "?window=new", "the new window opened in the same view")

        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def case_print(home):
    """Printing from a platform page: the printer choice lists the (stand-in) default printer
    first and pre-selected, the page is printed to it, and the page gets "printResult"
    "success"; "toggleFullscreen" flips full screen on and off."""
    output = os.path.join(home, "printed.pdf")
    player = Player(home, make_link("lesson-page"), answer="ok", env={"CORVEL_TEST_PRINTER_PDF": output})
    try:
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/lesson.html")
        player.click("link-messages")
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/messages.html")

        # A frame that writes what looks like a print request to the console is not the page.
        player.js("var f=document.createElement('iframe');f.srcdoc='<script>var m=String.fromCharCode(1);"
                  "console.log(m+\"corvel-web-message\"+m+\"requestPrint\");parent.frameRan=1;<\\/script>';"
                  "document.body.appendChild(f);'added'")
        wait_until(lambda: player.js("String(window.frameRan)") == "1", 10, "the frame's script")
        time.sleep(1)
        check(not [e for e in player.events() if e.startswith("printer-dialog:") or e == "web-message requestPrint"],
              "a frame's console text reached the player: %r" % player.events())

        # A double-click on the page's print button: one dialog; the second request is answered
        # "cancelled" at once, the first prints.
        player.js("var b=document.getElementById('btn-request-print');setTimeout(function(){b.click();b.click();},50);"
                  "'clicking'")
        dialog = player.wait_event("printer-dialog:")
        check("printers=Corvel Test PDF (default)" in dialog and "selected=Corvel Test PDF" in dialog
              and "notice=0" in dialog, dialog)
        player.wait_event("title printResult success", timeout=40)
        check(player.js("document.getElementById('print-result').getAttribute('data-status')") == "success",
              "the page shows the result")
        statuses = player.js("window.corvelMessages.map(function(m){return m.status;}).join(',')")
        check(statuses == "cancelled,success", "the answers to the two requests: %r" % statuses)
        check(len([e for e in player.events() if e.startswith("printer-dialog:")]) == 1,
              "one dialog for two requests: %r" % player.events())
        with open(output, "rb") as printed:
            check(printed.read(5) == b"%PDF-", "the stand-in printer wrote a PDF")

        # window.print() is the host's: it asks for printing too.
        player.click("btn-print")
        wait_until(lambda: len([e for e in player.events() if e.startswith("printer-dialog:")]) == 2, 20,
                   "the second printer choice")

        player.click("btn-toggle-fullscreen")
        player.wait_event("fullscreen 1")
        check(player.window()["fullscreen"] == "1", "full screen on")
        player.click("btn-toggle-fullscreen")
        player.wait_event("fullscreen 0")
        window = player.window()
        check(window["fullscreen"] == "0" and window["size"] == "1280x720", "back to 1280 x 720: %r" % window)
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def pdf_pages_text(path):
    """The text of each page of a PDF file (pdftotext), blanks removed."""
    pages = int(subprocess.run(["pdfinfo", path], capture_output=True, text=True, check=True)
                .stdout.split("Pages:")[1].split()[0])
    return ["".join(subprocess.run(["pdftotext", "-f", str(n), "-l", str(n), path, "-"], capture_output=True,
                                   text=True, check=True).stdout.split()) for n in range(1, pages + 1)]


def case_print_pdf(home):
    """The print button of a PDF lesson prints the lesson's pages, each under the watermark; a
    document that cannot be read gives an error result and prints nothing."""
    output = os.path.join(home, "printed.pdf")
    player = Player(home, make_link("lesson-pdf"), answer="ok", env={"CORVEL_TEST_PRINTER_PDF": output})
    try:
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/lesson.pdf")
        notice = "(document.getElementById('kelmo-print-notice')||{getAttribute:function(){return ''}})"
        player.click("kelmo-print-btn")
        player.wait_event("printer-dialog:")
        wait_until(lambda: player.js(notice + ".getAttribute('data-status')") == "success", 60, "the print's success")
        pages = pdf_pages_text(output)
        check(len(pages) == 2, "one printed page per lesson page: %r" % pages)
        check("Unit3:Fractionsanddecimals" in pages[0] and "Write3/4asadecimal." in pages[1],
              "the lesson's text: %r" % pages)
        watermark = "".join(sorted("DemoStudent\u00b7\u0637\u0627\u0644\u0628\u062a\u062c\u0631\u064a\u0628\u064a\u00b72026"))
        for page in pages:
            # The watermark is printed at an angle: its letters, in whatever order they are read.
            marks = sorted(c for c in page if c in watermark)
            check("".join(marks).count("2") >= watermark.count("2") and all(
                marks.count(c) >= watermark.count(c) for c in set(watermark)), "the watermark on %r" % page)

        # A document that is not a PDF any more: an error, in both languages, and no paper.
        os.remove(output)
        control("POST", "/switch", {"path": "/demo/lesson.pdf", "mode": "respond", "status": 200,
                                    "body": "not a PDF", "content_type": "application/pdf"})
        player.click("kelmo-print-btn")
        wait_until(lambda: player.js(notice + ".getAttribute('data-status')") == "error", 60, "the print's error")
        text = player.js(notice + ".textContent")
        check(text.startswith("The lesson's PDF could not be read") and "\u0637\u0628\u0627\u0639\u0629" in text, text)
        time.sleep(1)
        check(not os.path.exists(output), "nothing was printed for an unreadable document")
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def case_print_without_printers(home):
    """Without any printer the choice shows only the notice; leaving it posts "cancelled"."""
    player = Player(home, make_link("lesson-page"), answer="ok", env={"CUPS_SERVER": "/nonexistent/cups.sock"})
    try:
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/lesson.html")
        player.click("link-messages")
        player.wait_event("load-finished 1 " + PLATFORM + "/demo/messages.html")
        player.js("window.chrome.webview.postMessage({action: 'requestPrint'}); 'posted'")
        player.wait_event("web-message {\"action\":\"requestPrint\"}")
        dialog = player.wait_event("printer-dialog:")
        check("printers= " in dialog and "notice=1" in dialog, dialog)
        player.wait_event("title printResult cancelled")
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def case_youtube(home):
    """YouTube content: the watch address becomes the embed address on YouTube's host, which the
    policy lets the view open; the page script is fetched from the platform; the video's request
    carries the platform as its Referer. (YouTube itself is not reached from the test machine.)"""
    player = Player(home, make_link("lesson-youtube"))
    try:
        embed = "https://www.youtube.com/embed/M7lc1UVf-VE?origin="
        player.wait_event(lambda e: e.startswith("navigation allowed " + embed), what="the embed page")
        player.wait_event(lambda e: e.startswith("request header Referer " + PLATFORM + " " + embed),
                          what="the Referer of the video request")
        scripts = [r for r in server_requests() if r["path"].endswith("/page-scripts/7")]
        check(len(scripts) == 1, "page script requests: %r" % scripts)
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def case_embed(home):
    """Content of another kind is shown in the composed page: its own navigation passes the
    policy as about:blank, the frame loads the content and the page reports itself loaded."""
    player = Player(home, make_link("lesson-embed"))
    try:
        player.wait_event("navigation allowed about:blank")
        player.wait_event("web-message pageLoaded")
        wait_until(lambda: requests_for("/demo/embed.html"), 10, "the embedded page's request")
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def player_renderers(player):
    """The player's renderers: its descendants that run as renderers, which Chromium's zygote
    forks under the zygote's own command line."""
    parents, lines = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as cmdline:
                lines[int(entry)] = cmdline.read()
        except (OSError, IndexError, ValueError):
            continue

    def descends(pid):
        while pid not in (None, 0, 1):
            pid = parents.get(pid)
            if pid == player.process.pid:
                return True
        return False

    sandboxed_zygote = lambda pid: (b"--type=zygote" in lines.get(pid, b"")
                                    and b"--no-zygote-sandbox" not in lines.get(pid, b""))
    return [pid for pid, line in lines.items()
            if descends(pid) and (b"--type=renderer" in line or sandboxed_zygote(parents.get(pid)))]


def kill_renderers(player):
    """Kills every renderer the player started. A listing of /proc can miss a process that is
    being forked or reparented, so the search is repeated for a while before it fails."""
    deadline = time.monotonic() + 10
    renderers = player_renderers(player)
    while not renderers and time.monotonic() < deadline:
        time.sleep(0.2)
        renderers = player_renderers(player)
    check(renderers, "no renderer process of the player found")
    for pid in renderers:
        os.kill(pid, signal.SIGKILL)


def case_renderer_crash(home):
    """A renderer that dies reloads the lesson; the second death in a row offers Retry, which
    makes a new view for the same lesson; the third ends in the diagnostic dialog."""
    player = Player(home, make_link("lesson-embed"))
    try:
        loads = lambda: len([e for e in player.events() if e == "web-message pageLoaded"])
        player.wait_event("web-message pageLoaded")
        kill_renderers(player)
        player.wait_event("process failed renderer-exited reload")
        wait_until(lambda: loads() == 2, 30, "the lesson reloaded")
        kill_renderers(player)
        player.wait_event("process failed renderer-exited offer-retry")
        box = player.wait_event("retry-box: ")
        check("Retry" in box and "\u0625\u0639\u0627\u062f\u0629" in box, box)
        player.wait_event("view restarted")
        wait_until(lambda: loads() == 3, 30, "the lesson in a new view")
        kill_renderers(player)
        player.wait_event("process failed renderer-exited give-up")
        check(player.wait_exit(40) == 0, "exit code after the diagnostic dialog")
        dialog = player.wait_event("diagnostic-dialog:")
        check(" code=WEBVIEW_PROCESS_FAILED " in dialog, dialog)
    finally:
        player.stop()


def case_expired(home):
    """A link the server refuses: its message in a right-to-left warning box, exit code 1, and
    no player content."""
    player = Player(home, make_link("lesson-expired"))
    try:
        code = player.wait_exit(40)
        box = player.wait_event("message-box:")
        check(code == 1, "exit code %d" % code)
        check("caption=Corvel - \u062e\u0637\u0623 icon=warning buttons=ok rtl=1 text=" in box, box)
        check(len(box.split(" text=", 1)[1]) > 0, "the server's message is shown: " + box)
        check(requests_for("/api/desktop/content-data"), "the content was asked for")
        check("revealed" not in player.events(), "nothing is revealed")
    finally:
        player.stop()


def case_link_error(home):
    """A link that cannot be read ends in the diagnostic dialog: the code is on the clipboard,
    decodes to the parser's error, and the process ends with 0."""
    player = Player(home, "corvel:not-a-real-link")
    try:
        code = player.wait_exit(40)
        dialog = player.wait_event("diagnostic-dialog:")
        check(code == 0, "exit code %d" % code)
        check(dialog.startswith("diagnostic-dialog: title=Link Error - \u062e\u0637\u0623 \u0641\u064a "
                                "\u0627\u0644\u0631\u0627\u0628\u0637 code="), dialog)
        shown = dialog.split(" code=", 1)[1].split(" clipboard=", 1)
        check(len(shown) == 2 and shown[0] and shown[0] == shown[1], "code and clipboard: " + dialog)
        decoded = subprocess.run([ARGS.decode, shown[0]], capture_output=True, text=True, timeout=30)
        check(decoded.returncode == 0 and "reason: split_failed_parts_1" in decoded.stdout,
              "decoded code: %r" % decoded.stdout)
        check("Failed to process the content link." in player.output(), "the text on standard error")
    finally:
        player.stop()


def case_second_instance(home):
    """A second start with a link while a player runs: "already running", exit 0, the first
    player untouched. A start without a link (the init screen) is another role and may run."""
    first = Player(home, make_link("lesson-pdf"))
    second = None
    init = None
    try:
        first.wait_event("revealed")
        second = Player(home, make_link("lesson-page"))
        check(second.wait_exit(30) == 0, "the second player's exit code")
        box = second.wait_event("message-box:")
        check(box == "message-box: caption=Corvel icon=information buttons=ok rtl=0 text=The application is "
                     "already running.\n\n\u0627\u0644\u0628\u0631\u0646\u0627\u0645\u062c \u064a\u0639\u0645\u0644 "
                     "\u0628\u0627\u0644\u0641\u0639\u0644.".replace("\n", "\\n"), box)
        with second.condition:
            check(not [l for l in second.lines if l.startswith("Step ")], "the second player stopped first")

        init = Player(home)
        init.wait_event("instance lock ")
        init.wait_event("init shown", timeout=40)
        check(init.close_and_wait() == 0, "the init screen's exit code")
        check(first.process.poll() is None, "the first player still runs")
        check(first.close_and_wait() == 0, "the first player's exit code")
    finally:
        for player in (first, second, init):
            if player is not None:
                player.stop()


def case_update(home):
    """A mandatory update at start: the prompt, the download address handed to the browser (the
    built-in one when the server offers none), exit code 0 before any window."""
    control("POST", "/switch", {"path": "/api/desktop/version", "mode": "respond", "status": 200,
                                "body": {"version": "9.0", "is_required": 1, "link": ""},
                                "content_type": "application/json"})
    player = Player(home, make_link("lesson-pdf"), answer="ok")
    try:
        code = player.wait_exit(40)
        box = player.wait_event("message-box:")
        check(code == 0, "exit code %d" % code)
        check(box.startswith("message-box: caption=Corvel - Update Required icon=warning buttons=ok-cancel rtl=0 "
                             "text=A mandatory update is available."), box)
        check(player.events().count("open-in-browser " + CONFIG["fallback_download_url"]) == 1,
              "the download address: %r" % player.events())
        with player.condition:
            check("Step 8: Registering URL protocol..." not in player.lines, "start-up ended at the prompt")
    finally:
        player.stop()


def comma_locale_environment():
    """The environment of a player in a comma-decimal locale: de_DE.UTF-8, from the folder the
    comma_locale fixture made (LOCPATH)."""
    environment = {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}
    probe = subprocess.run([sys.executable, "-c",
                            "import locale; locale.setlocale(locale.LC_ALL, ''); "
                            "print(locale.localeconv()['decimal_point'])"],
                           capture_output=True, text=True, timeout=30, env=dict(os.environ, **environment))
    check(probe.returncode == 0 and probe.stdout.strip() == ",",
          "no de_DE.UTF-8 locale in LOCPATH=%r: %s" % (os.environ.get("LOCPATH", ""), probe.stderr.strip()))
    return environment


def case_comma_locale(home):
    """Version 4.11.0 in a locale that writes decimals with a comma: a server answering 4.11 (a
    JSON number) prompts no update at either check and the lesson plays; a server answering
    "4.12" (a string) is still seen as newer."""
    environment = comma_locale_environment()
    control("POST", "/switch", {"path": "/api/desktop/version", "mode": "respond", "status": 200,
                                "body": {"version": 4.11, "is_required": 1, "link": ""},
                                "content_type": "application/json"})
    player = Player(home, make_link("lesson-pdf"), answer="ok", env=environment)
    try:
        player.wait_event("revealed", timeout=40)
        check_steps_in_order(player, True)
        check(not [e for e in player.events() if e.startswith("message-box:")],
              "no prompt: %r" % player.events())
        check(len(requests_for("/api/desktop/version")) == 2, "both version checks asked the server")
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()

    control("POST", "/reset")
    control("POST", "/switch", {"path": "/api/desktop/version", "mode": "respond", "status": 200,
                                "body": {"version": "4.12", "is_required": 0, "link": ""},
                                "content_type": "application/json"})
    newer = Player(os.path.join(home, "newer"), make_link("lesson-pdf"), answer="no", env=environment)
    try:
        newer.wait_event("revealed", timeout=40)
        boxes = [e for e in newer.events() if e.startswith("message-box:")]
        check(len(boxes) == 2 and all("caption=Corvel - Update Available" in b for b in boxes),
              "the optional prompt at both checks: %r" % boxes)
        check(newer.close_and_wait() == 0, "exit code after closing")
    finally:
        newer.stop()


def case_init_screen(home):
    """Without a link: the init screen loads the start page with its two headers and the
    identification header, tracks nothing for its own pages, and its bar's Home goes home."""
    player = Player(home)
    try:
        player.wait_event("load-finished 1 " + PLATFORM + "/start")
        player.wait_event("init shown")
        check_steps_in_order(player, False)
        start = requests_for("/start")
        check(start, "the start page was requested")
        for name in CONFIG["init_header_names"]:
            check(header(start[0], name) == CONFIG["init_header_value"], "%s on /start: %r" % (name, start[0]["headers"]))
        name, value = identification_header()
        check(header(start[0], name) == value, "identification header on /start")
        states = player.js("Array.prototype.map.call(document.querySelectorAll('tr[id^=header-]'),"
                           "function(r){return r.id+'='+r.getAttribute('data-state');}).join(',')")
        check(states and "missing" not in states and "wrong" not in states, "the page saw: " + states)
        check(player.js("!!document.getElementById('kelmo-nav-container')") == "true", "the navigation bar")
        check(player.window() == {"title": "Corvel V 4.11.0", "size": "1024x768", "visible": "1", "fullscreen": "0"},
              "the init screen window")
        check("platform-domain " + PLATFORM in player.events(), "the platform site is remembered")

        player.js("window.chrome.webview.postMessage('btn_home'); 'posted'")
        player.wait_event("load-finished 1 " + PLATFORM + "/home")
        check(requests_for("/home"), "Home was requested")
        player.js("window.chrome.webview.postMessage('btn_back'); 'posted'")
        wait_until(lambda: len([e for e in player.events() if e == "load-finished 1 " + PLATFORM + "/start"]) == 2,
                   15, "Back to the start page")
        player.js("window.chrome.webview.postMessage('btn_fullscreen'); 'posted'")
        player.wait_event("fullscreen 1")
        player.js("window.chrome.webview.postMessage('btn_fullscreen'); 'posted'")
        player.wait_event("fullscreen 0")
        check(player.window()["size"] == "1024x768", "the saved placement comes back")
        # A tenant page on another site does not become the platform site; another page does.
        other = "http://127.0.0.1:47480"
        player.js("setTimeout(function(){location.href='%s/select-tenants';},10); 'going'" % other)
        player.wait_event("load-finished 1 " + other + "/select-tenants")
        player.js("setTimeout(function(){location.href='%s/start';},10); 'going'" % other)
        player.wait_event("load-finished 1 " + other + "/start")
        changes = [e for e in player.events() if e.startswith("platform-domain")]
        check(changes == ["platform-domain " + PLATFORM, "platform-domain " + other], "platform site changes: %r" % changes)
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


def case_certificate(home):
    """A pinned host whose certificate Intermediate A issued for another name: the view refuses it
    although the pinned key is in the chain, and the page never loads. (The pin gate's probe, the
    first connection, meets the good chain; the view's own connection the wrong one.)"""
    rotated = 47445
    control("POST", "/tls", {"port": rotated, "chains": ["rotated", "wrong-name"], "close": True})
    address = "https://localhost:%d/demo/lesson.html" % rotated
    player = Player(home, make_link(address))
    try:
        player.wait_event("navigation allowed " + address)
        player.wait_event("certificate refused localhost")
        player.wait_event(lambda e: e.startswith("load-finished 0 "), what="the failed load")
        pages = [r for r in server_requests() if r["port"] == rotated and r["path"] == "/demo/lesson.html"]
        check(not pages, "the page reached the server: %r" % pages)
        check(player.close_and_wait() == 0, "exit code after closing")
    finally:
        player.stop()


CASES = {
    "certificate": case_certificate,
    "pdf": case_pdf,
    "policy": case_policy,
    "print": case_print,
    "print-without-printers": case_print_without_printers,
    "print-pdf": case_print_pdf,
    "youtube": case_youtube,
    "embed": case_embed,
    "renderer-crash": case_renderer_crash,
    "expired": case_expired,
    "link-error": case_link_error,
    "second-instance": case_second_instance,
    "update": case_update,
    "init-screen": case_init_screen,
    "comma-locale": case_comma_locale,
}


def main():
    global ARGS, CONFIG
    parser = argparse.ArgumentParser()
    parser.add_argument("--player", required=True)
    parser.add_argument("--make-link", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    ARGS = parser.parse_args()
    with open(ARGS.config, encoding="utf-8") as config_file:
        CONFIG = json.load(config_file)
    if not os.environ.get("DISPLAY"):
        print("skipped: no X display (scripts/test runs the suite under Xvfb)")
        return SKIPPED
    control("POST", "/reset")
    with tempfile.TemporaryDirectory(prefix="corvel-player-") as home:
        try:
            CASES[ARGS.case](home)
        except Failure as failure:
            print("FAILED:", failure)
            return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
