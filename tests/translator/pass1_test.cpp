// First-pass routines: quote and brace state, token scanner, picture limits,
// line loading and classification, declarations and binds.
#include <gtest/gtest.h>

#include <memory>

#include "translator.h"

namespace {

std::unique_ptr<Translator> Fresh() {
  auto t = std::make_unique<Translator>();
  t->b_CaptureMessages = true;
  t->b_NoFiles = true;
  t->b_UseSourceText = true;
  return t;
}

// Loads a source through the first pass only.
std::unique_ptr<Translator> FirstPass(const std::string& src) {
  auto t = Fresh();
  t->w_SourceText = src;
  B_1stPass(*t);
  return t;
}

void SetLine(Translator& t, std::string_view text) {
  t.PR.PR_Line.assign(text);
  t.PR.PR_LineLength = t.PR.PR_Line.lastNonBlank();
  t.PR.PR_CommandLength = t.PR.PR_LineLength;
  t.RefreshUBuffer();
}

std::string QuoteStates(Translator& t, std::string_view text) {
  SetLine(t, text);
  t.w_Quote = ' ';
  std::string states;
  for (long i = 1; i <= long(text.size()); ++i) {
    t.X1_Idx = i;
    X1_CheckQuotes(t);
    states.push_back(t.w_Quote);
  }
  return states;
}

const DataNameRecord* Find(Translator& t, std::string_view name) {
  t.w_Temp30.assign(name);
  X5_SearchByName(t);
  return t.DataNameTable_STATUS == 0 ? &t.DataNameTable[std::size_t(t.X5_Idx - 1)] : nullptr;
}

TEST(QuoteState, OtherQuoteInsideIsOrdinaryAndCommentEndsQuoting) {
  auto t = Fresh();
  // a ' opens, " inside is ordinary, ' closes; ; starts the comment, after
  // which quotation marks no longer open anything.
  EXPECT_EQ(QuoteStates(*t, "a'\"b' ;'x"), std::string(" '''  ;;;"));
  EXPECT_EQ(QuoteStates(*t, "\";\" x"), std::string("\"\"   "));
}

TEST(BraceState, OpenCloseAndAfterClose) {
  auto t = Fresh();
  SetLine(*t, "{a}b<c>d");
  t->w_Brace = ' ';
  std::string states;
  for (long i = 1; i <= 8; ++i) {
    t->X2_Idx = i;
    X2_CheckBraces(*t);
    states.push_back(t->w_Brace);
  }
  EXPECT_EQ(states, "{{> {{> ");
}

TEST(ExtractText, SkipsLeadingDelimitersAndStopsAtTheNext) {
  auto t = Fresh();
  SetLine(*t, "  ,,abc,de f");
  t->w_Char1 = ',';
  t->n_beginAt = 1;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Start, 5);
  EXPECT_EQ(t->n_Length, 3);
  t->n_beginAt = 8;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Start, 9);
  EXPECT_EQ(t->n_Length, 2);
  // A token open at the end of the range ends there.
  t->PR.PR_CommandLength = 10;
  t->n_beginAt = 9;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Length, 2);
  t->PR.PR_CommandLength = 9;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Length, 1);
}

TEST(ExtractText, OnlyDelimitersAndReversedRanges) {
  auto t = Fresh();
  SetLine(*t, "ab  \t  cd");
  t->w_Char1 = ' ';
  t->PR.PR_CommandLength = 7;
  t->n_beginAt = 3;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Start, 0);
  EXPECT_EQ(t->n_Length, 0);
  // Begin beyond the end: the columns are visited downward.
  t->PR.PR_CommandLength = 1;
  t->n_beginAt = 2;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Start, 2);
  EXPECT_EQ(t->n_Length, 2);
  // Equal: one column is examined.
  t->PR.PR_CommandLength = 8;
  t->n_beginAt = 8;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Start, 8);
  EXPECT_EQ(t->n_Length, 1);
  // Far outside the line: nothing, and no step outside the field.
  t->n_beginAt = 100000;
  t->PR.PR_CommandLength = 100000000;
  X7_ExtractText(*t);
  EXPECT_EQ(t->n_Start, 0);
}

TEST(CheckPicture, LimitsOfDigitsAndPlaces) {
  auto t = Fresh();
  t->n_LineCtr = 7;
  t->DN.DN_Picture.assign("'9.999999999999999999'");  // 19 digits, 18 places
  EXPECT_NO_THROW(X11_CheckPicture(*t));
  t->DN.DN_Picture.assign("'99999999999999999999'");
  EXPECT_THROW(X11_CheckPicture(*t), EndRun);
  EXPECT_EQ(t->w_Messages, "50: Picture contains more than 19 digits=000007\n");
  EXPECT_EQ(t->ERROR_CODE, 50);
  auto u = Fresh();
  u->DN.DN_Picture.assign("'.9999999999999999999'");
  EXPECT_THROW(X11_CheckPicture(*u), EndRun);
  EXPECT_EQ(u->w_Messages, "50: Picture contains more than 18 decimal places=000000\n");
}

