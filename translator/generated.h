// What the second pass generates besides rewritten rows: temporaries (data
// items a statement needs and the source never declared) and the lines of
// the generated macros.  The writer lays both out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "names.h"
#include "rows.h"

inline constexpr long kTemporariesCapacity = 512;
inline constexpr long kMacroLinesCapacity = 1024;
inline constexpr long kMostMacros = 999;

// The temporaries: "a" words, "i" integers, "n" fixed-point numbers, each
// with a four-digit serial number shared by all kinds.  A temporary serves
// one statement at a time.
class Temporaries {
 public:
  struct Entry {
    char kind;           // W, I or N (another kind holds only its serial number)
    bool inUse;
    qwt::Text<62> line;  // its declaration, exactly as written
    std::string_view name() const { return line.sub(16, 5); }
  };

  // A temporary of `kind` for the statement in hand: a released one that
  // declares the same picture (numbers) or length (words), else a new one
  // (message 08 beyond the capacity).  An element's temporary declares the
  // element's picture; another number the default picture (fixed point) or
  // none (integers).  Returns its five-character name.
  std::string Take(char kind, bool forElement, std::string_view elementPicture, long length,
                   std::string_view defaultPicture);
  // The next statement may use every temporary again.
  void ReleaseAll() {
    for (Entry& e : entries_) e.inUse = false;
  }
  // The kind of the temporary called `name`, or a blank when no temporary
  // is called so.
  char KindOf(std::string_view name) const;
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
  long lastSerial_ = 0;
};

// The generated macros m001, m002 ...: their lines in the order they run,
// held in their final form (operands set off by commas, blanks between
// operands removed, a tab in front).
class MacroLines {
 public:
  struct Line {
    long macro;
    long sourceLine;  // of the statement the macro stands for
    qwt::Text<kMacroLineWidth> text;
  };

  // Starts the next macro (message 09 beyond 999 macros); returns its number.
  long Begin(long sourceLine);
  // Appends a line to the macro begun last (message 07 when it does not fit
  // a macro line, message 09 beyond the table's capacity).
  // `names` are the program's declared names, for the comma step.
  void Append(std::string_view text, long sourceLine, const DataNames& names);
  long count() const { return count_; }
  const std::vector<Line>& lines() const { return lines_; }
  // Positions mode: the comma step's window starts at the statement and
  // compression keeps operands apart (set once, before the second pass).
  bool positions = false;

 private:
  std::vector<Line> lines_;
  long count_ = 0;
};

// A macro line laid out for the macros block: the first word (the macro's
// name) and its blank stay, then every blank and tab outside quotations is
// removed, and a tab goes in front (the last column drops off).  With
// keepOperandsApart (positions mode) one blank stays between two operands
// that blanks alone separated, so they are not glued into one name.
void CompressMacroLine(qwt::Text<kMacroLineWidth>& line, bool keepOperandsApart);
