// The MASM dialect: an output step that turns each line the writer is about
// to write (and each generated macro line) into its MASM form, with a
// replacement table of its own.
#pragma once

#include <string>
#include <vector>

#include "names.h"
#include "rows.h"
#include "synonyms.h"

class MasmDialect {
 public:
  // A debug build converts without the replacement table.
  // `names` are the program's declared names: a keyword or a constant's
  // name that lies inside one of them is left as it is.
  MasmDialect(bool replacements, const DataNames& names);
  // Converts columns 1..commandLength of text in place: the replacements
  // (operators, key constants, sections, macro keywords and parameters),
  // then braces, calculation operands, includes, definitions and macro
  // headers, then the uses of the constants defined so far.  A line that
  // would no longer fit ends the run with message 07 naming `sourceLine`.
  void Convert(Line& text, long& commandLength, long sourceLine);

 private:
  long Definition(Line& text, long& cl, long at, long sourceLine);
  void MacroHeader(Line& text, long& cl, long at, long sourceLine);
  void PrefixConstants(Line& text, long& cl, long sourceLine) const;

  const DataNames& names_;
  std::vector<Synonym> table_;
  std::vector<std::string> constants_;  // names defined by EQU, in order
};
