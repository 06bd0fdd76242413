"""Builds the compiled module with the project's CMake build and installs it
with the pure-Python package (pip install --no-build-isolation .)."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                               "-DZALK_TESTS=OFF", "-DZALK_BENCH=OFF",
                               f"-DPython3_EXECUTABLE={sys.executable}"])
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_zalk3071",
                               "-j", str(os.cpu_count() or 1)])
        built = next((build / "python" / "zalk3071").glob("_zalk3071*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


class BuildPy(build_py):
    """The survey report's template files go with the package (zalk3071/report_page)."""

    def run(self):
        super().run()
        target = Path(self.build_lib) / "zalk3071" / "report_page"
        target.mkdir(parents=True, exist_ok=True)
        for name in ("page.html", "page.css", "page.js"):
            shutil.copyfile(ROOT / "apps" / "rate" / "report" / name, target / name)


setup(package_dir={"": "python"}, packages=["zalk3071"],
      package_data={"zalk3071": ["py.typed", "_zalk3071.pyi"]},
      ext_modules=[Extension("zalk3071._zalk3071", sources=[])], cmdclass={"build_ext": CMakeBuild, "build_py": BuildPy})
