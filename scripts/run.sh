#!/usr/bin/env bash
# Installs what is needed, builds, and starts the search window on the sample directory built
# from the KEN_ALL extract in data/ (its settings file lies in that folder, which the window
# searches as its current folder).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
cd build/sample
../tools/ubin/ubin --settings ubscon.def postal 7300014
exec ../marubeta/marubeta
