#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The layering check against small trees of its own: it passes a tree that
follows its table, and names every include that breaks it."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

CHECK = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "check_layering.py"

README = """# demo

## Layering

| folder | what it holds | may include |
|---|---|---|
| `low/` | the bottom | |
| `mid/` | above it | `low/` |
| `mid/inner/` | a subfolder with a row of its own | `mid/` `low/` |
| `top/` | everything | `mid/inner/` `mid/` `low/` |
| `tests/` | tests | anything |

## Next section

| `stray/` | not part of the table | `top/` |
"""


class CheckLayering(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.dir.name)
        (self.root / "README.md").write_text(README)
        self.write("low/a.h", "#pragma once\n")
        self.write("mid/b.h", '#include "low/a.h"\n')
        self.write("mid/inner/c.cpp", '#include "mid/b.h"\n#include "low/a.h"\n')
        self.write("top/d.cpp", '#include "mid/inner/c.h"\n#include <vector>\n#include "ini.h"\n')
        self.write("tests/t.cpp", '#include "top/d.h"\n')
        subprocess.run(["git", "init", "-q", str(self.root)], check=True)

    def tearDown(self):
        self.dir.cleanup()

    def write(self, path, text):
        file = self.root / path
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_text(text)

    def run_check(self):
        return subprocess.run([sys.executable, str(CHECK), str(self.root)],
                              capture_output=True, text=True)

    def test_a_tree_that_follows_the_table_passes(self):
        result = self.run_check()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("5 folders", result.stdout)

    def test_an_upward_include_fails_with_its_place(self):
        self.write("low/e.cpp", '#include "low/a.h"\n\n#include "mid/b.h"\n')
        result = self.run_check()
        self.assertEqual(result.returncode, 1)
        self.assertIn("low/e.cpp:3: includes mid/b.h, but low/ may not include mid/", result.stdout)

    def test_a_subfolder_is_checked_by_its_own_row(self):
        # mid/ may not include its own subfolder: mid/inner/ has a row of its own.
        self.write("mid/f.cpp", '#  include "mid/inner/c.h"\n')
        result = self.run_check()
        self.assertEqual(result.returncode, 1)
        self.assertIn("but mid/ may not include mid/inner/", result.stdout)

    def test_a_folder_without_a_row_fails(self):
        self.write("other/g.cpp", "int g;\n")
        result = self.run_check()
        self.assertEqual(result.returncode, 1)
        self.assertIn("other/: holds sources but has no row", result.stdout)

    def test_rows_after_the_table_s_section_do_not_count(self):
        self.write("stray/h.cpp", '#include "top/d.h"\n')
        result = self.run_check()
        self.assertEqual(result.returncode, 1)
        self.assertIn("stray/: holds sources but has no row", result.stdout)

    def test_a_readme_without_the_table_is_an_error(self):
        (self.root / "README.md").write_text("# nothing here\n")
        result = self.run_check()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("no '## Layering' section", result.stderr)


if __name__ == "__main__":
    unittest.main()
