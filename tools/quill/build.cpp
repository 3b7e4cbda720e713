// The three steps of a build: translate NAME.QWR with rewriter, assemble
// NAME.ASM with nasm against the macro package, link with the runtime
// library.  Each step answers 0 or the status quill ends with.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "asm_source.h"
#include "assembler_log.h"
#include "quill.h"
#include "line_markers.h"
#include "split_assembly.h"
#include "program_parts.h"
#include "spawn.h"
#include "structure.h"

namespace {

// A file name handed to a tool: one beginning with "-" would read as an
// option.
std::string as_argument(const std::string& name) { return name[0] == '-' ? "./" + name : name; }

// The program's folder as an absolute path, for messages.
std::string folder_shown(const Program& program) {
  char* where = realpath(program.dir.c_str(), nullptr);
  std::string shown = where ? where : program.dir;
  std::free(where);
  return shown;
}

// A build stopped by a signal leaves nothing of what the step in hand was
// writing, and quill ends as the signal ends it.
void end_if_stopped(const std::vector<std::string>& being_written) {
  const int signal = stop_signal();
  if (signal == 0) return;
  for (const std::string& path : being_written) unlink(path.c_str());
  end_by_signal(signal);
}

// Runs a tool that writes the files `writes`, saying so first under -v; a
// tool that cannot be started is reported here and answers a start error
// in the result.
ToolRun run_step(const std::vector<std::string>& argv, const std::string& cwd, Capture capture,
                 bool verbose, const std::vector<std::string>& writes) {
  if (verbose) {
    say(cwd.empty() ? shown_command(argv)
                    : "(cd " + shown_command({cwd}) + " && " + shown_command(argv) + ")");
  }
  ToolRun run = run_tool(argv, cwd, capture);
  end_if_stopped(writes);
  if (run.start_error != 0) say("cannot run " + argv[0] + ": " + std::strerror(run.start_error));
  return run;
}

// The tool's full path, or a message and "" when there is none.
std::string need(const std::string& tool) {
  std::string path = find_program(tool);
  if (path.empty()) say("cannot find " + tool);
  return path;
}

// NAME.QWR must be a readable, non-empty regular file.  It is looked at
// with stat first, so that a named pipe or a device is never opened.
int check_source(const Program& program) {
  const std::string name = program.base + ".QWR", path = program.file(".QWR");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      say(name + ": no such source file in " + folder_shown(program));
    } else {
      say(name + " cannot be read: " + std::strerror(errno));
    }
    return kNoInput;
  }
  if (S_ISDIR(st.st_mode)) {
    say(name + " is a directory, not a source file");
    return kNoInput;
  }
  if (!S_ISREG(st.st_mode)) {
    say(name + " is not a regular file");
    return kNoInput;
  }
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    say(name + " cannot be read: " + std::strerror(errno));
    return kNoInput;
  }
  close(fd);
  if (st.st_size == 0) {
    say(name + " is empty");
    return kNoInput;
  }
  return 0;
}

// The line of NAME.QWR a translator message is placed at: in positions
// mode the translator puts "SOURCE:LINE: " before a message that names a
// line (SOURCE as it was handed over).  0 when `line` has no place; else
// `message` is what follows the place.
long placed_at(const std::string& line, const std::string& source, std::string& message) {
  const std::string prefix = source + ":";
  if (line.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t digits = prefix.size(), end = digits;
  while (end < line.size() && end - digits < 9 && std::isdigit(static_cast<unsigned char>(line[end])))
    ++end;
  if (end == digits || line.compare(end, 2, ": ") != 0) return 0;
  message = line.substr(end + 2);
  return std::stol(line.substr(digits, end - digits));
}

// What the translator printed, without its block summary, on failure.  A
// message placed at a line of NAME.QWR is shown as every build message is:
// "NAME.QWR:LINE: error: " before it and the line itself below it.
void show_translator_messages(const std::string& output, const Program& program) {
  const std::string source_name = as_argument(program.base) + ".QWR";
  const Lines source = read_lines(program.file(".QWR"));
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    if (IsSummaryLine(line)) continue;
    std::string text;
    long at = placed_at(line, source_name, text);
    if (at < 1 || at > long(source.size())) {
      std::fprintf(stderr, "%s\n", line.c_str());
      continue;
    }
    text.erase(0, std::min(text.size(), text.find_first_not_of(' ')));
    std::string shown = source[at - 1];
    shown.erase(0, std::min(shown.size(), shown.find_first_not_of(" \t")));
    std::fprintf(stderr, "%s.QWR:%ld: error: %s\n    %s\n", program.base.c_str(), at, text.c_str(),
                 shown.c_str());
  }
}

