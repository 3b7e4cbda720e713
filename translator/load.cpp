// Loading the source: every line of NAME.QWR becomes a row (or, when "|"
// separates statements on it, a row per statement), classified as blank,
// directive, comment, statement or unclosed quotation.  Comment lines feed
// the synonym definitions; package includes feed the data names.
#include "load.h"

#include <cctype>
#include <cerrno>
#include <string>

#include "files.h"
#include "scan.h"

using qwt::IsBlankOrTab;

namespace {

enum class Directive { kNone, kDefine, kIdefine, kAssign, kInclude, kLine };

// In positions mode (as quill translates) a carriage return before the
// line feed ends the line, so a source saved with CR LF line ends builds
// as its copy with LF; the plain rewrite keeps it as part of the line.
std::string_view WithoutCarriageReturn(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Last column at or before `upTo` of text that is neither blank nor tab.
long LastNonBlank(std::string_view text, long upTo) {
  long i = std::min<long>(upTo, long(text.size()));
  while (i >= 1 && IsBlankOrTab(text[std::size_t(i - 1)])) --i;
  return i;
}

// The directive keyword a line holds outside quotations before its
// comment; it may stand anywhere there, also as the start of a longer word.
Directive FindDirective(std::string_view line, const RowParts& parts) {
  struct Keyword {
    std::string_view text;
    Directive kind;
  };
  static constexpr Keyword kKeywords[] = {{"%DEFINE", Directive::kDefine},
                                          {"%IDEFINE", Directive::kIdefine},
                                          {"%ASSIGN", Directive::kAssign},
                                          {"%INCLUDE", Directive::kInclude},
                                          {"%LINE", Directive::kLine}};
  long last = parts.commentStart() ? parts.commentStart() - 1 : long(line.size());
  for (long p = long(line.find('%')) + 1; p >= 1 && p <= last;
       p = long(line.find('%', std::size_t(p))) + 1) {
    if (!parts.outside(p)) continue;
    for (const Keyword& k : kKeywords)
      if (ReadsUpper(line, p, k.text)) return k.kind;
  }
  return Directive::kNone;
}

// "%INCLUDE" of a package (".PKG" in any letter case): the declarations of
// the file named between the first two quotation marks become known.  The
// include itself stays a directive for the assembler.
void ReadPackage(Translator& t, std::string_view line, const RowParts& parts, long sourceLine) {
  long last = parts.commentStart() ? parts.commentStart() - 1 : long(line.size());
  if (!FindUpper(line, ".PKG", last)) return;
  long q1 = 0, q2 = 0;
  for (long i = 1; i <= last && !q2; ++i) {
    char c = line[std::size_t(i - 1)];
    if (c == '"' || c == '\'') (q1 ? q2 : q1) = i;
  }
  if (!q2 || t.noFiles) return;
  FileText pkg = ReadWholeFile(std::string(line.substr(std::size_t(q1), std::size_t(q2 - q1 - 1))));
  if (!pkg.ok) return;  // a missing package declares nothing
  ForEachLine(pkg.text, [&](std::string_view pkgLine) {
    if (t.positions) pkgLine = WithoutCarriageReturn(pkgLine);
    RowParts p(pkgLine);
    t.declarations.See(t.names, Line(pkgLine), std::min(p.statementEnd(), kLineWidth), sourceLine);
  });
}

void Append(Translator& t, const Row& row) {
  if (!t.rows.push_back(row)) Fatal(Msg::kProgramTableFull);
}

// A row's text may hold 249 columns: what it writes must fit them.
void EnsureFits(long lastWrittenColumn, long sourceLine) {
  if (lastWrittenColumn > kLineWidth) Fatal(Msg::kStatementPastColumn249, sourceLine);
}

// Statements separated by "|" outside quotations: each becomes a row that
// keeps the line's indentation; the line's comment stays with none of
// them.  Empty statements (two separators, a separator at either end) give
// no row.  Returns false when the line holds no separator.
bool SplitStatements(Translator& t, std::string_view line, const RowParts& parts, long sourceLine) {
  long cl = parts.statementEnd();
  long origin = parts.indent();
  auto store = [&](long from, long to) {
    if (from < 1 || to < from) return;
    long len = to - from + 1;
    EnsureFits(origin + len - 1, sourceLine);
    Row row;
    row.kind = RowKind::kStatement;
    row.line = sourceLine;
    row.text.assign(line.substr(0, std::size_t(origin - 1)));
    row.text.put(origin, line.substr(std::size_t(from - 1), std::size_t(len)));
    row.commandLength = row.lineLength = origin + len - 1;
    Append(t, row);
  };
  long start = origin;
  bool separated = false;
  for (long i = origin; i <= cl; ++i) {
    if (line[std::size_t(i - 1)] != '|' || !parts.outside(i)) continue;
    separated = true;
    store(start, LastNonBlank(line, i - 1));
    start = i + 1;
    while (start <= cl && IsBlankOrTab(line[std::size_t(start - 1)])) ++start;
    if (start >= cl) break;
    i = start - 1;
  }
  if (!separated) return false;
  // A separator in the last column ends the statement; it is no statement.
  if (!(start == cl && line[std::size_t(cl - 1)] == '|')) store(start, cl);
  return true;
}

void LoadLine(Translator& t, std::string_view line, long sourceLine) {
  Row row;
  row.line = sourceLine;
  RowParts parts(line);
  if (!parts.indent() && !parts.commentStart()) {
    row.kind = RowKind::kBlank;
    Append(t, row);
    return;
  }
  row.text.assign(line);
  // Only a comment may be cut at column 249.
  row.lineLength = LastNonBlank(line, kLineWidth);
  Directive directive = FindDirective(line, parts);
  if (directive != Directive::kNone) {
    if (directive == Directive::kInclude) ReadPackage(t, line, parts, sourceLine);
    // The MASM dialect has no use for these.
    if (t.windows && (directive == Directive::kAssign || directive == Directive::kLine)) return;
    EnsureFits(parts.statementEnd(), sourceLine);
    row.kind = RowKind::kDirective;
    row.commandLength = row.lineLength;
  } else if (parts.hasStatement()) {
    if (SplitStatements(t, line, parts, sourceLine)) return;
    EnsureFits(parts.statementEnd(), sourceLine);
    row.kind = RowKind::kStatement;
    row.commandLength = parts.statementEnd();
  } else if (parts.commentStart()) {
    row.kind = RowKind::kComment;
    t.synonyms.SeeComment(row.text.first(row.lineLength), t.messages, t.noFiles);
  } else {
    // Opens a quotation it never closes: written whole for the assembler.
    EnsureFits(LastNonBlank(line, long(line.size())), sourceLine);
    row.kind = RowKind::kUnclosed;
  }
  Append(t, row);
}

// A calculation begins with its destination and "=": a name, perhaps with
// an element's braces, then the sign (`n_Total = ...`, `a_X{2} =+ ...`).
bool BeginsCalculation(std::string_view line) {
  std::size_t i = line.find_first_not_of(" \t");
  const std::size_t name = i;
  while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '_')) ++i;
  if (i == name || i == std::string_view::npos) return false;
  if (i < line.size() && line[i] == '{') i = line.find('}', i) + 1;
  if (i == 0) return false;  // braces not closed
  i = line.find_first_not_of(" \t", i);
  return i != std::string_view::npos && line[i] == '=';
}

