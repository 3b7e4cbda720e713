#include "assignments.h"

#include <string>

#include "calls.h"
#include "literal_limits.h"
#include "messages.h"
#include "scan.h"

using qwt::IsBlankOrTab;

namespace {

// The destination: the first word of the statement, with the column of a
// "{" written directly before it (a braced destination).
struct Destination {
  long start = 0, end = 0, length = 0, brace = 0;
  char type = ' ';
  std::string_view in(const Row& row) const { return row.text.sub(start, length); }
};

Destination FindDestination(const Row& row) {
  Destination d;
  long cl = row.commandLength;
  long i = 1;
  for (; i <= cl; ++i) {
    char c = row.text(i);
    if (c == '{')
      d.brace = i;
    else if (IsBlankOrTab(c))
      d.brace = 0;
    else
      break;
  }
  if (d.brace && d.brace != i - 1) d.brace = 0;
  long e = i;
  while (e <= cl) {
    char c = row.text(e);
    if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '[' || c == '{') break;
    ++e;
  }
  d.start = i;
  d.end = e - 1;
  d.length = e - i;
  return d;
}

// The row's new text; only its statement must fit (a comment carried
// along may be cut).
void Replace(Row& row, const std::string& text, long statementEnd) {
  if (statementEnd > kLineWidth) Fatal(Msg::kStatementTooLong, row.line);
  row.text.assign(text);
}

// destination = function arguments  ->  TAB @FUNCTION destination,function,arguments
bool FunctionCall(Row& row, long eq, const Destination& dst, const DataNames& names) {
  Word fn = Token(row.text.view(), eq + 1, row.commandLength, ' ');
  if (!fn.start || names.TypeOf(fn.in(row.text.view())) != 'f') return false;
  if (dst.type != 'I' && dst.type != 'N') {
    std::string f(fn.in(row.text.view()));
    RefuseStatement(row, RefusalText(Msg::kFunctionGivesNumber, {f, f, dst.in(row)}));
    return true;
  }
  const DataName* callee = names.Find(fn.in(row.text.view()));
  long passed = CountArguments(row.text.first(row.commandLength).substr(std::size_t(fn.end())));
  if (names.checkArgumentCounts && passed >= 0 && passed != callee->parameters) {
    RefuseStatement(row, ArgumentCountMessage(*callee, passed));
    return true;
  }
  std::string line = "\t@FUNCTION ";
  line.append(dst.in(row));
  line.push_back(',');
  line.append(fn.in(row.text.view()));
  line.push_back(',');
  long prefix = long(line.size());
  long rest = fn.start + fn.length;
  line.append(row.text.sub(rest, kLineWidth - rest + 1));
  // The statement keeps its arguments; it never ends before it now does.
  long end = prefix + (row.commandLength - rest + 1);
  Replace(row, line, end);
  row.commandLength = std::max(row.commandLength + 10, end);
  return true;
}

// Inserts "," before the first "{" of an operand (and after the "}" that
// closes it when `afterToo`; `orAppend` adds "," at the end otherwise).
std::string SetOffIndex(std::string s, std::size_t from, bool afterToo, bool orAppend) {
  auto b = s.find('{', from);
  if (b == std::string::npos) {
    if (orAppend) s.push_back(',');
    return s;
  }
  s.insert(b, ",");
  if (!afterToo) return s;
  auto c = s.find('}', b + 2);
  if (c != std::string::npos)
    s.insert(c + 1, ",");
  else if (orAppend)
    s.push_back(',');
  return s;
}

// The message for an array element that is not the whole source of an
// assignment to a number.
std::string ArrayInCalculation(std::string_view element) {
  return RefusalText(Msg::kArrayElementInCalculation, {element, element});
}

// The first operand of a calculation that is an array element, empty if
// none.
std::string ArrayOperand(const Row& row, long eq, const DataNames& names) {
  long cl = row.commandLength;
  for (long k = eq + 1; k <= cl;) {
    while (k <= cl && IsBlankOrTab(row.text(k))) ++k;
    long e = k;
    while (e <= cl && !IsBlankOrTab(row.text(e))) ++e;
    std::string_view term = row.text.sub(k, e - k);
    std::size_t brace = term.find('{');
    if (brace != std::string_view::npos && brace > 0 && names.TypeOf(term.substr(0, brace)) == 'A')
      return std::string(term);
    k = e;
  }
  return {};
}

