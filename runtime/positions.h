// Where the running program stands in its source, for the fatal message:
// the line table the macro package writes into the section qw_lines
// (include/lines.mac gives its form), read only when the program ends.
#pragma once

#include <stdint.h>

namespace qw {

struct SourcePosition {
  const char* file = nullptr;  // the file's name as the assembler knew it
  uint64_t file_length = 0;    // (not terminated)
  uint64_t line = 0;
};

// The line of the innermost call of the program that led to the runtime:
// the return address of the call that entered the runtime (the register
// bridge keeps where it lies), else the first return address above it that
// lies in a stretch of the table (a fault routine of the package was
// called).  False when the program carries no table or no such call.
bool find_source_position(SourcePosition& at);

// The line that covers the code address `address` in the table starting
// at `table` and ending before `end`.
bool position_of(uint64_t address, const uint8_t* table, const uint8_t* end, SourcePosition& at);

}  // namespace qw
