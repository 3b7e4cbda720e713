// Operators written against their operands (operators.cpp).
#pragma once

#include "names.h"
#include "rows.h"

// A name never holds + - * /, so "n_Y-2" is n_Y - 2: an operator that
// follows an operand directly, or a sign written against an operand that
// follows another ("n_Y -2"), is set apart by blanks, as the rest of the
// translation and the macro package expect.  In a calculation into a
// number and inside brackets, a minus written before a name, a bracket or
// a braced operand ("n_R = -n_Y", "n_A * -[n_B + 1]") is written as a
// step of the calculation: "n_Y * -1", "n_A * -1 * [n_B + 1]".
// Operators in quotations and in the comment stay as they are.
// Positions mode only: the plain rewrite leaves operators as written.
void SeparateOperators(Row& row, const DataNames& names);

// Whether the statement is a calculation: an assignment into a number (or
// a table element of one) that calls no function.
bool IsCalculation(std::string_view statement, const DataNames& names);
