// Fixed point (fixed_point.cpp): no decimal point reaches the assembler.
#pragma once

#include "names.h"
#include "rows.h"

// "@INSERTNUMBER name, value, picture": a decimal value is written as a
// count of the picture's smallest units (message 04 without a picture);
// the value must fit 64 bits (message 50).
void RescaleDeclaredValue(Row& row);
// Every decimal literal of a statement (outside quotations, and outside
// braces except in the first brace group of a decision) becomes
// "{digits,'picture'}" (message 50 when it does not fit 64 bits).  A
// decision word that a declared name holds is no decision word.  A "<"
// opens a brace group too, so a literal after it stays as written, unless
// relationsExpanded (positions mode), where only a "<" that opens an angle
// group does and n_P < 3.5 is expanded.
void ExpandDecimalLiterals(Row& row, const DataNames& names, bool relationsExpanded);
