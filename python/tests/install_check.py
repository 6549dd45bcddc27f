# SPDX-License-Identifier: MIT
"""The module installed two ways, and imported from where it was installed:

* with pip, from the repository, into a virtual environment that sees the
  system's packages (no index, no build isolation: setuptools from Debian);
* with ``cmake --install --component python`` into a fresh prefix, whose
  ``_paths.py`` must name that prefix's Broker.

    install_check.py [--build-dir DIR [--cmake CMAKE] [--python-dir D] [--private-dir D]]

(the build folder, the cmake program, and MB_PYTHON_DIR and MB_PRIVATE_DIR
as configured, for the second).
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = pathlib.Path(__file__).resolve().parents[1]
BUILD_DIR = None
CMAKE = "cmake"
PYTHON_DIR = "lib/python3/dist-packages"
PRIVATE_DIR = "lib/mailbroker"
PYTHON = "/usr/bin/python3"

IMPORT_CHECK = """
import importlib.metadata, json, mailbroker, mailbroker._paths
print(json.dumps({
    "file": mailbroker.__file__,
    "version": importlib.metadata.version("mailbroker"),
    "license": importlib.metadata.metadata("mailbroker")["License"],
    "broker": mailbroker._paths.BROKER_PATH,
}))
"""


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=300, **kwargs)


class PipInstall(unittest.TestCase):
    def test_pip_installs_the_package_into_a_venv(self):
        root = tempfile.mkdtemp(prefix="mb-py-venv-")
        self.addCleanup(shutil.rmtree, root, True)
        # A copy, so that the build's egg-info and build/ folders land there
        # rather than in the source tree.
        source = os.path.join(root, "src")
        shutil.copytree(SOURCE, source, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
        venv = os.path.join(root, "V")
        made = run([PYTHON, "-m", "venv", "--system-site-packages", venv])
        self.assertEqual(made.returncode, 0, made.stderr)
        pip = run([os.path.join(venv, "bin/pip"), "install", "--no-index", "--no-build-isolation", source])
        self.assertEqual(pip.returncode, 0, pip.stdout + pip.stderr)
        # From a folder of its own, so that nothing but the venv can supply it.
        env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        check = run([os.path.join(venv, "bin/python"), "-c", IMPORT_CHECK], cwd=root, env=env)
        self.assertEqual(check.returncode, 0, check.stderr)
        found = json.loads(check.stdout)
        self.assertTrue(found["file"].startswith(venv + "/lib/"), found["file"])
        self.assertEqual(found["version"], "1.0.0")
        self.assertEqual(found["license"], "MIT")
        self.assertEqual(found["broker"], "/usr/lib/mailbroker/mailbroker")
        installed = pathlib.Path(found["file"]).parent
        self.assertTrue((installed / "py.typed").is_file())
        # The system's python3 outside the venv does not see it.
        outside = run([PYTHON, "-c", "import mailbroker"], cwd=root, env=env)
        self.assertNotEqual(outside.returncode, 0)


@unittest.skipIf(BUILD_DIR is None and "--build-dir" not in sys.argv, "needs --build-dir")
class CMakeInstall(unittest.TestCase):
    def test_the_component_installs_the_package_with_its_prefix(self):
        prefix = tempfile.mkdtemp(prefix="mb-py-prefix-")
        self.addCleanup(shutil.rmtree, prefix, True)
        done = run([CMAKE, "--install", BUILD_DIR, "--component", "python", "--prefix", prefix])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        package = pathlib.Path(prefix, PYTHON_DIR, "mailbroker")
        names = sorted(p.name for p in package.iterdir())
        self.assertEqual(names, sorted(p.name for p in (SOURCE / "mailbroker").iterdir()
                                       if p.name != "__pycache__"))
        everything = [p for p in pathlib.Path(prefix).rglob("*") if p.is_file()]
        self.assertEqual([p for p in everything if p.suffix == ".pyc"], [])
        # Besides the module, only the package's copyright and changelog.
        docs = pathlib.Path(prefix, "share", "doc", "python3-mailbroker")
        self.assertTrue(all(p.is_relative_to(package) or p.is_relative_to(docs)
                            for p in everything), everything)
        env = dict(os.environ, PYTHONPATH=str(package.parent))
        env.pop("MAILBROKER_BROKER", None)
        check = run([PYTHON, "-B", "-c", "import mailbroker._paths as p; print(p.BROKER_PATH)"],
                    cwd=prefix, env=env)
        self.assertEqual(check.returncode, 0, check.stderr)
        self.assertEqual(check.stdout, "%s/%s/mailbroker\n" % (prefix, PRIVATE_DIR))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir")
    parser.add_argument("--cmake", default=CMAKE)
    parser.add_argument("--python-dir", default=PYTHON_DIR)
    parser.add_argument("--private-dir", default=PRIVATE_DIR)
    args, rest = parser.parse_known_args()
    BUILD_DIR, CMAKE = args.build_dir, args.cmake
    PYTHON_DIR, PRIVATE_DIR = args.python_dir, args.private_dir
    unittest.main(argv=[sys.argv[0], *rest])
