"""The folder graph check finds each kind of upward include or link, and passes a sound tree."""

import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
import folder_graph  # noqa: E402


def tree(files):
    root = pathlib.Path(tempfile.mkdtemp())
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    return root


SOUND = {
    "core/a.h": "#pragma once\n",
    "platform/b.cpp": '#include "core/a.h"\n',
    "window/c.cpp": '#include "platform/b.h"\n#include "core/a.h"\n',
    "launcher/d.cpp": '#include "window/c.h"\n#include "patcher/e.h"\n',
    "tests/window/t.cpp": '#include "window/c.h"\n#include "tests/support/s.h"\n',
    "tests/launcher/t.cpp": '#include "tests/window/w.h"\n',
    "tests/publisher/t.cpp": '#include "patcher/e.h"\n',
    "tests/window/CMakeLists.txt": "korvel_test(window_tests LIBS korvel_window)  # not korvel_launcher\n",
}


class FolderGraph(unittest.TestCase):
    def test_a_sound_tree_passes(self):
        self.assertEqual(folder_graph.check(tree(SOUND)), [])

    def test_each_break_is_named_with_its_line(self):
        broken = dict(SOUND)
        broken["window/c.cpp"] += '#include "launcher/d.h"\n'
        broken["patcher/e.cpp"] = '#include "window/c.h"\n'
        broken["core/f.cpp"] = '#include "tests/support/s.h"\n'
        broken["tests/window/u.cpp"] = '#include "tests/launcher/l.h"\n'
        broken["tests/gamecfg/CMakeLists.txt"] = "korvel_test(gamecfg_tests LIBS korvel_launcher)\n"
        self.assertEqual(sorted(folder_graph.check(tree(broken))), [
            "core/f.cpp:1: product code may not include tests/",
            "patcher/e.cpp:1: patcher/ may not include window/",
            "tests/gamecfg/CMakeLists.txt:1: gamecfg/ may not link korvel_launcher",
            "tests/window/u.cpp:1: window/ may not include launcher/",
            "window/c.cpp:3: window/ may not include launcher/",
        ])


if __name__ == "__main__":
    unittest.main()
