#include "synonyms.h"

#include <algorithm>

#include "files.h"
#include "keywords.h"
#include "scan.h"

using qwt::IsSpaceLf;

namespace {

// A word of a definition: the run after any separators (blanks, tabs, line
// feeds and `extra`) from position i on; i is left after it.
std::string_view NextWord(std::string_view line, std::size_t& i, char extra) {
  auto separates = [&](char c) { return IsSpaceLf(c) || c == extra; };
  while (i < line.size() && separates(line[i])) ++i;
  std::size_t start = i;
  while (i < line.size() && !separates(line[i])) ++i;
  return line.substr(start, i - start);
}

bool StartsAWord(char before) {
  return before == ' ' || before == '\t' || before == ',' || before == '(' || before == '{';
}

}  // namespace

void ApplySynonyms(const std::vector<Synonym>& table, Line& text, long& commandLength,
                   long& lineLength, SynonymRules rules, long sourceLine) {
  if (table.empty()) return;
  Line upper;
  upper.upperOf(text);
  // The first occurrence of a word, outside declared names when they count.
  auto first = [&](std::string_view word) {
    return rules.names ? FindKeyword(*rules.names, text.view(), word, kLineWidth) : upper.find(word);
  };
  for (const Synonym& s : table) {
    long p = first(s.upperWord);
    if (p == 0) continue;
    if (rules.dialect) {
      long calc = first("S_CALC");
      if (s.upperWord == "=" && calc && calc <= commandLength) continue;
      if (s.upperWord == "IF" && rules.inAssembler) continue;
    }
    if (p > 1 && !StartsAWord(text(p - 1))) continue;
    if (!RowParts(text.trimmed()).outside(p)) continue;
    long diff = long(s.replacement.size()) - long(s.word.size());
    CheckRoom(text, commandLength, diff, sourceLine);
    if (diff > 0)
      text.insertBlanks(p, diff);
    else if (diff < 0)
      text.erase(p + long(s.replacement.size()), -diff);
    commandLength = std::clamp<long>(commandLength + diff, 0, kLineWidth);
    lineLength = commandLength;
    text.put(p, s.replacement);
    upper.upperOf(text);
  }
}

void Synonyms::SeeComment(std::string_view line, Reporter& out, bool noFiles) {
  if (block_ == Block::kClosed) return;
  std::string upper = qwt::ToUpper(line);
  if (block_ == Block::kBefore) {
    if (upper.find("BEGIN.SYNONYMS") != std::string::npos) block_ = Block::kInside;
  } else if (upper.find("END.SYNONYMS") != std::string::npos) {
    block_ = Block::kClosed;
  } else if (std::size_t p = upper.find("INCLUDE"); p != std::string::npos) {
    Import(line.substr(p + 7), out, noFiles);
  } else {
    Define(line, out);
  }
}

// A definition: the synonym is the first word of the line (";" separates
// too), its replacement the first word after the line's first ":".
void Synonyms::Define(std::string_view line, Reporter& out) {
  std::size_t i = 0;
  std::string_view word = NextWord(line, i, ';');
  if (word.empty()) return;
  std::string_view replacement;
  if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
    std::size_t k = colon + 1;
    replacement = NextWord(line, k, ':');
  }
  if (replacement.empty()) {
    out.Report(Msg::kSynonymWithoutOriginal, MessageLine(Msg::kSynonymWithoutOriginal, 0, word));
    return;
  }
  if (word.size() > 30 || replacement.size() > 30) {
    out.Report(Msg::kSynonymTooLong, MessageLine(Msg::kSynonymTooLong, 0, word));
    return;
  }
  if (long(table_.size()) >= kSynonymTableCapacity) Fatal(Msg::kSynonymsFull);
  table_.push_back({std::string(word), qwt::ToUpper(word), std::string(replacement)});
}

// "INCLUDE name" in the block: every line of the file is a definition.
void Synonyms::Import(std::string_view afterKeyword, Reporter& out, bool noFiles) {
  std::size_t i = 0;
  std::string name(NextWord(afterKeyword, i, ' '));
  FileText f;
  if (!name.empty() && !noFiles) f = ReadWholeFile(name);
  if (!f.ok) Fatal(Msg::kNoSynonymsFile);
  ForEachLine(f.text, [&](std::string_view line) { Define(line, out); });
}
