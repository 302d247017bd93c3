#!/usr/bin/env python3
"""Runs the README's examples as written: every block fenced as sh, in order,
in one shell, in a fresh folder standing for a fresh clone (its build/ holds
the host of this build), with a home of its own and no machine folder set.
A command whose line ends in "# → TEXT" must print TEXT on stdout; every
command must succeed. Background processes the examples start end with the
run.

Usage: readme_test.py README.md HOST"""
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile


def examples(readme):
    blocks, current = [], None
    for line in open(readme, encoding="utf-8").read().split("\n"):
        if current is None and line == "```sh":
            current = []
        elif current is not None and line == "```":
            blocks.append(current)
            current = None
        elif current is not None:
            current.append(line)
    return blocks


def commands(block):
    """Lines joined at a trailing backslash."""
    out, pending = [], ""
    for line in block:
        if line.endswith("\\") and not line.rstrip("\\").endswith("\\"):
            pending += line[:-1] + " "
            continue
        out.append(pending + line)
        pending = ""
    return [c for c in out if c.strip() and not c.lstrip().startswith("#")]


def script(blocks):
    lines = ["set -e"]
    for n, block in enumerate(blocks, 1):
        for command in commands(block):
            m = re.search(r"\s+# → (.*?)(?: \(.*\))?$", command)
            where = f"README, block {n}: {command.strip()}"
            if m:
                body = command[:m.start()]
                expected = m.group(1)
                lines.append(f"out=$({body})")
                lines.append(f'[ "$out" = {shlex.quote(expected)} ] || '
                             f'{{ echo {shlex.quote(where)} " printed [$out], not [{expected}]" >&2; exit 1; }}')
            else:
                lines.append(f"{command} || {{ echo {shlex.quote(where + ' failed')} >&2; exit 1; }}")
    return "\n".join(lines) + "\n"


def main():
    readme, host = sys.argv[1:3]
    blocks = examples(readme)
    if not blocks:
        sys.exit("the README has no sh blocks")
    with tempfile.TemporaryDirectory() as clone:
        os.mkdir(os.path.join(clone, "build"))
        os.mkdir(os.path.join(clone, "home"))
        os.symlink(host, os.path.join(clone, "build", "quorvel"))
        env = {k: v for k, v in os.environ.items() if k not in ("QUORVEL_MACHINE", "XDG_DATA_HOME")}
        env["HOME"] = os.path.join(clone, "home")
        run = subprocess.Popen(["bash", "-c", script(blocks)], cwd=clone, env=env, start_new_session=True,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            out, err = run.communicate(timeout=240)
        finally:
            try:
                os.killpg(run.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        sys.stdout.write(out)
        sys.stderr.write(err)
        if run.returncode != 0:
            sys.exit(f"the README's examples failed (status {run.returncode})")
        print(f"{sum(len(commands(b)) for b in blocks)} README commands in {len(blocks)} blocks ran as written")


main()
