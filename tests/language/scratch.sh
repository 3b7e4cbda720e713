# Sourced by the test scripts: a scratch folder as the current folder,
# removed when the script ends, and `fail` at 0.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0
