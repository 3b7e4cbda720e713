#!/usr/bin/env bash
# Runs every benchmark of bench/ one after the other and prints one table
# of the figures they report: ratios against the peer (GnuCOBOL, nginx)
# where there is a peer, rates where there is none.  Each script's whole
# output is kept in LOGS (default: a new folder under /tmp).
#
#   bench/all.sh [BUILD_DIR]        (default: build)
#
# The scripts' own environment variables (sizes, RUNS, ANCHORS) pass
# through; a script that cannot run (a missing peer tool) is listed as such.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd) || exit 1
. "$ROOT/bench/anchors.sh"
export ANCHORS
LOGS=${LOGS:-$(mktemp -d /tmp/qw_bench.XXXXXX)}

# script, then how it is told the build folder
BENCHMARKS=(
  "arith_edit.sh       env:BUILD"
  "build_loop.sh       arg"
  "files_sort.sh       arg"
  "lsp.sh              arg"
  "services.sh         arg"
  "translate.sh        arg"
  "translate_rewrites.sh env:REWRITER=bin/rewriter"
  "www.sh              arg"
)
# the lines of a script's output that carry its figures
FIGURES='\bratio\b|faster|speed-up|lines/s|lines per second|ns/call'

run_one() {  # script how -> runs it, output in $LOGS/script.log
  local script=$1 how=$2
  case $how in
    arg) "$ROOT/bench/$script" "$BUILD" ;;
    env:BUILD) BUILD=$BUILD "$ROOT/bench/$script" ;;
    env:REWRITER=*) REWRITER=$BUILD/${how#env:REWRITER=} "$ROOT/bench/$script" ;;
  esac > "$LOGS/$script.log" 2>&1 < /dev/null
}

table=()
for entry in "${BENCHMARKS[@]}"; do
  read -r script how <<< "$entry"
  echo "running $script ..." >&2
  if run_one "$script" "$how"; then
    while IFS= read -r line; do
      table+=("$(printf '%-22s %s' "${script%.sh}" "$(echo "$line" | sed 's/^ *//')")")
    done < <(grep -E "$FIGURES" "$LOGS/$script.log")
  else
    table+=("$(printf '%-22s not run: %s' "${script%.sh}" "$(tail -1 "$LOGS/$script.log")")")
  fi
done

echo
printf '%-22s %s\n' benchmark figure
printf '%-22s %s\n' --------- ------
printf '%s\n' "${table[@]}"
echo
echo "logs: $LOGS"
