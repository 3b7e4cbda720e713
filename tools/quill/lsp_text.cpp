#include "lsp_text.h"

#include "scan.h"

SourceText::SourceText(std::string text) : text_(std::move(text)) {
  std::string_view all(text_);
  for (std::size_t start = 0; start <= all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back(line);
    start = end + 1;
  }
}

std::string_view SourceText::line(long n) const {
  return n >= 1 && n <= lines() ? lines_[std::size_t(n - 1)] : std::string_view();
}

// UTF-8 lead bytes start a character; one of four bytes is two UTF-16 units.
namespace {
long units_of(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }
bool continues(unsigned char c) { return (c & 0xC0) == 0x80; }
}  // namespace

long SourceText::byte_column(long n, long utf16) const {
  std::string_view text = line(n);
  long units = 0;
  std::size_t b = 0;
  while (b < text.size() && units < utf16) {
    units += units_of(static_cast<unsigned char>(text[b]));
    ++b;
    while (b < text.size() && continues(static_cast<unsigned char>(text[b]))) ++b;
  }
  return long(b);
}

long SourceText::utf16_column(long n, long byte) const {
  std::string_view text = line(n);
  long units = 0;
  for (std::size_t b = 0; b < text.size() && long(b) < byte; ++b) {
    auto c = static_cast<unsigned char>(text[b]);
    if (!continues(c)) units += units_of(c);
  }
  return units;
}

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '@';
}

std::string_view word_at(std::string_view line, long col, long* start) {
  long n = long(line.size());
  if (col < 0 || col > n) return {};
  long at = col;
  if (at == n || !is_name_char(line[std::size_t(at)])) {
    if (at == 0 || !is_name_char(line[std::size_t(at - 1)])) return {};
    --at;
  }
  long first = at, last = at;
  while (first > 0 && is_name_char(line[std::size_t(first - 1)]) && line[std::size_t(first)] != '@')
    --first;
  while (last + 1 < n && is_name_char(line[std::size_t(last + 1)]) && line[std::size_t(last + 1)] != '@')
    ++last;
  if (start) *start = first;
  return line.substr(std::size_t(first), std::size_t(last - first + 1));
}

std::vector<long> word_columns(std::string_view line, std::string_view word) {
  std::vector<long> found;
  if (word.empty() || line.find(word) == std::string_view::npos) return found;
  RowParts parts(line);
  for (std::size_t at = line.find(word); at != std::string_view::npos; at = line.find(word, at + 1)) {
    std::size_t after = at + word.size();
    bool whole = (at == 0 || !is_name_char(line[at - 1])) &&
                 (after == line.size() || !is_name_char(line[after]));
    if (whole && parts.outside(long(at) + 1)) found.push_back(long(at));
  }
  return found;
}
