#!/usr/bin/env bash
# Installs what is needed, builds, and runs the suite on the sample directory built from the
# KEN_ALL extract in data/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
exec build/tools/ubin/ubin --settings build/sample/ubscon.def postal 7300014
