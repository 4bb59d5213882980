#!/usr/bin/env python3
"""Runs one program and checks its exit status and output.

usage: expect_run.py [--exit N] [--stdout TEXT]... [--stderr TEXT]... [--output TEXT]...
                     [--not-output TEXT]... [--timeout S] -- PROGRAM [ARGS...]
Each --stdout/--stderr/--output text must occur in that stream (--output: either stream);
--not-output texts must occur in neither. Texts are compared as UTF-8.
"""
import argparse
import subprocess
import sys


def main():
    argv = sys.argv[1:]
    if "--" not in argv:
        print(__doc__, file=sys.stderr)
        return 2
    split = argv.index("--")
    p = argparse.ArgumentParser()
    p.add_argument("--exit", type=int, default=None)
    p.add_argument("--stdout", action="append", default=[])
    p.add_argument("--stderr", action="append", default=[])
    p.add_argument("--output", action="append", default=[])
    p.add_argument("--not-output", action="append", default=[])
    p.add_argument("--timeout", type=float, default=120)
    args = p.parse_args(argv[:split])
    command = argv[split + 1:]
    run = subprocess.run(command, capture_output=True, timeout=args.timeout)
    out = run.stdout.decode("utf-8", "replace")
    err = run.stderr.decode("utf-8", "replace")
    problems = []
    if args.exit is not None and run.returncode != args.exit:
        problems.append(f"exit status {run.returncode}, expected {args.exit}")
    problems += [f"stdout lacks {t!r}" for t in args.stdout if t not in out]
    problems += [f"stderr lacks {t!r}" for t in args.stderr if t not in err]
    problems += [f"output lacks {t!r}" for t in args.output if t not in out and t not in err]
    problems += [f"output holds {t!r}" for t in args.not_output if t in out or t in err]
    if problems:
        print("command:", " ".join(command))
        print("--- stdout ---\n" + out + "--- stderr ---\n" + err)
        print("\n".join(problems))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
