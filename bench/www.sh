#!/usr/bin/env bash
# Requests per second for a small static file over loopback, one connection
# at a time, for the runtime's HTML server next to nginx (one worker, no
# keep-alive).  Usage: bench/www.sh [build-dir] [requests]
# Needs nasm, ld, ab (apache2-utils) and nginx (nginx-light).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
requests=${2:-5000}
lib=$build/lib/libquillwright.a
for tool in nasm ld ab nginx; do
  command -v "$tool" >/dev/null || { echo "www.sh: $tool is not installed" >&2; exit 2; }
done
[ -f "$lib" ] || { echo "www.sh: $lib not found (build the runtime first)" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"   # nginx workers may run as another user
server_pid=; nginx_pid=
cleanup() {
  set +e
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null
  elif [ -f "$work/nginx/nginx.pid" ]; then
    kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

nasm -f elf64 -o "$work/server.o" "$here/www/server.asm"
ld -o "$work/server" "$work/server.o" "$lib"
mkdir "$work/site"
head -c 1024 /dev/zero | tr '\0' 'q' > "$work/site/index.html"

port=$(free_port)
(cd "$work/site" && exec "$work/server" "$port" > /dev/null) &
server_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

nport=$(free_port)
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nport;
    root $work/site;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx"
sleep 0.3
nginx_pid=$(cat "$work/nginx/nginx.pid")

rate() {  # url -> requests per second
  ab -q -n "$requests" -c 1 "$1" 2>/dev/null | awk '/Requests per second/ {print $4}'
}
check() {
  curl -s "$1" | cmp -s - "$work/site/index.html" || { echo "www.sh: wrong answer from $1" >&2; exit 1; }
}
check "http://127.0.0.1:$port/index.html"
check "http://127.0.0.1:$nport/index.html"
rate "http://127.0.0.1:$port/index.html" >/dev/null   # warm-up
# The machine is shared: alternate the two servers over several rounds and
# keep each one's best round.
ours=0; theirs=0
for _ in 1 2 3 4 5; do
  a=$(rate "http://127.0.0.1:$port/index.html")
  b=$(rate "http://127.0.0.1:$nport/index.html")
  ours=$(awk -v x="$ours" -v y="$a" 'BEGIN { print (y > x ? y : x) }')
  theirs=$(awk -v x="$theirs" -v y="$b" 'BEGIN { print (y > x ? y : x) }')
done
echo "static 1 KiB file, best of 5 rounds of $requests requests, one connection at a time"
printf '  quillwright server: %10s requests/s\n' "$ours"
printf '  nginx:              %10s requests/s\n' "$theirs"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "  ratio:              %10.2f\n", a / b }'
