// Second pass: statement rewrites, literals, element macros, temporaries
// and the structure counts, checked on whole programs translated in memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pass2.h"
#include "translator.h"

namespace {

struct Result {
  std::unique_ptr<Translator> t = std::make_unique<Translator>();
  int status = 0;

  // Statement part of program row n.
  std::string row(long n) const {
    const ProgramRecord r = t->row(n);
    return std::string(r.PR_Line.first(r.PR_CommandLength));
  }
  char type(long n) const { return t->row(n).PR_Type; }
  std::string macroLine(long n) const {
    return std::string(qwt::TrimRight(t->MacroTable.at(std::size_t(n - 1)).MR_MacroLineItem.view()));
  }
  std::string entry(long n) const {
    return std::string(t->NewDataTable.at(std::size_t(n - 1)).ND_Entry.view());
  }
  // Messages without the nine summary lines.
  std::string messages() const {
    std::string m = t->w_Messages;
    auto p = m.find("] Close SqBrackets\n \n");
    return p == std::string::npos ? m : m.substr(p + 21);
  }
};

// Translates a source held in memory; no file is read or written.
Result Translate(const std::string& source, long firstMacroNo = 0) {
  Result r;
  r.t->p2.n_MacroNo = firstMacroNo;
  r.t->b_UseSourceText = true;
  r.t->w_SourceText = source;
  r.t->b_NoFiles = true;
  r.t->b_CaptureMessages = true;
  r.t->w_CommandLine.assign("input");
  r.status = RunTranslator(*r.t);
  return r;
}

// A program: declarations (rows 2..), then the instruction rows.  Returns
// the source; the first instruction row is row 4 + number of declaration
// lines.
const char* kDictionary = "%include \"include/BEGIN.DICTIONARY\"\n";
const char* kMatrix = "%include \"include/BEGIN.MATRIX\"\n";
const char* kInstructions = "%include \"include/BEGIN.INSTRUCTIONS\"\n";

std::string Program(const std::string& decls, const std::string& body) {
  return std::string(kDictionary) + kMatrix + decls + kInstructions + body;
}

const std::string kDecls =
    " @INSERTNUMBER n_I,0,'9999'\n"         // 3
    " @INSERTNUMBER n_J,0,'9999'\n"         // 4
    " @INSERTNUMBER n_N,0.0,'999.99'\n"     // 5
    " @INSERTWORD w_Name,30,' '\n"          // 6
    " @INSERTWORD w_Other,30,' '\n"         // 7
    " @INSERTARRAY arr,10\n"                // 8
    " @INSERTARRAY arr2,10\n";              // 9
const long kFirst = 11;  // first instruction row with kDecls

// ---------------------------------------------------------------------------

TEST(Pass2Summary, EmptyProgramPrintsZeroCountersAndNoMessage) {
  Result r = Translate(" @DISPLAY 'x'\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.t->w_Messages,
            "  [000000] Begin Subs      [000000] End Subs\n"
            "  [000000] Begin Repeats   [000000] End Repeats\n"
            "  [000000] IF's            [000000] End Ifs\n"
            "  [000000] Dot Commands    [000000] Dot Ends\n"
            "  [000000] Begin Test's    [000000] End Tests\n"
            "  [000000] when's          [000000] Wend's\n"
            "  [000000] Open Braces     [000000] Close Braces\n"
            "  [000000] Open SqBrackets [000000] Close SqBrackets\n"
            " \n");
}

TEST(Pass2Summary, CountsOpenersOnlyAfterAOneCharacterPrefix) {
  Result r = Translate(
      " @BEGIN_SUB one\n"
      " @END_SUB\n"
      "IF at column one\n"          // column 1: no opener
      " @IF n_X = 1\n"              // counted
      " @DISPLAY 'IF @END_IF'\n"    // quoted: nothing
      " %IF x\n"                    // never
      " @END_IF\n"
      " @REPEAT\n"
      " @END_REPEAT\n"
      " @_IF a b\n"                 // dot command and if
      " @_END\n"
      " @END_IF\n"
      " x{ a }\n");
  EXPECT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_NE(r.t->w_Messages.find("  [000001] Begin Subs      [000001] End Subs\n"), std::string::npos);
  EXPECT_NE(r.t->w_Messages.find("  [000002] IF's            [000002] End Ifs\n"), std::string::npos);
  EXPECT_NE(r.t->w_Messages.find("  [000001] Begin Repeats   [000001] End Repeats\n"),
            std::string::npos);
  EXPECT_NE(r.t->w_Messages.find("  [000001] Dot Commands    [000001] Dot Ends\n"), std::string::npos);
  EXPECT_NE(r.t->w_Messages.find("  [000001] Open Braces     [000001] Close Braces\n"),
            std::string::npos);
}

TEST(Pass2Summary, UnbalancedPairsPrintEveryMessageAndEndWithTheLast) {
  Result r = Translate(" @BEGIN_SUB one\n x{\n");
  EXPECT_EQ(r.messages(),
            "    11: Begin/End Subs are not balanced\n"
            "    17: Braces are not balanced\n");
  EXPECT_EQ(r.status, 17);
}

TEST(Pass2Summary, AssemblerBlockAndMacroBlockLinesAreNotCounted) {
  Result r = Translate(
      " BEGIN_ASSEMBLER\n"
      " xIF yIF {\n"
      " END_ASSEMBLER\n"
      " %macro mine 0\n"
      " %endmacro\n");
  EXPECT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.t->p2.b_Macro, 0);
}

