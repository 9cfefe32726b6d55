#!/usr/bin/env bash
# /v1/suggest beside /api/search under the same load: wrk with 50 connections for 10 s on 2
# threads, each request a query drawn at random from SAMPLE (default 20000) made from the full
# KEN_ALL.CSV by suggest_queries.py (addresses as they are typed, whole addresses with a house
# number and building, readings as they are typed, postal codes) and, for /api/search, codes of
# the same rows. ubin-serve runs as it runs by default, each query asked once before the run (a
# service that has run a while has the replies of the beginnings its visitors type kept), and
# with --cache 0 (every request searched); /v1/find (never kept) answers the same
# queries beside them. Prints requests per second and the 50th and 99th percentile latency of
# each, and whether /v1/suggest's p99 is within twice /api/search's.
#
#   bash bench/suggest_bench.sh [KEN_ALL.CSV]
#
# KEN_ALL.CSV defaults to ../shared/data/KEN_ALL.CSV beside the project (JIGYOSYO.CSV beside it
# is read too, when there); without it the benchmark says so and ends with status 0. Builds a
# Release ubin-serve in build-release/ (or $UBIN_BENCH_BUILD). Needs wrk and python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ken_all=${1:-${UBIN_FULL_KEN_ALL:-$root/../shared/data/KEN_ALL.CSV}}
build=${UBIN_BENCH_BUILD:-$root/build-release}
sample=${SAMPLE:-20000}
duration=${DURATION:-10s}

if [ ! -f "$ken_all" ]; then
  echo "suggest_bench: $ken_all is not there; nothing measured"
  exit 0
fi
for tool in wrk python3 curl; do
  command -v "$tool" >/dev/null || { echo "suggest_bench: needs $tool (apt-get install wrk python3 curl)"; exit 1; }
done

echo "== building a Release ubin-serve in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUBIN_WITH_QT=OFF -DUBIN_BROWSER_TESTS=OFF >/dev/null
cmake --build "$build" --target ubin-serve ubin-build >/dev/null

work=$(mktemp -d /dev/shm/ubin-suggest-bench.XXXXXX)
serve_pid=""
cleanup() {
  [ -n "$serve_pid" ] && kill -TERM "$serve_pid" 2>/dev/null && wait "$serve_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the full directory from $ken_all"
offices=()
jigyosyo=$(dirname "$ken_all")/JIGYOSYO.CSV
[ -f "$jigyosyo" ] && offices=(--offices "$jigyosyo")
"$build/tools/ubin-build/ubin-build" "$ken_all" "$work/directory" "${offices[@]}" --quiet
python3 "$root/bench/suggest_queries.py" "$ken_all" "$sample" "$work/suggest.txt" "$work/search.txt"
sed 's|^/v1/suggest?limit=10&|/v1/find?limit=10\&|' "$work/suggest.txt" > "$work/find.txt"
echo "   $(wc -l < "$work/suggest.txt") queries, e.g. $(sed -n 1p "$work/suggest.txt") $(sed -n 2p "$work/suggest.txt")"

start_serve() { # LOG ARGS...: starts ubin-serve, sets serve_pid and serve_port
  local log=$1
  shift
  "$build/tools/ubin-serve/ubin-serve" --data "$work/directory" --listen 127.0.0.1:0 "$@" 2> "$log" &
  serve_pid=$!
  for _ in $(seq 100); do grep -q "listening on" "$log" && break; sleep 0.1; done
  serve_port=$(grep -o 'listening on http://127.0.0.1:[0-9]*' "$log" | sed 's/.*://')
  [ -n "$serve_port" ] || { cat "$log"; exit 1; }
}
stop_serve() {
  kill -TERM "$serve_pid" && wait "$serve_pid"
  serve_pid=""
}
warm() { # TARGETS: each asked once, over one kept-alive connection
  sed "s|.*|url = \"http://127.0.0.1:$serve_port&\"\noutput = \"/dev/null\"|" "$1" > "$work/warm.conf"
  curl -s --fail -K "$work/warm.conf"
}
run() { # NAME TARGETS
  wrk -t2 -c50 -d2s -s "$root/bench/suggest_bench.lua" "http://127.0.0.1:$serve_port" -- "$2" >/dev/null # warm-up
  wrk -t2 -c50 -d"$duration" --latency -s "$root/bench/suggest_bench.lua" "http://127.0.0.1:$serve_port" -- "$2" \
    > "$work/$1.wrk"
  if grep -q "Non-2xx" "$work/$1.wrk"; then
    echo "suggest_bench: $1 gave replies other than 200:"; cat "$work/$1.wrk"; exit 1
  fi
}
to_ms() { # wrk's latency text (850.00us, 1.20ms, 2.00s) in milliseconds
  awk -v t="$1" 'BEGIN { v = t + 0; if (t ~ /us$/) v /= 1000; else if (t ~ /ms$/) v += 0; else if (t ~ /s$/) v *= 1000; printf "%.2f", v }'
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "== wrk: 2 threads, 50 connections, $duration"
start_serve "$work/serve.log"
warm "$work/search.txt"
warm "$work/suggest.txt"
run search "$work/search.txt"
run suggest "$work/suggest.txt"
stop_serve
start_serve "$work/serve-nocache.log" --cache 0
run search-nocache "$work/search.txt"
run suggest-nocache "$work/suggest.txt"
run find-nocache "$work/find.txt"
stop_serve

printf "\n%-34s %14s %10s %10s\n" route requests/s "p50 (ms)" "p99 (ms)"
declare -A p99
for name in search suggest search-nocache suggest-nocache find-nocache; do
  rps=$(awk '/^Requests\/sec:/ { printf "%.0f", $2 }' "$work/$name.wrk")
  p50=$(to_ms "$(awk '$1 == "50%" { print $2 }' "$work/$name.wrk")")
  p99[$name]=$(to_ms "$(awk '$1 == "99%" { print $2 }' "$work/$name.wrk")")
  label="/api/search"
  [[ $name == suggest* ]] && label="/v1/suggest"
  [[ $name == find* ]] && label="/v1/find"
  [[ $name == *nocache ]] && label="$label, --cache 0"
  printf "%-34s %14s %10s %10s\n" "$label" "$rps" "$p50" "${p99[$name]}"
done
echo "(machine load before the runs: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg))"
ratio=$(awk -v a="${p99[suggest]}" -v b="${p99[search]}" 'BEGIN { printf "%.2f", a / b }')
ratio_nocache=$(awk -v a="${p99[suggest-nocache]}" -v b="${p99[search-nocache]}" 'BEGIN { printf "%.2f", a / b }')
echo
echo "/v1/suggest p99 / /api/search p99: $ratio as it runs by default, $ratio_nocache with --cache 0 (target at most 2)"
if awk -v r="$ratio" 'BEGIN { exit !(r <= 2) }'; then echo "target met"; else echo "target MISSED"; fi
