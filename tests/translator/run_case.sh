#!/bin/bash
# Runs one translator case: run_case.sh REWRITER CASE_DIR
#
# The case directory holds the source (input.QWR and any package or synonyms
# files it names), expected.stdout, expected.status (0 when missing) and
# expected.ASM (absent when no output file may exist).  `args` holds the
# command line (default: input); `output` names the output file (default:
# input.ASM).  The case is copied into a fresh directory, the translator runs
# there, and stdout and status are compared byte for byte.  expected.ASM
# holds the rewritten region of the output: the writer's fixed frame (a first
# line "%assign debug 0" and the blocks of temporaries and macros that stayed
# empty) is left out on both sides; every other line, the line ends and the
# final line feed are compared byte for byte.  No file other than the output
# may appear in the directory.
set -u
rewriter=$1
case_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for f in "$case_dir"/*; do
  base=$(basename "$f")
  case "$base" in
    expected.stdout|expected.status|expected.ASM|args|output) ;;
    *) cp -r "$f" "$work/" ;;
  esac
done
args=input
[ -f "$case_dir/args" ] && args=$(cat "$case_dir/args")
output=input.ASM
[ -f "$case_dir/output" ] && output=$(cat "$case_dir/output")
expected_status=0
[ -f "$case_dir/expected.status" ] && expected_status=$(cat "$case_dir/expected.status")

# The output without the writer's fixed frame.
rewritten_region() {
  awk '
    { line[NR] = $0 }
    END {
      i = 1
      if (line[1] == "%assign debug 0") i = 2
      for (; i <= NR; ++i) {
        if (line[i] == " " && line[i + 1] ~ /^;\(BEGIN\):Temporary .* by Quillwright$/ &&
            line[i + 2] == ";(END..):" substr(line[i + 1], 10)) { i += 2; continue }
        if (line[i] == " " && line[i + 1] == ";(BEGIN):Macros created by Quillwright" &&
            line[i + 2] == ";(END)..:Macros created by Quillwright" && line[i + 3] == " ") {
          i += 3; continue
        }
        print line[i]
      }
    }' "$1"
  # whether the file ends in a line feed
  [ -s "$1" ] && [ "$(tail -c1 "$1" | od -An -c | tr -d ' ')" = '\n' ] && echo "(line feed)"
}

before=$(cd "$work" && ls -A | sort)
# shellcheck disable=SC2086
(cd "$work" && "$rewriter" $args > "$work/.stdout"; echo $? > "$work/.status")
status=$(cat "$work/.status")
fail=0

if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"
  fail=1
fi
if [ -f "$case_dir/expected.stdout" ]; then
  if ! cmp -s "$work/.stdout" "$case_dir/expected.stdout"; then
    echo "standard output differs:"
    diff "$case_dir/expected.stdout" "$work/.stdout" | head -40
    fail=1
  fi
elif [ -s "$work/.stdout" ]; then
  echo "unexpected standard output:"
  head -20 "$work/.stdout"
  fail=1
fi
if [ -f "$case_dir/expected.ASM" ]; then
  if [ ! -f "$work/$output" ]; then
    echo "no output file $output"
    fail=1
  elif ! cmp -s <(rewritten_region "$work/$output") <(rewritten_region "$case_dir/expected.ASM"); then
    echo "output file differs:"
    diff <(rewritten_region "$case_dir/expected.ASM") <(rewritten_region "$work/$output") | cat -A | head -60
    fail=1
  fi
fi
rm -f "$work/.stdout" "$work/.status"
after=$(cd "$work" && ls -A | sort)
expected_after=$before
if [ -f "$case_dir/expected.ASM" ]; then
  expected_after=$(printf '%s\n%s\n' "$before" "$output" | sed '/^$/d' | sort -u)
fi
if [ "$after" != "$expected_after" ]; then
  echo "files after the run differ from what was expected:"
  diff <(echo "$expected_after") <(echo "$after")
  fail=1
fi
exit $fail
