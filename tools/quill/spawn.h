// Running the tools: fork and exec with an argument vector, never a shell.
#pragma once

#include <string>
#include <vector>

enum class Capture { kNone, kStdout, kAll };

struct ToolRun {
  int start_error = 0;  // errno when the tool could not be started
  int status = 0;       // exit status, or 128 + signal number
  std::string output;   // what was captured
};

// Runs argv[0] (searched on PATH when it has no slash) in folder `cwd`
// (empty: the current one), capturing standard output, or standard output
// and error together, as `capture` says.
ToolRun run_tool(const std::vector<std::string>& argv, const std::string& cwd,
                 Capture capture);

// The command as a shell would read it, for -v.
std::string shown_command(const std::vector<std::string>& argv);

// The full path of a program on PATH (or `name` itself when it has a slash
// and is executable); empty when there is none.
std::string find_program(const std::string& name);
