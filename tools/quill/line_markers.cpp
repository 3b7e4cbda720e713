// nasm -E keeps the source positions of the expansion in "%line" markers:
// "%line N+M FILE" makes the next line line N + M of FILE (as nasm reads
// them), M the step of the lines after it.  The preprocessor of NASM 2.16
// writes N where it means the next line to be N, so every line of the
// expansion would be named one too far.  quill measures the shift once per
// build and mends the markers before assembling.
#include "line_markers.h"

#include <cstdio>
#include <string_view>
#include <fstream>
#include <unistd.h>

#include "spawn.h"

namespace {

constexpr char kMarker[] = "%line ";
constexpr int kProbeLine = 10;

// "%line N+M FILE" at `at`: N and where it ends; false for another line.
bool read_marker(const std::string& text, size_t at, long& n, size_t& n_end, long& step) {
  if (at >= text.size() || text[at] != '%' || text.compare(at, sizeof kMarker - 1, kMarker) != 0)
    return false;
  size_t i = at + sizeof kMarker - 1;
  size_t digits = i;
  n = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') n = n * 10 + (text[i++] - '0');
  if (i == digits || i >= text.size() || text[i] != '+') return false;
  n_end = i;
  step = 0;
  for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) step = step * 10 + (text[i] - '0');
  return true;
}

}  // namespace

int marker_shift(const std::string& nasm, const std::string& cwd, const std::string& probe) {
  const std::string path = (cwd.empty() ? std::string(".") : cwd) + "/" + probe;
  {
    std::ofstream out(path);
    out << kMarker << kProbeLine << "+1 probe\nnop\n";
    if (!out.flush()) return 0;
  }
  ToolRun run = run_tool({nasm, "-E", probe}, cwd, Capture::kStdout);
  unlink(path.c_str());
  long n = 0, step = 0;
  size_t n_end = 0;
  for (size_t at = 0; run.start_error == 0 && at < run.output.size();) {
    if (read_marker(run.output, at, n, n_end, step) && step == 1) return int(n + step - (kProbeLine + 1));
    size_t end = run.output.find('\n', at);
    at = end == std::string::npos ? run.output.size() : end + 1;
  }
  return 0;
}

void mend_line_markers(std::string& text, int shift) {
  if (shift == 0) return;
  std::string mended;
  mended.reserve(text.size());
  size_t copied = 0;
  for (size_t at = 0; at < text.size();) {
    long n = 0, step = 0;
    size_t n_end = 0;
    if (read_marker(text, at, n, n_end, step) && step > 0) {
      mended.append(text, copied, at - copied);
      mended += kMarker;
      mended += std::to_string(n - long(shift) * step);
      copied = n_end;
    }
    size_t end = text.find('\n', at);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  mended.append(text, copied, std::string::npos);
  text.swap(mended);
}

namespace {

constexpr char kSentinel[] = "..@qwf.";  // the package's jump to a stub of quill's

// The file's name as the package writes it: db 0, length, the name.
std::string file_record(const std::string& file) {
  std::string record = " db 0, " + std::to_string(file.size());
  if (file.find_first_of("'\n") == std::string::npos) return record + ", '" + file + "'\n";
  for (const unsigned char c : file) record += ", " + std::to_string(c);
  return record + "\n";
}

// The stubs' start: line 0 of the file of `marker_file` (the rest of a
// marker, with its line end), and the section.
std::string stubs_header(const std::string& marker_file) {
  return "%line 0+0 " + (marker_file.empty() ? std::string("stubs\n") : marker_file) +
         " [section qw_faults progbits alloc exec nowrite align=1]\n";
}

bool routine_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '?' || c == '@' || c == '$' || c == '#' || c == '~';
}

}  // namespace

// The label of the stub of `routine` at `line` of `file`: the routine's
// last stub when that was written for the same line, a new one otherwise.
std::string FaultStubs::stub_for(const std::string& routine, long line, const std::string& file,
                                 std::string& stubs) {
  const std::string where = std::to_string(line) + " " + file;
  auto last = last_.find(routine);
  if (last != last_.end() && last->second.first == where)
    return "..@qwf" + std::to_string(last->second.second);
  const std::string label = "..@qwf" + std::to_string(++serial_);
  last_[routine] = {where, serial_};
  if (file != file_) {
    stubs += file_record(file);
    file_ = file;
  }
  stubs += label + ": db 0xE8\n dd " + routine + " - ($ + 4), " + std::to_string(line) + "\n";
  return label;
}

void FaultStubs::gather(std::string& text) {
  static const std::string kStubs = " [section qw_faults", kSection = " [section ";
  std::string code, stubs;
  code.reserve(text.size());
  std::string marker_file;  // the file of the last marker (with its line end)
  long marker_line = 0, marker_step = 0, since_marker = 0;
  bool in_stubs = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    long n = 0, step = 0;
    size_t n_end = 0;
    ++since_marker;
    if (read_marker(text, at, n, n_end, step)) {
      const size_t name = text.find(' ', n_end);
      if (name < end) marker_file.assign(text, name + 1, end - name - 1);
      marker_line = n;
      marker_step = step;
      since_marker = -1;  // the line after the marker is line n
    }
    const bool section = text[at] == ' ' && text.compare(at, kSection.size(), kSection) == 0;
    const size_t found = in_stubs ? std::string::npos
                                  : std::string_view(text).substr(at, end - at).find(kSentinel);
    const size_t sentinel = found == std::string::npos ? std::string::npos : at + found;
    if (section && in_stubs) {
      in_stubs = false;  // the switch back: the code goes on where it was
    } else if (section && text.compare(at, kStubs.size(), kStubs) == 0) {
      if (stubs.empty()) stubs = stubs_header(marker_file);
      in_stubs = true;
    } else if (in_stubs) {
      stubs.append(text, at, end - at);
    } else if (sentinel < end) {
      size_t name_end = sentinel + sizeof kSentinel - 1;
      while (name_end < end && routine_char(text[name_end])) ++name_end;
      const std::string routine = text.substr(sentinel + sizeof kSentinel - 1,
                                              name_end - sentinel - (sizeof kSentinel - 1));
      std::string file = marker_file;
      if (!file.empty() && file.back() == '\n') file.pop_back();
      if (stubs.empty()) stubs = stubs_header(marker_file);
      const long line = marker_line + marker_step * since_marker;
      code.append(text, at, sentinel - at);
      code += stub_for(routine, line, file, stubs);
      code.append(text, name_end, end - name_end);
    } else {
      code.append(text, at, end - at);
    }
    at = end;
  }
  if (!code.empty() && code.back() != '\n') code += '\n';
  code += stubs;
  text.swap(code);
}
