#!/usr/bin/env python3
"""The support tools end to end: corvel-make-link -> corvel-inspect-link round trips, envelope
inspection, exit statuses, and corvel-decode-diag on the diagnostic code the player would show.

  tools_test.py --make PATH --inspect PATH --decode PATH [--emulator PATH]

In the cross build the tools are Windows programs and run through the emulator script (Wine);
their output then crosses a pipe, which is what the tools' UTF-8 output path is for.
"""
import argparse
import base64
import json
import os
import re
import subprocess
import sys
import time
import unittest

TOOLS = {}
EMULATOR = []

MAC_FAILURE = "MAC verification failed \u2014 data may be tampered"
OTHER_KEY = "5a" * 32


def run(tool, *args):
    """Runs one tool; returns (exit status, stdout, stderr) as text."""
    done = subprocess.run(EMULATOR + [TOOLS[tool], *args], capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")


def make_link(*args):
    status, out, err = run("make", *args)
    if status != 0:
        raise AssertionError(f"corvel-make-link {args} failed with {status}: {err}")
    assert out.endswith("\n") and out.count("\n") == 1, repr(out)
    return out[:-1]


def fields_of(out):
    """The 'name: value' lines of a successful inspection."""
    return dict(line.split(": ", 1) for line in out.splitlines())


class ToolsTest(unittest.TestCase):
    TOKEN = "t\u03a9-secret-token-0123456789"  # the second character is not ASCII
    CONTENT_ID = "lesson-42"
    DOMAIN = "https://\u0645\u0646\u0635\u0629.example/"

    def expected_fields(self, content_id=CONTENT_ID, direct="no"):
        return {
            "token": "t\u03a9\u2026 (%d bytes)" % len(self.TOKEN.encode("utf-8")),
            "content link id": content_id,
            "domain": self.DOMAIN,
            "direct address": direct,
        }

    def inspect_ok(self, link, *options):
        status, out, err = run("inspect", *options, link)
        self.assertEqual(status, 0, out + err)
        self.assertNotIn(self.TOKEN, out)  # the token is never printed whole
        return fields_of(out)

    def link_with_plus(self):
        # Base64 of plain JSON text holds "+" only where a "~" or ">" falls on the third byte of
        # a group, which the writer's documents never have. Members the player ignores can carry
        # them, so each envelope gets one, as a server adding its own members might.
        link = make_link(self.TOKEN, self.CONTENT_ID, self.DOMAIN)
        parts = link[len("corvel:"):].split(":")
        widened = []
        for part in parts:
            document = json.loads(base64.b64decode(part))
            document["note"] = "~~~>>>"
            widened.append(base64.b64encode(json.dumps(document).encode()).decode())
        link = "corvel:" + ":".join(widened)
        self.assertIn("+", link)
        return link

    def test_link_round_trips_in_every_shape_a_browser_hands_over(self):
        link = self.link_with_plus()
        self.assertTrue(link.startswith("corvel:"))
        self.assertEqual(link.count(":"), 3)
        shapes = {
            "plain": link,
            "spaces for '+'": link.replace("+", " "),
            "upper-case scheme, slashes": "CORVEL://" + link[len("corvel:"):] + "/",
        }
        encoded = make_link("--percent-encode", self.TOKEN, self.CONTENT_ID, self.DOMAIN)
        self.assertTrue(encoded.startswith("corvel:"))
        self.assertEqual(encoded.count(":"), 1)
        self.assertEqual(encoded.count("%3A"), 2)
        shapes["percent-encoded"] = encoded
        shapes["percent-encoded with '+'"] = "corvel:" + link[len("corvel:"):].replace(":", "%3A").replace("+", "%2B")
        for name, shape in shapes.items():
            with self.subTest(name):
                self.assertEqual(self.inspect_ok(shape), self.expected_fields())
        # Without tags the envelopes are refused, like tags that do not match.
        with self.subTest("no tags"):
            plain = make_link("--no-mac", self.TOKEN, self.CONTENT_ID, self.DOMAIN)
            status, out, _ = run("inspect", plain)
            self.assertEqual(status, 1)
            self.assertEqual(out.splitlines()[0], "error: exception_" + MAC_FAILURE)

    def test_direct_address_is_told_apart(self):
        for content_id, direct in (("https://cdn.example/lesson.pdf", "yes"),
                                   ("http://cdn.example/a", "yes"),
                                   ("HTTPS://cdn.example/a", "no"),  # the test is case-sensitive
                                   ("lesson-https://x", "no")):
            with self.subTest(content_id):
                link = make_link(self.TOKEN, content_id, self.DOMAIN)
                self.assertEqual(self.inspect_ok(link), self.expected_fields(content_id, direct))

    def test_keys_must_match(self):
        foreign = make_link("--key-hex", OTHER_KEY, self.TOKEN, self.CONTENT_ID, self.DOMAIN)
        # The tag catches the wrong key before any decryption, so the outcome is certain.
        status, out, _ = run("inspect", foreign)
        self.assertEqual(status, 1)
        self.assertEqual(out.splitlines()[0], "error: exception_" + MAC_FAILURE)
        # The matching key, in either letter case.
        self.assertEqual(self.inspect_ok(foreign, "--key-hex", OTHER_KEY.upper()), self.expected_fields())

    def test_link_errors_and_their_diagnostic_codes(self):
        before = int(time.time())
        cases = {
            "corvel:abc": "split_failed_parts_1",
            "corvel://": "split_failed_parts_0",
            "corvel:a:b:c": "exception_Failed to parse AES envelope JSON",
        }
        for link, code in cases.items():
            with self.subTest(link):
                status, out, _ = run("inspect", link)
                self.assertEqual(status, 1)
                lines = out.splitlines()
                self.assertEqual(lines[0], "error: " + code)
                diag = re.fullmatch(r"diagnostic code: ([A-Za-z0-9+/=]+)", lines[1])
                self.assertIsNotNone(diag, lines[1])
                # Support's decoder gets the reason back.
                status, text, err = run("decode", diag.group(1))
                self.assertEqual(status, 0, err)
                decoded = text.splitlines()
                match = re.fullmatch(r"ERRDIAG\|v1\|ts=(\d+)\|reason=(.*)\|END", decoded[0])
                self.assertIsNotNone(match, decoded[0])
                self.assertEqual(match.group(2), code)
                self.assertLessEqual(before - 5, int(match.group(1)))
                self.assertLessEqual(int(match.group(1)), int(time.time()) + 5)
                self.assertEqual(decoded[2], "reason: " + code)
                self.assertRegex(decoded[1], r"^time: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC$")

    def test_envelope_mode(self):
        link = make_link(self.TOKEN, self.CONTENT_ID, self.DOMAIN)
        _, token_envelope, _, domain_envelope = link.split(":")
        self.assertEqual(run("inspect", "--envelope", token_envelope), (0, self.TOKEN + "\n", ""))
        self.assertEqual(run("inspect", "--envelope", domain_envelope), (0, self.DOMAIN + "\n", ""))
        self.assertEqual(run("inspect", "--envelope", "abc"), (1, "error: Failed to parse AES envelope JSON\n", ""))
        self.assertEqual(run("inspect", "--key-hex", OTHER_KEY, "--envelope", token_envelope),
                         (1, "error: " + MAC_FAILURE + "\n", ""))
        # An envelope without a tag is refused before any decryption.
        untagged = make_link("--no-mac", "x", "y", "z").split(":")[1]
        self.assertEqual(run("inspect", "--envelope", untagged), (1, "error: " + MAC_FAILURE + "\n", ""))

    def test_bad_usage_exits_with_2(self):
        link = make_link("a", "b", "c")
        cases = [
            ("inspect",), ("inspect", link, link), ("inspect", "--envelope"), ("inspect", "--bogus", link),
            ("inspect", "--key-hex", "xyz", link), ("inspect", "--key-hex", "abc", link), ("inspect", "--key-hex"),
            ("make", "a", "b"), ("make", "a", "b", "c", "d"), ("make", "--key-hex", "zz", "a", "b", "c"),
            ("decode",), ("decode", "a", "b"),
        ]
        for tool, *args in cases:
            with self.subTest(" ".join([tool, *args])[:60]):
                status, out, err = run(tool, *args)
                self.assertEqual(status, 2)
                self.assertEqual(out, "")
                self.assertIn("usage:", err)

    def test_refusals_exit_with_1(self):
        status, _, err = run("make", "--key-hex", "00" * 31, "a", "b", "c")
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith("corvel-make-link: "), err)
        status, _, err = run("decode", "bm90IGEgY29kZQ==")
        self.assertEqual(status, 1)
        self.assertIn("not a link diagnostic code", err)


def keep_wine_running(emulator):
    """Starting Wine for each of the many tool runs is slow; one warm-up run sets up the
    emulator's prefix, then its server is asked to stay up between runs."""
    # No pipes here: a server started by this run inherits them and would hold them open.
    subprocess.run([emulator, TOOLS["decode"]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    with open(emulator, encoding="utf-8") as script:
        prefix = re.search(r'WINEPREFIX="([^"]+)"', script.read())
    if prefix:
        env = dict(os.environ, WINEPREFIX=prefix.group(1))
        subprocess.run(["wineserver", "-p", "60"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--make", required=True)
    parser.add_argument("--inspect", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--emulator")
    args, rest = parser.parse_known_args()
    TOOLS.update(make=args.make, inspect=args.inspect, decode=args.decode)
    if args.emulator:
        EMULATOR.append(args.emulator)
        keep_wine_running(args.emulator)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
