// Cutting an expansion into pieces that assemble alone; see
// split_assembly.h.  The expansion is plain assembly (the macros are gone),
// so a piece needs only the names the others define: nasm's labels
// ("name:", or a name before db/dd/equ ...), read with a small lexer, and
// the names an instruction or a datum uses, which are every word of its
// operands but the assembler's own (registers, sizes and the like).
#include "split_assembly.h"

#include <cctype>

namespace {

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


// The assembler's own words that an operand may hold: registers, sizes,
// the data directives after "times", and the words of an address.
bool assembler_word(std::string_view w) {
  static const std::unordered_set<std::string_view> kWords = [] {
    std::unordered_set<std::string_view> words;
    static std::vector<std::string> made;
    for (const char* r : {"ax", "bx", "cx", "dx"}) {
      made.push_back(std::string("r") + r[0] + 'x');
      made.push_back(std::string("e") + r);
      made.push_back(r);
      made.push_back(std::string(1, r[0]) + 'l');
      made.push_back(std::string(1, r[0]) + 'h');
    }
    for (const char* r : {"si", "di", "bp", "sp"}) {
      made.push_back(std::string("r") + r);
      made.push_back(std::string("e") + r);
      made.push_back(r);
      made.push_back(std::string(r) + 'l');
    }
    for (int n = 8; n < 16; ++n)
      for (const char* s : {"", "d", "w", "b", "l"}) made.push_back("r" + std::to_string(n) + s);
    for (int n = 0; n < 32; ++n)
      for (const char* s : {"xmm", "ymm", "zmm"}) made.push_back(s + std::to_string(n));
    for (int n = 0; n < 8; ++n)
      for (const char* s : {"k", "mm", "st", "cr", "dr"}) made.push_back(s + std::to_string(n));
    for (const std::string& m : made) words.insert(m);
    for (const char* k : {"rip", "cs", "ds", "es", "fs", "gs", "ss", "cr8", "byte", "word", "dword",
                          "qword", "tword", "oword", "yword", "zword", "rel", "abs", "strict",
                          "short", "near", "far", "to", "wrt", "seg", "nosplit", "db", "dw", "dd",
                          "dq", "dt", "do", "dy", "dz", "resb", "resw", "resd", "resq", "rest",
                          "reso", "resy", "resz", "incbin", "equ", "times"})
      words.insert(k);
    return words;
  }();
  char lower[8];
  if (w.size() > sizeof lower) return false;
  for (size_t i = 0; i < w.size(); ++i) lower[i] = char(std::tolower(static_cast<unsigned char>(w[i])));
  return kWords.count(std::string_view(lower, w.size())) != 0;
}

// An instruction prefix: the mnemonic comes after it.
bool prefix_word(std::string_view w) {
  for (const char* p : {"rep", "repe", "repz", "repne", "repnz", "lock", "o16", "o32", "o64",
                        "a16", "a32", "a64", "bnd", "xacquire", "xrelease"})
    if (same_word(w, p)) return true;
  return false;
}

// A word that names a symbol of the program's: not the assembler's own,
// not a local label (".name", which belongs to its piece), not a special
// symbol ("..gotpcrel", "__?float64?__").
bool symbol_word(std::string_view w) {
  if (w.rfind("..@qwf.", 0) == 0) return false;  // a fault jump: its stub comes with its piece
  if (w[0] == '.') return w.rfind("..@", 0) == 0;
  if (w.rfind("__?", 0) == 0) return false;
  return !assembler_word(w);
}

// A directive that uses no symbol ("[bits 64]", "align 16, db 0" ...).
bool directive_word(std::string_view w) {
  for (const char* d : {"section", "segment", "default", "bits", "align", "alignb", "warning",
                        "cpu", "absolute", "float"})
    if (same_word(w, d)) return true;
  return false;
}

// Whether the word that ends at `at` is a label ("name:").
bool labelled(std::string_view line, size_t at) {
  const size_t next = line.find_first_not_of(" \t", at);
  return next != std::string_view::npos && line[next] == ':';
}

// "%line N+STEP FILE": N, STEP and FILE; false for another line.
bool line_marker(std::string_view line, long& n, long& step, std::string_view& file) {
  if (line.rfind("%line ", 0) != 0) return false;
  size_t i = 6;
  n = step = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') n = n * 10 + (line[i++] - '0');
  if (i >= line.size() || line[i] != '+') return false;
  for (++i; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) step = step * 10 + (line[i] - '0');
  file = i < line.size() ? line.substr(i + 1) : std::string_view();
  return true;
}

constexpr char kStackNote[] = "section .note.GNU-stack noalloc noexec nowrite progbits";

}  // namespace

