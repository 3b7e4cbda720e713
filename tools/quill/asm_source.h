// What the assembler read, by source line: the statements of NAME.ASM that
// the translator's line markers give to a line of NAME.QWR, and the
// keywords the macro package defines.  For the messages about lines the
// assembler could not take as a statement at all.
#pragma once

#include <set>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// The lines of a file (none when it cannot be read).
Lines read_lines(const std::string& path);

// The statements of `asm_lines` (the file `asm_name`) that stand at line
// `line` of `file` as the assembler counts (directives, comments and blank
// lines left out).
Lines statements_at(const Lines& asm_lines, const std::string& asm_name, const std::string& file,
                    long line);

// Whether `asm_lines` declares `name` (an @INSERT... or record line).
bool declares(const Lines& asm_lines, const std::string& name);

// The names of the package's statement macros, in upper case, read from
// the files of `include_dir`.
std::set<std::string> package_keywords(const std::string& include_dir);