// An array destination or source: "@Arrays_Get" into an integer, else
// "@Arrays_" and the operation chosen by the characters at the "=".  A
// destination of another kind with an array source stays as written.
bool ArrayAssignment(Row& row, long eq, const Destination& dst, const DataNames& names) {
  long cl = row.commandLength;
  char after = row.text(eq + 1);
  bool opChar = after == '=' || after == '+' || after == '-' || after == '*' || after == '/';
  // A source written directly after a plain "=" starts right there.
  long k = (opChar || IsBlankOrTab(after)) ? eq + 2 : eq + 1;
  while (k <= cl && IsBlankOrTab(row.text(k))) ++k;
  // The source runs to the first blank outside its braces (an index may be
  // written with blanks: a_X{n_K - 1}, which the package then refuses).
  long e = k;
  for (int depth = 0; e <= cl && (depth > 0 || !IsBlankOrTab(row.text(e))); ++e) {
    if (row.text(e) == '{') ++depth;
    if (row.text(e) == '}' && depth > 0) --depth;
  }
  std::string src(row.text.sub(k, e > k ? e - k : 0));
  char srcType = names.TypeOf(std::string_view(src).substr(0, src.find('{')));
  if (dst.type != 'A' && srcType != 'A') return false;
  long from = dst.start;
  std::string out;
  bool number = dst.type == 'I' || dst.type == 'N';
  bool more = row.text.sub(e, cl - e + 1).find_first_not_of(" \t") != std::string_view::npos;
  if (number && (opChar || more)) {
    RefuseStatement(row, ArrayInCalculation(src));
    return true;
  }
  if (dst.type == 'A' && more) {
    std::string source(row.text.sub(k, cl - k + 1));
    source.erase(source.find_last_not_of(" \t") + 1);
    RefuseStatement(row, RefusalText(Msg::kArrayElementTakesOneOperand, {source, source}));
    return true;
  }
  if (number) {
    out = SetOffIndex("@Arrays_Get " + src + std::string(dst.in(row)), 12, true, false);
  } else if (dst.type == 'A') {
    // The destination as written, up to the blanks before the "=".
    long dEnd = eq - 1;
    while (dEnd >= dst.start && IsBlankOrTab(row.text(dEnd))) --dEnd;
    std::string target =
        SetOffIndex(std::string(row.text.sub(dst.start, dEnd - dst.start + 1)), 0, true, true);
    std::string source = SetOffIndex(src, 0, false, false);
    std::string op;
    switch (after) {
      case '=': op = "Swap"; break;
      case '+': op = "Add"; break;
      case '-': op = "Sub"; break;
      case '*': op = "Mul"; break;
      case '/': op = "Div"; break;
      default:
        if (FindUpper(row.text.view(), "@IF", cl)) {
          op = "IF";
          source = "=," + source;
          from = std::max<long>(1, dst.start - 4);
        } else {
          op = srcType == 'A' ? "Eq" : "Put";
        }
    }
    out = "@Arrays_" + op + " " + target + source;
  } else {
    RefuseStatement(row, RefusalText(Msg::kArrayElementIntoNumbersOnly, {src, src, dst.in(row)}));
    return true;
  }
  std::string line(row.text.sub(1, from - 1));
  line += out;
  Replace(row, line, long(line.size()));
  long end = long(line.size());
  row.commandLength = std::max(row.commandLength + 15, end);
  row.lineLength = std::max(row.lineLength + 15, end);
  return true;
}

// A word destination: "@words_pad source,destination", or "@words_copy"
// for a braced destination (braces kept).
void WordMove(Row& row, long eq, const Destination& dst) {
  long cl = row.commandLength;
  long dStart = dst.start, dEnd = dst.end;
  bool braced = dst.brace > 0;
  if (braced) {
    dStart = dst.brace;
    long close = row.text.find('}', dst.brace);
    if (close && close <= cl) dEnd = close;
  }
  std::string target(row.text.sub(dStart, dEnd - dStart + 1));
  long k = eq + 1;
  while (k <= cl && IsBlankOrTab(row.text(k))) ++k;
  long e = cl;
  while (e >= k && (IsBlankOrTab(row.text(e)) || row.text(e) == ';')) --e;
  std::string line(row.text.sub(1, dStart - 1));
  line += braced ? "@words_copy " : "@words_pad ";
  if (e >= k) line.append(row.text.sub(k, e - k + 1));
  line.push_back(',');
  line += target;
  Replace(row, line, long(line.size()));
  row.commandLength = std::min<long>(long(line.size()) + 1, kLineWidth);
}