std::vector<std::string> PieceCutter::take(std::string_view lines) {
  std::vector<std::string> done;
  for (size_t at = 0; at < lines.size();) {
    size_t end = lines.find('\n', at);
    if (end == std::string_view::npos) end = lines.size();
    const std::string_view line = lines.substr(at, end - at);
    if (body_.size() >= piece_bytes_ && section_ == ".text" && code_label(line))
      done.push_back(close_piece());
    read_line(line);
    body_.append(line) += '\n';
    at = end + 1;
  }
  return done;
}

std::string_view PieceCutter::keep(std::string_view name) {
  return *names_.emplace(name).first;
}

void PieceCutter::read_line(std::string_view line) {
  ++since_marker_;
  long n = 0, step = 0;
  std::string_view file;
  if (line_marker(line, n, step, file)) {
    marker_line_ = n;
    marker_step_ = step;
    marker_file_.assign(file);
    since_marker_ = 0;
    return;
  }
  if (line.empty() || line[0] == '%') return;
  const std::string_view section = section_of(line);
  if (!section.empty()) section_ = keep(section);
  if (line.find(".note.GNU-stack") != std::string_view::npos) note_ = true;
  Words words(line);
  std::string_view first;
  if (!words.next(first)) return;
  if (same_word(first, "extern") || same_word(first, "global")) {
    std::string_view name;
    const bool external = same_word(first, "extern");
    while (words.next(name)) {
      name = keep(name);
      (external ? program_externs_ : program_globals_).insert(name);
      if (!external) globals_here_.insert(name);
    }
    if (external) extern_lines_.append(line) += '\n';
    return;
  }
  if (directive_word(first)) {
    if (line[0] == '[' && !same_word(first, "section") && !same_word(first, "segment"))
      settings_.append(line) += '\n';  // in force for the pieces after this one too
    return;
  }
  std::string_view name;
  size_t rest = 0;
  bool constant = false;
  std::string_view operands = line;
  if (definition(line, name, rest, constant)) {
    name = keep(name);
    defined_.insert(name);
    if (constant) constants_.emplace(name, std::string(line));
    operands = line.substr(rest);
  }
  Words ops(operands);
  std::string_view word;
  if (!ops.next(word)) return;
  if (labelled(operands, ops.at()) && !ops.next(word)) return;  // ".local:", then
  if (prefix_word(word) && !ops.next(word)) return;             // the mnemonic
  while (ops.next(word))
    if (symbol_word(word)) used_.insert(keep(word));
}

// The marker that numbers the line at which the next piece begins.
std::string PieceCutter::marker_here() const {
  if (marker_file_.empty()) return std::string();
  return "%line " + std::to_string(marker_line_ + marker_step_ * since_marker_) + "+" +
         std::to_string(marker_step_) + " " + marker_file_ + "\n";
}

std::string PieceCutter::close_piece() {
  const size_t index = exported_.size();
  std::string header;
  if (index > 0) header = settings_at_start_ + externs_at_start_;
  for (const std::string_view name : used_) {
    if (defined_.count(name) || program_externs_.count(name)) continue;
    const auto constant = constants_.find(name);
    if (constant != constants_.end()) {  // a number: the line itself
      header.append(constant->second) += '\n';
      continue;
    }
    const auto earlier = defined_in_.find(name);
    if (earlier == defined_in_.end())
      wanted_ahead_.insert(name);
    else if (!exported_[earlier->second].count(name))
      broken_ = true;
    header.append("extern ").append(name) += '\n';
  }
  std::unordered_set<std::string_view> exports;
  for (const std::string_view name : defined_) {
    if (!defined_in_.emplace(name, index).second) broken_ = true;  // defined twice
    if (name.rfind("..@", 0) == 0 && !wanted_ahead_.count(name)) continue;
    exports.insert(name);
    if (!globals_here_.count(name)) header.append("global ").append(name) += '\n';
  }
  exported_.push_back(std::move(exports));
  std::string piece = std::move(header);
  if (index > 0) piece += "section .text\n" + marker_at_start_;
  piece += body_;
  if (!note_) piece.append("\n").append(kStackNote) += '\n';
  body_.clear();
  defined_.clear();
  used_.clear();
  globals_here_.clear();
  note_ = false;
  marker_at_start_ = marker_here();
  settings_at_start_ = settings_;
  externs_at_start_ = extern_lines_;
  return piece;
}

std::string PieceCutter::last_piece() { return close_piece(); }

bool PieceCutter::pieces_link() const {
  if (broken_) return false;
  for (const std::string_view name : wanted_ahead_) {
    const auto at = defined_in_.find(name);
    if (at == defined_in_.end() || !exported_[at->second].count(name)) return false;
  }
  return true;
}

std::string PieceCutter::joined_only_names() const {
  std::string names;
  for (const auto& exports : exported_)
    for (const std::string_view name : exports)
      if (!program_globals_.count(name)) names.append(name) += '\n';
  return names;
}
