// Guessing source lines from NAME.ASM lines by comparing their text.
#include "source_lines.h"

#include <cctype>
#include <cstring>
#include <fstream>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A line's text for comparison: upper case, without its comment and
// without the characters the translator adds or removes.
std::string comparable(const std::string& line, const char* dropped) {
  std::string key;
  for (char c : line.substr(0, line.find(';')))
    if (std::strchr(dropped, c) == nullptr) key += c;
  return upper(key);
}

// "m001 ; statement": a generated macro's call, whose comment is the
// statement as written.
std::string statement_text(const std::string& asm_line) {
  size_t i = 0;
  while (i < asm_line.size() && is_blank(asm_line[i])) i++;
  bool macro_call = i + 4 <= asm_line.size() && (asm_line[i] == 'm' || asm_line[i] == 'M') &&
                    std::isdigit(static_cast<unsigned char>(asm_line[i + 1])) &&
                    std::isdigit(static_cast<unsigned char>(asm_line[i + 2])) &&
                    std::isdigit(static_cast<unsigned char>(asm_line[i + 3]));
  if (!macro_call) return asm_line;
  size_t j = i + 4;
  while (j < asm_line.size() && is_blank(asm_line[j])) j++;
  if (j < asm_line.size() && asm_line[j] == ';') return asm_line.substr(j + 1);
  return asm_line;
}

std::string without_parentheses(std::string s) {
  for (char& c : s)
    if (c == '(' || c == ')') c = ' ';
  return s;
}

// A line as the mapping compares it: without the characters `dropped` and
// without the calculation keyword the translator puts in front of an
// assignment, so that a calculation reads as written.
std::string line_key(const std::string& line, const char* dropped) {
  std::string key = comparable(line, dropped);
  for (const char* prefix : {"INTEGERS_CALC", "NUMBERS_CALC"}) {
    if (key.rfind(prefix, 0) == 0) return key.substr(std::strlen(prefix));
  }
  return key;
}

// For the debug map: brackets go too.
std::string statement_key(const std::string& line) { return line_key(line, " \t,@()"); }

bool is_statement(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  return i != std::string::npos && line[i] != ';' && line[i] != '%';
}

bool is_debug_marker(const std::string& line) {
  std::string text;
  for (char c : line)
    if (!is_blank(c)) text += c;
  return text == "DEBUG";
}

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string quoted_for_nasm(const std::string& text) {
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  if (text.find('"') == std::string::npos) return "\"" + text + "\"";
  std::string out = "`";
  for (char c : text) {
    if (c == '`' || c == '\\') out += '\\';
    out += c;
  }
  return out + "`";
}

}  // namespace

Lines read_lines(const std::string& path) {
  Lines lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

int source_line_of(const Lines& asm_lines, const Lines& source, int asm_line) {
  if (asm_line < 1 || asm_line > static_cast<int>(asm_lines.size())) return 0;
  const char* dropped = " \t,@";
  const std::string key = line_key(statement_text(asm_lines[asm_line - 1]), dropped);
  if (key.empty()) return 0;
  // the same occurrence: as many earlier NAME.ASM lines read the same
  int earlier = 0;
  for (int i = 0; i < asm_line - 1; i++)
    if (line_key(asm_lines[i], dropped) == key) earlier++;
  int first = 0, seen = 0;
  for (size_t i = 0; i < source.size(); i++) {
    if (line_key(without_parentheses(source[i]), dropped) != key) continue;
    if (seen++ == earlier) return static_cast<int>(i) + 1;
    if (first == 0) first = static_cast<int>(i) + 1;
  }
  return first;
}

int first_line_naming(const Lines& source, const std::string& symbol) {
  for (size_t i = 0; i < source.size(); i++) {
    const std::string& line = source[i];
    for (size_t at = line.find(symbol); at != std::string::npos; at = line.find(symbol, at + 1)) {
      size_t end = at + symbol.size();
      if ((at == 0 || !is_word_char(line[at - 1])) && (end == line.size() || !is_word_char(line[end])))
        return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

std::string debug_map(const Lines& asm_lines, const Lines& source, const std::string& source_name) {
  std::string map = "%define QW_SRCFILE " + quoted_for_nasm(source_name) + "\n";
  std::vector<std::string> keys;
  size_t pos = 0;  // statements are searched from here on
  bool instructions_seen = false;
  for (size_t j = 0; j < source.size(); j++) {
    keys.push_back(statement_key(source[j]));
    if (!instructions_seen && upper(source[j]).find("BEGIN.INSTRUCTIONS") != std::string::npos) {
      instructions_seen = true;
      pos = j + 1;
    }
  }
  for (size_t i = 0; i + 1 < asm_lines.size(); i++) {
    if (!is_debug_marker(asm_lines[i])) continue;
    const std::string key = statement_key(statement_text(asm_lines[i + 1]));
    // the same text among the next few statements, else the next statement
    size_t found = source.size(), seen = 0;
    for (size_t j = pos; j < source.size() && seen < 4; j++) {
      if (!is_statement(source[j])) continue;
      seen++;
      if (keys[j] == key) {
        found = j;
        break;
      }
    }
    if (found == source.size()) {
      for (size_t j = pos; j < source.size(); j++) {
        if (is_statement(source[j])) {
          found = j;
          break;
        }
      }
    }
    if (found == source.size()) continue;
    map += "%define QW_SRC_" + std::to_string(i + 2) + " " + std::to_string(found + 1) + "\n";
    pos = found + 1;
  }
  return map;
}
