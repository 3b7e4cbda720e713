#include "structure.h"

#include <iterator>
#include <string>

#include "keywords.h"
#include "scan.h"

using qwt::IsBlankOrTab;

namespace {

// The summary's line for each pair, in the order printed: "  [" and the
// openers counted, `opened`, the closers counted, `closed`.
struct SummaryLabels {
  std::string_view opened, closed;
  Msg unbalanced;
};
constexpr SummaryLabels kSummary[] = {
    {"] Begin Subs      [", "] End Subs", Msg::kSubsUnbalanced},
    {"] Begin Repeats   [", "] End Repeats", Msg::kRepeatsUnbalanced},
    {"] IF's            [", "] End Ifs", Msg::kIfsUnbalanced},
    {"] Dot Commands    [", "] Dot Ends", Msg::kDotCommandsUnbalanced},
    {"] Begin Test's    [", "] End Tests", Msg::kTestsUnbalanced},
    {"] when's          [", "] Wend's", Msg::kWhensUnbalanced},
    {"] Open Braces     [", "] Close Braces", Msg::kBracesUnbalanced},
    {"] Open SqBrackets [", "] Close SqBrackets", Msg::kSquareBracketsUnbalanced},
};
// The summary ends with a line of one blank.
constexpr std::string_view kSummaryEnd = " ";

// Skips the digits of a counter at `at`; false when there are none.
bool SkipCounter(std::string_view line, std::size_t& at) {
  std::size_t from = at;
  while (at < line.size() && qwt::IsDigit(line[at])) ++at;
  return at > from;
}

// Counters are shown with at least six digits; a count that outgrows them
// is shown whole rather than cut to its low digits.
std::string Counter(long v) {
  std::string s = std::to_string(v < 0 ? 0 : v);
  return s.size() >= 6 ? s : std::string(6 - s.size(), '0') + s;
}

}  // namespace

// Whether the statement holds the keyword anywhere outside declared names.
bool StructureCounts::Scan::Holds(std::string_view word) const {
  return FindKeyword(names, text, word, long(text.size())) != 0;
}

// The keyword at column i, unless a declared name holds its letters.
bool StructureCounts::Scan::Reads(long i, std::string_view word) const {
  return i >= 1 && upper.substr(std::size_t(i - 1), word.size()) == word &&
         !TouchesDeclaredName(names, text, i, long(word.size()));
}

void StructureCounts::CountRow(const Line& text, long commandLength, long line,
                               const DataNames& names) {
  long n = std::min<long>(commandLength, kLineWidth);
  if (n <= 0) return;
  char buffer[kLineWidth];
  for (long k = 0; k < n; ++k) buffer[k] = qwt::Upper(text.c[std::size_t(k)]);
  std::string_view upper(buffer, std::size_t(n));
  Scan row{upper, text.first(n), names, line};
  QuoteState q;
  for (long i = 1; i <= n; ++i) {
    char c = upper[std::size_t(i - 1)];
    q.step(c);
    if (q.inComment()) break;
    bool counts = c == 'B' || c == 'E' || c == 'R' || c == 'I' || c == '@' || c == '{' || c == '}';
    if (counts && q.outside()) CountAt(row, i);
  }
}

// One column of the statement.  "Line holds" looks at the whole statement,
// so a line holding @END_IF counts a closer for every IF on it.
void StructureCounts::CountAt(const Scan& row, long i) {
  std::string_view u = row.upper;
  long line = row.line;
  // Lines of an assembler block count nothing.
  if (row.Reads(i, "BEGIN_ASSEMBLER")) {
    assembler_ = true;
    return;
  }
  if (row.Reads(i, "END_ASSEMBLER")) {
    assembler_ = false;
    return;
  }
  if (assembler_) return;
  // A keyword opens a block only when a one-character prefix starts a word.
  auto opener = [&] { return i == 2 || (i > 2 && IsBlankOrTab(u[std::size_t(i - 3)])); };
  switch (u[std::size_t(i - 1)]) {
    case 'B':
      if (row.Reads(i, "BEGIN_SUB"))
        subs_.Open(line);
      else if (row.Reads(i, "BEGIN_TEST"))
        tests_.Open(line);
      return;
    case 'E':
      if (row.Reads(i, "END_SUB"))
        subs_.Close(line);
      else if (row.Reads(i, "END_TEST"))
        tests_.Close(line);
      return;
    case 'R':
      if (!row.Reads(i, "REPEAT")) return;
      if (row.Holds("@END_REPEAT"))
        repeats_.Close(line);
      else if (!row.Holds("@EXIT_REPEAT") && !row.Holds("EXITREPEAT") && opener())
        repeats_.Open(line);
      return;
    case 'I':
      if (!row.Reads(i, "IF") || row.Holds("@REPEAT_IF")) return;
      if (row.Holds("@END_IF")) {
        ifs_.Close(line);
      } else if (row.Holds("@ARRAYS_IF")) {
        ifs_.Open(line);
      } else if (row.Holds("@_IF")) {
        dots_.Open(line);
        ifs_.Open(line);
      } else if (!row.Reads(i - 1, "%IF") && opener()) {
        ifs_.Open(line);
      }
      return;
    case '@':
      if (row.Reads(i, "@_WHEN")) {
        whens_.Open(line);
        dots_.Open(line);
      } else if (row.Reads(i, "@_END")) {
        dots_.Close(line);
      } else if (row.Reads(i, "@WHEN")) {
        whens_.Open(line);
      } else if (row.Reads(i, "@WEND")) {
        whens_.Close(line);
      }
      return;
    case '{':
      braces_.Open(line);
      return;
    case '}':
      braces_.Close(line);
      return;
    default:
      return;
  }
}

int StructureCounts::Report(Reporter& out, bool positions) const {
  const Pair* const pairs[] = {&subs_, &repeats_, &ifs_, &dots_, &tests_, &whens_, &braces_, &brackets_};
  static_assert(std::size(pairs) == std::size(kSummary));
  for (std::size_t k = 0; k < std::size(kSummary); ++k) {
    const SummaryLabels& s = kSummary[k];
    out.Print("  [" + Counter(pairs[k]->opened) + std::string(s.opened) + Counter(pairs[k]->closed) +
              std::string(s.closed));
  }
  out.Print(kSummaryEnd);
  int status = 0;
  for (std::size_t k = 0; k < std::size(kSummary); ++k) {
    const SummaryLabels& s = kSummary[k];
    const Pair& p = *pairs[k];
    if (p.opened == p.closed) continue;
    out.Report(s.unbalanced, MessageLine(s.unbalanced));
    status = StatusOf(s.unbalanced);
    if (!positions) continue;
    // The earlier of the first closer without an opener and the first
    // opener never closed.
    long opener = p.open.empty() ? 0 : p.open.front();
    long closer = p.firstUnmatchedCloser;
    if (closer && (!opener || closer <= opener))
      out.Report(s.unbalanced, UnmatchedLine(s.unbalanced, Msg::kFirstUnmatchedCloser, closer), closer);
    else
      out.Report(s.unbalanced, UnmatchedLine(s.unbalanced, Msg::kFirstUnmatchedOpener, opener), opener);
  }
  return status;
}

bool IsSummaryLine(std::string_view line) {
  if (line == kSummaryEnd) return true;
  for (const SummaryLabels& s : kSummary) {
    std::size_t at = 3;
    if (line.substr(0, at) != "  [" || !SkipCounter(line, at)) continue;
    if (line.substr(at, s.opened.size()) != s.opened) continue;
    at += s.opened.size();
    if (SkipCounter(line, at) && line.substr(at) == s.closed) return true;
  }
  return false;
}
