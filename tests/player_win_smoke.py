#!/usr/bin/env python3
"""Smoke runs of the built corvel.exe under Wine, driven from outside like a user would.

1. With no WebView2Loader.dll beside it, the player reaches the runtime check and asks whether
   to install the runtime; answering No ends it with exit code 1.
2. With the stand-in loader (it reports a runtime; creating the environment fails through the
   completion callback), a whole start-up with a launch link against the reference platform:
   the "Step" lines in order, the URL scheme in the registry, the link resolved against the
   server (its requests in the server's log), a second start with a link refused as already
   running, and finally the "WebView2 Error" box naming the stage CreateEnvironmentCallback,
   exit code 1.
"""
import os
import shutil
import sys
import tempfile
import unittest

from wine_driver import control, run_tests, to_windows_path

ARGS = None
WINE = None




def wine(*command):
    return WINE.run(*command)


def make_link(token, content_id, domain):
    run = wine(ARGS.make_link, token, content_id, domain)
    assert run.returncode == 0, run.stderr
    return run.stdout.decode().strip()


class PlayerSmokeTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="corvel-smoke-")
        control("/reset", {})

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def install(self, name, with_loader):
        folder = os.path.join(self.work, name)
        os.makedirs(folder)
        shutil.copy(ARGS.corvel, os.path.join(folder, "corvel.exe"))
        if with_loader:
            shutil.copy(ARGS.loader, os.path.join(folder, "WebView2Loader.dll"))
        return os.path.join(folder, "corvel.exe")

    def test_without_a_runtime_the_player_asks_and_ends_with_1_on_no(self):
        player = self.install("bare", with_loader=False)
        run = WINE.drive(player, answers=["Kelmo \u2014 Component Required=No"])
        box = run.wait_for("BOX Kelmo \u2014 Component Required")
        self.assertIn("WebView2 Runtime is required to run this application.", box)
        self.assertIn("Would you like to install it now?", box)
        self.assertEqual(run.finish(), "EXIT 1")
        self.assertEqual([l for l in run.lines if l.startswith("BOX")], [box])  # nothing downloaded

    def test_a_link_start_up_runs_every_step_against_the_platform(self):
        player = self.install("with-loader", with_loader=True)
        release = os.path.join(self.work, "release")
        link = make_link("demo-token-2026", "lesson-pdf", "https://127.0.0.1:47443")

        first = WINE.drive(player, [link], answers=[f"WebView2 Error=OK@{to_windows_path(release)}"],
                       debug_strings=True)
        box = first.wait_for("BOX WebView2 Error", 120)
        self.assertIn("Failed to initialize WebView2.\\n\\nWebView2 initialization failed. First=", box)
        self.assertIn(" at CreateEnvironmentCallback; last=", box)
        self.assertIn("; runtime=Evergreen 120.0.2210.91; lastUserData=", box)
        self.assertIn("\\Corvel\\WebView2Data_Evergreen_Env5", box)

        # The URL scheme points at this executable.
        query = wine("reg", "query", r"HKCU\Software\Classes\corvel\shell\open\command")
        self.assertIn(f'"{to_windows_path(player)}" "%1"', query.stdout.decode("utf-8", "replace"))

        # The link was resolved against the platform: the certificate pre-flight and the pin list
        # first, then together both version checks, the content and the page gate's probe.
        requests = [(r["method"], r["path"]) for r in control("/log")["requests"]]
        self.assertEqual(requests[:2], [("HEAD", "/"), ("GET", "/api/desktop/pins")], requests)
        self.assertEqual(sorted(requests[2:]), [("GET", "/api/desktop/version"), ("GET", "/api/desktop/version"),
                                                ("HEAD", "/"), ("PUT", "/api/desktop/content-data")], requests)

        # A second start with a link, while the first runs, is turned away.
        second = WINE.drive(player, [link], answers=["Corvel=OK"])
        refused = second.wait_for("BOX Corvel")
        self.assertIn("The application is already running.", refused)
        self.assertEqual(second.finish(), "EXIT 0")

        open(release, "w").close()
        self.assertEqual(first.finish(), "EXIT 1")
        self.assertEqual(first.debug_strings(), [
            "Step 7: Initializing SSL pinning defaults",
            "Step 7: Loading dynamic pins synchronously",
            "Step 7: Dynamic pins loaded OK",
            "Step 7B: Checking app version...",
            "Step 7B: Version check done. hasUpdate=0",
            "Step 8: Registering URL protocol...",
            "Step 9: Parsing command line...",
            "Step 9: hasSchemeArgs=1",
        ])


if __name__ == "__main__":
    run_tests(sys.modules[__name__], ('wine-run', 'driver', 'corvel', 'loader', 'make-link'))
