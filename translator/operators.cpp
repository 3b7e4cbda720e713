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

// The operands and operators of a calculation, split at blanks outside
// quotations, brackets and braces.
std::vector<std::string> Terms(std::string_view s) {
  std::vector<std::string> terms;
  int depth = 0;
  QuoteState q;
  std::string term;
  for (char c : s) {
    q.step(c);
    if (q.outside() && (c == '[' || c == '{')) ++depth;
    if (q.outside() && (c == ']' || c == '}') && depth > 0) --depth;
    if (depth == 0 && q.outside() && IsBlankOrTab(c)) {
      if (!term.empty()) terms.push_back(term);
      term.clear();
    } else {
      term += c;
    }
  }
  if (!term.empty()) terms.push_back(term);
  return terms;
}

// "-name", "-[...]" or "-{...}": a minus written before an operand.
bool IsNegatedOperand(const std::string& t) {
  if (t.size() < 2 || t[0] != '-') return false;
  return t[1] == '[' || t[1] == '{' || (IsNameChar(t[1]) && !qwt::IsDigit(t[1]));
}

bool IsOperatorTerm(const std::string& t) { return t.size() == 1 && IsOperator(t[0]); }

// A sign written against the operand that follows an operand ("n_K -1",
// "n_K *2") is the operator between them: it becomes a term of its own.
void SplitOperatorsFromOperands(std::vector<std::string>& terms) {
  for (std::size_t k = 1; k < terms.size(); ++k) {
    const std::string& t = terms[k];
    if (t.size() < 2 || !IsOperator(t[0]) || IsOperatorTerm(terms[k - 1])) continue;
    std::string operand = t.substr(1);
    terms[k] = std::string(1, t[0]);
    terms.insert(terms.begin() + long(k) + 1, operand);
  }
}

// Rewrites each negated operand of a list of terms as a step of the
// calculation; `first` is the operator before the first term (a compound
// assignment's), empty when it opens the calculation.  The calculation runs
// left to right, so "-a op b" is "a * -1 op b".  False when there is none.
bool NegationsAsSteps(std::vector<std::string>& terms, std::string& first) {
  bool changed = false;
  for (std::size_t k = 0; k < terms.size(); ++k) {
    if (!IsNegatedOperand(terms[k])) continue;
    std::string operand = terms[k].substr(1);
    std::string& before = k ? terms[k - 1] : first;
    if (before.empty()) {
      terms[k] = operand + " * -1";
    } else if (before == "+" || before == "-") {
      before = before == "+" ? "-" : "+";
      terms[k] = operand;
    } else if (before == "*") {
      terms[k] = "-1 * " + operand;
    } else if (before == "/") {
      before = "*";
      terms[k] = "-1 / " + operand;
    } else {
      continue;
    }
    changed = true;
  }
  return changed;
}

std::string BracketsRewritten(const std::string& s);

// A calculation's terms with their negations as steps and their brackets
// rewritten the same way.
std::string TermsRewritten(std::string_view expression, std::string& first) {
  std::vector<std::string> terms = Terms(expression);
  const std::vector<std::string> written = terms;
  SplitOperatorsFromOperands(terms);
  for (std::string& t : terms) t = BracketsRewritten(t);
  bool negations = NegationsAsSteps(terms, first);
  if (!negations && terms == written) {
    // Nothing to rewrite: the text stays as written (blanks in a call's
    // arguments included).
    std::size_t b = expression.find_first_not_of(" \t");
    return std::string(b == std::string_view::npos ? "" : expression.substr(b));
  }
  std::string out;
  for (const std::string& t : terms) out += (out.empty() ? "" : " ") + t;
  return out;
}

// Every bracketed sub-expression of s (outside quotations) rewritten as a
// calculation of its own.
std::string BracketsRewritten(const std::string& s) {
  std::string out;
  QuoteState q;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    q.step(c);
    if (!q.outside() || c != '[') {
      out += c;
      continue;
    }
    int depth = 0;
    std::size_t close = i;
    for (; close < s.size(); ++close) {
      if (s[close] == '[') ++depth;
      if (s[close] == ']' && --depth == 0) break;
    }
    if (close >= s.size()) {
      out += s.substr(i);
      break;
    }
    std::string none;
    out += "[" + TermsRewritten(std::string_view(s).substr(i + 1, close - i - 1), none) + "]";
    i = close;
  }
  return out;
}

// The column after the bracket or brace group that opens at `open`.
std::size_t PastGroup(std::string_view s, std::size_t open) {
  char opening = s[open], closing = opening == '[' ? ']' : '}';
  int depth = 0;
  for (std::size_t i = open; i < s.size(); ++i) {
    if (s[i] == opening) ++depth;
    if (s[i] == closing && --depth == 0) return i + 1;
  }
  return s.size();
}

// A calculation into a number (or a table element of one): where its
// destination ends, the column after its "=" (and after the operator of a
// compound "=+", "=-", "=*", "=/"), and that operator.
struct Source {
  std::size_t destinationEnd = 0, from = 0;
  std::string op;
};

Source CalculationSource(std::string_view s, const DataNames& names) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_first_of(" \t=[{", b);
  if (e == std::string_view::npos) return {};
  char type = names.TypeOf(s.substr(b, e - b));
  if (type != 'I' && type != 'N') return {};
  std::size_t end = s[e] == '[' ? PastGroup(s, e) : e;
  std::size_t eq = s.find_first_not_of(" \t", end);
  if (eq == std::string_view::npos || s[eq] != '=' || eq + 1 >= s.size()) return {};
  if (IsOperator(s[eq + 1])) return {end, eq + 2, std::string(1, s[eq + 1])};
  return {end, eq + 1, {}};
}

// A function call's arguments are separated by blanks: "-1" there is an
// argument, never an operator.
bool CallsFunction(std::string_view s, const Source& src, const DataNames& names) {
  std::vector<std::string> terms = Terms(s.substr(src.from));
  return !terms.empty() && names.TypeOf(terms[0]) == 'f';
}

}  // namespace

bool IsCalculation(std::string_view statement, const DataNames& names) {
  Source src = CalculationSource(statement, names);
  return src.from && !CallsFunction(statement, src, names);
}

void SeparateOperators(Row& row, const DataNames& names) {
  long cl = row.commandLength;
  std::string_view statement = row.text.first(cl);
  std::string s = SpaceBinaryOperators(statement);
  if (Source src = CalculationSource(s, names); src.from && !CallsFunction(s, src, names)) {
    // The "=" is set off by blanks on both sides, as the destination's
    // name ends at a blank; an expression that needs no rewriting keeps
    // its blanks as written (a round bracket's blank among them).
    std::string_view expression = std::string_view(s).substr(src.from);
    std::string op = src.op;
    std::string rest = TermsRewritten(expression, op);
    std::size_t b = expression.find_first_not_of(" \t");
    if (op == src.op && b != std::string_view::npos && rest == expression.substr(b)) rest = expression;
    if (rest.empty() || !IsBlankOrTab(rest[0])) rest = " " + rest;
    s = s.substr(0, src.destinationEnd) + " =" + op + rest;
  } else {
    s = BracketsRewritten(s);
  }
  long grow = long(s.size()) - cl;
  if (grow == 0 && s == statement) return;
  CheckRoom(row, grow);
  std::string rest(row.text.sub(cl + 1, kLineWidth - cl));
  row.text.assign(s + rest);
  row.commandLength += grow;
  row.lineLength += grow;
}
