// Cutting an expansion into pieces that assemble alone; see
// split_assembly.h.  The expansion is plain assembly (the macros are gone),
// so a piece needs only the names the others define: nasm's labels
// ("name:", or a name before db/dd/equ ...), read with a small lexer, and
// the names an instruction or a datum uses, which are every word of its
// operands but the assembler's own (registers, sizes and the like).
#include "split_assembly.h"

#include <algorithm>

#include <cctype>

namespace {

// The characters of nasm's names: 1 may start one, 2 only follow.
struct NameChars {
  unsigned char kind[256] = {};
  constexpr NameChars() {
    for (int ch = 0; ch < 256; ++ch) {
      const bool letter = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
      if (letter || ch == '_' || ch == '.' || ch == '?' || ch == '@' || ch == '$') kind[ch] = 1;
      else if ((ch >= '0' && ch <= '9') || ch == '#' || ch == '~') kind[ch] = 2;
    }
  }
};
constexpr NameChars kNameChars;

inline bool name_start(char c) { return kNameChars.kind[static_cast<unsigned char>(c)] == 1; }
inline bool name_char(char c) { return kNameChars.kind[static_cast<unsigned char>(c)] != 0; }

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

// What a word is to nasm, looked up once: its own words are read without
// regard to case.
enum class Kind { kName, kAssembler, kDefining, kEqu, kPrefix, kDirective, kSection, kExtern,
                  kGlobal };

Kind kind_of(std::string_view w) {
  static const std::unordered_map<std::string_view, Kind> kKinds = [] {
    std::unordered_map<std::string_view, Kind> kinds;
    static std::vector<std::string> registers;
    for (const char* r : {"ax", "bx", "cx", "dx"}) {
      registers.push_back(std::string("r") + r[0] + 'x');
      registers.push_back(std::string("e") + r);
      registers.push_back(r);
      registers.push_back(std::string(1, r[0]) + 'l');
      registers.push_back(std::string(1, r[0]) + 'h');
    }
    for (const char* r : {"si", "di", "bp", "sp"}) {
      registers.push_back(std::string("r") + r);
      registers.push_back(std::string("e") + r);
      registers.push_back(r);
      registers.push_back(std::string(r) + 'l');
    }
    for (int n = 8; n < 16; ++n)
      for (const char* s : {"", "d", "w", "b", "l"}) registers.push_back("r" + std::to_string(n) + s);
    for (int n = 0; n < 32; ++n)
      for (const char* s : {"xmm", "ymm", "zmm"}) registers.push_back(s + std::to_string(n));
    for (int n = 0; n < 8; ++n)
      for (const char* s : {"k", "mm", "st", "cr", "dr"}) registers.push_back(s + std::to_string(n));
    for (const std::string& r : registers) kinds.emplace(r, Kind::kAssembler);
    for (const char* k : {"rip", "cs", "ds", "es", "fs", "gs", "ss", "cr8", "byte", "word", "dword",
                          "qword", "tword", "oword", "yword", "zword", "rel", "abs", "strict",
                          "short", "near", "far", "to", "wrt", "seg", "nosplit"})
      kinds.emplace(k, Kind::kAssembler);
    for (const char* k : {"db", "dw", "dd", "dq", "dt", "do", "dy", "dz", "resb", "resw", "resd",
                          "resq", "rest", "reso", "resy", "resz", "times", "incbin"})
      kinds.emplace(k, Kind::kDefining);
    kinds.emplace("equ", Kind::kEqu);
    for (const char* k : {"rep", "repe", "repz", "repne", "repnz", "lock", "o16", "o32", "o64",
                          "a16", "a32", "a64", "bnd", "xacquire", "xrelease"})
      kinds.emplace(k, Kind::kPrefix);
    for (const char* k : {"default", "bits", "align", "alignb", "warning", "cpu", "absolute",
                          "float"})
      kinds.emplace(k, Kind::kDirective);
    kinds.emplace("section", Kind::kSection);
    kinds.emplace("segment", Kind::kSection);
    kinds.emplace("extern", Kind::kExtern);
    kinds.emplace("global", Kind::kGlobal);
    return kinds;
  }();
  char lower[8];
  if (w.size() > sizeof lower) return Kind::kName;
  for (size_t i = 0; i < w.size(); ++i) {
    const char c = w[i];
    lower[i] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  }
  const auto found = kKinds.find(std::string_view(lower, w.size()));
  return found == kKinds.end() ? Kind::kName : found->second;
}

// A name that a label before it defines: "name db ...", "name equ ...".
bool defining_word(std::string_view w) {
  const Kind kind = kind_of(w);
  return kind == Kind::kDefining || kind == Kind::kEqu;
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
    constant = defining && kind_of(second) == Kind::kEqu && !words.next(second);
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


// A fault jump ("jo ..@qwf.qw_Overflow"): quill gives it a stub in its own
// piece, which calls the routine (line_markers.h).
constexpr char kFaultJump[] = "..@qwf.";

// A word that names a symbol of the program's: not the assembler's own,
// not a local label (".name", which belongs to its piece), not a special
// symbol ("..gotpcrel", "__?float64?__").
bool symbol_word(std::string_view w) {
  if (w[0] == '.') return w.rfind("..@", 0) == 0;
  if (w[0] == '_' && w.rfind("__?", 0) == 0) return false;
  const Kind kind = kind_of(w);
  return kind == Kind::kName;
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
    if (body_.size() >= piece_bytes_ / 4 && body_.size() >= bytes_now() && section_ == ".text" &&
        code_label(line))
      done.push_back(close_piece());
    read_line(line);
    body_.append(line) += '\n';
    taken_ += line.size() + 1;
    at = end + 1;
  }
  return done;
}

// The size of the piece in hand at which it is cut: the usual size until
// the expansion still to come (estimated from the share of the source
// expanded so far) is less than two such pieces, then half of it, but not
// below a quarter of the usual size.
size_t PieceCutter::bytes_now() const {
  if (source_line_ <= 0 || source_line_ >= source_lines_) return piece_bytes_;
  const double to_come = double(taken_) * double(source_lines_ - source_line_) / double(source_line_);
  return std::clamp(size_t(to_come / 2), piece_bytes_ / 4, piece_bytes_);
}

std::string_view PieceCutter::keep(std::string_view name) {
  const auto found = names_.find(name);
  if (found != names_.end()) return *found;
  kept_.emplace_back(name);
  return *names_.insert(kept_.back()).first;
}

void PieceCutter::read_line(std::string_view line) {
  ++since_marker_;
  long n = 0, step = 0;
  std::string_view file;
  if (line_marker(line, n, step, file)) {
    marker_line_ = n;
    marker_step_ = step;
    marker_file_.assign(file);
    if (n > source_line_ && file == source_file_) source_line_ = n;
    since_marker_ = 0;
    return;
  }
  if (line.empty() || line[0] == '%') return;
  Words words(line);
  std::string_view first;
  if (!words.next(first)) return;
  const Kind kind = kind_of(first);
  if (kind == Kind::kExtern || kind == Kind::kGlobal) {
    std::string_view name;
    const bool external = kind == Kind::kExtern;
    while (words.next(name)) {
      name = keep(name);
      (external ? program_externs_ : program_globals_).insert(name);
      if (!external) globals_here_.insert(name);
    }
    if (external) extern_lines_.append(line) += '\n';
    return;
  }
  if (kind == Kind::kSection) {
    const std::string_view section = section_of(line);
    if (!section.empty()) section_ = keep(section);
    if (line.find(".note.GNU-stack") != std::string_view::npos) note_ = true;
    return;
  }
  if (kind == Kind::kDirective) {
    if (line[0] == '[') settings_.append(line) += '\n';  // in force for the pieces after this one too
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
  if (kind_of(word) == Kind::kPrefix && !ops.next(word)) return;  // the mnemonic
  while (ops.next(word)) {
    if (word.rfind(kFaultJump, 0) == 0)  // the stub that quill writes calls the routine
      word.remove_prefix(sizeof kFaultJump - 1);
    if (symbol_word(word)) used_.insert(keep(word));
  }
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
