// The sizes a declaration writes: a word's length, an array's count, a
// table's dimensions.  Each is a whole number within its limit, or a name
// or expression left to the assembler; anything else ends the run at the
// declaration's line at once (message 52), rather than after minutes of
// assembling a program of gigabytes or after a message that points
// elsewhere.
#pragma once

#include <string_view>

// A word's positions are 16-bit in the runtime.
inline constexpr long kLongestWord = 65535;
// Arrays are static (8 bytes an element), fixed tables too (their record's
// flat length an entry): an xtable takes larger amounts when it is bound.
inline constexpr long kMostArrayElements = 1000000;
inline constexpr long kMostTableEntries = 100000;

// Checks the sizes of the declaration in `statement` (a statement part;
// others are left alone); `line` names the source line in the message.
void CheckDeclaredSizes(std::string_view statement, long line);
