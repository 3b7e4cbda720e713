// Second pass: counts the blocks of every row, then rewrites each statement
// row of the program into what the macro package takes: the default
// picture directive, decimal literals, element macros, array decisions,
// assignments and operand commas.  After the last row the structure
// summary and the balance messages are printed.
#include "assignments.h"
#include "calls.h"
#include "commas.h"
#include "elements.h"
#include "fixed_point.h"
#include "keywords.h"
#include "literal_limits.h"
#include "operators.h"
#include "scan.h"
#include "translator.h"
#include "whole_numbers.h"

namespace {

// "FP_DEFAULTPICTURE 'picture'" sets the picture of fixed-point
// temporaries; the row becomes a comment.  True when the row was it.
bool DefaultPictureDirective(Row& row, qwt::Text<30>& defaultPicture, const DataNames& names) {
  long p = FindKeyword(names, row.text.view(), "FP_DEFAULTPICTURE", row.commandLength);
  if (p == 0 || row.text(p - 1) == '\'') return false;
  long open = 0, close = 0;
  for (long i = p; i <= row.commandLength && !close; ++i) {
    char c = row.text(i);
    if (!open && (c == '\'' || c == '"'))
      open = i;
    else if (open && c == row.text(open))
      close = i;
  }
  if (!close) Fatal(Msg::kNoDefaultPicture, row.line);
  long len = close - open + 1;
  if (len > 30) Fatal(Msg::kPictureTooLong, row.line);
  defaultPicture.assign(qwt::ToUpper(row.text.sub(open, len)));
  CheckPicture(defaultPicture, row.line);
  row.text(1) = ';';
  row.kind = RowKind::kComment;
  return true;
}

// "@IF" on an array becomes "@ARRAYS_IF", with the array's name and the
// second brace group set off by commas.  When onlyIndexSetOff (positions
// mode) the second group is set off only where it is a second array's
// index, so a braced literal after a blank or comma stays whole.
void ArrayDecision(Row& row, const DataNames& names, bool onlyIndexSetOff) {
  long cl = row.commandLength;
  long p = FindUpper(row.text.view(), "@IF", cl);
  if (p == 0) return;
  Word name = Token(row.text.view(), p + 3, cl, '{');
  if (!name.start || names.TypeOf(name.in(row.text.view())) != 'A') return;
  CheckRoom(row, 8);
  row.text.insert(name.start + name.length, ",");
  row.text.insertBlanks(p, 7);
  row.text.put(p, "@ARRAYS_IF");
  row.commandLength += 8;
  row.lineLength += 8;
  long b1 = row.text.find('{');
  long b2 = b1 ? row.text.find('{', b1 + 1) : 0;
  if (b2 == 0 || b2 > row.commandLength) return;
  if (onlyIndexSetOff && (qwt::IsBlankOrTab(row.text(b2 - 1)) || row.text(b2 - 1) == ',')) return;
  CheckRoom(row, 1);
  row.text.insert(b2, ",");
  row.commandLength += 1;
  row.lineLength += 1;
}

// Column of the statement's first "[" outside quotations, 0 if none.
long FirstBracket(const Row& row) {
  std::string_view statement = row.text.first(row.commandLength);
  if (statement.find('[') == std::string_view::npos) return 0;
  RowParts parts(row.text.first(row.commandLength));
  for (long i = 1; i <= row.commandLength; ++i)
    if (row.text(i) == '[' && parts.outside(i)) return i;
  return 0;
}

// A declaration after the instructions began would put its item among the
// program's code: refused at its line.  True when the row was one.
bool RefuseLateDeclaration(Row& row) {
  static constexpr std::string_view kDeclarations[] = {
      "@INSERTNUMBER", "@INSERTWORD", "@INSERTARRAY", "@INSERTFILE",
      "@BEGIN_RECORD", "@END_RECORD", "@INSERTTABLE", "@INSERTXTABLE"};
  Word first = FirstWord(row.text.view(), 1, row.commandLength, ',');
  if (!first.start) return false;
  std::string word = qwt::ToUpper(first.in(row.text.view()));
  for (std::string_view d : kDeclarations) {
    if (word != d) continue;
    RefuseStatement(row, RefusalText(Msg::kDeclarationInInstructions, {word}));
    return true;
  }
  return false;
}

// A statement that opens a quotation it never closes is refused at its
// line.  True when the row was one.
bool RefuseUnclosedQuotation(Row& row) {
  QuoteState q;
  long opened = 0;
  for (long i = 1; i <= row.lineLength; ++i) {
    bool outside = q.outside();
    q.step(row.text(i));
    if (outside && !q.outside() && !q.inComment()) opened = i;
  }
  if (q.outside() || q.inComment()) return false;
  // The message holds no quotation mark or ";" of its own.
  std::string from;
  for (char c : row.text.sub(opened + 1, std::min<long>(12, row.lineLength - opened)))
    if (c != '\'' && c != '"' && c != ';') from += c;
  RefuseStatement(row, RefusalText(Msg::kQuotationNotClosed, {from}));
  return true;
}

// Round brackets are blanks to the plain rewrite, which a user who wrote
// them for grouping would not expect of a calculation: when quill builds
// (positions mode) the calculation is refused at its line.
void RefuseRoundBrackets(const Row& row, const DataNames& names) {
  if (row.has(kRoundBrackets) && IsCalculation(row.text.first(row.commandLength), names))
    Fatal(Msg::kRoundBrackets, row.line);
}

void Translate(Row& row, Translator& t) {
  if (DefaultPictureDirective(row, t.defaultPicture, t.names)) return;
  bool instructions = row.has(kInstructions);
  if (t.positions && instructions && !row.has(kInMacroBlock)) RefuseRoundBrackets(row, t.names);
  if (instructions && !row.has(kInMacroBlock) &&
      (RefuseUnclosedQuotation(row) || RefuseLateDeclaration(row) ||
       RefuseArgumentCount(row, t.names)))
    return;
  if (FindUpper(row.text.view(), "@INSERTNUMBER", row.commandLength)) RescaleDeclaredValue(row);
  // Operators written against their operands are set apart (and negations
  // made steps) for quill's builds; the plain rewrite leaves them as written.
  if (t.positions && instructions && !row.has(kInMacroBlock)) SeparateOperators(row, t.names);
  if (instructions && !row.has(kInMacroBlock) && RefusePlacesWhereWhole(row, t.names)) return;
  if (instructions) ExpandDecimalLiterals(row, t.names, t.positions);
  long bracket = FirstBracket(row);
  if (bracket > 0 && bracket < row.commandLength) {
    // Element macros belong to the instruction part, outside assembler
    // macros and section lines.
    if (instructions && !row.has(kInMacroBlock) &&
        !FindKeyword(t.names, row.text.view(), "SECTION", row.commandLength)) {
      Generation g{t.names, t.temporaries, t.macros, t.structure, t.defaultPicture, t.positions};
      BuildElementMacro(row, g);
    }
  } else {
    ArrayDecision(row, t.names, t.positions);
    if (instructions) {
      RewriteAssignment(row, t.names, t.temporaries);
      SetOperandCommas(row.text.c, row.commandLength, t.names, t.positions);
    }
  }
  row.commandLength = std::min(row.commandLength, kLineWidth);
  row.lineLength = std::clamp(std::max(row.lineLength, row.commandLength), 0L, kLineWidth);
}

}  // namespace

void SecondPass(Translator& t) {
  Row row;
  for (long n = 1; n <= t.rows.size(); ++n) {
    // Blank lines, comments and unclosed quotations hold no statement part.
    RowKind kind = t.rows.kind(n);
    if (kind != RowKind::kStatement && kind != RowKind::kDirective) continue;
    if (t.rows.facts(n) & (kInAssembler | kOpensAssembler)) continue;
    t.rows.get(n, row);
    t.structure.CountRow(row.text, row.commandLength, row.line, t.names);
    // Rows of an assembler block written BEGIN_ASSEMBLER .. END_ASSEMBLER
    // stay as written.
    if (row.kind != RowKind::kStatement || t.structure.inAssembler()) continue;
    Translate(row, t);
    t.rows.set(n, row);
  }
  if (int status = t.structure.Report(t.messages, t.positions)) t.status = status;
}
