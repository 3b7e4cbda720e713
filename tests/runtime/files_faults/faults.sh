#!/usr/bin/env bash
# Fault injection for the files module: signals while lines are held
# behind, a reader that leaves a pipe, a file-size limit standing in for a
# full disk, named pipes whose writer comes late, record numbers far
# beyond any file, blocks that are not open, exit statuses past 255,
# records with numbers their pictures cannot show, unloads and loads
# (signalled ones too), record loops that write as they go, lines of
# several blocks at once, lines built for one file written to another,
# reads between appends, finds of keys no live entry holds.
# faults.QWR is built once with quill and run per case; every case checks
# what reached the disk, not only the status.
#   faults.sh QUILL
set -u
quill=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$here/faults.QWR" .
"$quill" build faults > build.out 2>&1 || { cat build.out; exit 1; }

failures=0
check() {  # what, actual, expected
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: got [$2], expected [$3]"
    failures=$((failures + 1))
  fi
}
run() { timeout 60 env --default-signal=PIPE,INT ./faults "$@"; }
line() { printf '%06d....+....1....+....2....+....3....' "$1"; }
# The first n lines every case writes, as they must stand on disk.
lines() { for ((i = 1; i <= $1; i++)); do line "$i"; echo; done; }
lines 1000 > want_1000.txt

# A signal while 1000 lines (41,000 bytes) are held behind: all reach the
# disk and the program ends by that signal.
mkfifo hold
for sig in TERM INT HUP; do
  rm -f out.txt run.out
  exec 3<>hold  # standard input that never ends: the program waits
  env --default-signal=INT ./faults behind < hold > run.out 2>&1 &
  pid=$!
  for ((i = 0; i < 100; i++)); do grep -q ready run.out && break; sleep 0.1; done
  kill -"$sig" "$pid"
  wait "$pid"
  check "$sig: exit status" $? $((128 + $(kill -l "$sig")))
  exec 3>&-
  cmp -s out.txt want_1000.txt || check "$sig: lines on disk" "$(wc -c < out.txt) bytes" 41000
done

# The reader of standard output leaves: SIGPIPE ends the program, the lines
# held behind are on disk.
rm -f out.txt
run pipe | head -n 1 > /dev/null
check "pipe: exit status" "${PIPESTATUS[0]}" 141
cmp -s out.txt want_1000.txt || check "pipe: lines on disk" "$(wc -c < out.txt) bytes" 41000
# Standard output that takes nothing more (a full disk; a reader gone while
# the pipe signal is ignored) ends the program with status 1, the lines
# held behind still on disk.
rm -f out.txt
run pipe > /dev/full
check "full output: exit status" $? 1
cmp -s out.txt want_1000.txt || check "full output: lines on disk" "$(wc -c < out.txt) bytes" 41000
timeout 60 env --ignore-signal=PIPE ./faults pipe | head -n 1 > /dev/null
check "ignored pipe signal: exit status" "${PIPESTATUS[0]}" 1

# A file-size limit of 40 KiB: the write that passes it ends the program
# with the kernel's line and the file's name, at the statement's source
# line; every line before is intact.
full_line=$(grep -n -m1 '@WRITELINE f_Out, n_I, w_Line' faults.QWR | cut -d: -f1)
(ulimit -f 40; run full > run.out)
check "full: exit status" $? 1
check "full: message" "$(tail -n 2 run.out | tr -d '\033')" \
  "$(printf '[91mfaults.QWR:%s: System Error is %-64s\nFile: out.txt' "$full_line" '027:File too large')"
check "full: lines before the limit" "$(head -n 999 out.txt)" "$(lines 999)"
# With standard output full too, the message comes on standard error.
(ulimit -f 40; run full > /dev/full 2> run.err)
check "full, output full: message" "$(tail -n 2 run.err | tr -d '\033')" \
  "$(printf '[91mfaults.QWR:%s: System Error is %-64s\nFile: out.txt' "$full_line" '027:File too large')"
