// The limits of the numbers the translator writes: pictures, and literals
// whose value must fit the signed 64-bit count of units a number holds.
#pragma once

#include <string>
#include <string_view>

#include "text.h"

// Ends the run (message 50) when the picture has more than 19 digit
// positions or more than 18 decimal places.
void CheckPicture(const qwt::Text<30>& picture, long line);

// A numeric literal with its point taken out.
struct Literal {
  std::string text;  // its digits and minus signs
  long digits = 0;   // digits in all
  long places = 0;   // digits after the point
};

// The literal written in columns start..end: digits and minus signs are
// kept, a point only marks where the places begin, anything else is dropped.
Literal StripLiteral(std::string_view text, long start, long end);
// Ends the run (message 50) when the literal has more than 19 digits or its
// value does not fit a signed 64-bit number.
void CheckLiteral(const Literal& literal, long line);
// Ends the run (message 50) when a declared value, brought to its
// picture's places, does not fit a signed 64-bit number.
void CheckValueAtPlaces(const Literal& value, long line);
// Checks every whole-number literal written in columns from..to of text
// (outside quotations): a run of digits that is neither part of a name nor
// of a decimal literal.
void CheckWholeNumbers(std::string_view text, long from, long to, long line);
