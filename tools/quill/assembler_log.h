// The assembler's messages, shown to the user against NAME.QWR.
#pragma once

#include <string>
#include <vector>

#include "quill.h"

// One message of the assembler at its place.
struct AssemblerMessage {
  std::string file;
  long line = 0;
  std::string kind;  // "error", "warning" ...
  std::string text;
};

// The messages of `log` (what nasm printed for the program), each once and
// in the language's words where nasm's own would puzzle a user; nasm's
// lines that are no message (fatal lines without a place) go to `others`.
// `include_dir` is the macro package's folder.
std::vector<AssemblerMessage> assembler_messages(const std::string& log, const Program& program,
                                                 const std::string& include_dir,
                                                 std::vector<std::string>& others);

// Writes the messages of `log` on standard error: each at its NAME.QWR
// line with the line itself below it; at most 20 of them.
void report_assembly(const std::string& log, const Program& program,
                     const std::string& include_dir);
