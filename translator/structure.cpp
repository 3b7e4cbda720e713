#include "structure.h"

#include <string>

#include "keywords.h"
#include "scan.h"

using qwt::IsBlankOrTab;

namespace {

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
  struct Summary {
    const Pair& pair;
    const char* opened;
    const char* closed;
    Msg unbalanced;
  };
  const Summary kSummary[] = {
      {subs_, "] Begin Subs      [", "] End Subs", Msg::kSubsUnbalanced},
      {repeats_, "] Begin Repeats   [", "] End Repeats", Msg::kRepeatsUnbalanced},
      {ifs_, "] IF's            [", "] End Ifs", Msg::kIfsUnbalanced},
      {dots_, "] Dot Commands    [", "] Dot Ends", Msg::kDotCommandsUnbalanced},
      {tests_, "] Begin Test's    [", "] End Tests", Msg::kTestsUnbalanced},
      {whens_, "] when's          [", "] Wend's", Msg::kWhensUnbalanced},
      {braces_, "] Open Braces     [", "] Close Braces", Msg::kBracesUnbalanced},
      {brackets_, "] Open SqBrackets [", "] Close SqBrackets", Msg::kSquareBracketsUnbalanced},
  };
  for (const Summary& s : kSummary)
    out.Print("  [" + Counter(s.pair.opened) + s.opened + Counter(s.pair.closed) + s.closed);
  out.Print(" ");
  int status = 0;
  for (const Summary& s : kSummary) {
    const Pair& p = s.pair;
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
