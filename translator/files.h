// Whole-file reads and writes of the translator: sources, packages and
// synonyms files are read whole and never created; NAME.ASM is written whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct FileText {
  bool ok = false;  // false when the file could not be opened or read
  int err = 0;      // errno then
  std::string text;
};

FileText ReadWholeFile(const std::string& name);
// Writes all of `data` to descriptor fd; false on a failed write.
bool WriteAll(int fd, const char* data, std::size_t size);

// Calls fn(line) for every line of text; a last line without a line feed
// counts, an empty tail after the last line feed does not.
template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      fn(text.substr(pos));
      return;
    }
    fn(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
}
