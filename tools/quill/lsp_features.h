// The answers of the language server: hover, definition, references, the
// outline and completion, for a position of a translated buffer.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "lsp_analysis.h"
#include "lsp_text.h"

using json = nlohmann::json;

// What every program may name without declaring it: the statements of the
// macro package, each with its line from the guides, and the constants and
// shared items of the dictionary.
struct Vocabulary {
  std::map<std::string, std::string> keywords;  // KEYWORD (upper case) -> guide line
  std::vector<std::pair<std::string, std::string>> constants;  // name, value
  std::vector<std::pair<std::string, char>> shared;             // name, kind (QWK_ letter)
};

// Reads the package in `include_dir`.
Vocabulary load_vocabulary(const std::string& include_dir);

// A buffer with its translation, as the features read it.
struct View {
  const std::string& uri;
  const SourceText& source;
  const Analysis& analysis;
  const Vocabulary& words;
};

// LSP positions: `line` from 1, `col` a byte column from 0.
json hover_at(const View& v, long line, long col);
json definition_at(const View& v, long line, long col);
json references_at(const View& v, long line, long col, bool with_declaration);
json symbols_of(const View& v);
json completion_at(const View& v, long line, long col);

// The LSP range of bytes [first, last) of a line (the whole line when
// first < 0).
json range_of(const SourceText& source, long line, long first, long last);