// ---------------------------------------------------------------------------

TEST(Pass2Commas, DecisionAndCallOperandsBecomeCommaLists) {
  Result r = Translate(Program(kDecls,
                            " @IF n_I = 5\n"
                            " CALL mySub  n_I   n_J\n"
                            " @IF w_Name = 'a b'\n"
                            " %IF x y\n"
                            " @WHILE n_I < 3\n"));
  EXPECT_EQ(r.row(kFirst), " @IF n_I,=,5");
  EXPECT_EQ(r.row(kFirst + 1), " CALL mySub, n_I,  n_J");
  EXPECT_EQ(r.row(kFirst + 2), " @IF w_Name,=,'a b'");
  EXPECT_EQ(r.row(kFirst + 3), " %IF x y");
  EXPECT_EQ(r.row(kFirst + 4), " @WHILE n_I,<,3");
}

TEST(Pass2Commas, KeywordAfterColumnFortyAndRowsBeforeInstructionsStay) {
  std::string far(40, ' ');
  Result r = Translate(" IF a b\n" + Program(kDecls, far + "IF n_I = 5\n"));
  EXPECT_EQ(r.row(1), " IF a b");
  EXPECT_EQ(r.row(kFirst + 1), far + "IF n_I = 5");
}

// ---------------------------------------------------------------------------

TEST(Pass2Calc, IntegerAndFixedPointCalculations) {
  Result r = Translate(Program(kDecls,
                            "    n_I = n_J + 1\n"
                            " n_I = n_N * 2\n"
                            " n_N = n_I\n"
                            " n_I = w_Name\n"
                            " n_I = 'a'\n"));
  EXPECT_EQ(r.row(kFirst), "    @INTEGERS_CALC n_I,=,n_J,+,1");
  EXPECT_EQ(r.row(kFirst + 1), " @NUMBERS_CALC  n_I,=,n_N,*,2");
  EXPECT_EQ(r.row(kFirst + 2), " @NUMBERS_CALC  n_N,=,n_I");
  EXPECT_EQ(r.row(kFirst + 3), " @NUMBERS_CALC  n_I,=,w_Name");
  EXPECT_EQ(r.row(kFirst + 4), " @NUMBERS_CALC  n_I,=,'a'");
}

TEST(Pass2Calc, CompoundAssignmentsAlwaysUseNumbers) {
  Result r = Translate(Program(kDecls,
                            " n_I =+ 1\n"
                            " n_I =* n_J\n"
                            " n_I =-5\n"   // operand against the operator
                            " n_I =5\n"));  // plain "=" against its source
  EXPECT_EQ(r.row(kFirst), " @NUMBERS_CALC  n_I,=,n_I,+,1");
  EXPECT_EQ(r.row(kFirst + 1), " @NUMBERS_CALC  n_I,=,n_I,*,n_J");
  EXPECT_EQ(r.row(kFirst + 2), " @NUMBERS_CALC  n_I,=,n_I,-,5");
  EXPECT_EQ(r.row(kFirst + 3), " @INTEGERS_CALC n_I,=,5");
}

