#!/usr/bin/env bash
# Requests per second of the runtime's HTML server next to nginx (one
# worker process, no keep-alive, access log off), measured side by side with
# wrk at one connection (-t1 -c1) and at fifty (-t2 -c50), for a small static
# file and for a routine's text answer (nginx: the same text from `return`);
# then the answer time of a normal request while 50 clients trickle their
# requests one byte a second.
# Usage: bench/www.sh [build-dir] [seconds per run]
# Needs nasm, ld, wrk, nginx (nginx-light), curl and python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
seconds=${2:-4}
lib=$build/lib/libquillwright.a
for tool in nasm ld wrk nginx curl python3; do
  command -v "$tool" >/dev/null || { echo "www.sh: $tool is not installed" >&2; exit 2; }
done
[ -f "$lib" ] || { echo "www.sh: $lib not found (build the runtime first)" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"   # nginx workers may run as another user
server_pid=
cleanup() {
  set +e
  [ -f "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null
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
text=$(head -c 1024 /dev/zero | tr '\0' 'q')
printf '%s' "$text" > "$work/site/index.html"

port=$(free_port)
(cd "$work/site" && exec "$work/server" "$port" > /dev/null) &
server_pid=$!

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
  default_type text/html;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nport;
    root $work/site;
    location = /text { return 200 "$text"; }
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx"
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && curl -s -o /dev/null "http://127.0.0.1:$nport/" && break
  sleep 0.1
done

check() {
  curl -s "$1" | cmp -s - "$work/site/index.html" || { echo "www.sh: wrong answer from $1" >&2; exit 1; }
}
for p in "$port" "$nport"; do check "http://127.0.0.1:$p/index.html"; check "http://127.0.0.1:$p/text"; done

# wrk's requests per second; a run with errors or wrong statuses says so.
rate() {  # threads connections url
  local out
  out=$(wrk -t"$1" -c"$2" -d"${seconds}s" -H 'Connection: close' "$3" 2>&1)
  if grep -qE 'Socket errors|Non-2xx' <<<"$out"; then
    echo "www.sh: $3 at -c$2: $(grep -E 'Socket errors|Non-2xx' <<<"$out" | tr -s ' ' | tr '\n' ';')" >&2
  fi
  awk '/^Requests\/sec/ {print $2}' <<<"$out"
}
best() { awk -v x="$1" -v y="$2" 'BEGIN { print (y > x ? y : x) }'; }

echo "requests per second, best of 3 alternating rounds of ${seconds} s (wrk, loopback)"
printf '%-26s %12s %12s %7s\n' "" quillwright nginx ratio
for what in "index.html:static 1 KiB file" "text:routine's 1 KiB text"; do
  path=${what%%:*}
  for load in "1 1" "2 50"; do
    set -- $load
    ours=0; theirs=0
    for _ in 1 2 3; do
      ours=$(best "$ours" "$(rate "$1" "$2" "http://127.0.0.1:$port/$path")")
      theirs=$(best "$theirs" "$(rate "$1" "$2" "http://127.0.0.1:$nport/$path")")
    done
    printf '%-26s %12s %12s %7s\n' "${what#*:}, -t$1 -c$2" "$ours" "$theirs" \
      "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
  done
done

echo "answer time while 50 clients trickle one byte a second (ms: median, longest of 20)"
printf '  quillwright server: %s\n' "$(python3 "$here/www/slow_clients.py" "$port")"
printf '  nginx:              %s\n' "$(python3 "$here/www/slow_clients.py" "$nport")"
