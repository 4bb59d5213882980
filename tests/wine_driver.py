"""Driving Windows programs under Wine from Python tests: the build's Wine runner, paths, and the
smoke driver (tests/smoke_driver_win.cpp), which starts a program, reports its message boxes
("BOX <caption>\\t<text>") and answers them, then reports how it ended ("EXIT <code>"); also
the reference platform's control port and the test scripts' common entry point."""
import argparse
import json
import os
import re
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

PLATFORM_CONTROL = "http://127.0.0.1:47479"


def control(path, body=None):
    """A request to the reference platform's control port; GET without a body. /log is read as
    JSON."""
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(PLATFORM_CONTROL + path, data=data, method="POST" if data is not None else "GET")
    with urllib.request.urlopen(request, timeout=10) as response:
        return json.loads(response.read() or b"null") if path == "/log" else response.read()


def run_tests(module, names):
    """A test script's entry: the required options --NAME (always --wine-run and --driver among
    them) into module.ARGS, the Wine runner into module.WINE, then the script's unittest cases."""
    parser = argparse.ArgumentParser()
    for name in names:
        parser.add_argument("--" + name, required=True)
    module.ARGS, rest = parser.parse_known_args()
    module.WINE = Wine(module.ARGS.wine_run, module.ARGS.driver)
    unittest.main(module=module, argv=[sys.argv[0], *rest], verbosity=2)


class Wine:
    def __init__(self, wine_run, driver=None):
        self.wine_run = wine_run
        self.driver = driver

    def run(self, *command, env=None, timeout=120, **kwargs):
        return subprocess.run([self.wine_run, *command], env=env, capture_output=True, timeout=timeout, **kwargs)

    def windows_variable(self, name):
        """A variable of the Wine user's environment, such as LOCALAPPDATA."""
        out = self.run("cmd", "/c", "echo", f"%{name}%").stdout.decode("utf-8", "replace").strip()
        assert out and "%" not in out, f"no {name} in the Wine environment: {out!r}"
        return out

    def unix_path(self, windows_path):
        out = self.run("winepath", "-u", windows_path).stdout.decode("utf-8", "replace").strip()
        assert out, f"winepath gave nothing for {windows_path!r}"
        return out

    def registry_values(self, key):
        """The values directly under a registry key as {name: (type, data)}; None when the key is
        missing. The default value is named ""."""
        run = self.run("reg", "query", key)
        if run.returncode != 0:
            return None
        values = {}
        for line in run.stdout.decode("utf-8", "replace").splitlines():
            match = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line)
            if match:
                name = "" if match.group(1) == "(Default)" else match.group(1)
                values[name] = (match.group(2), match.group(3))
        return values

    def drive(self, program, arguments=(), answers=(), debug_strings=False, timeout=90, probe=None):
        return Driven(self, program, arguments, answers, debug_strings, timeout, probe)


def to_windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Driven:
    """The smoke driver running one program; its report lines arrive on a thread."""

    def __init__(self, wine, program, arguments, answers, debug_strings, timeout, probe=None):
        env = dict(os.environ)
        env["WINEDEBUG"] = "+debugstr" if debug_strings else "-all"
        command = [wine.wine_run, wine.driver, "--timeout", str(timeout)]
        for answer in answers:
            command += ["--answer", answer]
        if probe:
            command += ["--probe", probe]
        command += ["--", program, *arguments]
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = []
        self.stderr_lines = []
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._read_stderr, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            with self.changed:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))
                self.changed.notify_all()

    def _read_stderr(self):
        # Line by line: a Wine server started by this run keeps the pipe open after the end.
        for raw in self.process.stderr:
            self.stderr_lines.append(raw.decode("utf-8", "replace"))

    def wait_for(self, prefix, seconds=90):
        end = time.time() + seconds
        with self.changed:
            while True:
                for line in self.lines:
                    if line.startswith(prefix):
                        return line
                left = end - time.time()
                if left <= 0:
                    raise AssertionError(f"no line starting with {prefix!r}; got {self.lines}")
                self.changed.wait(left)

    def finish(self, seconds=90):
        self.process.wait(timeout=seconds)
        time.sleep(0.2)
        return self.wait_for("EXIT", 5)

    def debug_strings(self):
        text = "".join(self.stderr_lines)
        return [m.group(1) for m in re.finditer(r'OutputDebugStringA "(.*?)"\s*$', text, re.M) if m.group(1) != "\\n"]
