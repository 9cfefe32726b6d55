"""Builds the Python module ubin with CMake, offline, from the project's own source tree:

    python3 -m venv --system-site-packages venv && venv/bin/pip install --no-build-isolation ./python

build_ext configures the project (without Qt) and builds the one target ubin_python, then puts
the module into the package. UBIN_CMAKE_BUILD_DIR names a build folder to use instead of a
fresh one; UBIN_BUILD_JOBS the parallel jobs (2).
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(ubin\b[^)]*VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not (ROOT / "search" / "lookup.h").exists():
            sys.exit(f"setup.py: the engine's sources are not beside {HERE}; build from the project's tree")
        build = Path(os.environ.get("UBIN_CMAKE_BUILD_DIR") or Path(self.build_temp).resolve() / "cmake")
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DUBIN_WITH_QT=OFF", "-DUBIN_PYTHON=ON",
                     f"-DPython_EXECUTABLE={sys.executable}"]
        if not (build / "CMakeCache.txt").exists():
            configure += ["-DCMAKE_BUILD_TYPE=Release"] + (["-G", "Ninja"] if shutil.which("ninja") else [])
        subprocess.run(configure, check=True)
        jobs = os.environ.get("UBIN_BUILD_JOBS", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "ubin_python", "-j", jobs], check=True)
        built = sorted((build / "python" / "ubin").glob("_ubin*.so")) + sorted((build / "python" / "ubin").glob("_ubin*.pyd"))
        if not built:
            sys.exit(f"setup.py: CMake built no module in {build / 'python' / 'ubin'}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built[0], target)


setup(
    name="ubin",
    version=project_version(),
    description="Japanese postal-code directory lookups over the ubin engine",
    packages=["ubin"],
    ext_modules=[CMakeExtension("ubin._ubin")],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    zip_safe=False,
)
