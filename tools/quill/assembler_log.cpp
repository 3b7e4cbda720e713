// Assembler messages in terms of the user's source.  nasm names the line
// of NAME.QWR itself (the translator's positions mode marks every
// statement), and the macro package words its own refusals; what remains
// is nasm's reading of a line it could not take as a statement, which is
// said here in the language's words.
#include "assembler_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <regex>
#include <set>
#include <utility>
#include <vector>

#include "asm_source.h"
#include "messages.h"

namespace {

constexpr int kMostShown = 20;

using Message = AssemblerMessage;

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

// The plain sentence for a line the assembler could not read as a
// statement: an unknown keyword, or an assignment to a name declared
// nowhere; empty when the statements of the line show neither.
std::string unreadable_line(const Lines& asm_lines, const std::string& asm_name,
                            const std::set<std::string>& keywords, const Message& m) {
  for (const std::string& statement : statements_at(asm_lines, asm_name, m.file, m.line)) {
    std::string word = statement.substr(0, statement.find_first_of(" \t,="));
    bool keyword = keywords.count(upper(word)) > 0;
    if (word.size() > 1 && word[0] == '@' && !keyword)
      return word + " is not a statement of the language (a misspelt keyword?)";
    size_t eq = statement.find_first_not_of(" \t", word.size());
    if (is_name(word) && !keyword && eq != std::string::npos && statement[eq] == '=' &&
        !declares(asm_lines, word))
      return RefusalText(Msg::kNotDeclared, {word});
  }
  return "";
}

bool unreadable(const Message& m) {
  return m.text == "parser: instruction expected" ||
         m.text.rfind("label alone on a line without a colon", 0) == 0;
}

// nasm's warning about a keyword written with operands none of its forms
// take, said as an error; false for any other message.
bool wrong_count(Message& m) {
  static const std::regex form(
      R"(^multi-line macro `([^']+)' exists, but not taking ([0-9]+) parameters?.*)");
  std::smatch match;
  if (!std::regex_match(m.text, match, form)) return false;
  std::string count = match[2];
  m.kind = "error";
  m.text = match[1].str() + " does not take " + count + (count == "1" ? " operand" : " operands");
  return true;
}

// The log's messages, and its other lines (nasm's fatal lines) apart.
std::vector<Message> read_log(const std::string& log, std::vector<std::string>& others) {
  std::vector<Message> messages;
  for (size_t start = 0; start < log.size();) {
    size_t end = std::min(log.find('\n', start), log.size());
    std::string line = log.substr(start, end - start);
    start = end + 1;
    Message m;
    if (parse(line, m)) {
      messages.push_back(m);
    } else if (!line.empty() && line.find("... from macro") == std::string::npos) {
      others.push_back(line);
    }
  }
  return messages;
}

// The messages in the language's words: a keyword with the wrong count of
// operands (nasm warns, then cannot read the line) is one message, and an
// unreadable line says what it holds.
void reword(std::vector<Message>& messages, const Program& program,
            const std::string& include_dir) {
  std::set<std::pair<std::string, long>> counted;
  for (Message& m : messages)
    if (wrong_count(m)) counted.insert({m.file, m.line});
  Lines asm_lines;
  std::set<std::string> keywords;
  for (Message& m : messages) {
    if (!unreadable(m)) continue;
    if (counted.count({m.file, m.line})) {
      m.text.clear();  // said by the count's message
      continue;
    }
    if (asm_lines.empty()) {
      asm_lines = read_lines(program.file(".ASM"));
      keywords = package_keywords(include_dir);
    }
    std::string plain = unreadable_line(asm_lines, program.base + ".ASM", keywords, m);
    if (!plain.empty()) m.text = plain;
  }
}

// "FILE:LINE: KIND: TEXT" and the line itself below it, when FILE is one
// of `files` (name, lines).
void show(const Message& m, const std::vector<std::pair<std::string, Lines>>& files) {
  std::fprintf(stderr, "%s:%ld: %s: %s\n", m.file.c_str(), m.line, m.kind.c_str(), m.text.c_str());
  for (const auto& [name, lines] : files) {
    if (name != m.file || m.line < 1 || m.line > long(lines.size())) continue;
    std::string text = lines[m.line - 1];
    text.erase(0, std::min(text.size(), text.find_first_not_of(" \t")));
    std::fprintf(stderr, "    %s\n", text.c_str());
  }
}

}  // namespace

std::vector<AssemblerMessage> assembler_messages(const std::string& log, const Program& program,
                                                 const std::string& include_dir,
                                                 std::vector<std::string>& others) {
  std::vector<Message> messages = read_log(log, others);
  reword(messages, program, include_dir);
  std::vector<Message> once;
  std::set<std::string> seen;
  for (const Message& m : messages) {
    if (m.text.empty()) continue;
    std::string key = m.file + ":" + std::to_string(m.line) + ": " + m.kind + ": " + m.text;
    if (seen.insert(key).second) once.push_back(m);
  }
  return once;
}

void report_assembly(const std::string& log, const Program& program,
                     const std::string& include_dir) {
  std::vector<std::string> others;
  std::vector<Message> messages = assembler_messages(log, program, include_dir, others);
  const std::vector<std::pair<std::string, Lines>> files = {
      {program.base + ".QWR", read_lines(program.file(".QWR"))},
      {program.base + ".ASM", read_lines(program.file(".ASM"))}};
  int shown = 0;
  for (const Message& m : messages) {
    if (shown == kMostShown) break;
    show(m, files);
    shown++;
  }
  for (const std::string& line : others) std::fprintf(stderr, "%s\n", line.c_str());
  if (long(messages.size()) > shown)
    say("... " + std::to_string(messages.size() - shown) + " more messages not shown");
}
