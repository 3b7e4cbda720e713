// The numbers module: fixed-point arithmetic on 64-bit values whose scale
// comes from the edit picture, conversion between numbers and text, and the
// numeric comparison of the decisions module.
//
// A number's Scale field caches 10^places.  Every routine that reads a
// number through its own picture first works out its places (the scale
// scan) and stores the scale, so that later calls can take the places
// straight from the cache.
//
// One overflow rule holds for every operation: the exact result, rounded
// half up on the magnitude to the receiving places, is stored when it fits
// 64 bits; otherwise the range message ends the program.  Sums are aligned
// and products formed in 128 bits where 64 do not suffice.
#include "numbers.h"

#include "digits.h"
#include "common.h"
#include "picture.h"

extern "C" {
extern const uint64_t qw_pow10[20];
__attribute__((used)) constexpr uint64_t qw_pow10[20] = {
    1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL, 10000000ULL,
    100000000ULL, 1000000000ULL, 10000000000ULL, 100000000000ULL, 1000000000000ULL,
    10000000000000ULL, 100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL,
    100000000000000000ULL, 1000000000000000000ULL, 10000000000000000000ULL};
}

namespace qw::numbers {

namespace {

using u128 = unsigned __int128;

constexpr int64_t kMinValue = INT64_MIN;
constexpr uint64_t kMaxValue = static_cast<uint64_t>(INT64_MAX);

// 10^k, also read by the fast path of _NUMBERS.
constexpr const auto& kPow10 = qw_pow10;

[[noreturn]] void range_error() { fatal_library(kErrRange); }

// 10^k as a scale; a scale beyond 64 bits cannot be represented.
int64_t scale_for(int places) {
  if (places > 18) range_error();
  return static_cast<int64_t>(kPow10[places]);
}

// k when s == 10^k (1 <= k <= 18), otherwise -1.
__attribute__((always_inline)) inline int places_of_scale(int64_t s) {
  // The usual scales first: plain comparisons predict well.
  if (s == 100) return 2;
  if (s == 10000) return 4;
  if (s == 10) return 1;
  if (s == 1000) return 3;
  for (int k = 5; k <= 18; ++k)
    if (static_cast<uint64_t>(s) == kPow10[k]) return k;
  return -1;
}

using picture::has_sign_position;
using picture::scale_places;

// True when the picture holds a ".".  Most pictures have none, and then the
// places are 0 without a full scan; eight characters are tested at a time.
__attribute__((always_inline)) inline bool has_point(const char* p, uint64_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kDots = kOnes * '.';
  auto dot_in = [](uint64_t x) {
    x ^= kDots;
    return ((x - kOnes) & ~x & kHigh) != 0;
  };
  if (n >= 8) {
    // Whole words, the last one ending at the last character.
    for (uint64_t i = 0; i + 8 < n; i += 8)
      if (dot_in(static_cast<uint64_t>(load64(p + i)))) return true;
    return dot_in(static_cast<uint64_t>(load64(p + n - 8)));
  }
  if (n >= 4) {  // two halves that may overlap, as one word
    uint32_t head, last;
    __builtin_memcpy(&head, p, 4);
    __builtin_memcpy(&last, p + n - 4, 4);
    return dot_in(head | static_cast<uint64_t>(last) << 32);
  }
  for (uint64_t i = 0; i < n; ++i)
    if (p[i] == '.') return true;
  return false;
}

struct Loaded {
  int64_t value;
  int places;
};

inline const char* picture_text(Number n, Picture pic) {
  return pic.text ? pic.text : n.picture();
}
inline uint64_t picture_length(Number n, Picture pic) {
  return pic.text ? pic.length : n.picture_length();
}

// Places of a number read through its own picture, caching its Scale: -1
// and 0 become 1 (not worked out / no decimals); a picture with places
// stores 10^places unless a scale above 1 is already stored, which is then
// used unchanged.
__attribute__((always_inline)) inline int own_places(Number n) {
  int64_t s = n.scale();
  if (s > 1) {
    // The cached scale was worked out from this very picture.
    int k = places_of_scale(s);
    if (k >= 0) return k;
  }
  const char* p = n.picture();
  uint64_t len = n.picture_length();
  int places = has_point(p, len) ? scale_places(p, len) : 0;
  if (s < 1) {
    s = 1;
    n.set_scale(1);
  }
  if (places > 0 && s <= 1) n.set_scale(scale_for(places));
  return places;
}

// Places of an explicit picture.  The number read through it keeps its own
// cached Scale: the picture is this operand's view, not the number's.
inline int picture_places(Picture pic) {
  int places = has_point(pic.text, pic.length) ? scale_places(pic.text, pic.length) : 0;
  if (places > 18) range_error();
  return places;
}

__attribute__((always_inline)) inline Loaded load(Number n, Picture pic) {
  return {n.value(), pic.text ? picture_places(pic) : own_places(n)};
}

inline uint64_t magnitude(int64_t v) {
  return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

inline int64_t mul_checked(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) range_error();
  return r;
}

// The result of a magnitude and a sign; beyond 63 bits it is the range
// message.
inline int64_t signed_result(u128 mag, bool negative) {
  if (mag > kMaxValue) range_error();
  return negative ? -static_cast<int64_t>(mag) : static_cast<int64_t>(mag);
}

// 128-by-64-bit division; the caller guarantees hi < d (quotient fits).
inline uint64_t udiv128(uint64_t hi, uint64_t lo, uint64_t d, uint64_t* rem) {
  uint64_t q, r;
  asm("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d));
  *rem = r;
  return q;
}

// Drops `k` decimal places of a magnitude, adding 1 when the first dropped
// digit is 5 or more (half-up once, on the magnitude).
template <uint64_t P>
inline uint64_t drop_by(uint64_t mag) {
  uint64_t q = mag / P, r = mag % P;
  return r >= P / 2 ? q + 1 : q;
}

inline uint64_t drop_places(uint64_t mag, int k) {
  // Constant divisors let the compiler multiply instead of divide.
  switch (k) {
    case 0: return mag;
    case 1: return drop_by<10>(mag);
    case 2: return drop_by<100>(mag);
    case 3: return drop_by<1000>(mag);
    case 4: return drop_by<10000>(mag);
    case 5: return drop_by<100000>(mag);
    case 6: return drop_by<1000000>(mag);
    default: break;
  }
  if (k < 0) return mag;
  if (k <= 19) {
    uint64_t p = kPow10[k];
    uint64_t q = mag / p, r = mag % p;
    if (r >= 5 * kPow10[k - 1]) ++q;
    return q;
  }
  return 0;  // more than 19 places dropped from a 64-bit value
}

// The same for an exact intermediate of up to 128 bits (k at most 18).
u128 drop_places_wide(u128 mag, int k) {
  uint64_t hi = static_cast<uint64_t>(mag >> 64), lo = static_cast<uint64_t>(mag);
  if (hi == 0) return drop_places(lo, k);
  if (k == 0) return mag;
  uint64_t p = kPow10[k], r;
  uint64_t q_lo = udiv128(hi % p, lo, p, &r);
  u128 q = (static_cast<u128>(hi / p) << 64) | q_lo;
  return r >= p / 2 ? q + 1 : q;
}

// v at `from` places brought to `to` places: multiplied up (a value beyond
// 64 bits is the range message) or rounded half up on the magnitude.
inline int64_t rescaled(int64_t v, int from, int to) {
  if (to > from) return mul_checked(v, static_cast<int64_t>(kPow10[to - from]));
  if (to == from) return v;
  uint64_t m = drop_places(magnitude(v), from - to);
  return v < 0 ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
}

// a ± b, a at `a_places`, b at `b_places`, aligned exactly in 128 bits and
// rounded to `to` places.  Used when the 64-bit alignment or sum overflows.
int64_t add_wide(int64_t a, int a_places, int64_t b, int b_places, bool subtract, int to) {
  int m = a_places > b_places ? a_places : b_places;
  __int128 x = static_cast<__int128>(a) * static_cast<int64_t>(kPow10[m - a_places]);
  __int128 y = static_cast<__int128>(b) * static_cast<int64_t>(kPow10[m - b_places]);
  __int128 sum = subtract ? x - y : x + y;
  bool negative = sum < 0;
  u128 mag = negative ? -static_cast<u128>(sum) : static_cast<u128>(sum);
  return signed_result(drop_places_wide(mag, m - to), negative);
}

// The product of two magnitudes is exact in 128 bits; the multiplier's
// places are dropped with half-up rounding, and a result beyond 63 bits is
// the range message.
int64_t multiply_wide(uint64_t a, uint64_t b, int drop, bool negative) {
  return signed_result(drop_places_wide(static_cast<u128>(a) * b, drop), negative);
}

uint64_t divide_magnitudes(uint64_t a, uint64_t b, int extra_places) {
  // Long division: the integer quotient, `extra_places` further digits, and
  // one more digit that rounds half-up.  Any step beyond 63 bits is fatal.
  uint64_t q = a / b, rem = a % b;
  for (int i = 0; i < extra_places; ++i) {
    if (q > kMaxValue / 10) range_error();
    uint64_t r;
    uint64_t hi = static_cast<uint64_t>((static_cast<u128>(rem) * 10) >> 64);
    uint64_t lo = rem * 10;
    uint64_t d = udiv128(hi, lo, b, &r);
    rem = r;
    q = q * 10 + d;
    if (q > kMaxValue) range_error();
  }
  uint64_t r;
  uint64_t hi = static_cast<uint64_t>((static_cast<u128>(rem) * 10) >> 64);
  uint64_t d = udiv128(hi, rem * 10, b, &r);
  if (d >= 5) ++q;
  if (q > kMaxValue) range_error();
  return q;
}

bool blank_picture(Number n) { return n.picture_length() == 0 || n.picture()[0] == ' '; }

// A picture built from text: a "9" per digit, the first "." kept, "-" when
// the text was negative; "9" when nothing was appended.  It is written over
// the number's picture area, which it never outgrows: a longer picture loses
// its leading positions.
void build_picture(Number n, const char* text, uint64_t length, bool negative) {
  uint64_t capacity = n.picture_length();
  if (capacity == 0) return;
  char* out = n.picture();
  // Count first so the picture can be written right-aligned into the area.
  uint64_t count = 0;
  bool point = false;
  for (uint64_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') ++count;
    else if (c == '.' && !point) { point = true; ++count; }
  }
  if (negative) ++count;
  if (count == 0) {
    out[0] = '9';
    n.set_length(1);
    n.set_scale(0);
    return;
  }
  uint64_t skip = count > capacity ? count - capacity : 0;  // leading positions lost
  uint64_t w = 0, produced = 0;
  point = false;
  for (uint64_t i = 0; i < length; ++i) {
    char c = text[i];
    char p;
    if (c >= '0' && c <= '9') p = '9';
    else if (c == '.' && !point) { point = true; p = '.'; }
    else continue;
    if (produced++ >= skip) out[w++] = p;
  }
  if (negative) out[w++] = '-';
  n.set_length(w);
  n.set_scale(0);
}

void set_return_code(int64_t v) { store64(RETURN_CODE, v); }

// What a text to be converted holds, read front to back: its digits as one
// number (while there are at most 18, which cannot overflow), how many
// digits, how many follow the last ".", its sign, and whether it has the
// form of a number: digits and commas, at most one ".", and one "-" as its
// first or last character.
struct TextNumber {
  uint64_t value;
  int digits;
  int decimals;
  bool negative;
  bool malformed;
};

// Eight digits in one word (the first character the most significant) as
// their value, or -1 when the word holds anything else.
__attribute__((always_inline)) inline int64_t eight_digits_of(uint64_t x) {
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kZeros = 0x3030303030303030ULL;
  if ((x & kHigh) != kZeros || ((x + 0x0606060606060606ULL) & kHigh) != kZeros) return -1;
  uint64_t v = x - kZeros;  // the eight values combined in pairs, fours, eights
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
  return static_cast<int64_t>((v * 10000 + (v >> 32)) & 0xFFFFFFFFULL);
}

__attribute__((always_inline)) inline int64_t eight_digits(const char* text) {
  return eight_digits_of(static_cast<uint64_t>(load64(text)));
}

// The value of the n (1 to 18) characters at `text` when all are digits,
// otherwise -1.  Eight at a time from the last ones; fewer than eight are
// read as the word of eight with "0"s in front, taken from two
// 4-byte loads inside the text, and fewer than four one by one.
__attribute__((always_inline)) inline int64_t short_digits_value(const char* text, uint64_t n) {
  if (n < 4) {
    int64_t v = 0;
    for (uint64_t i = 0; i < n; ++i) {
      const uint32_t d = static_cast<uint32_t>(static_cast<uint8_t>(text[i])) - '0';
      if (d > 9) return -1;
      v = v * 10 + d;
    }
    return v;
  }
  constexpr uint64_t kZeros = 0x3030303030303030ULL;
  uint32_t lo, hi;
  __builtin_memcpy(&lo, text, 4);
  __builtin_memcpy(&hi, text + n - 4, 4);
  return eight_digits_of((static_cast<uint64_t>(hi) << 32) |
                         ((static_cast<uint64_t>(lo) << (8 * (8 - n))) & 0xFFFFFFFFULL) |
                         (kZeros >> (8 * n)));
}

__attribute__((always_inline)) inline int64_t digits_value(const char* text, uint64_t n) {
  if (n < 8) return short_digits_value(text, n);
  int64_t v = eight_digits(text + n - 8), weight = 100000000;
  n -= 8;
  if (n >= 8) {
    const int64_t middle = eight_digits(text + n - 8);
    if (v < 0 || middle < 0) return -1;
    v += middle * weight;
    weight *= 100000000;
    n -= 8;
  }
  if (v < 0 || n == 0) return v;
  const int64_t head = short_digits_value(text, n);
  return head < 0 ? -1 : v + head * weight;
}

__attribute__((always_inline)) inline TextNumber read_text(const char* text, uint64_t length) {
  TextNumber t{0, 0, 0, false, false};
  bool point = false;
  uint64_t i = 0;
  // A field's text mostly runs on in digits: eight at a time while it does.
  for (int64_t v; i + 8 <= length && t.digits <= 10 && (v = eight_digits(text + i)) >= 0; i += 8) {
    t.value = t.value * 100000000ULL + static_cast<uint64_t>(v);
    t.digits += 8;
  }
  for (; i < length; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    const uint32_t d = static_cast<uint32_t>(c) - '0';
    if (d <= 9) {
      if (++t.digits <= 18) t.value = t.value * 10 + d;
      ++t.decimals;  // counted from the last "."
    } else if (c == '.') {
      t.malformed |= point;
      point = true;
      t.decimals = 0;
    } else if (c == '-') {
      t.malformed |= t.negative || (i != 0 && i + 1 != length);
      t.negative = true;
    } else if (c != ',') {
      t.malformed = true;
    }
  }
  if (!point) t.decimals = 0;
  return t;
}

// Drops `k` (1 to 18) places of a text's value, rounding at every dropped
// digit from the last: 0.149 to one place is 0.15, then 0.2.  The carry
// out of the dropped digits is 1 exactly when they read at least 4...45.
inline uint64_t drop_text_places(uint64_t v, int k) {
  const uint64_t p = kPow10[k], threshold = 4 * (p - 1) / 9 + 1;
  return v / p + (v % p >= threshold ? 1 : 0);
}

// A text of more than 18 digits, walked from its last character: the
// digits beyond `places` decide the carry, the others are weighed.  False
// when the value does not fit 63 bits.
bool long_text_value(const char* text, uint64_t length, int drop, uint64_t& out) {
  uint64_t value = 0;
  int carry = 0, weight = 0;  // the kept digit's power of ten
  for (uint64_t i = length; i-- > 0;) {
    const uint32_t d = static_cast<uint32_t>(static_cast<uint8_t>(text[i])) - '0';
    if (d > 9) continue;
    if (drop > 0) {
      carry = d + carry >= 5;
      --drop;
      continue;
    }
    if (d != 0) {
      if (weight > 18) return false;
      value += d * kPow10[weight];  // at most 9e18 + 2^63: no wrap
      if (value > kMaxValue) return false;
    }
    ++weight;
  }
  out = value + carry;
  return out <= kMaxValue;
}

// The magnitude of a read text at `places` places; false when it does not
// fit 63 bits.
__attribute__((always_inline)) inline bool text_value(const char* text, uint64_t length,
                                                     const TextNumber& t, int places,
                                                     uint64_t& out) {
  uint64_t v = t.value;
  if (t.digits > 18) {
    if (!long_text_value(text, length, t.decimals > places ? t.decimals - places : 0, v))
      return false;
  } else if (t.decimals > places) {
    v = drop_text_places(v, t.decimals - places);
  }
  if (t.decimals < places && v != 0) {
    int k = places - t.decimals;
    if (k > 18 || v > kMaxValue / kPow10[k]) return false;
    v *= kPow10[k];
  }
  out = v;
  return true;
}

// What converting a text gave: the RETURN_CODE of the conversion, and
// whether the text was digits alone.
struct Converted {
  int code;
  bool digits_only;
};

// Text to number.  A value that does not fit 64 bits is not an error of the
// program: the number becomes 0 and the code is kTextOverflow.
__attribute__((always_inline)) inline Converted convert_text(Number target, const char* text,
                                                           uint64_t length, bool may_build) {
  TextNumber t = read_text(text, length);
  if (may_build && blank_picture(target)) build_picture(target, text, length, t.negative);
  target.set_scale(0);
  const bool digits_only = static_cast<uint64_t>(t.digits) == length;
  uint64_t v;
  if (!text_value(text, length, t, own_places(target), v)) {
    target.set_value(0);
    return {kTextOverflow, digits_only};
  }
  target.set_value(t.negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
  // A text without a digit ('', '-', '.', ',') is no number either.
  return {t.malformed || t.digits == 0 ? 9 : 0, digits_only};
}

using digits::all_nines;

// A value a picture of nines (1 to 16 of them) shows: its L digits, leading
// zeros kept.
__attribute__((always_inline)) inline void edit_nines(uint64_t mag, uint64_t L, char* out) {
  digits::write(mag, L, reinterpret_cast<uint8_t*>(out));
}

// True when v shows through pic as its digits alone: a picture of 1 to 16
// nines (no sign position, no suppression, no point) and a value that is
// not negative and fits it.
inline bool shows_as_nines(int64_t v, const char* pic, uint64_t L) {
  return v >= 0 && L - 1 < 16 && static_cast<uint64_t>(v) < kPow10[L] && all_nines(pic, L);
}

// The editor.  Writes the edited text of `v` through `pic` (L characters)
// into out[0 .. limit) and answers whether it shows the value: no digits
// are left over and a negative value has a sign position.  A text that
// does not show its value carries the "*" mark in its first position.
bool edit(int64_t v, const char* pic, uint64_t L, char* out, uint64_t limit) {
  if (L == 0) return v == 0;
  if (limit >= L && shows_as_nines(v, pic, L)) {
    edit_nines(static_cast<uint64_t>(v), L, out);
    return true;
  }
  uint64_t mag = magnitude(v);
  uint64_t i = L;
  if (has_sign_position(pic, L)) {
    --i;
    if (i < limit) out[i] = v < 0 ? '-' : '+';
  }
  while (i-- > 0) {
    char c = pic[i];
    char o;
    if (c == '.' || c == ',') {
      o = c;
    } else {
      o = static_cast<char>('0' + mag % 10);
      mag /= 10;
    }
    if (i < limit) out[i] = o;
  }
  // Leading-zero suppression, never touching the last position.
  uint64_t end = L - 1 < limit ? L - 1 : limit;
  for (uint64_t j = 0; j < end; ++j) {
    char o = out[j];
    if (o > '0' || o == '.') break;
    if (pic[j] == '#' || (j > 0 && pic[j - 1] == '#')) out[j] = ' ';
  }
  if (mag == 0 && (v >= 0 || has_sign_position(pic, L))) return true;
  if (limit > 0) out[0] = '*';
  return false;
}

// The longest picture whose edited form a field read compares with its
// text; pictures of the language are far shorter.
constexpr uint64_t kLongestCompared = 128;

}  // namespace

int places(Number n, Picture pic) { return load(n, pic).places; }

void store_integer(Number target, int64_t v) {
  int p = load(target, {}).places;
  target.set_value(p == 0 ? v : mul_checked(v, static_cast<int64_t>(kPow10[p])));
}

void from_text(Number target, const char* text, uint64_t length) {
  set_return_code(convert_text(target, text, length, true).code);
}

namespace {
// The code of a field read whose text is not digits through a picture of
// nines: 0 when it is exactly what editing the value read gives.
__attribute__((noinline)) int edited_form_code(Number n, const char* text, uint64_t length,
                                               int code) {
  const uint64_t L = n.picture_length();
  if (code == kTextOverflow || blank_picture(n) || L > kLongestCompared) return code;
  if (length != L) return 9;
  char edited[kLongestCompared];
  edit(n.value(), n.picture(), L, edited, L);
  return __builtin_memcmp(edited, text, L) == 0 ? 0 : 9;
}
}  // namespace

namespace {
// The quick read of a field: a picture of "9" positions with at most one
// "." and maybe a sign position, and a text of exactly its edited form's
// shape - a digit under every "9", the "." under the ".", "+" or "-" in the
// sign position.  The value is then the digits at the picture's places,
// and the text is what editing it gives unless it is a "-" zero (editing
// shows "+").  False, nothing changed, for any other picture or text.
__attribute__((always_inline)) inline bool quick_field(Number target, const char* text,
                                                      uint64_t length, int& code) {
  const uint64_t L = target.picture_length();
  if (length != L || L == 0 || L > 20) return false;
  const char* pic = target.picture();
  uint64_t body = L;
  bool negative = false;
  if (has_sign_position(pic, L)) {
    const char sign = text[--body];
    if (sign != '-' && sign != '+') return false;
    negative = sign == '-';
  }
  uint64_t v = 0, point = body;  // the "." at `point`, none at `body`
  if (body <= 18 && all_nines(pic, body)) {
    const int64_t d = digits_value(text, body);
    if (d < 0) return false;
    v = static_cast<uint64_t>(d);
  } else {
    for (uint64_t i = 0; i < body; ++i) {
      const uint32_t d = static_cast<uint32_t>(static_cast<uint8_t>(text[i])) - '0';
      if (pic[i] == '9' && d <= 9) {
        v = v * 10 + d;
      } else if (pic[i] == '.' && text[i] == '.' && point == body) {
        point = i;
      } else {
        return false;
      }
    }
  }
  const uint64_t digits = point == body ? body : body - 1;
  if (digits == 0 || digits > 18) return false;
  const uint64_t places = point == body ? 0 : body - 1 - point;
  target.set_scale(static_cast<int64_t>(kPow10[places]));
  target.set_value(negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
  code = negative && v == 0 ? 9 : 0;
  return true;
}
}  // namespace

int from_field(Number target, const char* text, uint64_t length) {
  int code;
  if (quick_field(target, text, length, code)) return code;
  return from_any_field(target, text, length);
}

int from_any_field(Number target, const char* text, uint64_t length) {
  const Converted read = convert_text(target, text, length, false);
  // A picture of nines shows every value it can as its digits alone (a
  // value beyond 64 bits keeps its code).
  if (read.digits_only && length == target.picture_length() && all_nines(target.picture(), length))
    return read.code;
  return edited_form_code(target, text, length, read.code);
}

uint64_t edited_length(Number source, Picture pic) { return picture_length(source, pic); }

bool picture_shows(Number n, Picture pic) {
  return edit(n.value(), picture_text(n, pic), picture_length(n, pic), nullptr, 0);
}

bool to_text(Number source, Picture pic, char* dest) {
  const uint64_t L = picture_length(source, pic);
  const char* p = picture_text(source, pic);
  const int64_t v = source.value();
  if (shows_as_nines(v, p, L)) {  // as a field's picture mostly is
    edit_nines(static_cast<uint64_t>(v), L, dest);
    return true;
  }
  return edit(v, p, L, dest, L);
}

Edited to_text_marked(Number source, Picture pic, char* dest, uint64_t room) {
  const uint64_t L = picture_length(source, pic);
  const char* p = picture_text(source, pic);
  if (room >= L) return {L, edit(source.value(), p, L, dest, L)};
  edit(source.value(), p, L, dest, room);
  if (room > 0) dest[0] = '*';  // marked as a too-narrow picture is
  return {room, false};
}

void to_word(Number source, Picture pic, Word dest, uint64_t start, bool set_length) {
  if (set_length) dest.set_length(picture_length(source, pic));
  uint64_t len = dest.length();
  if (start == 0 || start >= 65536) start = 1;
  if (start > len) return;
  to_text_marked(source, pic, dest.text() + start - 1, len - start + 1);
}

namespace {
// The calculation itself; the register entry inlines it as well, so that the
// hot path makes no further call.
__attribute__((always_inline)) inline void compute_body(int op, Number target, Item operand,
                                                        Picture pic, uint64_t word_start,
                                                        uint64_t word_length) {
  if (!target.is_number()) fatal_library(kErrUseWords);
  if (!operand.is_number()) {
    if (!operand.is_word()) fatal_library(kErrNonNumeric);
    if (op != kAssign) fatal_library(kErrUseEquals);
    validate_source(operand.data(), word_start, word_length);
    from_text(target, reinterpret_cast<const char*>(operand.data()) + word_start - 1, word_length);
    return;
  }
  if (op != kAssign && op != kAdd && op != kSubtract && op != kMultiply && op != kDivide)
    fatal_library(kErrUnknownOperation);
  if (blank_picture(target)) fatal_library(kErrNoPicture);
  Number source(operand.data());
  int64_t tv = target.value(), ov = source.value();
  if (tv == kMinValue || ov == kMinValue) fatal_library(kErrEnteredRange);

  const int rp = load(target, {}).places;
  const int op_places = load(source, pic).places;
  int64_t result;
  int places;  // of `result`

  switch (op) {
    case kAssign:
      // The old value is replaced: only the operand is brought to the
      // receiving places.
      target.set_value(rescaled(ov, op_places, rp));
      return;
    case kAdd:
    case kSubtract: {
      // Aligned to the finer of the two; when that or the sum leaves 64
      // bits, the exact sum is formed in 128 bits, so only a rounded result
      // that does not fit is refused.
      int64_t a = tv, b = ov;
      bool wide = false;
      places = rp;
      if (rp < op_places) {
        wide = __builtin_mul_overflow(a, static_cast<int64_t>(kPow10[op_places - rp]), &a);
        places = op_places;
      } else if (op_places < rp) {
        wide = __builtin_mul_overflow(b, static_cast<int64_t>(kPow10[rp - op_places]), &b);
      }
      wide = wide || (op == kAdd ? __builtin_add_overflow(a, b, &result)
                                 : __builtin_sub_overflow(a, b, &result));
      if (wide) {
        target.set_value(add_wide(tv, rp, ov, op_places, op == kSubtract, rp));
        return;
      }
      break;
    }
    case kMultiply: {
      bool negative = (tv < 0) != (ov < 0);
      uint64_t a = magnitude(tv), b = magnitude(ov);
      u128 p = static_cast<u128>(a) * b;
      if (p > kMaxValue) {
        target.set_value(multiply_wide(a, b, op_places, negative));
        return;
      }
      result = negative ? -static_cast<int64_t>(p) : static_cast<int64_t>(p);
      places = rp + op_places;
      break;
    }
    case kDivide: {
      if (ov == 0) fatal_library(kErrDivideByZero);
      bool negative = (tv < 0) != (ov < 0);
      uint64_t q = divide_magnitudes(magnitude(tv), magnitude(ov), op_places);
      target.set_value(negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q));
      return;
    }
    default:
      __builtin_unreachable();
  }
  // Storing: surplus places are dropped with half-up rounding on the
  // magnitude.
  if (places > rp) {
    uint64_t m = drop_places(magnitude(result), places - rp);
    result = result < 0 ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
  }
  target.set_value(result);
}
}  // namespace

void compute(int op, Number target, Item operand, Picture pic, uint64_t word_start,
             uint64_t word_length) {
  compute_body(op, target, operand, pic, word_start, word_length);
}

int compare(Number left, Picture left_pic, Number right, Picture right_pic) {
  if (!left.is_number() || !right.is_number()) fatal_library(kErrCompare);
  Loaded L = load(left, left_pic);
  Loaded R = load(right, right_pic);
  // Aligned exactly in 128 bits, so no pair of values is out of range.
  __int128 a = L.value, b = R.value;
  if (L.places < R.places) a *= static_cast<int64_t>(kPow10[R.places - L.places]);
  else if (R.places < L.places) b *= static_cast<int64_t>(kPow10[L.places - R.places]);
  return a > b ? 1 : (a < b ? -1 : 0);
}

}  // namespace qw::numbers

// Register entries.
using qw::numbers::picture_at;

// _NUMBERS: r8 operation, r9 receiving number; r12 operand (r13, r14 its
// start and length for a word, or an explicit picture for a number).  For
// r8 = 0: r9 the number, r10/r11 an explicit picture, r12/r13 destination
// word and start, r15 non-zero to set the word's Length.
extern "C" void qw_entry_numbers(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                                 uint64_t) {
  using namespace qw;
  int op = static_cast<int>(r.r8);
  if (op == numbers::kToText) {
    Number source(reinterpret_cast<void*>(r.r9));
    Item dest(reinterpret_cast<void*>(r12));
    if (!source.is_number()) fatal_library(kErrNonNumeric);
    if (dest.is_number()) fatal_library(kErrUseWords);
    numbers::to_word(source, picture_at(r.r10, r.r11), Word(dest.data()), r13, r.r15 != 0);
    return;
  }
  Item operand(reinterpret_cast<void*>(r12));
  numbers::Picture pic;
  if (operand.is_number()) pic = picture_at(r13, r14);
  numbers::compute_body(op, Number(reinterpret_cast<void*>(r.r9)), operand, pic, r13, r14);
}

// _COMPARE_NO: r9/r10/r11 left number (and explicit picture), r12/r13/r14
// right; answers r15 = 1, 0 or -1.
extern "C" void qw_entry_compare_no(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                                    uint64_t) {
  using namespace qw;
  r.r15 = static_cast<uint64_t>(static_cast<int64_t>(
      numbers::compare(Number(reinterpret_cast<void*>(r.r9)), picture_at(r.r10, r.r11),
                       Number(reinterpret_cast<void*>(r12)), picture_at(r13, r14))));
}

QW_LEAN_ENTRY(qw_numbers_general, qw_entry_numbers);

// _NUMBERS itself first tries the commonest statements in place: an
// assignment, addition, subtraction or multiplication between two numbers
// whose places are known without a change to either header - a receiving
// number and an operand read through its own picture whose cached scale is
// a power of ten above 1, or 1 with no "." in the picture; or an operand
// read through an explicit picture.  The fast path takes the statements
// that need no rounding or widening: an operand at no more places than the
// receiving number (brought up to them), and a product that fits 63 bits
// (its operand's places dropped half up).  Its result is what the general
// path would store; everything else - and every case that ends in a
// message - goes to the general path.  All general registers but the flags
// are preserved; like the general path it may change xmm0 and xmm1.
namespace {
// k by the highest bit of 10^k: each power of ten has its own.
struct PlacesOfBits {
  uint8_t at[64];
  constexpr PlacesOfBits() : at() {
    for (int b = 0; b < 64; ++b) at[b] = 19;  // 10^19 matches no scale
    for (int k = 1; k <= 18; ++k) at[63 - __builtin_clzll(qw_pow10[k])] = static_cast<uint8_t>(k);
  }
};
// (n + 10^k / 2) / 10^k, n rounded half up at k places, for 0 <= n and a
// sum below 2^63, without a division: the high half of the sum times m,
// shifted right by `shift`, where m = 2^(63 + l) / 10^k rounded up and
// 2^(l - 1) < 10^k <= 2^l.  m is above 2^(63 + l) / 10^k by less than 1,
// so for a sum s < 2^63 the product is above s / 10^k by less than
// 2^-l <= 1 / 10^k, which never reaches the next whole number.
struct Pow10Reciprocals {
  uint64_t m[19];     // read by the fast path at 0
  uint64_t half[19];  // at 152
  uint8_t shift[19];  // and at 304
  constexpr Pow10Reciprocals() : m(), half(), shift() {
    for (int k = 1; k <= 18; ++k) {
      const uint64_t d = qw_pow10[k];
      const int l = 64 - __builtin_clzll(d - 1);
      m[k] = static_cast<uint64_t>((static_cast<unsigned __int128>(1) << (63 + l)) / d + 1);
      half[k] = d / 2;
      shift[k] = static_cast<uint8_t>(l - 1);
    }
  }
};
// By r8 (0 to 16): whether the fast path takes the operation, and for a
// sum the masks that make it one: the receiving value kept (all ones) or
// not (an assignment adds to 0), the operand negated (all ones: a
// difference) or not.
struct FastOperations {
  uint8_t at[17];
  uint64_t keep[17];     // at 24
  uint64_t negate[17];   // at 160
  constexpr FastOperations() : at(), keep(), negate() {
    using namespace qw::numbers;
    at[kAssign] = at[kAdd] = at[kSubtract] = at[kMultiply] = 1;
    keep[kAdd] = keep[kSubtract] = ~uint64_t{0};
    negate[kSubtract] = ~uint64_t{0};
  }
};
}  // namespace
extern "C" {
extern const PlacesOfBits qw_places_of_bits;
__attribute__((used)) constexpr PlacesOfBits qw_places_of_bits{};
extern const Pow10Reciprocals qw_pow10_reciprocals;
__attribute__((used)) constexpr Pow10Reciprocals qw_pow10_reciprocals{};
extern const FastOperations qw_fast_operations;
__attribute__((used)) constexpr FastOperations qw_fast_operations{};
}
static_assert(__builtin_offsetof(FastOperations, keep) == 24 &&
                  __builtin_offsetof(FastOperations, negate) == 160,
              "the fast path reads the masks at 24 and 160");
static_assert(__builtin_offsetof(Pow10Reciprocals, half) == 152, "the fast path reads the halves at 152");
static_assert(__builtin_offsetof(Pow10Reciprocals, shift) == 304, "the fast path reads the shifts at 304");
static_assert(qw::numbers::kAssign == 16 && qw::numbers::kAdd == 1 &&
                  qw::numbers::kSubtract == 2 && qw::numbers::kMultiply == 4,
              "the fast path's arithmetic is chosen by these operation numbers");
asm(R"(
        .pushsection .rodata
        .p2align 4
qw_dots16:      .fill 16, 1, 0x2e       # "."
qw_plus16:      .fill 16, 1, 0x2b       # "+"; "," and "-" follow it
qw_twos16:      .fill 16, 1, 2
qw_nines16:     .fill 16, 1, 0x39       # "9"
qw_lowest:      .quad 0x8000000000000000
        .popsection
        .pushsection .text

# The places of the number at \item read through its own picture, in %ecx,
# when its header says them without a change; \fail otherwise.  Clobbers
# %rax, %rdx, %rdi and xmm0.
        .macro QW_CACHED_PLACES item, fail
        mov -17(\item), %rax
        cmp $1, %rax
        jl \fail
        je .Lscale_one\@
        bsr %rax, %rcx
        movzbl qw_places_of_bits(%rcx), %ecx
        cmp qw_pow10(,%rcx,8), %rax
        jne \fail
.Lknown\@:
        .subsection 1                   # out of the straight path
.Lscale_one\@:                          # no "." in a picture of up to
        mov -8(\item), %rcx             # 16 characters: the 16 bytes
        lea -1(%rcx), %rax              # ending at its last one (those
        cmp $15, %rax                   # in front lie in the value and
        ja .Llong\@                     # the header)
        movdqu -8(\item,%rcx), %xmm0
        pcmpeqb qw_dots16(%rip), %xmm0
        pmovmskb %xmm0, %eax
        neg %ecx
        add $16, %ecx
        shr %cl, %eax
        test %eax, %eax
        jnz \fail
        xor %ecx, %ecx
        jmp .Lknown\@
.Llong\@:                               # empty or longer
        mov \item, %rdi
        call qw_places_at_scale_one
        jc \fail
        jmp .Lknown\@
        .subsection 0
        .endm

# Scale 1 at %rdi whose picture is empty or longer than 16 characters:
# 0 places in %ecx, carry clear, unless the picture holds a "." (carry
# set).  16 characters at a time, the last 16 ending at the last one.
# Clobbers %rax, %rdx, %rdi and xmm0.
qw_places_at_scale_one:
        mov -8(%rdi), %rcx
        test %rcx, %rcx
        jz 6f
        lea 8(%rdi), %rdi
        lea -16(%rdi,%rcx), %rdx
1:      movdqu (%rdi), %xmm0
        pcmpeqb qw_dots16(%rip), %xmm0
        pmovmskb %xmm0, %eax
        test %eax, %eax
        jnz 8f
        add $16, %rdi
        cmp %rdx, %rdi
        jb 1b
        movdqu (%rdx), %xmm0
        pcmpeqb qw_dots16(%rip), %xmm0
        pmovmskb %xmm0, %eax
        test %eax, %eax
        jnz 8f
6:      xor %ecx, %ecx                  # carry clear
        ret
8:      stc
        ret

# The places of the explicit picture at %r13, %r14 (at most 64 characters)
# in %ecx: the positions right of its first ".", where "+", "," and "-"
# are none and neither is a last character other than "9" (the sign
# position).  Carry set when they are above 18.  Clobbers %rax, %rdx,
# %rdi, xmm0 and xmm1.
qw_places_of_explicit_picture:
        lea -1(%r14), %rax              # the usual picture first: nines and
        cmp $15, %rax                   # one "." in at most 16 characters
        ja 20f
        test $0xff0, %r13d
        jz 20f
        movdqu -16(%r13,%r14), %xmm0
        pcmpeqb qw_nines16(%rip), %xmm0
        pmovmskb %xmm0, %eax
        mov $16, %ecx
        sub %r14d, %ecx
        xor $0xffff, %eax
        shr %cl, %eax                   # bit i: character i is no "9"
        bsf %eax, %ecx
        jz 7f                           # nines only
        lea -1(%rax), %rdx
        and %rax, %rdx
        jnz 20f
        cmpb $'.', (%r13,%rcx)
        jne 20f
        lea 1(%rcx), %eax
        mov %r14d, %ecx
        sub %eax, %ecx                  # carry clear
        ret
20:     xor %ecx, %ecx
        mov %r14, %rdi                  # the characters scanned
        test %rdi, %rdi
        jz 6f
        cmpb $'9', -1(%r13,%rdi)
        je 1f
        dec %rdi
        jz 6f
1:      cmp $16, %r14                   # up to 16 characters at once, read
        ja 3f                           # as the 16 bytes ending at the last
        test $0xff0, %r13d              # one when those in front lie in the
        jz 3f                           # same page
        movdqu -16(%r13,%r14), %xmm1
        movdqa qw_dots16(%rip), %xmm0
        pcmpeqb %xmm1, %xmm0
        pmovmskb %xmm0, %eax            # the "."s
        psubb qw_plus16(%rip), %xmm1
        movdqa qw_twos16(%rip), %xmm0
        pminub %xmm1, %xmm0
        pcmpeqb %xmm1, %xmm0
        pmovmskb %xmm0, %edx            # "+", "," and "-"
        mov $16, %ecx
        sub %r14d, %ecx
        shr %cl, %eax                   # bit i: the picture's character i
        shr %cl, %edx
        xor %ecx, %ecx
        btr %rdi, %rax                  # the sign position left out
        btr %rdi, %rdx
        bsf %eax, %ecx                  # the first ".", if any
        jz 7f
        inc %ecx
        shr %cl, %edx                   # a "+", "," or "-" right of it:
        jnz 3f                          # counted one by one
        sub %rcx, %rdi
        mov %edi, %ecx
        ret                             # at most 15: carry clear
3:      xor %ecx, %ecx                  # one character at a time, from the
        xor %edx, %edx                  # last scanned; %edx counts positions
4:      movzbl -1(%r13,%rdi), %eax
        sub $'+', %eax
        cmp $2, %eax
        jbe 5f
        cmp $'.' - '+', %eax
        cmove %edx, %ecx
        inc %edx
5:      dec %rdi
        jnz 4b
        cmp $18, %ecx
        ja 8f
6:      clc
        ret
7:      xor %ecx, %ecx                  # carry clear
        ret
8:      stc
        ret

        .globl _NUMBERS
        .type _NUMBERS, @function
_NUMBERS:
        cmp $16, %r8
        ja qw_numbers_general
        cmpb $0, qw_fast_operations(%r8)
        je qw_numbers_general
        cmpb $'9', -9(%r9)
        jne qw_numbers_general
        cmpb $'9', -9(%r12)
        jne qw_numbers_general
        cmpq $0, -8(%r9)
        je qw_numbers_general
        cmpb $' ', 8(%r9)
        je qw_numbers_general
        push %rax
        push %rcx
        push %rdx
        push %rsi
        push %rdi
        QW_CACHED_PLACES %r9, 9f
        mov %ecx, %esi                  # the receiving number's places
        cmp $65536, %r13
        jae 1f
        QW_CACHED_PLACES %r12, 9f
3:      mov (%r9), %rax                 # %esi, %ecx: the places of each
        mov (%r12), %rdx
        cmp qw_lowest(%rip), %rax       # the most negative value is no
        je 9f                           # operand
        cmp qw_lowest(%rip), %rdx
        je 9f
        cmp $4, %r8
        je 6f
        sub %ecx, %esi                  # operand places above the
        jb 9f                           # receiving ones: rounding
        imul qw_pow10(,%rsi,8), %rdx
        jo 9f
        mov qw_fast_operations+160(,%r8,8), %rdi
        xor %rdi, %rdx                  # a difference adds the operand
        sub %rdi, %rdx                  # negated, an assignment adds it
        and qw_fast_operations+24(,%r8,8), %rax  # to 0
        add %rdx, %rax
        jo 9f
7:      mov %rax, (%r9)
        pop %rdi
        pop %rsi
        pop %rdx
        pop %rcx
        pop %rax
        ret
9:      pop %rdi
        pop %rsi
        pop %rdx
        pop %rcx
        pop %rax
        jmp qw_numbers_general
1:      cmp $64, %r14                   # an explicit picture
        ja 9b
        call qw_places_of_explicit_picture
        jc 9b
        jmp 3b
6:      imul %rdx                       # multiply: the product fits 63
        mov %rax, %rdi                  # bits when its high half is its
        sar $63, %rdi                   # sign (%rdi, 0 or -1)...
        cmp %rdi, %rdx
        jne 9b
        xor %rdi, %rax
        sub %rdi, %rax
        js 9b                           # ...and its magnitude is not 2^63
        test %ecx, %ecx
        jz 61f
        add qw_pow10_reciprocals+152(,%rcx,8), %rax  # the operand's places
        js 9b                           # dropped half up: (|p| + 10^k / 2)
        mulq qw_pow10_reciprocals(,%rcx,8)  # / 10^k through the reciprocal
        mov %rdx, %rax
        movzbl qw_pow10_reciprocals+304(%rcx), %ecx
        shr %cl, %rax
61:     xor %rdi, %rax                  # the sign again
        sub %rdi, %rax
        jmp 7b
        .size _NUMBERS, .-_NUMBERS
        .popsection
)");
QW_LEAN_ENTRY(_COMPARE_NO, qw_entry_compare_no);
