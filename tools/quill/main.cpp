// quill -- build and run Quillwright programs.
//
//   quill build [-d] [-g] [-v] NAME        NAME.QWR -> NAME.ASM -> NAME.o -> NAME
//   quill run [-d] [-g] [-v] NAME [args]   build, then run the program with args
//   quill assemble [-g] [-v] NAME          NAME.ASM -> NAME.o -> NAME
//   quill debug [-x FILE] NAME [args]      build with -g when needed, then gdb
//   quill lsp                              the language server (lsp_server.cpp)
//   quill --help | --version
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "quill.h"
#include "spawn.h"
#include "quillwright_version.h"

namespace {

const char kUsageText[] =
    "Usage: quill build [-d] [-g] [-v] NAME\n"
    "       quill run [-d] [-g] [-v] NAME [arguments...]\n"
    "       quill assemble [-g] [-v] NAME\n"
    "       quill debug [-x FILE] NAME [arguments...]\n"
    "       quill lsp\n"
    "       quill --help | --version\n"
    "\n"
    "NAME is a Quillwright source NAME.QWR (the extension may be written or\n"
    "left out; a directory in front of it is allowed).  The files NAME.ASM,\n"
    "NAME.o and the program NAME are written next to the source and kept.\n"
    "\n"
    "  build     translate NAME.QWR with rewriter, assemble NAME.ASM with nasm,\n"
    "            link the program with the runtime library\n"
    "  run       build, then run ./NAME with the given arguments; the exit status\n"
    "            is the program's own\n"
    "  assemble  skip translation: assemble and link an existing NAME.ASM\n"
    "  debug     build with -g unless ./NAME stands so already, then start gdb\n"
    "            on it with the Quillwright extension; -x FILE: run the gdb\n"
    "            commands of FILE in batch mode\n"
    "  lsp       the language server for editors, on standard input and output\n"
    "  -d        debug build: every statement reports its line on standard error\n"
    "  -g        debug information, so that gdb shows and steps through NAME.QWR\n"
    "  -v        show the translator's summary and the commands that are run\n"
    "\n"
    "Exit status: the translator's status when translation fails, 70 when the\n"
    "assembler rejects NAME.ASM, 71 when linking fails, 64 for a wrong command\n"
    "line, 66 when the source is missing or unreadable, 69 when a tool is\n"
    "missing, 73 when an old NAME.ASM cannot be replaced.\n"
    "\n"
    "Environment: QW_ROOT (the folder holding the macro package's include/),\n"
    "QW_BIN (the folder holding rewriter), QW_REWRITER, QW_LIB (the runtime\n"
    "library); by default all are found next to quill itself.\n";

int usage_error() {
  std::fputs(kUsageText, stderr);
  return kUsage;
}

bool ends_with(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// NAME as typed -> its folder and base name; false when it names no
// program the translator could read.
bool split_name(std::string name, Program& program) {
  for (const char* ext : {".QWR", ".qwr", ".ASM"}) {
    if (ends_with(name, ext)) {
      name.resize(name.size() - std::strlen(ext));
      break;
    }
  }
  size_t slash = name.find_last_of('/');
  program.dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  program.base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (program.base.empty() || program.base == "." || program.base == "..") {
    say("'" + name + "' does not name a program");
    return false;
  }
  // the translator takes its name up to the first blank
  if (program.base.find_first_of(" \t") != std::string::npos) {
    say("a program name cannot contain blanks: '" + program.base + "'");
    return false;
  }
  return true;
}

// The program runs as a shell runs a command; quill ends with its status,
// or by the signal that ended it.
int run_program(const Program& program, char** args) {
  std::vector<std::string> argv = {program.file("")};
  for (; *args; args++) argv.push_back(*args);
  std::fflush(nullptr);
  const ToolRun run = run_in_foreground(argv);
  if (run.start_error != 0) {
    say("cannot run " + argv[0] + ": " + std::strerror(run.start_error));
    return 126;
  }
  if (run.signal != 0) end_by_signal(run.signal);
  return run.status;
}

}  // namespace

void say(const std::string& text) { std::fprintf(stderr, "quill: %s\n", text.c_str()); }

int main(int argc, char** argv) {
  if (argc < 2) return usage_error();
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (command == "lsp") return serve_language(locate_toolchain());
  if (command == "--version") {
    std::printf("quill (Quillwright) %s\n", QW_VERSION);
    return 0;
  }
  if (command != "build" && command != "run" && command != "assemble" && command != "debug") {
    say("unknown command '" + command + "'");
    return usage_error();
  }
  BuildOptions options;
  options.translate = command != "assemble";
  std::string script;  // quill debug -x FILE
  int i = 2;
  for (; i < argc && argv[i][0] == '-'; i++) {
    const std::string option = argv[i];
    if (option == "-x" && command == "debug" && i + 1 < argc) {
      script = argv[++i];
    } else if (option == "-d" || option == "-D") {
      options.debug = options.translate;
    } else if (option == "-g") {
      options.debug_info = true;
    } else if (option == "-v") {
      options.verbose = true;
    } else if (option == "--") {
      i++;
      break;
    } else {
      say("unknown option '" + option + "'");
      return kUsage;
    }
  }
  if (i >= argc) return usage_error();
  if (command != "run" && command != "debug" && i + 1 < argc) {
    say("'" + command + "' takes one program name");
    return kUsage;
  }
  Program program;
  if (!split_name(argv[i], program)) return kUsage;
  struct stat st;
  if (stat(program.dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    say("no directory " + program.dir);
    return kNoInput;
  }
  if (command == "debug") return debug_program(program, script, argv + i + 1, locate_toolchain());
  if (int status = build_program(program, options, locate_toolchain())) return status;
  return command == "run" ? run_program(program, argv + i + 1) : 0;
}
