// nasm -E keeps the source positions of the expansion in "%line" markers:
// "%line N+M FILE" makes the next line line N + M of FILE (as nasm reads
// them), M the step of the lines after it.  The preprocessor of NASM 2.16
// writes N where it means the next line to be N, so every line of the
// expansion would be named one too far.  quill measures the shift once per
// build and mends the markers before assembling.
#include "line_markers.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "spawn.h"

namespace {

constexpr char kMarker[] = "%line ";
constexpr int kProbeLine = 10;

// "%line N+M FILE" at `at`: N and where it ends; false for another line.
bool read_marker(const std::string& text, size_t at, long& n, size_t& n_end, long& step) {
  if (text.compare(at, sizeof kMarker - 1, kMarker) != 0) return false;
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

void gather_fault_stubs(std::string& text) {
  static const std::string kStubs = " [section qw_faults", kSection = " [section ";
  std::string code, stubs;
  code.reserve(text.size());
  std::string file;  // the file of the last marker (with its line end)
  bool in_stubs = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    long n = 0, step = 0;
    size_t n_end = 0;
    if (read_marker(text, at, n, n_end, step)) {
      const size_t name = text.find(' ', n_end);
      if (name < end) file.assign(text, name + 1, end - name - 1);
    }
    const bool section = text.compare(at, kSection.size(), kSection) == 0;
    if (section && in_stubs) {
      in_stubs = false;  // the switch back: the code goes on where it was
    } else if (section && text.compare(at, kStubs.size(), kStubs) == 0) {
      if (stubs.empty()) {
        stubs = "%line 0+0 " + (file.empty() ? std::string("stubs\n") : file);
        stubs.append(text, at, end - at);  // the first names the section's kind
      }
      in_stubs = true;
    } else if (in_stubs) {
      stubs.append(text, at, end - at);
    } else {
      code.append(text, at, end - at);
    }
    at = end;
  }
  if (!code.empty() && code.back() != '\n') code += '\n';
  code += stubs;
  text.swap(code);
}
