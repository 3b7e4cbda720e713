// The record's flat form: its fields side by side, a word as its
// characters, a number edited through its own picture (a number with
// picture "999" holding 7 is "007").  Files, tables, xtables and the text
// conversions of the words module all store and read records through this
// one module, so they agree byte for byte.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::record {

// Writes the flat form, at most `capacity` bytes of it, to `out`; returns
// the bytes written (the flat length when it fits).
uint64_t to_flat(Record rec, uint8_t* out, uint64_t capacity);

// Distributes `available` bytes of flat form into the fields: a word takes
// its Length characters, a number converts its picture-length characters
// from text.  Characters past the available bytes count as blanks.  Field
// layouts never change (a number with a blank picture is read as a whole
// number).  A number field that holds the overflow mark ("*" in its first
// position: the value did not fit its picture when it was written) leaves
// RETURN_CODE 9 behind.
void from_flat(Record rec, const uint8_t* in, uint64_t available);

// True when every number of the record can be shown through its picture,
// so that its flat form holds the value and not the overflow mark.  Writers
// of records refuse (and write nothing) when it is false.
bool shows(Record rec);

// _WORDS 129: the word from `start` through w_RecordBuffer into the record;
// the record's _NO becomes 0.
void text_to_record(Word src, uint64_t start, Record rec);

// _WORDS 130: the record's flat form (through w_RecordBuffer) into the word
// at `start`; the rest of the word is unchanged.
void record_to_text(Record rec, Word dest, uint64_t start);

}  // namespace qw::record
