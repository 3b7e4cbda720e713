#include "operators.h"

#include <string>
#include <vector>

#include "scan.h"

using qwt::IsBlankOrTab;

namespace {

bool IsOperator(char c) { return c == '+' || c == '-' || c == '*' || c == '/'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || qwt::IsDigit(c) || c == '_' ||
         c == '$';
}

// The last character of an operand: a name, a number, an element or a
// braced operand.
bool EndsOperand(char c) { return IsNameChar(c) || c == ']' || c == '}'; }

// Blanks on both sides of every operator that directly follows an operand.
std::string SpaceBinaryOperators(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  QuoteState q;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    q.step(c);
    if (q.outside() && IsOperator(c) && i > 0 && EndsOperand(s[i - 1])) {
      out += ' ';
      out += c;
      if (i + 1 < s.size() && !IsBlankOrTab(s[i + 1])) out += ' ';
      continue;
    }
    out += c;
  }
  return out;
}

// The operands and operators after the "=", split at blanks outside
// brackets and braces.
std::vector<std::string> Terms(std::string_view s) {
  std::vector<std::string> terms;
  int depth = 0;
  std::string term;
  for (char c : s) {
    if (c == '[' || c == '{') ++depth;
    if ((c == ']' || c == '}') && depth > 0) --depth;
    if (depth == 0 && IsBlankOrTab(c)) {
      if (!term.empty()) terms.push_back(term);
      term.clear();
    } else {
      term += c;
    }
  }
  if (!term.empty()) terms.push_back(term);
  return terms;
}

bool IsNegatedName(const std::string& t) {
  return t.size() > 1 && t[0] == '-' && (IsNameChar(t[1]) && !qwt::IsDigit(t[1]));
}

// Rewrites each "-name" of a calculation's source as a step; false when
// there is none.
bool NegationsAsSteps(std::vector<std::string>& terms) {
  bool changed = false;
  for (std::size_t k = 0; k < terms.size(); ++k) {
    if (!IsNegatedName(terms[k])) continue;
    std::string name = terms[k].substr(1);
    std::string before = k ? terms[k - 1] : std::string();
    if (k == 0) {
      terms[k] = name + " * -1";  // left to right: -a op b is a * -1 op b
    } else if (before == "+" || before == "-") {
      terms[k - 1] = before == "+" ? "-" : "+";
      terms[k] = name;
    } else if (before == "*") {
      terms[k] = "-1 * " + name;
    } else if (before == "/") {
      terms[k - 1] = "*";
      terms[k] = "-1 / " + name;
    } else {
      continue;
    }
    changed = true;
  }
  return changed;
}

// A calculation into a number: its destination, then "=" and a blank.
std::size_t CalculationSource(std::string_view s, const DataNames& names) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return 0;
  std::size_t e = s.find_first_of(" \t=[{", b);
  if (e == std::string_view::npos) return 0;
  char type = names.TypeOf(s.substr(b, e - b));
  if (type != 'I' && type != 'N') return 0;
  std::size_t eq = s.find('=', e);
  if (eq == std::string_view::npos || eq + 1 >= s.size() || !IsBlankOrTab(s[eq + 1])) return 0;
  return eq + 1;
}

}  // namespace

void SeparateOperators(Row& row, const DataNames& names) {
  long cl = row.commandLength;
  std::string_view statement = row.text.first(cl);
  if (statement.find_first_of("+-*/") == std::string_view::npos) return;
  std::string s = SpaceBinaryOperators(statement);
  if (std::size_t from = CalculationSource(s, names)) {
    std::vector<std::string> terms = Terms(std::string_view(s).substr(from));
    if (NegationsAsSteps(terms)) {
      s.resize(from);
      for (const std::string& t : terms) s += " " + t;
    }
  }
  long grow = long(s.size()) - cl;
  if (grow == 0 && s == statement) return;
  MakeRoom(row, grow);
  std::string rest(row.text.sub(cl + 1, kLineWidth - cl));
  row.text.assign(s + rest);
  row.commandLength += grow;
  row.lineLength += grow;
}
