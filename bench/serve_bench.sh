#!/usr/bin/env bash
# ubin-serve next to nginx in one run: wrk with 50 connections for 10 s on 2 threads against
# /api/search over postal codes drawn at random from the full directory; nginx serves the same
# replies as one precomputed JSON file per code from a tmpfs. Prints requests per second and
# the 99th percentile latency of both, then both again with 1,000 idle keep-alive connections
# held open beside wrk's (each asked once, then left open and silent).
#
#   bash bench/serve_bench.sh [KEN_ALL.CSV]
#
# KEN_ALL.CSV defaults to ../shared/data/KEN_ALL.CSV beside the project; without it the
# benchmark says so and ends with status 0. SAMPLE codes (default 20000) are drawn once and
# both servers answer the same ones. ubin-serve runs twice: with --cache 0 (every request a
# lookup in the directory files) and as it runs by default (replies kept in memory; the
# warm-up run fills the cache). Builds a Release ubin-serve in build-release/ (or
# $UBIN_BENCH_BUILD). Installs wrk, nginx-light and curl when run as root and they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ken_all=${1:-${UBIN_FULL_KEN_ALL:-$root/../shared/data/KEN_ALL.CSV}}
build=${UBIN_BENCH_BUILD:-$root/build-release}
sample=${SAMPLE:-20000}
duration=${DURATION:-10s}

if [ ! -f "$ken_all" ]; then
  echo "serve_bench: $ken_all is not there; nothing measured"
  exit 0
fi
missing=()
for tool in wrk nginx curl; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    packages=("${missing[@]/nginx/nginx-light}")
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}" >/dev/null
  else
    echo "serve_bench: needs ${missing[*]} (apt-get install wrk nginx-light curl)"
    exit 1
  fi
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

echo "== building a Release ubin-serve in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUBIN_WITH_QT=OFF -DUBIN_BROWSER_TESTS=OFF >/dev/null
cmake --build "$build" --target ubin-serve ubin-build >/dev/null