// Every program has its dictionary, its instructions and its end, each
// brought in by an %include line of the macro package: one that lacks a
// part is told which, rather than meeting what the package says without it.
int check_program_parts(const Program& program) {
  std::string text;
  for (const std::string& line : read_lines(program.file(".QWR"))) {
    std::string upper(line);
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    size_t at = upper.find_first_not_of(" \t");
    if (at != std::string::npos && upper.compare(at, 8, "%INCLUDE") == 0) text += upper + "\n";
  }
  for (std::string_view part : program_parts::kRequired) {
    if (text.find(part) != std::string::npos) continue;
    say(program.base + ".QWR has no line %include \"include/" + std::string(part) +
        "\": every program has one (see the four parts of a program in the language guide)");
    return kNoProgram;
  }
  return 0;
}

int translate(const Program& program, const BuildOptions& options, const Toolchain& tools) {
  if (int status = check_source(program)) return status;
  if (need(tools.rewriter).empty()) return kToolMissing;
  // An old NAME.ASM goes first: a failed translation must never be
  // followed by assembling what an earlier one wrote.
  const std::string asm_path = program.file(".ASM");
  if (unlink(asm_path.c_str()) != 0 && errno != ENOENT) {
    say("cannot replace " + program.base + ".ASM: " + std::strerror(errno));
    return kCannotWrite;
  }
  std::vector<std::string> argv = {tools.rewriter, "-l"};
  if (options.debug) argv.push_back("-D");
  argv.push_back(as_argument(program.base));
  ToolRun run = run_step(argv, program.dir, Capture::kStdout, options.verbose, {asm_path});
  if (run.start_error != 0) return kToolMissing;
  if (run.status != 0) {
    show_translator_messages(run.output, program);
    say("translation of " + program.base + ".QWR failed (status " + std::to_string(run.status) + ")");
    return run.status;
  }
  if (options.verbose) std::fputs(run.output.c_str(), stderr);
  return check_program_parts(program);
}

bool read_text(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  text.resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(in.read(text.data(), static_cast<std::streamsize>(text.size())));
}

bool write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

// A large expansion is assembled in pieces while it is being written
// (split_assembly.h), on a machine with two processors: a piece holds at
// least 256 KiB of the expansion (a smaller one gains less than its
// assembler costs to start), or about a fifth of NAME.ASM's size, so that
// the pieces left when the expansion ends are shared out evenly.
size_t piece_bytes(off_t source_size) {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) return SIZE_MAX;
  const size_t least = size_t{256} << 10;
  return std::max(least, size_t(source_size) / 5);
}

// Under -g the program's items are described for the debugger: the
// expansion starts from a file that includes NAME.ASM and then has the
// package write the description of every item declared (include/debug.mac).
// Answers the file to expand, or "" when it cannot be written.
std::string expansion_input(const Program& program, const BuildOptions& options) {
  if (!options.debug_info) return program.base + ".ASM";
  const std::string input = "." + program.base + ".items.asm";
  std::ofstream out(program.dir + "/" + input, std::ios::trunc);
  out << "%include \"" << program.base << ".ASM\"\nQW_DEBUG_ITEMS_WRITE\n";
  return out.flush() ? input : std::string();
}

}  // namespace

