// The line markers of nasm's expansion of the macro package.
#pragma once

#include <string>

// How many lines too far nasm's preprocessor places the markers it writes
// ("%line N+1 FILE" before the line it numbers N, which nasm itself then
// reads as N + 1: so NASM 2.16), found by expanding a two-line probe
// `probe` (a file name in folder `cwd`) with `nasm`; 0 when the probe
// cannot be run.
int marker_shift(const std::string& nasm, const std::string& cwd, const std::string& probe);

// Moves every counting marker of the expansion `text` back by `shift`
// lines, so that assembling it names the lines the expansion meant.
void mend_line_markers(std::string& text, int shift);

// Gathers the fault stubs of the expansion `text` (each written into the
// section qw_faults in the middle of its statement's expansion) at its end,
// in their order, under line 0: the assembler switches sections once, and
// the debugger's breakpoint at a statement's line stops in the statement
// alone.
void gather_fault_stubs(std::string& text);
