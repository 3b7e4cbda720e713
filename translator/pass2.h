// Second pass of the translator: structure statistics, statement
// rewrites, fixed-point literals, element-access macros and temporaries.
#pragma once

class Translator;

// Runs the whole second pass over the program table.
void C_2ndPass(Translator&);
// Turns the blank-separated operands after a decision or call keyword of
// the row in hand (PR_Line / PR_CommandLength) into a comma list.
void C26_addCommas(Translator&);
// Finds or makes a temporary of the kind in w_DataType.
void X8_NewData(Translator&);
// Appends the current macro record as a new MacroTable row.
void X10_NextTextSlot(Translator&);
