#include "fixed_point.h"

#include <string>

#include "keywords.h"
#include "literal_limits.h"
#include "../runtime/picture.h"
#include "messages.h"
#include "scan.h"

using qwt::IsBlankOrTab;
using qwt::IsDigit;

namespace {

// Characters that may stand next to the point of a literal.
bool NextToPoint(char c) {
  return IsDigit(c) || c == ' ' || c == ',' || c == '-' || c == '\t' || c == '\n';
}

// Column of the first decision word (exact case, also inside a longer
// word, but not in a declared name), 0 if none.
long FirstDecisionWord(const Line& text, const DataNames& names) {
  static constexpr std::string_view kWords[] = {"IF", "OR", "AND", "WHEN", "WHILE"};
  long first = 0;
  for (auto w : kWords) {
    long p = text.find(w);
    while (p && TouchesDeclaredName(names, text.view(), p, long(w.size()))) p = text.find(w, p + 1);
    if (p && (!first || p < first)) first = p;
  }
  return first;
}

// The picture of a literal, built from its last character to its first:
// nines for its places, then "#" with "," every three digits for its
// whole part, a "-" sign position when it is negative.  Returns the tail
// ",'picture'}" that follows the literal's digits; `picture` receives the
// picture's 30 columns.
std::string InlinePicture(const Line& text, long start, long end, long sourceLine,
                          qwt::Text<30>& picture) {
  char pic[32];
  std::fill(pic, pic + 32, ' ');
  pic[30] = '\'';
  pic[31] = '}';
  long pos = text(start) == '-' ? 28 : 29;
  auto write = [&](char c) {
    // Two columns stay free for the ",'" that opens the picture.
    if (pos < 3) Fatal(Msg::kLiteralDigits, sourceLine);
    pic[pos--] = c;
  };
  int state = 0;  // 0: places, 1: the point was passed, 2: the whole part
  long group = 0;
  for (long k = end; k >= start; --k) {
    char c = text(k);
    if (c == '-') {
      pic[29] = '-';
    } else if (c == '.') {
      write('.');
      state = 1;
    } else if (state == 0) {
      write('9');
    } else if (state == 1) {
      write('9');
      state = 2;
      group = 1;
    } else {
      if (++group == 4) {
        write(',');
        group = 1;
      }
      write('#');
    }
  }
  long tail = pos - 1;
  pic[tail] = ',';
  pic[tail + 1] = '\'';
  picture.assign(std::string_view(pic + 1, 30));
  return std::string(pic + tail, std::size_t(31 - tail + 1));
}

// A literal of columns start..end with a second point (1.2.3) or a minus
// after its first character is no number: its statement is refused.
bool RefuseMalformedLiteral(Row& row, long start, long end) {
  long points = 0;
  bool inner = false;
  for (long i = start; i <= end; ++i) {
    points += row.text(i) == '.';
    inner = inner || (i > start && row.text(i) == '-');
  }
  if (points < 2 && !inner) return false;
  std::string literal(row.text.sub(start, end - start + 1));
  // Four groups of digits are most likely an address, which is a text.
  const bool address = points == 3 && !inner;
  std::string note = address ? RefusalText(Msg::kAddressIsText, {literal}) : "";
  RefuseStatement(row, RefusalText(Msg::kLiteralNotANumber, {literal, note}));
  return true;
}

// The literal around the point at column `point` becomes
// "{digits,'picture'}".  False when the statement was refused instead.
bool ExpandLiteral(Row& row, long point) {
  auto literalChar = [](char c) { return c == '.' || c == '-' || IsDigit(c); };
  long start = point;
  while (start > 1 && literalChar(row.text(start - 1))) --start;
  long end = point;
  while (end < row.commandLength && (row.text(end + 1) == '.' || IsDigit(row.text(end + 1)))) ++end;
  Literal lit = StripLiteral(row.text.view(), start, end);
  if (lit.digits == 0) return true;  // a point on its own is no number
  if (RefuseMalformedLiteral(row, start, end)) return false;
  CheckLiteral(lit, row.line);
  std::string inlined = "{" + lit.text;
  long old = end - start + 1;
  qwt::Text<30> picture;
  std::string tail = InlinePicture(row.text, start, end, row.line, picture);
  long grow = long(inlined.size() + tail.size()) - old;
  CheckRoom(row, grow);
  row.text.erase(start, old);
  row.text.insert(start, inlined + tail);
  row.commandLength += grow;
  CheckPicture(picture, row.line);
  return true;
}

// A "<" that opens an angle group (<1.5>, whose literals stay as written)
// rather than a relation (n_P < 3.5, n_P<=3.5, @IF n_P <3.5): it stands
// after a blank or comma, before an operand, outside a decision.
bool OpensAngleGroup(const Line& text, long i, const DataNames& names) {
  char before = text(i - 1), after = text(i + 1);
  if (!(IsBlankOrTab(before) || before == ',')) return false;
  if (IsBlankOrTab(after) || after == '=' || after == '>') return false;
  long d = FirstDecisionWord(text, names);
  return !d || d > i;
}

}  // namespace

