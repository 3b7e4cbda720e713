// The numbers module: fixed-point arithmetic on 64-bit values whose scale
// comes from the edit picture, conversion between numbers and text, and the
// numeric comparison of the decisions module.
//
// A number's Scale field caches 10^places.  Every routine that reads a
// number first works out its places (the scale scan) and stores the scale,
// so that later calls can take the places straight from the cache.
#include "numbers.h"

#include "common.h"

namespace qw::numbers {

namespace {

constexpr int64_t kMinValue = INT64_MIN;
constexpr uint64_t kMaxValue = static_cast<uint64_t>(INT64_MAX);

constexpr uint64_t kPow10[20] = {
    1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL, 10000000ULL,
    100000000ULL, 1000000000ULL, 10000000000ULL, 100000000000ULL, 1000000000000ULL,
    10000000000000ULL, 100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL,
    100000000000000000ULL, 1000000000000000000ULL, 10000000000000000000ULL};

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

struct Scan {
  int places;
  int digits;  // digit positions, the "." counted
};

// The scale scan: from the last picture character to the first, skipping
// "-", "+" and ","; a "." sets the places to the positions seen so far.
Scan scan(const char* p, uint64_t n) {
  int digits = 0, places = 0;
  for (uint64_t i = n; i-- > 0;) {
    char c = p[i];
    if (c == '-' || c == '+' || c == ',') continue;
    if (c == '.') places = digits;
    ++digits;
  }
  return {places, digits};
}

// True when the picture holds a ".".  Most pictures have none, and then the
// places are 0 without a full scan; eight characters are tested at a time.
__attribute__((always_inline)) inline bool has_point(const char* p, uint64_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kDots = kOnes * '.';
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x = static_cast<uint64_t>(load64(p + i)) ^ kDots;
    if ((x - kOnes) & ~x & kHigh) return true;
  }
  for (; i < n; ++i)
    if (p[i] == '.') return true;
  return false;
}

struct Loaded {
  int64_t value;
  int64_t scale;
  int places;
  bool canonical;  // scale == 10^places
};

inline const char* picture_text(Number n, Picture pic) {
  return pic.text ? pic.text : n.picture();
}
inline uint64_t picture_length(Number n, Picture pic) {
  return pic.text ? pic.length : n.picture_length();
}

// Loads a number through its picture, caching the Scale: -1 and 0 become 1
// (not worked out / no decimals); a picture with places stores 10^places
// unless a scale above 1 is already stored, which is then used unchanged.
__attribute__((always_inline)) inline Loaded load(Number n, Picture pic) {
  int64_t s = n.scale();
  if (pic.text == nullptr && s > 1) {
    // The cached scale was worked out from this very picture.
    int k = places_of_scale(s);
    if (k >= 0) return {n.value(), s, k, true};
  }
  const char* p = picture_text(n, pic);
  uint64_t len = picture_length(n, pic);
  int places = has_point(p, len) ? scan(p, len).places : 0;
  if (s < 1) {
    s = 1;
    n.set_scale(1);
  }
  if (places > 0 && s <= 1) {
    s = scale_for(places);
    n.set_scale(s);
  }
  return {n.value(), s, places, places <= 18 && static_cast<uint64_t>(s) == kPow10[places]};
}

// The factor that brings the smaller scale to the larger one.
inline int64_t scale_ratio(const Loaded& big, const Loaded& small) {
  if (big.canonical && small.canonical) return static_cast<int64_t>(kPow10[big.places - small.places]);
  return big.scale / small.scale;
}

inline uint64_t magnitude(int64_t v) {
  return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

inline int64_t mul_checked(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) range_error();
  return r;
}

inline int64_t signed_result(uint64_t mag, bool negative) {
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

// Decimal multiplication, used when the product of the magnitudes (or of
// the scales) does not fit in 63 bits.  The exact product is formed in 128
// bits; the multiplier's places are dropped with half-up rounding on the
// first dropped digit, and at most digits + 1 decimal digits (the receiving
// picture's capacity, and never more than fit in 63 bits) are kept.
// Digits beyond that are dropped without an error.
int64_t decimal_multiply(uint64_t a, uint64_t b, int drop, int keep_digits, bool negative) {
  unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  bool round_up = false;
  for (int i = 0; i < drop; ++i) {
    uint64_t hi = static_cast<uint64_t>(p >> 64), lo = static_cast<uint64_t>(p);
    uint64_t r1, r2;
    uint64_t qhi = hi / 10;
    r1 = hi % 10;
    uint64_t qlo = udiv128(r1, lo, 10, &r2);
    p = (static_cast<unsigned __int128>(qhi) << 64) | qlo;
    round_up = r2 >= 5;
  }
  int cells = keep_digits + 1;
  if (cells > 19) cells = 19;  // the weight 10^19 does not fit in 63 bits
  uint64_t kept;
  {
    uint64_t hi = static_cast<uint64_t>(p >> 64), lo = static_cast<uint64_t>(p);
    uint64_t m = kPow10[cells], r;
    udiv128(hi % m, lo, m, &r);
    kept = r;
  }
  // Nineteen kept digits can exceed the 63-bit range; the top digit is
  // dropped then, as any other digit beyond the capacity.
  if (kept > kMaxValue) kept %= kPow10[18];
  if (round_up) ++kept;
  return signed_result(kept, negative);
}

uint64_t divide_magnitudes(uint64_t a, uint64_t b, int extra_places) {
  // Long division: the integer quotient, `extra_places` further digits, and
  // one more digit that rounds half-up.  Any step beyond 63 bits is fatal.
  uint64_t q = a / b, rem = a % b;
  for (int i = 0; i < extra_places; ++i) {
    if (q > kMaxValue / 10) range_error();
    uint64_t r;
    uint64_t hi = static_cast<uint64_t>((static_cast<unsigned __int128>(rem) * 10) >> 64);
    uint64_t lo = rem * 10;
    uint64_t d = udiv128(hi, lo, b, &r);
    rem = r;
    q = q * 10 + d;
    if (q > kMaxValue) range_error();
  }
  uint64_t r;
  uint64_t hi = static_cast<uint64_t>((static_cast<unsigned __int128>(rem) * 10) >> 64);
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

// The characters of a text to be converted, read front to back.  With at
// most 18 digits (leading zeros included) the value is below 10^18 and
// cannot overflow, so it is built as value * 10 + digit; the decimals are
// the digits after the last ".".  Answers false, having read nothing that
// counts, when the text holds more digits: the weighted walk then decides
// what overflows.
struct Parsed {
  uint64_t value;
  int decimals;
  bool negative, point, bad;
};

__attribute__((always_inline)) inline bool parse_short(const char* text, uint64_t length,
                                                       Parsed& out) {
  uint64_t value = 0;
  int digits = 0, after_point = 0;
  bool negative = false, point = false, bad = false;
  uint64_t i = 0;
  // Eight digits at a time while the text runs on in digits (a field's
  // text mostly does): the eight values are combined in pairs, fours and
  // eights inside one 64-bit word, the first character the most
  // significant digit.
  while (i + 8 <= length && digits <= 10) {
    const uint64_t x = static_cast<uint64_t>(load64(text + i));
    constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
    if ((x & kHigh) != 0x3030303030303030ULL ||
        ((x + 0x0606060606060606ULL) & kHigh) != 0x3030303030303030ULL)
      break;
    uint64_t v = x - 0x3030303030303030ULL;
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFULL;
    value = value * 100000000ULL + v;
    digits += 8;
    after_point += 8;
    i += 8;
  }
  if (i + 4 <= length && digits <= 14) {  // four more the same way
    uint32_t x;
    __builtin_memcpy(&x, text + i, 4);
    if ((x & 0xF0F0F0F0U) == 0x30303030U && ((x + 0x06060606U) & 0xF0F0F0F0U) == 0x30303030U) {
      uint32_t v = x - 0x30303030U;
      v = (v * 10 + (v >> 8)) & 0x00FF00FFU;
      v = (v * 100 + (v >> 16)) & 0xFFFFU;
      value = value * 10000 + v;
      digits += 4;
      after_point += 4;
      i += 4;
    }
  }
  for (; i < length; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    const uint32_t d = static_cast<uint32_t>(c) - '0';
    if (d <= 9) {
      if (++digits > 18) return false;
      value = value * 10 + d;
      ++after_point;
    } else if (c == '.') {
      point = true;
      after_point = 0;
    } else if (c == '-') {
      negative = true;
    } else if (c != ',' && c != '+') {
      bad = true;
    }
  }
  out = {value, point ? after_point : 0, negative, point, bad};
  return true;
}

void from_text_impl(Number target, const char* text, uint64_t length, bool may_build) {
  set_return_code(0);
  uint64_t value = 0, weight = 1;
  bool weight_too_big = false, negative = false, point = false, bad = false;
  int decimals = 0;
  uint64_t walk = length;  // characters the weighted walk still reads
  Parsed quick;
  if (parse_short(text, length, quick)) {
    value = quick.value;
    decimals = quick.decimals;
    negative = quick.negative;
    point = quick.point;
    bad = quick.bad;
    walk = 0;
  }
  for (uint64_t i = walk; i-- > 0;) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      if (!point) ++decimals;
      uint64_t d = static_cast<uint64_t>(c - '0');
      if (d != 0) {
        unsigned __int128 t = static_cast<unsigned __int128>(d) * weight;
        if (weight_too_big || t > kMaxValue - value) range_error();
        value += static_cast<uint64_t>(t);
      }
      if (weight > kMaxValue / 10) weight_too_big = true;
      else weight *= 10;
    } else if (c == '-') {
      negative = true;
    } else if (c == '.') {
      point = true;
    } else if (c == ',' || c == '+') {
      // separators and an explicit plus sign carry no value
    } else {
      bad = true;
    }
  }
  if (!point) decimals = 0;
  if (may_build && blank_picture(target)) build_picture(target, text, length, negative);
  target.set_scale(0);
  Loaded l = load(target, {});
  int p = l.places;
  if (decimals < p) {
    int k = p - decimals;
    if (k > 18 || value > kMaxValue / kPow10[k]) {
      if (value != 0) range_error();
    } else {
      value *= kPow10[k];
    }
  } else if (decimals > p) {
    value = drop_places(value, decimals - p);
  }
  target.set_value(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
  if (bad) set_return_code(9);
}

// The editor.  Writes the edited text of `v` through `pic` (L characters)
// into out[0 .. limit).
void edit(int64_t v, const char* pic, uint64_t L, char* out, uint64_t limit) {
  if (L == 0) return;
  uint64_t mag = magnitude(v);
  uint64_t i = L;
  if (pic[L - 1] != '9') {
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
  if (mag != 0 && limit > 0) out[0] = '*';
}

}  // namespace

int places(Number n, Picture pic) { return load(n, pic).places; }

void store_integer(Number target, int64_t v) {
  int p = load(target, {}).places;
  target.set_value(p == 0 ? v : mul_checked(v, static_cast<int64_t>(kPow10[p])));
}

void from_text(Number target, const char* text, uint64_t length) {
  from_text_impl(target, text, length, true);
}

void from_text_fixed(Number target, const char* text, uint64_t length) {
  from_text_impl(target, text, length, false);
}

uint64_t edited_length(Number source, Picture pic) { return picture_length(source, pic); }

void to_text(Number source, Picture pic, char* dest) {
  uint64_t L = picture_length(source, pic);
  edit(source.value(), picture_text(source, pic), L, dest, L);
}

void to_text_clipped(Number source, Picture pic, char* dest, uint64_t limit) {
  edit(source.value(), picture_text(source, pic), picture_length(source, pic), dest, limit);
}

void to_word(Number source, Picture pic, Word dest, uint64_t start, bool set_length) {
  uint64_t L = picture_length(source, pic);
  if (set_length) dest.set_length(L);
  uint64_t len = dest.length();
  if (start == 0 || start >= 65536) start = 1;
  if (start > len) return;
  uint64_t room = len - start + 1;
  edit(source.value(), picture_text(source, pic), L, dest.text() + start - 1, room < L ? room : L);
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

  Loaded R = load(target, {});
  const int target_places = R.places;
  Loaded O = load(source, pic);
  int64_t result;
  int places;

  switch (op) {
    case kAssign:
      // The old value is replaced, so only the operand is brought to the
      // larger scale.
      if (O.scale < R.scale) {
        result = mul_checked(ov, scale_ratio(R, O));
        places = R.places;
      } else {
        result = ov;
        places = O.scale > R.scale ? O.places : R.places;
      }
      break;
    case kAdd:
    case kSubtract: {
      int64_t a = tv, b = ov;
      places = R.places;
      if (R.scale < O.scale) {
        a = mul_checked(a, scale_ratio(O, R));
        places = O.places;
      } else if (O.scale < R.scale) {
        b = mul_checked(b, scale_ratio(R, O));
      }
      bool overflow = op == kAdd ? __builtin_add_overflow(a, b, &result)
                                 : __builtin_sub_overflow(a, b, &result);
      if (overflow) range_error();
      break;
    }
    case kMultiply: {
      bool negative = (tv < 0) != (ov < 0);
      uint64_t a = magnitude(tv), b = magnitude(ov);
      unsigned __int128 scales = static_cast<unsigned __int128>(R.scale) * O.scale;
      bool decimal = scales > kMaxValue;
      if (!decimal) {
        unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
        if (p <= kMaxValue) {
          result = negative ? -static_cast<int64_t>(p) : static_cast<int64_t>(p);
          places = R.places + O.places;
          break;
        }
      }
      int digits = scan(target.picture(), target.picture_length()).digits;
      target.set_value(decimal_multiply(a, b, O.places, digits, negative));
      return;
    }
    case kDivide: {
      if (ov == 0) fatal_library(kErrDivideByZero);
      bool negative = (tv < 0) != (ov < 0);
      uint64_t q = divide_magnitudes(magnitude(tv), magnitude(ov), O.places);
      target.set_value(negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q));
      return;
    }
    default:
      __builtin_unreachable();
  }
  // Storing: surplus places are dropped with half-up rounding on the
  // magnitude.
  if (places > target_places) {
    uint64_t m = drop_places(magnitude(result), places - target_places);
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
  if (L.scale < R.scale) a *= scale_ratio(R, L);
  else if (R.scale < L.scale) b *= scale_ratio(L, R);
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
// assignment, addition or subtraction between two numbers read through their
// own pictures whose cached scales are equal and above 1.  Then no alignment
// and no rounding is needed, and the result is what the general path would
// store.  Everything else - and every case that ends in a message - goes to
// the general path.  All registers but the flags are preserved.
asm(R"(
        .pushsection .rodata
        .p2align 3
qw_most_negative:
        .quad 0x8000000000000000
        .popsection
        .pushsection .text
        .globl _NUMBERS
        .type _NUMBERS, @function
_NUMBERS:
        cmp $1, %r8
        je 1f
        cmp $2, %r8
        je 1f
        cmp $16, %r8
        jne qw_numbers_general
1:      test %r13, %r13
        jnz qw_numbers_general
        cmpb $'9', -9(%r9)
        jne qw_numbers_general
        cmpb $'9', -9(%r12)
        jne qw_numbers_general
        cmpq $0, -8(%r9)
        je qw_numbers_general
        cmpb $' ', 8(%r9)
        je qw_numbers_general
        push %rax
        push %rdx
        mov -17(%r9), %rax
        cmp $1, %rax
        jle 9f
        cmp -17(%r12), %rax
        jne 9f
        mov (%r9), %rax
        mov (%r12), %rdx
        cmp qw_most_negative, %rax
        je 9f
        cmp qw_most_negative, %rdx
        je 9f
        cmp $16, %r8
        je 4f
        cmp $1, %r8
        jne 3f
        add %rdx, %rax
        jo 9f
        jmp 5f
3:      sub %rdx, %rax
        jo 9f
        jmp 5f
4:      mov %rdx, %rax
5:      mov %rax, (%r9)
        pop %rdx
        pop %rax
        ret
9:      pop %rdx
        pop %rax
        jmp qw_numbers_general
        .size _NUMBERS, .-_NUMBERS
        .popsection
)");
QW_LEAN_ENTRY(_COMPARE_NO, qw_entry_compare_no);
