// Assignments written with "=": function calls, array assignments, word
// moves and calculations (assignments.cpp).
#pragma once

#include "generated.h"
#include "names.h"
#include "rows.h"

// Rewrites the row when it assigns to a declared name: "@FUNCTION",
// "@Arrays_...", "@words_pad"/"@words_copy", or "@INTEGERS_CALC" /
// "@NUMBERS_CALC" (whole-number literals of a calculation must fit 64 bits).
void RewriteAssignment(Row& row, const DataNames& names, const Temporaries& temporaries);
