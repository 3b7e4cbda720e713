// The translator's messages: one table of every message with its number,
// the exit status that goes with it and its text, and the one way a fatal
// message ends a run.  The table also holds the refusals a rewrite writes
// into NAME.ASM as an %error line for the assembler to report at the
// statement's line (RefusalText): they have no number and no status.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

enum class Msg : unsigned char {
  kNoFileName,
  kNameTooLong,
  kNoSource,
  kNoSynonymsFile,
  kNoPicture,
  kNoDefaultPicture,
  kBracketsUnbalanced,
  kBracketsTooDeep,
  kStatementTooLong,
  kStatementPastColumn249,
  kMacroLineTooLong,
  kTemporariesFull,
  kTooManyMacros,
  kMacroLinesFull,
  kDataNamesFull,
  kSynonymsFull,
  kProgramTableFull,
  kSubsUnbalanced,
  kRepeatsUnbalanced,
  kIfsUnbalanced,
  kDotCommandsUnbalanced,
  kTestsUnbalanced,
  kWhensUnbalanced,
  kBracesUnbalanced,
  kSquareBracketsUnbalanced,
  kFirstUnmatchedOpener,
  kFirstUnmatchedCloser,
  kPictureDigits,
  kPicturePlaces,
  kPictureTooLong,
  kLiteralDigits,
  kLiteralTooLarge,
  kValueAtPlaces,
  kRoundBrackets,
  kSizeNotWhole,
  kWordTooLong,
  kArrayTooLarge,
  kTableTooLarge,
  kSynonymTooLong,
  kSynonymWithoutOriginal,
  kCannotCreateOutput,
  kCannotWriteOutput,
  // Refusals, and the phrases some of them are built from.
  kLiteralNotANumber,
  kAddressIsText,
  kPlacesWhereWhole,
  kWrongArgumentCount,
  kTakesNoArguments,
  kTakesOneArgument,
  kTakesArguments,
  kPassesNone,
  kDeclarationInInstructions,
  kQuotationNotClosed,
  kFunctionGivesNumber,
  kArrayElementInCalculation,
  kArrayElementTakesOneOperand,
  kArrayElementIntoNumbersOnly,
  kNotDeclared,
};

// The message's line as printed.  `value` is the source line for messages
// that name one (six digits) and the macro number for the macro-line message
// (three digits); `name` completes the messages that end in a name.
std::string MessageLine(Msg kind, long value = 0, std::string_view name = {});
// The line that follows a balance message in positions mode: where the
// first unmatched opener or closer (`which`) of that pair stands.
std::string UnmatchedLine(Msg balance, Msg which, long line);
// A refusal's text (or one of its phrases), each "{}" of it replaced by the
// next of `values`.
std::string RefusalText(Msg kind, std::initializer_list<std::string_view> values = {});
// The exit status that goes with the message.
int StatusOf(Msg kind);
// The source line a message names through `value` (0 when it names none).
long LineOf(Msg kind, long value);

// Where messages go: standard output, one write per line, or a string
// when captured (tests, fuzzing).  In positions mode a message that names
// a source line is printed after "NAME.QWR:LINE: ", so that tools take the
// place from there and pass the message on as it stands.
class Reporter {
 public:
  bool capture = false;
  std::string captured;
  std::string source;  // positions mode: the NAME.QWR messages are placed in
  // The messages among the captured lines, each with the source line it
  // names (0: none), for tools that show them against the source.
  struct Kept {
    Msg kind;
    std::string text;
    long line;
  };
  std::vector<Kept> kept;
  void Print(std::string_view line);
  // Prints a message (not a summary line), placed at `sourceLine` in
  // positions mode, and keeps it (without the place) when captured.
  void Report(Msg kind, std::string_view text, long sourceLine = 0);
};

// Thrown by Fatal; only the driver catches it.
struct EndRun {
  Msg kind;
  long value;
};

// Ends the run with the message: the driver prints it, makes its status
// the exit status, and writes no NAME.ASM.
[[noreturn]] void Fatal(Msg kind, long value = 0);
