// The line markers of nasm's expansion of the macro package.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>

// How many lines too far nasm's preprocessor places the markers it writes
// ("%line N+1 FILE" before the line it numbers N, which nasm itself then
// reads as N + 1: so NASM 2.16), found by expanding a two-line probe
// `probe` (a file name in folder `cwd`) with `nasm`; 0 when the probe
// cannot be run.
int marker_shift(const std::string& nasm, const std::string& cwd, const std::string& probe);

// Moves every counting marker of the expansion `text` back by `shift`
// lines, so that assembling it names the lines the expansion meant.
void mend_line_markers(std::string& text, int shift);

// The fault stubs of an expansion (small calls in the section qw_faults,
// each followed by its line, through which a statement that fails jumps to
// the package's routine), gathered at the end of the text under line 0:
// the assembler switches sections once, and the debugger's breakpoint at a
// statement's line stops in the statement alone.  With
// QW_FAULT_STUBS_BY_QUILL the package's jumps name their routine only
// ("jo ..@qwf.qw_Overflow") and the stubs are written here, as the package
// writes them otherwise (include/lines.mac): one per line and routine,
// numbered in order, each file's name before its first stub.  One object
// serves the pieces of one expansion in their order.
class FaultStubs {
 public:
  void gather(std::string& text);

 private:
  std::string stub_for(const std::string& routine, long line, const std::string& file,
                       std::string& stubs);

  long serial_ = 0;
  std::string file_;  // the file of the last stub written
  std::unordered_map<std::string, std::pair<std::string, long>> last_;  // routine: where, serial
};
