// First pass: program table, directives, synonyms and data names.
#include "translator.h"

void B_1stPass(Translator&) {}
void X1_CheckQuotes(Translator&) {}
void X1_CheckQuoteChar(Translator&, char) {}
void X2_CheckBraces(Translator&) {}
void X3_PutXtable(Translator&) {}
void X4_PutXtable(Translator&) {}
void X5_SearchByName(Translator& t) { t.DataNameTable_STATUS = 1; }
void X6_SearchByRecord(Translator& t) { t.DataNameTable_STATUS = 1; }
void X7_ExtractText(Translator& t) { t.n_Start = 0; t.n_Length = 0; }
void X11_CheckPicture(Translator&) {}
void B2_Synonyms(Translator&) {}
