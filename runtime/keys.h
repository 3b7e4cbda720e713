// The key and truth constants: the codes field input leaves in
// RETURN_CODE, under the names programs compare them with.  The one table
// of them: the terminal module takes its key codes from it, the
// translator's MASM dialect the names it rewrites, and
// tests/runtime/terminal_test.cpp holds the macro package's definitions
// (include/BEGIN.DICTIONARY) to it.
//
// Freestanding and header-only: no C library, nothing to construct.
#pragma once

#include <stdint.h>

namespace qw::keys {

struct Constant {
  const char* name;
  int64_t value;
  bool masm;  // the MASM dialect writes it as "%c_..." (C_TAB it leaves alone)
};

// In the order the MASM dialect rewrites them.
inline constexpr Constant kConstants[] = {
    {"C_TRUE", 1, true},           {"C_FALSE", 0, true},
    {"C_RETURN", 0, true},         {"C_FUNCTIONKEY1", 1, true},
    {"C_FUNCTIONKEY2", 2, true},   {"C_FUNCTIONKEY3", 3, true},
    {"C_FUNCTIONKEY4", 4, true},   {"C_FUNCTIONKEY5", 5, true},
    {"C_FUNCTIONKEY6", 6, true},   {"C_FUNCTIONKEY7", 7, true},
    {"C_FUNCTIONKEY8", 8, true},   {"C_FUNCTIONKEY9", 9, true},
    {"C_FUNCTIONKEY10", 10, true}, {"C_FUNCTIONKEY11", 11, true},
    {"C_FUNCTIONKEY12", 12, true}, {"C_ALT", 13, true},
    {"C_ARROWUP", 14, true},       {"C_ARROWDOWN", 15, true},
    {"C_ARROWRIGHT", 16, true},    {"C_ARROWLEFT", 17, true},
    {"C_END", 18, true},           {"C_HOME", 19, true},
    {"C_INSERT", 20, true},        {"C_ENDOFFIELD", 21, true},
    {"C_TAB", 22, false},          {"C_ESCAPE", 27, true},
    {"C_BACKSPACE", 127, true},    {"C_NONE", -1, true},
};

consteval bool same_name(const char* a, const char* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// Not defined: reached only for a name the table lacks, which then does
// not compile.
int64_t no_such_key_constant(const char* name);

consteval int64_t value_of(const char* name) {
  for (const Constant& c : kConstants)
    if (same_name(c.name, name)) return c.value;
  return no_such_key_constant(name);
}

}  // namespace qw::keys
