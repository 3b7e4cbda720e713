// rewriter [-d|-D] NAME: translates NAME.QWR into NAME.ASM.
#include "translator.h"

int main(int argc, char** argv) {
  static Translator t;  // large tables: keep them off the stack
  SetCommandLine(t, argc, argv);
  return RunTranslator(t);
}
