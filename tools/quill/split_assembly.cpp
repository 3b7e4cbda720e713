// Cutting an expansion in two halves that assemble alone; see
// split_assembly.h.  The expansion is plain assembly (the macros are gone),
// so a half needs only the names the other one defines: nasm's labels
// ("name:", or a name before db/dd/equ ...), read with a small lexer.
#include "split_assembly.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// Names as views into the expansion, which outlives them.
using Names = std::unordered_set<std::string_view>;

bool name_start(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c == '?' ||
         c == '@' || c == '$';
}

bool name_char(char c) {
  return name_start(c) || (c >= '0' && c <= '9') || c == '#' || c == '~';
}

// The words of a line that can be names, one by one, passing over its
// strings, numbers and comment.
class Words {
 public:
  explicit Words(std::string_view line) : line_(line) {}
  bool next(std::string_view& word) {
    while (i_ < line_.size()) {
      const char c = line_[i_];
      if (c == ';') break;
      if (c == '\'' || c == '"' || c == '`') {
        size_t j = i_ + 1;
        while (j < line_.size() && line_[j] != c) j += (c == '`' && line_[j] == '\\') ? 2 : 1;
        i_ = j + 1;
      } else if (c >= '0' && c <= '9') {
        while (i_ < line_.size() && name_char(line_[i_])) ++i_;
      } else if (name_start(c)) {
        size_t j = i_;
        while (j < line_.size() && name_char(line_[j])) ++j;
        word = line_.substr(i_, j - i_);
        i_ = j;
        if (word.find_first_not_of('$') != std::string_view::npos) return true;
      } else {
        ++i_;
      }
    }
    i_ = line_.size();
    return false;
  }
  size_t at() const { return i_; }  // just after the last word

 private:
  std::string_view line_;
  size_t i_ = 0;
};

bool same_word(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return i == a.size() && b[i] == 0;
}

// A name that a label before it defines: "name db ...", "name equ ...".
bool defining_word(std::string_view w) {
  if (w.size() < 2 || w.size() > 6) return false;
  const char c = char(w[0] | 0x20);
  if (c != 'd' && c != 'r' && c != 't' && c != 'e' && c != 'i') return false;
  for (const char* k : {"db", "dw", "dd", "dq", "dt", "do", "dy", "dz", "resb", "resw", "resd",
                        "resq", "rest", "reso", "times", "equ", "incbin"})
    if (same_word(w, k)) return true;
  return false;
}

struct Half {
  size_t from, to;  // its lines
  Names defined;
  std::vector<std::string_view> externs;  // "extern ..." lines
  std::unordered_map<std::string_view, std::string_view> constants;  // name equ number: the line
};

// The name a line defines ("name:", "name db ...", "name equ ..."), if any,
// and where the rest of the line begins.
bool definition(std::string_view line, std::string_view& name, size_t& rest, bool& constant) {
  Words words(line);
  std::string_view first, second;
  if (!words.next(first)) return false;
  const size_t after = words.at();
  const size_t next = line.find_first_not_of(" \t", after);
  const bool label = next != std::string_view::npos && line[next] == ':';
  const bool local = first[0] == '.' && first.rfind("..@", 0) != 0;
  bool defining = label;
  if (!label && words.next(second) && second.data() == line.data() + next) {
    defining = defining_word(second);
    constant = defining && same_word(second, "equ") && !words.next(second);
  }
  if (local || !defining) return false;
  name = first;
  rest = after;
  return true;
}

// The names, constants and externs the lines of `half` declare.
void read_definitions(const std::vector<std::string_view>& lines, Half& half) {
  for (size_t k = half.from; k < half.to; ++k) {
    const std::string_view line = lines[k];
    if (line.rfind("%line ", 0) == 0) continue;
    Words words(line);
    std::string_view first;
    if (!words.next(first)) continue;
    if (same_word(first, "extern")) {
      half.externs.push_back(line);
      continue;
    }
    std::string_view name;
    size_t rest;
    bool constant = false;
    if (definition(line, name, rest, constant)) {
      half.defined.emplace(name);
      if (constant) half.constants.emplace(name, line);
    }
  }
}

