// The assembler's messages, shown to the user against NAME.QWR.
#pragma once

#include <string>

#include "quill.h"

// Writes the messages of `log` (what nasm printed for the program) on
// standard error: each at its NAME.QWR line when that can be found, with
// the line itself below it; at most 20 of them.
void report_assembly(const std::string& log, const Program& program);
