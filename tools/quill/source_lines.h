// Guessing which NAME.QWR line a NAME.ASM line came from.  The translator
// keeps statements in order and changes only their spacing, commas and
// letter case, and a line calling a generated macro carries its statement
// as a comment; the guesses rest on that.  (Once the translator marks
// source lines in NAME.ASM itself, these guesses go.)
#pragma once

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// The lines of a file (none when it cannot be read).
Lines read_lines(const std::string& path);

// The NAME.QWR line (from 1) that ASM line `asm_line` came from; 0 when
// no line reads the same.
int source_line_of(const Lines& asm_lines, const Lines& source, int asm_line);

// The first NAME.QWR line naming `symbol` as a whole word; 0 when none.
int first_line_naming(const Lines& source, const std::string& symbol);

// The debug map: %define lines naming the source file (QW_SRCFILE) and, for
// the statement after each DEBUG marker of NAME.ASM, its NAME.QWR line
// (QW_SRC_n, n being the statement's NAME.ASM line).
std::string debug_map(const Lines& asm_lines, const Lines& source, const std::string& source_name);
