#!/usr/bin/env bash
# Runs one stand-alone assembly test program and compares its standard
# output and exit status with the expected ones.
set -u
exe=$1; base=$2
args=()
[ -f "$base.args" ] && read -r -a args < "$base.args"
want_status=0
[ -f "$base.status" ] && want_status=$(cat "$base.status")
out=$(mktemp)
(cd "$(mktemp -d)" && "$exe" "${args[@]}") < /dev/null > "$out"
status=$?
ok=1
if [ "$status" != "$want_status" ]; then
  echo "exit status $status, expected $want_status"; ok=0
fi
if [ -f "$base.expected" ] && ! cmp -s "$out" "$base.expected"; then
  echo "standard output differs:"; diff <(od -c "$base.expected") <(od -c "$out") | head -40; ok=0
fi
rm -f "$out"
[ $ok = 1 ]
