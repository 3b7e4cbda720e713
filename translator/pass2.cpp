// Second pass of the translator.
#include "pass2.h"

void C_2ndPass(Translator&) {}
void C26_addCommas(Translator&) {}
void X8_NewData(Translator&) {}
void X10_NextTextSlot(Translator&) {}
