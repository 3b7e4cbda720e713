// The words module: moves with padding and case conversion, insert, find,
// replace, environment lookup; records to and from text go through the
// record module.
#include "words.h"

#include "bridge.h"
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

// The part of the destination word a statement may change: the substring
// {word,start,length} the program named, brought inside the word.  A start
// after the word's last character places the source so that it ends at the
// last position (_VALIDATE_DST).  A length of 0 (or one that runs past the
// end) reaches to the word's last character.
struct Range {
  char* text;
  uint64_t length;
  uint64_t start;  // position of text[0] in the word, from 1
};

Range destination_range(Word w, uint64_t start, uint64_t length, uint64_t source_length) {
  const uint64_t len = w.length();
  validate_destination(w.data(), start, source_length);
  const uint64_t room = start <= len ? len - start + 1 : 0;
  if (static_cast<int64_t>(length) <= 0 || length > room) length = room;
  return {w.text() + start - 1, length, start};
}

// The source characters go to the range until either runs out; with kPad
// the rest of the range becomes blanks.
void move(const char* src, uint64_t n, Range to, uint64_t flags) {
  const uint64_t count = n < to.length ? n : to.length;
  __builtin_memmove(to.text, src, count);
  convert_case(to.text, count, flags);
  if (flags & kPad) __builtin_memset(to.text + count, ' ', to.length - count);
}

// Opens a gap of n characters at the range's start; the range's last n
// characters are lost.
void insert_gap(Range to, uint64_t n) {
  if (n >= to.length) return;
  __builtin_memmove(to.text + n, to.text, to.length - n);
}

// The offset (from 0) of the first occurrence of needle[0..n) in the range,
// or -1.
int64_t find_in(const char* needle, uint64_t n, const char* hay, uint64_t len) {
  if (n == 0 || n > len) return -1;
  const char first = needle[0];
  for (uint64_t i = 0; i + n <= len; ++i) {
    if (hay[i] != first) continue;
    uint64_t k = 1;
    while (k < n && hay[i + k] == needle[k]) ++k;
    if (k == n) return static_cast<int64_t>(i);
  }
  return -1;
}

// Every non-overlapping occurrence of needle in the range, left to right,
// is overwritten by the replacement text (same length).
void replace_all(const char* needle, uint64_t n, const char* replacement, Range to) {
  uint64_t from = 0;
  while (n > 0 && from + n <= to.length) {
    const int64_t at = find_in(needle, n, to.text + from, to.length - from);
    if (at < 0) return;
    __builtin_memmove(to.text + from + at, replacement, n);
    from += static_cast<uint64_t>(at) + n;
  }
}

// The replacement text of a replace: the same substring of the replacement
// word as the source substring; positions beyond its Length read as blanks.
const char* replacement_text(Word rep, uint64_t start, uint64_t n) {
  static char text[65536];
  const uint64_t rlen = rep.length();
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t pos = start + i;
    text[i] = pos <= rlen ? rep.at(pos) : ' ';
  }
  return text;
}

// Runs `op` on a word that holds exactly the range's characters, then
// copies them back: an operation written for whole words thus cannot
// change anything outside the range.
template <class Op>
void within(Range r, Op op) {
  alignas(8) static uint8_t scratch[kHeaderSize + 65536];
  const uint64_t n = r.length < 65536 ? r.length : 65536;
  Word w(scratch + kHeaderSize);
  w.set_scale(0);
  w.set_type(kWordType);
  w.set_length(n);
  __builtin_memmove(w.text(), r.text, n);
  op(w);
  __builtin_memmove(r.text, w.text(), n);
}

void number_into(uint64_t flags, Number n, numbers::Picture pic, Range to) {
  const uint64_t count = numbers::to_text_marked(n, pic, to.text, to.length).count;
  if (flags & kPad) __builtin_memset(to.text + count, ' ', to.length - count);
}

}  // namespace

