#include "masm.h"

#include <algorithm>

#include "../runtime/keys.h"
#include "keywords.h"
#include "scan.h"

using qwt::Digits;
using qwt::IsDigit;

namespace {

// Two-character operators come before the one-character ones, so "<=" is
// replaced as a whole before "<" is tried.
constexpr std::string_view kOperators[][2] = {
    {"!=", "_NEQ"}, {"!<", "_NLT"}, {"!>", "_NGT"}, {">=", "_NLT"}, {"=>", "_NLT"},
    {"<=", "_NGT"}, {"=<", "_NGT"}, {"=", "_EQ"},   {">", "_GT"},   {"<", "_LT"},
};
constexpr std::string_view kKeywords[][2] = {
    {"SECTION .DATA", ".DATA"},   {"SECTION .BSS", ".DATA?"}, {"SECTION .TEXT", ".CODE"},
    {"%MACRO", "STARTMACRO"},     {"%IMACRO", "STARTMACRO"},  {"%ENDMACRO", "ENDM"},
};

void Clamp(long& cl) { cl = std::clamp<long>(cl, 0, kLineWidth); }

// The first quotation mark `q` of the line becomes "<", the next ">".
void Bracket(Line& text, char q) {
  long open = text.find(q);
  if (!open) return;
  text(open) = '<';
  if (long close = text.find(q, open + 1)) text(close) = '>';
}

// A numeric value written with nine digits (leading zeros past nine do
// not change it); another value as it stands.
std::string EquValue(std::string value) {
  if (value.empty() || !std::all_of(value.begin(), value.end(), IsDigit)) return value;
  std::size_t nz = value.find_first_not_of('0');
  std::string significant = nz == std::string::npos ? "0" : value.substr(nz);
  return significant.size() <= 9 ? Digits(std::stol(significant), 9) : value;
}

}  // namespace

MasmDialect::MasmDialect(bool replacements, const DataNames& names) : names_(names) {
  if (!replacements) return;
  auto add = [&](std::string_view from, std::string_view to) {
    table_.push_back({std::string(from), qwt::ToUpper(from), std::string(to)});
  };
  for (auto& op : kOperators) add(op[0], op[1]);
  for (const auto& c : qw::keys::kConstants)
    if (c.masm) add(c.name, "%c" + std::string(c.name + 1));
  for (auto& k : kKeywords) add(k[0], k[1]);
  for (int k = 1; k <= 8; ++k) add("%" + std::to_string(k), "_arg" + std::to_string(k));
}

void MasmDialect::Convert(Line& text, long& cl, long sourceLine) {
  long ll = cl;
  ApplySynonyms(table_, text, cl, ll, {true, false, &names_}, sourceLine);
  Line upper;
  upper.upperOf(text);
  QuoteState q;
  for (long i = 1; i <= std::min(cl, kLineWidth); ++i) {
    q.step(text(i));
    if (!q.outside()) continue;
    char c = text(i);
    if (c == '{' || c == '}') {
      // A brace is doubled, except on a word declaration.
      text(i) = c == '{' ? '<' : '>';
      long word = FindKeyword(names_, text.view(), "INSERTWORD", cl);
      if (!word) {
        CheckRoom(text, cl, 1, sourceLine);
        text.insert(i + 1, c == '{' ? "<" : ">");
        ++cl;
        Clamp(cl);
        ++i;
      }
      upper.upperOf(text);
      continue;
    }
    if (upper.at(i, "_CALC ") && !TouchesDeclaredName(names_, text.view(), i, 5)) {
      // The expression after the assignment becomes one bracketed argument.
      long eq = text.find('=');
      long comma = eq ? text.find(',', eq + 1) : 0;
      if (comma && comma < cl) {
        CheckRoom(text, cl, 2, sourceLine);
        text.insert(comma + 1, "<");
        text.insert(cl + 2, ">");
        cl += 2;
        Clamp(cl);
        upper.upperOf(text);
      }
      continue;
    }
    if (upper.at(i, "%INCLUDE")) {
      text(i) = ' ';
      Bracket(text, '\'');
      Bracket(text, '"');
      break;
    }
    if (upper.at(i, "%DEFINE") || upper.at(i, "%IDEFINE")) {
      long at = Definition(text, cl, i, sourceLine);
      upper.upperOf(text);
      if (!at) continue;
      i = at;
    }
    if (upper.at(i, " EQU ") && !TouchesDeclaredName(names_, text.view(), i + 1, 3)) {
      Word name = Token(text.view(), 1, cl, ' ');
      if (name.start) constants_.emplace_back(name.in(text.view()));
      break;
    }
    if (upper.at(i, "STARTMACRO") && !TouchesDeclaredName(names_, text.view(), i, 10)) {
      MacroHeader(text, cl, i, sourceLine);
      break;
    }
  }
  PrefixConstants(text, cl, sourceLine);
}

