#include "commas.h"

#include <iterator>
#include <string_view>

#include "keywords.h"
#include "scan.h"

using qwt::IsBlankOrTab;
using qwt::Upper;

namespace {

struct Keyword {
  std::string_view text;
  long skip;  // characters passed over before the operands
};

// First match at a column decides; "%IF" ends the step.
constexpr Keyword kKeywords[] = {
    {"%IF", 0},    {"IF ", 2},    {"@_IF ", 4},   {"WHILE ", 5}, {"@_OR ", 4},
    {"@_AND ", 5}, {"@WHEN ", 5}, {"@_WHEN ", 6}, {"_CALC ", 5}, {"CALL", 4},
};
constexpr long kKeywordWindow = 40;

bool IsOperator(char c) { return c == '+' || c == '-' || c == '*' || c == '/'; }

// Whether the blanks from column `at` stand beside an operator that blanks
// set apart (n_K - 1): inside braces they are then part of a calculation,
// kept whole for the package to refuse at its line, rather than separators
// ({n_A 1.5} is {n_A,1.5}; {n_A -1} is {n_A,-1}).
bool BesideOperator(std::string_view line, long at, long last) {
  long before = at - 1;
  long after = at;
  while (after <= last && IsBlankOrTab(At(line, after))) ++after;
  return (IsOperator(At(line, after)) && IsBlankOrTab(At(line, after + 1))) ||
         (IsOperator(At(line, before)) && IsBlankOrTab(At(line, before - 1)));
}

}  // namespace

void SetOperandCommas(std::span<char> text, long commandLength, const DataNames& names,
                      bool windowFromStatement) {
  std::string_view line(text.data(), text.size());
  long cl = std::min(commandLength, long(text.size()));
  long first = 1;
  while (first <= cl && IsBlankOrTab(At(line, first))) ++first;
  if (first > cl) return;
  const Keyword* found = nullptr;
  long at = 0;
  QuoteState q;
  // A keyword begins inside the window (it may end in the blank after it).
  long windowEnd = (windowFromStatement ? first : 1) + kKeywordWindow;
  for (long i = first; i < windowEnd && i <= cl && !found; ++i) {
    q.step(At(line, i));
    if (q.inComment()) break;
    if (!q.outside()) continue;
    char c = Upper(At(line, i));
    if (c != '%' && c != 'I' && c != '@' && c != 'W' && c != '_' && c != 'C') continue;
    char next = Upper(At(line, i + 1));
    for (const Keyword& k : kKeywords) {
      if (k.text[0] == c && k.text[1] == next && ReadsUpper(line, i, k.text) &&
          !TouchesDeclaredName(names, line, i, long(k.text.size()))) {
        found = &k;
        at = i;
        break;
      }
    }
  }
  if (!found || found == &kKeywords[0]) return;
  long j = at + found->skip;
  while (j <= cl && IsBlankOrTab(At(line, j))) ++j;
  if (found->text == "CALL")
    while (j <= cl && !IsBlankOrTab(At(line, j))) ++j;
  QuoteState r;
  for (long i = 1; i < j; ++i) r.step(At(line, i));
  int braces = 0;
  bool inRun = false;
  for (long i = j; i <= cl; ++i) {
    char& c = text[std::size_t(i - 1)];
    r.step(c);
    if (r.outside() && c == '{') ++braces;
    if (r.outside() && c == '}' && braces > 0) --braces;
    bool blank = r.outside() && IsBlankOrTab(c);
    if (blank && !inRun && !(braces > 0 && BesideOperator(line, i, cl))) c = ',';
    inRun = blank;
  }
}
