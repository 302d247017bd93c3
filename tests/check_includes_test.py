#!/usr/bin/env python3
"""The include check on a tree of two rooms: `high` stands on `low`.

    check_includes_test.py PATH/TO/check_includes.py
"""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

CHECKER = None

ROOMS = "low|low||low_gen.h|\nhigh|high|low|high_gen.h|\n"

# A tree that keeps every rule: includes within a room, down the graph, of a
# generated header of a room below, of a side's header from that side (by
# folder, by test name and under #if defined(_WIN32) / #else).
CLEAN = {
    "low/low.h": "#pragma once\n",
    "low/low.cc": '#include "low/low.h"\n#include "quorvel_version.h"\n',
    "low/posix/side.h": "#pragma once\n",
    "low/win32/side.h": "#pragma once\n",
    "high/high.h": '#pragma once\n#include "low/low.h"\n#include "low_gen.h"\n',
    "high/high.cc": '#include "high/high.h"\n#include "high_gen.h"\n',
    "high/posix/side.cc": '#include "low/posix/side.h"\n',
    "high/files_posix_test.cc": '#include "low/posix/side.h"\n',
    "high/com.h": textwrap.dedent("""\
        #pragma once
        #if defined(_WIN32)
        #include "low/win32/side.h"
        #else
        #include "low/posix/side.h"
        #endif
        """),
}


class CheckIncludes(unittest.TestCase):
    def run_checker(self, extra):
        with tempfile.TemporaryDirectory() as root:
            for relative, text in {**CLEAN, **extra}.items():
                path = os.path.join(root, relative)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
            rooms = os.path.join(root, "rooms.txt")
            with open(rooms, "w", encoding="utf-8") as f:
                f.write(ROOMS)
            stamp = os.path.join(root, "stamp")
            result = subprocess.run([sys.executable, CHECKER, "--root", root, "--rooms", rooms, "--stamp", stamp],
                                    capture_output=True, text=True)
            return result.returncode, result.stderr, os.path.exists(stamp)

    def test_a_tree_that_keeps_the_rules_passes(self):
        code, err, stamped = self.run_checker({})
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(stamped)

    def test_an_include_up_the_graph_fails_with_file_line_and_rule(self):
        code, err, stamped = self.run_checker({
            "low/bad.cc": '#include "low/low.h"\n#include "high/high.h"\n',
            "low/gen.cc": '#include "high_gen.h"\n',
            "low/relative.cc": '#include "../high/high.h"\n',
        })
        self.assertEqual(code, 1)
        self.assertFalse(stamped)
        self.assertIn('low/bad.cc:2: #include "high/high.h": room low does not depend on room high', err)
        self.assertIn('low/gen.cc:1: #include "high_gen.h": room low does not depend on room high', err)
        self.assertIn('low/relative.cc:1: #include "../high/high.h": room low does not depend on room high', err)
        self.assertIn("3 includes against the rooms' dependencies", err)

    def test_a_sides_header_outside_that_side_fails(self):
        code, err, _ = self.run_checker({
            "high/shared.cc": '#include "low/posix/side.h"\n',
            "high/posix/wrong.cc": '#include "low/win32/side.h"\n',
            "high/guarded.h": '#if defined(_WIN32)\n#include "low/posix/side.h"\n#endif\n',
        })
        self.assertEqual(code, 1)
        self.assertIn('high/shared.cc:1: #include "low/posix/side.h": a posix header included outside the posix side',
                      err)
        self.assertIn('high/posix/wrong.cc:1: #include "low/win32/side.h": a win32 header', err)
        self.assertIn('high/guarded.h:2: #include "low/posix/side.h": a posix header', err)

    def test_a_file_of_no_room_fails(self):
        code, err, _ = self.run_checker({
            "elsewhere/loose.h": "#pragma once\n",
            "high/loose_user.cc": '#include "elsewhere/loose.h"\n',
        })
        self.assertEqual(code, 1)
        self.assertIn("elsewhere/loose.h belongs to no room", err)


if __name__ == "__main__":
    CHECKER = os.path.abspath(sys.argv.pop(1))
    unittest.main()
