# Sourced by the benchmark scripts once ROOT (the repository root) is set.
#
# ANCHORS names the folder holding the peer's benchmark sources (its .cob
# programs and gen_compile.py); by default shared/anchors/src next to the
# repository, that is ../shared/anchors/src from its root.
ANCHORS=${ANCHORS:-$ROOT/../shared/anchors/src}
[ -d "$ANCHORS" ] || { echo "$(basename "$0"): no peer sources at $ANCHORS (set ANCHORS)" >&2; exit 1; }
ANCHORS=$(cd "$ANCHORS" && pwd)