// The kind of a calculation into an integer: fixed point as soon as the
// statement holds a point, or its first source word is a braced or quoted
// literal, a word, or a fixed-point item (a temporary counts by its kind).
char CalculationKind(const Row& row, long eq, char dstType, const DataNames& names,
                     const Temporaries& temporaries) {
  if (dstType != 'I') return dstType;
  long cl = row.commandLength;
  if (row.text.first(cl).find('.') != std::string_view::npos) return 'N';
  long k = eq + 1;
  while (k <= cl && IsBlankOrTab(row.text(k))) ++k;
  long e = k;
  for (; e <= cl && !IsBlankOrTab(row.text(e)); ++e) {
    char c = row.text(e);
    if (c == '{' || c == '\'' || c == '"') return 'N';
  }
  std::string_view word = row.text.sub(k, e - k);
  char w = names.TypeOf(word);
  if (w == ' ') w = temporaries.KindOf(word);
  return w == ' ' ? 'I' : (w == 'W' ? 'N' : w);
}

// destination = expression  ->  @INTEGERS_CALC destination = expression
// (@NUMBERS_CALC for fixed point); a compound "=+", "=-", "=*", "=/"
// becomes destination = destination op operand and always uses numbers.
void Calculation(Row& row, long eq, const Destination& dst, const DataNames& names,
                 const Temporaries& temporaries) {
  std::string element = ArrayOperand(row, eq, names);
  if (!element.empty()) {
    RefuseStatement(row, ArrayInCalculation(element));
    return;
  }
  CheckWholeNumbers(row.text.view(), eq + 1, row.commandLength, row.line);
  char kind = CalculationKind(row, eq, dst.type, names, temporaries);
  char op = row.text(eq + 1);
  bool compound = op == '+' || op == '-' || op == '*' || op == '/';
  std::string name(dst.in(row));
  CheckRoom(row, 15);
  row.text.insert(dst.start, "@INTEGERS_CALC ");
  row.commandLength += 15;
  eq += 15;
  long dEnd = dst.end + 15;
  if (compound) {
    if (IsBlankOrTab(row.text(dEnd + 1))) {
      row.text(dEnd + 1) = ',';
      // The rest of the blanks before the "=" go: the comma step would make
      // a second comma of them.
      long run = 0;
      while (dEnd + 2 + run < eq && IsBlankOrTab(row.text(dEnd + 2 + run))) ++run;
      if (run) {
        row.text.erase(dEnd + 2, run);
        row.commandLength -= run;
        eq -= run;
      }
    } else if (row.text(dEnd + 1) != ',') {
      CheckRoom(row, 1);
      row.text.insert(dEnd + 1, ",");
      ++row.commandLength;
      ++eq;
    }
    std::string repeat = "," + name + ",";
    CheckRoom(row, long(repeat.size()));
    row.text.insert(eq + 1, repeat);
    row.commandLength += long(repeat.size());
    long opColumn = eq + 1 + long(repeat.size());
    if (IsBlankOrTab(row.text(opColumn + 1))) {
      row.text(opColumn + 1) = ',';
    } else {
      // An operand written directly after the operator keeps its first
      // character.
      CheckRoom(row, 1);
      row.text.insert(opColumn + 1, ",");
      ++row.commandLength;
    }
  } else if (!IsBlankOrTab(op) && eq < row.commandLength) {
    // "=" written directly against its source: set the source off.
    CheckRoom(row, 1);
    row.text.insert(eq + 1, " ");
    ++row.commandLength;
  }
  if (kind == 'N' || compound) row.text.put(dst.start, "@NUMBERS_CALC ");
}

}  // namespace

void RewriteAssignment(Row& row, const DataNames& names, const Temporaries& temporaries) {
  long eq = long(row.text.first(row.commandLength).find('=')) + 1;
  if (eq == 0) return;
  Destination dst = FindDestination(row);
  if (dst.length <= 0) return;
  dst.type = names.TypeOf(dst.in(row));
  if (dst.type == ' ' && dst.brace) {
    // A part of a word no declaration names.
    std::string name(dst.in(row).substr(0, dst.in(row).find(',')));
    RefuseStatement(row, RefusalText(Msg::kNotDeclared, {name}));
    return;
  }
  if (dst.type == ' ') return;
  if (FunctionCall(row, eq, dst, names)) return;
  if (ArrayAssignment(row, eq, dst, names)) return;
  if (dst.type == 'W')
    WordMove(row, eq, dst);
  else
    Calculation(row, eq, dst, names, temporaries);
}
