// The record's flat form: its fields side by side, a word as its
// characters, a number edited through its own picture (a number with
// picture "999" holding 7 is "007").  Files, tables, xtables and the text
// conversions of the words module all store and read records through this
// one module, so they agree byte for byte.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::record {

// A record with a number its picture cannot show (too wide for it, or
// negative without a sign position) is never written: its flat form would
// hold the "*" mark instead of the value.  The refusal is this status in
// files and tables, and this RETURN_CODE where there is no status.
inline constexpr int64_t kNumberNotShown = 36;

// Where the first byte of a stored record tells whether a record is there
// at all (a sequential file's hole, a fixed table's entry never written),
// a record whose flat form begins with a zero byte would read back as no
// record: it is refused with this status and not written.
inline constexpr int64_t kLeadsWithZero = 37;

// True when the record's flat form begins with a zero byte (its first
// field that has characters is a word beginning with one).
bool leads_with_zero(Record rec);

// What to_flat wrote: `length` bytes, and whether every number of the
// record shows its value (otherwise its text carries the "*" mark).
struct Flat {
  uint64_t length;
  bool shown;
};

// Writes the flat form, at most `capacity` bytes of it (the flat length
// when it fits), to `out`.  A number cut by the capacity counts as not
// shown.
Flat to_flat(Record rec, uint8_t* out, uint64_t capacity);

// True when every number of the record shows its value through its
// picture, so that its flat form can be written.
bool shows(Record rec);

// The flat form of an empty record (words blank, numbers 0 through their
// pictures), at most `capacity` bytes of it.
void to_empty_flat(Record rec, uint8_t* out, uint64_t capacity);

// Writes the flat form over the `length` bytes at `entry` (a table entry)
// only when every number shows its value; false, the entry untouched,
// otherwise.
bool to_entry(Record rec, uint8_t* entry, uint64_t length);

// Distributes `available` bytes of flat form into the fields: a word takes
// its Length characters, a number converts its picture-length characters
// (numbers::from_field).  Characters past the available bytes count as
// blanks.  Field layouts never change (a number with a blank picture is
// read as a whole number).  RETURN_CODE: 0 when every number field held
// exactly what editing its value through its picture gives, 9 when one
// held anything else (the "*" mark of a value that was not shown among
// them), 99 when one held a value beyond 64 bits (read as 0).
void from_flat(Record rec, const uint8_t* in, uint64_t available);

// True when a number field of the flat form (`available` bytes of it)
// holds the "*" mark: the form does not hold the record's values.
bool holds_mark(Record rec, const uint8_t* in, uint64_t available);

// _WORDS 129: the word from `start` through w_RecordBuffer into the record;
// RETURN_CODE as from_flat leaves it.  The record's _NO is its own: a
// conversion never changes it.
void text_to_record(Word src, uint64_t start, Record rec);

// _WORDS 130: the record's flat form (through w_RecordBuffer) into the word
// at `start`; the rest of the word is unchanged.  RETURN_CODE 0, or
// kNumberNotShown when a number cannot be shown: the word is then
// unchanged and the buffer empty.  _NO stays as it was.
void record_to_text(Record rec, Word dest, uint64_t start);

// The record buffer (w_RecordBuffer) is shared by every statement that
// moves flat forms and lines through it, and a line read stays there for
// @GETFIELDS to take apart.  Code that writes into the buffer claims it
// first, so that such a line is kept aside (the files module registers
// the keeper with set_buffer_keeper) before it is overwritten.
uint8_t* claim_buffer();
inline void (*g_buffer_keeper)() = nullptr;
// Set on every line read and built: a store, not a call.
inline void set_buffer_keeper(void (*keep)()) { g_buffer_keeper = keep; }

}  // namespace qw::record
