// Assembler messages in terms of the user's source.  nasm names a line of
// NAME.ASM (or of the macro package, for a fault inside an expansion); the
// message is moved to the NAME.QWR line that statement came from.
#include "assembler_log.h"

#include <algorithm>
#include <cstdio>
#include <regex>

#include "source_lines.h"

namespace {

constexpr int kMostShown = 20;

// A line number as nasm prints it; 0 for one no file can have.
int line_number(const std::string& digits) {
  return digits.size() > 9 ? 0 : std::stoi(digits);
}

// "FILE:LINE: MESSAGE" and the line itself, indented.
void show(const std::string& file, int line, const std::string& message, const Lines& lines) {
  std::string text = line >= 1 && line <= static_cast<int>(lines.size()) ? lines[line - 1] : "";
  text.erase(0, std::min(text.size(), text.find_first_not_of(" \t")));
  std::fprintf(stderr, "%s:%d: %s\n    %s\n", file.c_str(), line, message.c_str(), text.c_str());
}

int count_messages(const Lines& log) {
  static const std::regex kind(": (error|warning):");
  int n = 0;
  for (const std::string& line : log) n += std::regex_search(line, kind);
  return n;
}

}  // namespace

void report_assembly(const std::string& log_text, const Program& program) {
  static const std::regex at_asm_line(R"(^(.*\.ASM):([0-9]+): (.*)$)");
  // a fault inside an expansion that names a symbol (most often an
  // undeclared name): shown at the first source line using the symbol
  static const std::regex names_symbol(
      R"(^[^:]*:[0-9]+: (error|warning): (.*`([A-Za-z0-9_.$@?#~]+)'.*)$)");
  const std::string source_name = program.base + ".QWR", asm_name = program.base + ".ASM";
  const Lines source = read_lines(program.file(".QWR"));
  const Lines asm_lines = read_lines(program.file(".ASM"));
  Lines log;
  for (size_t start = 0; start < log_text.size();) {
    size_t end = log_text.find('\n', start);
    if (end == std::string::npos) end = log_text.size();
    log.push_back(log_text.substr(start, end - start));
    start = end + 1;
  }
  int shown = 0;
  for (const std::string& line : log) {
    if (shown >= kMostShown) {
      say("... " + std::to_string(count_messages(log) - shown) + " more messages not shown");
      break;
    }
    if (line.find("from macro") != std::string::npos && line.find("defined here") != std::string::npos)
      continue;
    std::smatch m;
    if (std::regex_match(line, m, at_asm_line)) {
      int asm_line = line_number(m[2]);
      int at = source_line_of(asm_lines, source, asm_line);
      shown++;
      if (at > 0) {
        show(source_name, at, m[3], source);
      } else {
        show(asm_name, asm_line, m[3], asm_lines);
      }
    } else if (!source.empty() && std::regex_match(line, m, names_symbol)) {
      int at = first_line_naming(source, m[3]);
      shown++;
      if (at > 0) {
        show(source_name, at, m[1].str() + ": " + m[2].str(), source);
      } else {
        std::fprintf(stderr, "%s\n", line.c_str());
      }
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
  }
}
