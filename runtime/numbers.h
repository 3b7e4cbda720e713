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

// The explicit picture of a number operand as the registers carry it
// (address, length).  A value below 65536 is a start position, never an
// address: a caller that loaded a number like a word (start 1, its Length)
// gets the number's own picture instead of a fault.
inline Picture picture_at(uint64_t text, uint64_t length) {
  Picture p;
  if (text >= 65536) {
    p.text = reinterpret_cast<const char*>(text);
    p.length = length;
  }
  return p;
}

// r9 := r9 op operand.  The exact result, rounded half up to r9's places,
// is stored when it fits 64 bits; otherwise the range message ends the
// program.  `operand` is a number (read through `pic` when given: that
// picture's places, for this operation only) or, for kAssign only, a word
// substring start/length (1-based) converted from text.
void compute(int op, Number target, Item operand, Picture pic, uint64_t word_start,
             uint64_t word_length);

// RETURN_CODE after text to number whose value does not fit 64 bits; the
// number is then 0.
inline constexpr int64_t kTextOverflow = 99;

// Text to number (_FROMALPHA): the digits in order, the places those after
// the last ".", negative with any "-"; surplus places dropped one digit at a
// time, each rounding half up.  RETURN_CODE 0 for a text in the form of a
// number (digits and commas, at most one ".", one "-" first or last), 9 for
// any other, kTextOverflow (and the value 0) when it does not fit 64 bits:
// text never ends the program.  Builds a picture for a number whose picture
// is blank.
void from_text(Number target, const char* text, uint64_t length);

// The same conversion for a field whose layout must not change (a record
// field): a blank picture is read as a whole number and is not rebuilt.
void from_text_fixed(Number target, const char* text, uint64_t length);

// Number to text (_TOALPHA): edit `source` through `pic` (own picture when
// empty) into `dest` (the picture's length in characters).
void to_text(Number source, Picture pic, char* dest);

// Edits only the first `limit` characters of the text to_text would write;
// the rest is not stored and nothing marks the cut.  Used for records' flat
// forms, where the destination is shorter.
void to_text_clipped(Number source, Picture pic, char* dest, uint64_t limit);

// Edits into at most `room` characters: the whole edited text when it fits;
// otherwise its first `room` characters, the first of them the "*" mark
// that a too-narrow picture shows.  Returns the count written.
uint64_t to_text_marked(Number source, Picture pic, char* dest, uint64_t room);

// Number to text into a word at `start` (1-based), as _NUMBERS with r8 = 0
// and _WORDS with a number source do.  With `set_length` the word's Length
// becomes the picture length first; otherwise the text is cut at the end of
// the word and its first position carries the "*" mark.
void to_word(Number source, Picture pic, Word dest, uint64_t start, bool set_length);

// The length of the text to_text writes for `source` and `pic`.
uint64_t edited_length(Number source, Picture pic);

// True when editing `n` through `pic` (own picture when empty) shows its
// value exactly: the value fits the picture's digit positions, and a
// negative value has a sign position.  A record field for which this is
// false would be read back as another value.
bool picture_shows(Number n, Picture pic);

// _COMPARE_NO: 1 when left > right, 0 when equal, -1 when less.
int compare(Number left, Picture left_pic, Number right, Picture right_pic);

// Places of a number read through `pic` (own picture when empty); reading
// through its own picture caches its Scale, as every arithmetic use does.
int places(Number n, Picture pic);

// Stores the whole number `v` into `target` at its scale (v × 10^places);
// a value that does not fit is fatal with the range message.
void store_integer(Number target, int64_t v);

}  // namespace qw::numbers
