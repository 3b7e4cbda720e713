// quill: builds and runs Quillwright programs (NAME.QWR -> NAME.ASM ->
// NAME.o -> NAME).  Declarations shared by the driver's files.
#pragma once

#include <string>
#include <vector>

// Exit statuses of quill itself; a failed translation ends with the
// translator's own status and `run` with the program's.
enum QuillStatus {
  kUsage = 64,        // wrong command line
  kNoProgram = 65,    // NAME.QWR lacks one of the parts every program has
  kNoInput = 66,      // NAME.QWR missing, empty or not a readable file
  kToolMissing = 69,  // rewriter, nasm, ld, the library or the macro package
  kAssembly = 70,     // the assembler rejected NAME.ASM
  kLink = 71,         // linking failed
  kCannotWrite = 73,  // an old NAME.ASM cannot be removed, a work file written
};

// Where the toolchain's parts are (see toolchain.cpp).
struct Toolchain {
  std::string root;      // the folder holding include/, the macro package
  std::string rewriter;  // the translator
  std::string library;   // libquillwright.a
};

// One program to build: the files all lie in `dir` and share `base`.
struct Program {
  std::string dir;   // as given ("." when the name has no folder)
  std::string base;  // the name without folder and extension
  std::string file(const char* ext) const { return dir + "/" + base + ext; }
};

struct BuildOptions {
  bool translate = true;
  bool debug = false;       // -d: every statement reports its line
  bool debug_info = false;  // -g: debug information for gdb
  bool verbose = false;
  // A further folder the assembler searches for included files (the
  // source's, when the program is assembled in another).
  std::string package_dir;
  // When set, what the assembler printed is kept here instead of shown.
  std::string* assembler_log = nullptr;
};

// "quill: TEXT" on standard error.
void say(const std::string& text);

Toolchain locate_toolchain();

// Builds the program; answers 0 or the status quill ends with.
int build_program(const Program& program, const BuildOptions& options,
                  const Toolchain& tools);

// Runs gdb on the program with the Quillwright extension, building it with
// debug information first unless it stands so already; with `script`, gdb
// runs that command file in batch mode.  Answers gdb's exit status or the
// status quill ends with.
int debug_program(const Program& program, const std::string& script, char** args,
                  const Toolchain& tools);
// Assembles the program's NAME.ASM into NAME.o, as a build does.
int assemble(const Program& program, const BuildOptions& options, const Toolchain& tools);

// quill lsp: the language server on standard input and output.
int serve_language(const Toolchain& tools);
