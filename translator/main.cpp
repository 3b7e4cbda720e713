// rewriter [-d|-D] [-l] NAME: translates NAME.QWR into NAME.ASM.
// rewriter --version: prints the toolchain's version.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quillwright_version.h"

#include "translator.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("rewriter (Quillwright) %s\n", QW_VERSION);
    return 0;
  }
  static Translator t;  // large tables: keep them off the stack
  SetCommandLine(t, argc, argv);
  int status = RunTranslator(t);
  // REWRITER_TIMINGS=1 reports the processor time of each pass on stderr.
  if (const char* v = std::getenv("REWRITER_TIMINGS"); v && *v == '1')
    std::fprintf(stderr, "timings ms: start %.1f pass1 %.1f pass2 %.1f pass3 %.1f\n", t.phaseMs[0],
                 t.phaseMs[1], t.phaseMs[2], t.phaseMs[3]);
  return status;
}
