#include "elements.h"

#include <string>
#include <vector>

#include "assignments.h"
#include "keywords.h"
#include "literal_limits.h"
#include "scan.h"

using qwt::Digits;
using qwt::IsBlankOrTab;

namespace {

constexpr long kDeepestBrackets = 32;

// How an element of the row is handled.
struct Access {
  bool get = false;   // fetched before the statement
  bool put = false;   // stored back after it
  bool temp = false;  // fetched into a temporary instead of the field itself
};

// One row's element macro in the making.
class ElementMacro {
 public:
  ElementMacro(Row& row, Generation& g) : row_(row), g_(g) {}
  void Build();

 private:
  char BracketKind(long open, long close) const;
  void ScanBrackets();
  long CloseBracket(long open, long close);
  bool TableElement(long open, long close, long& end);
  Access Direction(long nameStart);
  Access WordsDirection(long nameStart, bool find);
  void Fetch(const DataName& field, std::string_view target, const std::string& index);
  void StoreBack(const DataName& field, std::string_view item, const std::string& index);
  long PutInPlace(long start, long close, std::string_view item, bool temp);
  void AppendStatement();
  std::string Contents(long open, long close) const;

  Row& row_;
  Generation& g_;
  long elementLength_ = 0;  // the last element's length
  long elements_ = 0;
  bool handled_ = false;  // a bracket was replaced
  std::vector<std::string> storeBacks_;
};

// Contents of a bracket pair without the blanks around them.
std::string ElementMacro::Contents(long open, long close) const {
  long a = open + 1, b = close - 1;
  while (a <= b && IsBlankOrTab(row_.text(a))) ++a;
  while (b >= a && IsBlankOrTab(row_.text(b))) --b;
  return std::string(row_.text.sub(a, b - a + 1));
}

// A bracket is fixed point when a point stands inside it (a decimal
// literal, written {digits,'picture'} by now) or one of its operands is a
// fixed-point item or temporary (inner brackets and elements are replaced
// by then); whole numbers otherwise.  Operands after the bracket never
// count.
char ElementMacro::BracketKind(long open, long close) const {
  std::string contents = Contents(open, close);
  if (contents.find('.') != std::string::npos) return 'N';
  std::string word;
  auto fixedPoint = [&] {
    char t = word.empty() ? ' ' : g_.names.TypeOf(word);
    if (t == ' ' && !word.empty()) t = g_.temporaries.KindOf(word);
    word.clear();
    return t == 'N';
  };
  for (char c : contents) {
    if (c == ' ' || c == '\t' || c == '+' || c == '-' || c == '*' || c == '/' || c == ',') {
      if (fixedPoint()) return 'N';
    } else {
      word.push_back(c);
    }
  }
  return fixedPoint() ? 'N' : 'I';
}

// Inner brackets are handled before the brackets around them.
void ElementMacro::ScanBrackets() {
  long open[kDeepestBrackets + 1] = {};
  long depth = 0;
  QuoteState q;
  for (long i = 1; i <= row_.commandLength && i <= kLineWidth; ++i) {
    char c = row_.text(i);
    q.step(c);
    if (!q.outside()) continue;
    if (c == '[') {
      g_.structure.OpenBracket(row_.line);
      if (depth >= kDeepestBrackets) Fatal(Msg::kBracketsTooDeep, row_.line);
      open[++depth] = i;
    } else if (c == ']') {
      g_.structure.CloseBracket(row_.line);
      if (depth == 0) continue;  // a stray one: reported after the row
      i = CloseBracket(open[depth], i);
      --depth;
    }
  }
}

// A closing bracket: a table element, or a sub-expression computed into a
// temporary.  Returns the column where the replaced text now ends.
long ElementMacro::CloseBracket(long open, long close) {
  handled_ = true;
  long end = close;
  if (TableElement(open, close, end)) return end;
  CheckWholeNumbers(row_.text.view(), open + 1, close - 1, row_.line);
  char kind = BracketKind(open, close);
  std::string name = g_.temporaries.Take(kind, false, {}, elementLength_, g_.defaultPicture.trimmed());
  bool numbers = kind == 'N';
  std::string contents = Contents(open, close);
  qwt::Text<kMacroLineWidth> line;
  line.put(1, numbers ? "@NUMBERS_CALC" : "@INTEGERS_CALC");
  line.put(16, name);
  line.put(21, ",=,");
  if (23 + long(contents.size()) > kMacroLineWidth) Fatal(Msg::kStatementTooLong, row_.line);
  line.put(24, contents);
  g_.macros.Append(line.view(), row_.line, g_.names);
  if (long width = close - open + 1; width < 5) {
    // Room for the temporary's five-character name.
    CheckRoom(row_, 5 - width);
    row_.text.insertBlanks(close, 5 - width);
    row_.commandLength += 5 - width;
    close += 5 - width;
  }
  row_.text.blank(open, close - open + 1);
  row_.text.put(open, name);
  row_.commandLength += numbers ? 13 : 14;
  return close;
}

// An element: contents without an operator, after a declared name.
bool ElementMacro::TableElement(long open, long close, long& end) {
  for (long i = open + 1; i < close; ++i) {
    char c = row_.text(i);
    if (c == '+' || c == '-' || c == '*' || c == '/') return false;
  }
  long start = open - 1;
  while (start >= 1) {
    char c = row_.text(start);
    if (IsBlankOrTab(c) || c == '[' || c == ',' || c == '{') break;
    --start;
  }
  ++start;
  std::string name(row_.text.sub(start, open - start));
  const DataName* found = g_.names.Find(name);
  if (!found) return false;
  const DataName field = *found;
  char kind = field.type;
  elementLength_ = field.length;
  ++elements_;
  std::string index = Contents(open, close);
  Access a = Direction(start);
  std::string item(field.name.trimmed());
  if (a.get) {
    if (a.temp)
      item = g_.temporaries.Take(kind, true, field.picture.trimmed(), field.length,
                                 g_.defaultPicture.trimmed());
    Fetch(field, a.temp ? std::string_view(item) : field.name.view(), index);
  }
  if (a.put) {
    // A later element of the row works in its temporary and is stored back
    // from there.
    StoreBack(field, a.temp ? std::string_view(item) : std::string_view(name), index);
    row_.text.blank(open, close - open + 1);
  }
  end = PutInPlace(start, close, item, a.temp);
  return true;
}

// How a statement that is neither a decision nor an assignment treats its
// elements, by its keyword: the first of this table it holds decides.
enum class Rule { kRead, kWrite, kFirstReadAndWritten, kFirstWritten, kWords, kAccept, kUnknown };

Rule RuleOf(std::string_view statement, const DataNames& names) {
  static constexpr std::pair<std::string_view, Rule> kRules[] = {
      {"@CURSOR", Rule::kRead},
      {"@DISPLAY", Rule::kRead},
      {"@ACCEPT", Rule::kAccept},
      {"@INTEGERS", Rule::kFirstReadAndWritten},
      {"@NUMBERS", Rule::kFirstReadAndWritten},
      {"@DATE_", Rule::kFirstWritten},
      {"@WWW", Rule::kRead},  // written when the statement processes a request
      {"@TERMINATE", Rule::kRead},
      {"@WORDS", Rule::kWords},
  };
  auto holds = [&](std::string_view w) {
    return FindKeyword(names, statement, w, long(statement.size())) != 0;
  };
  for (const auto& [keyword, rule] : kRules) {
    if (!holds(keyword)) continue;
    if (keyword == "@WWW" && holds("PROCESS")) return Rule::kWrite;
    return rule;
  }
  return Rule::kUnknown;
}

// Whether a statement has a comma between operands: outside quotations,
// braces and square brackets.
bool HasOperandComma(std::string_view upperStatement) {
  QuoteState q;
  int depth = 0;
  for (char c : upperStatement) {
    q.step(c);
    if (!q.outside()) continue;
    if (c == '{' || c == '[') ++depth;
    if ((c == '}' || c == ']') && depth > 0) --depth;
    if (c == ',' && depth == 0) return true;
  }
  return false;
}

// Whether the element whose name starts at `nameStart` is read, written or
// both: decisions read; an assignment writes its destination and reads its
// sources; otherwise the statement's keyword decides.  Only the statement
// counts, never its comment.
Access ElementMacro::Direction(long nameStart) {
  Access a;
  bool later = elements_ > 1;
  long end = RowParts(row_.text.trimmed()).statementEnd();
  Line upper;
  upper.upperOf(row_.text);
  std::string_view u = upper.first(end);
  QuoteState q;
  for (long i = 1; i <= end; ++i) {
    q.step(u[std::size_t(i - 1)]);
    if (!q.outside()) continue;
    for (std::string_view w : {"IF", "@_OR", "@_AND", "_TEST", "@WHEN"}) {
      if (upper.at(i, w) && !TouchesDeclaredName(g_.names, row_.text.view(), i, long(w.size()))) {
        a.get = true;
        a.temp = later;
        return a;
      }
    }
  }
  long eq = row_.text.find('=');
  if (eq && eq <= end) {
    if (nameStart > eq) {
      a.get = true;
      a.temp = later;
    } else {
      a.put = true;
      // A compound assignment reads its destination too.
      char op = row_.text(eq + 1);
      a.get = op == '+' || op == '-' || op == '*' || op == '/';
    }
    return a;
  }
  std::string_view statement = row_.text.first(end);
  switch (RuleOf(statement, g_.names)) {
    case Rule::kRead:
      a.get = true;
      a.temp = later;
      break;
    case Rule::kWrite:
      a.put = true;
      break;
    case Rule::kFirstReadAndWritten:
      // The first element is fetched and stored back, later ones only read
      // in temporaries.
      a.get = true;
      (later ? a.temp : a.put) = true;
      break;
    case Rule::kFirstWritten:
      // The first element receives the result, later ones are read.
      if (later)
        a.get = a.temp = true;
      else
        a.put = true;
      break;
    case Rule::kWords:
      return WordsDirection(nameStart, FindKeyword(g_.names, statement, "_FIND", end) != 0);
    case Rule::kAccept:
      // Field input at a row and a column shows the field's contents and
      // edits them: its element is fetched first.  A line read replaces it.
      if (HasOperandComma(u)) {
        a.get = true;
        (later ? a.temp : a.put) = true;
      } else {
        a.put = true;
      }
      break;
    case Rule::kUnknown:
      // A statement whose direction is unknown (a CALL argument, a loop
      // limit ...) sees the element's value and keeps what it leaves there,
      // when asked to; otherwise no line is generated for it.
      a.get = a.put = g_.fetchUnsettled;
      a.temp = later && g_.fetchUnsettled;
      break;
  }
  return a;
}

// In an "@WORDS" statement, by the commas of the statement (up to a ";",
// braces skipped): its first comma and the last one after it.
Access ElementMacro::WordsDirection(long nameStart, bool find) {
  Access a;
  bool later = elements_ > 1;
  long comma1 = 0, comma2 = 0;
  bool brace = false;
  for (long i = 1; i <= row_.commandLength; ++i) {
    char c = row_.text(i);
    if (c == ';') break;
    if (c == '{') brace = true;
    if (c == '}') brace = false;
    if (!brace && c == ',') (comma1 ? comma2 : comma1) = i;
  }
  if (!comma1) {
    a.get = a.put = true;
    a.temp = later;
  } else if (nameStart < comma1) {
    a.get = a.temp = true;
    elements_ = 2;
  } else if (!comma2) {
    a.put = true;
    elements_ = 1;
  } else if (nameStart < comma2) {
    if (find) {
      a.put = true;
      elements_ = 1;
    } else {
      a.get = a.temp = true;
    }
  } else {
    // After the last of two commas the element may be read or written:
    // fetched and stored back; an element before it may already stand in
    // the field's own item, so a later one works in a temporary.
    a.get = a.put = true;
    a.temp = later;
  }
  return a;
}

// The fetch line, in fixed columns.
void ElementMacro::Fetch(const DataName& field, std::string_view target, const std::string& index) {
  qwt::Text<kMacroLineWidth> line;
  line.put(1, field.tableType == 'X' ? "@XTABLES_fget " : "@TABLES_fget ");
  line.put(15, field.table.view());
  line.put(46, ",");
  line.put(47, Digits(field.no, 4));
  line.put(51, ",");
  line.put(52, target);
  line.put(84, ",");
  if (85 + long(index.size()) - 1 > kMacroLineWidth) Fatal(Msg::kStatementTooLong, row_.line);
  line.put(85, index);
  g_.macros.Append(line.view(), row_.line, g_.names);
}

// The store-back line, kept until the statement has been appended.
void ElementMacro::StoreBack(const DataName& field, std::string_view item, const std::string& index) {
  std::string line(field.tableType == 'X' ? "@XTABLES_fput " : "@TABLES_fput ");
  line.resize(14, ' ');
  line.append(field.table.view());
  line.resize(45, ' ');
  line += "," + Digits(field.no, 4) + ",";
  line.append(item);
  line = std::string(qwt::TrimRight(line)) + "," + index;
  if (long(line.size()) > kMacroLineWidth) Fatal(Msg::kStatementTooLong, row_.line);
  storeBacks_.push_back(line);
}

// The element (name start .. close) gives way to its plain item; returns
// the column where the item's place ends.
long ElementMacro::PutInPlace(long start, long close, std::string_view item, bool temp) {
  long width = close - start + 1;
  long grow = width == 4 ? 1 : (temp && width < 5 ? 5 - width : 0);
  if (grow) {
    CheckRoom(row_, grow);
    row_.text.insertBlanks(start, grow);
    row_.commandLength += grow;
    width += grow;
  }
  row_.text.blank(start, width);
  row_.text.put(start, item.substr(0, std::size_t(width)));
  return start + width - 1;
}

// The row's own statement, its brackets replaced, is the macro's next
// line; its store-back lines follow.
void ElementMacro::AppendStatement() {
  RewriteAssignment(row_, g_.names, g_.temporaries);
  long start = 1;
  while (start <= kLineWidth && IsBlankOrTab(row_.text(start))) ++start;
  long end = start - 1;
  QuoteState q;
  for (long i = start; i <= kLineWidth; ++i) {
    q.step(row_.text(i));
    if (q.inComment()) break;
    if (!IsBlankOrTab(row_.text(i))) end = i;
  }
  if (end - start + 1 > kMacroLineWidth) Fatal(Msg::kStatementTooLong, row_.line);
  g_.macros.Append(row_.text.sub(start, end - start + 1), row_.line, g_.names);
  for (const std::string& line : storeBacks_) g_.macros.Append(line, row_.line, g_.names);
}

void ElementMacro::Build() {
  long macro = g_.macros.Begin(row_.line);
  g_.temporaries.ReleaseAll();
  // The row as it reads before its elements are replaced stays behind the
  // call as a comment.
  Line source;
  source.upperOf(row_.text);
  ScanBrackets();
  if (!g_.structure.bracketsBalanced()) Fatal(Msg::kBracketsUnbalanced, row_.line);
  AppendStatement();
  if (!handled_) return;
  long at = std::max<long>(RowParts(source.trimmed()).indent(), 1);
  source.insert(at, "m" + Digits(macro, 3) + " ; ");
  row_.text = source;
  row_.commandLength = std::min<long>(row_.commandLength + 7, kLineWidth);
  row_.lineLength = row_.commandLength;
  row_.kind = RowKind::kMacroCall;
}

}  // namespace

void BuildElementMacro(Row& row, Generation& g) {
  ElementMacro(row, g).Build();
}
