#!/usr/bin/env bash
# The showcase: translate every example program and show what came out.
set -euo pipefail
BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$ROOT/$BUILD/showcase
mkdir -p "$OUT"
for src in "$ROOT"/examples/*.QWR; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .QWR)
  cp "$src" "$OUT/"
  echo "== $name.QWR -> $name.ASM"
  (cd "$OUT" && "$ROOT/$BUILD/bin/rewriter" "$name") || echo "(rewriter exit status $?)"
  [ -f "$OUT/$name.ASM" ] && sed -n '1,40p' "$OUT/$name.ASM"
done
