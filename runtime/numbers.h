// Fixed-point numbers and edit pictures: the typed interface of _NUMBERS and
// _COMPARE_NO, used by every module that converts between numbers and text.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::numbers {

enum Operation : int {
  kToText = 0, kAdd = 1, kSubtract = 2, kMultiply = 4, kDivide = 8, kAssign = 16,
};

// An explicit picture through which an operand is read (or edited); an
// empty picture (text == nullptr) means the number's own.
struct Picture {
  const char* text = nullptr;
  uint64_t length = 0;
};

// r9 := r9 op operand, rounded to r9's picture.  `operand` is a number (read
// through `pic` when given) or, for kAssign only, a word substring
// start/length (1-based) converted from text.
void compute(int op, Number target, Item operand, Picture pic, uint64_t word_start,
             uint64_t word_length);

// Text to number (_FROMALPHA): RETURN_CODE 9 when a character is not a digit,
// sign, point or comma; builds a picture for a number whose picture is blank.
void from_text(Number target, const char* text, uint64_t length);

// Number to text (_TOALPHA): edit `source` through `pic` (own picture when
// empty) into `dest` (the picture's length in characters).
void to_text(Number source, Picture pic, char* dest);

// The length of the text to_text writes for `source` and `pic`.
uint64_t edited_length(Number source, Picture pic);

// _COMPARE_NO: 1 when left > right, 0 when equal, -1 when less.
int compare(Number left, Picture left_pic, Number right, Picture right_pic);

}  // namespace qw::numbers