TEST(Pass2Calc, UndeclaredDestinationStays) {
  Result r = Translate(Program(kDecls, " x = n_I + 1\n"));
  EXPECT_EQ(r.row(kFirst), " x = n_I + 1");
}

// ---------------------------------------------------------------------------

TEST(Pass2Literals, StatementLiteralsGetInlinePictures) {
  Result r = Translate(Program(kDecls,
                            " @DISPLAY 1.5\n"
                            " @DISPLAY -2.25\n"
                            " @DISPLAY .5\n"
                            " @DISPLAY 1234.56\n"
                            " @DISPLAY '1.5'\n"
                            " @DISPLAY n_1.a\n"));
  EXPECT_EQ(r.row(kFirst), " @DISPLAY {15,'9.9'}");
  EXPECT_EQ(r.row(kFirst + 1), " @DISPLAY {-225,'9.99-'}");
  EXPECT_EQ(r.row(kFirst + 2), " @DISPLAY {5,'.9'}");
  EXPECT_EQ(r.row(kFirst + 3), " @DISPLAY {123456,'#,##9.99'}");
  EXPECT_EQ(r.row(kFirst + 4), " @DISPLAY '1.5'");
  EXPECT_EQ(r.row(kFirst + 5), " @DISPLAY n_1.a");
}

TEST(Pass2Literals, BracesAndAngleBracketsProtectLiteralsOutsideDecisions) {
  Result r = Translate(Program(kDecls,
                            " @IF n_N < 1.5\n"
                            " @IF n_N > 1.5\n"
                            " @SHOW {1.5} {2.5}\n"
                            " @IF {n_N 1.5} {2.5}\n"));
  EXPECT_EQ(r.row(kFirst), " @IF n_N,<,1.5");
  EXPECT_EQ(r.row(kFirst + 1), " @IF n_N,>,{15,'9.9'}");
  EXPECT_EQ(r.row(kFirst + 2), " @SHOW {1.5} {2.5}");
  EXPECT_EQ(r.row(kFirst + 3), " @IF {n_N,{15,'9.9'}},{2.5}");
}

TEST(Pass2Literals, LiteralInCalculationMakesItFixedPoint) {
  Result r = Translate(Program(kDecls, " n_I = n_J * 1.5 ; half again.\n"));
  EXPECT_EQ(r.row(kFirst), " @NUMBERS_CALC  n_I,=,n_J,*,{15,'9.9'}");
}

TEST(Pass2Literals, TooManyDigitsEndTheRunWithoutOverrunningTheWorkAreas) {
  Result r = Translate(Program(kDecls, " @DISPLAY 12345678901234567890123456789.5\n"));
  EXPECT_EQ(r.status, 50);
  EXPECT_EQ(r.t->w_Messages, "50: Literal contains more than 19 digits=000011\n");
  Result ok = Translate(Program(kDecls, " @DISPLAY 1.234567890123456789\n"));
  EXPECT_EQ(ok.status, 0) << ok.t->w_Messages;
  Result places = Translate(Program(kDecls, " @DISPLAY .1234567890123456789\n"));
  EXPECT_EQ(places.status, 50);
  EXPECT_EQ(places.t->w_Messages, "50: Picture contains more than 18 decimal places=000011\n");
}

TEST(Pass2Literals, DeclarationValuesAreRescaledToTheirPicture) {
  Result r = Translate(Program(" @INSERTNUMBER n_A,1.5,'99.999'\n"
                            " @INSERTNUMBER n_B,5,'9.99'\n"
                            " @INSERTNUMBER n_C,1.234,'9.99'\n"
                            " @INSERTNUMBER n_D,-1.5,'9.9-'\n",
                            ""));
  EXPECT_EQ(r.row(3), " @INSERTNUMBER n_A,1500,'99.999'");
  EXPECT_EQ(r.row(4), " @INSERTNUMBER n_B,500,'9.99'");
  EXPECT_EQ(r.row(5), " @INSERTNUMBER n_C,123  ,'9.99'");
  EXPECT_EQ(r.row(6), " @INSERTNUMBER n_D,-15 ,'9.9-'");
}

