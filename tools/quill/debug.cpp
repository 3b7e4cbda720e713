// quill debug: builds the program with debug information when it lacks it
// or is older than what it is made of, then runs gdb on it with the
// Quillwright extension loaded (share/quillwright/gdb/quillwright.py, found
// next to the macro package).  gdb runs in the foreground: quill leaves
// Ctrl-C and Ctrl-\ to it while it waits.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "quill.h"
#include "spawn.h"

extern char** environ;

namespace {

// The mark the macro package writes into a program built with -g: the
// name of the unit that describes its items (include/debug.mac).
constexpr char kItemsUnit[] = "Quillwright items";

bool modified_time(const std::string& path, timespec& when) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  when = st.st_mtim;
  return true;
}

bool later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The newest change among the files of a folder (the macro package).
timespec newest_in(const std::string& folder) {
  timespec newest{};
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      timespec when;
      if (entry->d_name[0] != '.' && modified_time(folder + "/" + entry->d_name, when) &&
          later(when, newest))
        newest = when;
    }
    closedir(dir);
  }
  return newest;
}

bool carries_item_descriptions(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes.find(std::string(kItemsUnit, sizeof kItemsUnit)) != std::string::npos;
}

// Whether the program stands as a -g build of what it is made of now.
bool debug_build_current(const Program& program, const Toolchain& tools) {
  timespec built, source, library;
  if (!modified_time(program.file(""), built) || !modified_time(program.file(".QWR"), source) ||
      !modified_time(tools.library, library))
    return false;
  if (!later(built, source) || !later(built, library) ||
      !later(built, newest_in(tools.root + "/include")))
    return false;
  return carries_item_descriptions(program.file(""));
}

// The program as gdb is to find it: a path, never a name looked up on PATH.
std::string program_path(const Program& program) {
  const std::string path = program.file("");
  return path[0] == '/' || path[0] == '.' ? path : "./" + path;
}

}  // namespace

int debug_program(const Program& program, const std::string& script, char** args,
                  const Toolchain& tools) {
  const std::string gdb = find_program("gdb");
  if (gdb.empty()) {
    say("cannot find gdb (quill debug runs it; install the gdb package)");
    return kToolMissing;
  }
  const std::string extension = tools.root + "/gdb/quillwright.py";
  if (access(extension.c_str(), R_OK) != 0) {
    say("cannot find the gdb extension " + extension + " (set QW_ROOT)");
    return kToolMissing;
  }
  if (!script.empty() && access(script.c_str(), R_OK) != 0) {
    say("cannot read the command file " + script + ": " + std::strerror(errno));
    return kNoInput;
  }
  if (!debug_build_current(program, tools)) {
    BuildOptions options;
    options.debug_info = true;
    if (int status = build_program(program, options, tools)) return status;
  }
  std::vector<std::string> argv = {gdb, "-q"};
  if (!script.empty()) argv.insert(argv.end(), {"-batch", "-nx"});
  argv.insert(argv.end(), {"-x", extension});
  if (!script.empty()) argv.insert(argv.end(), {"-x", script});
  argv.insert(argv.end(), {"--args", program_path(program)});
  for (; *args; ++args) argv.push_back(*args);
  std::fflush(nullptr);
  const ToolRun run = run_in_foreground(argv);
  if (run.start_error != 0) {
    say("cannot run " + gdb + ": " + std::strerror(run.start_error));
    return kToolMissing;
  }
  return run.status;
}