namespace {

// The assembler's command for `source` into `object`.  The debug lines are
// always written: the runtime names the line of a fatal message from them
// (and they cost the assembly next to nothing).
std::vector<std::string> assembler(const std::string& nasm, const std::string& object,
                                   const std::string& source) {
  return {nasm, "-O1", "-f", "elf64", "-g", "-F", "dwarf", "-o", as_argument(object), source};
}

// The pieces of a large expansion and their assemblers: while the
// expansion runs, one assembler runs beside it; after it, two at once.
class PieceAssembly {
 public:
  PieceAssembly(const Program& program, const BuildOptions& options, const std::string& nasm,
                size_t bytes, std::vector<std::string>& writes)
      : program_(program), options_(options), nasm_(nasm), writes_(writes), cutter_(bytes) {
    // NAME.ASM's line markers name the lines of NAME.QWR.
    std::string source;
    if (bytes != SIZE_MAX && read_text(program.file(".QWR"), source))
      cutter_.expect_source(program.base + ".QWR", long(std::count(source.begin(), source.end(), '\n')));
  }

  // Takes the next whole lines of the (mended) expansion: the pieces they
  // complete are written, and assembled as soon as an assembler is free.
  void take(std::string_view lines) {
    for (std::string& piece : cutter_.take(lines)) add_piece(piece);
    run_waiting(1);
  }

  // Once the expansion has ended: the last piece is cut, every piece
  // assembled and the pieces joined into NAME.o, their messages added to
  // `log`.  Answers 0 when that worked, and -1 when the expansion is to be
  // assembled whole (it was never cut, or a piece did not assemble or does
  // not link with the others).
  int finish(std::string& log) {
    if (cutter_.pieces() == 0) return -1;
    std::string last = cutter_.last_piece();
    add_piece(last);
    // Each assembler that ends makes room for the next piece at once.
    for (;;) {
      run_waiting(0);
      if (busy_[0] && busy_[1]) {
        wait_for_either_job(jobs_[0], jobs_[1]);
      } else if (busy_[0] || busy_[1]) {
        finish_job(busy_[0] ? 0 : 1, true);
      } else {
        break;
      }
    }
    end_if_stopped(writes_);
    const bool joined = !failed_ && cutter_.pieces_link() && join();
    if (joined)
      for (const std::string& name : names_) {
        std::string messages;
        if (read_text(path(name + ".log"), messages)) log += messages;
      }
    remove_pieces();
    return joined ? 0 : -1;
  }

  // The expansion failed: the assemblers are waited for and the pieces
  // removed.
  void abandon() {
    failed_ = true;
    for (int slot = 0; slot < 2; ++slot)
      if (busy_[slot]) finish_job(slot, true);
    remove_pieces();
  }

 private:
  std::string path(const std::string& name) const { return program_.dir + "/" + name; }

  void add_piece(std::string& text) {
    const std::string name = "." + program_.base + ".p" + std::to_string(names_.size() + 1);
    names_.push_back(name);
    for (const char* end : {".asm", ".o", ".log"}) writes_.push_back(path(name + end));
    stubs_.gather(text);
    if (!write_text(path(name + ".asm"), text)) failed_ = true;
  }

  // Starts the pieces that wait in the free slots from `first_slot` on,
  // noting the assemblers that have ended.
  void run_waiting(int first_slot) {
    for (int slot = first_slot; slot < 2; ++slot) {
      if (busy_[slot]) finish_job(slot, false);
      if (busy_[slot] || failed_ || next_ >= names_.size()) continue;
      const std::string& name = names_[next_++];
      const std::vector<std::string> argv = assembler(nasm_, name + ".o", name + ".asm");
      if (options_.verbose)
        say("(cd " + shown_command({program_.dir}) + " && " + shown_command(argv) + ") &");
      jobs_[slot] = start_job(argv, program_.dir, slot, false, name + ".log");
      busy_[slot] = jobs_[slot].pid > 0;
      if (!busy_[slot]) failed_ = true;
    }
  }

