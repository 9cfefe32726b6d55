"""Writes the wheel of the Python module ubin for the interpreter that runs this script, with the
standard library alone: a wheel is a zip of the package and a .dist-info folder (METADATA, WHEEL,
RECORD), which plain `pip install FILE.whl` takes with nothing else in the environment.

    python3 make_wheel.py --version 2.0 --module _ubin.cpython-311-x86_64-linux-gnu.so \\
        --package python/ubin --out build/dist [--strip strip]
    python3 make_wheel.py --version 2.0 --name      # the file name alone

CMake's target ubin_wheel runs it with the interpreter the module was built for; the module's
file name must carry that interpreter's suffix (EXT_SUFFIX), so that a module built for one
Python is never packed under another's tag.
"""
import argparse
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time
import zipfile
from pathlib import Path

NAME = "ubin"
SUMMARY = "Japanese postal-code directory lookups and builds over the ubin engine"
# The package's own files besides the compiled module.
PACKAGE_FILES = ("__init__.py", "__main__.py", "_ubin.pyi", "py.typed")


def wheel_tag():
    """cp311-cp311-linux_x86_64 for this interpreter."""
    if sys.implementation.name != "cpython":
        sys.exit(f"make_wheel.py: the module is built for CPython, not {sys.implementation.name}")
    python = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{python}-{python}{sys.abiflags}-{platform}"


def wheel_name(version):
    return f"{NAME}-{version}-{wheel_tag()}.whl"


def metadata(version):
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {NAME}\n"
        f"Version: {version}\n"
        f"Summary: {SUMMARY}\n"
        f"Requires-Python: =={sys.version_info.major}.{sys.version_info.minor}.*\n"
        "Classifier: Programming Language :: Python :: 3\n"
        "Classifier: Operating System :: POSIX :: Linux\n"
        "Classifier: Natural Language :: Japanese\n"
        "Classifier: Typing :: Typed\n"
        "Description-Content-Type: text/plain\n"
        "\n"
        "Looks Japanese addresses up in a directory folder built from Japan Post's KEN_ALL.CSV\n"
        "and JIGYOSYO.CSV (ubin.Directory: postal codes, anything a person types, written\n"
        "addresses, a whole column at once), and builds such a folder (ubin.build).\n"
    )


def wheel_file(tag):
    return f"Wheel-Version: 1.0\nGenerator: ubin make_wheel.py\nRoot-Is-Purelib: false\nTag: {tag}\n"


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return f"{name},sha256={digest},{len(data)}\n"


def zip_time():
    """The files' time in the zip: SOURCE_DATE_EPOCH when the build sets it, so that the same
    inputs give the same wheel; else 1980-01-01, the earliest a zip can hold."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch:
        return time.gmtime(max(int(epoch), 315532800))[:6]
    return (1980, 1, 1, 0, 0, 0)


def module_bytes(module, strip):
    if not strip:
        return module.read_bytes()
    with tempfile.TemporaryDirectory() as work:
        copy = Path(work) / module.name
        shutil.copyfile(module, copy)
        subprocess.run([strip, "--strip-unneeded", str(copy)], check=True)
        return copy.read_bytes()


def write_wheel(version, module, package, out, strip):
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    if not module.name.endswith(suffix) or not module.name.startswith("_ubin."):
        sys.exit(f"make_wheel.py: {module.name} is not the module _ubin{suffix} of {sys.executable}; "
                 "configure with -DPython_EXECUTABLE= naming the Python the module is for")
    tag = wheel_tag()
    info = f"{NAME}-{version}.dist-info"
    files = [(f"{NAME}/{name}", (package / name).read_bytes(), 0o644) for name in PACKAGE_FILES]
    files.append((f"{NAME}/{module.name}", module_bytes(module, strip), 0o755))
    files.append((f"{info}/METADATA", metadata(version).encode("utf-8"), 0o644))
    files.append((f"{info}/WHEEL", wheel_file(tag).encode("ascii"), 0o644))
    files.append((f"{info}/top_level.txt", f"{NAME}\n".encode("ascii"), 0o644))
    record = "".join(record_line(name, data) for name, data, _ in files) + f"{info}/RECORD,,\n"
    files.append((f"{info}/RECORD", record.encode("utf-8"), 0o644))

    out.mkdir(parents=True, exist_ok=True)
    target = out / wheel_name(version)
    # Written beside its place and renamed: a wheel that is there is whole.
    handle, partial = tempfile.mkstemp(dir=out, prefix=".", suffix=".whl.partial")
    os.close(handle)
    try:
        with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as wheel:
            for name, data, mode in files:
                entry = zipfile.ZipInfo(name, zip_time())
                entry.external_attr = (0o100000 | mode) << 16
                entry.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(entry, data)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(partial, 0o666 & ~umask)
        os.replace(partial, target)
    finally:
        if os.path.exists(partial):
            os.remove(partial)
    return target


def main():
    parser = argparse.ArgumentParser(description="Writes the wheel of the module ubin for this Python.")
    parser.add_argument("--version", required=True, help="the project's version")
    parser.add_argument("--name", action="store_true", help="print the wheel's file name and stop")
    parser.add_argument("--module", type=Path, help="the compiled module _ubin<EXT_SUFFIX>")
    parser.add_argument("--package", type=Path, help="the folder of the package's Python files (python/ubin)")
    parser.add_argument("--out", type=Path, help="the folder the wheel is written into")
    parser.add_argument("--strip", help="the strip program to take the debugging symbols out of the module")
    a = parser.parse_args()
    if a.name:
        print(wheel_name(a.version))
        return 0
    if not (a.module and a.package and a.out):
        parser.error("--module, --package and --out are needed to write a wheel")
    print(write_wheel(a.version, a.module, a.package, a.out, a.strip))
    return 0


if __name__ == "__main__":
    sys.exit(main())
