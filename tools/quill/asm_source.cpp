// Reading NAME.ASM as the assembler counts its lines: a "%line N+M FILE"
// marker makes the next line line N + M of FILE and each following one M
// further; without markers the lines are NAME.ASM's own.
#include "asm_source.h"

#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) b++;
  while (e > b && (is_blank(s[e - 1]) || s[e - 1] == '\r')) e--;
  return s.substr(b, e - b);
}

// The first word of a statement: up to a blank, a comma or the end.
std::string first_word(const std::string& statement) {
  size_t end = statement.find_first_of(" \t,");
  return statement.substr(0, end);
}

// Where the assembler stands: the file and line of the next line.
struct Position {
  std::string file;
  long line = 1, step = 1;
  // Takes a "%line N+M FILE" marker; false for any other line.
  bool take(const std::string& text) {
    if (text.compare(0, 6, "%line ") != 0) return false;
    char* end = nullptr;
    long n = std::strtol(text.c_str() + 6, &end, 10);
    if (*end != '+') return false;
    long m = std::strtol(end + 1, &end, 10);
    while (is_blank(*end)) end++;
    file = end;
    line = n + m;
    step = m;
    return true;
  }
};

}  // namespace

Lines read_lines(const std::string& path) {
  Lines lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Lines statements_at(const Lines& asm_lines, const std::string& asm_name, const std::string& file,
                    long line) {
  Lines found;
  Position at;
  at.file = asm_name;
  for (const std::string& text : asm_lines) {
    if (at.take(text)) continue;
    std::string statement = trimmed(text.substr(0, text.find(';')));
    if (at.file == file && at.line == line && !statement.empty() && statement[0] != '%')
      found.push_back(statement);
    at.line += at.step;
  }
  return found;
}

bool declares(const Lines& asm_lines, const std::string& name) {
  for (const std::string& text : asm_lines) {
    std::string statement = trimmed(text.substr(0, text.find(';')));
    std::string keyword = upper(first_word(statement));
    if (keyword.compare(0, 7, "@INSERT") != 0 && keyword != "@BEGIN_RECORD") continue;
    for (size_t at = statement.find(name); at != std::string::npos; at = statement.find(name, at + 1)) {
      bool starts = at > 0 && (is_blank(statement[at - 1]) || statement[at - 1] == ',');
      size_t after = at + name.size();
      bool ends = after == statement.size() || is_blank(statement[after]) || statement[after] == ',';
      if (starts && ends) return true;
    }
  }
  return false;
}

std::set<std::string> package_keywords(const std::string& include_dir) {
  std::set<std::string> keywords;
  DIR* dir = opendir(include_dir.c_str());
  if (dir == nullptr) return keywords;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    for (const std::string& text : read_lines(include_dir + "/" + entry->d_name)) {
      std::string statement = upper(trimmed(text));
      for (const char* directive : {"%MACRO ", "%IMACRO "}) {
        std::string d = directive;
        if (statement.compare(0, d.size(), d) == 0)
          keywords.insert(first_word(trimmed(statement.substr(d.size()))));
      }
    }
  }
  closedir(dir);
  return keywords;
}
