// The assembler's messages, shown to the user against NAME.QWR.
#pragma once

#include <string>

#include "quill.h"

// Writes the messages of `log` (what nasm printed for the program) on
// standard error, each once: at its NAME.QWR line with the line itself
// below it, in the words of the language where nasm's own would puzzle a
// user; at most 20 of them.  `include_dir` is the macro package's folder.
void report_assembly(const std::string& log, const Program& program,
                     const std::string& include_dir);
