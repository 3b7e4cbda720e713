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
//   dest, dest_start: the destination word and start;
//   extra: r15 - the number receiving the position (find), the word with
//     the replacement text (replace), or for a number source non-zero to set
//     the destination's Length to the picture length.
void transfer(uint64_t flags, Item src, uint64_t src_start, uint64_t src_length, Item dest,
              uint64_t dest_start, uint64_t extra);

// The 1-based position of the first occurrence of needle[0..n) in `hay` at
// or after `start`, or 0.
uint64_t find(const char* needle, uint64_t n, Word hay, uint64_t start);

}  // namespace qw::words
