#!/usr/bin/env python3
"""scripts/check-layers run over small fake trees: a clean stack of three
layers and two outside folders, and that stack with one use changed."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "check-layers")

CLEAN_TREE = {
    "layers.txt": "# lowest level first\nbase\nmiddle  # over base\ntop\n\noutside tools\noutside tests\n",
    "base/CMakeLists.txt": "add_library(lib_base STATIC b.cpp)\n",
    "base/b.h": "#pragma once\n#include <vector>\n",
    "base/b.cpp": '#include "base/b.h"\n#include "b.h"\n',
    "middle/CMakeLists.txt": "add_library(lib_middle STATIC m.cpp)\n"
                             "target_link_libraries(lib_middle\n  PUBLIC lib_base  # never lib_top\n  Ext::lib)\n",
    "middle/m.h": '#pragma once\n#include "base/b.h"\n',
    "middle/m.cpp": '#include "middle/m.h"\n// #include "top/t.h" is commented out\n',
    "top/CMakeLists.txt": "add_library(lib_top STATIC t.cpp)\ntarget_link_libraries(lib_top PRIVATE lib_middle lib_base)\n",
    "top/t.h": '#pragma once\n#include "middle/m.h"\n',
    "top/t.cpp": '#include "top/t.h"\n#include "base/b.h"\n',
    "tools/CMakeLists.txt": "add_executable(tool tool.cpp)\ntarget_link_libraries(tool PRIVATE lib_top)\n",
    "tools/tool.cpp": '#include "top/t.h"\n',
    "tests/support.h": '#pragma once\n#include "base/b.h"\n',
}

# (what changes, files replaced or added, lines expected in the output);
# no expected line means the tree passes.
CASES = [
    ("clean tree", {}, []),
    ("tools may include any layer and tests",
     {"tools/tool.cpp": '#include "top/t.h"\n#include "base/b.h"\n#include "tests/support.h"\n'}, []),
    ("layer includes a layer below",
     {"base/b.cpp": '#include "base/b.h"\n#include "middle/m.h"\n'},
     ["base/b.cpp:2: base uses middle (includes middle/m.h; middle is below base)",
      "base/b.cpp:2: base uses middle (includes middle/m.h, while middle/m.h:2 includes base/b.h: "
      "the two use each other)"]),
    ("layer includes a lower file that does not exist yet",
     {"middle/m.cpp": '#include "middle/m.h"\n\n#include "top/new.h"\n'},
     ["middle/m.cpp:3: middle uses top (includes top/new.h; top is below middle)",
      "middle/m.cpp:3: middle uses top (includes top/new.h, while top/t.h:2 includes middle/m.h: "
      "the two use each other)"]),
    ("layer links a layer below over several lines",
     {"base/CMakeLists.txt": "add_library(lib_base STATIC b.cpp)\ntarget_link_libraries(lib_base\n  PRIVATE\n"
                             "  lib_top)\n"},
     ["base/CMakeLists.txt:4: base uses top (links lib_top; top is below base)",
      "base/CMakeLists.txt:4: base uses top (links lib_top, while top/t.cpp:2 includes base/b.h: "
      "the two use each other)"]),
    ("two outside folders use each other",
     {"tests/support.h": '#pragma once\n#include "tools/tool.h"\n', "tools/tool.h": '#include "tests/support.h"\n'},
     ["tests/support.h:2: tests uses tools (includes tools/tool.h, while tools/tool.h:1 includes "
      "tests/support.h: the two use each other)"]),
    ("layer includes from tests",
     {"middle/m.cpp": '#include "middle/m.h"\n#include "tests/support.h"\n'},
     ["middle/m.cpp:2: middle uses tests (includes tests/support.h; tests is outside the stack)"]),
    ("layer links a library of an outside folder",
     {"top/CMakeLists.txt": "add_library(lib_top STATIC t.cpp)\ntarget_link_libraries(lib_top PRIVATE tool)\n"},
     ["top/CMakeLists.txt:2: top uses tools (links tool; tools is outside the stack)",
      "tools/tool.cpp:1: tools uses top (includes top/t.h, while top/CMakeLists.txt:2 links tool: "
      "the two use each other)"]),
    ("source in a folder layers.txt does not list",
     {"extra/e.h": '#include "base/b.h"\n', "top/t.cpp": '#include "extra/e.h"\n'},
     ["extra/e.h:1: extra is in no layer (list it in layers.txt)",
      "top/t.cpp:1: top uses extra (includes extra/e.h; extra is not in layers.txt)"]),
]


def check(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        subprocess.run(["git", "init", "-q", root], check=True)
        subprocess.run(["git", "-C", root, "add", "."], check=True)
        run = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True, timeout=60)
        return run.returncode, run.stdout.splitlines()


class CheckLayersTest(unittest.TestCase):
    def test_cases(self):
        for name, changes, expected in CASES:
            with self.subTest(name):
                code, lines = check({**CLEAN_TREE, **changes})
                if expected:
                    self.assertEqual(code, 1)
                    self.assertEqual(sorted(lines), sorted(expected))
                else:
                    self.assertEqual(code, 0, lines)
                    self.assertEqual(len(lines), 1)
                    self.assertIn("keep to the 3 layers", lines[0])

    def test_unreadable_layer_line_stops_the_check(self):
        code, _ = check({**CLEAN_TREE, "layers.txt": "base\nbeside top\n"})
        self.assertEqual(code, 2)


if __name__ == "__main__":
    unittest.main()
