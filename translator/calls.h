// Calls of subs and functions (calls.cpp): the number of arguments a call
// passes is checked against the sub's or function's @USING line when the
// program is built.
#pragma once

#include <string>
#include <string_view>

#include "names.h"
#include "rows.h"

// The arguments written in `text`: separated by blanks or commas outside
// quotations, braces and brackets; -1 when an operator stands among them.
long CountArguments(std::string_view text);

// "CALL name arguments" to a sub or function whose @USING line declares
// another number of parameters is refused at its line; true when it was.
bool RefuseArgumentCount(Row& row, const DataNames& names);

// The message for a call of `callee` that passes `passed` arguments.
std::string ArgumentCountMessage(const DataName& callee, long passed);
