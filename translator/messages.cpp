// The message table.  The texts are the translator's own and never change:
// users and tools match them.
#include "messages.h"

#include <iterator>

#include "files.h"

#include "text.h"

namespace {

// What follows the text: nothing, a source line, a macro number, a name;
// or, for a refusal, values that take the places of its "{}".
enum class Detail : unsigned char { kNone, kLine, kMacro, kName, kRefusal };

struct MessageRule {
  Msg kind;
  int number;
  int status;
  Detail detail;
  std::string_view text;
  std::string_view after = {};
};

constexpr MessageRule kMessages[] = {
    {Msg::kNoFileName, 1, 1, Detail::kNone, "Quillwright reWriter requires a file name"},
    {Msg::kNameTooLong, 2, 2, Detail::kNone, "File name is too long"},
    {Msg::kNoSource, 3, 3, Detail::kNone, "[reWriter]:Input File does not exist"},
    {Msg::kNoSynonymsFile, 4, 4, Detail::kNone, "Include Synonyms file not found"},
    {Msg::kNoPicture, 4, 4, Detail::kLine, "Line No=", " Fixed Point number must provide a picture"},
    {Msg::kNoDefaultPicture, 4, 4, Detail::kLine, "Line No=",
     " FP_DEFAULTPICTURE must provide a quoted picture"},
    {Msg::kBracketsUnbalanced, 6, 5, Detail::kLine, "Square brackets are not balanced on line no="},
    {Msg::kBracketsTooDeep, 6, 5, Detail::kLine,
     "Square brackets are nested more than 32 deep on line no="},
    {Msg::kStatementTooLong, 7, 6, Detail::kLine, "Statement is too long to rewrite on line no="},
    {Msg::kStatementPastColumn249, 7, 6, Detail::kLine,
     "Statement runs past column 249 on line no="},
    {Msg::kMacroLineTooLong, 7, 6, Detail::kMacro, "Macro line is too long to rewrite in m"},
    {Msg::kTemporariesFull, 8, 7, Detail::kNone, "D_X1_NextNewDataSlot:New Data Table Overflow"},
    {Msg::kTooManyMacros, 9, 8, Detail::kLine, "More than 999 generated macros on line no="},
    {Msg::kMacroLinesFull, 9, 8, Detail::kNone, "X10_NextTextSlot:MacroRecord Table Overflow"},
    {Msg::kDataNamesFull, 10, 9, Detail::kNone, "X3_PutXtable:DataNameRecord Table Overflow"},
    {Msg::kSynonymsFull, 10, 10, Detail::kNone, "X4_PutXtable:SynonymRecord Table Overflow"},
    {Msg::kProgramTableFull, 10, 19, Detail::kNone,
     "B1_LoadProgramTable:ProgramRecord Table Overflow"},
    {Msg::kSubsUnbalanced, 11, 11, Detail::kNone, "Begin/End Subs are not balanced"},
    {Msg::kRepeatsUnbalanced, 12, 12, Detail::kNone, "Begin/End Repeats are not balanced"},
    {Msg::kIfsUnbalanced, 13, 13, Detail::kNone, "Begin/End Ifs are not balanced"},
    {Msg::kDotCommandsUnbalanced, 14, 14, Detail::kNone, "Begin/End dot commands are not balanced"},
    {Msg::kTestsUnbalanced, 15, 15, Detail::kNone, "Begin/End Tests are not balanced"},
    {Msg::kWhensUnbalanced, 16, 16, Detail::kNone, "@when/@wends are not balanced"},
    {Msg::kBracesUnbalanced, 17, 17, Detail::kNone, "Braces are not balanced"},
    {Msg::kSquareBracketsUnbalanced, 18, 18, Detail::kNone, "Square Brackets are not balanced"},
    {Msg::kFirstUnmatchedOpener, 0, 0, Detail::kLine, "First unmatched opener on line no="},
    {Msg::kFirstUnmatchedCloser, 0, 0, Detail::kLine, "First unmatched closer on line no="},
    {Msg::kPictureDigits, 50, 50, Detail::kLine, "Picture contains more than 19 digits="},
    {Msg::kPicturePlaces, 50, 50, Detail::kLine, "Picture contains more than 18 decimal places="},
    {Msg::kPictureTooLong, 50, 50, Detail::kLine, "Picture is longer than 30 characters="},
    {Msg::kLiteralDigits, 50, 50, Detail::kLine, "Literal contains more than 19 digits="},
    {Msg::kLiteralTooLarge, 50, 50, Detail::kLine, "Literal is larger than 9223372036854775807="},
    {Msg::kValueAtPlaces, 50, 50, Detail::kLine,
     "Value does not fit 64 bits at its picture's decimal places="},
    {Msg::kRoundBrackets, 51, 51, Detail::kLine,
     "Round brackets do not group a calculation, use [ ] on line no="},
    {Msg::kSizeNotWhole, 52, 52, Detail::kLine, "Declared size is not a whole number on line no="},
    {Msg::kWordTooLong, 52, 52, Detail::kLine, "Word is longer than 65535 characters on line no="},
    {Msg::kArrayTooLarge, 52, 52, Detail::kLine, "Array has more than 1000000 elements on line no="},
    {Msg::kTableTooLarge, 52, 52, Detail::kLine, "Table has more than 100000 entries on line no="},
    {Msg::kSynonymTooLong, 0, 0, Detail::kName, "Synonym ignored, longer than 30 characters: "},
    {Msg::kSynonymWithoutOriginal, 0, 0, Detail::kName, "Synonym ignored, no word after ':' for "},
    {Msg::kCannotCreateOutput, 0, 1, Detail::kName, "FILES[error]:- cannot create the output file "},
    {Msg::kCannotWriteOutput, 0, 1, Detail::kName, "FILES[error]:- cannot write the output file "},
    {Msg::kLiteralNotANumber, 0, 0, Detail::kRefusal,
     "the literal {} is not a number: write one decimal point at most, and a minus only in front{}"},
    {Msg::kAddressIsText, 0, 0, Detail::kRefusal, " (an address is a text: '{}')"},
    {Msg::kPlacesWhereWhole, 0, 0, Detail::kRefusal,
     "a number with places stands where only a whole number can: write a whole number"},
    {Msg::kWrongArgumentCount, 0, 0, Detail::kRefusal,
     "wrong number of arguments: {} takes {} but the call passes {}"},
    {Msg::kTakesNoArguments, 0, 0, Detail::kRefusal, "no arguments (it has no @USING line)"},
    {Msg::kTakesOneArgument, 0, 0, Detail::kRefusal, "1 argument"},
    {Msg::kTakesArguments, 0, 0, Detail::kRefusal, "{} arguments"},
    {Msg::kPassesNone, 0, 0, Detail::kRefusal, "none"},
    {Msg::kDeclarationInInstructions, 0, 0, Detail::kRefusal,
     "{} declares an item, which the instruction part cannot: move the declaration before the "
     "line that includes BEGIN.INSTRUCTIONS"},
    {Msg::kQuotationNotClosed, 0, 0, Detail::kRefusal,
     "a quotation is not closed (it opens before {}): end it with the same quotation mark"},
    {Msg::kFunctionGivesNumber, 0, 0, Detail::kRefusal,
     "the function {} gives a number: take it into a number first (n_X = {} ...), then {} = n_X"},
    {Msg::kArrayElementInCalculation, 0, 0, Detail::kRefusal,
     "the array element {} can only be taken alone into a number: write n_X = {} first and "
     "calculate with n_X"},
    {Msg::kArrayElementTakesOneOperand, 0, 0, Detail::kRefusal,
     "an array element takes one name or literal: work {} out first (n_X = {}) and write n_X"},
    {Msg::kArrayElementIntoNumbersOnly, 0, 0, Detail::kRefusal,
     "the array element {} goes into numbers only: write n_X = {} first, then {} = n_X"},
    {Msg::kNotDeclared, 0, 0, Detail::kRefusal,
     "{} is not declared: declare it in the dictionary part before it is given a value"},
};

static_assert(std::size(kMessages) == std::size_t(Msg::kNotDeclared) + 1);

constexpr bool TableInOrder() {
  for (std::size_t k = 0; k < std::size(kMessages); ++k)
    if (kMessages[k].kind != Msg(k)) return false;
  return true;
}
static_assert(TableInOrder(), "kMessages is indexed by Msg");

// A refusal is never printed, so it has neither number nor status; only a
// refusal's text has places for values.
constexpr bool RefusalsApart() {
  for (const MessageRule& m : kMessages) {
    bool places = m.text.find("{}") != std::string_view::npos;
    if (m.detail == Detail::kRefusal ? m.number != 0 || m.status != 0 : places) return false;
  }
  return true;
}
static_assert(RefusalsApart(), "only refusals hold {}, and they have no number or status");

const MessageRule& RuleOf(Msg kind) { return kMessages[std::size_t(kind)]; }

// The balance messages stand four blanks in.
bool Indented(const MessageRule& m) { return m.number >= 11 && m.number <= 18; }

// The text and what follows it.
std::string Body(const MessageRule& m, long value, std::string_view name) {
  std::string body(m.text);
  switch (m.detail) {
    case Detail::kLine: body += qwt::Digits(value, 6); break;
    case Detail::kMacro: body += qwt::Digits(value, 3); break;
    case Detail::kName: body += name; break;
    case Detail::kNone:
    case Detail::kRefusal: break;
  }
  body += m.after;
  return body;
}

}  // namespace

