// The running program's source lines from the assembler's debug
// information (.debug_line of /proc/self/exe), for the fatal message of a
// program that carries no line table of its own: quill builds so, since
// the assembler writes these lines at no cost to the build.  Only lines of
// a Quillwright source count (a file named *.QWR or *.ASM): the macro
// package's own routines and a host's code have none.
#pragma once

#include <stdint.h>

#include "positions.h"

namespace qw {

class DebugLines {
 public:
  // Maps the program's file; false when it has no line numbers.  The
  // mapping stays while the program ends: the file names found point
  // into it.
  bool open();

  // The code (low, high] the source lines cover (return addresses).
  void source_range(uint64_t& low, uint64_t& high) const;
  // The source line of the call that returns to `address`.
  bool line_of_return(uint64_t address, SourcePosition& at) const;

 private:
  const uint8_t* lines_ = nullptr;  // .debug_line
  uint64_t size_ = 0;
};

}  // namespace qw
