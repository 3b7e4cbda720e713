// The assembler's check of a translation, run as quill build assembles
// (the same code), in a child process of its own: a newer change stops it
// at once by ending the child and the assembler it started.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "lsp_analysis.h"
#include "quill.h"

class AssemblyCheck {
 public:
  AssemblyCheck() = default;
  AssemblyCheck(const AssemblyCheck&) = delete;
  AssemblyCheck& operator=(const AssemblyCheck&) = delete;
  ~AssemblyCheck() { cancel(); }

  // Starts assembling NAME.ASM of the place's work folder; false when no
  // process could be started.
  bool start(const Place& place, const Toolchain& tools);
  bool running() const { return pid_ > 0; }
  // The pipe to wait on while it runs.
  int fd() const { return fd_; }
  // Takes what the child wrote; true once it has ended.
  bool read_some();
  // Past its time limit (a program the assembler cannot finish), and
  // what to say when it is stopped for that.
  static constexpr double kTimeLimit = 60;  // seconds
  bool overdue() const;
  static std::string overdue_message();
  // The messages at their lines of `source`; for a check that has ended.
  std::vector<Diagnostic> messages(const SourceText& source, const Place& place);
  // Ends the child and its assembler, if running, and collects both (the
  // server is the subreaper of its children's children).
  void cancel();

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string output_;
  double started_ = 0;
};

// Seconds on a steady clock.
double now_seconds();
