// The writer: lays NAME.ASM out from the rows, the temporaries and the
// generated macros.  It changes no table; the MASM dialect, the debug
// markers, the inlined word copies and the positions markers are steps of
// the output alone.
#include <memory>
#include <string>

#include "masm.h"
#include "scan.h"
#include "translator.h"

using qwt::Digits;
using qwt::IsSpaceLf;

namespace {

// The lines of one statement that copies one word into another
// ("@WORDS_COPY source,destination" or "@WORDS_PAD ...") when both are
// declared words: the call is kept as a comment and the copy is written
// as direct calls of the runtime's block routines.
struct WordCopy {
  bool pad = false;
  long start = 0;  // column of the macro's name
  std::string source, destination;
  long sourceLength = 0, destinationLength = 0;
};

// Finds a word copy in columns 1..cl: exactly three operands at most, no
// braces, both operands declared words.
bool FindWordCopy(const Line& text, long cl, const DataNames& names, WordCopy& copy) {
  Word tokens[3];
  int count = 0;
  bool open = false;
  for (long i = 1; i <= cl; ++i) {
    char c = text(i);
    if (IsSpaceLf(c) || c == ',') {
      open = false;
      continue;
    }
    if (c == '{' || c == '}') return false;
    if (!open) {
      if (++count > 3) return false;  // a fourth operand: left as written
      tokens[count - 1].start = i;
      open = true;
    }
    ++tokens[count - 1].length;
  }
  std::string_view view = text.view();
  std::string op = qwt::ToUpper(tokens[0].in(view).substr(0, 30));
  if (op != "@WORDS_COPY" && op != "@WORDS_PAD") return false;
  const DataName* src = names.Find(tokens[1].in(view));
  const DataName* dst = names.Find(tokens[2].in(view));
  if (!src || src->type != 'W' || !dst || dst->type != 'W') return false;
  copy.pad = op == "@WORDS_PAD";
  copy.start = tokens[0].start;
  copy.source = tokens[1].in(view);
  copy.destination = tokens[2].in(view);
  copy.sourceLength = src->length;
  copy.destinationLength = dst->length;
  return true;
}

class Writer {
 public:
  explicit Writer(Translator& t)
      : t_(t), masm_(!t.debug, t.names), positions_(t.positions && !t.windows),
        srcDefines_(t.debug && positions_) {}
  void Run();

 private:
  void Emit(std::string_view line);
  // Positions mode: the lines that follow belong to source line `line`.
  void BeginRow(long line);
  void EndRow();
  // Positions mode: the lines that follow are NAME.ASM's own.
  void OwnLines();
  void WriteRow(Row& row);
  void WriteTemporaries(char kind);
  void WriteMacros();
  void DebugMarker(const Row& row);
  void WriteStatement(Row& row);