TEST(LoadProgramTable, ClassifiesAndMeasuresLines) {
  auto t = FirstPass(
      "WINDOWS here\n"
      "MOVE A TO B ; note\n"
      "; only a comment\n"
      "\t \n"
      "  \"open quote\n"
      "SAY 'a;b' \r\n"
      "%define X 1\n");
  EXPECT_EQ(t->b_Windows, 1);
  ASSERT_EQ(t->ProgramTable_UBOUND(), 6);
  EXPECT_EQ(t->row(1).PR_Type, 'L');
  EXPECT_EQ(t->row(1).PR_CommandLength, 11);
  EXPECT_EQ(t->row(1).PR_LineLength, 18);
  EXPECT_EQ(t->row(2).PR_Type, 'C');
  EXPECT_EQ(t->row(2).PR_CommandLength, 0);
  EXPECT_EQ(t->row(3).PR_Type, 'B');
  EXPECT_EQ(t->row(3).PR_Line.trimmed(), "");
  EXPECT_EQ(t->row(4).PR_Type, ' ');
  EXPECT_EQ(t->row(5).PR_Type, 'L');
  EXPECT_EQ(t->row(5).PR_LineLength, 11);  // the carriage return counts
  EXPECT_EQ(t->row(5).PR_CommandLength, 11);
  EXPECT_EQ(t->row(6).PR_Type, '%');
  EXPECT_EQ(t->row(6).PR_CommandLength, t->row(6).PR_LineLength);
}

TEST(LoadProgramTable, LongLinesAreBoundedTo249) {
  std::string line(300, 'x');
  line[260] = ';';
  auto t = FirstPass(line + "\n" + std::string(249, 'y') + "    \n");
  EXPECT_EQ(t->row(1).PR_LineLength, 249);
  EXPECT_EQ(t->row(1).PR_CommandLength, 249);
  EXPECT_EQ(t->row(2).PR_LineLength, 249);
}

TEST(LoadProgramTable, SplitSegmentsKeepIndentationAndDropDegenerateOnes) {
  auto t = FirstPass("   A | 'x|y' || B |\n|\n  |  | \n");
  ASSERT_EQ(t->ProgramTable_UBOUND(), 3);
  EXPECT_EQ(t->row(1).PR_Line.trimmed(), "   A");
  EXPECT_EQ(t->row(1).PR_CommandLength, 4);
  EXPECT_EQ(t->row(2).PR_Line.trimmed(), "   'x|y'");
  EXPECT_EQ(t->row(3).PR_Line.trimmed(), "   B");
  EXPECT_EQ(t->row(3).PR_LineLength, 4);
}

TEST(LoadProgramTable, MissingSourceIsReportedAndNeverCreated) {
  Translator t;
  t.b_CaptureMessages = true;
  t.in_File = "/nonexistent-dir-for-tests/none.QWR";
  EXPECT_THROW(B1_LoadProgramTable(t), EndRun);
  EXPECT_EQ(t.w_Messages, "03: [reWriter]:Input File does not exist\n");
  EXPECT_EQ(t.ERROR_CODE, 3);
}

TEST(LoadProgramTable, CapacityIsReportedInsteadOfDroppingLines) {
  auto t = Fresh();
  std::string src;
  src.reserve(std::size_t(kProgramTableCapacity + 1) * 2);
  for (long i = 0; i <= kProgramTableCapacity; ++i) src += "x\n";
  t->w_SourceText = src;
  EXPECT_THROW(B1_LoadProgramTable(*t), EndRun);
  EXPECT_EQ(t->ProgramTable_UBOUND(), kProgramTableCapacity);
  EXPECT_EQ(t->ERROR_CODE, 19);
  EXPECT_EQ(t->w_Messages, "10: B1_LoadProgramTable:ProgramRecord Table Overflow\n");
}

TEST(Driver, CommandLineIsKeptToItsFirst256Characters) {
  Translator t;
  std::string longArg(400, 'z');
  const char* argv[] = {"rewriter", "prog", longArg.c_str()};
  SetCommandLine(t, 3, argv);
  EXPECT_EQ(t.w_CommandLine.first(5), "prog ");
  EXPECT_EQ(t.w_CommandLine(256), 'z');
  t.b_CaptureMessages = true;
  A_Initialise(t);
  EXPECT_EQ(t.in_File, "prog.QWR");
  EXPECT_EQ(t.out_File, "prog.ASM");
  EXPECT_EQ(t.b_Debug, 0);
}

