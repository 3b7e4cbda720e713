// The program table: one row per source line or statement, each knowing
// the source line it came from and the facts the first pass decided for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "messages.h"
#include "text.h"

inline constexpr long kLineWidth = 249;       // a row's text
inline constexpr long kMacroLineWidth = 124;  // a generated macro line
inline constexpr long kProgramTableCapacity = 241509;

using Line = qwt::Text<kLineWidth>;

enum class RowKind : char {
  kBlank = 'B',
  kDirective = '%',
  kComment = 'C',
  kStatement = 'L',
  kAssembler = 'A',    // a statement line inside an assembler block
  kUnclosed = ' ',     // opens a quotation at its first character, never closes it
  kMacroCall = 'M',    // a statement replaced by the call of its generated macro
};

// Facts the first pass decides for a row (bits of Row::facts).
enum RowFact : std::uint8_t {
  kOpensAssembler = 1,    // holds @BEGIN_ASSEMBLER
  kClosesAssembler = 2,   // holds @END_ASSEMBLER
  kInAssembler = 4,       // a directive, comment or blank line inside a block
  kInMacroBlock = 8,      // within %MACRO .. %ENDMACRO (its own line included)
  kInstructions = 16,     // at or after the line that includes BEGIN.INSTRUCTIONS
  kRoundBrackets = 32,    // its statement held round brackets, now blanks
};

// Where the writer stands when it reaches a row: before the dictionary
// anchor, then after each anchor in turn.  The anchor line itself still
// belongs to the part it ends (Row::anchor).
enum class Part : std::uint8_t { kHead, kDictionary, kMatrix, kInstructions };

struct Row {
  RowKind kind = RowKind::kBlank;
  std::uint8_t facts = 0;
  Part part = Part::kHead;
  bool anchor = false;      // this line is the anchor that ends its part
  long line = 0;            // line of NAME.QWR the row came from
  long commandLength = 0;   // last column of the statement (the part that is written)
  long lineLength = 0;      // last column that is neither blank nor tab
  Line text;

  bool has(RowFact f) const { return (facts & f) != 0; }
};

// Ends the run with message 07 when `extra` more columns would push the
// written part of a line (columns 1..commandLength: its statement, or a
// directive's whole text; a comment may be cut) past column 249.
inline void CheckRoom(const Line& text, long commandLength, long extra, long sourceLine) {
  if (extra > 0 && std::min(commandLength, text.lastNonBlank()) + extra > kLineWidth)
    Fatal(Msg::kStatementTooLong, sourceLine);
}
inline void CheckRoom(const Row& row, long extra) {
  CheckRoom(row.text, row.commandLength, extra, row.line);
}

// Refuses a statement the package cannot take: it becomes an "%error"
// line, so that the assembler reports `message` at the statement's own
// line of NAME.QWR (the message holds no ";", which would end it).
inline void RefuseStatement(Row& row, std::string_view message) {
  long indent = 1;
  while (indent < row.commandLength && (row.text(indent) == ' ' || row.text(indent) == '\t')) ++indent;
  std::string line(row.text.sub(1, indent - 1));
  line += "%error ";
  line.append(message.substr(0, std::size_t(kLineWidth) - std::min<std::size_t>(line.size(), kLineWidth)));
  row.text.assign(line);
  row.commandLength = row.lineLength = std::min<long>(long(line.size()), kLineWidth);
}

// Storage of the rows: each keeps its text without the trailing blanks of
// the 249-column field, so a large source costs about its own size.  Rows
// are handed out and taken back whole (blank-padded again).
class ProgramRows {
 public:
  long size() const { return long(rows_.size()); }
  void reserve(std::size_t rows, std::size_t textBytes) {
    rows_.reserve(rows);
    text_.reserve(textBytes);
    qwt::AdviseHuge(rows_.data(), rows_.capacity() * sizeof(Stored));
    qwt::AdviseHuge(text_.data(), text_.capacity());
  }
  // Appends a row; false (nothing stored) at the capacity.
  bool push_back(const Row& r) {
    if (size() >= kProgramTableCapacity) return false;
    rows_.emplace_back();
    set(size(), r);
    return true;
  }
  RowKind kind(long n) const { return rows_[std::size_t(n - 1)].kind; }
  std::uint8_t facts(long n) const { return rows_[std::size_t(n - 1)].facts; }
  // Row n (from 1).
  Row get(long n) const {
    Row r;
    get(n, r);
    return r;
  }
  void get(long n, Row& out) const {
    const Stored& s = rows_[std::size_t(n - 1)];
    out.kind = s.kind;
    out.facts = s.facts;
    out.part = s.part;
    out.anchor = s.anchor;
    out.line = s.line;
    out.commandLength = s.cl;
    out.lineLength = s.ll;
    out.text.assign(std::string_view(text_.data() + s.off, s.len));
  }
  // Stores what the first pass decides for row n, leaving its text alone.
  void setFacts(long n, const Row& r) {
    Stored& s = rows_[std::size_t(n - 1)];
    s.facts = r.facts;
    s.part = r.part;
    s.anchor = r.anchor;
  }
  void set(long n, const Row& r) {
    Stored& s = rows_[std::size_t(n - 1)];
    std::string_view text = r.text.trimmed();
    if (text.size() > s.cap) {
      s.off = std::uint32_t(text_.size());
      s.cap = std::uint16_t(text.size());
      text_.append(text);
    } else {
      text_.replace(s.off, text.size(), text);
    }
    s.len = std::uint16_t(text.size());
    s.kind = r.kind;
    s.facts = r.facts;
    s.part = r.part;
    s.anchor = r.anchor;
    s.line = std::int32_t(r.line);
    s.cl = std::int16_t(r.commandLength);
    s.ll = std::int16_t(r.lineLength);
  }

 private:
  struct Stored {
    std::uint32_t off = 0;
    std::int32_t line = 0;
    std::uint16_t len = 0, cap = 0;
    std::int16_t cl = 0, ll = 0;
    RowKind kind = RowKind::kBlank;
    std::uint8_t facts = 0;
    Part part = Part::kHead;
    bool anchor = false;
  };
  std::vector<Stored> rows_;
  std::string text_;
};
