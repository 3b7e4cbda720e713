#!/usr/bin/env bash
# Arithmetic and editing, side by side with the GnuCOBOL peer, in one
# hyperfine invocation per benchmark so both sides see the same machine.
#
#   bench/arith_edit.sh [ARITH_N] [EDIT_N]
#
# Environment: BUILD (a configured build directory, default build/),
# ANCHORS (the peer's benchmark sources, see bench/anchors.sh),
# RUNS (rounds of arith, default 12; the decimal peers run in the first
# SLOW_RUNS, default 3), EDIT_RUNS (rounds of edit, default 10).
#
# Our side is bench/arith_edit/*.asm, linked exactly as translated programs
# are: `ld -o prog prog.o libquillwright.a`.  Each round is one hyperfine
# invocation that runs every program once, so both sides meet the same load
# on a shared machine; the ratios are of minimum wall times over the rounds
# (the steadier figure on a noisy machine).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
. "$ROOT/bench/anchors.sh"
ARITH_N=${1:-10000000}
EDIT_N=${2:-1000000}
RUNS=${RUNS:-12}
SLOW_RUNS=${SLOW_RUNS:-3}
EDIT_RUNS=${EDIT_RUNS:-10}

for tool in nasm ld cobc hyperfine python3; do
    command -v $tool >/dev/null || { echo "arith_edit: $tool not found" >&2; exit 1; }
done
case "$ARITH_N$EDIT_N" in *[!0-9]*) echo "arith_edit: sizes must be whole numbers" >&2; exit 2;; esac

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export TMPDIR=$WORK

if [ ! -f "$BUILD/build.ninja" ] && [ ! -f "$BUILD/Makefile" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" --target quillwright >"$WORK/build.log" 2>&1 || { cat "$WORK/build.log" >&2; exit 1; }
LIB=$BUILD/lib/libquillwright.a

for p in arith edit; do
    nasm -f elf64 -I"$ROOT/bench/arith_edit/" -o "$WORK/$p.o" "$ROOT/bench/arith_edit/$p.asm"
    ld -o "$WORK/qw_$p" "$WORK/$p.o" "$LIB"
done
for p in arith_comp5 arith_comp3 arith_display edit; do
    cobc -x -O2 -o "$WORK/cob_$p" "$ANCHORS/$p.cob"
done

# Results first: a fast wrong program is no benchmark.
want_total=$(python3 -c "n=$ARITH_N; t=11*n*(n+1)//2; print(f'{t//10}.{t%10}000')")
fail=0
for p in qw_arith cob_arith_comp5 cob_arith_comp3 cob_arith_display; do
    out=$("$WORK/$p" "$ARITH_N")
    if [[ "$out" != *"TOTAL=$want_total QTY=$ARITH_N"* ]]; then
        echo "arith_edit: $p printed '$out', expected TOTAL=$want_total QTY=$ARITH_N" >&2; fail=1
    fi
done
ours=$("$WORK/qw_edit" "$EDIT_N"); peer=$("$WORK/cob_edit" "$EDIT_N")
if [ "${ours#*]}" != "${peer#*]}" ]; then
    echo "arith_edit: edit results differ: ours '$ours', peer '$peer'" >&2; fail=1
fi
[ $fail = 0 ] || exit 1
echo "results agree: TOTAL=$want_total QTY=$ARITH_N; edit${ours#*]}"

# The slow decimal peers (about 5 s a run) take part in the first rounds
# only; ours and COMP-5 (well under 1 s) run side by side in every round,
# so that a short run meets as many quiet moments as a long one.
for round in $(seq 1 "$RUNS"); do
    slow=()
    [ "$round" -le "$SLOW_RUNS" ] && slow=(-n comp3 "$WORK/cob_arith_comp3 $ARITH_N"
                                          -n display "$WORK/cob_arith_display $ARITH_N")
    hyperfine -N --runs 1 --export-json "$WORK/arith.$round.json" \
        -n ours "$WORK/qw_arith $ARITH_N" \
        -n comp5 "$WORK/cob_arith_comp5 $ARITH_N" "${slow[@]}" >/dev/null 2>&1
done
for round in $(seq 1 "$EDIT_RUNS"); do
    hyperfine -N --runs 1 --export-json "$WORK/edit.$round.json" \
        -n ours-edit "$WORK/qw_edit $EDIT_N" \
        -n ours-base "$WORK/qw_edit $EDIT_N base" \
        -n peer-edit "$WORK/cob_edit $EDIT_N" \
        -n peer-base "$WORK/cob_edit $EDIT_N base" >/dev/null 2>&1
done

python3 - "$WORK" "$ARITH_N" "$EDIT_N" <<'PY'
import glob, json, statistics, sys
def load(pattern):
    times = {}
    for path in sorted(glob.glob(pattern)):
        for r in json.load(open(path))["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
    return times
arith = load(sys.argv[1] + "/arith.*.json")
edit = load(sys.argv[1] + "/edit.*.json")
an, en = int(sys.argv[2]), int(sys.argv[3])
print(f"\narith, N = {an:,}, {len(arith['ours'])} rounds, the decimal peers {len(arith['comp3'])} (seconds, min / median)")
ours = min(arith["ours"])
for name, t in arith.items():
    line = f"  {name:8} {min(t):7.3f} / {statistics.median(t):7.3f}   {min(t) / an * 1e9:6.1f} ns/iter"
    if name != "ours":
        line += f"   ours is {min(t) / ours:5.2f}x faster"
    print(line)
print(f"\nedit, N = {en:,}, {len(edit['ours-edit'])} rounds (seconds, min / median)")
for name, t in edit.items():
    print(f"  {name:10} {min(t):7.3f} / {statistics.median(t):7.3f}")
ours_edit = (min(edit["ours-edit"]) - min(edit["ours-base"])) / en * 1e9
peer_edit = (min(edit["peer-edit"]) - min(edit["peer-base"])) / en * 1e9
print(f"  per edit: ours {ours_edit:.1f} ns, peer {peer_edit:.1f} ns"
      + (f", ours is {peer_edit / ours_edit:.2f}x faster" if ours_edit > 0 and peer_edit > 0
         else " (differences within the noise: use a larger N or more rounds)"))
PY
