#!/usr/bin/env python3
"""Checks every quoted #include of the rooms against the rooms' graph.

The graph comes from quorvel_room() (cmake/rooms.cmake), one line per room:
    NAME|FOLDER FOLDER...|DEP DEP...|GENERATED_HEADER...|SIDE
A file belongs to the room with the longest folder that holds it. Two rules:

  direction  a file includes only headers of its own room and of the rooms
             its room names as dependencies;
  side       a header of one side (a path through a posix/ or win32/ folder,
             or a file of a POSIX-only or Windows-only room) is included only from the same
             side: a file under such a folder, a *_posix_test.cc or a
             *_win32_test.cc, a file of a room of that side, or a line under
             `#if defined(_WIN32)` (Windows) or its `#else` (POSIX).

A quoted include is looked up from the source root, then beside the file,
then among the generated headers the rooms own; one found nowhere (a header
no room owns, such as the version header) is not checked. Each offence is
reported as FILE:LINE with the include and the rule it breaks; any offence
fails the run.

    check_includes.py --root SOURCE_DIR --rooms ROOMS_FILE [--stamp FILE]
"""

import argparse
import os
import re
import sys

SIDES = ("posix", "win32")
SOURCE_SUFFIXES = (".h", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
CONDITION = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b(.*)")


class Room:
    def __init__(self, name, folders, deps, generated, side):
        self.name = name
        self.folders = folders
        self.deps = deps
        self.generated = generated
        self.side = side


def read_rooms(path):
    rooms = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            name, folders, deps, generated, side = line.split("|")
            rooms[name] = Room(name, folders.split(), deps.split(), generated.split(), side or None)
    return rooms


class Graph:
    def __init__(self, root, rooms):
        self.root = root
        self.rooms = rooms
        # Longest folder first, so that a room inside another's folder wins.
        self.folders = sorted(((folder.rstrip("/") + "/", room) for room in rooms.values() for folder in room.folders),
                              key=lambda pair: -len(pair[0]))
        self.generated = {header: room for room in rooms.values() for header in room.generated}

    def owner(self, relative):
        for folder, room in self.folders:
            if relative.startswith(folder):
                return room
        return None

    def files(self):
        """Every source file of every room, as paths relative to the root."""
        seen = set()
        for folder, room in sorted(self.folders):
            top = os.path.join(self.root, folder)
            for dirpath, dirnames, filenames in os.walk(top):
                dirnames.sort()
                for name in sorted(filenames):
                    if not name.endswith(SOURCE_SUFFIXES):
                        continue
                    relative = os.path.relpath(os.path.join(dirpath, name), self.root).replace(os.sep, "/")
                    if self.owner(relative) is room and relative not in seen:
                        seen.add(relative)
                        yield relative, room

    def resolve(self, including, name):
        """(room, relative path) of an included name; (None, None) when unknown."""
        for base in (self.root, os.path.join(self.root, os.path.dirname(including))):
            candidate = os.path.normpath(os.path.join(base, name))
            if os.path.isfile(candidate):
                relative = os.path.relpath(candidate, self.root).replace(os.sep, "/")
                return self.owner(relative), relative
        if name in self.generated:
            return self.generated[name], name
        return None, None


def path_side(relative):
    parts = relative.split("/")
    for side in SIDES:
        if side in parts[:-1] or re.search(r"_%s_test\.cc$" % side, parts[-1]):
            return side
    return None


def condition_side(kind, text):
    """The side an #if, #ifdef or #ifndef line selects, if it is a _WIN32 test."""
    text = text.strip()
    if kind == "ifdef" and text == "_WIN32":
        return "win32"
    if kind == "ifndef" and text == "_WIN32":
        return "posix"
    if kind == "if":
        if re.fullmatch(r"defined\s*\(?\s*_WIN32\s*\)?", text):
            return "win32"
        if re.fullmatch(r"!\s*defined\s*\(?\s*_WIN32\s*\)?", text):
            return "posix"
    return None


def other(side):
    return SIDES[1] if side == SIDES[0] else SIDES[0]


def includes(path):
    """(line number, included name, side of the line's #if block) of each quoted include."""
    stack = []  # the side of each open #if block, None when it tests something else
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            condition = CONDITION.match(line)
            if condition:
                kind, text = condition.groups()
                if kind in ("if", "ifdef", "ifndef"):
                    stack.append(condition_side(kind, text))
                elif kind == "else" and stack:
                    stack[-1] = other(stack[-1]) if stack[-1] else None
                elif kind == "elif" and stack:
                    stack[-1] = None
                elif kind == "endif" and stack:
                    stack.pop()
                continue
            found = INCLUDE.match(line)
            if found:
                side = next((s for s in reversed(stack) if s), None)
                yield number, found.group(1), side


def check(graph):
    offences = []
    for relative, room in graph.files():
        file_side = path_side(relative) or room.side
        for number, name, block_side in includes(os.path.join(graph.root, relative)):
            target, target_path = graph.resolve(relative, name)
            if target_path is None:
                continue
            where = '%s:%d: #include "%s"' % (relative, number, name)
            if target is None:
                offences.append("%s: %s belongs to no room" % (where, target_path))
                continue
            if target is not room and target.name not in room.deps:
                deps = " ".join(room.deps) or "none"
                offences.append("%s: room %s does not depend on room %s (its dependencies: %s)" %
                                (where, room.name, target.name, deps))
            target_side = path_side(target_path) or target.side
            line_side = block_side or file_side
            if target_side and line_side != target_side:
                offences.append("%s: a %s header included outside the %s side" % (where, target_side, target_side))
    return offences


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--rooms", required=True)
    parser.add_argument("--stamp")
    args = parser.parse_args()
    graph = Graph(os.path.abspath(args.root), read_rooms(args.rooms))
    offences = check(graph)
    for offence in offences:
        print(offence, file=sys.stderr)
    if offences:
        print("%d include%s against the rooms' dependencies (see cmake/rooms.cmake)" %
              (len(offences), "" if len(offences) == 1 else "s"), file=sys.stderr)
        return 1
    if args.stamp:
        with open(args.stamp, "w", encoding="utf-8") as f:
            f.write("ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
