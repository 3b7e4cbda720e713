// Running the tools with posix_spawn: an argument vector, an optional
// working folder and an optional pipe for what the tool prints; the signals
// that reach quill meanwhile are handed on to the tool.
#include "spawn.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The signals that quill passes on to a tool or ignores while it runs.
constexpr int kPassedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

constexpr int kSlots = 2;                        // tools that may run at once
volatile sig_atomic_t g_children[kSlots] = {0, 0};  // the tools that run (0: none)
volatile sig_atomic_t g_stop_signal = 0;            // the first stop signal, or 0

sigset_t passed_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kPassedSignals) sigaddset(&set, signal);
  return set;
}

// The handler of the signals that stop quill's work: note the first, and
// hand it on to the tool that runs.
void pass_on(int signal) {
  const int saved_errno = errno;
  if (g_stop_signal == 0) g_stop_signal = signal;
  for (int slot = 0; slot < kSlots; ++slot) {
    const pid_t child = g_children[slot];
    if (child > 0) kill(child, signal);
  }
  errno = saved_errno;
}

bool ignored_now(int signal) {
  struct sigaction now {};
  return sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

// Sets `handler` for `signal`, keeping the old action in `old`.  A signal
// that quill was started with ignored (nohup, a background job) stays so.
void take_signal(int signal, void (*handler)(int), struct sigaction* old) {
  sigaction(signal, nullptr, old);
  if (old->sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  action.sa_mask = passed_signals();
  sigaction(signal, &action, nullptr);
}

// Waits for the tool without reaping it first, so that no signal is handed
// on to a process id the system may have given to another process.
int wait_status(pid_t pid, int slot, int& signal) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  sigset_t passed = passed_signals(), before;
  sigprocmask(SIG_BLOCK, &passed, &before);
  g_children[slot] = 0;
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
  return signal ? 128 + signal : WEXITSTATUS(raw);
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

// A tool started: its process id (0: not started) and the pipe its output
// comes through.
struct Started {
  pid_t pid = 0;
  int slot = 0;
  int output_fd = -1;
};

// Spawns argv in `slot` with the file actions `actions` (which the caller
// set up and destroys): the tool starts with quill's signal mask as it was
// and with `defaults` at their default actions; the passed signals are
// held back while it starts, so that one arriving then is handed on as
// soon as its process id is known.  Answers the process id, or 0 with
// run.start_error or the stop signal in `run`.
pid_t spawn_in_slot(const std::vector<std::string>& argv, posix_spawn_file_actions_t* actions,
                    const sigset_t& defaults, int slot, ToolRun& run) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  sigset_t passed = passed_signals(), before;
  sigprocmask(SIG_BLOCK, &passed, &before);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &before);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int stopped_by = g_stop_signal;
  pid_t pid = 0;
  if (stopped_by == 0) {
    run.start_error = posix_spawnp(&pid, args[0], actions, &attributes, args.data(), environ);
    if (run.start_error == 0) g_children[slot] = pid;
    else pid = 0;
  } else {
    run.signal = stopped_by;
    run.status = 128 + stopped_by;
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// Starts argv in `slot`, its output (as `capture` says) coming through a
// pipe.
Started start_tool(const std::vector<std::string>& argv, const std::string& cwd, Capture capture,
                   const sigset_t& defaults, int slot, ToolRun& run) {
  Started started;
  started.slot = slot;
  int pipe_fds[2] = {-1, -1};
  if (capture != Capture::kNone && pipe2(pipe_fds, O_CLOEXEC) != 0) {
    run.start_error = errno;
    return started;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  if (capture != Capture::kNone) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    if (capture == Capture::kAll)
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  }
  started.pid = spawn_in_slot(argv, &actions, defaults, slot, run);
  posix_spawn_file_actions_destroy(&actions);
  if (capture != Capture::kNone) {
    close(pipe_fds[1]);
    if (started.pid > 0) started.output_fd = pipe_fds[0];
    else close(pipe_fds[0]);
  }
  return started;
}

// Takes the started tool's output and waits for its end.
void finish_tool(const Started& started, ToolRun& run) {
  if (started.output_fd >= 0) {
    run.output = read_all(started.output_fd);
    close(started.output_fd);
  }
  if (started.pid > 0) run.status = wait_status(started.pid, started.slot, run.signal);
}

// Starts argv as a job: like start_tool, with the messages going to a file.
ToolJob start_job_in_slot(const std::vector<std::string>& argv, const std::string& cwd, int slot,
                          bool stream, const std::string& log) {
  ToolJob job;
  job.slot = slot;
  int pipe_fds[2] = {-1, -1};
  if (stream && pipe2(pipe_fds, O_CLOEXEC) != 0) {
    job.run.start_error = errno;
    return job;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // (after the change of folder: `log` is a path in it)
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (stream) posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  else posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  sigset_t none;
  sigemptyset(&none);
  job.pid = spawn_in_slot(argv, &actions, none, slot, job.run);
  posix_spawn_file_actions_destroy(&actions);
  if (stream) {
    close(pipe_fds[1]);
    if (job.pid > 0) job.output_fd = pipe_fds[0];
    else close(pipe_fds[0]);
  }
  return job;
}

// Starts argv and waits for it.
ToolRun spawn_and_wait(const std::vector<std::string>& argv, const std::string& cwd,
                       Capture capture, const sigset_t& defaults) {
  ToolRun run;
  finish_tool(start_tool(argv, cwd, capture, defaults, 0, run), run);
  return run;
}

}  // namespace

ToolRun run_tool(const std::vector<std::string>& argv, const std::string& cwd,
                 Capture capture) {
  // quill's own handlers end at the exec; what quill ignores the tool ignores
  sigset_t none;
  sigemptyset(&none);
  return spawn_and_wait(argv, cwd, capture, none);
}

ToolRun run_in_foreground(const std::vector<std::string>& argv) {
  struct sigaction ignore {}, old_int, old_quit, old_term, old_hup;
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigset_t defaults;
  sigemptyset(&defaults);
  if (!ignored_now(SIGINT)) sigaddset(&defaults, SIGINT);
  if (!ignored_now(SIGQUIT)) sigaddset(&defaults, SIGQUIT);
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  take_signal(SIGTERM, pass_on, &old_term);
  take_signal(SIGHUP, pass_on, &old_hup);
  ToolRun run = spawn_and_wait(argv, "", Capture::kNone, defaults);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGHUP, &old_hup, nullptr);
  return run;
}

std::vector<ToolRun> run_tools_together(const std::vector<std::vector<std::string>>& argvs,
                                        const std::string& cwd, Capture capture) {
  std::vector<ToolRun> runs(argvs.size());
  std::vector<Started> started;
  sigset_t none;
  sigemptyset(&none);
  const size_t together = argvs.size() < size_t(kSlots) ? argvs.size() : size_t(kSlots);
  for (size_t k = 0; k < together; ++k)
    started.push_back(start_tool(argvs[k], cwd, capture, none, int(k), runs[k]));
  for (size_t k = 0; k < together; ++k) finish_tool(started[k], runs[k]);
  for (size_t k = together; k < argvs.size(); ++k)  // the rest one by one
    finish_tool(start_tool(argvs[k], cwd, capture, none, 0, runs[k]), runs[k]);
  return runs;
}

void stop_on_signals() {
  struct sigaction old;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) take_signal(signal, pass_on, &old);
}