# A program that only displays meets the limit with the same message.
(ulimit -f 40; run display > run.out 2> run.err)
check "display: exit status" $? 1
check "display: message" "$(tr -d '\033' < run.err | sed 's/:[0-9]*: /: /')" \
  "$(printf '[91mfaults.QWR: System Error is %-64s\nFile: standard output' '027:File too large')"
# Another fatal error while the held lines cannot be written: both messages.
(ulimit -f 8; run fullboth > run.out)
check "fullboth: exit status" $? 1
grep -q 'Read Error:You need a record number' run.out || check "fullboth: first message" missing shown
grep -q 'System Error is 027:File too large' run.out || check "fullboth: flush message" missing shown
check "fullboth: lines before the limit" "$(head -n 199 out.txt)" "$(lines 199)"

# A named pipe whose writer comes late, then a standard input that pauses:
# both are waited for, every line arrives.
mkfifo fifo
(sleep 0.3; echo a; sleep 0.3; echo b) > fifo &
check "fifo: lines" "$( (echo c; sleep 0.3; echo d) | run fifo | tr -d ' ')" \
  "$(printf 'a|\nb|\nc|\nd|')"
wait

# Record numbers whose offsets pass 2^63 change nothing (status 24); one
# 5.2 GB into a sparse file works, and @NEXT from record 2 passes over the
# hole before it.
check "far: statuses" "$(run far | tr '\n' ' ')" "24 24 24 00 00 FAR    00 400000000 10 "
check "far: records 1 and 2" "$(head -c 26 items.dat | tr '\001' '#')" \
  "#ONE   000000#TWO   000000"
check "far: file size" "$(stat -c %s items.dat)" $((400000000 * 13))

# A closed block and a never opened one (descriptor 0 open on a file) touch
# no descriptor: status 31, every file as it was.
echo precious > victim.txt
check "notopen: statuses" "$(run notopen 0<> victim.txt | tr '\n' ' ')" \
  "closed 31 never 31 read 31 "
check "notopen: files" "$(cat log.txt data.txt victim.txt)" \
  "$(printf 'log line\ndata line\nprecious')"

# Load and unload work whether or not the program opened the block.
check "xtables: statuses" "$(run xtables | tr '\n' ' ')" "closed 00 loaded 000000002 "
check "xtables: file" "$(tr '\001' '#' < items.dat)" "#ONE   000000#TWO   000000"
# An unload past the file-size limit ends with the kernel's message and
# leaves the old file whole, with no file of its own left beside it.
cp items.dat items.old
(ulimit -f 40; run unload > run.out)
check "unload: exit status" $? 1
grep -q 'System Error is 027:File too large' run.out || check "unload: message" missing shown
cmp -s items.dat items.old || check "unload: old file" changed kept
check "unload: files beside" "$(ls items.dat*)" "items.dat"
# A kind 32 unload puts zeros in each record's reserved bytes: the same
# table unloaded twice gives the same file.
run reserved
check "reserved: file" "$(tr '\000\001' '-#' < res.dat)" \
  "--------#ONE   000000--------#TWO   000000"
# A named pipe (a device alike) is written into, never replaced by a file.
rm -f tofifo && mkfifo tofifo
cat tofifo > fromfifo &
run tofifo
wait $!
check "unload into a pipe" "$([ -p tofifo ] && echo pipe) $([ -s fromfifo ] && echo data)" "pipe data"
# A signal while an unload writes its file beside the old one removes
# that file; the old one is whole.
for sig in TERM INT HUP; do
  rm -f items.dat
  env --default-signal=INT ./faults unloads > run.out 2>&1 &
  pid=$!
  SECONDS=0
  until [ -e items.dat ] && compgen -G 'items.dat.unload-*' > /dev/null; do
    [ "$SECONDS" -lt 30 ] || break
  done
  kill -"$sig" "$pid"
  wait "$pid"
  check "unload $sig: exit status" $? $((128 + $(kill -l "$sig")))
  check "unload $sig: files" "$(ls items.dat*)" "items.dat"
  check "unload $sig: old file" "$(stat -c %s items.dat)" $((300000 * 13))
