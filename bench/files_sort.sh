#!/usr/bin/env bash
# Files and table sorting next to GnuCOBOL, measured side by side in one run.
#
#   bench/files_sort.sh [BUILD_DIR]      (default BUILD_DIR: build)
#
# Our side: C++ drivers (bench/files_sort/*.cpp) linked with the runtime
# archive, calling the register entries _FILEIO, _LINEFIELDS,
# _TABLES and _XTABLES the way compiled statements do.  GnuCOBOL's side:
# the anchor programs files.cob and sort.cob, compiled with cobc -x -O2.
#
#   files: LS_N line records (59 bytes) written and read back, then REL_N
#          random-access records written by number and read back shuffled
#   sort:  SORT_N 59-byte entries, a 10-byte key (5 letters, 5 digits),
#          filled, sorted, then SORT_N binary searches (all hits); ours runs
#          once with a fixed table and once with an xtable
#
# Whole programs are timed with hyperfine in RUNS rounds, each running
# both sides once; each program also prints its phase times, of which the
# minimum over RUNS alternating runs is compared phase by phase.  Ratios are GnuCOBOL's time
# divided by ours: above 1 means we are faster.
#
# Sizes: LS_N (1000000), REL_N (200000), SORT_N (1000000); RUNS (5).
# PARTS (default "files sort") names the programs to run: PARTS=sort runs
# only the table and xtable rows.
# Scratch files go to BENCH_OUT (default: a new directory under /tmp).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
BUILD=${1:-$ROOT/build}
LIB=$BUILD/lib/libquillwright.a
. "$ROOT/bench/anchors.sh"   # ANCHORS: the peer's sources
LS_N=${LS_N:-1000000}
REL_N=${REL_N:-200000}
SORT_N=${SORT_N:-1000000}
RUNS=${RUNS:-5}
PARTS=${PARTS:-files sort}
part() { [[ " $PARTS " == *" $1 "* ]]; }
OUT=${BENCH_OUT:-$(mktemp -d /tmp/qw_files_sort.XXXXXX)}

for tool in cobc hyperfine g++ python3; do
  command -v "$tool" >/dev/null || { echo "files_sort: $tool not found" >&2; exit 1; }
done
[ -f "$LIB" ] || { echo "files_sort: $LIB not built" >&2; exit 1; }

# Each side writes its files in a folder of its own: a side that opened the
# other's file of the round before would pay for emptying it, and the
# peer's file (written in small pieces) costs more to empty than ours.
mkdir -p "$OUT/work/cobol" "$OUT/work/ours"
echo "== building in $OUT"
cobc -x -O2 -o "$OUT/files_cob" "$ANCHORS/files.cob"
cobc -x -O2 -o "$OUT/sort_cob" "$ANCHORS/sort.cob"
g++ -O2 -no-pie -fno-pie -o "$OUT/files_ours" "$HERE/files_sort/files_bench.cpp" "$LIB"
g++ -O2 -no-pie -fno-pie -o "$OUT/sort_ours" "$HERE/files_sort/sort_bench.cpp" "$LIB"

cd "$OUT/work"

# Both sides must compute the same results before any time counts.
want_ls="RECS=$LS_N QTYSUM=$(( LS_N * (LS_N + 1) / 2 ))"
want_rel="RECS=$REL_N QTYSUM=$(( REL_N * (REL_N + 1) / 2 )) ERRORS=0"
check() {  # name, output, expected text...
  local name=$1 out=$2; shift 2
  for w in "$@"; do
    grep -q -- "$w" <<<"$out" || { echo "files_sort: $name printed no \"$w\":"; echo "$out"; exit 1; }
  done
}
if part files; then
  check "files (GnuCOBOL)" "$(cd cobol && "$OUT/files_cob" "$LS_N" "$REL_N")" "$want_ls" "$want_rel"
  check "files (ours)" "$(cd ours && "$OUT/files_ours" "$LS_N" "$REL_N")" "$want_ls" "$want_rel"
fi
if part sort; then
  cob_sort=$("$OUT/sort_cob" "$SORT_N" | grep -v PHASE)
  for kind in table xtable; do
    ours=$("$OUT/sort_ours" "$kind" "$SORT_N" | grep -v PHASE)
    [ "$ours" = "$cob_sort" ] || { echo "files_sort: sort ($kind) differs:"; echo "$ours"; echo "$cob_sort"; exit 1; }
  done