  void finish_job(int slot, bool wait) {
    if (!job_ended(jobs_[slot], wait)) return;
    busy_[slot] = false;
    if (jobs_[slot].run.status != 0) failed_ = true;
  }

  // The pieces joined into NAME.o, the names they made global only for
  // the join local again.
  bool join() {
    const std::string ld = find_program("ld"), objcopy = find_program("objcopy");
    if (ld.empty() || objcopy.empty()) return false;
    const std::string joined = "." + program_.base + ".joined.o";
    const std::string locals = "." + program_.base + ".locals";
    writes_.push_back(path(joined));
    writes_.push_back(path(locals));
    std::vector<std::string> argv = {ld, "-r", "-o", joined};
    for (const std::string& name : names_) argv.push_back(name + ".o");
    bool done = write_text(path(locals), cutter_.joined_only_names());
    ToolRun run;
    if (done) run = run_step(argv, program_.dir, Capture::kAll, options_.verbose, writes_);
    done = done && run.start_error == 0 && run.status == 0;
    if (done)
      run = run_step({objcopy, "--localize-symbols=" + locals, joined,
                      as_argument(program_.base + ".o")},
                     program_.dir, Capture::kAll, options_.verbose, writes_);
    done = done && run.start_error == 0 && run.status == 0;
    unlink(path(joined).c_str());
    unlink(path(locals).c_str());
    return done;
  }

  void remove_pieces() {
    for (const std::string& name : names_)
      for (const char* end : {".asm", ".o", ".log"}) unlink(path(name + end).c_str());
  }

  const Program& program_;
  const BuildOptions& options_;
  const std::string nasm_;
  std::vector<std::string>& writes_;
  PieceCutter cutter_;
  FaultStubs stubs_;  // the pieces' stubs, numbered through them all
  std::vector<std::string> names_;  // ".NAME.pK", one per piece
  size_t next_ = 0;                 // the first piece not yet started
  ToolJob jobs_[2];
  bool busy_[2] = {false, false};
  bool failed_ = false;  // a piece was not written or did not assemble
};

// Reads the expansion as nasm -E writes it, mending its line markers and
// handing its lines to the pieces; answers the whole (mended) expansion.
std::string read_expansion(int fd, int shift, PieceAssembly& pieces) {
  std::string text, partial;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    partial.append(buffer, size_t(n));
    const size_t end = partial.rfind('\n');
    if (end == std::string::npos) continue;
    std::string lines = partial.substr(0, end + 1);
    partial.erase(0, end + 1);
    mend_line_markers(lines, shift);
    pieces.take(lines);
    text += lines;
  }
  if (!partial.empty()) {
    mend_line_markers(partial, shift);
    pieces.take(partial);
    text += partial;
  }
  close(fd);
  return text;
}

}  // namespace

