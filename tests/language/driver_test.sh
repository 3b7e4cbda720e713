#!/usr/bin/env bash
# The build driver's command line, exit statuses and messages.
set -u
quill=$1
. "$(dirname "$0")/scratch.sh"
expect() {  # expect STATUS DESCRIPTION -- command...
  local want=$1 what=$2; shift 3
  timeout 60 "$@" > out.txt 2> err.txt
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $what: status $got, expected $want"; cat out.txt err.txt; fail=1
  fi
}
has() {  # has FILE LINE: FILE holds LINE as a whole line
  grep -qxF -- "$2" "$1" || { echo "FAIL: $1 lacks the line '$2'"; cat "$1"; fail=1; }
}

expect 0 "help" -- "$quill" --help
has out.txt "Usage: quill build [-d] [-g] [-v] NAME"
expect 64 "no command" -- "$quill"
has err.txt "Usage: quill build [-d] [-g] [-v] NAME"
expect 64 "unknown command" -- "$quill" frobnicate x
has err.txt "quill: unknown command 'frobnicate'"
expect 64 "unknown option" -- "$quill" build -z x
has err.txt "quill: unknown option '-z'"
expect 64 "build takes one name" -- "$quill" build a b
has err.txt "quill: 'build' takes one program name"
expect 64 "a blank in the name" -- "$quill" build "two words"
has err.txt "quill: a program name cannot contain blanks: 'two words'"

# sources that cannot be translated, told apart before the translator runs;
# a named pipe must not block
expect 66 "missing source" -- "$quill" build nothere
has err.txt "quill: nothere.QWR: no such source file in $work"
: > empty.QWR
expect 66 "empty source" -- "$quill" build empty
has err.txt "quill: empty.QWR is empty"
mkdir folder.QWR
expect 66 "a directory" -- "$quill" build folder
has err.txt "quill: folder.QWR is a directory, not a source file"
mkfifo pipe.QWR
expect 66 "a named pipe" -- "$quill" build pipe
has err.txt "quill: pipe.QWR is not a regular file"
if [ "$(id -u)" != 0 ]; then
  echo x > locked.QWR && chmod 000 locked.QWR
  expect 66 "unreadable" -- "$quill" build locked
  has err.txt "quill: locked.QWR cannot be read: Permission denied"
fi

# a program in a folder whose name needs quoting, named with its extension;
# run passes the arguments and hands back the program's status
dir="sub \"q\" 'x' \$y"
mkdir -p "$dir"
cat > "$dir/args.QWR" <<'QWR'
%include "include/BEGIN.DICTIONARY"
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  @DISPLAY '[', {w_CommandLine,1,9}, ']', LF
  @TERMINATE 7
%include "include/END.PROGRAM"
QWR
expect 7 "run status" -- "$quill" run -v -d -g "$dir/args.QWR" one two
has out.txt "[one two  ]"
has err.txt "debug: args.QWR line 4"
grep -q "rewriter -l -D" err.txt && grep -q "nasm -O1 -f elf64 -g -F dwarf" err.txt ||
  { echo "FAIL: -v shows no positions mode or no debug information"; cat err.txt; fail=1; }
for f in args.ASM args.o args; do
  [ -e "$dir/$f" ] || { echo "FAIL: $f was not kept"; fail=1; }
done

# a failed translation leaves no NAME.ASM behind to be assembled later
printf '%%include "include/BEGIN.INSTRUCTIONS"\n  n_A = [1 + 2\n' > "$dir/args.QWR"
expect 5 "translation fails" -- "$quill" build "$dir/args"
has err.txt "args.QWR:2: error: 06: Square brackets are not balanced on line no=000002"
has err.txt "    n_A = [1 + 2"
has err.txt "quill: translation of args.QWR failed (status 5)"
[ -e "$dir/args.ASM" ] && { echo "FAIL: the old args.ASM is still there"; fail=1; }
expect 70 "assemble without NAME.ASM" -- "$quill" assemble "$dir/args"
has err.txt "quill: args.ASM: no such assembly file in $work/$dir"

# a source without one of a program's parts is told which, never "built"
printf '%%include "include/BEGIN.DICTIONARY"\n%%include "include/BEGIN.INSTRUCTIONS"\n' > "$dir/args.QWR"
expect 65 "a part missing" -- "$quill" build "$dir/args"
has err.txt "quill: args.QWR has no line %include \"include/END.PROGRAM\": every program has one (see the four parts of a program in the language guide)"

# the macro package's own checks, on an ASM written by hand
cat > open.ASM <<'QWR'
%include "include/BEGIN.DICTIONARY"
  @INSERTWORD w_A, 3, 'abcdef'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  @ELSE
%include "include/END.PROGRAM"
QWR
expect 70 "package checks" -- "$quill" assemble open
grep -q "^open.ASM:2: error: .*initial text of w_A is longer than the word" err.txt &&
  grep -q "^open.ASM:5: error: .*@ELSE without @IF" err.txt ||
  { echo "FAIL: package checks not at their lines"; cat err.txt; fail=1; }

# a missing translator is reported as a missing tool
QW_REWRITER=/nonexistent/rewriter expect 69 "missing translator" -- "$quill" build "$dir/args"
has err.txt "quill: cannot find /nonexistent/rewriter"

# a build stopped with SIGTERM while nasm runs ends nasm too and keeps
# nothing half written; quill ends as the signal ends it
{ printf '%%include "include/BEGIN.DICTIONARY"\n  @INSERTNUMBER n_A, 0, %s\n' "'9999.99'"
  printf '%%include "include/BEGIN.MATRIX"\n%%include "include/BEGIN.INSTRUCTIONS"\n'
  for i in $(seq 5000); do echo "  n_A = n_A + 1.5"; done
  printf '%%include "include/END.PROGRAM"\n'; } > big.QWR
"$quill" build big 2> err.txt &
builder=$!
assembler=
for i in $(seq 600); do
  assembler=$(pgrep -P $builder -f -- 'nasm -(E|O1) ') && break
  sleep 0.05
done
kill -TERM $builder
wait $builder
status=$?
if [ -z "$assembler" ] || [ $status != 143 ]; then
  echo "FAIL: stopped build: nasm '$assembler', status $status"; cat err.txt; fail=1
fi
[ -n "$assembler" ] && kill -0 $assembler 2> /dev/null &&
  { echo "FAIL: nasm outlived the stopped build"; kill $assembler; fail=1; }
for f in big.o big $(ls -a | grep '^\.big\.'); do
  [ -e "$f" ] && { echo "FAIL: the stopped build left $f"; fail=1; }
done
exit $fail
