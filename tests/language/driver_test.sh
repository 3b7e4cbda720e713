#!/usr/bin/env bash
# The build driver's command line, exit statuses and messages.
set -u
quill=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0
expect() {  # expect STATUS DESCRIPTION -- command...
  local want=$1 what=$2; shift 3
  "$@" > out.txt 2> err.txt
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $what: status $got, expected $want"; cat out.txt err.txt; fail=1
  fi
}
has() {  # has FILE TEXT
  grep -qF -- "$2" "$1" || { echo "FAIL: $1 lacks '$2'"; cat "$1"; fail=1; }
}

expect 0 "help" -- "$quill" --help
has out.txt "Usage: quill build"
expect 64 "no command" -- "$quill"
expect 64 "unknown command" -- "$quill" frobnicate x
has err.txt "unknown command 'frobnicate'"
expect 64 "unknown option" -- "$quill" build -z x
expect 64 "build takes one name" -- "$quill" build a b
expect 66 "missing source" -- "$quill" build nothere
has err.txt "nothere.QWR: no such source file"
: > empty.QWR
expect 66 "empty source" -- "$quill" build empty
has err.txt "empty.QWR is empty"

# a program in a subdirectory, named with its extension; run passes the
# arguments and hands back the program's status
mkdir -p sub
cat > sub/args.QWR <<'QWR'
%include "include/BEGIN.DICTIONARY"
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  @DISPLAY '[', {w_CommandLine,1,9}, ']', LF
  @TERMINATE 7
%include "include/END.PROGRAM"
QWR
expect 7 "run status" -- "$quill" run sub/args.QWR one two
has out.txt "[one two  ]"
for f in sub/args.ASM sub/args.o sub/args; do
  [ -e "$f" ] || { echo "FAIL: $f was not kept"; fail=1; }
done

# an undeclared name: the assembler's message against the source line
cat > undeclared.QWR <<'QWR'
%include "include/BEGIN.DICTIONARY"
  @INSERTNUMBER n_A, 1, '9'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  @DISPLAY n_A, LF
  @DISPLAY n_Missing, LF
%include "include/END.PROGRAM"
QWR
expect 70 "undeclared name" -- "$quill" build undeclared
has err.txt "undeclared.QWR:6:"
has err.txt "n_Missing"

# blocks left open, and an initial text too long for its word
cat > open.QWR <<'QWR'
%include "include/BEGIN.DICTIONARY"
  @INSERTWORD w_A, 3, 'abcdef'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  @ELSE
%include "include/END.PROGRAM"
QWR
expect 70 "package checks" -- "$quill" assemble open
: # assemble needs the ASM: make it from the source as it stands
cp open.QWR open.ASM
expect 70 "package checks" -- "$quill" assemble open
has err.txt "initial text of w_A is longer than the word"
has err.txt "@ELSE without @IF"

# a missing translator is reported as a missing tool
QW_REWRITER=/nonexistent/rewriter expect 69 "missing translator" -- "$quill" build sub/args
exit $fail
