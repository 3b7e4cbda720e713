#include "scan.h"

#include <algorithm>

using qwt::IsBlankOrTab;
using qwt::IsSpaceLf;
using qwt::Upper;

RowParts::RowParts(std::string_view text) {
  QuoteState q;
  long n = long(text.size());
  long lastBeforeComment = 0;
  for (long i = 1; i <= n; ++i) {
    char c = text[std::size_t(i - 1)];
    q.step(c);
    if (q.inComment()) {
      commentStart_ = i;
      break;
    }
    if (!q.outside()) {
      std::size_t k = std::size_t(i - 1);
      if (quoted_.size() <= k / 64) quoted_.resize(k / 64 + 1);
      quoted_[k / 64] |= std::uint64_t(1) << (k % 64);
    }
    if (IsBlankOrTab(c)) continue;
    lastBeforeComment = i;
    if (!indent_) indent_ = i;
    if (!statementStart_ && q.outside()) statementStart_ = i;
  }
  // A line that opens a quotation at its first character and never closes
  // it has no statement part.
  statementEnd_ = statementStart_ ? lastBeforeComment : 0;
}

bool ReadsUpper(std::string_view text, long c, std::string_view word) {
  if (c < 1 || c - 1 + long(word.size()) > long(text.size())) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (Upper(text[std::size_t(c - 1) + k]) != word[k]) return false;
  return true;
}

long FindUpper(std::string_view text, std::string_view word, long last) {
  last = std::min<long>(last, long(text.size()));
  for (long i = 1; i + long(word.size()) - 1 <= last; ++i)
    if (Upper(text[std::size_t(i - 1)]) == word[0] && ReadsUpper(text, i, word)) return i;
  return 0;
}

Word FirstWord(std::string_view text, long from, long last, char sep) {
  Word w;
  last = std::min<long>(last, long(text.size()));
  for (long i = std::max<long>(from, 1); i <= last; ++i) {
    char c = text[std::size_t(i - 1)];
    if (IsSpaceLf(c) || c == sep) {
      if (w.start) break;
      continue;
    }
    if (!w.start) w.start = i;
    ++w.length;
  }
  return w;
}

Word Token(std::string_view text, long from, long to, char sep) {
  if (from <= to) return FirstWord(text, from, to, sep);
  // Columns outside the text read as blanks, which the scan skips.
  Word w;
  for (long z = std::min<long>(from, long(text.size())); z >= std::max<long>(to, 1); --z) {
    char c = text[std::size_t(z - 1)];
    if (IsSpaceLf(c) || c == sep) {
      if (w.start) break;
      continue;
    }
    if (!w.start) w.start = z;
    ++w.length;
  }
  return w;
}
