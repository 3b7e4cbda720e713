#include "lsp_features.h"

#include <algorithm>
#include <set>

#include "asm_source.h"
#include "program_parts.h"
#include "text.h"

namespace {

// The guides' line for each statement keyword (lsp_keywords.py).
const std::pair<const char*, const char*> kKeywordLines[] = {
#include "lsp_keyword_lines.inc"
};

// Statements that open a block, offered with their end.
struct Snippet {
  const char* keyword;
  const char* body;
};
constexpr Snippet kSnippets[] = {
    {"@IF", "@IF ${1:operand} ${2:=} ${3:operand}\n\t$0\n@END_IF"},
    {"@REPEAT", "@REPEAT ${1:n_I}, ${2:1}, ${3:n_Count}\n\t$0\n@END_REPEAT"},
    {"@BEGIN_SUB", "@BEGIN_SUB ${1:s_Name}\n\t$0\n@END_SUB"},
};

// LSP symbol and completion kinds.
enum SymbolKind { kFileSymbol = 1, kFieldSymbol = 8, kFunctionSymbol = 12, kArraySymbol = 18,
                  kStructSymbol = 23 };
enum CompletionKind { kFunctionItem = 3, kFieldItem = 5, kVariableItem = 6, kKeywordItem = 14,
                      kSnippetItem = 15, kFileItem = 17, kConstantItem = 21, kStructItem = 22 };

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = qwt::Upper(c);
  return u;
}

std::string trimmed(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

const char* kind_name(char kind) {
  switch (kind) {
    case 'I': return "whole number";
    case 'N': return "number with decimal places";
    case 'W': return "word";
    case 'A': return "array";
    case 's': return "sub";
    case 'f': return "function";
    case 'K': return "constant";
    case 'R': return "record";
    case 'T': return "table";
    case 'X': return "xtable";
    case 'F': return "file";
    default: return "name";
  }
}

bool is_keyword(std::string_view word) {
  return (!word.empty() && word[0] == '@') || upper(word) == "CALL";
}

// The place a name is declared at, or false.
bool declaration_of(const View& v, std::string_view name, long& line, long& column) {
  if (const Block* b = v.analysis.find_block(name)) {
    line = b->line;
    column = b->column;
    return true;
  }
  const DataName* d = v.analysis.find(name);
  if (!d || d->line < 1 || d->line > v.source.lines()) return false;
  line = d->line;
  std::vector<long> at = word_columns(v.source.line(line), name);
  column = at.empty() ? 0 : at.front();
  return true;
}

std::string code_block(std::string_view text) { return "```quillwright\n" + trimmed(text) + "\n```"; }

// "**n_Price**: number with decimal places, picture '9.99'" and what
// owns it.
std::string describe(const View& v, const DataName& d) {
  std::string name(d.name.trimmed());
  std::string text = "**" + name + "**: " + kind_name(d.type);
  std::string picture(d.picture.trimmed());
  if ((d.type == 'I' || d.type == 'N' || d.type == 'f') && !picture.empty())
    text += ", picture `" + picture + "`";
  if (d.type == 'W' && d.length > 0) text += ", " + std::to_string(d.length) + " characters";
  if ((d.type == 's' || d.type == 'f') && d.parameters > 0)
    text += ", " + std::to_string(d.parameters) + " parameter" + (d.parameters == 1 ? "" : "s");
  std::string record(d.record.trimmed()), table(d.table.trimmed());
  if (!record.empty()) text += "  \nfield " + std::to_string(d.no) + " of record `" + record + "`";
  if (!table.empty())
    text += std::string(", bound to ") + (d.tableType == 'X' ? "xtable" : "table") + " `" + table + "`";
  if (d.line < 1) return text + "  \ndeclared by the dictionary: every program has it";
  std::string_view written = v.source.line(d.line);
  if (word_columns(written, name).empty() && name.rfind('d', 0) != 0 &&
      upper(written).find("%INCLUDE") != std::string::npos)
    return text + "  \ndeclared in the package included on line " + std::to_string(d.line) + "\n" +
           code_block(written);
  return text + "  \nline " + std::to_string(d.line) + "\n" + code_block(written);
}

std::string describe(const View& v, const Block& b) {
  std::string text = "**" + b.name + "**: " + kind_name(b.kind);
  if (b.kind == 'R') {
    long fields = 0;
    for (const DataName& d : v.analysis.names) fields += d.record.trimmed() == b.name;
    text += " of " + std::to_string(fields) + " field" + (fields == 1 ? "" : "s");
  }
  return text + "  \nline " + std::to_string(b.line) + "\n" + code_block(v.source.line(b.line));
}

json markdown(const std::string& text) {
  return {{"contents", {{"kind", "markdown"}, {"value", text}}}};
}

json location(const View& v, long line, long column, std::size_t length) {
  return {{"uri", v.uri}, {"range", range_of(v.source, line, column, column + long(length))}};
}

json item(const std::string& label, int kind, const std::string& detail) {
  return {{"label", label}, {"kind", kind}, {"detail", detail}};
}

int completion_kind(const DataName& d) {
  if (d.type == 's' || d.type == 'f') return kFunctionItem;
  if (!d.record.trimmed().empty()) return kFieldItem;
  return kVariableItem;
}

int completion_kind(const Block& b) {
  if (b.kind == 'R') return kStructItem;
  if (b.kind == 'F') return kFileItem;
  if (b.kind == 's' || b.kind == 'f') return kFunctionItem;
  return kVariableItem;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && upper(text.substr(0, prefix.size())) == upper(prefix);
}

}  // namespace