void transfer(uint64_t flags, Item src, uint64_t src_start, uint64_t src_length, Item dest,
              uint64_t dest_start, uint64_t dest_length, uint64_t extra) {
  if (dest.is_number()) fatal_library(kErrUseNumbers);
  Word to(dest.data());
  if (src.is_number()) {
    Number n(src.data());
    numbers::Picture pic = numbers::picture_at(src_start, src_length);
    if (extra != 0) {
      // The display routine's form: the word becomes the edited text.
      if (flags & kPad) __builtin_memset(to.text(), ' ', to.length());
      numbers::to_word(n, pic, to, dest_start, true);
      return;
    }
    number_into(flags, n, pic,
                destination_range(to, dest_start, dest_length, numbers::edited_length(n, pic)));
    return;
  }
  validate_source(src.data(), src_start, src_length);
  const Range range = destination_range(to, dest_start, dest_length, src_length);
  const char* text = reinterpret_cast<const char*>(src.data()) + src_start - 1;
  if (src_length > 0 && overlaps(text, src_length, to.text(), to.length())) {
    __builtin_memmove(g_source_copy, text, src_length);
    text = g_source_copy;
  }
  if (flags & kEnvironment) {
    within(range, [&](Word w) { services::environment_lookup(text, src_length, w, 1); });
    return;
  }
  if (flags & kInsert) insert_gap(range, src_length);
  if (flags & kReplace) {
    if (extra == 0) return;
    Word rep(reinterpret_cast<void*>(extra));
    replace_all(text, src_length, replacement_text(rep, src_start, src_length), range);
    return;
  }
  if (flags & kFind) {
    // Only the range is searched; the position counts from the word's start.
    // An empty text is found nowhere (RETURN_CODE 9: no text to find).
    const int64_t at = src_length ? find_in(text, src_length, range.text, range.length) : -1;
    if (src_length == 0) store64(RETURN_CODE, 9);
    if (extra == 0) return;
    Item result(reinterpret_cast<void*>(extra));
    if (!result.is_number()) fatal_library(kErrNonNumeric);
    numbers::store_integer(Number(result.data()),
                           at < 0 ? 0 : static_cast<int64_t>(range.start) + at);
    return;
  }
  move(text, src_length, range, flags);
}

void key_text(Item key, uint64_t start, uint64_t length, const char*& text,
              uint64_t& text_length) {
  static char edited[256];
  if (key.is_number()) {
    Number n(key.data());
    numbers::Picture pic = numbers::picture_at(start, length);
    text_length = numbers::to_text_marked(n, pic, edited, sizeof edited).count;
    text = edited;
    return;
  }
  validate_source(key.data(), start, length);
  text = reinterpret_cast<const char*>(key.data()) + start - 1;
  text_length = length;
  if (text_length == 0) text = " ", text_length = 1;
}

void text_within(Word src, uint64_t start, uint64_t length, Record rec) {
  validate_source(src.data(), start, length);
  within({src.text() + start - 1, length, start}, [&](Word w) { record::text_to_record(w, 1, rec); });
}

void record_within(Record rec, Word dest, uint64_t start, uint64_t length) {
  within(destination_range(dest, start, length, rec.flat_length()),
         [&](Word w) { record::record_to_text(rec, w, 1); });
}

}  // namespace qw::words

// _WORDS: r8 flag set; r9, r10, r11 source; r12, r13, r14 destination,
// start and length (0: to the word's end); r15 extra.  129: r12/r13/r14 the
// source word, start and length, r10 the record.  130: r10 the record,
// r12/r13/r14 the destination.
extern "C" void qw_entry_words(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                               uint64_t) {
  using namespace qw;
  if (r.r8 == words::kTextToRecord) {
    words::text_within(Word(reinterpret_cast<void*>(r12)), r13, r14,
                       Record(reinterpret_cast<void*>(r.r10)));
    return;
  }
  if (r.r8 == words::kRecordToText) {
    words::record_within(Record(reinterpret_cast<void*>(r.r10)),
                         Word(reinterpret_cast<void*>(r12)), r13, r14);
    return;
  }
  words::transfer(r.r8, Item(reinterpret_cast<void*>(r.r9)), r.r10, r.r11,
                  Item(reinterpret_cast<void*>(r12)), r13, r14, r.r15);
}

QW_LEAN_ENTRY(_WORDS, qw_entry_words);

// _KEYTEXT: r9, r10, r11 an operand -> r12 the address of its text, r14
// the text's length.
QW_ENTRY(_KEYTEXT, qw_entry_keytext);
extern "C" void qw_entry_keytext(qw::Regs& r) {
  const char* text;
  qw::words::key_text(qw::Item(reinterpret_cast<void*>(r.r9)), r.r10, r.r11, text, r.r14);
  r.r12 = reinterpret_cast<uint64_t>(text);
}
