#!/usr/bin/env python3
"""The real corvel.exe carried through a lesson under Wine, on the stand-in WebView2 runtime.

The stand-in runtime (EmbeddedBrowserWebView.dll, registered for this Wine user) answers as a
runtime does: creation, script additions and events later and one at a time from the message
loop, deferrals, the settings interfaces of its version. It writes what the player did to
runtime.log and takes the test's commands from commands.txt (tests/fake_webview2_runtime). The
player starts from a link against the reference platform and must: have its settings and scripts
in place before the first Navigate, navigate to the content, cancel a page's way out, show its
window, open its printer dialog from the loop and post the result to the page, hold a pinned
request on its deferral, refuse a download, reload after a renderer failure, ask after a second
failure and make a new view on Retry, and never run a message loop in a callback or stay in one
longer than 100 ms. Its window keeps answering while the start-up waits for a slow platform.
"""
import os
import shutil
import sys
import tempfile
import time
import unittest

from wine_driver import control, run_tests, to_windows_path

ARGS = None
WINE = None
PLATFORM = "https://127.0.0.1:47443"
CONTENT = PLATFORM + "/demo/lesson.html"




class LessonTest(unittest.TestCase):
    def setUp(self):
        control("/reset", {})
        self.work = tempfile.mkdtemp(prefix="corvel-lesson-")
        self.lesson = os.path.join(self.work, "lesson")
        os.makedirs(self.lesson)
        open(os.path.join(self.lesson, "commands.txt"), "w").close()
        runtime = to_windows_path(os.path.join(self.work, "runtime", "131.0.2903.70"))
        setup = WINE.run(ARGS.runtime_setup, "register", "user", runtime)
        self.assertEqual(setup.returncode, 0, setup.stderr)
        folder = os.path.join(self.work, "app")
        os.makedirs(folder)
        self.player = os.path.join(folder, "corvel.exe")
        shutil.copy(ARGS.corvel, self.player)

    def tearDown(self):
        WINE.run(ARGS.runtime_setup, "unregister", "user")
        shutil.rmtree(self.work, ignore_errors=True)

    def log(self):
        path = os.path.join(self.lesson, "runtime.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as log:
            return [line.rstrip("\n") for line in log]

    def wait_log(self, line, count=1, seconds=60):
        end = time.time() + seconds
        while time.time() < end:
            if sum(1 for l in self.log() if l.startswith(line)) >= count:
                return
            time.sleep(0.1)
        self.fail("no %r (x%d) in the runtime's log:\n%s" % (line, count, "\n".join(self.log()[-60:])))

    def command(self, line):
        with open(os.path.join(self.lesson, "commands.txt"), "a") as commands:
            commands.write(line + "\n")

    def test_a_lesson_on_the_stand_in_runtime(self):
        link = WINE.run(ARGS.make_link, "demo-token-2026", "lesson-page", PLATFORM)
        self.assertEqual(link.returncode, 0, link.stderr)
        # The content answers only after 4 s: the player window must keep answering meanwhile.
        control("/switch", {"path": "/api/desktop/content-data", "mode": "delay", "delay_ms": 4000})
        os.environ["CORVEL_FAKE_RUNTIME_LESSON"] = to_windows_path(self.lesson)
        try:
            run = WINE.drive(self.player, [link.stdout.decode().strip()], timeout=240, probe="CorvelWindow",
                             answers=["Select Printer=Cancel", "Corvel V 4.11.0=Retry"])
        finally:
            del os.environ["CORVEL_FAKE_RUNTIME_LESSON"]

        # Everything the first document needs is in place before the player navigates.
        self.wait_log("navigation allowed by-host " + CONTENT)
        self.assertNotIn("HUNG CorvelWindow", run.lines, "the window stopped answering during the start-up")
        calls = [l[len("call "):] for l in self.log() if l.startswith("call ")]
        first = next(i for i, c in enumerate(calls) if c.startswith("view.Navigate"))
        before = calls[:first]
        scripts = [c for c in before if c.startswith("view.AddScriptToExecuteOnDocumentCreated")]
        self.assertTrue(any("printer dialog" in c for c in scripts), before)  # the print block
        for setting in ("settings.AreDevToolsEnabled 0", "settings.AreDefaultContextMenusEnabled 0"):
            self.assertIn(setting, before)

        # The page may not take the student elsewhere.
        self.command("navigate https://elsewhere.example/")
        self.wait_log("navigation cancelled by-page https://elsewhere.example/")

        # The page reports itself loaded: the window is on screen.
        self.command("message pageLoaded")
        self.command("report-window")
        self.wait_log("window visible 1")

        # The page's print button: the player's printer dialog, from the loop; cancelled there,
        # the page hears it.
        self.command("message requestPrint")
        run.wait_for("BOX Select Printer", 60)
        self.wait_log('post {"type":"printResult","status":"cancelled"')

        # A request of the page to the pinned platform waits for the pin check on its deferral;
        # a download is refused.
        self.command("resource " + PLATFORM + "/demo/lesson.html")
        self.wait_log("resource passed " + PLATFORM + "/demo/lesson.html")
        self.command("download " + PLATFORM + "/demo/notes.zip")
        self.wait_log("download cancelled")

        # A renderer that died: the page again. Then the browser: the second failure in a row
        # asks, and Retry makes a new view for the same lesson.
        self.command("process-failed 1")
        self.wait_log("navigation allowed reload " + CONTENT)
        self.command("process-failed 0")
        box = run.wait_for("BOX Corvel V 4.11.0", 60)
        self.assertIn("The lesson stopped working.", box)
        self.wait_log("environment created", 2)
        self.wait_log("navigation allowed by-host " + CONTENT, 2)

        self.command("close-window")
        self.assertEqual(run.finish(120), "EXIT 0")
        self.assertEqual([l for l in self.log() if l.startswith("VIOLATION")], [])


if __name__ == "__main__":
    run_tests(sys.modules[__name__], ('wine-run', 'driver', 'corvel', 'make-link', 'runtime-setup'))
