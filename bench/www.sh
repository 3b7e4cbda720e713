#!/usr/bin/env bash
# Requests per second of the runtime's HTML server next to nginx (one
# worker process, no keep-alive, access log off), measured side by side with
# wrk at one connection (-t1 -c1) and at fifty (-t2 -c50), for a small static
# file and for a routine's text answer (nginx: the same text from `return`);
# then two processes of ours sharing the port (@WWW OPEN_SHARED) next to
# nginx with two workers, at fifty connections; then the answer time of a
# normal request while 50 clients trickle their requests one byte a second.
# Usage: bench/www.sh [build-dir] [seconds per run] [other-build-dir]
# Environment: RUNS, the rounds per figure (default 8).  Many short rounds
# rather than a few long ones: on a busy machine each side then more
# likely has a quiet moment to show its best.
# With another build directory (an older runtime, say) its server is
# measured in the same rounds and shown in a column of its own.
# Needs nasm, ld, wrk, nginx (nginx-light), curl and python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
seconds=${2:-2}
RUNS=${RUNS:-8}
other=${3:-}
lib=$build/lib/libquillwright.a
for tool in nasm ld wrk nginx curl python3; do
  command -v "$tool" >/dev/null || { echo "www.sh: $tool is not installed" >&2; exit 2; }
done
[ -f "$lib" ] || { echo "www.sh: $lib not found (build the runtime first)" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"   # nginx workers may run as another user
pids=()      # servers and nginx, stopped by the cleanup
wrk_pid=     # the wrk run under way
cleanup() {
  set +e
  for pid in $wrk_pid "${pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir "$work/site"
text=$(head -c 1024 /dev/zero | tr '\0' 'q')
printf '%s' "$text" > "$work/site/index.html"
nasm -f elf64 -o "$work/server.o" "$here/www/server.asm"

# Started in this shell itself (not in a command substitution's subshell),
# so that the server's process id reaches `pids` and the cleanup.
started_port=
start_server() {  # library -> the server's port in started_port
  local exe
  exe=$work/server$((${#pids[@]} + 1))
  ld -o "$exe" "$work/server.o" "$1"
  started_port=$(free_port)
  (cd "$work/site" && exec "$exe" "$started_port" > /dev/null) &
  pids+=($!)
}
start_server "$lib"
port=$started_port
oport=
if [ -n "$other" ]; then
  [ -f "$other/lib/libquillwright.a" ] || { echo "www.sh: $other/lib/libquillwright.a not found" >&2; exit 2; }
  start_server "$other/lib/libquillwright.a"
  oport=$started_port
fi

nport=$(free_port)
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
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
# In the foreground of a background job of this shell, so that the cleanup
# stops it and also waits for it (a daemon's parent would be init).
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
# Two of ours on one port, and nginx with two workers.
nasm -f elf64 -DSHARED -o "$work/server_shared.o" "$here/www/server.asm"
ld -o "$work/server_shared" "$work/server_shared.o" "$lib"
sport=$(free_port)
for _ in 1 2; do
  (cd "$work/site" && exec "$work/server_shared" "$sport" > /dev/null) &
  pids+=($!)
done
nport2=$(free_port)
sed -e 's/^worker_processes 1;/worker_processes 2;/' -e "s/:$nport;/:$nport2;/" \
  -e 's/nginx\.pid;/nginx2.pid;/' -e 's/error\.log;/error2.log;/' "$work/nginx/nginx.conf" > "$work/nginx/nginx2.conf"
nginx -c "$work/nginx/nginx2.conf" -p "$work/nginx" &
pids+=($!)
for p in $port $nport $oport $sport $nport2; do
  for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$p/" && break; sleep 0.1; done
done

check() {
  curl -s "$1" | cmp -s - "$work/site/index.html" || { echo "www.sh: wrong answer from $1" >&2; exit 1; }
}
for p in "$port" "$nport" "$sport" "$nport2"; do check "http://127.0.0.1:$p/index.html"; check "http://127.0.0.1:$p/text"; done

# wrk's requests per second into `measured`; a run with errors or wrong
# statuses says so.  wrk runs as a job of this shell that is waited for:
# Ctrl-C then ends the script at once (wrk itself would take the signal
# as its normal end), and the cleanup stops wrk too.
rate() {  # threads connections url
  wrk -t"$1" -c"$2" -d"${seconds}s" -H 'Connection: close' "$3" > "$work/wrk.out" 2>&1 &
  wrk_pid=$!
  wait "$wrk_pid" || true
  wrk_pid=
  if grep -qE 'Socket errors|Non-2xx' "$work/wrk.out"; then
    echo "www.sh: $3 at -c$2: $(grep -E 'Socket errors|Non-2xx' "$work/wrk.out" | tr -s ' ' | tr '\n' ';')" >&2
  fi
  measured=$(awk '/^Requests\/sec/ {print $2}' "$work/wrk.out")
}
best() { awk -v x="$1" -v y="$2" 'BEGIN { print (y > x ? y : x) }'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "requests per second, best of $RUNS alternating rounds of ${seconds} s (wrk, loopback)"
printf '%-31s %11s %11s %6s' "" quillwright nginx ratio
[ -n "$oport" ] && printf ' %11s %6s' other ratio
echo
for what in "index.html:static 1 KiB file" "text:routine's 1 KiB text"; do
  path=${what%%:*}
  for load in "1 1" "2 50"; do
    set -- $load
    ours=0; theirs=0; others=0
    for _ in $(seq "$RUNS"); do
      rate "$1" "$2" "http://127.0.0.1:$port/$path"; ours=$(best "$ours" "$measured")
      rate "$1" "$2" "http://127.0.0.1:$nport/$path"; theirs=$(best "$theirs" "$measured")
      if [ -n "$oport" ]; then
        rate "$1" "$2" "http://127.0.0.1:$oport/$path"; others=$(best "$others" "$measured")
      fi
    done
    printf '%-31s %11s %11s %6s' "${what#*:}, -t$1 -c$2" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
    [ -n "$oport" ] && printf ' %11s %6s' "$others" "$(ratio "$others" "$theirs")"
    echo
  done
done

echo "two processes of ours on one port, nginx with two workers"
for what in "index.html:static 1 KiB file" "text:routine's 1 KiB text"; do
  path=${what%%:*}
  ours=0; theirs=0
  for _ in $(seq "$RUNS"); do
    rate 2 50 "http://127.0.0.1:$sport/$path"; ours=$(best "$ours" "$measured")
    rate 2 50 "http://127.0.0.1:$nport2/$path"; theirs=$(best "$theirs" "$measured")
  done
  printf '%-31s %11s %11s %6s\n' "2 x ${what#*:}, -c50" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
done

echo "answer time while 50 clients trickle one byte a second (ms: median, longest of 20)"
printf '  quillwright server: %s\n' "$(python3 "$here/www/slow_clients.py" "$port")"
printf '  nginx:              %s\n' "$(python3 "$here/www/slow_clients.py" "$nport")"
if [ -n "$oport" ]; then
  printf '  other:              %s\n' "$(python3 "$here/www/slow_clients.py" "$oport")"
fi
