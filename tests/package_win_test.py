#!/usr/bin/env python3
"""The Windows packages as a school would use them, under Wine: scripts/package-windows packs a
built corvel.exe into the zip and the installer, unsigned and signed with a test certificate.

- The same inputs give the same zip and installer, byte for byte.
- A signed package's corvel.exe, installer and (installed) uninstaller verify against the test
  certificate.
- corvel.exe taken alone out of the zip, with the stand-in WebView2 runtime registered the way the
  runtime's updater does it, passes the runtime check and gets as far as creating the web view
  (the stand-in then fails, and the player ends in the "WebView2 Error" box).
- The installer, silent: files, shortcut, uninstall entry and URL scheme in place; the installed
  player starts; the silent uninstall removes what it installed, keeps the student's data, and
  leaves a URL scheme that another copy of the player has taken over.
- Per machine, as deployment tools run them: the installer with /ALLUSERS and the MSI
  (msiexec /i ... /qn): files in Program Files, the scheme and the uninstall entry in HKLM, the
  shortcut for all users, the installed player starting, and a clean removal.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

from wine_driver import run_tests, to_windows_path

ARGS = None
WINE = None
RUNTIME_VERSION = "131.0.2903.70"
SETUP = "corvel-setup-x64.exe"
ZIP = "corvel-windows-x64.zip"
MSI = "corvel-x64.msi"
MACHINE_SCHEME_KEY = r"HKLM\Software\Classes\corvel"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvel"
SCHEME_KEY = r"HKCU\Software\Classes\corvel"
PASSWORD = "pfx-password-for-tests"


def package(dist, *options, env=None):
    run = subprocess.run([ARGS.package, "--exe", ARGS.corvel, "--dist", dist, *options],
                         capture_output=True, env=env, timeout=600)
    assert run.returncode == 0, run.stdout.decode() + run.stderr.decode()
    return run


def verify(path, ca):
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path], capture_output=True, timeout=120)
    return run.returncode == 0 and b"Succeeded" in run.stdout


class StandInRuntime:
    """The stand-in WebView2 runtime, registered machine-wide for the life of a with-block."""

    def __init__(self, work):
        self.folder = to_windows_path(os.path.join(work, "EdgeWebView", "Application", RUNTIME_VERSION))

    def __enter__(self):
        run = WINE.run(ARGS.runtime_setup, "register", "machine", self.folder)
        assert run.returncode == 0, run.stderr
        return self

    def __exit__(self, *_):
        WINE.run(ARGS.runtime_setup, "unregister", "machine")


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="corvel-package-")
        cls.plain = os.path.join(cls.work, "plain")
        cls.again = os.path.join(cls.work, "again")
        cls.signed = os.path.join(cls.work, "signed")
        package(cls.plain)
        package(cls.again)

        keys = os.path.join(cls.work, "keys")
        os.makedirs(keys)
        cls.cert = os.path.join(keys, "cert.pem")
        key = os.path.join(keys, "key.pem")
        cls.pfx = os.path.join(keys, "signer.pfx")
        for command in (
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
             "-subj", "/CN=Corvel Package Test Signer", "-addext", "extendedKeyUsage=codeSigning",
             "-keyout", key, "-out", cls.cert],
            ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cls.cert, "-out", cls.pfx,
             "-passout", "pass:" + PASSWORD],
        ):
            subprocess.run(command, check=True, capture_output=True, timeout=60)
        env = dict(os.environ, CORVEL_SIGN_PASSWORD=PASSWORD)
        package(cls.signed, "--sign", cls.pfx, "--sign-ca", cls.cert, env=env)

        cls.local = WINE.windows_variable("LOCALAPPDATA")
        cls.install_dir = cls.local + r"\Programs\Corvel"
        cls.start_menu = WINE.windows_variable("APPDATA") + r"\Microsoft\Windows\Start Menu\Programs"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def unix(self, windows_path):
        return WINE.unix_path(windows_path)

    def test_the_same_inputs_give_the_same_packages(self):
        for name in (ZIP, SETUP, MSI):
            with open(os.path.join(self.plain, name), "rb") as a, open(os.path.join(self.again, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        with zipfile.ZipFile(os.path.join(self.plain, ZIP)) as archive:
            self.assertEqual(archive.namelist(),
                             ["Corvel/", "Corvel/corvel.exe", "Corvel/README.txt", "Corvel/SHA256SUMS"])

    def test_a_shipped_microsoft_loader_goes_beside_corvel_exe(self):
        dist = os.path.join(self.work, "with-loader")
        package(dist, env=dict(os.environ, CORVEL_WEBVIEW2_LOADER=ARGS.loader))
        with zipfile.ZipFile(os.path.join(dist, ZIP)) as archive:
            self.assertIn("Corvel/WebView2Loader.dll", archive.namelist())
            sums = archive.read("Corvel/SHA256SUMS").decode()
        self.assertIn(" WebView2Loader.dll", sums)
        # A DLL that is not a complete loader is refused before anything is packed.
        refused = subprocess.run([ARGS.package, "--exe", ARGS.corvel, "--dist", os.path.join(self.work, "refused")],
                                 capture_output=True, timeout=600,
                                 env=dict(os.environ, CORVEL_WEBVIEW2_LOADER=ARGS.partial_loader))
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn(b"does not export CreateCoreWebView2EnvironmentWithOptions", refused.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.work, "refused", ZIP)))

    def test_a_signed_package_verifies_against_its_certificate(self):
        extracted = os.path.join(self.work, "signed-exe")
        with zipfile.ZipFile(os.path.join(self.signed, ZIP)) as archive:
            archive.extract("Corvel/corvel.exe", extracted)
        signed_exe = os.path.join(extracted, "Corvel", "corvel.exe")
        self.assertTrue(verify(signed_exe, self.cert))
        self.assertTrue(verify(os.path.join(self.signed, SETUP), self.cert))
        self.assertTrue(verify(os.path.join(self.signed, MSI), self.cert))
        # The check is real: the unsigned package does not pass it, nor does another certificate.
        self.assertFalse(verify(os.path.join(self.plain, SETUP), self.cert))
        self.assertFalse(verify(signed_exe, "/etc/ssl/certs/ca-certificates.crt"))

    def test_corvel_exe_alone_from_the_zip_reaches_the_web_view(self):
        alone = os.path.join(self.work, "alone")
        with zipfile.ZipFile(os.path.join(self.plain, ZIP)) as archive:
            archive.extract("Corvel/corvel.exe", alone)
        player = os.path.join(alone, "Corvel", "corvel.exe")
        self.assertEqual(os.listdir(os.path.dirname(player)), ["corvel.exe"])
        with StandInRuntime(self.work):
            run = WINE.drive(player, answers=["WebView2 Error=OK"])
            box = run.wait_for("BOX WebView2 Error", 120)
            self.assertEqual(run.finish(), "EXIT 1")
        self.assertIn(" at CreateEnvironmentCallback; last=", box)
        self.assertIn(f"; runtime=Evergreen {RUNTIME_VERSION}; lastUserData=", box)
        self.assertFalse([line for line in run.lines if line.startswith("BOX Kelmo")], "no runtime offer")

    def install(self):
        run = WINE.run(os.path.join(self.signed, SETUP), "/S", timeout=180)
        self.assertEqual(run.returncode, 0, run.stderr)

    def uninstall(self):
        # The uninstaller copies itself to the temporary folder and finishes there.
        run = WINE.run(self.install_dir + r"\uninstall.exe", "/S")
        self.assertEqual(run.returncode, 0, run.stderr)
        folder = self.unix(self.install_dir)
        for _ in range(120):
            if not os.path.exists(folder) and WINE.registry_values(UNINSTALL_KEY) is None:
                return
            time.sleep(0.5)
        self.fail("the silent uninstall did not finish")

    def test_the_installer_installs_for_the_user_and_uninstalls_cleanly(self):
        self.install()
        folder = self.unix(self.install_dir)
        self.assertEqual(sorted(os.listdir(folder)), ["README.txt", "corvel.exe", "uninstall.exe"])
        self.assertTrue(os.path.isfile(self.unix(self.start_menu + r"\Corvel.lnk")))
        self.assertTrue(verify(os.path.join(folder, "uninstall.exe"), self.cert), "the uninstaller is signed too")

        exe = self.install_dir + r"\corvel.exe"
        entry = WINE.registry_values(UNINSTALL_KEY)
        self.assertEqual(entry["DisplayName"], ("REG_SZ", "Corvel"))
        self.assertEqual(entry["DisplayVersion"], ("REG_SZ", "4.11.0"))
        self.assertEqual(entry["Publisher"], ("REG_SZ", "Nimbra (Talvo)"))
        self.assertEqual(entry["DisplayIcon"], ("REG_SZ", exe + ",0"))
        self.assertEqual(entry["UninstallString"], ("REG_SZ", f'"{self.install_dir}\\uninstall.exe"'))
        self.assertEqual(entry["QuietUninstallString"], ("REG_SZ", f'"{self.install_dir}\\uninstall.exe" /S'))
        self.assertEqual(entry["NoModify"], ("REG_DWORD", "0x1"))
        self.assertEqual(entry["NoRepair"], ("REG_DWORD", "0x1"))
        size_kb = int(entry["EstimatedSize"][1], 16)
        on_disk = sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder)) // 1024
        self.assertTrue(on_disk * 0.9 <= size_kb <= on_disk * 1.1 + 8, (size_kb, on_disk))

        # The scheme as the installer wrote it, before the player ever ran ...
        scheme = {key: WINE.registry_values(SCHEME_KEY + key) for key in ("", r"\DefaultIcon", r"\shell\open\command")}
        self.assertEqual(scheme[""], {"": ("REG_SZ", "Kelmo Desktop Player"), "URL Protocol": ("REG_SZ", "")})
        self.assertEqual(scheme[r"\DefaultIcon"], {"": ("REG_SZ", exe + ",1")})
        self.assertEqual(scheme[r"\shell\open\command"], {"": ("REG_SZ", f'"{exe}" "%1"')})

        # ... is what the installed player writes at its start; the player gets to its web view.
        with StandInRuntime(self.work):
            run = WINE.drive(exe, answers=["WebView2 Error=OK"])
            run.wait_for("BOX WebView2 Error", 120)
            self.assertEqual(run.finish(), "EXIT 1")
        self.assertEqual({key: WINE.registry_values(SCHEME_KEY + key) for key in scheme}, scheme)

        data = self.unix(self.local + r"\Corvel")
        os.makedirs(data, exist_ok=True)
        with open(os.path.join(data, "student-data.txt"), "w") as marker:
            marker.write("kept")
        self.uninstall()
        self.assertFalse(os.path.exists(self.unix(self.start_menu + r"\Corvel.lnk")))
        self.assertIsNone(WINE.registry_values(SCHEME_KEY))
        self.assertTrue(os.path.isfile(os.path.join(data, "student-data.txt")), "a silent uninstall keeps the data")

        # A scheme that another copy of the player has taken over stays.
        self.install()
        other = r'"C:\Other\corvel.exe" "%1"'
        WINE.run("reg", "add", SCHEME_KEY + r"\shell\open\command", "/ve", "/d", other, "/f")
        self.uninstall()
        self.assertEqual(WINE.registry_values(SCHEME_KEY + r"\shell\open\command"), {"": ("REG_SZ", other)})
        WINE.run("reg", "delete", SCHEME_KEY, "/f")


    def check_per_machine(self, install, uninstall, uninstall_key, shortcut_folders=("ProgramData",)):
        """One per-machine package: installed, checked, started, removed. The shortcut is looked
        for under each of `shortcut_folders` (Windows variables)."""
        program_files = WINE.windows_variable("ProgramFiles")
        install_dir = program_files + r"\Corvel"
        exe = install_dir + r"\corvel.exe"
        shortcuts = [self.unix(WINE.windows_variable(folder) + r"\Microsoft\Windows\Start Menu\Programs\Corvel.lnk")
                     for folder in shortcut_folders]
        run = WINE.run(*install, timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertTrue(os.path.isfile(self.unix(exe)))
        self.assertTrue(os.path.isfile(self.unix(install_dir + r"\README.txt")))
        self.assertTrue(any(os.path.isfile(s) for s in shortcuts), "a Start-menu shortcut for all users")
        self.assertEqual(WINE.registry_values(MACHINE_SCHEME_KEY + r"\shell\open\command"),
                         {"": ("REG_SZ", f'"{exe}" "%1"')})
        self.assertEqual(WINE.registry_values(MACHINE_SCHEME_KEY)["URL Protocol"], ("REG_SZ", ""))
        self.assertIsNone(WINE.registry_values(SCHEME_KEY), "nothing in the installing user's own hive")
        entry = WINE.registry_values(uninstall_key())
        self.assertEqual(entry["DisplayName"], ("REG_SZ", "Corvel"))
        with StandInRuntime(self.work):
            started = WINE.drive(exe, answers=["WebView2 Error=OK"])
            started.wait_for("BOX WebView2 Error", 120)
            self.assertEqual(started.finish(), "EXIT 1")
        WINE.run("reg", "delete", SCHEME_KEY, "/f")  # what the player wrote for this user at its start

        run = WINE.run(*uninstall(entry), timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        for _ in range(120):
            if not os.path.exists(self.unix(install_dir)) and WINE.registry_values(uninstall_key()) is None:
                break
            time.sleep(0.5)
        self.assertFalse(os.path.exists(self.unix(install_dir)))
        self.assertIsNone(WINE.registry_values(uninstall_key()))
        self.assertIsNone(WINE.registry_values(MACHINE_SCHEME_KEY))
        self.assertFalse(any(os.path.exists(s) for s in shortcuts))

    def test_the_installer_installs_per_machine_with_allusers(self):
        key = lambda: r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvel"
        self.check_per_machine(
            [os.path.join(self.signed, SETUP), "/S", "/ALLUSERS"],
            lambda entry: [entry["QuietUninstallString"][1].split('"')[1], "/S", "/ALLUSERS"], key)

    def test_the_msi_installs_per_machine_silently(self):
        msi = to_windows_path(os.path.join(self.signed, MSI))

        def entries():
            # The MSI's entries are named by their product codes.
            listing = WINE.run("reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall")
            names = [line.strip() for line in listing.stdout.decode("utf-8", "replace").splitlines()]
            return [name for name in names if name.startswith("HKEY") and
                    (WINE.registry_values(name) or {}).get("DisplayName") == ("REG_SZ", "Corvel")]

        def key():
            found = entries()
            return found[0] if found else r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\(none)"

        # The package is per machine (ALLUSERS=1, which Windows answers with the common Start
        # menu); Wine's msi puts the shortcut in the installing account's Start menu instead.
        self.check_per_machine(["msiexec", "/i", msi, "/qn"], lambda entry: ["msiexec", "/x", msi, "/qn"], key,
                               shortcut_folders=("ProgramData", "APPDATA"))

        # A newer MSI replaces the installed one in place: one entry, the newer version.
        newer_dist = os.path.join(self.work, "newer")
        package(newer_dist, env=dict(os.environ, CORVEL_PACKAGE_VERSION="4.11.1"))
        newer = to_windows_path(os.path.join(newer_dist, MSI))
        for step in (["/i", msi], ["/i", newer]):
            run = WINE.run("msiexec", *step, "/qn", timeout=300)
            self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(len(entries()), 1, entries())
        self.assertEqual(WINE.registry_values(key())["DisplayVersion"], ("REG_SZ", "4.11.1"))
        run = WINE.run("msiexec", "/x", newer, "/qn", timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIsNone(WINE.registry_values(MACHINE_SCHEME_KEY))


if __name__ == "__main__":
    run_tests(sys.modules[__name__], ('wine-run', 'driver', 'corvel', 'package', 'runtime-setup', 'loader', 'partial-loader'))
