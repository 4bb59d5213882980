#!/usr/bin/env python3
"""Runs Windows test programs under Wine with the screen at another resolution.

Sets HKCU\\Control Panel\\Desktop\\LogPixels in the test prefix, which each Wine process reads
when it starts, runs every program given (each "PROGRAM GTEST_FILTER"), and removes the value
again whatever happened. Run alone (no other test may start meanwhile): the value is the
prefix's.

usage: at_dpi.py --wine-run WINE_RUN --dpi DPI --run PROGRAM FILTER [--run PROGRAM FILTER]...
"""
import argparse
import subprocess
import sys

KEY = r"HKCU\Control Panel\Desktop"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--dpi", type=int, required=True)
    parser.add_argument("--run", nargs=2, action="append", required=True, metavar=("PROGRAM", "FILTER"))
    args = parser.parse_args()
    wine = [args.wine_run]
    subprocess.run(wine + ["reg", "add", KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(args.dpi), "/f"],
                   check=True, capture_output=True)
    failed = 0
    try:
        for program, test_filter in args.run:
            run = subprocess.run(wine + [program, "--gtest_filter=" + test_filter], timeout=120)
            if run.returncode != 0:
                print("FAILED at %d DPI: %s %s" % (args.dpi, program, test_filter))
                failed += 1
    finally:
        subprocess.run(wine + ["reg", "delete", KEY, "/v", "LogPixels", "/f"], capture_output=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
