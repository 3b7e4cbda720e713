#include "lsp_analysis.h"

#include <memory>
#include <unistd.h>

#include "scan.h"
#include "translator.h"

namespace {

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = qwt::Upper(c);
  return u;
}

// The words of a statement, split at blanks, tabs and commas.
std::vector<std::pair<std::string_view, long>> words_of(std::string_view statement) {
  std::vector<std::pair<std::string_view, long>> words;
  std::size_t i = 0;
  while (i < statement.size()) {
    while (i < statement.size() && (statement[i] == ' ' || statement[i] == '\t' || statement[i] == ','))
      ++i;
    std::size_t start = i;
    while (i < statement.size() && statement[i] != ' ' && statement[i] != '\t' && statement[i] != ',')
      ++i;
    if (i > start) words.push_back({statement.substr(start, i - start), long(start)});
  }
  return words;
}

// Which operand names the block of each declaration keyword.
struct BlockKeyword {
  std::string_view keyword;
  char kind;
  int operand;  // the name is this operand (from 1)
  bool opens;   // a block that a closing keyword ends
};
constexpr BlockKeyword kBlockKeywords[] = {
    {"@BEGIN_SUB", 's', 1, true},     {"@BEGIN_FUNCTION", 'f', 1, true},
    {"@BEGIN_RECORD", 'R', 2, true},  {"@INSERTTABLE", 'T', 1, false},
    {"@INSERTXTABLE", 'X', 1, false}, {"@INSERTFILE", 'F', 2, false},
};

bool closes(const std::string& keyword, char kind) {
  if (kind == 'R') return keyword == "@END_RECORD";
  return keyword == "@END_SUB" || keyword == "@END_FUNCTION";
}

// The messages of the translator, as quill shows them: each at the line it
// names (the first line when it names none), without the blanks in front.
void take_messages(const Reporter& reporter, Analysis& a) {
  for (const Reporter::Kept& k : reporter.kept) {
    Diagnostic d;
    d.line = k.line > 0 ? k.line : 1;
    d.error = StatusOf(k.kind) != 0;
    d.text = k.text.substr(std::min(k.text.size(), k.text.find_first_not_of(' ')));
    d.source = "rewriter";
    a.diagnostics.push_back(d);
  }
}

}  // namespace

const DataName* Analysis::find(std::string_view name) const {
  for (const DataName& d : names)
    if (d.name.trimmed() == name) return &d;
  return nullptr;
}

const Block* Analysis::find_block(std::string_view name) const {
  for (const Block& b : outline)
    if (b.name == name) return &b;
  return nullptr;
}

std::vector<Block> outline_of(const SourceText& source) {
  std::vector<Block> blocks;
  std::vector<std::size_t> open;
  for (long n = 1; n <= source.lines(); ++n) {
    std::string_view line = source.line(n);
    if (line.find('@') == std::string_view::npos) continue;
    RowParts parts(line);
    if (!parts.hasStatement()) continue;
    auto words = words_of(line.substr(0, std::size_t(parts.statementEnd())));
    if (words.empty()) continue;
    std::string keyword = upper(words[0].first);
    if (!open.empty() && closes(keyword, blocks[open.back()].kind)) {
      blocks[open.back()].end = n;
      open.pop_back();
      continue;
    }
    for (const BlockKeyword& k : kBlockKeywords) {
      if (keyword != k.keyword || std::size_t(k.operand) >= words.size()) continue;
      Block b{k.kind, std::string(words[std::size_t(k.operand)].first), n, n,
              words[std::size_t(k.operand)].second};
      if (k.opens) open.push_back(blocks.size());
      blocks.push_back(b);
    }
  }
  return blocks;
}

Analysis analyse(const SourceText& source, const Place& place) {
  Analysis a;
  a.outline = outline_of(source);
  auto t = std::make_unique<Translator>();
  t->messages.capture = true;
  t->useSourceText = true;
  t->sourceText = source.text();
  t->directory = place.work + "/";
  t->commandLine.assign("-l " + place.base);
  // Packages and synonyms files are named relative to the source's folder.
  if (place.folder.empty() || chdir(place.folder.c_str()) != 0) (void)chdir(place.work.c_str());
  a.status = RunTranslator(*t);
  a.translated = t->outputComplete;
  for (long n = 1; n <= t->names.size(); ++n) a.names.push_back(t->names.row(n));
  take_messages(t->messages, a);
  return a;
}

void mark_token(Diagnostic& d, std::string_view line, std::string_view token) {
  std::vector<long> at = word_columns(line, token);
  if (at.empty()) return;
  d.first = at.front();
  d.last = at.front() + long(token.size());
}