// A calculation line that ends in "\" (outside quotations, with no
// comment) goes on in the next line: the line without the "\", 0 when it
// does not.  Other statements keep their lines as written.
std::size_t ContinuedStatement(std::string_view line, bool joining) {
  std::size_t end = line.find_last_not_of(" \t\r");
  if (end == std::string_view::npos || line[end] != '\\') return 0;
  RowParts parts(line);
  if (!parts.hasStatement() || parts.commentStart() || !parts.outside(long(end) + 1)) return 0;
  if (FindDirective(line, parts) != Directive::kNone) return 0;
  if (!joining && !BeginsCalculation(line)) return 0;
  return end;
}

// Lines joined into one statement: the rows of its continuation lines are
// blank, so every later row keeps its own line number.
struct Continuation {
  std::string text;  // the statement so far
  long firstLine = 0, lines = 0;
};

// Blank rows for the lines from..to (none when to < from).
void AppendBlankRows(Translator& t, long from, long to) {
  for (long line = from; line <= to; ++line) {
    Row blank;
    blank.kind = RowKind::kBlank;
    blank.line = line;
    Append(t, blank);
  }
}

}  // namespace

void LoadSource(Translator& t) {
  FileText src;
  if (t.useSourceText) {
    src.ok = true;
    src.text = t.sourceText;
  } else {
    src = ReadWholeFile(t.inFile);
    if (!src.ok && src.err == ENAMETOOLONG) Fatal(Msg::kNameTooLong);
  }
  if (!src.ok || src.text.empty()) Fatal(Msg::kNoSource);
  t.sourceBytes = src.text.size();

  // A line gives one row, plus one for each separator it splits at: room
  // for that many is set aside (address space only), so the table never
  // moves while it is loaded.
  std::size_t lines = 1, bars = 0;
  for (char c : src.text) {
    lines += c == '\n';
    bars += c == '|';
  }
  t.rows.reserve(std::min<std::size_t>(lines + bars, std::size_t(kProgramTableCapacity)),
                 src.text.size() + bars * 8);

  long sourceLine = 0;
  Continuation joined;
  ForEachLine(src.text, [&](std::string_view line) {
    ++sourceLine;
    if (t.positions) line = WithoutCarriageReturn(line);
    // A first line holding WINDOWS asks for the MASM dialect; it is no row.
    if (sourceLine == 1 && qwt::ToUpper(line).find("WINDOWS") != std::string::npos) {
      t.windows = true;
      return;
    }
    std::string whole;
    if (joined.lines) {
      whole = joined.text + std::string(line);
      line = whole;
    }
    std::size_t cut = t.positions ? ContinuedStatement(line, joined.lines > 0) : 0;
    if (cut) {
      if (!joined.lines++) joined.firstLine = sourceLine;
      joined.text = std::string(line.substr(0, cut));
      return;
    }
    if (!joined.lines) {
      LoadLine(t, line, sourceLine);
      return;
    }
    LoadLine(t, line, joined.firstLine);
    AppendBlankRows(t, joined.firstLine + 1, sourceLine);
    joined = Continuation();
  });
  // The last line continued onto none.
  if (joined.lines) {
    LoadLine(t, joined.text, joined.firstLine);
    AppendBlankRows(t, joined.firstLine + 1, sourceLine);
  }
}
