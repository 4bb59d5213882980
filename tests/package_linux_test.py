#!/usr/bin/env python3
"""The Debian package of the Linux player (scripts/package-linux), packing this build's player.

Always: the same inputs give the same package; it holds the player, its icons and a desktop entry
for "corvel:" links, and depends on Qt 6 WebEngine. Only as root on a machine made for the run (a
chroot, as ../shared/tools/fresh-machine makes): `apt-get install` of the package succeeds,
xdg-mime names its desktop entry as the handler of x-scheme-handler/corvel, the installed player
shows the demo PDF lesson under Xvfb, and `apt-get remove` leaves no handler behind. Elsewhere
that part is skipped: it would change the machine.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def package(dist):
    run = subprocess.run([ARGS.package, "--exe", ARGS.player, "--dist", dist], capture_output=True, timeout=600)
    assert run.returncode == 0, run.stdout.decode() + run.stderr.decode()
    names = [n for n in os.listdir(dist) if n.endswith(".deb")]
    assert names == ["corvel_4.11.0_amd64.deb"], names
    return os.path.join(dist, names[0])


def disposable_machine():
    if os.geteuid() != 0 or shutil.which("ischroot") is None:
        return False
    return subprocess.run(["ischroot"]).returncode == 0


class LinuxPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="corvel-deb-")
        cls.deb = package(os.path.join(cls.work, "one"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_the_package_holds_the_player_and_its_scheme_handler(self):
        with open(self.deb, "rb") as first, open(package(os.path.join(self.work, "two")), "rb") as second:
            self.assertEqual(first.read(), second.read(), "the same inputs, the same package")
        listing = subprocess.run(["dpkg-deb", "--contents", self.deb], capture_output=True, text=True).stdout
        for path in ("./usr/bin/corvel", "./usr/share/applications/corvel.desktop",
                     "./usr/share/icons/hicolor/256x256/apps/corvel.png"):
            self.assertIn(path, listing)
        extracted = os.path.join(self.work, "extracted")
        subprocess.run(["dpkg-deb", "--extract", self.deb, extracted], check=True)
        with open(os.path.join(extracted, "usr/share/applications/corvel.desktop"), encoding="utf-8") as entry:
            desktop = entry.read()
        self.assertIn("Exec=/usr/bin/corvel %u\n", desktop)
        self.assertIn("MimeType=x-scheme-handler/corvel;\n", desktop)
        depends = subprocess.run(["dpkg-deb", "--field", self.deb, "Depends"], capture_output=True, text=True).stdout
        for needed in ("libqt6webenginewidgets6", "libqt6webenginecore6", "desktop-file-utils"):
            self.assertIn(needed, depends)

    @unittest.skipUnless(disposable_machine(), "installs into the system: only as root in a chroot made for it")
    def test_installed_it_opens_corvel_links_and_shows_a_lesson(self):
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        install = subprocess.run(["apt-get", "install", "-y", self.deb, "xdg-utils"], capture_output=True,
                                 text=True, env=env, timeout=900)
        self.assertEqual(install.returncode, 0, install.stdout[-3000:] + install.stderr[-3000:])
        try:
            query = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/corvel"],
                                   capture_output=True, text=True)
            self.assertEqual(query.stdout.strip(), "corvel.desktop")
            shown = subprocess.run([sys.executable, ARGS.player_test, "--player", "/usr/bin/corvel",
                                    "--make-link", ARGS.make_link, "--decode", ARGS.decode, "--config", ARGS.config,
                                    "--case", "pdf"], capture_output=True, text=True, timeout=120)
            self.assertEqual(shown.returncode, 0, shown.stdout[-3000:] + shown.stderr[-3000:])
        finally:
            remove = subprocess.run(["apt-get", "remove", "-y", "corvel"], capture_output=True, text=True, env=env)
        self.assertEqual(remove.returncode, 0, remove.stderr)
        query = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/corvel"],
                               capture_output=True, text=True)
        self.assertEqual(query.stdout.strip(), "", "no handler is left behind")
        self.assertFalse(os.path.exists("/usr/share/applications/corvel.desktop"))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("package", "player", "player-test", "make-link", "decode", "config"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
