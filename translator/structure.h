// The structure counts: how many blocks of each kind the program opens and
// closes, printed as a summary after the second pass with a message for
// every pair that does not balance.
#pragma once

#include <string_view>
#include <vector>

#include "messages.h"
#include "names.h"
#include "rows.h"

class StructureCounts {
 public:
  // Counts the openers and closers in columns 1..commandLength of a row
  // (outside quotations; a keyword that a declared name holds is no
  // keyword).  `line` is the row's source line.  Between BEGIN_ASSEMBLER
  // and END_ASSEMBLER nothing is counted.
  void CountRow(const Line& text, long commandLength, long line, const DataNames& names);
  // The last row counted left an assembler block (BEGIN_ASSEMBLER) open:
  // the rows up to its END_ASSEMBLER are not rewritten.
  bool inAssembler() const { return assembler_; }
  // Square brackets are counted by the element step, as it meets them.
  void OpenBracket(long line) { brackets_.Open(line); }
  void CloseBracket(long line) { brackets_.Close(line); }
  bool bracketsBalanced() const { return brackets_.opened == brackets_.closed; }
  // Prints the summary and a message for every pair that does not balance
  // (in positions mode followed by the line of its first unmatched opener or
  // closer); returns the number of the last such message, else 0.
  int Report(Reporter& out, bool positions) const;

 private:
  struct Pair {
    long opened = 0, closed = 0;
    std::vector<long> open;        // lines of the openers not closed yet
    long firstUnmatchedCloser = 0;
    void Open(long line) {
      ++opened;
      open.push_back(line);
    }
    void Close(long line) {
      ++closed;
      if (!open.empty())
        open.pop_back();
      else if (!firstUnmatchedCloser)
        firstUnmatchedCloser = line;
    }
  };
  // One row in hand: its upper-case copy and its text as written.
  struct Scan {
    std::string_view upper, text;
    const DataNames& names;
    long line;
    bool Reads(long i, std::string_view word) const;
    bool Holds(std::string_view word) const;
  };
  void CountAt(const Scan& row, long i);

  bool assembler_ = false;

  Pair subs_, repeats_, ifs_, dots_, tests_, whens_, braces_, brackets_;
};

// True for a line of the summary Report prints (no message): tools that
// pass the translator's messages on leave these lines out.
bool IsSummaryLine(std::string_view line);
