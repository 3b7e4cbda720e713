// Running the tools with posix_spawn: an argument vector, an optional
// working folder and an optional pipe for what the tool prints.
#include "spawn.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int wait_status(pid_t pid) {
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return WEXITSTATUS(raw);
}

std::string read_all(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return text;
    }
  }
}

}  // namespace

ToolRun run_tool(const std::vector<std::string>& argv, const std::string& cwd,
                 Capture capture) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  ToolRun run;
  int pipe_fds[2] = {-1, -1};
  if (capture != Capture::kNone && pipe2(pipe_fds, O_CLOEXEC) != 0) {
    run.start_error = errno;
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  if (capture != Capture::kNone) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    if (capture == Capture::kAll)
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  }
  pid_t pid = 0;
  run.start_error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (capture != Capture::kNone) {
    close(pipe_fds[1]);
    if (run.start_error == 0) run.output = read_all(pipe_fds[0]);
    close(pipe_fds[0]);
  }
  if (run.start_error == 0) run.status = wait_status(pid);
  return run;
}

std::string shown_command(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& a : argv) {
    if (!line.empty()) line += ' ';
    bool plain = !a.empty() && a.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-+=./:,@%") ==
        std::string::npos;
    if (plain) {
      line += a;
      continue;
    }
    line += '\'';
    for (char c : a) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

std::string find_program(const std::string& name) {
  auto runnable = [](const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) return runnable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (runnable(candidate)) return candidate;
    if (end == std::string::npos) return std::string();
    start = end + 1;
  }
}
