// The words module: moves with padding and case conversion, insert, find,
// replace, environment lookup; records to and from text go through the
// record module.
#include "words.h"

#include "common.h"
#include "numbers.h"
#include "record.h"
#include "services.h"


namespace qw::words {

namespace {

// Source text that lies inside the destination is copied here first, so
// that shifting or overwriting the destination cannot change it midway.
// Substrings are shorter than 65536 characters after normalisation.
char g_source_copy[65536];

bool overlaps(const char* a, uint64_t na, const char* b, uint64_t nb) {
  return a < b + nb && b < a + na;
}

void convert_case(char* p, uint64_t n, uint64_t flags) {
  if (flags & kUpper) {
    for (uint64_t i = 0; i < n; ++i)
      if (p[i] >= 'a' && p[i] <= 'z') p[i] = static_cast<char>(p[i] - 32);
  } else if (flags & kLower) {
    for (uint64_t i = 0; i < n; ++i)
      if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + 32);
  }
}

// The source characters go to the destination from `start` until either
// runs out; with kPad the rest of the destination becomes blanks.
void move(const char* src, uint64_t n, Word dest, uint64_t start, uint64_t flags) {
  uint64_t len = dest.length();
  if (start == 0 || start > len) return;
  uint64_t room = len - start + 1;
  uint64_t count = n < room ? n : room;
  char* out = dest.text() + start - 1;
  __builtin_memmove(out, src, count);
  convert_case(out, count, flags);
  if (flags & kPad) __builtin_memset(out + count, ' ', room - count);
}

// Opens a gap of n characters at `start`; the last n characters are lost.
void insert_gap(Word dest, uint64_t start, uint64_t n) {
  uint64_t len = dest.length();
  if (start == 0 || start > len) return;
  uint64_t room = len - start + 1;
  if (n >= room) return;
  char* at = dest.text() + start - 1;
  __builtin_memmove(at + n, at, room - n);
}

// Every non-overlapping occurrence of needle, left to right from `start`,
// is overwritten by the replacement text (same length).
void replace_all(const char* needle, uint64_t n, const char* replacement, Word dest,
                 uint64_t start) {
  uint64_t len = dest.length();
  while (n > 0 && start + n - 1 <= len) {
    uint64_t at = find(needle, n, dest, start);
    if (at == 0) return;
    __builtin_memmove(dest.text() + at - 1, replacement, n);
    start = at + n;
  }
}

}  // namespace

uint64_t find(const char* needle, uint64_t n, Word hay, uint64_t start) {
  uint64_t len = hay.length();
  if (n == 0 || start == 0 || start > len || n > len - start + 1) return 0;
  const char* h = hay.text();
  const char first = needle[0];
  for (uint64_t i = start - 1; i + n <= len; ++i) {
    if (h[i] != first) continue;
    uint64_t k = 1;
    while (k < n && h[i + k] == needle[k]) ++k;
    if (k == n) return i + 1;
  }
  return 0;
}

void transfer(uint64_t flags, Item src, uint64_t src_start, uint64_t src_length, Item dest,
              uint64_t dest_start, uint64_t extra) {
  if (dest.is_number()) fatal_library(kErrUseNumbers);
  Word to(dest.data());
  if (src.is_number()) {
    Number n(src.data());
    numbers::Picture pic = numbers::picture_at(src_start, src_length);
    validate_destination(dest.data(), dest_start, numbers::edited_length(n, pic));
    if (flags & kPad) __builtin_memset(to.text(), ' ', to.length());
    numbers::to_word(n, pic, to, dest_start, extra != 0);
    return;
  }
  validate_source(src.data(), src_start, src_length);
  validate_destination(dest.data(), dest_start, src_length);
  const char* text = reinterpret_cast<const char*>(src.data()) + src_start - 1;
  if (src_length > 0 && overlaps(text, src_length, to.text(), to.length())) {
    __builtin_memmove(g_source_copy, text, src_length);
    text = g_source_copy;
  }
  if (flags & kEnvironment) {
    services::environment_lookup(text, src_length, to, dest_start);
    return;
  }
  if (flags & kInsert) insert_gap(to, dest_start, src_length);
  if (flags & kReplace) {
    if (extra == 0) return;
    // The replacement is the same substring of the replacement word;
    // positions beyond its Length read as blanks.
    static char replacement[65536];
    Word rep(reinterpret_cast<void*>(extra));
    uint64_t rlen = rep.length();
    for (uint64_t i = 0; i < src_length; ++i) {
      uint64_t pos = src_start + i;
      replacement[i] = pos <= rlen ? rep.at(pos) : ' ';
    }
    replace_all(text, src_length, replacement, to, dest_start);
    return;
  }
  if (flags & kFind) {
    uint64_t at = find(text, src_length, to, dest_start);
    if (extra == 0) return;
    Item result(reinterpret_cast<void*>(extra));
    if (!result.is_number()) fatal_library(kErrNonNumeric);
    numbers::store_integer(Number(result.data()), static_cast<int64_t>(at));
    return;
  }
  move(text, src_length, to, dest_start, flags);
}

}  // namespace qw::words

// _WORDS: r8 flag set; r9, r10, r11 source; r12, r13 destination and start;
// r15 extra.  129: r12/r13 source word and start, r10 the record.  130: r10
// the record, r12/r13 destination word and start.
extern "C" void qw_entry_words(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t,
                               uint64_t) {
  using namespace qw;
  if (r.r8 == words::kTextToRecord) {
    record::text_to_record(Word(reinterpret_cast<void*>(r12)), r13,
                           Record(reinterpret_cast<void*>(r.r10)));
    return;
  }
  if (r.r8 == words::kRecordToText) {
    record::record_to_text(Record(reinterpret_cast<void*>(r.r10)),
                           Word(reinterpret_cast<void*>(r12)), r13);
    return;
  }
  words::transfer(r.r8, Item(reinterpret_cast<void*>(r.r9)), r.r10, r.r11,
                  Item(reinterpret_cast<void*>(r12)), r13, r.r15);
}

QW_LEAN_ENTRY(_WORDS, qw_entry_words);
