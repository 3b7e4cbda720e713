// The comparisons of the decisions module (_COMPARE, _ARRAYCOMPARE).
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::decisions {

// Text order of the decisions module: trailing blanks ignored (an empty
// text is one blank), characters compared as signed 8-bit values, a prefix
// before the longer text.
// Answers 1, 0 or -1.
int compare_text(const char* a, uint64_t na, const char* b, uint64_t nb);

// True when the relation found (1 greater, 0 equal, -1 less) has its bit in
// the comparison mask: 1 equal, 2 not equal, 4 less, 8 greater or equal,
// 16 greater, 32 less or equal.
bool relation_holds(uint64_t mask, int relation);

// _COMPARE: numbers with numbers (explicit pictures as for _COMPARE_NO),
// words with words; anything else is fatal.
bool compare(uint64_t mask, Item left, uint64_t left_start, uint64_t left_length, Item right,
             uint64_t right_start, uint64_t right_length);

}  // namespace qw::decisions
