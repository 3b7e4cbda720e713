#include "sizes.h"

#include <string>
#include <vector>

#include "messages.h"
#include "scan.h"
#include "text.h"

namespace {

// The items of a declaration after its keyword, split at commas outside
// quotations, each without its surrounding blanks (and a carriage return
// that ends the line, which the plain rewrite keeps).
std::vector<std::string_view> Items(std::string_view operands) {
  std::vector<std::string_view> items;
  QuoteState q;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= operands.size(); ++i) {
    if (i < operands.size()) {
      q.step(operands[i]);
      if (operands[i] != ',' || !q.outside()) continue;
    }
    std::string_view item = operands.substr(start, i - start);
    std::size_t b = item.find_first_not_of(" \t\r");
    std::size_t e = item.find_last_not_of(" \t\r");
    items.push_back(b == std::string_view::npos ? std::string_view() : item.substr(b, e - b + 1));
    start = i + 1;
  }
  return items;
}

// A size as written: its value when it is a whole number (braces around it
// allowed; large values saturate), -1 when it is a name or an expression
// for the assembler, or the run ends when it is neither: a text, a decimal,
// a number followed by more ("10 'abcd'" when a comma is missing).
long SizeOf(std::string_view item, long line) {
  if (item.size() >= 2 && item.front() == '{' && item.back() == '}') item = item.substr(1, item.size() - 2);
  if (item.empty()) return -1;
  char c = item[0];
  if (c == '\'' || c == '"') Fatal(Msg::kSizeNotWhole, line);
  std::size_t k = (c == '+' || c == '-') ? 1 : 0;
  if (k == item.size() || !qwt::IsDigit(item[k])) return -1;
  long value = 0;
  for (; k < item.size(); ++k) {
    if (!qwt::IsDigit(item[k])) Fatal(Msg::kSizeNotWhole, line);
    value = std::min<long>(value * 10 + (item[k] - '0'), 1L << 40);
  }
  return c == '-' ? -value : value;
}

}  // namespace

void CheckDeclaredSizes(std::string_view statement, long line) {
  Word keyword = FirstWord(statement, 1, long(statement.size()), ',');
  if (!keyword.start || statement[std::size_t(keyword.start - 1)] != '@') return;
  std::string word = qwt::ToUpper(keyword.in(statement));
  bool isWord = word == "@INSERTWORD", isArray = word == "@INSERTARRAY",
       isTable = word == "@INSERTTABLE";
  if (!isWord && !isArray && !isTable) return;
  std::vector<std::string_view> items = Items(statement.substr(std::size_t(keyword.end())));
  if (isWord && items.size() > 1 && SizeOf(items[1], line) > kLongestWord)
    Fatal(Msg::kWordTooLong, line);
  if (isArray && items.size() > 1 && SizeOf(items[1], line) > kMostArrayElements)
    Fatal(Msg::kArrayTooLarge, line);
  if (isTable) {
    long entries = 1;
    for (std::size_t k = 2; k < items.size(); ++k) {
      long dimension = SizeOf(items[k], line);
      if (dimension > 0) entries *= dimension;
      if (dimension > kMostTableEntries || entries > kMostTableEntries)
        Fatal(Msg::kTableTooLarge, line);
    }
  }
}
