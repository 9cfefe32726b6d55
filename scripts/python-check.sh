#!/bin/bash
# Installs the Python module ubin with pip into a fresh virtual environment, offline (Debian's
# setuptools, no package index), and runs its tests over the sample directory.
#
#   bash scripts/python-check.sh [BUILD_DIR]
#
# BUILD_DIR (default build/) must hold the sample directory (target ubin_sample_directory) and
# the ubin program for the test that compares `python3 -m ubin find` with `ubin find`.
# The environment takes Debian's site packages (--system-site-packages) for pytest and pandas:
# Debian's python refuses pip installs into the system itself (PEP 668).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
python=${PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
trap 'rm -rf "$work" "$root/python/build" "$root/python/ubin.egg-info"' EXIT

cmake --build "$build" --target ubin_sample_directory ubin -j2 >/dev/null
"$python" -m venv --system-site-packages "$work/venv"
# pip builds in a folder of its own unless UBIN_CMAKE_BUILD_DIR names one (a faster re-run).
"$work/venv/bin/pip" install --no-build-isolation --no-index "$root/python"
# Run from outside the tree, so that the installed package is imported and not python/ubin.
cd "$work"
UBIN_SAMPLE_DIR="$build/sample" UBIN_CLI="$build/tools/ubin/ubin" \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"
