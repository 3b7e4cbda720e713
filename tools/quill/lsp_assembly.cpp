#include "lsp_assembly.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "assembler_log.h"

using json = nlohmann::json;

namespace {

void write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += std::size_t(n);
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// In the child: assembles as a build does, and writes the messages to
// `fd` as one JSON object.  What quill would say on standard error (a
// missing tool) is kept in the work folder and handed on too.
void check_in_child(const Place& place, const Toolchain& tools, int fd) {
  // The editor's pipes are the server's alone.
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
  }
  const std::string said = place.work + "/.said";
  int err = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (err >= 0) dup2(err, STDERR_FILENO);
  std::string log;
  BuildOptions options;
  options.translate = false;
  options.package_dir = place.folder;
  options.assembler_log = &log;
  const Program program{place.work, place.base};
  int status = assemble(program, options, tools);
  std::vector<std::string> others;
  json out = {{"status", status}, {"messages", json::array()}};
  for (const AssemblerMessage& m : assembler_messages(log, program, tools.root + "/include", others))
    out["messages"].push_back({{"file", m.file}, {"line", m.line}, {"kind", m.kind}, {"text", m.text}});
  out["others"] = others;
  out["said"] = read_file(said);
  write_all(fd, out.dump(-1, ' ', false, json::error_handler_t::replace));
}

// The word a message is about: a name nasm quotes (`n_Zip'), or the
// message's first word when it says what that word is not or does not do.
std::string token_of(const std::string& text) {
  std::size_t open = text.find('`');
  if (open != std::string::npos) {
    std::size_t close = text.find('\'', open + 1);
    if (close != std::string::npos) return text.substr(open + 1, close - open - 1);
  }
  std::size_t blank = text.find(' ');
  if (blank == std::string::npos) return "";
  for (const char* says : {" is not ", " does not "})
    if (text.compare(blank, std::strlen(says), says) == 0) return text.substr(0, blank);
  return "";
}

}  // namespace

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool AssemblyCheck::start(const Place& place, const Toolchain& tools) {
  cancel();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    setpgid(0, 0);  // the assembler it starts joins this group: one kill ends both
    close(fds[0]);
    try {
      check_in_child(place, tools, fds[1]);
    } catch (...) {
      _exit(1);
    }
    _exit(0);  // never back into the server's loop
  }
  setpgid(pid, pid);
  close(fds[1]);
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  pid_ = pid;
  fd_ = fds[0];
  output_.clear();
  started_ = now_seconds();
  return true;
}

bool AssemblyCheck::read_some() {
  if (!running()) return true;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      output_.append(buffer, std::size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return false;
    break;  // the end: the child has written all
  }
  close(fd_);
  fd_ = -1;
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return true;
}

bool AssemblyCheck::overdue() const { return running() && now_seconds() - started_ > kTimeLimit; }

std::string AssemblyCheck::overdue_message() {
  return "the assembler did not finish within " + std::to_string(int(kTimeLimit)) +
         " seconds and was stopped";
}

void AssemblyCheck::cancel() {
  if (!running()) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  close(fd_);
  fd_ = -1;
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  // Its assembler, orphaned, is the server's to collect (it is the
  // subreaper of its children's children).
  while (waitpid(-pid_, nullptr, 0) > 0 || errno == EINTR) {
  }
  pid_ = -1;
  output_.clear();
}

std::vector<Diagnostic> AssemblyCheck::messages(const SourceText& source, const Place& place) {
  std::vector<Diagnostic> found;
  auto at_first_line = [&](const std::string& text, bool error) {
    found.push_back(Diagnostic{1, -1, -1, error, text, "nasm"});
  };
  json out = json::parse(output_, nullptr, false);
  if (!out.is_object()) return found;
  const std::string source_name = place.work + "/" + place.base + ".QWR";
  for (const json& m : out.value("messages", json::array())) {
    Diagnostic d;
    d.source = "nasm";
    d.error = m.value("kind", "") != "warning";
    std::string file = m.value("file", ""), text = m.value("text", "");
    long line = m.value("line", 0L);
    if (file == source_name && line >= 1 && line <= source.lines()) {
      d.line = line;
      d.text = text;
      mark_token(d, source.line(line), token_of(text));
    } else {
      // a line of the translation or of an included file
      d.text = file + ":" + std::to_string(line) + ": " + text;
    }
    found.push_back(d);
  }
  for (const json& line : out.value("others", json::array()))
    if (line.is_string()) at_first_line(line.get<std::string>(), true);
  if (out.value("status", 0) == kToolMissing) at_first_line(out.value("said", ""), true);
  return found;
}