void RescaleDeclaredValue(Row& row) {
  long end = row.commandLength;
  long comma1 = row.text.find(',');
  if (comma1 == 0 || comma1 >= end) return;
  long vs = comma1 + 1;
  while (vs <= end && IsBlankOrTab(row.text(vs))) ++vs;
  if (vs > end || row.text(vs) == ',') return;
  long comma2 = row.text.find(',', vs);
  if (comma2 > end) comma2 = 0;
  long ve = comma2 ? comma2 - 1 : end;
  CheckWholeNumbers(row.text.view(), vs, ve, row.line);
  if (row.text.first(end).find('.', std::size_t(vs - 1)) == std::string_view::npos) return;
  if (!comma2) Fatal(Msg::kNoPicture, row.line);
  // A value that is not a numeric literal (a name, an expression) is left
  // for the assembler to judge.
  for (long i = vs; i <= ve; ++i) {
    char c = row.text(i);
    if (!(IsDigit(c) || c == '.' || c == '-' || c == '+' || IsBlankOrTab(c))) return;
  }
  // The picture from its point to its closing quote (or the statement's end).
  long places = 0;
  long dp = row.text.find('.', comma2);
  if (dp && dp <= end) {
    long last = end;
    long quote = row.text.find('\'', dp);
    if (quote && quote <= end) last = quote - 1;
    places = qw::picture::rescale_places(row.text.data() + dp - 1, std::uint64_t(last - dp + 1));
  }
  Literal lit = StripLiteral(row.text.view(), vs, ve);
  if (lit.digits == 0) return;
  while (IsBlankOrTab(row.text(ve))) --ve;
  while (IsBlankOrTab(row.text(vs))) ++vs;
  if (RefuseMalformedLiteral(row, vs, ve)) return;
  // Places missing are appended as zeros (the literal as written is
  // checked first); surplus places are cut.
  bool appended = lit.places < places;
  if (appended) {
    CheckLiteral(lit, row.line);
    lit.text.append(std::size_t(places - lit.places), '0');
    lit.digits += places - lit.places;
  } else if (lit.places > places) {
    long drop = std::min<long>(lit.places - places, long(lit.text.size()));
    lit.text.resize(lit.text.size() - std::size_t(drop));
    lit.digits -= drop;
  }
  if (appended)
    CheckValueAtPlaces(lit, row.line);
  else
    CheckLiteral(lit, row.line);
  long old = ve - vs + 1;
  long grow = long(lit.text.size()) - old;
  if (grow > 0) {
    CheckRoom(row, grow);
    row.text.insertBlanks(vs, grow);
    row.commandLength += grow;
    old += grow;
  }
  row.text.blank(vs, old);
  row.text.put(vs, lit.text);
}

void ExpandDecimalLiterals(Row& row, const DataNames& names, bool relationsExpanded) {
  if (row.text.first(row.commandLength).find('.') == std::string_view::npos) return;
  QuoteState q;
  char brace = ' ';  // "{" inside a brace group, ">" on its closing character
  bool decision = false;
  for (long i = 1; i <= row.commandLength; ++i) {
    char c = row.text(i);
    q.step(c);
    if (c == '{' || (c == '<' && (!relationsExpanded || OpensAngleGroup(row.text, i, names))))
      brace = '{';
    else if (c == '}' || c == '>')
      brace = '>';
    else if (brace == '>')
      brace = ' ';
    if (!q.outside()) continue;
    // In a decision the first brace group is scanned; later ones are not.
    if (!decision && c == '{') {
      long d = FirstDecisionWord(row.text, names);
      if (d && d < i) {
        brace = ' ';
        decision = true;
      }
    }
    if (c == '.' && brace == ' ' && NextToPoint(row.text(i - 1)) && NextToPoint(row.text(i + 1)) &&
        !ExpandLiteral(row, i))
      return;
  }
}
