#!/usr/bin/env bash
# Installs what is needed, builds, shows a few lookups on the sample directory built from the
# KEN_ALL extract in data/, then starts the search window (its settings file lies in that
# folder, which the window searches as its current folder). Without a display it says how to
# see the window and the web form instead, and ends well: a first run on a server is no failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

# A postal code, a reading and an address with its house number, as people type them.
for query in 7300014 ぎんざ 千代田区永田町1-7-1; do
  echo "\$ ubin find $query"
  build/tools/ubin/ubin find --data build/sample --limit 5 "$query" || [[ $? -eq 1 ]] # 1: nothing found
  echo
done

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  cd build/sample
  exec ../marubeta/marubeta
fi
cat <<'TEXT'
No display here ($DISPLAY and $WAYLAND_DISPLAY are not set), so the search window is not opened.
Run it under a virtual X server from the sample folder, where its settings lie:
  (cd build/sample && xvfb-run -a ../marubeta/marubeta)
draw every window into PNG files in build/artifacts/:
  bash scripts/screenshots.sh
or serve the address form and open http://127.0.0.1:8080/ in a browser:
  build/tools/ubin-serve/ubin-serve --data build/sample
TEXT