int stop_signal() { return g_stop_signal; }

void end_by_signal(int signal) {
  std::fflush(nullptr);
  const struct rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
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

ToolJob start_job(const std::vector<std::string>& argv, const std::string& cwd, int slot,
                  bool stream, const std::string& log) {
  return start_job_in_slot(argv, cwd, slot < 0 || slot >= kSlots ? 0 : slot, stream, log);
}

void wait_for_either_job(const ToolJob& a, const ToolJob& b) {
  if (a.pid <= 0 || b.pid <= 0) return;
  siginfo_t info;
  for (;;) {
    info.si_pid = 0;
    if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) == 0) break;
    if (errno != EINTR) return;
  }
  if (info.si_pid == a.pid || info.si_pid == b.pid) return;
  // Another child of quill's ended (and stays to be collected by its own
  // waiter): wait for the first job alone.
  while (waitid(P_PID, a.pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
}

bool job_ended(ToolJob& job, bool wait) {
  if (job.pid <= 0) return true;
  siginfo_t info;
  info.si_pid = 0;
  int got;
  while ((got = waitid(P_PID, job.pid, &info, WEXITED | WNOWAIT | (wait ? 0 : WNOHANG))) != 0 &&
         errno == EINTR) {
  }
  if (got != 0) {  // not a child of quill's any more: nothing to wait for
    g_children[job.slot] = 0;
    job.pid = 0;
    job.run.status = 1;
    return true;
  }
  if (info.si_pid == 0) return false;
  job.run.status = wait_status(job.pid, job.slot, job.run.signal);
  job.pid = 0;
  return true;
}
