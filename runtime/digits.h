// Whole numbers as fixed-width digit text, eight digits at a time in one
// 64-bit word whose lowest byte holds the first character.  The quick way
// of the line fields, whose numbers mostly have pictures of nines alone:
// such a picture shows a value as its digits, leading zeros kept, and a
// text of digits reads back as that value (what the numbers module's
// editing and reading give for them).
//
// Freestanding and header-only.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::digits {

inline constexpr uint64_t kZeros = 0x3030303030303030ULL;
inline constexpr uint64_t kHundredMillion = 100000000;

// 10^0 to 10^16: the values n digits can show lie below kPowers[n].
inline constexpr uint64_t kPowers[17] = {
    1ULL,           10ULL,           100ULL,           1000ULL,           10000ULL,
    100000ULL,      1000000ULL,      10000000ULL,      100000000ULL,      1000000000ULL,
    10000000000ULL, 100000000000ULL, 1000000000000ULL, 10000000000000ULL, 100000000000000ULL,
    1000000000000000ULL, 10000000000000000ULL};

// The value of eight digit characters; -1 when any of them is no digit.
inline int64_t eight_value(uint64_t x) {
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
  if ((x & kHigh) != (kZeros & kHigh) || ((x + 0x0606060606060606ULL) & kHigh) != (kZeros & kHigh))
    return -1;
  uint64_t v = x - kZeros;  // the eight values combined in pairs, fours, eights
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
  return static_cast<int64_t>((v * 10000 + (v >> 32)) & 0xFFFFFFFFULL);
}

// The first n (1 to 8) of the eight characters at p, behind 8 - n zeros.
inline uint64_t leading(const uint8_t* p, uint64_t n) {
  const uint64_t pad = 8 * (8 - n);
  return (static_cast<uint64_t>(load64(p)) << pad) | (kZeros & ((1ULL << pad) - 1));
}

// The value of the n digits (1 to 16) at text; -1 when any is no digit.
// Reads the eight bytes at text (more than there are digits when n < 8).
inline int64_t value_of(const uint8_t* text, uint64_t n) {
  if (n <= 8) return eight_value(leading(text, n));
  const int64_t head = eight_value(leading(text, n - 8));
  const int64_t tail = eight_value(static_cast<uint64_t>(load64(text + n - 8)));
  if ((head | tail) < 0) return -1;
  return head * static_cast<int64_t>(kHundredMillion) + tail;
}

// The eight digits of v (below 10^8), leading zeros kept: split into
// halves of four digits, each into two of two, each into single digits,
// all lanes at once.
inline uint64_t eight_characters(uint64_t v) {
  const uint64_t high = v / 10000;
  uint64_t x = high | ((v - high * 10000) << 32);
  uint64_t q = ((x * 10486) >> 20) & 0x0000007F0000007FULL;  // x / 100 per lane
  x = q | ((x - q * 100) << 16);
  q = ((x * 103) >> 10) & 0x000F000F000F000FULL;  // x / 10 per lane
  x = q | ((x - q * 10) << 8);
  return x + kZeros;
}

// The last n (1 to 8) of the eight characters in `chars`, to out[0, n).
inline void store_last(uint64_t chars, uint64_t n, uint8_t* out) {
  chars >>= 8 * (8 - n);
  if (n >= 4) {
    const uint32_t head = static_cast<uint32_t>(chars);
    const uint32_t tail = static_cast<uint32_t>(chars >> (8 * (n - 4)));
    __builtin_memcpy(out, &head, 4);
    __builtin_memcpy(out + n - 4, &tail, 4);
  } else {
    for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(chars >> (8 * i));
  }
}

// The n digits (1 to 16) of v (below 10^n), leading zeros kept, to
// out[0, n).
__attribute__((always_inline)) inline void write(uint64_t v, uint64_t n, uint8_t* out) {
  if (n <= 8) {
    store_last(eight_characters(v), n, out);
    return;
  }
  const uint64_t high = v / kHundredMillion;
  if (n == 9) out[0] = static_cast<uint8_t>('0' + high);  // one digit needs no splitting
  else store_last(eight_characters(high), n - 8, out);
  const uint64_t low = eight_characters(v - high * kHundredMillion);
  __builtin_memcpy(out + n - 8, &low, 8);
}

// True when the n characters at p are all "9": eight (or four) at a time,
// the last group ending at the last character; reads only them.
inline bool all_nines(const void* at, uint64_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(at);
  constexpr uint64_t kNines = 0x3939393939393939ULL;
  if (n >= 8) {
    for (uint64_t i = 0; i + 8 < n; i += 8)
      if (static_cast<uint64_t>(load64(p + i)) != kNines) return false;
    return static_cast<uint64_t>(load64(p + n - 8)) == kNines;
  }
  if (n >= 4) {
    uint32_t head, tail;
    __builtin_memcpy(&head, p, 4);
    __builtin_memcpy(&tail, p + n - 4, 4);
    return head == static_cast<uint32_t>(kNines) && tail == static_cast<uint32_t>(kNines);
  }
  for (uint64_t i = 0; i < n; ++i)
    if (p[i] != '9') return false;
  return true;
}

}  // namespace qw::digits
