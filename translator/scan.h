// The one scanner of a row's text and the small word finders every stage
// uses.  Columns are counted from 1; a column outside the text reads as a
// blank.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "text.h"

// The quotation rule, applied column by column from column 1: a quotation
// mark opens a quotation that the same mark closes (the other mark is an
// ordinary character inside it); outside quotations a ";" starts the
// comment, after which nothing opens or closes.
class QuoteState {
 public:
  void step(char c) {
    if (c == '"' || c == '\'') {
      if (q_ == ' ')
        q_ = c;
      else if (c == q_)
        q_ = ' ';
    }
    if (q_ == ' ' && c == ';') q_ = ';';
  }
  // Neither inside a quotation nor in the comment.
  bool outside() const { return q_ == ' '; }
  bool inComment() const { return q_ == ';'; }

 private:
  char q_ = ' ';
};

// The parts of a row: where its statement begins and ends, where its
// comment begins, and which columns lie inside quotations (an opening mark
// belongs to its quotation, the closing mark does not).
class RowParts {
 public:
  explicit RowParts(std::string_view text);

  long indent() const { return indent_; }                  // first non-blank column, 0: none
  long statementStart() const { return statementStart_; }  // first column outside quotations, 0: none
  long commentStart() const { return commentStart_; }      // 0: no comment
  long statementEnd() const { return statementEnd_; }      // last non-blank column before the comment
  bool hasStatement() const { return statementStart_ > 0; }
  // Column `col` lies neither in a quotation nor in the comment.
  bool outside(long col) const {
    if (col < 1 || (commentStart_ && col >= commentStart_)) return false;
    std::size_t k = std::size_t(col - 1);
    if (k < kNear) return !(near_[k / 64] >> (k % 64) & 1);
    k -= kNear;
    return k / 64 >= far_.size() || !(far_[k / 64] >> (k % 64) & 1);
  }

 private:
  static constexpr std::size_t kNear = 256;  // columns held without allocation
  void MarkQuoted(long col);

  long indent_ = 0, statementStart_ = 0, commentStart_ = 0, statementEnd_ = 0;
  std::uint64_t near_[kNear / 64] = {};
  std::vector<std::uint64_t> far_;  // columns past kNear (long source lines)
};

// Column c of text (from 1); a blank outside it.
inline char At(std::string_view text, long c) {
  return (c >= 1 && c <= long(text.size())) ? text[std::size_t(c - 1)] : ' ';
}

// True when text reads `word` at column c, compared in upper case (`word`
// is upper case).
bool ReadsUpper(std::string_view text, long c, std::string_view word);
// Column of the first `word` (upper case) in columns 1..last of text,
// compared in upper case; 0 if none.
long FindUpper(std::string_view text, std::string_view word, long last);

// A word: its first column (0 when there is none) and length.
struct Word {
  long start = 0;
  long length = 0;
  long end() const { return start + length - 1; }
  std::string_view in(std::string_view text) const {
    return start ? text.substr(std::size_t(start - 1), std::size_t(length)) : std::string_view();
  }
};

// The first word at or after column `from`, up to column `last`: blanks,
// tabs, line feeds and `sep` separate words.
Word FirstWord(std::string_view text, long from, long last, char sep);
// The same scan from `from` toward `to` in either direction (downward when
// `from` lies beyond `to`), as the token finder of the generated rules
// visits its columns.
Word Token(std::string_view text, long from, long to, char sep);
