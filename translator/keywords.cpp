#include "keywords.h"

#include <algorithm>

#include "scan.h"

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || qwt::IsDigit(c) || c == '_' ||
         c == '$';
}

namespace {

// The names a declaration brings along beside its own (a file's status and
// sizes, a table's status and count, a record's number and flat length, a
// number's header), written after the declared name.
constexpr std::string_view kCompanions[] = {
    "_STATUS", "_SIZE", "_READLENGTH", "_HANDLE", "_Delimiter", "_UBOUND",
    "_NO",     "$LENGTH", "_CalcLen",  "_FlatLength", "_Scale", "_Length",
};

// A declared name, or one of the names its declaration brings along.
bool IsDeclaredName(const DataNames& names, std::string_view run) {
  if (names.Declares(run)) return true;
  for (std::string_view suffix : kCompanions)
    if (run.size() > suffix.size() && run.ends_with(suffix) &&
        names.Declares(run.substr(0, run.size() - suffix.size())))
      return true;
  return false;
}

}  // namespace

bool TouchesDeclaredName(const DataNames& names, std::string_view text, long from, long length) {
  long n = long(text.size());
  long last = std::min(from + length - 1, n);
  for (long c = std::max(from, 1L); c <= last; ++c) {
    if (!IsNameChar(text[std::size_t(c - 1)])) continue;
    long start = c, end = c;
    while (start > 1 && IsNameChar(text[std::size_t(start - 2)])) --start;
    while (end < n && IsNameChar(text[std::size_t(end)])) ++end;
    if (IsDeclaredName(names, text.substr(std::size_t(start - 1), std::size_t(end - start + 1))))
      return true;
    c = end;
  }
  return false;
}

bool KeywordAt(const DataNames& names, std::string_view text, long c, std::string_view word) {
  return ReadsUpper(text, c, word) && !TouchesDeclaredName(names, text, c, long(word.size()));
}

long FindKeyword(const DataNames& names, std::string_view text, std::string_view word, long last) {
  long from = 0;
  for (;;) {
    long p = FindUpper(text.substr(std::size_t(from)), word, last - from);
    if (!p) return 0;
    p += from;
    if (!TouchesDeclaredName(names, text, p, long(word.size()))) return p;
    from = p;
  }
}
