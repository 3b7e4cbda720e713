// What the language server knows of a program after translating it: the
// names it declares (from the translator's own tables), the blocks of its
// outline, and the translator's messages at their lines.
#pragma once

#include <string>
#include <vector>

#include "lsp_text.h"
#include "names.h"

// A message for the editor: at line `line` (from 1), on the bytes
// [first, last) of it, or the whole line when first < 0.
struct Diagnostic {
  long line = 1;
  long first = -1, last = -1;
  bool error = true;  // otherwise a warning
  std::string text;
  std::string source;  // "rewriter" or "nasm"
};

// A declaration the outline shows: a sub, a function, a record, a table,
// an xtable or a file, with the lines it spans.
struct Block {
  char kind = ' ';  // 's' sub, 'f' function, 'R' record, 'T' table, 'X' xtable, 'F' file
  std::string name;
  long line = 0, end = 0;
  long column = 0;  // byte column of the name on `line`
};

struct Analysis {
  int status = 0;            // the translator's exit status
  bool translated = false;   // NAME.ASM was written into the work folder
  std::vector<DataName> names;  // in the translator's order
  std::vector<Block> outline;
  std::vector<Diagnostic> diagnostics;

  // The first declaration of `name` (letter case counts), or null.
  const DataName* find(std::string_view name) const;
  const Block* find_block(std::string_view name) const;
};

// Where a translation takes its files: the source's folder (packages and
// synonyms files are named relative to it) and a private work folder that
// receives NAME.ASM.
struct Place {
  std::string folder;
  std::string work;
  std::string base;  // NAME
};

// Translates `source` as `rewriter -l NAME` does, in memory.
Analysis analyse(const SourceText& source, const Place& place);

// The outline's blocks, read from the declaration keywords of the lines.
std::vector<Block> outline_of(const SourceText& source);

// `line` of the source with the diagnostic's columns set to `token` when
// the line holds it.
void mark_token(Diagnostic& d, std::string_view line, std::string_view token);
