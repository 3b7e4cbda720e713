// Assembler messages in terms of the user's source.  nasm names the line
// of NAME.QWR itself (the translator's positions mode marks every
// statement), and the macro package words its own refusals; what remains
// is nasm's reading of a line it could not take as a statement, which is
// said here in the language's words.
#include "assembler_log.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>

#include "asm_source.h"

namespace {

constexpr int kMostShown = 20;

struct Message {
  std::string file;
  long line = 0;
  std::string kind;  // "error", "warning" ...
  std::string text;
};

// "FILE:LINE: KIND: TEXT"; false for other lines (nasm's "... from macro"
// notes and fatal lines).
bool parse(const std::string& log_line, Message& m) {
  static const std::regex form(R"(^(.+):([0-9]{1,9}): ([a-z]+): (.*)$)");
  std::smatch match;
  if (!std::regex_match(log_line, match, form)) return false;
  m.file = match[1];
  m.line = std::stol(match[2]);
  m.kind = match[3];
  m.text = match[4];
  return true;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool is_name(const std::string& word) {
  if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$';
  });
}

// What the source reads: the statements of a line the assembler could not
// take: an unknown keyword, or an assignment to an undeclared name.
class LineReader {
 public:
  LineReader(const Program& program, const std::string& include_dir)
      : program_(program), include_dir_(include_dir) {}

  // The plain sentence for "parser: instruction expected" at line `line`
  // of `file`; empty when nothing better is known.
  std::string explain(const std::string& file, long line) {
    load();
    for (const std::string& statement :
         statements_at(asm_lines_, program_.base + ".ASM", file, line)) {
      size_t end = statement.find_first_of(" \t,=");
      std::string word = statement.substr(0, end);
      if (word.size() > 1 && word[0] == '@' && !keywords_.count(upper(word)))
        return word + " is not a statement of the language (a misspelt keyword?)";
      size_t eq = statement.find_first_not_of(" \t", word.size());
      if (is_name(word) && eq != std::string::npos && statement[eq] == '=' &&
          !keywords_.count(upper(word)) && !declares(asm_lines_, word))
        return word + " is not declared: declare it in the dictionary part before it is given a value";
    }
    return "";
  }

 private:
  void load() {
    if (loaded_) return;
    loaded_ = true;
    asm_lines_ = read_lines(program_.file(".ASM"));
    keywords_ = package_keywords(include_dir_);
  }

  const Program& program_;
  std::string include_dir_;
  bool loaded_ = false;
  Lines asm_lines_;
  std::set<std::string> keywords_;
};

// nasm's word for a keyword written with operands none of its forms take:
// the keyword and the count, from its warning.
bool wrong_count(const Message& m, std::string& keyword, std::string& count) {
  static const std::regex form(R"(^multi-line macro `([^']+)' exists, but not taking ([0-9]+) parameters?.*)");
  std::smatch match;
  if (!std::regex_match(m.text, match, form)) return false;
  keyword = match[1];
  count = match[2];
  return true;
}

}  // namespace

void report_assembly(const std::string& log_text, const Program& program,
                     const std::string& include_dir) {
  const std::string source_name = program.base + ".QWR";
  const Lines source = read_lines(program.file(".QWR"));
  const Lines asm_lines = read_lines(program.file(".ASM"));
  LineReader reader(program, include_dir);
  std::vector<Message> messages;
  std::vector<std::string> others;
  for (size_t start = 0; start < log_text.size();) {
    size_t end = log_text.find('\n', start);
    if (end == std::string::npos) end = log_text.size();
    std::string line = log_text.substr(start, end - start);
    start = end + 1;
    Message m;
    if (parse(line, m)) {
      messages.push_back(m);
    } else if (line.find("... from macro") == std::string::npos && !line.empty()) {
      others.push_back(line);
    }
  }
  // A keyword with the wrong count of operands: nasm warns, then cannot
  // read the line; one message says both.
  std::set<std::pair<std::string, long>> counted;
  for (Message& m : messages) {
    std::string keyword, count;
    if (wrong_count(m, keyword, count)) {
      m.kind = "error";
      m.text = keyword + " does not take " + count + (count == "1" ? " operand" : " operands");
      counted.insert({m.file, m.line});
    }
  }
  std::set<std::string> shown;
  int count = 0, total = 0;
  for (Message& m : messages) {
    if (m.text == "parser: instruction expected" ||
        m.text.rfind("label alone on a line without a colon", 0) == 0) {
      if (counted.count({m.file, m.line})) continue;
      std::string plain = reader.explain(m.file, m.line);
      if (!plain.empty()) m.text = plain;
    }
    std::string key = m.file + ":" + std::to_string(m.line) + ": " + m.kind + ": " + m.text;
    if (!shown.insert(key).second) continue;
    if (++total > kMostShown) continue;
    const Lines* lines = m.file == source_name ? &source
                         : m.file == program.base + ".ASM" ? &asm_lines
                                                            : nullptr;
    std::fprintf(stderr, "%s\n", key.c_str());
    if (lines && m.line >= 1 && m.line <= long(lines->size())) {
      std::string text = (*lines)[m.line - 1];
      text.erase(0, std::min(text.size(), text.find_first_not_of(" \t")));
      std::fprintf(stderr, "    %s\n", text.c_str());
    }
    count++;
  }
  for (const std::string& line : others) std::fprintf(stderr, "%s\n", line.c_str());
  if (total > count) say("... " + std::to_string(total - count) + " more messages not shown");
}
