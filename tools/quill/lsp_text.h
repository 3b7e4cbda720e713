// The editor's buffer as the language server sees it: its lines, and the
// two ways of counting a column (the editor counts UTF-16 units from 0,
// the server bytes from 0).
#pragma once

#include <string>
#include <string_view>
#include <vector>

class SourceText {
 public:
  SourceText() = default;
  explicit SourceText(std::string text);

  const std::string& text() const { return text_; }
  long lines() const { return long(lines_.size()); }
  // Line n (from 1) without its line end; empty outside the buffer.
  std::string_view line(long n) const;
  // A byte column of line n for the editor's column, and back.
  long byte_column(long n, long utf16) const;
  long utf16_column(long n, long byte) const;

 private:
  std::string text_;
  std::vector<std::string_view> lines_;
};

// A character of a name (n_Total, r_Item$LENGTH) or of a keyword (@IF).
bool is_name_char(char c);

// The name or keyword under byte column `col` of `line` (also when the
// cursor stands just after it), with its first column; empty when none.
std::string_view word_at(std::string_view line, long col, long* start = nullptr);

// The columns of every whole `word` in the statement part of `line`
// (outside quotations and the comment).
std::vector<long> word_columns(std::string_view line, std::string_view word);