Vocabulary load_vocabulary(const std::string& include_dir) {
  Vocabulary words;
  for (const auto& [keyword, line] : kKeywordLines) words.keywords[keyword] = line;
  for (const std::string& keyword : package_keywords(include_dir))
    if (is_keyword(keyword)) words.keywords.emplace(keyword, "");
  // "%define C_RETURN 0" and "%define QWK_w_Spaces W"
  for (const std::string& line : read_lines(include_dir + "/" + std::string(program_parts::kDictionary))) {
    std::string text = trimmed(line);
    if (text.compare(0, 8, "%define ") != 0) continue;
    std::size_t name_at = text.find_first_not_of(' ', 8);
    std::size_t blank = text.find(' ', name_at);
    if (name_at == std::string::npos || blank == std::string::npos) continue;
    std::string name = text.substr(name_at, blank - name_at), value = trimmed(text.substr(blank));
    if (name.compare(0, 2, "C_") == 0) words.constants.push_back({name, value});
    if (name.compare(0, 4, "QWK_") == 0 && !value.empty()) words.shared.push_back({name.substr(4), value[0]});
  }
  return words;
}

json range_of(const SourceText& source, long line, long first, long last) {
  long end = long(source.line(line).size());
  if (first < 0) first = 0, last = end;
  auto position = [&](long column) {
    return json{{"line", line - 1}, {"character", source.utf16_column(line, column)}};
  };
  return {{"start", position(first)}, {"end", position(std::min(last, end))}};
}

json hover_at(const View& v, long line, long col) {
  std::string_view word = word_at(v.source.line(line), col);
  if (word.empty()) return nullptr;
  if (is_keyword(word)) {
    auto it = v.words.keywords.find(upper(word));
    if (it == v.words.keywords.end()) return nullptr;
    if (it->second.empty()) return markdown("**" + it->first + "**: a statement of the macro package");
    return markdown(code_block(it->second));
  }
  if (const Block* b = v.analysis.find_block(word)) return markdown(describe(v, *b));
  if (const DataName* d = v.analysis.find(word)) return markdown(describe(v, *d));
  for (const auto& [name, value] : v.words.constants)
    if (name == word) return markdown("**" + name + "**: constant of the dictionary, " + value);
  for (const auto& [name, kind] : v.words.shared)
    if (name == word)
      return markdown("**" + name + "**: " + kind_name(kind) + " of the dictionary: every program has it");
  return nullptr;
}

json definition_at(const View& v, long line, long col) {
  std::string_view word = word_at(v.source.line(line), col);
  long at = 0, column = 0;
  if (word.empty() || is_keyword(word) || !declaration_of(v, word, at, column)) return nullptr;
  return location(v, at, column, word.size());
}