// What `to` takes from `from`: declarations for both halves' headers.
void link_halves(const std::vector<std::string_view>& lines, const Half& from, const Half& to,
                 std::string& from_header, std::string& to_header) {
  Names taken;
  for (size_t k = to.from; k < to.to; ++k) {
    std::string_view line = lines[k];
    if (line.rfind("%line ", 0) == 0) continue;
    std::string_view name;
    size_t rest;
    bool constant = false;
    if (definition(line, name, rest, constant)) line = line.substr(rest);
    Words words(line);
    std::string_view word;
    while (words.next(word))
      if (from.defined.count(word) && !to.defined.count(word)) taken.insert(word);
  }
  for (const std::string_view name : taken) {
    const auto constant = from.constants.find(name);
    if (constant != from.constants.end()) {
      to_header.append(constant->second) += '\n';
    } else {
      from_header.append("global ").append(name) += '\n';
      to_header.append("extern ").append(name) += '\n';
    }
  }
  for (std::string_view line : from.externs) to_header.append(line) += '\n';
}

// The section a "section NAME" or "[section NAME ...]" line enters, or "".
std::string_view section_of(std::string_view line) {
  size_t i = line.find_first_not_of(" \t[");
  if (i == std::string_view::npos || line.compare(i, 8, "section ") != 0) return {};
  i += 8;
  const size_t end = line.find_first_of(" \t]", i);
  return line.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
}

bool code_label(std::string_view line) {
  if (line.empty() || !((line[0] >= 'A' && line[0] <= 'Z') || (line[0] >= 'a' && line[0] <= 'z') ||
                        line[0] == '_'))
    return false;
  size_t i = 0;
  while (i < line.size() && name_char(line[i]) && line[i] != '.') ++i;
  return i < line.size() && line[i] == ':';
}

}  // namespace

AssemblyHalves split_expansion(const std::string& text, size_t least) {
  AssemblyHalves halves;
  if (text.size() < least) return halves;
  std::vector<std::string_view> lines;
  std::vector<size_t> offsets;
  const std::string_view all(text);
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find('\n', at);
    if (end == std::string_view::npos) end = all.size();
    lines.push_back(all.substr(at, end - at));
    offsets.push_back(at);
    at = end + 1;
  }
  // The cut: the first label of the code at or after the middle.
  std::string_view section = ".text", marker;
  size_t cut = 0;
  bool note = false;
  for (size_t k = 0; k < lines.size() && cut == 0; ++k) {
    const std::string_view s = section_of(lines[k]);
    if (!s.empty()) section = s;
    if (lines[k].rfind("%line ", 0) == 0) marker = lines[k];
    if (k >= lines.size() / 2 && section == ".text" && code_label(lines[k])) cut = k;
  }
  if (cut == 0) return halves;
  for (size_t k = 0; k < cut; ++k)
    if (lines[k].find("section .note.GNU-stack") != std::string_view::npos) note = true;
  Half one{0, cut, {}, {}, {}}, two{cut, lines.size(), {}, {}, {}};
  read_definitions(lines, one);
  read_definitions(lines, two);
  std::string header_one, header_two;
  link_halves(lines, one, two, header_one, header_two);
  link_halves(lines, two, one, header_two, header_one);
  const size_t cut_at = offsets[cut];
  halves.first = header_one;
  halves.first.append(text, 0, cut_at);
  if (!note) halves.first += "\nsection .note.GNU-stack noalloc noexec nowrite progbits\n";
  halves.second = header_two + "section .text\n";
  if (!marker.empty()) halves.second.append(marker) += '\n';
  halves.second.append(text, cut_at, std::string::npos);
  halves.split = true;
  return halves;
}
