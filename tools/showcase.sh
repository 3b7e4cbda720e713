#!/usr/bin/env bash
# The showcase: build every example program with quill and run the ones
# that need no terminal or network, printing what each prints.  Programs
# that read the keyboard or serve the network are only built.  A piece of
# the toolchain that is missing is reported, and the showcase goes on.
set -u
BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
QUILL=$BUILD/bin/quill
OUT=$BUILD/showcase
mkdir -p "$OUT"

if [ ! -x "$QUILL" ]; then
  echo "showcase: $QUILL is missing; run make first"
  exit 0
fi
if [ ! -x "$BUILD/bin/rewriter" ]; then
  echo "showcase: the translator $BUILD/bin/rewriter is not built; nothing can be run"
  exit 0
fi

built=0 ran=0 failed=()
for src in "$ROOT"/examples/*.QWR; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .QWR)
  cp "$src" "$OUT/"
  echo "== $name.QWR"
  if ! (cd "$OUT" && "$QUILL" build "$name"); then
    echo "   (could not be built)"
    failed+=("$name")
    continue
  fi
  built=$((built + 1))
  if grep -qiE '@ACCEPT|@WWW|@SERVE|@BOX|@CLEAR_SCREEN' "$src"; then
    echo "   (interactive: built as $OUT/$name; run it yourself)"
    continue
  fi
  (cd "$OUT" && timeout 20 "./$name" < /dev/null)
  status=$?
  [ $status -ne 0 ] && echo "   (exit status $status)"
  ran=$((ran + 1))
done
echo
echo "showcase: $built built, $ran run${failed:+, could not build: ${failed[*]}}"
exit 0
