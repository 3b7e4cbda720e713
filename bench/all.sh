#!/usr/bin/env bash
# Runs every benchmark of bench/ one after the other and prints one table:
# each measure with its figure (a ratio side by side with the peer -
# GnuCOBOL or nginx - or against our own program), its goal and whether the
# goal is met; then the figures without a goal (rates, ns per call).  Every
# script takes the minimum (or for requests per second the best) of several
# rounds in which the peer and ours alternate, so that a busy machine slows
# both sides alike.  Each script's whole output is kept in LOGS.
#
#   bench/all.sh [BUILD_DIR]        (default: build)
#
# Environment: LOGS (default: a new folder under /tmp; made when missing);
# the scripts' own variables (sizes, RUNS, ANCHORS) pass through.  With
# TABLE_ONLY=1 nothing runs: the table is made from the logs already in LOGS.  The peer
# tools come from Debian packages: run as root, the script installs the
# missing ones; otherwise it prints the one command that does.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd) || exit 1
. "$ROOT/bench/anchors.sh"
export ANCHORS
LOGS=${LOGS:-$(mktemp -d /tmp/qw_bench.XXXXXX)}
mkdir -p "$LOGS" || exit 1
LOGS=$(cd "$LOGS" && pwd)

# --- the tools the scripts need ------------------------------------------------
# command, then the Debian package that has it
TOOLS=(
  "cobc gnucobol3" "hyperfine hyperfine" "wrk wrk" "nginx nginx-light" "jq jq"
  "curl curl" "nasm nasm" "python3 python3" "g++ g++" "bc bc"
)
missing=()
[ -n "${TABLE_ONLY:-}" ] && TOOLS=()
for entry in "${TOOLS[@]}"; do
  read -r tool package <<< "$entry"
  PATH=$PATH:/usr/sbin command -v "$tool" > /dev/null || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  install=(apt-get install -y --no-install-recommends "${missing[@]}")
  if [ "$(id -u)" = 0 ]; then
    echo "installing ${missing[*]} ..." >&2
    DEBIAN_FRONTEND=noninteractive "${install[@]}" > "$LOGS/install.log" 2>&1 ||
      { echo "all.sh: could not install them (see $LOGS/install.log)" >&2; exit 2; }
  else
    echo "all.sh: missing ${missing[*]}; install them with:" >&2
    echo "  sudo ${install[*]}" >&2
    exit 2
  fi
fi
export PATH=$PATH:/usr/sbin   # nginx

# --- running the scripts ---------------------------------------------------------
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

run_one() {  # script how -> runs it, output in $LOGS/script.log
  local script=$1 how=$2
  case $how in
    arg) "$ROOT/bench/$script" "$BUILD" ;;
    env:BUILD) BUILD=$BUILD "$ROOT/bench/$script" ;;
    env:REWRITER=*) REWRITER=$BUILD/${how#env:REWRITER=} "$ROOT/bench/$script" ;;
  esac > "$LOGS/$script.log" 2>&1 < /dev/null
}

failed=()
for entry in "${BENCHMARKS[@]}"; do
  [ -n "${TABLE_ONLY:-}" ] && break
  read -r script how <<< "$entry"
  echo "running $script ..." >&2
  run_one "$script" "$how"
  rc=$?
  # A script stopped by Ctrl-C ends the whole run (the script has cleaned up).
  [ $rc -eq 130 ] && { echo "all.sh: interrupted; logs: $LOGS" >&2; exit 130; }
  [ $rc -ne 0 ] && failed+=("$script")
done

# --- the table -------------------------------------------------------------------
# measure | script | the line holding the figure | the figure on it (one
# group of an extended regular expression) | how it must compare | goal.
# Ratios above 1 mean ours is faster, except where the goal is "<=" (our
# time over the peer's, or with over without the line table).
GOALS=(
  "line file write, 1M lines (ls-write)|files_sort|^ *ls-write |ratio +([0-9.]+)|>=|2"
  "line file read (ls-read)|files_sort|^ *ls-read |ratio +([0-9.]+)|>=|2"
  "fixed table find (table-search)|files_sort|^ *table-search |ratio +([0-9.]+)|>=|2"
  "xtable find (xtable-search)|files_sort|^ *xtable-search |ratio +([0-9.]+)|>=|2"
  "build, quill build / cobc -x|build_loop|ratio quill / cobc|cobc +([0-9.]+)|<=|0.35"
  "build, quill build -g / cobc -x|build_loop|ratio quill -g / cobc|cobc +([0-9.]+)|<=|0.35"
  "business loop, with / without line table|build_loop|ratio with / without the table|table +([0-9.]+)|<=|1.02"
  "arithmetic loop vs COMP-5|arith_edit|^ *comp5 |ours is +([0-9.]+)x|>=|3"
  "HTTP, static 1 KiB file, -c1|www|static 1 KiB file, -t1 -c1 | ([0-9.]+)$|>=|1.2"
  "HTTP, static 1 KiB file, -c50|www|static 1 KiB file, -t2 -c50 | ([0-9.]+)$|>=|1.2"
  "HTTP, routine's 1 KiB text, -c1|www|routine's 1 KiB text, -t1 -c1 | ([0-9.]+)$|>=|1.2"
  "HTTP, routine's 1 KiB text, -c50|www|routine's 1 KiB text, -t2 -c50 | ([0-9.]+)$|>=|1.2"
  "HTTP, 2 processes vs 2 workers, file, -c50|www|^2 x static 1 KiB file, -c50 | ([0-9.]+)$|>=|1.2"
  "HTTP, 2 processes vs 2 workers, text, -c50|www|^2 x routine's 1 KiB text, -c50 | ([0-9.]+)$|>=|1.2"
)
# Lines of the logs that carry figures without a goal.
OTHERS='speed-up|per edit|ns/call|lines/s|lines per second|whole programs|^ *(files|sort (table|xtable)) +cobol'

figure() {  # script line-regex value-regex -> the figure, or nothing
  local log="$LOGS/$1.sh.log"
  [ -f "$log" ] || return
  grep -E -- "$2" "$log" | head -1 | sed -nE "s/.*$3.*/\1/p"
}

met=0 total=0
printf '%-42s %8s  %-8s %s\n' measure figure goal met
printf '%-42s %8s  %-8s %s\n' ------- ------ ---- ---
for row in "${GOALS[@]}"; do
  IFS='|' read -r label script line value op goal <<< "$row"
  v=$(figure "$script" "$line" "$value")
  total=$((total + 1))
  if [ -z "$v" ]; then
    printf '%-42s %8s  %-8s %s\n' "$label" "-" "$op $goal" "not measured"
    continue
  fi
  if awk -v v="$v" -v g="$goal" -v op="$op" 'BEGIN { exit !(op == ">=" ? v >= g : v <= g) }'; then
    ok=yes; met=$((met + 1))
  else
    ok=no
  fi
  printf '%-42s %8s  %-8s %s\n' "$label" "$v" "$op $goal" "$ok"
done
echo "$met of $total goals met"
echo
echo "other figures:"
for entry in "${BENCHMARKS[@]}"; do
  read -r script how <<< "$entry"
  grep -E "$OTHERS" "$LOGS/$script.log" 2>/dev/null | grep -v '^whole programs' |
    sed "s/^ */  ${script%.sh}: /"
done
for script in "${failed[@]}"; do
  echo "  ${script%.sh}: not run: $(tail -1 "$LOGS/$script.log")"
done
echo
echo "logs: $LOGS"
