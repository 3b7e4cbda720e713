#!/usr/bin/env bash
# Runs one end-to-end case of the language: NAME.QWR is built with quill in
# a fresh directory and run; its standard output and exit status are
# compared with the expected ones.
#   NAME.expected      expected standard output (required unless the build
#                      is expected to fail)
#   NAME.status        expected exit status of the program (default 0)
#   NAME.args          arguments of the program
#   NAME.flags         options for `quill build` (for example -d)
#   NAME.build_status  expected status of `quill build` (default 0; when not
#                      0 the program is not run)
#   NAME.stderr        lines that must each appear in the standard error of
#                      the build and the run (without it, a build that
#                      succeeds prints nothing)
#   A third argument names another base for these files (the examples keep
#   their expected output here, next to the cases).
set -u
quill=$1; base=$2; exp=${3:-$2}
name=$(basename "$base")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$base.QWR" "$work/"
flags=(); args=()
[ -f "$exp.flags" ] && read -r -a flags < "$exp.flags"
[ -f "$exp.args" ] && read -r -a args < "$exp.args"
want_build=0; [ -f "$exp.build_status" ] && want_build=$(cat "$exp.build_status")
want_status=0; [ -f "$exp.status" ] && want_status=$(cat "$exp.status")
ok=1
(cd "$work" && "$quill" build "${flags[@]}" "$name") > "$work/build.out" 2> "$work/build.err"
status=$?
if [ "$status" != "$want_build" ]; then
  echo "quill build: status $status, expected $want_build"
  cat "$work/build.out" "$work/build.err"
  exit 1
fi
if [ "$status" = 0 ] && [ ! -f "$exp.stderr" ] && [ -s "$work/build.err" ]; then
  echo "a clean build printed:"; head -5 "$work/build.err"; ok=0
fi
if [ "$status" = 0 ]; then
  input=/dev/null; [ -f "$exp.stdin" ] && input=$exp.stdin
  envs=(); [ -f "$exp.env" ] && read -r -a envs < "$exp.env"
  (cd "$work" && env "${envs[@]}" ./"$name" "${args[@]}") > "$work/run.out" 2> "$work/run.err" < "$input"
  status=$?
  if [ "$status" != "$want_status" ]; then
    echo "program: exit status $status, expected $want_status"; ok=0
  fi
  if ! cmp -s "$work/run.out" "$exp.expected"; then
    echo "standard output differs (expected, actual):"
    diff "$exp.expected" "$work/run.out" | head -40
    ok=0
  fi
fi
if [ -f "$exp.stderr" ]; then
  while IFS= read -r want; do
    [ -z "$want" ] && continue
    if ! cat "$work"/*.err | grep -qF -- "$want"; then
      echo "standard error lacks: $want"; cat "$work"/*.err | head -20; ok=0
    fi
  done < "$exp.stderr"
fi
[ $ok = 1 ]
