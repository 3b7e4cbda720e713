#include "literal_limits.h"

#include "messages.h"
#include "../runtime/picture.h"
#include "scan.h"

using qwt::IsDigit;

namespace {

// The literal's text is held in 26 columns; a value holds 19 digits.
constexpr std::size_t kLiteralWidth = 26;
constexpr long kMaxDigits = 19;
constexpr std::string_view kLargest = "9223372036854775807";

// True when the digits of `text` (signs ignored) make a value above the
// largest signed 64-bit number.
bool TooLarge(std::string_view text) {
  std::string digits;
  for (char c : text)
    if (IsDigit(c) && !(digits.empty() && c == '0')) digits.push_back(c);
  if (digits.size() != kLargest.size()) return digits.size() > kLargest.size();
  return digits > kLargest;
}

// Characters that continue a name or a number next to a run of digits.
bool JoinsDigits(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_' ||
         c == '.' || c == '$' || c == '#' || c == '@' || c == '?' || c == '~';
}

}  // namespace

void CheckPicture(const qwt::Text<30>& picture, long line) {
  // The picture as written, without its closing quote.
  long last = 30;
  while (last > 0 && picture(last) == ' ') --last;
  if (last > 0 && (picture(last) == '\'' || picture(last) == '"')) --last;
  auto positions = qw::picture::checked_positions(picture.data(), std::uint64_t(last));
  if (positions.digits > qw::picture::kMaxDigits) Fatal(Msg::kPictureDigits, line);
  if (positions.places > qw::picture::kMaxPlaces) Fatal(Msg::kPicturePlaces, line);
}

Literal StripLiteral(std::string_view text, long start, long end) {
  Literal lit;
  bool point = false;
  for (long i = start; i <= end; ++i) {
    char c = At(text, i);
    if (c == '-') {
      lit.text.push_back('-');
    } else if (c == '.') {
      point = true;
    } else if (IsDigit(c)) {
      lit.text.push_back(c);
      ++lit.digits;
      if (point) ++lit.places;
    }
  }
  return lit;
}

void CheckLiteral(const Literal& literal, long line) {
  if (literal.digits > kMaxDigits || literal.text.size() > kLiteralWidth)
    Fatal(Msg::kLiteralDigits, line);
  if (TooLarge(literal.text)) Fatal(Msg::kLiteralTooLarge, line);
}

void CheckValueAtPlaces(const Literal& value, long line) {
  if (value.digits > kMaxDigits || value.text.size() > kLiteralWidth || TooLarge(value.text))
    Fatal(Msg::kValueAtPlaces, line);
}

void CheckWholeNumbers(std::string_view text, long from, long to, long line) {
  RowParts parts(text.substr(0, std::size_t(std::clamp<long>(to, 0, long(text.size())))));
  for (long i = std::max<long>(from, 1); i <= to; ++i) {
    if (!IsDigit(At(text, i)) || !parts.outside(i) || JoinsDigits(At(text, i - 1))) continue;
    long end = i;
    while (IsDigit(At(text, end + 1))) ++end;
    if (!JoinsDigits(At(text, end + 1))) CheckLiteral(StripLiteral(text, i, end), line);
    i = end;
  }
}
