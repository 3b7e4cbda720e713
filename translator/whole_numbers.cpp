#include "whole_numbers.h"

#include <string>
#include <string_view>
#include <vector>

#include "messages.h"
#include "scan.h"

using qwt::IsBlankOrTab;
using qwt::IsDigit;

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '$';
}

std::string_view Trimmed(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A literal with a point: an optional sign, digits and one point.
bool IsDecimalLiteral(std::string_view s) {
  s = Trimmed(s);
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  long digits = 0, points = 0;
  for (char c : s) {
    if (c == '.')
      ++points;
    else if (IsDigit(c))
      ++digits;
    else
      return false;
  }
  return points == 1 && digits > 0;
}

std::vector<std::string_view> Parts(std::string_view s) {
  std::vector<std::string_view> parts;
  for (std::size_t from = 0;;) {
    std::size_t comma = s.find(',', from);
    parts.push_back(Trimmed(s.substr(from, comma == std::string_view::npos ? comma : comma - from)));
    if (comma == std::string_view::npos) return parts;
    from = comma + 1;
  }
}

// The brace group that opens at `open` (0-based) takes only whole numbers
// where it holds a decimal literal: an array index (the name before the
// brace is an array) or a word part's start or length.
bool WholeOnlyGroupHoldsPlaces(std::string_view s, std::size_t open, const DataNames& names) {
  std::size_t close = s.find('}', open);
  if (close == std::string_view::npos) return false;
  std::vector<std::string_view> parts = Parts(s.substr(open + 1, close - open - 1));
  std::size_t nameStart = open;
  while (nameStart > 0 && IsNameChar(s[nameStart - 1])) --nameStart;
  if (nameStart < open) {
    if (names.TypeOf(s.substr(nameStart, open - nameStart)) != 'A') return false;
    for (std::string_view p : parts)
      if (IsDecimalLiteral(p)) return true;
    return false;
  }
  if (names.TypeOf(parts[0]) != 'W') return false;
  for (std::size_t k = 1; k < parts.size(); ++k)
    if (IsDecimalLiteral(parts[k])) return true;
  return false;
}

// "a_X{i} = 2.5", "a_X{i} =+ 2.5": the value an array element receives.
bool ArrayValueHoldsPlaces(std::string_view s, const DataNames& names) {
  std::string_view statement = Trimmed(s);
  std::size_t brace = statement.find('{');
  if (brace == std::string_view::npos || names.TypeOf(statement.substr(0, brace)) != 'A') return false;
  std::size_t eq = statement.find('=', brace);
  if (eq == std::string_view::npos) return false;
  std::string_view source = statement.substr(eq + 1);
  if (!source.empty() && (source[0] == '+' || source[0] == '-' || source[0] == '*' || source[0] == '/'))
    source.remove_prefix(1);
  return IsDecimalLiteral(source);
}

}  // namespace

bool RefusePlacesWhereWhole(Row& row, const DataNames& names) {
  std::string_view s = row.text.first(row.commandLength);
  if (s.find('.') == std::string_view::npos || s.find('{') == std::string_view::npos) return false;
  bool refuse = ArrayValueHoldsPlaces(s, names);
  QuoteState q;
  for (std::size_t i = 0; i < s.size() && !refuse; ++i) {
    q.step(s[i]);
    if (q.outside() && s[i] == '{') refuse = WholeOnlyGroupHoldsPlaces(s, i, names);
  }
  if (refuse) RefuseStatement(row, RefusalText(Msg::kPlacesWhereWhole));
  return refuse;
}