TEST(Driver, FatalMessageEndsTheRunWithoutOutput) {
  auto t = Fresh();
  t->w_CommandLine.assign("-D x");
  t->w_SourceText = "    @INSERTNUMBER n_A,1,'99999999999999999999'\n";
  EXPECT_EQ(RunTranslator(*t), 50);
  EXPECT_EQ(t->b_Debug, 1);
  EXPECT_FALSE(t->b_OutputComplete);
  EXPECT_EQ(t->w_Messages, "50: Picture contains more than 19 digits=000001\n");
}

TEST(Declarations, RecordFieldsNumbersFilesAndXtables) {
  auto t = FirstPass(
      "@BEGIN_RECORD 1, rCust\n"
      "  @INSERTWORD w_Name, 30, ' '\n"
      "  @INSERTWORD w_Town,20,' '\n"
      "  @INSERTNUMBER n_Bal, 0, '#,##9.99'\n"
      "@END_RECORD rCust\n"
      "@INSERTNUMBER n_Count, 0\n"
      "@INSERTNUMBER n_Flag, 0 ; a. comment\n"
      "@INSERTFILE 1, in_File, 'x'\n"
      "@INSERTXTABLE xCust, 100\n"
      "@INSERTARRAY a_List, 10\n");
  // Three system names come first.
  EXPECT_EQ(t->DataNameTable[0].DN_Name.trimmed(), "RETURN_CODE");
  EXPECT_EQ(t->DataNameTable[0].DN_Length, 11);
  const DataNameRecord* r = Find(*t, "w_Town");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->DN_Type, 'W');
  EXPECT_EQ(r->DN_No, 2);
  EXPECT_EQ(r->DN_Length, 20);
  EXPECT_EQ(r->DN_Record.trimmed(), "rCust");
  r = Find(*t, "n_Bal");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->DN_Type, 'N');
  EXPECT_EQ(r->DN_No, 3);
  EXPECT_EQ(r->DN_Picture.trimmed(), "'#,##9.99'");
  r = Find(*t, "rCust_NO");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->DN_Type, 'I');
  EXPECT_EQ(r->DN_Record.trimmed(), "");
  r = Find(*t, "n_Count");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->DN_Type, 'I');
  EXPECT_EQ(r->DN_No, 0);
  EXPECT_EQ(r->DN_Picture.trimmed(), "'999999'");
  EXPECT_EQ(Find(*t, "n_Flag")->DN_Type, 'N');  // a point anywhere, even in the comment
  r = Find(*t, "in_File");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->DN_Type, 'W');
  EXPECT_EQ(r->DN_Length, 255);
  ASSERT_TRUE(Find(*t, "IN_FILE_HANDLE"));
  EXPECT_EQ(t->DN.DN_Type, 'I');
  ASSERT_TRUE(Find(*t, "xCust_UBOUND"));
  EXPECT_EQ(Find(*t, "a_List")->DN_Type, 'A');
  EXPECT_EQ(Find(*t, "W_TOWN"), nullptr);  // letter case matters
}

TEST(Declarations, BindsMarkTheFieldsDeclaredSoFar) {
  auto t = FirstPass(
      "@BEGIN_RECORD 1, rA\n  @INSERTWORD w_A1,5,' '\n@END_RECORD rA\n"
      "@BEGIN_RECORD 1, rB\n  @INSERTWORD w_B1,5,' '\n@END_RECORD rB\n"
      "  @XTABLES_BIND xTab, rA\n"
      "  @TABLES_BIND tTab, rB\n");
  const DataNameRecord* a = Find(*t, "w_A1");
  EXPECT_EQ(a->DN_TableType, 'X');
  EXPECT_EQ(a->DN_Table.trimmed(), "xTab");
  const DataNameRecord* b = Find(*t, "w_B1");
  EXPECT_EQ(b->DN_TableType, ' ');
  EXPECT_EQ(b->DN_Table.trimmed(), "tTab");
  // Lookup by record walks the record's fields in row order.
  t->w_SaveRecordName.assign("rB");
  t->X6_Idx = 0;
  X6_SearchByRecord(*t);
  ASSERT_EQ(t->DataNameTable_STATUS, 0);
  EXPECT_EQ(t->DN.DN_Name.trimmed(), "w_B1");
  X6_SearchByRecord(*t);
  EXPECT_NE(t->DataNameTable_STATUS, 0);
}

