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

// A field's text into its number: a field of a record, a table entry or a
// line, as wide as the number's own picture.  Converted as from_text does,
// except that a blank picture is read as a whole number and never rebuilt.
// Answers the RETURN_CODE the read stands for (the caller stores it): 0
// when the text is exactly what editing the value through the number's own
// picture gives (blanks of zero suppression, the sign position's "+" or
// "-", commas, the point), 9 for any other text - the "*" mark among them
// - and kTextOverflow (the value 0) for a value beyond 64 bits.
int from_field(Number target, const char* text, uint64_t length);

// from_field's general read, which it leaves for its quick way when the
// text is plain digits with the "." and the sign where editing puts them;
// both give the same value, scale and answer for every text.
int from_any_field(Number target, const char* text, uint64_t length);

// Number to text (_TOALPHA): edit `source` through `pic` (own picture when
// empty) into `dest` (the picture's length in characters).  The sign
// position is the last picture character when it is not "9"; a value the
// picture cannot show - too wide for its digit positions, or negative
// without a sign position - is marked with "*" in the first position.
// Answers whether the text shows the value.
bool to_text(Number source, Picture pic, char* dest);

// What an edit into a destination wrote: `count` characters, and whether
// they show the value exactly (not marked, not cut).
struct Edited {
  uint64_t count;
  bool shown;
};

// Edits into at most `room` characters: the whole edited text when it fits;
// otherwise its first `room` characters, the first of them the "*" mark
// that a too-narrow picture shows.
Edited to_text_marked(Number source, Picture pic, char* dest, uint64_t room);

// Number to text into a word at `start` (1-based), as _NUMBERS with r8 = 0
// and _WORDS with a number source do.  With `set_length` the word's Length
// becomes the picture length first; otherwise the text is cut at the end of
// the word and its first position carries the "*" mark.
void to_word(Number source, Picture pic, Word dest, uint64_t start, bool set_length);

// The length of the text to_text writes for `source` and `pic`.
uint64_t edited_length(Number source, Picture pic);

// True when editing `n` through `pic` (own picture when empty) shows its
// value exactly: the value fits the picture's digit positions, and a
// negative value has a sign position.  Otherwise the edited text carries
// the "*" mark.
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