  Translator& t_;
  MasmDialect masm_;
  bool positions_;
  bool srcDefines_;  // positions mode: debug markers name their source line
  long lines_ = 0;   // lines of NAME.ASM written so far
  // Positions mode: the lines of the row in hand, and how the assembler
  // numbers the next line (NAME.QWR's line `next_`, going up by `step_`,
  // or NAME.ASM's own).
  std::string pending_;
  long pendingLines_ = 0;
  long rowLine_ = 0;
  bool inRow_ = false;
  bool sourceNumbers_ = false;
  long next_ = 0;
  int step_ = 1;
  bool continued_ = false;  // in a statement continued by "\" whose first line had a marker
};

void Writer::Emit(std::string_view line) {
  std::string& out = inRow_ ? pending_ : t_.output;
  out.append(line);
  out.push_back('\n');
  if (inRow_)
    ++pendingLines_;
  else
    ++lines_;
}

void Writer::BeginRow(long line) {
  if (!positions_) return;
  inRow_ = true;
  rowLine_ = line;
  pending_.clear();
  pendingLines_ = 0;
}

// A row of one line keeps counting up from it; a row of several lines
// holds them all at its source line.
void Writer::EndRow() {
  if (!positions_) return;
  inRow_ = false;
  if (pendingLines_ == 0) return;
  bool single = pendingLines_ == 1;
  if (!(sourceNumbers_ && next_ == rowLine_ && (step_ == 0 || single))) {
    Emit("%line " + std::to_string(single ? rowLine_ - 1 : rowLine_) + (single ? "+1 " : "+0 ") +
         t_.inFile);
    sourceNumbers_ = true;
    next_ = rowLine_;
    step_ = single ? 1 : 0;
  }
  t_.output += pending_;
  lines_ += pendingLines_;
  next_ += step_ * pendingLines_;
}

void Writer::OwnLines() {
  if (!positions_ || !sourceNumbers_) return;
  Emit("%line " + std::to_string(lines_ + 1) + "+1 " + t_.outFile);
  sourceNumbers_ = false;
}

void Writer::WriteTemporaries(char kind) {
  static constexpr std::string_view kKinds = "WIN";
  static constexpr std::string_view kNames[] = {"Words", "Integers", "FixedPoint numbers"};
  std::string_view name = kNames[kKinds.find(kind)];
  OwnLines();
  Emit(" ");
  Emit(";(BEGIN):Temporary " + std::string(name) + " by Quillwright");
  for (const Temporaries::Entry& e : t_.temporaries.entries())
    if (e.kind == kind) Emit(e.line.view());
  Emit(";(END..):Temporary " + std::string(name) + " by Quillwright");
}

void Writer::WriteMacros() {
  OwnLines();
  Emit(" ");
  Emit(";(BEGIN):Macros created by Quillwright");
  long current = 0;
  auto end = [&] { Emit(t_.windows ? "ENDM" : "%endmacro"); };
  for (MacroLines::Line m : t_.macros.lines()) {
    if (m.macro != current) {
      if (current) end();
      current = m.macro;
      Emit(" ");
      // In positions mode an expansion counts as the line that called it.
      if (t_.windows)
        Emit("m" + Digits(current, 3) + " MACRO");
      else
        Emit("%macro m" + Digits(current, 3) + (positions_ ? " 0.nolist" : " 0"));
    }
    if (t_.windows) {
      Line text(m.text.view());
      long cl = m.text.lastNonBlank();
      masm_.Convert(text, cl, m.sourceLine);
      // A line that its MASM form makes longer than a macro line holds
      // ends the run rather than losing its last operands.
      if (text.lastNonBlank() > kMacroLineWidth) Fatal(Msg::kMacroLineTooLong, m.macro);
      m.text.assign(text.view());
    }
    Emit(m.text.view());
  }
  if (current) end();
  Emit(";(END)..:Macros created by Quillwright");
  Emit(" ");
}

// Before the first line of every statement of a debug build (a line that
// continues a condition, the later lines of a statement continued with
// "\", and lines of assembler blocks get none).
void Writer::DebugMarker(const Row& row) {
  if (!t_.debug || row.has(kClosesAssembler) || row.has(kInAssembler)) return;
  if (!row.has(kOpensAssembler)) {
    Line upper;
    upper.upperOf(row.text);
    bool continues = false;
    long cl = std::min(row.commandLength, kLineWidth);
    for (long i = 1; i <= cl; ++i) {
      if (upper.at(i, "@_OR") || upper.at(i, "@_AND")) {
        char before = row.text(i - 1);
        if (i == 1 || before == ' ' || before == '(' || before == '\t') return;
      }
      if (row.text(i) == '\\' && IsSpaceLf(row.text(i + 1))) {
        continues = true;
        break;
      }
    }
    if (continues) {
      if (continued_) return;
      continued_ = true;
    } else if (continued_) {
      continued_ = false;
      return;
    }
  }
  // In positions mode the marker's macro reports QW_SRC_n, n being one more
  // than the number the assembler gives the marker line.
  if (srcDefines_)
    Emit("%define QW_SRC_" + std::to_string(rowLine_ + 1) + " " + std::to_string(row.line));
  qwt::Text<256> marker;
  marker.put(123, "DEBUG");
  Emit(marker.view());
}

// A statement of the instruction part: its debug marker, then the statement
// or its inlined word copy.
void Writer::WriteStatement(Row& row) {
  DebugMarker(row);
  long cl = std::min(row.commandLength, kLineWidth);
  WordCopy copy;
  if (!FindWordCopy(row.text, cl, t_.names, copy)) {
    Emit(row.text.first(cl));
    return;
  }
  row.text(copy.start) = ';';
  Emit(row.text.first(cl));
  // Each line keeps the statement's indentation and is padded to its width.
  std::string indent(row.text.first(copy.start - 1));
  auto line = [&](const std::string& text) {
    std::string out = indent + text;
    if (long(out.size()) > kLineWidth) out.resize(std::size_t(kLineWidth));
    if (long(out.size()) < cl) out.append(std::size_t(cl - long(out.size())), ' ');
    Emit(out);
  };
  bool masm = t_.windows;
  long shorter = std::min(copy.sourceLength, copy.destinationLength);
  line((masm ? "LEA RSI," : "MOV RSI,") + copy.source);
  line((masm ? "LEA RDI," : "MOV RDI,") + copy.destination);
  line("mov rcx," + Digits(shorter, 6));
  line("Call _MOVSTR");
  if (!copy.pad || copy.destinationLength <= copy.sourceLength) return;
  line((masm ? "LEA RDI," : "mov RDI,") + copy.destination);
  line("add RDI," + Digits(copy.sourceLength, 6));
  line("mov RCX," + Digits(copy.destinationLength, 6));
  line("sub RCX," + Digits(copy.sourceLength, 6));
  line("Call _PADSTR");
}

void Writer::WriteRow(Row& row) {
  if (row.kind == RowKind::kBlank || row.kind == RowKind::kComment ||
      row.kind == RowKind::kAssembler) {
    // Blank lines and comments vanish from a debug build; assembler lines
    // are written as they stand, comment included.
    BeginRow(row.line);
    if (row.kind == RowKind::kBlank && !t_.debug) Emit(" ");
    if (row.kind == RowKind::kComment && !t_.debug) Emit(row.text.first(row.lineLength));
    if (row.kind == RowKind::kAssembler) Emit(row.text.first(row.lineLength));
    EndRow();
    return;
  }
  // A line that opens a quotation it never closes is written whole, so that
  // the assembler sees (and reports) it.
  if (row.kind == RowKind::kUnclosed && row.commandLength == 0) row.commandLength = row.lineLength;
  if (t_.windows) masm_.Convert(row.text, row.commandLength, row.line);
  // The generated macros stand just before the instruction part's include.
  if (row.part == Part::kMatrix && row.anchor) WriteMacros();
  BeginRow(row.line);
  if (row.part == Part::kInstructions)
    WriteStatement(row);
  else
    Emit(row.text.first(std::clamp<long>(row.commandLength, 0, kLineWidth)));
  EndRow();
  // The temporaries follow the dictionary's and the matrix's includes.
  if (row.anchor && row.part == Part::kHead) WriteTemporaries('W');
  if (row.anchor && row.part == Part::kDictionary) {
    WriteTemporaries('I');
    WriteTemporaries('N');
  }
}

void Writer::Run() {
  t_.output.clear();
  // Inlined copies make the output about twice the source.
  t_.output.reserve(std::max<std::size_t>(std::size_t(t_.rows.size()) * 40,
                                          t_.sourceBytes * 5 / 2) + 65536);
  qwt::AdviseHuge(t_.output.data(), t_.output.capacity());
  if (t_.debug)
    Emit("%assign debug 1");
  else if (!t_.windows)
    Emit("%assign debug 0");
  if (srcDefines_) {
    char quote = t_.inFile.find('\'') == std::string::npos ? '\'' : '"';
    Emit("%define QW_SRCFILE " + (quote + t_.inFile + quote));
  }
  Row row;
  for (long n = 1; n <= t_.rows.size(); ++n) {
    t_.rows.get(n, row);
    WriteRow(row);
  }
  if (t_.windows) Emit("END");
  t_.outputComplete = true;
}

}  // namespace

void WriteAssembly(Translator& t) { Writer(t).Run(); }