TEST(Declarations, FunctionsSubsAndParameters) {
  auto t = FirstPass(
      "@BEGIN_FUNCTION fSum, '99.99'\n"
      "@BEGIN_FUNCTION fOne\n"
      "@BEGIN_SUB DoWork ; the work\n"
      "@USING {n_P1,'999'} {n_P2,'9.9'}\n");
  const DataNameRecord* f = Find(*t, "fSum");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->DN_Type, 'f');
  const DataNameRecord* d = Find(*t, "dfSum");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->DN_Type, 'N');
  EXPECT_EQ(d->DN_Length, 5);
  EXPECT_EQ(d->DN_Picture.trimmed(), "'99.99'");
  EXPECT_EQ(Find(*t, "dfOne")->DN_Picture.trimmed(), "'9'");
  EXPECT_EQ(Find(*t, "DoWork")->DN_Type, 's');
  EXPECT_EQ(Find(*t, "n_P1")->DN_Type, 'I');
  EXPECT_EQ(Find(*t, "n_P2")->DN_Type, 'N');
}

TEST(Declarations, FirstOfTwoSameNamesWinsAndOverflowEndsTheRun) {
  auto t = FirstPass("@INSERTWORD w_X,5,' '\n@INSERTWORD w_X,9,' '\n");
  EXPECT_EQ(Find(*t, "w_X")->DN_Length, 5);
  std::string src;
  for (int i = 0; i < 1022; ++i) src += "@INSERTWORD w_" + std::to_string(i) + ",5,' '\n";
  auto u = Fresh();
  u->w_SourceText = src;
  EXPECT_THROW(B_1stPass(*u), EndRun);
  EXPECT_EQ(u->ERROR_CODE, 9);
  EXPECT_EQ(u->DataNameRecord_NO, 1024);
}

TEST(Synonyms, ReplacementShrinksAndGrowsTheStatement) {
  auto t = FirstPass(
      "; BEGIN.SYNONYMS\n; MOVEIT : MOVE\n; PUT : DEPOSIT\n; END.SYNONYMS\n"
      "  moveit A TO B\n  X,put 'put' ; put\n");
  EXPECT_EQ(t->row(5).PR_Line.trimmed(), "  MOVE A TO B");
  EXPECT_EQ(t->row(5).PR_CommandLength, 13);
  EXPECT_EQ(t->row(6).PR_Line.first(17), "  X,DEPOSIT 'put'");
  EXPECT_EQ(t->row(6).PR_CommandLength, 17);
  EXPECT_EQ(t->row(6).PR_LineLength, 17);
}

TEST(Synonyms, LongerOriginalThatWouldCutTheStatementEndsTheRun) {
  // Growing to exactly column 249 is fine; one column more would cut the
  // statement's last character, so the run ends with message 07.
  const std::string head = "; BEGIN.SYNONYMS\n; x1 : LONGERNAME\n; END.SYNONYMS\n";
  auto fits = Fresh();
  fits->w_CommandLine.assign("x");
  fits->w_SourceText = head + " x1 " + std::string(237, 'z') + "\n";
  EXPECT_EQ(RunTranslator(*fits), 0) << fits->w_Messages;
  EXPECT_EQ(fits->row(4).PR_CommandLength, 249);
  EXPECT_EQ(fits->row(4).PR_Line(249), 'z');

  auto cut = Fresh();
  cut->w_CommandLine.assign("x");
  cut->w_SourceText = head + " x1 " + std::string(238, 'z') + "\n";
  EXPECT_EQ(RunTranslator(*cut), 6);
  EXPECT_FALSE(cut->b_OutputComplete);
  EXPECT_EQ(cut->w_Messages, "07: Statement is too long to rewrite on line no=000004\n");
}

TEST(Synonyms, UnclosedBlockReplacesNothing) {
  auto t = FirstPass("; BEGIN.SYNONYMS\n; MOVEIT : MOVE\n  moveit A\n; later : comment\n");
  EXPECT_EQ(t->row(3).PR_Line.trimmed(), "  moveit A");
  EXPECT_EQ(t->SynonymTable_UBOUND(), 2);
}

TEST(Directives, AssemblerBlocksAndBrackets) {
  auto t = FirstPass(
      "  @begin_assembler\n  mov (rax), 1\n  ; note\n  @END_ASSEMBLER\n  ADD (A) '(b)'\n"
      "  %DEFINE in code\n");
  EXPECT_EQ(t->row(1).PR_Type, 'L');
  EXPECT_EQ(t->row(2).PR_Type, 'A');
  EXPECT_EQ(t->row(2).PR_Line.trimmed(), "  mov (rax), 1");
  EXPECT_EQ(t->row(3).PR_Type, 'C');
  EXPECT_EQ(t->row(4).PR_Type, 'L');
  EXPECT_EQ(t->row(5).PR_Line.trimmed(), "  ADD  A  '(b)'");
  EXPECT_EQ(t->row(6).PR_Type, '%');
}

}  // namespace
