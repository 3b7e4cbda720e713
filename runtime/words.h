// Text operations (_WORDS).  Records to and from text (_WORDS 129 and
// 130) are the record module's (record.h).
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::words {

// The flag set of _WORDS (r8).
enum Flags : uint64_t {
  kPad = 2,           // blank the rest of the destination after the move
  kUpper = 4,         // a-z moved as A-Z
  kLower = 8,         // A-Z moved as a-z (ignored with kUpper)
  kInsert = 16,       // open a gap at the destination start first
  kFind = 32,         // position of the source in the destination
  kReplace = 64,      // replace every occurrence of the source
  kEnvironment = 128, // the source names an environment variable
  kTextToRecord = 129,
  kRecordToText = 130,
};

// One _WORDS operation with a word or number source (not 129/130).
//   src, src_start, src_length: a word substring, or a number with an
//     explicit picture in src_start (address) and src_length (0, 0: own);
//   dest, dest_start, dest_length: the destination substring; nothing
//     outside it changes (a length of 0 reaches to the word's end), a find
//     searches only inside it and counts the position from the word's
//     first character;
//   extra: r15 - the number receiving the position (find), the word with
//     the replacement text (replace), or for a number source non-zero to set
//     the destination's Length to the picture length.
void transfer(uint64_t flags, Item src, uint64_t src_start, uint64_t src_length, Item dest,
              uint64_t dest_start, uint64_t dest_length, uint64_t extra);

// _WORDS 129 and 130 on a substring: the record is filled from the
// substring's characters only (blanks after them), or its flat form is
// written into the substring only.
void text_within(Word src, uint64_t start, uint64_t length, Record rec);
void record_within(Record rec, Word dest, uint64_t start, uint64_t length);

// The text a table find compares with its key range (_KEYTEXT): a word
// substring as it stands (brought inside the word; an empty text is one
// blank), a number edited through its picture (or the one given in start
// and length).
void key_text(Item key, uint64_t start, uint64_t length, const char*& text,
              uint64_t& text_length);

}  // namespace qw::words