TEST(Pass2Literals, DeclarationWithPointButNoPictureIsMessage04) {
  Result r = Translate(Program(" @INSERTNUMBER n_A,1.5\n", ""));
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.t->w_Messages, "04: Line No=000003 Fixed Point number must provide a picture\n");
}

TEST(Pass2Literals, DefaultPictureDirective) {
  Result r = Translate(Program(kDecls, " FP_DEFAULTPICTURE '9999.99'\n"));
  EXPECT_EQ(r.type(kFirst), 'C');
  EXPECT_EQ(r.t->row(kFirst).PR_Line.trimmed(), ";FP_DEFAULTPICTURE '9999.99'");
  EXPECT_EQ(r.t->w_FP_Picture.trimmed(), "'9999.99'");

  Result none = Translate(Program(kDecls, " FP_DEFAULTPICTURE\n"));
  EXPECT_EQ(none.status, 4);
  EXPECT_EQ(none.t->w_Messages,
            "04: Line No=000011 FP_DEFAULTPICTURE must provide a quoted picture\n");

  Result unclosed = Translate(Program(kDecls, " FP_DEFAULTPICTURE \"9.99\n"));
  EXPECT_EQ(unclosed.status, 4);

  Result longer = Translate(Program(kDecls, " FP_DEFAULTPICTURE '9,999,999,999,999,999.99-------'\n"));
  EXPECT_EQ(longer.status, 50);
  EXPECT_EQ(longer.t->w_Messages, "50: Picture is longer than 30 characters=000011\n");

  Result quoted = Translate(Program(kDecls, " @DISPLAY 'FP_DEFAULTPICTURE '9.9'\n"));
  EXPECT_EQ(quoted.type(kFirst), 'L');
}

// ---------------------------------------------------------------------------

TEST(Pass2Assign, FunctionArrayAndWordAssignments) {
  Result r = Translate(Program(kDecls + " @BEGIN_FUNCTION fSum,'999'\n",
                            " n_I = fSum a  b\n"
                            " n_I = arr{n_J}\n"
                            " arr{n_J} = 5\n"
                            " arr{n_J} = arr2{n_I}\n"
                            " arr{n_J} == arr2{n_I}\n"
                            " arr{n_J} =+ 3\n"
                            " w_Name = 'a  b'\n"
                            " {w_Name 1 2} = w_Other\n"
                            " n_N = arr{n_J}\n"));
  long f = kFirst + 1;
  EXPECT_EQ(qwt::TrimRight(r.row(f)), "\t@FUNCTION n_I,fSum, a  b");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 1)), " @Arrays_Get arr,{n_J},n_I");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 2)), " @Arrays_Put arr,{n_J},5");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 3)), " @Arrays_Eq arr,{n_J},arr2,{n_I}");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 4)), " @Arrays_Swap arr,{n_J},arr2,{n_I}");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 5)), " @Arrays_Add arr,{n_J},3");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 6)), " @words_pad 'a  b',w_Name");
  EXPECT_EQ(qwt::TrimRight(r.row(f + 7)), " @words_copy w_Other,{w_Name 1 2}");
  EXPECT_EQ(r.row(f + 8), " n_N = arr{n_J}");
}

TEST(Pass2Assign, ArraySourceDirectlyAfterEqualsKeepsItsFirstCharacter) {
  Result r = Translate(Program(kDecls, " arr{n_J} =57\n arr =9\n"));
  EXPECT_EQ(qwt::TrimRight(r.row(kFirst)), " @Arrays_Put arr,{n_J},57");
  EXPECT_EQ(qwt::TrimRight(r.row(kFirst + 1)), " @Arrays_Put arr,9");
}

TEST(Pass2Assign, ArrayDecision) {
  Result r = Translate(Program(kDecls, " @IF arr{n_I} = arr2{n_J}\n @IF n_I = 1\n"));
  EXPECT_EQ(r.row(kFirst), " @ARRAYS_IF arr,{n_I},=,arr2,{n_J}");
  EXPECT_EQ(r.row(kFirst + 1), " @IF n_I,=,1");
}

// ---------------------------------------------------------------------------

