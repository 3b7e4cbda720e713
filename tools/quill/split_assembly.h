// A large expansion assembled in two halves side by side: nasm works on one
// processor, and the assembly is about half of a large program's build.
#pragma once

#include <string>

struct AssemblyHalves {
  bool split = false;  // false: assemble the expansion whole
  std::string first, second;
};

// Cuts the expansion `text` at a label of the program's code near its
// middle and makes each half assemble alone: the labels one half takes
// from the other are declared global there and external here, every
// external of the program is declared in both, and the second half starts
// in the code section at the line where the first one stopped.  Nothing is
// cut when the expansion is small (below `least` bytes) or no such label
// stands in its second half.
AssemblyHalves split_expansion(const std::string& text, size_t least);
