#!/usr/bin/env bash
# Builds everything and runs every test (GUI tests run on Qt's offscreen platform; the few
# that need a real X server start their own under xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! dpkg -s $(grep -v '^#' scripts/packages.txt) >/dev/null 2>&1 || ! command -v npm >/dev/null; then
  bash scripts/install-deps.sh
fi
# The benchmarks are built (not run) so that they keep up with the engine.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUBIN_BENCH=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2
