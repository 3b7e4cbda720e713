// First pass: loads the source, then walks its rows once to apply the
// synonyms, find the assembler and macro blocks, drop round brackets, read
// declarations and binds, and decide the facts every later stage reads from
// the row: its block, whether it lies in the instruction part, and where
// the writer's anchors stand.
#include "load.h"
#include "program_parts.h"
#include "scan.h"
#include "translator.h"

namespace {

// Columns 1..end of text hold `word` (upper case) outside quotations.
bool HoldsOutsideQuotes(const Line& text, long end, std::string_view word) {
  std::string_view view = text.view();
  long p = FindUpper(view, word, end);
  if (!p) return false;
  RowParts parts(view.substr(0, std::size_t(end)));
  while (p && !parts.outside(p)) {
    long next = FindUpper(view.substr(std::size_t(p)), word, end - p);
    p = next ? p + next : 0;
  }
  return p != 0;
}

// Round brackets carry no meaning: each becomes a blank (inside quotations
// they stay).  The row remembers that it held some.
void RemoveRoundBrackets(Row& row) {
  std::string_view statement = row.text.first(row.commandLength);
  if (statement.find_first_of("()") == std::string_view::npos) return;
  RowParts parts(row.text.first(row.commandLength));
  for (long i = 1; i <= row.commandLength; ++i) {
    if ((row.text(i) == '(' || row.text(i) == ')') && parts.outside(i)) {
      row.text(i) = ' ';
      row.facts |= kRoundBrackets;
    }
  }
}

// The statement part of a row: what comes before its comment.
long StatementEnd(const Row& row) {
  if (row.kind == RowKind::kStatement) return row.commandLength;
  if (row.kind == RowKind::kDirective) return RowParts(row.text.trimmed()).statementEnd();
  return 0;
}

// The facts that run from row to row.
struct Blocks {
  bool assembler = false;    // inside @BEGIN_ASSEMBLER .. @END_ASSEMBLER
  bool macro = false;        // inside %MACRO .. %ENDMACRO
  bool instructions = false;  // BEGIN.INSTRUCTIONS has been included
  Part part = Part::kHead;   // where the writer stands
};

// A statement row meets the assembler block markers.  Lines inside a
// block are kept as written; the markers themselves stay statements.
void SeeAssemblerMarkers(Row& row, Blocks& b) {
  if (b.assembler) {
    if (HoldsOutsideQuotes(row.text, row.commandLength, "@END_ASSEMBLER")) {
      b.assembler = false;
      row.facts |= kClosesAssembler;
    } else {
      row.kind = RowKind::kAssembler;
    }
  } else if (HoldsOutsideQuotes(row.text, row.commandLength, "@BEGIN_ASSEMBLER")) {
    b.assembler = true;
    row.facts |= kOpensAssembler;
  }
}

// %MACRO / %IMACRO open an assembler macro, %ENDMACRO closes it; the last
// of them on a line decides.
void SeeMacroBlock(const Row& row, long end, Blocks& b) {
  std::string_view view = row.text.view();
  if (view.substr(0, std::size_t(std::max(end, 0L))).find('%') == std::string_view::npos) return;
  RowParts parts(view.substr(0, std::size_t(end)));
  for (long i = 1; i <= end; ++i) {
    if (row.text(i) != '%' || !parts.outside(i)) continue;
    if (ReadsUpper(view, i, "%MACRO") || ReadsUpper(view, i, "%IMACRO")) b.macro = true;
    if (ReadsUpper(view, i, "%ENDMACRO")) b.macro = false;
  }
}

// The writer's anchors, each looked for once the one before it was seen:
// the includes of BEGIN.DICTIONARY, BEGIN.MATRIX and BEGIN.INSTRUCTIONS.
void SeeAnchor(Row& row, long end, Blocks& b) {
  static constexpr std::string_view kAnchors[] = {program_parts::kDictionary, program_parts::kMatrix,
                                                  program_parts::kInstructions};
  if (b.part == Part::kInstructions) return;
  if (FindUpper(row.text.view(), kAnchors[int(b.part)], end)) {
    row.anchor = true;
    b.part = Part(int(b.part) + 1);
  }
}

void DecideFacts(Row& row, Blocks& b) {
  row.part = b.part;
  row.anchor = false;
  bool inBlock = row.kind == RowKind::kAssembler || row.has(kOpensAssembler);
  if (!inBlock && row.kind != RowKind::kStatement && b.assembler) {
    row.facts |= kInAssembler;
    inBlock = true;
  }
  long end = StatementEnd(row);
  if (!inBlock) SeeMacroBlock(row, end, b);
  if (b.macro) row.facts |= kInMacroBlock;
  if (row.kind != RowKind::kAssembler) {
    // The instruction part begins at its include, written in this case.
    if (!b.instructions && row.text.first(end).find(program_parts::kInstructions) != std::string_view::npos)
      b.instructions = true;
    if (row.kind != RowKind::kBlank && row.kind != RowKind::kComment) SeeAnchor(row, end, b);
  }
  if (b.instructions) row.facts |= kInstructions;
}

}  // namespace

void FirstPass(Translator& t) {
  LoadSource(t);
  for (std::string_view name : {"RETURN_CODE", "ERROR_CODE", "exitRepeat"}) {
    DataName d;
    d.type = 'I';
    d.name.assign(name);
    d.length = long(name.size());
    t.names.Add(d);
  }
  Blocks blocks;
  Row row;
  for (long n = 1; n <= t.rows.size(); ++n) {
    // Only statements and directives are read: the facts of the other rows
    // need no text.
    RowKind kind = t.rows.kind(n);
    if (kind == RowKind::kStatement || kind == RowKind::kDirective) {
      t.rows.get(n, row);
    } else {
      row = Row{};
      row.kind = kind;
    }
    if (row.kind == RowKind::kStatement) {
      if (t.synonyms.ready())
        ApplySynonyms(t.synonyms.table(), row.text, row.commandLength, row.lineLength,
                      {t.windows, blocks.assembler}, row.line);
      SeeAssemblerMarkers(row, blocks);
      if (row.kind == RowKind::kStatement) {
        RemoveRoundBrackets(row);
        t.declarations.See(t.names, row.text, row.commandLength, row.line);
        SeeBind(t.names, row.text, row.commandLength);
      }
    }
    DecideFacts(row, blocks);
    if (kind == RowKind::kStatement)
      t.rows.set(n, row);
    else
      t.rows.setFacts(n, row);
  }
}
