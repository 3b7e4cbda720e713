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

// The words of a line that can be names, in order, with nothing of its
// strings, numbers and comment.
std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  for (size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (c == ';') break;
    if (c == '\'' || c == '"' || c == '`') {
      size_t j = i + 1;
      while (j < line.size() && line[j] != c) j += (c == '`' && line[j] == '\\') ? 2 : 1;
      i = j + 1;
    } else if (c >= '0' && c <= '9') {
      while (i < line.size() && name_char(line[i])) ++i;
    } else if (name_start(c)) {
      size_t j = i;
      while (j < line.size() && name_char(line[j])) ++j;
      const std::string_view word = line.substr(i, j - i);
      if (word.find_first_not_of('$') != std::string_view::npos) words.push_back(word);
      i = j;
    } else {
      ++i;
    }
  }
  return words;
}

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
  for (const char* k : {"db", "dw", "dd", "dq", "dt", "do", "dy", "dz", "resb", "resw", "resd",
                        "resq", "rest", "reso", "times", "equ", "incbin"})
    if (same_word(w, k)) return true;
  return false;
}

struct Half {
  Names defined, used;
  std::vector<std::string_view> externs;  // "extern ..." lines
  std::unordered_map<std::string_view, std::string_view> constants;  // name equ number: the line
};

// Reads the lines [from, to) of `lines` into `half`.
void read_half(const std::vector<std::string_view>& lines, size_t from, size_t to, Half& half) {
  for (size_t k = from; k < to; ++k) {
    const std::string_view line = lines[k];
    if (line.rfind("%line ", 0) == 0) continue;
    std::vector<std::string_view> words = words_of(line);
    if (words.empty()) continue;
    if (same_word(words[0], "extern")) {
      half.externs.push_back(line);
      continue;
    }
    size_t first_used = 0;
    const std::string_view w = words[0];
    const size_t next = line.find_first_not_of(" \t", line.find(w) + w.size());
    const bool local = w[0] == '.' && w.rfind("..@", 0) != 0;
    const bool label = next != std::string_view::npos && line[next] == ':';
    if (!local && (label || (words.size() > 1 && defining_word(words[1])))) {
      half.defined.emplace(w);
      first_used = 1;
      if (!label && same_word(words[1], "equ") && words.size() == 2)
        half.constants.emplace(w, line);
    }
    for (size_t i = first_used; i < words.size(); ++i) half.used.emplace(words[i]);
  }
}

// What `to` takes from `from`: declarations for both halves' headers.
void link_halves(const Half& from, const Half& to, std::string& from_header,
                 std::string& to_header) {
  for (const std::string_view name : to.used) {
    if (!from.defined.count(name) || to.defined.count(name)) continue;
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
    if (offsets[k] >= text.size() / 2 && section == ".text" && code_label(lines[k])) cut = k;
  }
  if (cut == 0) return halves;
  for (size_t k = 0; k < cut; ++k)
    if (lines[k].find("section .note.GNU-stack") != std::string_view::npos) note = true;
  Half one, two;
  read_half(lines, 0, cut, one);
  read_half(lines, cut, lines.size(), two);
  std::string header_one, header_two;
  link_halves(one, two, header_one, header_two);
  link_halves(two, one, header_two, header_one);
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