done

# A kind 32 load keeps every slot in its place (a deleted one reads with
# 23); a kind 16 load drops deleted records; a file cut short inside its
# last record loads that record as far as it goes, with 34.
z='\0\0\0\0\0\0\0\0'
printf "$z\001ONE   000001$z\0DEL   000002$z\001TWO   000003$z\001TH" > res.dat
printf '\001ONE   000001\0DEL   000002\001TW' > items.dat
check "load: statuses" "$(run load | tr '\n' '|')" "34 000000004 23 DEL   |34 000000002 TW    |"

# Reading on across the holes at the end of a sparse file (100,000 slots,
# record 1 written) ends with the number after the last slot, as in the
# same file written out in full.
printf '\001ONE   000001' > items.dat
truncate -s $((100000 * 13)) items.dat
check "sparse end" "$(run sparse)" "00 000000001 10 000100001 10 000100001"
cp --sparse=never items.dat full.dat && mv full.dat items.dat
check "full end" "$(run sparse)" "00 000000001 10 000100001 10 000100001"

# Another program holds the file locked: opens that would empty it and an
# unload that would replace it get 90, the file byte for byte as it was.
# Then a lock held through one block outlasts another block of the same
# program (refused it too) closing, a load, and an unload.
holder() {  # case: started on the pipe `hold`, output in hold.out
  rm -f hold.out
  exec 3<>hold
  ./faults "$1" < hold > hold.out 2>&1 &
  holder_pid=$!
}
ready() {  # count: until the holder has said "ready" that often
  for ((i = 0; i < 100; i++)); do
    [ "$(grep -c ready hold.out)" -ge "$1" ] && return
    sleep 0.1
  done
}
printf '\001ONE   000001\001TWO   000002' > items.dat
cp items.dat items.old
holder hold
ready 1
check "locked: statuses" "$(run empty)" "90 90 90"
cmp -s items.dat items.old || check "locked: file" changed "as it was"
echo >&3
wait "$holder_pid"
holder keep
ready 1
check "kept: after a close and a load" "$(run lockone)" 90
echo >&3
ready 2
check "kept: after an unload" "$(run lockone)" 90
echo >&3
wait "$holder_pid"
exec 3>&-
check "kept: holder" "$(tr '\n' '|' < hold.out)" "00 90 ready|00 ready|"
check "kept: unloaded" "$(tr '\001' '#' < items.dat)" "#ONE   000001#TWO   000002"

# @EXISTS asks about a path without creating it.
rm -f never.txt
check "exists" "$(run exists)" "230002- 000000000000 000000+ 000000000026"
check "exists: not created" "$(ls never.txt 2>&1 >/dev/null | wc -l)" 1

# At the end a held file that cannot be written keeps no other from disk.
rm -f log.txt
(ulimit -f 20; run endfull > run.out)
check "endfull: exit status" $? 1
check "endfull: message" "$(tail -n 1 run.out)" "File: out.txt"
check "endfull: the other file" "$(cat log.txt)" "log line"

# @NEXT goes on from the record's own number, whatever the loop read or
# wrote meanwhile; conversions keep the number.
check "next: records met" "$(run next | sed 's/ *$//' | tr '\n' '|')" \
  "000000001 KEY   000001|000000002 KEY   000002|000000004 KEY   000004|000000005 KEY   000005|000000007 TAG   000007|10|"
check "next: file" "$(tr '\001\000' '#-' < items.dat)" \
  "#KEY   000101#KEY   000102-KEY   000003#KEY   000104#KEY   000105-------------#TAG   000007"

check "built: statuses" "$(run built)" "00 00 00 35"
check "built: files" "$(cat log.txt; cat semi.txt)" "$(printf 'one\ntwo\nx;y\ntwo;')"

# Opened to read and append: appends go to the end, reads go on from
# where they stood and meet the appended lines too.
printf 'one\ntwo\nthree\n' > log.txt
check "append: lines read" "$(run append | tr -d ' ')" "one|two|three|four|five|10"
check "append: file" "$(cat log.txt)" "$(printf 'one\ntwo\nthree\nfour\nfive')"

