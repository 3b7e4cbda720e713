#!/bin/bash
# The translator's regression net: run_net.sh REWRITER SOURCE_DIR [--update]
#
# Every program of the corpus (the examples, the end-to-end programs and
# cases of tests/language, the ledger's logic) is translated three ways in
# a fresh folder: plain (`rewriter NAME`), debug (`rewriter -d NAME`) and
# positions mode (`rewriter -l NAME`, as quill translates).  Each NAME.ASM
# is compared whole with its pinned copy GROUP/NAME.MODE.ASM beside this
# script, and the exit statuses and standard output of the three runs with
# GROUP/NAME.runs.  So a change of any output shows in the diff of the
# commit that makes it.
#
# --update (or QW_NET_UPDATE=1) writes the pinned files anew from this run.
set -u
rewriter=$(realpath "$1")
src=$(realpath "$2")
[ -x "$rewriter" ] || { echo "no rewriter at $1"; exit 1; }
update=${QW_NET_UPDATE:-0}
[ "${3:-}" = "--update" ] && update=1
net=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# GROUP:FOLDER pairs of the corpus.
corpus=(
  examples:examples
  cases:tests/language/cases
  programs:tests/language/programs
  pty:tests/language/pty
  ledger:ledger
)

fail=0
checked=0
compare() {  # pinned-file produced-file
  if [ "$update" = 1 ]; then
    cp "$2" "$1"
  elif [ ! -f "$1" ]; then
    echo "no pinned file ${1#"$net"/} (run with --update to pin it)"
    fail=1
  elif ! cmp -s "$1" "$2"; then
    echo "${1#"$net"/} differs:"
    diff "$1" "$2" | head -30
    fail=1
  fi
}

for entry in "${corpus[@]}"; do
  group=${entry%%:*}
  folder=$src/${entry#*:}
  mkdir -p "$net/$group"
  for qwr in "$folder"/*.QWR; do
    [ -f "$qwr" ] || continue
    name=$(basename "$qwr" .QWR)
    runs=$work/$name.runs
    : > "$runs"
    for mode in plain d l; do
      rm -rf "$work/run" && mkdir "$work/run"
      cp "$qwr" "$work/run/"
      option=()
      [ "$mode" != plain ] && option=("-$mode")
      (cd "$work/run" && "$rewriter" "${option[@]}" "$name" > "$work/stdout")
      status=$?
      { echo "== $mode: status $status"; cat "$work/stdout"; } >> "$runs"
      if [ -f "$work/run/$name.ASM" ]; then
        compare "$net/$group/$name.$mode.ASM" "$work/run/$name.ASM"
      elif [ -f "$net/$group/$name.$mode.ASM" ]; then
        if [ "$update" = 1 ]; then rm -f "$net/$group/$name.$mode.ASM"; else
          echo "$group/$name: no $name.ASM in mode $mode"; fail=1; fi
      fi
    done
    compare "$net/$group/$name.runs" "$runs"
    checked=$((checked + 1))
  done
done

echo "$checked programs checked in three modes"
[ "$update" = 1 ] && echo "pinned files written"
exit $fail
