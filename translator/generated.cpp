#include "generated.h"

#include <string>

#include "commas.h"
#include "messages.h"
#include "scan.h"

using qwt::Digits;
using qwt::IsBlankOrTab;

namespace {

// The length a word temporary declares (columns 22-27 of its line).
long DeclaredLength(const Temporaries::Entry& e) {
  long v = 0;
  for (long i = 22; i <= 27; ++i)
    if (qwt::IsDigit(e.line(i))) v = v * 10 + (e.line(i) - '0');
  return v;
}

// The picture a number temporary declares (from column 24).
std::string_view DeclaredPicture(const Temporaries::Entry& e) {
  return qwt::TrimRight(e.line.sub(24, 62 - 23));
}

}  // namespace

std::string Temporaries::Take(char kind, bool forElement, std::string_view elementPicture,
                              long length, std::string_view defaultPicture) {
  std::string_view picture;
  if (kind == 'I' && forElement) picture = elementPicture;
  if (kind == 'N') picture = forElement ? elementPicture : defaultPicture;
  for (Entry& e : entries_) {
    if (e.kind != kind || e.inUse) continue;
    bool same = false;
    if (kind == 'I' || kind == 'N') same = DeclaredPicture(e) == picture;
    if (kind == 'W') same = DeclaredLength(e) == length;
    if (!same) continue;
    e.inUse = true;
    return std::string(e.name());
  }
  Entry e{kind, true, {}};
  e.line(1) = '\t';
  if (kind == 'I') {
    e.line.put(2, "@insertnumber i0000,0");
    if (forElement) {
      e.line.put(23, ",");
      e.line.put(24, picture);
    }
  } else if (kind == 'N') {
    e.line.put(2, "@insertnumber n0000,0,");
    e.line.put(24, picture);
  } else if (kind == 'W') {
    e.line.put(2, "@insertword   a0000,000000,' '");
    std::string digits = std::to_string(length < 0 ? 0 : length % 1000000);
    e.line.put(22, std::string(6 - digits.size(), ' ') + digits);
  }
  e.line.put(17, Digits(++lastSerial_, 4));
  if (long(entries_.size()) >= kTemporariesCapacity) Fatal(Msg::kTemporariesFull);
  entries_.push_back(e);
  return std::string(e.name());
}

char Temporaries::KindOf(std::string_view name) const {
  if (name.size() != 5) return ' ';
  for (const Entry& e : entries_)
    if (e.name() == name) return e.kind;
  return ' ';
}

long MacroLines::Begin(long sourceLine) {
  if (count_ >= kMostMacros) Fatal(Msg::kTooManyMacros, sourceLine);
  return ++count_;
}

void MacroLines::Append(std::string_view text, long sourceLine, const DataNames& names) {
  if (long(qwt::TrimRight(text).size()) > kMacroLineWidth) Fatal(Msg::kStatementTooLong, sourceLine);
  // The comma step reads the line as a row of its own.
  ::Line full(text);
  SetOperandCommas(full.c, qwt::Text<kMacroLineWidth>(text).lastNonBlank(), names, positions);
  if (long(lines_.size()) >= kMacroLinesCapacity) Fatal(Msg::kMacroLinesFull);
  lines_.push_back({count_, sourceLine, qwt::Text<kMacroLineWidth>(full.first(kMacroLineWidth))});
  CompressMacroLine(lines_.back().text, positions);
}

void CompressMacroLine(qwt::Text<kMacroLineWidth>& line, bool keepOperandsApart) {
  std::string_view in = line.view();
  long blank = line.find(' ');
  long from = blank ? blank + 1 : 1;
  long last = line.lastNonBlank();
  std::string out(in.substr(0, std::size_t(from - 1)));
  QuoteState q;
  for (long i = 1; i < from; ++i) q.step(in[std::size_t(i - 1)]);
  for (long i = from; i <= kMacroLineWidth; ++i) {
    char c = in[std::size_t(i - 1)];
    q.step(c);
    if (!IsBlankOrTab(c) || !q.outside() || i > last) {
      out.push_back(c);  // a run that reaches the end of the line is padding
      continue;
    }
    // A run of blanks outside quotations: it goes next to the name and
    // next to a comma; between two operands one blank stays when
    // keepOperandsApart, so that they are not glued into one name.
    long end = i;
    while (IsBlankOrTab(in[std::size_t(end)])) ++end;
    bool separates = keepOperandsApart && i > from && in[std::size_t(i - 2)] != ',' && in[std::size_t(end)] != ',';
    if (separates) out.push_back(' ');
    i = end;
  }
  line.assign(out);
  line.insert(1, "\t");
}
