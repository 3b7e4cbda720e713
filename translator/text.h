// Fixed-width, blank-padded text fields of the translator's tables and the
// small column helpers that every routine uses.  Columns are counted from 1,
// as in the language's own rules; a column outside the field reads as a blank
// and a write to it goes nowhere, so no rule can step out of a field.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <sys/mman.h>

namespace qwt {

// Asks the kernel to back a large buffer with huge pages where it can: a big
// source costs thousands of page faults otherwise.  Only whole 2 MB blocks
// inside the buffer are advised; the buffer itself is unchanged.
inline void AdviseHuge(const void* p, std::size_t n) {
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  if (!p || n < 2 * kHuge) return;
  std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
  std::uintptr_t start = (a + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t end = (a + n) & ~(kHuge - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
// Blank, tab or line feed: the separators of the token scanners.
inline bool IsSpaceLf(char c) { return c == ' ' || c == '\t' || c == '\n'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number edited as `width` digits with leading zeros (pictures "999",
// "9999", "999999"); values too large keep their low digits, negative values
// print their magnitude, as a display picture without sign would.
inline std::string Digits(long v, int width) {
  unsigned long u = v < 0 ? 0UL - (unsigned long)v : (unsigned long)v;
  std::string s(width, '0');
  for (int i = width - 1; i >= 0 && u; --i) {
    s[i] = char('0' + u % 10);
    u /= 10;
  }
  return s;
}

template <std::size_t N>
struct Text {
  std::array<char, N> c;

  Text() { c.fill(' '); }
  Text(std::string_view s) { assign(s); }

  static constexpr long size() { return long(N); }
  char* data() { return c.data(); }
  const char* data() const { return c.data(); }

  void clear() { c.fill(' '); }
  // The text, cut to the field or padded with blanks.
  void assign(std::string_view s) {
    std::size_t n = std::min(s.size(), N);
    if (n) std::memmove(c.data(), s.data(), n);
    std::fill(c.begin() + n, c.end(), ' ');
  }
  template <std::size_t M>
  void assign(const Text<M>& o) { assign(o.view()); }

  // Column i (from 1).  Outside the field: a blank to read, a sink to write.
  char& operator()(long i) {
    if (i >= 1 && i <= long(N)) return c[i - 1];
    static thread_local char sink;
    sink = ' ';
    return sink;
  }
  char operator()(long i) const { return (i >= 1 && i <= long(N)) ? c[i - 1] : ' '; }

  std::string_view view() const { return {c.data(), N}; }
  // Columns i .. i+len-1, clipped to the field.
  std::string_view sub(long i, long len) const {
    if (len <= 0 || i > long(N)) return {};
    if (i < 1) {
      len += i - 1;
      i = 1;
      if (len <= 0) return {};
    }
    long n = std::min<long>(len, long(N) - i + 1);
    return {c.data() + i - 1, std::size_t(n)};
  }
  // The first `len` columns (the "first n characters" of a field).
  std::string_view first(long len) const { return sub(1, len); }
  // The text without its trailing blanks.
  std::string_view trimmed() const {
    return {c.data(), std::size_t(blankTail(long(N)))};
  }
  // Column of the last character that is neither blank nor tab, 0 if none,
  // looking from column `from` downward.
  long lastNonBlank(long from = long(N)) const {
    long i = blankTail(std::min<long>(from, long(N)));
    while (i >= 1 && IsBlankOrTab(c[i - 1])) --i;
    return i;
  }
  // Column where `s` first starts at or after column `from`; 0 if nowhere.
  long find(std::string_view s, long from = 1) const {
    if (from < 1) from = 1;
    if (s.empty() || from > long(N)) return 0;
    auto p = view().find(s, std::size_t(from - 1));
    return p == std::string_view::npos ? 0 : long(p) + 1;
  }
  long find(char ch, long from = 1) const {
    if (from < 1) from = 1;
    if (from > long(N)) return 0;
    auto p = view().find(ch, std::size_t(from - 1));
    return p == std::string_view::npos ? 0 : long(p) + 1;
  }
  bool contains(std::string_view s) const { return find(s) != 0; }
  // True when the text at column i reads s (entirely inside the field).
  bool at(long i, std::string_view s) const {
    if (i < 1 || i - 1 + long(s.size()) > long(N)) return false;
    return std::memcmp(c.data() + i - 1, s.data(), s.size()) == 0;
  }
  // Overwrite from column i; what would pass the end is dropped.
  void put(long i, std::string_view s) {
    for (std::size_t k = 0; k < s.size(); ++k) (*this)(i + long(k)) = s[k];
  }
  // Insert s at column i, shifting the rest right; characters pushed past
  // the end of the field are lost.
  void insert(long i, std::string_view s) {
    if (i < 1 || i > long(N) || s.empty()) return;
    long n = long(s.size());
    long keep = long(N) - (i - 1) - n;  // characters of the tail that stay
    if (keep > 0) std::memmove(c.data() + i - 1 + n, c.data() + i - 1, std::size_t(keep));
    put(i, s);
  }
  void insertBlanks(long i, long n) {
    if (n > 0) insert(i, std::string(std::size_t(std::min<long>(n, long(N))), ' '));
  }
  // Remove n columns from column i, shifting the rest left and blank-filling
  // the end.
  void erase(long i, long n) {
    if (i < 1 || i > long(N) || n <= 0) return;
    n = std::min<long>(n, long(N) - i + 1);
    std::memmove(c.data() + i - 1, c.data() + i - 1 + n, std::size_t(long(N) - (i - 1) - n));
    std::fill(c.end() - n, c.end(), ' ');
  }
  void blank(long i, long n) {
    for (long k = 0; k < n; ++k) (*this)(i + k) = ' ';
  }
  // Upper-case copy of another field (padded or cut to this one).
  template <std::size_t M>
  void upperOf(const Text<M>& o) {
    constexpr std::size_t n = N < M ? N : M;
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    std::size_t k = 0;
    // Eight characters at a time: a byte whose low seven bits lie in a..z
    // and whose top bit is clear loses its 0x20 bit.
    for (; k + 8 <= n; k += 8) {
      std::uint64_t x;
      std::memcpy(&x, o.c.data() + k, 8);
      std::uint64_t low7 = x & (0x7F * kOnes);
      std::uint64_t geA = low7 + (0x80 - 'a') * kOnes;
      std::uint64_t gtZ = low7 + (0x80 - 'z' - 1) * kOnes;
      std::uint64_t lower = geA & ~gtZ & ~x & (0x80 * kOnes);
      x ^= lower >> 2;
      std::memcpy(c.data() + k, &x, 8);
    }
    for (; k < n; ++k) c[k] = Upper(o.c[k]);
    std::fill(c.begin() + n, c.end(), ' ');
  }

 private:
  // Length of the first n columns once trailing blanks are dropped; looks at
  // 32 and then 8 columns at a time, since fields are mostly blank padding.
  long blankTail(long n) const {
    static constexpr char kBlanks[32] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                         ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                         ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    while (n >= 32 && std::memcmp(c.data() + n - 32, kBlanks, 32) == 0) n -= 32;
    while (n >= 8 && std::memcmp(c.data() + n - 8, kBlanks, 8) == 0) n -= 8;
    while (n > 0 && c[std::size_t(n - 1)] == ' ') --n;
    return n;
  }

 public:
};

// Fields are equal when they hold the same characters once trailing blanks
// are ignored (letter case and leading blanks matter).
template <std::size_t N, std::size_t M>
bool SameName(const Text<N>& a, const Text<M>& b) {
  return a.trimmed() == b.trimmed();
}

inline std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

inline std::string ToUpper(std::string_view s) {
  std::string r(s);
  for (char& ch : r) ch = Upper(ch);
  return r;
}

}  // namespace qwt
