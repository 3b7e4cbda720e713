#include "calls.h"

#include <string>

#include "messages.h"
#include "scan.h"

long CountArguments(std::string_view text) {
  long count = 0;
  int depth = 0;
  bool inArgument = false;
  QuoteState q;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    q.step(c);
    if (q.inComment()) break;
    bool outside = q.outside();
    if (outside && (c == '{' || c == '[')) ++depth;
    if (outside && (c == '}' || c == ']') && depth > 0) --depth;
    bool separator = outside && depth == 0 && (qwt::IsBlankOrTab(c) || c == ',');
    // An operator inside an argument or standing alone (a calculation among
    // the arguments) is no count to check: the statement is refused for it.
    bool alone = i + 1 == text.size() || qwt::IsBlankOrTab(text[i + 1]) || text[i + 1] == ',';
    bool op = c == '+' || c == '-' || c == '*' || c == '/';
    if (outside && depth == 0 && op && (inArgument || alone)) return -1;
    if (!separator && !inArgument) ++count;
    inArgument = !separator;
  }
  return count;
}

std::string ArgumentCountMessage(const DataName& callee, long passed) {
  std::string name(callee.name.trimmed());
  long n = callee.parameters;
  std::string takes = n == 0   ? RefusalText(Msg::kTakesNoArguments)
                      : n == 1 ? RefusalText(Msg::kTakesOneArgument)
                               : RefusalText(Msg::kTakesArguments, {std::to_string(n)});
  std::string passes = passed == 0 ? RefusalText(Msg::kPassesNone) : std::to_string(passed);
  return RefusalText(Msg::kWrongArgumentCount, {name, takes, passes});
}

bool RefuseArgumentCount(Row& row, const DataNames& names) {
  if (!names.checkArgumentCounts) return false;
  std::string_view statement = row.text.first(row.commandLength);
  Word keyword = FirstWord(statement, 1, row.commandLength, ' ');
  if (!keyword.start || qwt::ToUpper(keyword.in(statement)) != "CALL") return false;
  Word callee = FirstWord(statement, keyword.end() + 1, row.commandLength, ',');
  if (!callee.start) return false;
  const DataName* sub = names.Find(callee.in(statement));
  if (!sub || (sub->type != 's' && sub->type != 'f')) return false;
  long passed = CountArguments(statement.substr(std::size_t(callee.end())));
  if (passed < 0 || passed == sub->parameters) return false;
  RefuseStatement(row, ArgumentCountMessage(*sub, passed));
  return true;
}
