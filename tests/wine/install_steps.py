#!/usr/bin/env python3
"""Reads the steps of the Windows package's INSTALL.txt the way an administrator
does, so that the tests follow them word for word.

  install_steps.py INSTALL.txt block SECTION N   the Nth typed block (from 1) of the
                                                section whose title starts with SECTION
  install_steps.py INSTALL.txt save-as SECTION   the file the section says to save
  install_steps.py INSTALL.txt prints SECTION    the text the section says is printed
"""
import re
import sys


def sections(text):
    lines = text.split("\r\n")
    found = {}
    title = None
    for i, line in enumerate(lines):
        nxt = lines[i + 1] if i + 1 < len(lines) else ""
        if re.fullmatch(r"\d+\. .+", line) and re.fullmatch(r"-+", nxt):
            title = line.split(". ", 1)[1]
            found[title] = []
        elif title is not None:
            found[title].append(line)
    return found


def section(text, name):
    for title, lines in sections(text).items():
        if title.lower().startswith(name.lower()):
            return lines
    sys.exit(f"INSTALL.txt has no section '{name}'")


def blocks(lines):
    """Lines indented by four spaces, one block per run, as they are to be typed."""
    out, current = [], []
    for line in lines + [""]:
        if line.startswith("    ") and line.strip():
            current.append(line[4:])
        elif current:
            out.append(current)
            current = []
    return out


def main():
    path, what, name = sys.argv[1:4]
    raw = open(path, "rb").read()
    text = raw.decode("ascii")
    lines = section(text, name)
    prose = " ".join(l.strip() for l in lines if not l.startswith("    "))
    if what == "block":
        n = int(sys.argv[4])
        found = blocks(lines)
        if len(found) < n:
            sys.exit(f"section '{name}' has no block {n}")
        sys.stdout.write("\r\n".join(found[n - 1]) + "\r\n")
    elif what == "save-as":
        m = re.search(r"Save these lines as (\S+):", prose)
        if not m:
            sys.exit(f"section '{name}' names no file to save")
        print(m.group(1))
    elif what == "prints":
        m = re.search(r'It prints "([^"]+)"', prose)
        if not m:
            sys.exit(f"section '{name}' says nothing about what is printed")
        print(m.group(1))


main()
