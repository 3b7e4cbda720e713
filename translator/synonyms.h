// Synonyms: words of a program's own that stand for other words.  The
// program declares them in a block of comment lines (and synonyms files it
// names there); once the block is closed, every statement has them
// replaced.  The replacement rule also serves the MASM dialect's own table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "messages.h"
#include "names.h"
#include "rows.h"

inline constexpr long kSynonymTableCapacity = 768;

struct Synonym {
  std::string word;         // as written
  std::string upperWord;    // what is looked for (letter case does not count)
  std::string replacement;  // as written
};

// Limits the replacement observes in the MASM dialect: "=" is left alone on
// a calculation line, "IF" inside an assembler block.  With `names`, the
// letters of a declared name are never a word to replace (the dialect's
// own table: a name beginning with a constant's name keeps its letters).
struct SynonymRules {
  bool dialect = false;
  bool inAssembler = false;
  const DataNames* names = nullptr;
};

// Replaces, for each synonym in table order, its first occurrence in the
// line when it starts a word outside quotations and the comment.  A longer
// replacement that would push the written part of the line past column 249
// ends the run with message 07 naming `sourceLine`.
void ApplySynonyms(const std::vector<Synonym>& table, Line& text, long& commandLength,
                   long& lineLength, SynonymRules rules, long sourceLine);

class Synonyms {
 public:
  // Sees a comment line while the source is loaded: opens and closes the
  // definition block, reads the definitions in it and the synonyms files it
  // names.  Notes about unusable definitions go to `out`.
  void SeeComment(std::string_view line, Reporter& out, bool noFiles);
  // The block was opened and closed: statements get their synonyms.
  bool ready() const { return block_ == Block::kClosed; }
  const std::vector<Synonym>& table() const { return table_; }

 private:
  enum class Block { kBefore, kInside, kClosed };
  void Define(std::string_view line, Reporter& out);
  void Import(std::string_view line, Reporter& out, bool noFiles);

  Block block_ = Block::kBefore;
  std::vector<Synonym> table_;
};
