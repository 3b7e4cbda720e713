#!/usr/bin/env bash
# The mistakes users meet most, each reported once, at its line of NAME.QWR,
# in plain words: one program per case, built (and run) with quill.
#   messages_test.sh QUILL
set -u
quill=$1
. "$(dirname "$0")/scratch.sh"

# m.QWR with the case's declaration on line 6, its statement on line 9 and
# the statement of a sub the main line calls on line 13.
program() {  # program DECLARATION STATEMENT SUB_STATEMENT
  cat > m.QWR <<EOF
%include "include/BEGIN.DICTIONARY"
  @INSERTNUMBER n_A, 1, '9'
  @INSERTNUMBER n_Total, 9, '999'
  @INSERTNUMBER n_Zero, 0, '9'
  @INSERTARRAY a_X, 5
  $1
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
  $2
  CALL s_Work
%include "include/END.PROGRAM"
@BEGIN_SUB s_Work
  $3
@END_SUB
EOF
}

# Cases: name | declaration | statement | sub's statement | status of the
# build (or "run": built, then ended by the runtime) | the message, which
# must stand at the beginning of a line (";" is an empty line).
cases=$(cat <<'EOF'
undeclared operand|;|n_A = n_Zip + 1|;|70|m.QWR:9: error: symbol `n_Zip' not defined
undeclared destination|;|n_B = n_A + 1|;|70|m.QWR:9: error: n_B is not declared: declare it in the dictionary part before it is given a value
undeclared word part as destination|;|{w_Zz,1,2} = 'x'|;|70|m.QWR:9: error: w_Zz is not declared: declare it in the dictionary part before it is given a value
quotation not closed|;|@DISPLAY 'abc, LF|;|70|m.QWR:9: error: a quotation is not closed (it opens before abc, LF): end it with the same quotation mark
misspelt keyword|;|@DISPLAYY 'x', LF|;|70|m.QWR:9: error: @DISPLAYY is not a statement of the language (a misspelt keyword?)
missing relation|;|@IF n_Total 5 ¦ @END_IF|;|70|m.QWR:9: error: @IF n_Total 5 has no relation between its operands: write @IF n_Total = 5 (or != < > <= >=)
calculation in a condition|;|@IF n_A + 1 = 5 ¦ @END_IF|;|70|m.QWR:9: error: @IF compares two operands, each one name or literal: work a calculation out first (n_X = n_A + 1) and compare n_X
missing length|@INSERTWORD w_Name|@DISPLAY w_Name, LF|;|70|m.QWR:6: error: the word w_Name needs a length: @INSERTWORD w_Name, 20 (an initial text may follow)
operands of a keyword|;|@TABLES_SORT a_X|;|70|m.QWR:9: error: @TABLES_SORT does not take 1 operand
calculation as an index|;|n_A = a_X{n_Total - 1}|;|70|m.QWR:9: error: n_Total - 1 is not one name or number: work it out first (n_X = n_Total - 1) and write n_X
calculation without blanks as an operand|;|@DISPLAY n_Total-1, LF|;|70|m.QWR:9: error: n_Total - 1 is not one name or number: work it out first (n_X = n_Total - 1) and write n_X
arguments a sub has no @USING for|;|CALL s_Work 5|;|70|m.QWR:9: error: wrong number of arguments: s_Work takes no arguments (it has no @USING line) but the call passes 1
calculation among arguments|;|CALL s_Work n_A-1|;|70|m.QWR:9: error: an operator (-) stands among the arguments: each argument is one name or literal: work the calculation out first (n_X = n_A - 1) and pass n_X
declaration among instructions|;|@INSERTNUMBER n_Late, 1, '9'|;|70|m.QWR:9: error: @INSERTNUMBER declares an item, which the instruction part cannot: move the declaration before the line that includes BEGIN.INSTRUCTIONS
literal with two points|;|n_A = 1.2.3|;|70|m.QWR:9: error: the literal 1.2.3 is not a number: write one decimal point at most, and a minus only in front
array element in a calculation|;|n_A = a_X{1} + 1|;|70|m.QWR:9: error: the array element a_X{1} can only be taken alone into a number: write n_X = a_X{1} first and calculate with n_X
value beyond 64 bits at its places|@INSERTNUMBER n_V, 184467440737095516, '9999999999999999.99-'|;|;|50|m.QWR:6: error: 50: Value does not fit 64 bits at its picture's decimal places=000006
literal beyond 64 bits as a limit|;|@REPEAT n_A, 1, 9223372036854775808 ¦ @END_REPEAT|;|70|m.QWR:9: error: the literal 9223372036854775808 does not fit a 64-bit number
places in a word part|@INSERTWORD w_T, 5|{w_T,1.5} = 'x'|;|70|m.QWR:9: error: a number with places stands where only a whole number can: write a whole number
places as an array value|;|a_X{2} =+ 2.5|;|70|m.QWR:9: error: a number with places stands where only a whole number can: write a whole number
places where a whole number is taken|;|@REPEAT n_A, 1, 2.5 ¦ @END_REPEAT|;|70|m.QWR:9: error: a number with places stands where only a whole number can: write a whole number
literal where a name must stand|@INSERTWORD w_T, 5|@WORDS_FIND 'x', 5, w_T|;|70|m.QWR:9: error: 5 stands where the name of an item must: write the name of a declared item
round brackets in a calculation|;|n_A = 2 * (n_Total + 1)|;|51|m.QWR:9: error: 51: Round brackets do not group a calculation, use [ ] on line no=000009
text as a word's length|@INSERTWORD w_T, 'lovelace'|;|;|52|m.QWR:6: error: 52: Declared size is not a whole number on line no=000006
comma missing after a word's name|@INSERTWORD w_T 10, 'abcd'|;|;|52|m.QWR:6: error: 52: Declared size is not a whole number on line no=000006
word beyond 65535 characters|@INSERTWORD w_T, 100000|;|;|52|m.QWR:6: error: 52: Word is longer than 65535 characters on line no=000006
array beyond its limit|@INSERTARRAY a_Big, 99999999999|;|;|52|m.QWR:6: error: 52: Array has more than 1000000 elements on line no=000006
unclosed @IF|;|@IF n_A = 1|;|13|m.QWR:9: error: 13: First unmatched opener on line no=000009
unclosed @REPEAT|;|@REPEAT|;|12|m.QWR:9: error: 12: First unmatched opener on line no=000009
division by zero|;|n_A = n_A / n_Zero|;|run|m.QWR:9: NUMBERS[error]:- division by zero
index outside an array, in a sub|;|;|n_A = a_X{n_Total}|run|m.QWR:13: ARRAYS[error]:- index outside the array
result beyond its range, in a sub|;|;|n_A = n_Total * 2000000000000000000|run|m.QWR:13: NUMBERS[error]:- result has exceeded its range
EOF
)

while IFS='|' read -r name declaration statement sub want_status message; do
  program "$declaration" "${statement//¦/|}" "$sub"
  timeout 60 "$quill" build m > out.txt 2> err.txt
  status=$?
  [ "$want_status" = run ] && { [ $status = 0 ] && timeout 60 ./m > out.txt 2>> err.txt; status=$?; want_status=1; }
  if [ "$status" != "$want_status" ]; then
    echo "FAIL $name: status $status, expected $want_status"; cat out.txt err.txt; fail=1; continue
  fi
  shown=$(tr -d '\033' < out.txt; cat err.txt)
  if [ "$(grep -cF -- "$message" <<< "$shown")" != 1 ] ||
     ! grep -q -- "^\(\[91m\)\?$(sed 's/[][\.*^$]/\\&/g' <<< "$message")" <<< "$shown"; then
    echo "FAIL $name: not once at the start of a line: $message"; echo "$shown"; fail=1; continue
  fi
  # the translator's block summary is no message
  grep -q '^  \[[0-9]*\] Begin Subs' err.txt && { echo "FAIL $name: the block summary is shown"; fail=1; }
  # an assembler message: the only one, with the source line below it
  if [ "$want_status" = 70 ]; then
    line=$(sed -n 's/^m\.QWR:\([0-9]*\): .*/\1/p' <<< "$message")
    below=$(grep -A1 -F -- "$message" err.txt | sed -n 2p)
    if [ "$(grep -c ': error: ' err.txt)" != 1 ] ||
       [ "$below" != "    $(sed -n "${line}p" m.QWR | sed 's/^ *//')" ]; then
      echo "FAIL $name: more messages, or not the source line below"; cat err.txt; fail=1
    fi
  fi
done <<< "$cases"
exit $fail
