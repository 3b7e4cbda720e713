// The record's flat form, for every module that stores records.
#include "record.h"

#include "numbers.h"

namespace qw::record {

namespace {

// Short copies and blank fills in 16- and 8-byte steps: fields and
// entries are mostly a few dozen bytes long, where a block instruction's
// start-up would dominate.  Source and destination never overlap (the flat
// form always lies in a buffer or table of its own).
inline void copy_bytes(uint8_t* d, const uint8_t* s, uint64_t n) {
  typedef char Bytes16 __attribute__((vector_size(16)));
  if (n > 256) {
    __builtin_memmove(d, s, n);
    return;
  }
  if (n >= 16) {
    // Whole 16-byte steps, then one last step that ends at the last byte
    // (it may cover bytes already copied).
    Bytes16 v, tail;
    __builtin_memcpy(&tail, s + n - 16, 16);
    for (; n > 16; n -= 16, d += 16, s += 16) {
      __builtin_memcpy(&v, s, 16);
      __builtin_memcpy(d, &v, 16);
    }
    __builtin_memcpy(d + n - 16, &tail, 16);
    return;
  }
  if (n >= 8) {
    // Whole 8-byte steps, then one last step that ends at the last byte
    // (it may cover bytes already copied).
    const uint64_t tail = load64(s + n - 8);
    for (; n > 8; n -= 8, d += 8, s += 8) store64(d, load64(s));
    store64(d + n - 8, tail);
    return;
  }
  if (n >= 4) {
    uint32_t head, last;
    __builtin_memcpy(&head, s, 4);
    __builtin_memcpy(&last, s + n - 4, 4);
    __builtin_memcpy(d, &head, 4);
    __builtin_memcpy(d + n - 4, &last, 4);
    return;
  }
  for (; n > 0; --n) *d++ = *s++;
}

inline void fill_blanks(uint8_t* d, uint64_t n) {
  for (; n >= 8; n -= 8, d += 8) store64(d, 0x2020202020202020);
  for (; n > 0; --n) *d++ = ' ';
}

// The character the numbers module shows in a picture's first position
// when the value cannot be shown.
constexpr uint8_t kOverflowMark = '*';

uint8_t* buffer() { return opaque(w_RecordBuffer); }

// Entries of up to this length are built here first and copied only when
// every number shows; longer ones are checked number by number first.
constexpr uint64_t kStagingSize = 65536;
uint8_t g_staging[kStagingSize];

}  // namespace

Flat to_flat(Record rec, uint8_t* out, uint64_t capacity) {
  uint64_t at = 0;
  bool shown = true;
  for (Item f = rec.first_field(); !Record::is_end(f) && at < capacity; f = f.next()) {
    const uint64_t room = capacity - at;
    const uint64_t len = f.length();
    const uint64_t c = len < room ? len : room;
    if (f.is_number()) {
      char* text = reinterpret_cast<char*>(out + at);
      const Number n(f.data());
      shown &= c == len ? numbers::to_text(n, {}, text)
                        : numbers::to_text_marked(n, {}, text, c).shown;
    } else {
      copy_bytes(out + at, f.data(), c);
    }
    at += c;
  }
  return {at, shown};
}

void to_empty_flat(Record rec, uint8_t* out, uint64_t capacity) {
  uint64_t at = 0;
  for (Item f = rec.first_field(); !Record::is_end(f) && at < capacity; f = f.next()) {
    const uint64_t room = capacity - at;
    const uint64_t c = f.length() < room ? f.length() : room;
    if (f.is_number()) {
      const Number n(f.data());
      const int64_t kept = n.value();
      n.set_value(0);
      numbers::to_text_marked(n, {}, reinterpret_cast<char*>(out + at), c);
      n.set_value(kept);
    } else {
      fill_blanks(out + at, c);
    }
    at += c;
  }
}

bool shows(Record rec) {
  for (Item f = rec.first_field(); !Record::is_end(f); f = f.next())
    if (f.is_number() && !numbers::picture_shows(Number(f.data()), {})) return false;
  return true;
}

bool leads_with_zero(Record rec) {
  for (Item f = rec.first_field(); !Record::is_end(f); f = f.next())
    if (f.length() > 0) return !f.is_number() && f.data()[0] == 0;
  return false;
}

bool to_entry(Record rec, uint8_t* entry, uint64_t length) {
  if (length > kStagingSize) {
    if (!shows(rec)) return false;
    to_flat(rec, entry, length);
    return true;
  }
  const Flat flat = to_flat(rec, g_staging, length);
  if (!flat.shown) return false;
  copy_bytes(entry, g_staging, flat.length);
  return true;
}

void from_flat(Record rec, const uint8_t* in, uint64_t available) {
  int code = 0;
  uint64_t at = 0;
  for (Item f = rec.first_field(); !Record::is_end(f); f = f.next()) {
    const uint64_t len = f.length();
    const uint64_t avail = at < available ? available - at : 0;
    const uint64_t c = len < avail ? len : avail;
    if (f.is_number()) {
      const int read =
          numbers::from_field(Number(f.data()), reinterpret_cast<const char*>(in + at), c);
      if (read > code) code = read;
    } else {
      copy_bytes(f.data(), in + at, c);
      if (c < len) fill_blanks(f.data() + c, len - c);
    }
    at += len;
  }
  return_code().set_value(code);
}

bool holds_mark(Record rec, const uint8_t* in, uint64_t available) {
  uint64_t at = 0;
  for (Item f = rec.first_field(); !Record::is_end(f) && at < available; f = f.next()) {
    if (f.is_number() && f.length() > 0 && in[at] == kOverflowMark) return true;
    at += f.length();
  }
  return false;
}

void text_to_record(Word src, uint64_t start, Record rec) {
  uint64_t flat = rec.flat_length();
  if (flat > kRecordBufferSize) flat = kRecordBufferSize;
  const uint64_t len = src.length();
  if (start == 0 || start >= 65536) start = 1;
  const uint64_t avail = start <= len ? len - start + 1 : 0;
  const uint64_t c = flat < avail ? flat : avail;
  uint8_t* buf = claim_buffer();
  __builtin_memmove(buf, src.text() + start - 1, c);
  // A short text leaves the remaining fields blank rather than filled from
  // whatever record the buffer held before.
  __builtin_memset(buf + c, ' ', flat - c);
  record_buffer().set_length(flat);
  from_flat(rec, buf, flat);
}

void record_to_text(Record rec, Word dest, uint64_t start) {
  uint8_t* buf = claim_buffer();
  const Flat made = to_flat(rec, buf, kRecordBufferSize);
  if (!made.shown) {
    record_buffer().set_length(0);
    return_code().set_value(kNumberNotShown);
    return;
  }
  return_code().set_value(0);
  const uint64_t flat = made.length;
  record_buffer().set_length(flat);
  const uint64_t len = dest.length();
  if (start == 0 || start >= 65536) start = 1;
  if (start > len) return;
  const uint64_t room = len - start + 1;
  __builtin_memmove(dest.text() + start - 1, buf, flat < room ? flat : room);
}

uint8_t* claim_buffer() {
  if (g_buffer_keeper != nullptr) g_buffer_keeper();
  return buffer();
}

}  // namespace qw::record
