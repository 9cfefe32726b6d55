#!/usr/bin/env bash
# Draws every window and message box of the suite under a virtual X server (xvfb-run) with the
# project's CJK font and saves them as PNG files in build/artifacts/, for people to look at.
# The same run checks that nothing is drawn outside its window and no caption is cut short.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! dpkg -s $(grep -v '^#' scripts/packages.txt) >/dev/null 2>&1; then
  bash scripts/install-deps.sh
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build --target screenshots_test
ctest --test-dir build --output-on-failure -R '^screenshots$'
ls -1 build/artifacts/*.png