# A find that holds no live entry for its key gives 23: an xtable's number
# holds the position where the key was met, a fixed table's is unchanged.
check "find: statuses" "$(run find | tr '\n' '|')" \
  "23 000002 00 000003|23 000099 23 000099 00 000003|"

# Lines: each block's own last line, quoted numbers, a closing carriage
# return refused, nothing read on a closed block, a full-length line.
printf '"0160.00","Ada  ",7\n"0042.50","Bob  ",3\n' > in.csv
printf 'AB\r;' > semi.txt
{ head -c 655355 /dev/zero | tr '\0' a; printf '\r\n'; head -c 655360 /dev/zero | tr '\0' b
  printf '\nend\r\n'; } > data.txt
check "lines" "$(run lines | sed 's/ *$//' | tr '\n' '|')" \
  "0160.00Ada  7|0042.50Bob  3|31 kept|35|00 655355 aaa|04 655355 bbb|00 000005 bbb|00 000003 end|"
check "lines: log" "$(cat log.txt)" "written since"
tr -d '\r' < data.txt | cmp -s - out.txt || check "lines: copied" "$(wc -c < out.txt) bytes" same

# Nine pipes read in turn lose no line; a copy takes all of a pipe.
check "pipes" "$(seq 91 92 | run pipes | tr '\n' '|')" \
  "11 21 31 41 51 61 71 81 91 |12 22 32 42 52 62 72 82 92 |"
check "copy: counts" "$(seq 1 20000 | run copy)" "0000+ 108894"
check "copy: file" "$(seq 1 20000 | cmp - out.txt && echo same)" same

# The output of a program started with @RUN_BATCH is read through a block.
run batch > run.out
check "batch: line" "$(head -n 1 run.out | tr -d ' ')" "piped|00"
check "batch: the child holds none of the program's files" "$(grep -c /proc/self/fd/ run.out)" 0

# On a terminal the fatal message ends by resetting the colour.
check "terminal: colour reset" "$(script -qec './faults fullboth' /dev/null | tail -c 4 | od -An -c | tr -d ' ')" \
  '033[0m'

# A record whose amount '9999.99' cannot show (-12.50, 12345.67) is
# refused by a file, a table, an xtable and record to text (36), and the
# good record stays everywhere; a field holding the mark reads with
# RETURN_CODE 9 and is not unloaded.  Lines read back their own fields
# with RETURN_CODE 0.
check "unshown: statuses" "$(run unshown | sed 's/ *$//')" "$(printf '%s\n' \
  'ONE 0000000000+ ONE0012.50    5.0-' 'NEG 3636360036+ -' 'BIG 3636360036+ -' \
  'file 000000+ ONE0012.50    5.0-' 'table 000000+ ONE0012.50    5.0-' \
  'xtable 000000+ ONE0012.50    5.0-' 'marked 000009+ 0345.67' 'unload 36' \
  'line 0000+    5.0-' 'line 0009+  345.0+')"
check "unshown: file" "$(tr '\001' '#' < pay.dat)" "#ONE0012.50    5.0-"
check "unshown: lines" "$(cat out.txt)" "$(printf '    5.0-\n*,345.0+')"

# Exit statuses: 256 at run time ends with 255, a literal 256 is refused
# when built.
run terminate
check "terminate: exit status" $? 255
printf '%s\n' '%include "include/BEGIN.DICTIONARY"' '%include "include/BEGIN.MATRIX"' \
  '%include "include/BEGIN.INSTRUCTIONS"' '  @TERMINATE 256' '%include "include/END.PROGRAM"' \
  > t256.QWR
"$quill" build t256 > build.out 2>&1
check "terminate 256: build status" $? 70
grep -q 't256.QWR:4: error: @TERMINATE takes an exit status from 0 to 255' build.out ||
  check "terminate 256: message" "$(cat build.out)" "the line and its reason"

[ "$failures" = 0 ]
