// The operand-comma step: after a decision or call keyword (or the keyword
// of a calculation), the blank-separated operands become a comma list.
#pragma once

#include <span>

#include "names.h"

// Columns 1..text.size() hold the line; the statement ends at column
// `commandLength`.  The keyword is looked for in the first 40 columns of
// the row, or of the statement wherever it begins when windowFromStatement
// (positions mode: an indented line is read as its unindented copy); "%IF"
// (an assembler conditional)
// leaves the line as it is; a keyword that a declared name holds is no
// keyword.  The first blank or tab of every run outside quotations after
// the operands begin becomes a comma.
void SetOperandCommas(std::span<char> text, long commandLength, const DataNames& names,
                      bool windowFromStatement);
