// The include files of the macro package a program is made of, in the
// order a program names them.  The translator finds the places it writes
// its generated lines by them; quill checks that a program names every
// part a program must have.
#pragma once

#include <string_view>

namespace program_parts {

constexpr std::string_view kDictionary = "BEGIN.DICTIONARY";
constexpr std::string_view kMatrix = "BEGIN.MATRIX";
constexpr std::string_view kInstructions = "BEGIN.INSTRUCTIONS";
constexpr std::string_view kEnd = "END.PROGRAM";

// The parts without which no program is built (the matrix part may be
// left out).
constexpr std::string_view kRequired[] = {kDictionary, kInstructions, kEnd};

}  // namespace program_parts