// %define/%idefine at column `at`: a quoted value becomes TEXTEQU with the
// value in angle brackets; any other an EQU.  Returns the column of the
// blank before " EQU " when an EQU line was made, else 0.
long MasmDialect::Definition(Line& text, long& cl, long at, long sourceLine) {
  std::string_view view = text.view();
  Word name = Token(view, at + 8, cl, ' ');
  if (!name.start) return 0;
  std::string nm(name.in(view));
  long afterName = name.start + name.length;
  long open = 0;
  for (char quote : {'\'', '"'}) {
    long p = text.find(quote, afterName);
    if (p && p <= cl) {
      open = p;
      break;
    }
  }
  if (open) {
    long close = text.find(text(open), open + 1);
    if (!close || close > cl) return 0;  // an unterminated text is left as written
    std::string line = nm + " TEXTEQU <" + std::string(text.sub(open, close - open + 1)) + ">";
    if (long(line.size()) > kLineWidth) Fatal(Msg::kStatementTooLong, sourceLine);
    text.assign(line);
    cl = std::max<long>(cl + 2, long(line.size()));
    Clamp(cl);
    return 0;
  }
  Word value = Token(view, afterName, cl, ' ');
  std::string line = nm + " EQU " + EquValue(value.start ? std::string(text.sub(value.start, cl - value.start + 1)) : "");
  text.assign(line);
  cl = long(line.size());
  Clamp(cl);
  return long(nm.size()) + 1;
}

// A macro header "STARTMACRO name count" (count n, or n-m for optional
// parameters) becomes "name MACRO _arg1:REQ,...".
void MasmDialect::MacroHeader(Line& text, long& cl, long at, long sourceLine) {
  std::string_view view = text.view();
  Word name = Token(view, at + 11, cl, ' ');
  if (!name.start) return;
  Word count = Token(view, name.start + name.length, cl, ' ');
  std::string required(count.in(view));
  bool optional = false;
  if (auto dash = required.find('-'); dash != std::string::npos) {
    optional = dash + 1 < required.size();
    required.resize(dash);
  }
  long n = 0;
  for (char c : required) {
    if (!IsDigit(c)) {
      n = 0;
      break;
    }
    n = std::min<long>(n * 10 + (c - '0'), 99);
  }
  std::string line = std::string(name.in(view)) + " MACRO ";
  for (long k = 1; k <= n; ++k) line += (k > 1 ? ",_arg" : "_arg") + std::to_string(k) + ":REQ";
  if (n > 0 && optional) line += ",_args:VARARG";
  if (long(line.size()) > kLineWidth) Fatal(Msg::kStatementTooLong, sourceLine);
  text.assign(line);
  cl += long(line.size()) + 12;
  Clamp(cl);
}

// Every use of a constant is written with "%" in front of it (its own
// definition excepted).
void MasmDialect::PrefixConstants(Line& text, long& cl, long sourceLine) const {
  Line upper;
  upper.upperOf(text);
  long equ = upper.find(" EQU ");
  for (const std::string& constant : constants_) {
    std::string_view name = std::string_view(constant).substr(0, 30);
    long from = equ > 0 ? equ + 3 : 1;
    while (long p = text.find(name, from)) {
      bool inName = TouchesDeclaredName(names_, text.view(), p, long(name.size()));
      if (!inName && (p == 1 || text(p - 1) != '%')) {
        if (p <= cl) CheckRoom(text, cl, 1, sourceLine);
        text.insert(p, "%");
        ++cl;
        Clamp(cl);
      }
      from = p + 2;
    }
  }
}