work=$(mktemp -d /dev/shm/ubin-serve-bench.XXXXXX)
chmod 755 "$work" # nginx workers run as another user
serve_pid=""
nginx_pid=""
cleanup() {
  [ -n "${holder_pid:-}" ] && kill "$holder_pid" 2>/dev/null || true
  [ -n "$serve_pid" ] && kill -TERM "$serve_pid" 2>/dev/null && wait "$serve_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the full directory from $ken_all"
"$build/tools/ubin-build/ubin-build" "$ken_all" "$work/directory" --quiet
# The codes: the first field of every line of the directory's text file, each once.
cut -d, -f1 "$work/directory/郵便番号.CSV" | sort -u > "$work/all-codes.txt"
shuf -n "$sample" --random-source=<(yes) "$work/all-codes.txt" > "$work/codes.txt"
echo "   $(wc -l < "$work/all-codes.txt") codes; $(wc -l < "$work/codes.txt") drawn for the run"

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
echo "== ubin-serve"
start_serve "$work/serve-nocache.log" --cache 0

# nginx's files: ubin-serve's own replies, fetched over one kept-alive connection.
mkdir -p "$work/json"
sed "s|.*|url = \"http://127.0.0.1:$serve_port/api/search?zipcode=&\"\noutput = \"$work/json/&.json\"|" \
  "$work/codes.txt" > "$work/curl.conf"
curl -s --fail -K "$work/curl.conf"
echo "   $(ls "$work/json" | wc -l) JSON files for nginx, e.g. $(head -c 120 "$work/json/$(head -1 "$work/codes.txt").json")..."

# Below the range the kernel hands out to outgoing connections (curl's above may hold the port
# next to ubin-serve's), and not one a server already listens on.
nginx_port=$((20000 + RANDOM % 10000))
while (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null; do nginx_port=$((nginx_port + 1)); done
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 2;
worker_rlimit_nofile 8192;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log $work/nginx/access.log combined buffer=64k;
  server {
    listen 127.0.0.1:$nginx_port;
    keepalive_requests 1000;
    location = /api/search {
      default_type "application/json; charset=utf-8";
      add_header Cache-Control "public, max-age=86400";
      root $work/json;
      try_files /\$arg_zipcode.json =404;
    }
  }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null && break; sleep 0.1; done

code=$(head -1 "$work/codes.txt")
if ! cmp -s <(curl -s "http://127.0.0.1:$serve_port/api/search?zipcode=$code") \
            <(curl -s "http://127.0.0.1:$nginx_port/api/search?zipcode=$code"); then
  echo "serve_bench: the two servers do not give the same reply for $code"
  exit 1
fi

run() { # NAME PORT
  wrk -t2 -c50 -d2s -s "$root/bench/serve_bench.lua" "http://127.0.0.1:$2" -- "$work/codes.txt" >/dev/null # warm-up
  wrk -t2 -c50 -d"$duration" --latency -s "$root/bench/serve_bench.lua" "http://127.0.0.1:$2" -- "$work/codes.txt" \
    > "$work/$1.wrk"
  if grep -q "Non-2xx" "$work/$1.wrk"; then
    echo "serve_bench: $1 gave replies other than 200:"; cat "$work/$1.wrk"; exit 1
  fi
}
# IDLE connections to 127.0.0.1:PORT, each asking once and then left open and silent (its reply
# unread) until the holder is killed; sets holder_pid.
hold_idle() { # PORT COUNT
  local port=$1 count=$2
  (
    ulimit -n $((count + 64))
    for _ in $(seq "$count"); do
      exec {fd}<>"/dev/tcp/127.0.0.1/$port"
      printf 'GET /api/search?zipcode=%s HTTP/1.1\r\nHost: x\r\n\r\n' "$code" >&"$fd"
    done
    exec sleep 3600
  ) &
  holder_pid=$!
  sleep 2
}
stop_holding() {
  kill "$holder_pid" 2>/dev/null && wait "$holder_pid" 2>/dev/null || true
  holder_pid=""
}
holder_pid=""
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
to_ms() { # wrk's latency text (850.00us, 1.20ms, 2.00s) in milliseconds
  awk -v t="$1" 'BEGIN { v = t + 0; if (t ~ /us$/) v /= 1000; else if (t ~ /ms$/) v += 0; else if (t ~ /s$/) v *= 1000; printf "%.2f", v }'
}
echo "== wrk: 2 threads, 50 connections, $duration, random codes"
# First without the reply cache (every request a lookup in the directory files), then as it
# runs by default (the warm-up fills the cache with the drawn codes), then nginx.
run ubin-serve-nocache "$serve_port"
stop_serve
start_serve "$work/serve.log"
run ubin-serve "$serve_port"
run nginx "$nginx_port"
# With 1,000 idle connections held open: idle for longer than the run, so ubin-serve keeps them
# for a minute as nginx does (75 s).
echo "== the same with 1,000 idle connections held open"
stop_serve
start_serve "$work/serve-idle.log" --keep-alive-timeout 60
hold_idle "$serve_port" 1000
run ubin-serve-idle "$serve_port"
stop_holding
hold_idle "$nginx_port" 1000
run nginx-idle "$nginx_port"
stop_holding

printf "\n%-28s %14s %12s\n" server requests/s "p99 (ms)"
declare -A rps p99
for name in ubin-serve-nocache ubin-serve nginx ubin-serve-idle nginx-idle; do
  rps[$name]=$(awk '/^Requests\/sec:/ { printf "%.0f", $2 }' "$work/$name.wrk")
  p99[$name]=$(to_ms "$(awk '$1 == "99%" { print $2 }' "$work/$name.wrk")")
  label=$name
  [ "$name" = ubin-serve-nocache ] && label="ubin-serve --cache 0"
  [ "$name" = ubin-serve-idle ] && label="ubin-serve, 1,000 idle"
  [ "$name" = nginx-idle ] && label="nginx, 1,000 idle"
  printf "%-28s %14s %12s\n" "$label" "${rps[$name]}" "${p99[$name]}"
done
echo "(machine load before the runs: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg))"
ratio=$(awk -v a="${rps[ubin-serve]}" -v b="${rps[nginx]}" 'BEGIN { printf "%.2f", a / b }')
echo
idle_ratio=$(awk -v a="${rps[ubin-serve-idle]}" -v b="${rps[nginx-idle]}" 'BEGIN { printf "%.2f", a / b }')
echo "ubin-serve / nginx: $ratio of nginx's rate (target at least 0.50); p99 ${p99[ubin-serve]} ms (target under 10)"
echo "with 1,000 idle connections: $idle_ratio of nginx's rate; p99 ${p99[ubin-serve-idle]} ms"
if awk -v r="$ratio" -v p="${p99[ubin-serve]}" 'BEGIN { exit !(r >= 0.5 && p < 10) }'; then
  echo "target met"
else
  echo "target MISSED"
fi
