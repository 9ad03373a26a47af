#!/usr/bin/env python3
"""The layer check fails on what it must catch and passes a clean tree: an include that points up,
a link that points up, an include not written from the root; includes down, the runtime and tests
reaching anywhere pass."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'check-layers.py')


class LayerCheck(unittest.TestCase):
    def run_check(self, files):
        with tempfile.TemporaryDirectory() as root:
            subprocess.run(['git', 'init', '-q', root], check=True)
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), 'w') as f:
                    f.write(text)
            run = subprocess.run([sys.executable, CHECK, '--root', root], capture_output=True, text=True)
            return run.returncode, run.stdout

    def test_clean_tree_passes(self):
        code, out = self.run_check({
            'crash/base/text/Text.h': '#pragma once\n',
            'runtime/Exception.h': '#pragma once\n',
            'crash/capture/exception/Host.h': '#include "crash/base/text/Text.h"\n#include "runtime/Exception.h"\n'
                                              '#include <vector>\n',
            'crash/shell/win32/Start.cpp': '#include "crash/capture/exception/Host.h"\n',
            'tests/crash/Fake.h': '#include "crash/shell/win32/Start.cpp"\n',
            'crash/capture/exception/CMakeLists.txt': 'add_library(host STATIC Host.cpp)\n'
                                                       'target_link_libraries(host PUBLIC text)\n',
            'crash/base/text/CMakeLists.txt': 'add_library(text STATIC Text.cpp)\n',
        })
        self.assertEqual(code, 0, out)
        self.assertIn('0 upward includes, 0 upward link edges, 0 includes not written from the root', out)

    def test_upward_include_link_and_bare_include_fail(self):
        code, out = self.run_check({
            'crash/ui/dialog/Box.h': '#pragma once\n',
            'crash/capture/exception/Host.cpp': '#include "crash/ui/dialog/Box.h"\n#include "Host.h"\n',
            'crash/capture/exception/Host.h': '#pragma once\n',
            'hid/Device.cpp': '#include "crash/capture/exception/Host.h"\n',
            'crash/capture/exception/CMakeLists.txt': 'add_library(host STATIC Host.cpp)\n'
                                                       '# target_link_libraries(host PUBLIC text)\n'
                                                       'target_link_libraries(host\n  PUBLIC box)\n',
            'crash/ui/dialog/CMakeLists.txt': 'add_library(box STATIC Box.cpp)\n',
        })
        self.assertEqual(code, 1, out)
        self.assertIn('2 upward includes, 1 upward link edges, 1 includes not written from the root', out)
        self.assertIn('crash/capture/exception/Host.cpp:1: includes crash/ui/dialog/Box.h', out)
        self.assertIn('hid/Device.cpp:1: includes crash/capture/exception/Host.h', out)
        self.assertIn('host (capture) links box (ui)', out)
        self.assertIn('crash/capture/exception/Host.cpp:2: "Host.h" is not a path from the root', out)

    def test_examples_include_their_own_folder_only(self):
        code, out = self.run_check({
            'crash/base/text/Text.h': '#pragma once\n',
            'examples/console/Station.h': '#pragma once\n',
            'examples/console/main.cpp': '#include "Station.h"\n#include <kestrelix/Kestrelix.h>\n',
            'examples/gui/main.cpp': '#include "crash/base/text/Text.h"\n#include "Station.h"\n',
        })
        self.assertEqual(code, 1, out)
        self.assertIn('0 upward includes, 0 upward link edges, 2 includes not written from the root', out)
        self.assertIn('examples/gui/main.cpp:1: "crash/base/text/Text.h" is not a file of the example', out)
        self.assertIn('examples/gui/main.cpp:2: "Station.h" is not a file of the example', out)


if __name__ == '__main__':
    unittest.main()
