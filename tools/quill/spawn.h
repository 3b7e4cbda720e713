// Running the tools: fork and exec with an argument vector, never a shell.
#pragma once

#include <string>
#include <vector>

enum class Capture { kNone, kStdout, kAll };

struct ToolRun {
  int start_error = 0;  // errno when the tool could not be started
  int status = 0;       // exit status, or 128 + signal number
  int signal = 0;       // the signal that ended the tool, or 0
  std::string output;   // what was captured
};

// Runs argv[0] (searched on PATH when it has no slash) in folder `cwd`
// (empty: the current one), capturing standard output, or standard output
// and error together, as `capture` says.  Once a stop signal has come (see
// stop_on_signals) no tool is started: the run answers that signal.
ToolRun run_tool(const std::vector<std::string>& argv, const std::string& cwd,
                 Capture capture);

// Runs the tools at once, each as run_tool would, and answers their runs
// in order (two run side by side; any further one after them).
std::vector<ToolRun> run_tools_together(const std::vector<std::vector<std::string>>& argvs,
                                        const std::string& cwd, Capture capture);

// A tool that runs while quill goes on with its work, in one of the two
// slots whose tools get the signals that stop quill (see run_tools_together).
struct ToolJob {
  int pid = 0;         // 0: not started (run.start_error or run.signal says why)
  int slot = 0;
  int output_fd = -1;  // the tool's standard output, when streamed
  ToolRun run;         // its status, once job_ended says so
};

// Starts argv in folder `cwd` in `slot` (0 or 1), its messages going to
// the file `log` (a path in `cwd`); its standard output comes through
// job.output_fd when `stream`, and goes to `log` too otherwise.
ToolJob start_job(const std::vector<std::string>& argv, const std::string& cwd, int slot,
                  bool stream, const std::string& log);

// Whether the job has ended (waiting for it when `wait`); its status is
// then in job.run.  A job that never started has ended.
bool job_ended(ToolJob& job, bool wait);

// Waits until one of the two jobs (either may have ended already) has
// ended, without collecting it: job_ended then says which.
void wait_for_either_job(const ToolJob& a, const ToolJob& b);

// Runs a program in the foreground, as a shell runs a command: while it
// runs quill ignores SIGINT and SIGQUIT (the terminal sends them to the
// program too) and passes SIGTERM and SIGHUP on to it; quill then answers
// the program's status.  `quill run` and `quill debug` run through here.
ToolRun run_in_foreground(const std::vector<std::string>& argv);

// From now on SIGINT, SIGTERM and SIGHUP stop quill's work: the tool that
// runs gets the signal too, no further tool starts, and stop_signal()
// tells which signal came, so that the caller removes what it was writing
// and ends with end_by_signal().
void stop_on_signals();
int stop_signal();

// Ends quill as `signal` would have ended it (status 128 + signal where it
// cannot be raised), without a core file.
[[noreturn]] void end_by_signal(int signal);

// The command as a shell would read it, for -v.
std::string shown_command(const std::vector<std::string>& argv);

// The full path of a program on PATH (or `name` itself when it has a slash
// and is executable); empty when there is none.
std::string find_program(const std::string& name);
