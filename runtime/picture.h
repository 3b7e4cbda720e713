// Edit pictures: how a number's picture is read.  The one home of these
// rules for the runtime, the translator and the ledger; the macro
// package's assembly-time copy (QW_PLACESOF, QW_PICSCAN) is held to them
// by tests/runtime/picture_test.cpp.
//
// Every rule leaves out the sign position, the last character whenever it
// is not "9": editing writes the sign there, never a digit.  So "#,##9.##"
// has one decimal place, and "9999.99-" two.
//
// Freestanding and header-only: no C library, nothing to construct.
#pragma once

#include <stdint.h>

namespace qw::picture {

// Limits of the pictures the translator accepts.
inline constexpr int kMaxDigits = 19;
inline constexpr int kMaxPlaces = 18;

constexpr bool has_sign_position(const char* p, uint64_t n) { return n > 0 && p[n - 1] != '9'; }

// The picture's length without its sign position.
constexpr uint64_t body_length(const char* p, uint64_t n) {
  return has_sign_position(p, n) ? n - 1 : n;
}

// ",", "+" and "-" stand between digits; they are no positions.
constexpr bool is_position(char c) { return c != ',' && c != '+' && c != '-'; }

// The scale scan, which gives the places a number's value is counted in:
// from the last character to the first, every position counts; a "."
// sets the places to the positions seen so far.
__attribute__((always_inline)) constexpr int scale_places(const char* p, uint64_t n) {
  int positions = 0, places = 0;
  for (uint64_t i = body_length(p, n); i-- > 0;) {
    char c = p[i];
    if (!is_position(c)) continue;
    if (c == '.') places = positions;
    ++positions;
  }
  return places;
}

// Positions in front of the first "." (all of them without one): the
// whole digits the picture can show.
constexpr int whole_positions(const char* p, uint64_t n) {
  int positions = 0;
  for (uint64_t i = 0, end = body_length(p, n); i < end && p[i] != '.'; ++i)
    if (is_position(p[i])) ++positions;
  return positions;
}

// What the translator checks of a declared picture against kMaxDigits and
// kMaxPlaces: digit positions (every "9" and "#") and decimal places
// (every "9" after the first ".").
struct CheckedPositions {
  int digits = 0;
  int places = 0;
};
constexpr CheckedPositions checked_positions(const char* p, uint64_t n) {
  CheckedPositions r;
  bool point = false;
  for (uint64_t i = 0, end = body_length(p, n); i < end; ++i) {
    char c = p[i];
    if (c == '9' || c == '#') ++r.digits;
    if (c == '9' && point) ++r.places;
    if (c == '.') point = true;
  }
  return r;
}

// The places a declared value is brought to: every "9" and "#" after the
// first ".".
constexpr int rescale_places(const char* p, uint64_t n) {
  int places = 0;
  bool point = false;
  for (uint64_t i = 0, end = body_length(p, n); i < end; ++i) {
    char c = p[i];
    if (point && (c == '9' || c == '#')) ++places;
    if (c == '.') point = true;
  }
  return places;
}

}  // namespace qw::picture