const std::string kTable =
    " @BEGIN_RECORD r, recA\n"    // 3
    " @INSERTWORD f_Code,4,' '\n"  // 4
    " @INSERTNUMBER f_Qty,0,'999'\n"  // 5
    " @INSERTNUMBER f_Amt,0.0,'9999.99'\n"  // 6
    " @END_RECORD recA\n"         // 7
    " @INSERTNUMBER n_I,0,'9999'\n"  // 8
    " @INSERTNUMBER n_N,0.0,'999.99'\n"  // 9
    " @INSERTWORD w_Name,30,' '\n";  // 10
const long kTableFirst = 13;  // row 11 is BEGIN.INSTRUCTIONS, 12 the bind
const std::string kBind = " @TABLES_BIND tbl, recA\n";

TEST(Pass2Elements, ComparisonFetchesOnlyAndRowCallsTheMacro) {
  Result r = Translate(Program(kTable, kBind + "    @IF f_Qty[n_I] = 5\n @END_IF\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 2u);
  std::string get = r.macroLine(1);
  EXPECT_EQ(get.substr(0, 15), "@TABLES_fget  t");
  EXPECT_EQ(get.substr(45, 6), ",0002,");
  EXPECT_EQ(get.substr(51, 5), "f_Qty");
  EXPECT_EQ(get.substr(83), ",n_I");
  EXPECT_EQ(r.macroLine(2), "@IF f_Qty      = 5");
  EXPECT_EQ(r.type(kTableFirst), 'M');
  EXPECT_EQ(qwt::TrimRight(r.row(kTableFirst)).substr(0, 29), "    m001 ; @IF F_QTY[N_I] = 5");
}

TEST(Pass2Elements, XtableElementsUseTheXtableMacros) {
  Result r = Translate(Program(kTable, " @XTABLES_BIND xt, recA\n @DISPLAY f_Qty[n_I]\n @ACCEPT f_Qty[n_I]\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.macroLine(1).substr(0, 16), "@XTABLES_fget xt");
  EXPECT_EQ(r.macroLine(4).substr(0, 16), "@XTABLES_fput xt");
}

TEST(Pass2Elements, AssignmentToAnElementStoresBackOnce) {
  Result r = Translate(Program(kTable, kBind + " f_Qty[n_I] = f_Qty[n_I] + 1\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 3u);
  // The source element after "=" is the row's second: fetched into a
  // temporary with the field's picture.
  EXPECT_EQ(r.macroLine(1).substr(51, 5), "i0001");
  EXPECT_EQ(r.macroLine(2), "@INTEGERS_CALC f_Qty      = i0001      + 1");
  EXPECT_EQ(r.macroLine(3).substr(0, 13), "@TABLES_fput ");
  EXPECT_EQ(r.macroLine(3).substr(45), ",0002,f_Qty,n_I");
  EXPECT_EQ(r.entry(1), "\t@insertnumber i0001,0,'999'" + std::string(62 - 28, ' '));
}

TEST(Pass2Elements, SubExpressionsNestInnerFirstAndTemporariesAreReused) {
  Result r = Translate(Program(kTable, kBind +
                                        " n_I = [n_I + [n_I * 2]]\n"
                                        " n_I = [n_I - 1]\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 5u);
  EXPECT_EQ(r.macroLine(1), "@INTEGERS_CALC i0001,=,n_I * 2");
  EXPECT_EQ(r.macroLine(2), "@INTEGERS_CALC i0002,=,n_I + i0001");
  EXPECT_EQ(r.macroLine(3), "@INTEGERS_CALC n_I = i0002");
  EXPECT_EQ(r.t->MacroTable[3].MR_MacroNo, 2);
  EXPECT_EQ(r.macroLine(4), "@INTEGERS_CALC i0001,=,n_I - 1");
  EXPECT_EQ(r.t->NewDataTable.size(), 2u);
  EXPECT_EQ(qwt::TrimRight(r.entry(1)), "\t@insertnumber i0001,0");
  EXPECT_EQ(r.type(kTableFirst + 1), 'M');
  EXPECT_EQ(r.row(kTableFirst + 1).substr(0, 8), " m002 ; ");
}

TEST(Pass2Elements, ShortBracketIsWidenedForItsTemporary) {
  Result r = Translate(Program(kTable, kBind + " @DISPLAY [5] w_Name\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.macroLine(2), "@DISPLAY i0001 w_Name");
}

TEST(Pass2Elements, FourCharacterElementIsReplacedWhole) {
  Result r = Translate(Program(" @BEGIN_RECORD r, recB\n @INSERTNUMBER q,0,'99'\n @END_RECORD recB\n",
                            " @TABLES_BIND tb, recB\n @DISPLAY q[1] 'x'\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.macroLine(2), "@DISPLAY q     'x'");
}

TEST(Pass2Elements, WordsRowsChooseByCommas) {
  Result r = Translate(Program(kTable, kBind +
                                        " @WORDS_COPY f_Code[n_I], w_Name\n"
                                        " @WORDS_COPY w_Name, f_Code[n_I]\n"
                                        " @WORDS_FIND w_Name, f_Qty[n_I], 'x'\n"
                                        " @WORDS_SUB w_Name, n_I, f_Code[n_I]\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  // Before the first comma: fetched into a word temporary of the field's
  // length.
  EXPECT_EQ(r.macroLine(1).substr(51, 5), "a0001");
  EXPECT_EQ(r.macroLine(2), "@WORDS_COPY a0001      , w_Name");
  EXPECT_EQ(r.entry(1).substr(0, 31), "\t@insertword   a0001,     4,' '");
  // After the only comma: stored back from the field.
  EXPECT_EQ(r.macroLine(3), "@WORDS_COPY w_Name, f_Code");
  EXPECT_EQ(r.macroLine(4).substr(45), ",0001,f_Code,n_I");
  // Between two commas of a find: stored back.
  EXPECT_EQ(r.macroLine(6).substr(0, 13), "@TABLES_fput ");
  // After the last of two commas: fetched and stored back, no endless choice.
  EXPECT_EQ(r.macroLine(7).substr(51, 6), "f_Code");
  EXPECT_EQ(r.macroLine(8), "@WORDS_SUB w_Name, n_I, f_Code");
  EXPECT_EQ(r.macroLine(9).substr(0, 13), "@TABLES_fput ");
}

TEST(Pass2Elements, ElementAfterTheLastCommaOfAFindDoesNotShareTheFieldsItem) {
  // The element between the commas of a find is stored back from the
  // field's own item; a second element of the same field after the last
  // comma must not stand in that item too.
  Result r = Translate(Program(kTable, kBind + " @WORDS_FIND w_Name, f_Code[1], f_Code[2]\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 4u);
  EXPECT_EQ(r.macroLine(1).substr(0, 13), "@TABLES_fget ");
  // Target in columns 52-81, the index after the comma in column 84.
  EXPECT_EQ(r.macroLine(1).substr(45), ",0001,a0001" + std::string(27, ' ') + ",2");
  EXPECT_EQ(r.macroLine(2), "@WORDS_FIND w_Name, f_Code   , a0001");
  EXPECT_EQ(r.macroLine(3).substr(45), ",0001,f_Code,1");
  EXPECT_EQ(r.macroLine(4).substr(45), ",0001,a0001,2");
}

TEST(Pass2Elements, ElementInsideSubExpressionBeforeACommentBalances) {
  // Choosing get or put reads the whole row, comment included; the bracket
  // scan keeps its own quote state.
  Result r = Translate(Program(kTable, kBind + " n_I = [3 / f_Qty[1]] ; total [x] 1.5\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  // The element's integer kind carries over to the sub-expression.
  EXPECT_EQ(r.macroLine(2), "@INTEGERS_CALC i0001,=,3 / f_Qty");
  EXPECT_EQ(r.macroLine(3), "@NUMBERS_CALC  n_I = i0001");
}

TEST(Pass2Elements, CompoundAssignmentToAnElementFetchesItFirst) {
  Result r = Translate(Program(kTable, kBind + " f_Qty[n_I] =+ 1\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 3u);
  EXPECT_EQ(r.macroLine(1).substr(0, 13), "@TABLES_fget ");
  EXPECT_EQ(r.macroLine(1).substr(51, 5), "f_Qty");
  EXPECT_EQ(r.macroLine(2), "@NUMBERS_CALC  f_Qty,=,f_Qty,+,1");
  EXPECT_EQ(r.macroLine(3).substr(45), ",0002,f_Qty,n_I");
}

TEST(Pass2Elements, EveryStoredElementKeepsItsStoreBackLine) {
  Result r = Translate(Program(kTable, kBind + " @ACCEPT f_Qty[n_I] f_Code[n_I]\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 3u);
  EXPECT_EQ(r.macroLine(1), "@ACCEPT f_Qty      f_Code");
  EXPECT_EQ(r.macroLine(2).substr(45), ",0002,f_Qty,n_I");
  EXPECT_EQ(r.macroLine(3).substr(45), ",0001,f_Code,n_I");
  EXPECT_TRUE(r.t->NewDataTable.empty());
}

TEST(Pass2Elements, StatementLineStartsAtTheRewrittenStatementAndKeepsQuotedSemicolons) {
  Result r = Translate(Program(kTable + " @BEGIN_FUNCTION fSum,'99'\n",
                               kBind + "    n_I = fSum f_Qty[n_I] 2\n @DISPLAY f_Code[n_I] 'a;b' ; note\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.macroLine(2), "@FUNCTION n_I,fSum, f_Qty      2");
  EXPECT_EQ(r.macroLine(4), "@DISPLAY f_Code      'a;b'");
}

TEST(Pass2Elements, MacroFlagLeftByTheFirstPassDoesNotDisableMacros) {
  // The first pass marks its last statement line as holding a "[".
  Result r = Translate(Program(kTable, kBind + " n_I = [n_I + 1]\n @DISPLAY 'a[1]'\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.type(kTableFirst), 'M');
}

TEST(Pass2Elements, StrayClosingBracketIsReported) {
  Result r = Translate(Program(kTable, kBind + " @DISPLAY a] b[1]\n"));
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.t->w_Messages, "06: Square brackets are not balanced on line no=000013\n");
}

TEST(Pass2Elements, ElementOfAStatementOfUnknownDirectionIsFetchedAndStoredBack) {
  Result r = Translate(Program(kTable, kBind + " CALL sub f_Qty[n_I]\n"));
  ASSERT_EQ(r.status, 0) << r.t->w_Messages;
  ASSERT_EQ(r.t->MacroTable.size(), 3u);
  EXPECT_EQ(r.macroLine(1).substr(0, 13), "@TABLES_fget ");
  EXPECT_EQ(r.macroLine(2), "CALL sub f_Qty");
  EXPECT_EQ(r.macroLine(3).substr(45), ",0002,f_Qty,n_I");

  // Two elements of one field: the second works in a temporary.
  Result two = Translate(Program(kTable, kBind + " CALL sub f_Qty[1] f_Qty[2]\n"));
  ASSERT_EQ(two.status, 0) << two.t->w_Messages;
  ASSERT_EQ(two.t->MacroTable.size(), 5u);
  EXPECT_EQ(two.macroLine(2).substr(51, 5), "i0001");
  EXPECT_EQ(two.macroLine(3), "CALL sub f_Qty    i0001");
  EXPECT_EQ(two.macroLine(4).substr(45), ",0002,f_Qty,1");
  EXPECT_EQ(two.macroLine(5).substr(45), ",0002,i0001,2");
}

TEST(Pass2Elements, MoreThan999MacrosIsReported) {
  Result r = Translate(Program(kTable, kBind + " n_I = [n_I + 1]\n n_I = [n_I + 2]\n"), 998);
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.t->w_Messages, "09: More than 999 generated macros on line no=000014\n");
  ASSERT_EQ(r.t->MacroTable.size(), 2u);
  EXPECT_EQ(r.t->MacroTable[0].MR_MacroNo, 999);
}

TEST(Pass2Rows, RewriteBeyondTheLineIsReportedNotCut) {
  std::string calc = " n_I = n_I";
  while (calc.size() < 240) calc += " + 1";
  Result r = Translate(Program(kTable, calc + "\n"));
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.t->w_Messages, "07: Statement is too long to rewrite on line no=000012\n");
}

TEST(Pass2Elements, UnbalancedAndTooDeepBracketsEndTheRun) {
  Result r = Translate(Program(kTable, kBind + " n_I = [n_I + 1\n"));
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.t->w_Messages, "06: Square brackets are not balanced on line no=000013\n");
  std::string deep = " n_I = " + std::string(33, '[') + "1+1" + std::string(33, ']') + "\n";
  Result d = Translate(Program(kTable, kBind + deep));
  EXPECT_EQ(d.status, 5);
  EXPECT_EQ(d.t->w_Messages, "06: Square brackets are nested more than 32 deep on line no=000013\n");
}

TEST(Pass2Elements, NoMacroOutsideInstructionsOrInsideMacroBlocks) {
  Result r = Translate(" x = a[1] + 1\n" +
                    Program(kTable, kBind +
                                        " %macro mine 0\n"
                                        " mov rax, [rbx]\n"
                                        " %endmacro\n"
                                        " SECTION .data [x]\n"
                                        " n_I = [n_I + 1]\n"));
  EXPECT_EQ(r.status, 0) << r.t->w_Messages;
  EXPECT_EQ(r.row(1), " x = a[1] + 1");
  EXPECT_EQ(r.row(kTableFirst + 2), " mov rax, [rbx]");
  EXPECT_EQ(r.type(kTableFirst + 5), 'M');
  EXPECT_EQ(r.t->p2.n_MacroNo, 1);
}

// ---------------------------------------------------------------------------

TEST(Pass2Temporaries, SerialNumbersAreSharedByAllKindsAndReleasedPerRow) {
  Translator t;
  t.w_DataType = 'I';
  t.b_TableElement = 0;
  X8_NewData(t);
  EXPECT_EQ(t.ND.ND_Entry.sub(16, 5), "i0001");
  t.w_DataType = 'N';
  X8_NewData(t);
  EXPECT_EQ(t.ND.ND_Entry.sub(16, 5), "n0002");
  EXPECT_EQ(qwt::TrimRight(t.ND.ND_Entry.view()), "\t@insertnumber n0002,0,'999999999999999.9999'");
  t.w_DataType = 'W';
  t.DN.DN_Length = 30;
  X8_NewData(t);
  EXPECT_EQ(qwt::TrimRight(t.ND.ND_Entry.view()), "\t@insertword   a0003,    30,' '");
  // Released rows are reused only by a request of the same kind and size.
  for (auto& r : t.NewDataTable) r.ND_ReUsable = ' ';
  t.DN.DN_Length = 12;
  X8_NewData(t);
  EXPECT_EQ(t.ND.ND_Entry.sub(16, 5), "a0004");
  t.DN.DN_Length = 30;
  X8_NewData(t);
  EXPECT_EQ(t.ND.ND_Entry.sub(16, 5), "a0003");
  X8_NewData(t);
  EXPECT_EQ(t.ND.ND_Entry.sub(16, 5), "a0005");
  EXPECT_EQ(t.p2.n_HighestNDNo, 5);
}

TEST(Pass2Temporaries, TableOverflowsEndTheRun) {
  Translator t;
  t.b_CaptureMessages = true;
  t.w_DataType = 'I';
  for (int i = 0; i < 512; ++i) X8_NewData(t);
  EXPECT_THROW(X8_NewData(t), EndRun);
  EXPECT_EQ(t.ERROR_CODE, 7);
  EXPECT_EQ(t.w_Messages, "08: D_X1_NextNewDataSlot:New Data Table Overflow\n");

  Translator m;
  m.b_CaptureMessages = true;
  for (int i = 0; i < 1024; ++i) X10_NextTextSlot(m);
  EXPECT_THROW(X10_NextTextSlot(m), EndRun);
  EXPECT_EQ(m.ERROR_CODE, 8);
  EXPECT_EQ(m.w_Messages, "09: X10_NextTextSlot:MacroRecord Table Overflow\n");
}

TEST(Pass2Commas, MacroLineFromThirdPass) {
  Translator t;
  t.p2.b_Procedures = 1;
  t.PR.PR_Line.assign("@INTEGERS_CALC i0001,=,n_I * 2");
  t.PR.PR_CommandLength = 30;
  C26_addCommas(t);
  EXPECT_EQ(t.PR.PR_Line.trimmed(), "@INTEGERS_CALC i0001,=,n_I,*,2");
}

}  // namespace
