// Loading NAME.QWR into the program table (load.cpp).
#pragma once

#include "translator.h"

// Reads the source and appends its rows: one per line, or one per statement
// of a line that "|" splits; a first line holding WINDOWS selects the MASM
// dialect instead.  Comment lines go through the synonym definitions and
// package includes through the declarations as they are met.
void LoadSource(Translator& t);
