"""The build backend of python/pyproject.toml: `pip install ./python` builds the wheel through the
project's CMake (target ubin_wheel) for the Python that runs pip, offline, with nothing but pip
in the environment.

The CMake build folder is python/build/<tag>/ (kept, so that a second install only builds what
changed), or the folder UBIN_CMAKE_BUILD_DIR names; UBIN_BUILD_JOBS gives the parallel jobs (2).
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
PYTHON_DIR = HERE.parent
ROOT = PYTHON_DIR.parent

sys.path.insert(0, str(HERE))
import make_wheel  # noqa: E402


def _version():
    import re

    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(ubin\b[^)]*VERSION ([0-9.]+)", text).group(1)


def _interpreter():
    """The installation's own interpreter rather than a virtual environment's: the module built
    for it serves every environment made from it, and the build folder outlives the environment."""
    base = getattr(sys, "_base_executable", None)
    return base if base and os.path.exists(base) else sys.executable


def _run(command, **kwargs):
    print("+ " + " ".join(command), file=sys.stderr, flush=True)
    subprocess.run(command, check=True, **kwargs)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    if not (ROOT / "search" / "lookup.h").exists():
        raise RuntimeError(f"the engine's sources are not beside {PYTHON_DIR}; install from the project's tree")
    if not shutil.which("cmake"):
        raise RuntimeError("building the module needs cmake (Debian: apt install cmake ninja-build g++ pybind11-dev)")
    tag = make_wheel.wheel_tag()
    build = Path(os.environ.get("UBIN_CMAKE_BUILD_DIR") or PYTHON_DIR / "build" / tag).resolve()
    configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DUBIN_WITH_QT=OFF", "-DUBIN_PYTHON=ON",
                 f"-DPython_EXECUTABLE={_interpreter()}", f"-DUBIN_WHEEL_DIR={build / 'dist'}"]
    if not (build / "CMakeCache.txt").exists():
        configure.append("-DCMAKE_BUILD_TYPE=Release")
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    # Paths under the project's tree hash alike for ccache whatever the build folder.
    env = dict(os.environ, CCACHE_BASEDIR=str(ROOT))
    _run(configure, env=env)
    _run(["cmake", "--build", str(build), "--target", "ubin_wheel", "-j", os.environ.get("UBIN_BUILD_JOBS", "2")],
         env=env)
    name = make_wheel.wheel_name(_version())
    os.makedirs(wheel_directory, exist_ok=True)
    shutil.copyfile(build / "dist" / name, Path(wheel_directory) / name)
    return name


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_sdist(sdist_directory, config_settings=None):
    raise RuntimeError("python/ does not build alone (the module is built from the whole project): "
                       "build a wheel with `pip wheel ./python` or CMake's target ubin_wheel")
