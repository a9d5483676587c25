"""Builds the native module of the veltra wheel with CMake (see pyproject.toml).

The CMake build goes to build/wheel/ and builds the targets _veltra and
veltra-sim only; the module, _version.py and veltra-sim (for veltra.Simulator)
are copied into the wheel's package beside the Python files. Environment: VELTRA_WHEEL_BUILD_DIR (another CMake build folder),
CMAKE_BUILD_PARALLEL_LEVEL (jobs)."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
VERSION = re.search(r"project\(veltra_utility VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
BUILD = Path(os.environ.get("VELTRA_WHEEL_BUILD_DIR", ROOT / "build" / "wheel"))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        cmake = BUILD / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(cmake), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DVELTRA_TESTS=OFF", "-DVELTRA_BENCH=OFF",
                        "-DVELTRA_DATA=OFF", "-DPython3_EXECUTABLE=" + sys.executable], check=True)
        subprocess.run(["cmake", "--build", str(cmake), "--target", "_veltra", "veltra-sim"], check=True)
        built = cmake / "python" / "veltra"
        target = Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        # veltra-sim goes inside the package, where veltra.Simulator looks first.
        for f in [*built.glob("_veltra*.so"), built / "_version.py", cmake / "src" / "sim" / "veltra-sim"]:
            shutil.copy2(f, target / f.name)
        for f in [next(target.glob("_veltra*.so")), target / "veltra-sim"]:
            subprocess.run(["strip", "--strip-unneeded", str(f)], check=True)


BUILD.mkdir(parents=True, exist_ok=True)
setup(
    version=VERSION,
    ext_modules=[Extension("veltra._veltra", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(BUILD / "setuptools")}, "egg_info": {"egg_base": str(BUILD)}},
)
