#!/usr/bin/env bash
# The web example end to end, driven with curl: a page with a stylesheet
# and a module script gets the types a browser insists on, /time tells the
# time of day, a form is answered, a wrong key does not stop the server and
# the right one does.  Usage: web_example_test.sh QUILL EXAMPLES-DIR
set -u
quill=$1; examples=$2
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "web example: $*"; exit 1; }
command -v curl >/dev/null || fail "curl is not installed"

cp "$examples/web.QWR" "$work/"
(cd "$work" && "$quill" build web) > "$work/build.out" 2>&1 || { cat "$work/build.out"; fail "does not build"; }
printf '<link rel="stylesheet" href="style.css"><script type="module" src="app.js"></script>' > "$work/index.html"
printf 'p { color: red }' > "$work/style.css"
printf 'export const a = 1;' > "$work/app.js"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work" && WEB_STOP_KEY=k3y exec ./web "$port" > run.out 2>&1) &
pid=$!
url=http://127.0.0.1:$port
for _ in $(seq 100); do curl -s -o /dev/null "$url/" && break; sleep 0.05; done

type_of() { curl -s -o /dev/null -w '%{http_code} %{content_type}' "$url$1"; }
[ "$(type_of /)" = "200 text/html; charset=utf-8" ] || fail "/: $(type_of /)"
[ "$(type_of /style.css)" = "200 text/css; charset=utf-8" ] || fail "style.css: $(type_of /style.css)"
[ "$(type_of /app.js)" = "200 text/javascript; charset=utf-8" ] || fail "app.js: $(type_of /app.js)"
curl -s -D "$work/head" "$url/app.js" | cmp -s - "$work/app.js" || fail "app.js is not served whole"
grep -qi '^x-content-type-options: nosniff' "$work/head" || fail "no nosniff"

time_text=$(curl -s "$url/time")
[[ $time_text =~ ^[0-9]{4}/[0-9]{2}/[0-9]{2}\ ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\ UTC$ ]] || fail "/time: $time_text"
[ "$(type_of /time)" = "200 text/plain; charset=utf-8" ] || fail "/time type"
[ "$(curl -s -I "$url/time" | tr -d '\r' | grep -ci '^content-length: 24$')" = 1 ] || fail "HEAD /time"
[ "$(curl -s -X POST "$url/time?x")" = "no such form" ] || fail "a path with more is not /time"

esc=$(printf '\033]2;owned\a\033[2J')
curl -s --data-urlencode "text=$esc" "$url/message" | grep -q 'Thank you' || fail "no thanks for the message"
[ "$(curl -s -o /dev/null -w '%{http_code}' -X POST "$url/stop?key=wrong")" = 404 ] || fail "a wrong key"
[ "$(curl -s -o /dev/null -w '%{http_code}' -X POST "$url/stop?key=k3y")" = 200 ] || fail "the key"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
wait "$pid"; status=$?; pid=
[ "$status" = 0 ] || fail "exit status $status"
printf '[000001]Starting HTML Server\nmessages received: 000001\nserver stopped after 000001 messages\n' |
  cmp -s - "$work/run.out" || { cat -v "$work/run.out"; fail "terminal output"; }
echo "web example: all checks passed"
