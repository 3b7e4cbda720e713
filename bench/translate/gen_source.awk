# Writes a large Quillwright source: declarations in the dictionary part, then
# LINES lines of statements, comments, blanks, split lines and word copies in
# the instruction part.  Usage: awk -v LINES=200000 -f gen_source.awk
BEGIN {
  if (LINES == "") LINES = 200000
  srand(42)
  print "; generated benchmark program"
  print "%include 'include/BEGIN.DICTIONARY'"
  for (i = 1; i <= 400; i++) printf "    @INSERTWORD w_%04d,%d,' '      ; word %d\n", i, 5 + i % 40, i
  for (i = 1; i <= 400; i++) printf "    @INSERTNUMBER n_%04d,0,'#,###,##9'\n", i
  print "%include 'include/BEGIN.MATRIX'"
  print "%include 'include/BEGIN.INSTRUCTIONS'"
  n = 805
  while (n < LINES) {
    k = n % 10
    a = 1 + int(rand() * 400); b = 1 + int(rand() * 400)
    if (k == 0) print ""
    else if (k == 1) printf "; step %d: move the next customer field\n", n
    else if (k == 2) printf "    @WORDS_COPY w_%04d,w_%04d\n", a, b
    else if (k == 3) printf "    @WORDS_PAD w_%04d,w_%04d    ; padded copy\n", a, b
    else if (k == 4) printf "    @DISPLAY w_%04d | @DISPLAY w_%04d\n", a, b
    else if (k == 5) printf "    n_%04d = n_%04d + 1\n", a, b
    else if (k == 6) printf "    @ACCEPT w_%04d          ; from the terminal\n", a
    else if (k == 7) printf "\tMOVE (n_%04d) TO \"a; b | c\"\n", a
    else if (k == 8) printf "    @WORDS_COPY w_%04d,w_%04d\n", b, a
    else printf "    @DISPLAY 'line %d'\n", n
    n++
  }
  print "%include 'include/END.PROGRAM'"
}
