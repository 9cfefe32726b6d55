#!/usr/bin/env bash
# Two ubin-serve processes behind Debian's nginx on 127.0.0.1, under a bounded wrk load: each
# server's directory is rebuilt in turn (ubin-build puts the new folder in place; the server
# takes it up), one server's folder is then replaced by a copy as docs/deploy.md says, then each server is stopped with SIGTERM and started again in turn while nginx
# sends its requests to the other. Every request must get a whole, right reply. The second
# server takes its listening socket from systemd-socket-activate, as under ubin-serve.socket.
#
#   deploy_test.sh UBIN_SERVE UBIN_BUILD KEN_ALL.CSV JIGYOSYO.CSV SAMPLE_DIR
# Exit 0 when every request succeeded, 1 when one failed, 77 without nginx, wrk, python3 or curl.
set -euo pipefail
serve=$1 build=$2 ken_all=$3 offices=$4 sample=$5
here=$(cd "$(dirname "$0")" && pwd)
nginx=$(command -v nginx || echo /usr/sbin/nginx)
for tool in "$nginx" wrk python3 curl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/packages.txt names it)"
    exit 77
  fi
done

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# Three free ports on the loopback: the two servers' and nginx's.
read -r port_a port_b port_lb < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))')

cp -r "$sample" "$tmp/data-a"
cp -r "$sample" "$tmp/data-b"

# The server NAME (a or b) on its port; b through systemd-socket-activate when it exists.
start() {
  local name=$1 port=$2
  local args=(--data "$tmp/data-$name" --listen "127.0.0.1:$port" --threads 2)
  if [ "$name" = b ] && command -v systemd-socket-activate >/dev/null; then
    systemd-socket-activate --listen="127.0.0.1:$port" "$serve" "${args[@]}" 2>>"$tmp/serve-$name.log" &
  else
    "$serve" "${args[@]}" 2>>"$tmp/serve-$name.log" &
  fi
  eval "pid_$name=$!"
  pids+=("$!")
  # Up when it answers (socket activation starts the program at the first connection).
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$port/healthz" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "FAIL: server $name did not start"; cat "$tmp/serve-$name.log"; exit 1
}

stop() {
  local name=$1 pid
  eval "pid=\$pid_$name"
  kill -TERM "$pid"
  wait "$pid" || { echo "FAIL: server $name did not end with status 0 on SIGTERM"; exit 1; }
}

edition() { curl -sf -o /dev/null -D - "http://127.0.0.1:$1/healthz" | tr -d '\r' | sed -n 's/^X-Ubin-Edition: //Ip'; }

# Rebuilds a server's folder as a new month's and waits until the server answers from it.
rebuild() {
  local name=$1 port=$2 month=$3
  "$build" "$ken_all" "$tmp/data-$name" --offices "$offices" --quiet --edition "$month"
  for _ in $(seq 50); do
    [ "$(edition "$port")" = "$month" ] && { echo "deploy: server $name answers from its rebuilt directory ($month)"; return 0; }
    sleep 0.1
  done
  echo "FAIL: server $name still answers from $(edition "$port") after its rebuild"; exit 1
}

# A folder built elsewhere and copied in as docs/deploy.md says: into a new folder beside the
# served one, the two swapped with two renames, the old one removed once the server answers
# from the new build.
copy_in() {
  local name=$1 port=$2 month=$3
  "$build" "$ken_all" "$tmp/built-$name" --offices "$offices" --quiet --edition "$month"
  cp -a "$tmp/built-$name" "$tmp/data-$name.new"
  mv -T "$tmp/data-$name" "$tmp/data-$name.old" && mv -T "$tmp/data-$name.new" "$tmp/data-$name"
  for _ in $(seq 50); do
    if [ "$(edition "$port")" = "$month" ]; then
      rm -rf "$tmp/data-$name.old"
      echo "deploy: server $name answers from the folder copied in ($month)"
      return 0
    fi
    sleep 0.1
  done
  echo "FAIL: server $name still answers from $(edition "$port") after its folder was swapped"; exit 1
}

start a "$port_a"
start b "$port_b"
if grep -q 'socket from systemd' "$tmp/serve-b.log"; then echo "deploy: server b took its socket from systemd"; fi

mkdir -p "$tmp/nginx"
cat > "$tmp/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  upstream ubin {
    server 127.0.0.1:$port_a max_fails=0;
    server 127.0.0.1:$port_b max_fails=0;
    keepalive 32;
  }
  server {
    listen 127.0.0.1:$port_lb;
    location / {
      proxy_pass http://ubin;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_connect_timeout 1s;
      proxy_next_upstream error timeout http_502 http_503 http_504;
      proxy_next_upstream_tries 2;
    }
  }
}
CONF
"$nginx" -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" 2>>"$tmp/nginx/error.log" &
pids+=("$!")
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$port_lb/healthz" >/dev/null 2>&1 && break; sleep 0.1; done

seconds=20
wrk -t2 -c8 -d"${seconds}s" --timeout 5s -s "$here/load.lua" "http://127.0.0.1:$port_lb" >"$tmp/wrk.out" 2>&1 &
wrk_pid=$!
sleep 2
rebuild a "$port_a" 2031-01
sleep 1
rebuild b "$port_b" 2031-01
sleep 1
copy_in a "$port_a" 2031-02
sleep 1
for name in a b; do
  port=port_$name
  stop "$name"
  echo "deploy: server $name stopped"
  sleep 1
  start "$name" "${!port}"
  echo "deploy: server $name started again"
  sleep 1
done
wait "$wrk_pid"
cat "$tmp/wrk.out"
summary=$(grep '^deploy: requests' "$tmp/wrk.out" || true)
failures=$(sed -n 's/^deploy: requests [0-9]*, failures \([0-9]*\).*/\1/p' <<<"$summary")
requests=$(sed -n 's/^deploy: requests \([0-9]*\),.*/\1/p' <<<"$summary")
if [ -z "$failures" ] || [ "$failures" != 0 ] || [ "${requests:-0}" -lt 1000 ]; then
  echo "FAIL: through nginx: ${summary:-no summary from wrk}"
  echo "--- nginx's error log"; tail -20 "$tmp/nginx/error.log"
  exit 1
fi
echo "PASS: ${summary#deploy: }"
