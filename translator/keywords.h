// Keywords and the names a program declares: a keyword is recognised only
// where none of its letters belongs to a declared name, so `n_Differ`
// holds no IF, `n_Calls` no CALL and `w_Gift` no IF, in any letter case.
// Every search of a statement for a keyword that a name could hold goes
// through here.
#pragma once

#include <string_view>

#include "names.h"

// A character of a name: a letter, a digit, "_" or "$".
bool IsNameChar(char c);

// Whether any of columns from..from+length-1 of text (from 1) lies in a
// name the program declares, or in one its declaration brings along
// (f_Calls_STATUS, t_Ifs_UBOUND, r_Ifs$LENGTH ...).
bool TouchesDeclaredName(const DataNames& names, std::string_view text, long from, long length);

// True when text reads `word` (upper case) at column c in any letter case
// and no declared name holds it.
bool KeywordAt(const DataNames& names, std::string_view text, long c, std::string_view word);

// Column of the first `word` (upper case) in columns 1..last of text, in
// any letter case, that no declared name holds; 0 if none.
long FindKeyword(const DataNames& names, std::string_view text, std::string_view word, long last);
