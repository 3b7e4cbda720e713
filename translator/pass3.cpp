// Third pass: the output writer.
#include "translator.h"

void D_3rdPass(Translator& t) { t.b_OutputComplete = true; }
