// Second pass of the translator: structure statistics, statement
// rewrites, fixed-point literals, element-access macros and temporaries.
// Every routine works on the row in hand (Translator::PR) and the run-wide
// state; the pass driver fetches and stores the rows.
#pragma once

#include <string>
#include <string_view>

#include "text.h"

class Translator;

// ---- Pass driver and structure statistics (pass2.cpp) ----------------------
void C_2ndPass(Translator&);
void C1_GetStats(Translator&);
void C12_GetStats(Translator&, long I);
void C3_DisplayResults(Translator&);

// ---- Statement translation (pass2.cpp) -----------------------------------------
// Translates the row in hand (type "L") and stores it back as row n_LineCtr.
void C2_Translate(Translator&);
// FP_DEFAULTPICTURE: true when the row was the directive (it is then stored
// back as a comment row).
bool C21_f_ProcessedDirective(Translator&);
void C24_ArrayIF(Translator&);
void C25_SetupCalc(Translator&);
// Turns the blank-separated operands after a decision or call keyword of
// the row in hand (PR_Line / PR_CommandLength) into a comma list.
void C26_addCommas(Translator&);

// ---- Fixed point (pass2_fixedpoint.cpp) -------------------------------------------
void C22_FixedPoint(Translator&);
void C221_FP_inMatrix(Translator&);
void C2211_BuildLiteral(Translator&);
void C222_FP_inProcedure(Translator&);
void C2222_FP_Expand(Translator&);

// ---- Element-access macros and temporaries (pass2_elements.cpp) -----------------
// Builds the macro of the row in hand; I is the column of its first "[".
void C23_CreateMacro(Translator&, long I);
// Finds or makes a temporary of the kind in w_DataType.
void X8_NewData(Translator&);
void X9_NextNewDataSlot(Translator&);
// Appends the current macro record as a new MacroTable row.
void X10_NextTextSlot(Translator&);

// ---- Helpers shared by the second-pass sources ---------------------------------
namespace p2 {
// The row number edited as six digits, as messages show it.
std::string RowNo(const Translator&);
// Ends the run when the row in hand cannot take `extra` more columns.
void EnsureRoom(Translator&, long extra);
// Looks a name up in the data-name table without disturbing w_DataType;
// returns its type, or a blank when it is not declared.  On success the
// shared record DN holds the row.
char TypeOf(Translator&, std::string_view name);

// Quote state after character c: the rule of X1_CheckQuotes, for scans
// that walk a line column by column.
inline void QuoteStep(char& q, char c) {
  if (c == '"' || c == '\'') {
    if (q == ' ')
      q = c;
    else if (c == q)
      q = ' ';
  }
  if (q == ' ' && c == ';') q = ';';
}

// True when field f reads s at column i.
template <std::size_t N>
inline bool Reads(const qwt::Text<N>& f, long i, std::string_view s) {
  if (i < 1 || i - 1 + long(s.size()) > long(N)) return false;
  for (std::size_t k = 0; k < s.size(); ++k)
    if (f.c[std::size_t(i - 1) + k] != s[k]) return false;
  return true;
}

// Column of the first s (upper case) in columns 1..last of f compared in
// upper case; 0 if none.
template <std::size_t N>
inline long FindUpper(const qwt::Text<N>& f, std::string_view s, long last) {
  if (last > long(N)) last = long(N);
  for (long i = 1; i + long(s.size()) - 1 <= last; ++i) {
    if (qwt::Upper(f.c[std::size_t(i - 1)]) != s[0]) continue;
    std::size_t k = 1;
    while (k < s.size() && qwt::Upper(f.c[std::size_t(i - 1) + k]) == s[k]) ++k;
    if (k == s.size()) return i;
  }
  return 0;
}
}  // namespace p2