// The macro package is expanded once (nasm -E) and the expansion is then
// assembled: nasm would otherwise expand every macro again on each of its
// passes.  The expansion's line markers are mended first (line_markers.h),
// so that messages and debug information name the lines of NAME.QWR.
int assemble(const Program& program, const BuildOptions& options, const Toolchain& tools) {
  const std::string asm_name = program.base + ".ASM";
  struct stat st;
  if (stat(program.file(".ASM").c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    say(options.translate ? asm_name + " was not written"
                          : asm_name + ": no such assembly file in " + folder_shown(program));
    return kAssembly;
  }
  const std::string nasm = need("nasm");
  if (nasm.empty()) return kToolMissing;
  const std::string include_dir = tools.root + "/include";
  if (access(include_dir.c_str(), F_OK) != 0) {
    say("cannot find the macro package in " + include_dir + " (set QW_ROOT)");
    return kToolMissing;
  }
  const std::string expanded = "." + program.base + ".pre.asm";
  const int shift = marker_shift(nasm, program.dir, "." + program.base + ".probe.asm");
  const std::string input = expansion_input(program, options);
  if (input.empty()) {
    say("cannot write ." + program.base + ".items.asm in " + folder_shown(program));
    return kCannotWrite;
  }
  const std::string expand_log = "." + program.base + ".expand.log";
  std::vector<std::string> writes = {program.dir + "/" + expanded, program.file(".o"),
                                     program.dir + "/" + expand_log};
  if (options.debug_info) writes.push_back(program.dir + "/" + input);
  std::vector<std::string> expand = {nasm, "-E"};
  if (!options.package_dir.empty()) expand.push_back("-I" + options.package_dir + "/");
  expand.push_back("-I" + tools.root + "/");
  if (options.debug_info) expand.push_back("-dQW_DEBUG_ITEMS");
  expand.push_back("-dQW_LINES_FROM_DEBUG");
  expand.push_back("-dQW_FAULT_STUBS_BY_QUILL");
  expand.push_back(as_argument(input));
  if (options.verbose)
    say("(cd " + shown_command({program.dir}) + " && " + shown_command(expand) + ")");
  // The expansion comes through a pipe, and its pieces are assembled
  // meanwhile; a small one is written out and assembled whole.
  PieceAssembly pieces(program, options, nasm, piece_bytes(st.st_size), writes);
  ToolJob expansion = start_job(expand, program.dir, 0, true, expand_log);
  std::string text;
  if (expansion.output_fd >= 0) text = read_expansion(expansion.output_fd, shift, pieces);
  job_ended(expansion, true);
  ToolRun run = expansion.run;
  if (options.debug_info) unlink((program.dir + "/" + input).c_str());
  std::string log;
  read_text(program.dir + "/" + expand_log, log);
  unlink((program.dir + "/" + expand_log).c_str());
  if (run.status != 0 || run.start_error != 0) pieces.abandon();
  end_if_stopped(writes);
  if (run.start_error != 0) say("cannot run " + nasm + ": " + std::strerror(run.start_error));
  if (run.start_error == 0 && run.status == 0 && pieces.finish(log) != 0) {
    FaultStubs().gather(text);
    if (!write_text(program.dir + "/" + expanded, text)) {
      unlink((program.dir + "/" + expanded).c_str());
      say("cannot write " + expanded + " in " + folder_shown(program));
      return kCannotWrite;
    }
    run = run_step(assembler(nasm, program.base + ".o", expanded), program.dir, Capture::kAll,
                   options.verbose, writes);
    log += run.output;
  }
  unlink((program.dir + "/" + expanded).c_str());
  if (run.start_error != 0) return kToolMissing;
  if (options.assembler_log)
    *options.assembler_log = log;
  else if (!log.empty())
    report_assembly(log, program, include_dir);
  if (run.status != 0) {
    say("assembly of " + asm_name + " failed");
    return kAssembly;
  }
  return 0;
}

namespace {

int link(const Program& program, const BuildOptions& options, const Toolchain& tools) {
  if (access(tools.library.c_str(), F_OK) != 0) {
    say("runtime library " + tools.library + " is missing (run make first)");
    return kToolMissing;
  }
  const std::string ld = need("ld");
  if (ld.empty()) return kToolMissing;
  // -X: the package's own labels (..@qw...) stay out of the program.
  const std::vector<std::string> argv = {ld, "-X", "-o", as_argument(program.file("")),
                                         as_argument(program.file(".o")), tools.library};
  ToolRun run = run_step(argv, "", Capture::kNone, options.verbose, {program.file("")});
  if (run.start_error != 0) return kToolMissing;
  if (run.status != 0) {
    say("linking " + program.base + " failed");
    return kLink;
  }
  return 0;
}

}  // namespace

int build_program(const Program& program, const BuildOptions& options, const Toolchain& tools) {
  stop_on_signals();
  if (options.translate) {
    if (int status = translate(program, options, tools)) return status;
  }
  if (int status = assemble(program, options, tools)) return status;
  return link(program, options, tools);
}