json references_at(const View& v, long line, long col, bool with_declaration) {
  std::string_view word = word_at(v.source.line(line), col);
  json found = json::array();
  if (word.empty() || is_keyword(word)) return found;
  long declared = 0, column = 0;
  if (!declaration_of(v, word, declared, column)) declared = 0;
  for (long n = 1; n <= v.source.lines(); ++n) {
    if (n == declared && !with_declaration) continue;
    for (long c : word_columns(v.source.line(n), word)) found.push_back(location(v, n, c, word.size()));
  }
  return found;
}

json symbols_of(const View& v) {
  json symbols = json::array();
  auto symbol = [&](const std::string& name, const std::string& detail, int kind, long line, long end,
                    long column) {
    return json{{"name", name},
                {"detail", detail},
                {"kind", kind},
                {"range", {{"start", range_of(v.source, line, -1, -1)["start"]},
                           {"end", range_of(v.source, end, -1, -1)["end"]}}},
                {"selectionRange", range_of(v.source, line, column, column + long(name.size()))}};
  };
  for (const Block& b : v.analysis.outline) {
    int kind = b.kind == 'R' ? kStructSymbol
               : b.kind == 'F' ? kFileSymbol
               : (b.kind == 'T' || b.kind == 'X') ? kArraySymbol
               : kFunctionSymbol;
    json s = symbol(b.name, kind_name(b.kind), kind, b.line, std::max(b.end, b.line), b.column);
    if (b.kind == 'R') {
      s["children"] = json::array();
      for (const DataName& d : v.analysis.names) {
        if (d.record.trimmed() != b.name || d.line < 1) continue;
        std::string name(d.name.trimmed());
        std::vector<long> at = word_columns(v.source.line(d.line), name);
        s["children"].push_back(
            symbol(name, kind_name(d.type), kFieldSymbol, d.line, d.line, at.empty() ? 0 : at.front()));
      }
    }
    symbols.push_back(s);
  }
  return symbols;
}

json completion_at(const View& v, long line, long col) {
  std::string_view text = v.source.line(line);
  col = std::min<long>(col, long(text.size()));
  long start = col;
  while (start > 0 && is_name_char(text[std::size_t(start - 1)])) {
    if (text[std::size_t(--start)] == '@') break;  // a keyword begins there
  }
  std::string_view prefix = text.substr(std::size_t(start), std::size_t(col - start));
  std::string before = upper(trimmed(text.substr(0, std::size_t(start))));
  bool statement_start = before.empty() || before.back() == '|';
  bool after_call = before == "CALL" || (before.size() > 5 && before.compare(before.size() - 5, 5, " CALL") == 0);
  json items = json::array();
  std::set<std::string> offered;
  auto offer = [&](json entry) {
    if (offered.insert(entry["label"].get<std::string>()).second) items.push_back(std::move(entry));
  };
  if (statement_start || (!prefix.empty() && prefix[0] == '@')) {
    for (const Snippet& s : kSnippets) {
      if (!starts_with_nocase(s.keyword, prefix)) continue;
      json e = item(std::string(s.keyword) + " … end", kSnippetItem, "block");
      e["insertText"] = s.body;
      e["insertTextFormat"] = 2;
      e["filterText"] = s.keyword;
      offer(e);
    }
    for (const auto& [keyword, guide] : v.words.keywords)
      if (starts_with_nocase(keyword, prefix)) offer(item(keyword, kKeywordItem, guide));
  }
  if (!prefix.empty() && prefix[0] == '@') return items;
  for (const Block& b : v.analysis.outline)
    if ((!after_call || b.kind == 's' || b.kind == 'f') && starts_with_nocase(b.name, prefix))
      offer(item(b.name, completion_kind(b), kind_name(b.kind)));
  for (const DataName& d : v.analysis.names) {
    std::string name(d.name.trimmed());
    if (after_call && d.type != 's' && d.type != 'f') continue;
    if (starts_with_nocase(name, prefix)) offer(item(name, completion_kind(d), kind_name(d.type)));
  }
  if (after_call) return items;
  for (const auto& [name, value] : v.words.constants)
    if (starts_with_nocase(name, prefix)) offer(item(name, kConstantItem, "constant " + value));
  for (const auto& [name, kind] : v.words.shared)
    if (starts_with_nocase(name, prefix)) offer(item(name, kVariableItem, kind_name(kind)));
  return items;
}