fi
rm -f {cobol,ours}/bench_ls.dat {cobol,ours}/bench_rel.dat

echo "== whole programs (hyperfine, $RUNS rounds)"
for ((i = 1; i <= RUNS; i++)); do
  part files && hyperfine --shell sh --runs 1 --export-json "$OUT/files.$i.json" \
    -n files-cobol "cd cobol && $OUT/files_cob $LS_N $REL_N > /dev/null" \
    -n files-ours "cd ours && $OUT/files_ours $LS_N $REL_N > /dev/null" > "$OUT/files.hf"
  part sort && hyperfine --shell sh --runs 1 --export-json "$OUT/sort.$i.json" \
    -n sort-cobol "$OUT/sort_cob $SORT_N > /dev/null" \
    -n sort-ours-table "$OUT/sort_ours table $SORT_N > /dev/null" \
    -n sort-ours-xtable "$OUT/sort_ours xtable $SORT_N > /dev/null" > "$OUT/sort.hf"
done

echo "== phases ($RUNS alternating runs each, minimum)"
: > "$OUT/phases.txt"
for ((i = 0; i < RUNS; i++)); do
  if part files; then
    (cd cobol && "$OUT/files_cob" "$LS_N" "$REL_N") | sed -n 's/^PHASE /cobol /p' >> "$OUT/phases.txt"
    (cd ours && "$OUT/files_ours" "$LS_N" "$REL_N") | sed -n 's/^PHASE /ours /p' >> "$OUT/phases.txt"
  fi
  if part sort; then
    "$OUT/sort_cob" "$SORT_N" | sed -n 's/^PHASE /cobol /p' >> "$OUT/phases.txt"
    "$OUT/sort_ours" table "$SORT_N" | sed -n 's/^PHASE \(.*\)/ours table-\1/p' >> "$OUT/phases.txt"
    "$OUT/sort_ours" xtable "$SORT_N" | sed -n 's/^PHASE \(.*\)/ours xtable-\1/p' >> "$OUT/phases.txt"
  fi
done
rm -f {cobol,ours}/bench_ls.dat {cobol,ours}/bench_rel.dat

python3 - "$OUT" "$PARTS" <<'EOF'
import collections, glob, json, sys
out, parts = sys.argv[1], sys.argv[2].split()
def mins(name):
    best = {}
    for path in glob.glob(f"{out}/{name}.*.json"):
        with open(path) as f:
            for r in json.load(f)["results"]:
                best[r["command"]] = min(best.get(r["command"], float("inf")), min(r["times"]))
    return best
print()
print("whole programs, minimum seconds (ratio = GnuCOBOL / ours):")
files, sort = mins("files"), mins("sort")
if "files" in parts:
    print(f"  files        cobol {files['files-cobol']:7.3f}  ours {files['files-ours']:7.3f}"
          f"  ratio {files['files-cobol'] / files['files-ours']:5.2f}")
for kind in ("table", "xtable") if "sort" in parts else ():
    o = sort[f"sort-ours-{kind}"]
    print(f"  sort {kind:7} cobol {sort['sort-cobol']:7.3f}  ours {o:7.3f}"
          f"  ratio {sort['sort-cobol'] / o:5.2f}")
best = collections.defaultdict(lambda: float("inf"))
for line in open(f"{out}/phases.txt"):
    side, phase, t = line.split()
    best[(side, phase)] = min(best[(side, phase)], float(t))
print()
print("phases, minimum seconds (GnuCOBOL's clock has 0.01 s steps):")
rows = []
if "files" in parts:
    rows += [("ls-write", "ls-write"), ("ls-read", "ls-read"), ("rel-write", "rel-write"),
             ("rel-read", "rel-read")]
for kind in ("table", "xtable") if "sort" in parts else ():
    rows += [(f"{kind}-sort", "sort"), (f"{kind}-search", "search"), (f"{kind}-fill", "fill")]
for ours, cob in rows:
    o, c = best[("ours", ours)], best[("cobol", cob)]
    ratio = c / o if o > 0 else float("inf")
    print(f"  {ours:14} cobol {c:7.3f}  ours {o:7.3f}  ratio {ratio:6.2f}")
EOF
echo
echo "raw data: $OUT"
