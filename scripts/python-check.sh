#!/bin/bash
# Installs the Python module ubin as a user would, offline, into fresh virtual environments, and
# runs its tests there over the sample directory:
#  1. Debian's python3: the wheel that CMake's target ubin_wheel writes into BUILD_DIR/dist,
#     installed by plain pip. The environment sees Debian's packages (pytest, pandas, mypy):
#     Debian's python refuses pip installs into the system itself (PEP 668).
#  2. Another CPython of the machine, where there is one (UBIN_OTHER_PYTHON, else the python3
#     first on PATH when it is not Debian's, as a pyenv or conda one): `pip install ./python`
#     builds the wheel for it through CMake (in BUILD_DIR/pip-<tag>, kept for the next run).
#     Its environment has nothing but pip; pytest comes from Debian's pure-Python package,
#     lent by a path file. Skipped, and said so, where there is no other CPython.
#
#   bash scripts/python-check.sh [BUILD_DIR]
#
# BUILD_DIR (default build/) is a CMake build folder of this tree: the sample directory, ubin and
# ubin-build are built there for the tests that compare with them. The tests over Japan Post's
# full files run when the folder's UBIN_FULL_KEN_ALL and UBIN_FULL_JIGYOSYO exist.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
debian_python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=$SECONDS
step() { echo "-- python-check [$((SECONDS - start)) s] $*"; }
fail() { echo "python-check: $*" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || fail "$build is not a build folder (no CMakeCache.txt)"
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
[ "$(cached UBIN_PYTHON)" = ON ] || fail "$build builds no Python module (UBIN_PYTHON is not ON: pybind11-dev and python3-dev missing?)"
[ "$(cached UBIN_PYTHON_EXECUTABLE)" = "$debian_python" ] ||
  fail "$build builds the module for $(cached UBIN_PYTHON_EXECUTABLE), not Debian's $debian_python"

step "the wheel, the sample directory, ubin and ubin-build in $build"
cmake --build "$build" --target ubin_wheel ubin_sample_directory ubin ubin-build -j2 >/dev/null
wheel=$(cd "$build/dist" && ls -t ubin-*-cp*.whl | head -n 1)
[ -n "$wheel" ] || fail "ubin_wheel wrote no wheel into $build/dist"

# Runs the tests with the environment's python from an empty folder, so that the installed
# package is imported and not python/ubin.
run_tests() {
  local venv=$1
  (cd "$work" && "$venv/bin/python" -c 'import sys, ubin; assert ubin.__file__.startswith(sys.prefix), ubin.__file__' &&
    UBIN_SAMPLE_DIR="$build/sample" UBIN_CLI="$build/tools/ubin/ubin" UBIN_BUILD_CLI="$build/tools/ubin-build/ubin-build" \
      UBIN_FULL_KEN_ALL="$(cached UBIN_FULL_KEN_ALL)" UBIN_FULL_JIGYOSYO="$(cached UBIN_FULL_JIGYOSYO)" \
      "$venv/bin/python" -m pytest -q -p no:cacheprovider -rs "$root/python/tests")
}

step "Debian's python3 ($($debian_python --version)): pip install $wheel"
"$debian_python" -m venv --system-site-packages "$work/debian"
"$work/debian/bin/pip" install --no-index --quiet "$build/dist/$wheel"
run_tests "$work/debian"

other=${UBIN_OTHER_PYTHON:-}
if [ -z "$other" ] && command -v python3 >/dev/null; then
  # The interpreter itself, not a shim that hands over to it (pyenv).
  other=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null || true)
fi
if [ -z "$other" ] || [ "$(realpath "$other")" = "$(realpath "$debian_python")" ] ||
   ! "$other" -c 'import sys, ensurepip; sys.exit(sys.implementation.name != "cpython")' 2>/dev/null; then
  step "skipped the second environment: no CPython with venv and pip besides Debian's on this machine (UBIN_OTHER_PYTHON names one)"
  step "done: 1 environment"
  exit 0
fi
tag=$("$other" "$root/python/pep517/make_wheel.py" --version 0 --name | sed 's/^ubin-0-//; s/\.whl$//')
step "$other ($("$other" --version)): pip install ./python, built through CMake in $build/pip-$tag"
"$other" -m venv "$work/other"
UBIN_CMAKE_BUILD_DIR="$build/pip-$tag" "$work/other/bin/pip" install --no-index --quiet "$root/python"
# pytest from Debian's packages, after the environment's own site packages.
site=$("$work/other/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
echo /usr/lib/python3/dist-packages >"$site/debian-packages.pth"
run_tests "$work/other"
step "done: 2 environments"