std::string MessageLine(Msg kind, long value, std::string_view name) {
  const MessageRule& m = RuleOf(kind);
  std::string line = Indented(m) ? "    " : "";
  if (m.number > 0) line += qwt::Digits(m.number, 2) + ": ";
  return line + Body(m, value, name);
}

std::string UnmatchedLine(Msg balance, Msg which, long line) {
  return "    " + qwt::Digits(RuleOf(balance).number, 2) + ": " + Body(RuleOf(which), line, {});
}

std::string RefusalText(Msg kind, std::initializer_list<std::string_view> values) {
  std::string_view text = RuleOf(kind).text;
  std::string out;
  const std::string_view* value = values.begin();
  for (std::size_t at = 0;;) {
    std::size_t place = text.find("{}", at);
    if (place == std::string_view::npos || value == values.end()) {
      out += text.substr(at);
      return out;
    }
    out += text.substr(at, place - at);
    out += *value++;
    at = place + 2;
  }
}

int StatusOf(Msg kind) { return RuleOf(kind).status; }

long LineOf(Msg kind, long value) { return RuleOf(kind).detail == Detail::kLine ? value : 0; }

void Fatal(Msg kind, long value) { throw EndRun{kind, value}; }

void Reporter::Print(std::string_view line) {
  std::string out(line);
  out.push_back('\n');
  if (capture) {
    captured += out;
    return;
  }
  WriteAll(1, out.data(), out.size());
}

void Reporter::Report(Msg kind, std::string_view text, long sourceLine) {
  if (capture) kept.push_back({kind, std::string(text), sourceLine});
  if (source.empty() || sourceLine <= 0) return Print(text);
  Print(source + ":" + std::to_string(sourceLine) + ": " + std::string(text));
}
