#!/usr/bin/env bash
# ubin-serve under clients that would hold it (bench/serve_load.py says what each run does), on
# the directory built from Japan Post's full files:
#
#   bash bench/serve_load.sh [KEN_ALL.CSV [JIGYOSYO.CSV]] [-- RUN...]
#
# The files default to ../shared/data/ beside the project; without them the script says so and
# ends with status 0. Builds a Release ubin-serve and ubin-build in build-release/ (or
# $UBIN_BENCH_BUILD). Needs python3 alone; the clients are its standard library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ken_all=${1:-${UBIN_FULL_KEN_ALL:-$root/../shared/data/KEN_ALL.CSV}}
jigyosyo=${2:-$(dirname "$ken_all")/JIGYOSYO.CSV}
build=${UBIN_BENCH_BUILD:-$root/build-release}
runs=()
if [ "${3:-}" = "--" ]; then runs=("${@:4}"); elif [ "${2:-}" = "--" ]; then runs=("${@:3}"); jigyosyo=$(dirname "$ken_all")/JIGYOSYO.CSV; fi

if [ ! -f "$ken_all" ] || [ ! -f "$jigyosyo" ]; then
  echo "serve_load: $ken_all or $jigyosyo is not there; nothing measured"
  exit 0
fi

echo "== building a Release ubin-serve in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUBIN_WITH_QT=OFF -DUBIN_BROWSER_TESTS=OFF >/dev/null
cmake --build "$build" --target ubin-serve ubin-build >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== the full directory from $ken_all and $jigyosyo"
"$build/tools/ubin-build/ubin-build" "$ken_all" "$work/directory" --offices "$jigyosyo" --quiet
echo "== load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$root/bench/serve_load.py" --serve "$build/tools/ubin-serve/ubin-serve" --data "$work/directory" "${runs[@]}"
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
