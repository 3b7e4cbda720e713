#include "scan.h"

#include <algorithm>

using qwt::IsBlankOrTab;
using qwt::IsSpaceLf;
using qwt::Upper;

RowParts::RowParts(std::string_view text) {
  long n = long(text.size());
  long i = 0;
  while (i < n && IsBlankOrTab(text[std::size_t(i)])) ++i;
  if (i == n) return;
  indent_ = i + 1;
  // Up to the first quotation mark or ";" every column lies outside.
  std::size_t special = std::size_t(i);
  while (special < text.size() && text[special] != '"' && text[special] != '\'' &&
         text[special] != ';')
    ++special;
  if (special != std::size_t(i)) statementStart_ = indent_;
  QuoteState q;
  for (std::size_t k = special; k < text.size(); ++k) {
    char c = text[k];
    q.step(c);
    if (q.inComment()) {
      commentStart_ = long(k) + 1;
      break;
    }
    if (!q.outside())
      MarkQuoted(long(k) + 1);
    else if (!statementStart_ && !IsBlankOrTab(c))
      statementStart_ = long(k) + 1;
  }
  if (commentStart_ && indent_ >= commentStart_) indent_ = 0;  // a comment line
  // The statement ends at its last non-blank column before the comment; a
  // line that opens a quotation at its first character and never closes it
  // has no statement part.
  if (statementStart_) {
    long end = commentStart_ ? commentStart_ - 1 : n;
    while (end >= 1 && IsBlankOrTab(text[std::size_t(end - 1)])) --end;
    statementEnd_ = end;
  }
}

void RowParts::MarkQuoted(long col) {
  std::size_t k = std::size_t(col - 1);
  if (k < kNear) {
    near_[k / 64] |= std::uint64_t(1) << (k % 64);
    return;
  }
  k -= kNear;
  if (far_.size() <= k / 64) far_.resize(k / 64 + 1);
  far_[k / 64] |= std::uint64_t(1) << (k % 64);
}

bool ReadsUpper(std::string_view text, long c, std::string_view word) {
  if (c < 1 || c - 1 + long(word.size()) > long(text.size())) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (Upper(text[std::size_t(c - 1) + k]) != word[k]) return false;
  return true;
}

long FindUpper(std::string_view text, std::string_view word, long last) {
  long starts = std::min<long>(last, long(text.size())) - long(word.size()) + 1;
  if (starts <= 0 || word.empty()) return 0;
  // Candidates are found by their first character in either letter case.
  char first = word[0];
  char lower = (first >= 'A' && first <= 'Z') ? char(first + 32) : first;
  std::string_view range = text.substr(0, std::size_t(starts));
  for (std::size_t i = 0; i < range.size(); ++i) {
    std::size_t a = range.find(first, i);
    std::size_t b = lower == first ? a : range.find(lower, i);
    i = std::min(a, b);
    if (i == std::string_view::npos) return 0;
    if (ReadsUpper(text, long(i) + 1, word)) return long(i) + 1;
  }
  return 0;
}

namespace {

// The first word met walking the columns from `from` to `to` by `step`
// (columns outside the text read as blanks, which the walk skips).
Word WalkToWord(std::string_view text, long from, long to, long step, char sep) {
  Word w;
  for (long z = from; step > 0 ? z <= to : z >= to; z += step) {
    char c = At(text, z);
    if (IsSpaceLf(c) || c == sep) {
      if (w.start) break;
      continue;
    }
    if (!w.start) w.start = z;
    ++w.length;
  }
  return w;
}

}  // namespace

Word FirstWord(std::string_view text, long from, long last, char sep) {
  return WalkToWord(text, std::max<long>(from, 1), std::min<long>(last, long(text.size())), 1, sep);
}

Word Token(std::string_view text, long from, long to, char sep) {
  if (from <= to) return FirstWord(text, from, to, sep);
  return WalkToWord(text, std::min<long>(from, long(text.size())), std::max<long>(to, 1), -1, sep);
}
