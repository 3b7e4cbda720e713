// Third-pass routines: line compression, the macros block, temporaries
// blocks, MASM conversions, debug continuation and word-copy guards, and the
// rule that a fatal message leaves no output behind.
#include <gtest/gtest.h>

#include <memory>

#include "translator.h"

namespace {

using qwt::TrimRight;

std::unique_ptr<Translator> Fresh() {
  auto t = std::make_unique<Translator>();
  t->b_CaptureMessages = true;
  t->b_NoFiles = true;
  t->b_UseSourceText = true;
  return t;
}

std::string Compress(std::string_view line) {
  auto t = Fresh();
  t->MR.MR_MacroLineItem.assign(line);
  D43_CompressLine(*t);
  EXPECT_EQ(t->MR.MR_MacroLineItem(1), '\t');
  return std::string(t->MR.MR_MacroLineItem.trimmed());
}

void SetLine(Translator& t, std::string_view text) {
  t.PR.PR_Line.assign(text);
  t.PR.PR_LineLength = t.PR.PR_Line.lastNonBlank();
  t.PR.PR_CommandLength = t.PR.PR_LineLength;
  t.RefreshUBuffer();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return out;
}

TEST(CompressLine, RemovesBlanksBetweenOperandsOutsideStrings) {
  EXPECT_EQ(Compress("@NAME T1, n_Idx"), "\t@NAME T1,n_Idx");
  EXPECT_EQ(Compress("@NAME   a ,\t b"), "\t@NAME a,b");
  EXPECT_EQ(Compress("@W 'a b' , \"c  d\" x"), "\t@W 'a b',\"c  d\"x");
  EXPECT_EQ(Compress("@W a ; keep  these blanks"), "\t@W a; keep  these blanks");
  EXPECT_EQ(Compress("NOBLANKS"), "\tNOBLANKS");
}

TEST(CompressLine, TabShiftsTheLineAndDropsItsLastCharacter) {
  std::string full(124, 'x');
  full[3] = ' ';
  auto t = Fresh();
  t->MR.MR_MacroLineItem.assign(full);
  D43_CompressLine(*t);
  EXPECT_EQ(t->MR.MR_MacroLineItem.view(), "\txxx " + std::string(119, 'x'));
}

MacroRecord Macro(long no, std::string_view text) {
  MacroRecord r;
  r.MR_MacroNo = no;
  r.MR_MacroLineItem.assign(text);
  return r;
}

TEST(WriteMacros, ConsecutiveNumbersFormOneMacro) {
  auto t = Fresh();
  t->MacroTable = {Macro(1, "@TABLES_fget   tCust , 0002"), Macro(1, "@DISPLAY w_A"),
                   Macro(2, "@TABLES_fput tX,0001")};
  t->PR.PR_Line.assign("kept line");
  t->PR.PR_CommandLength = 9;
  D4_WriteMacros(*t);
  auto out = Lines(t->w_Output);
  ASSERT_EQ(out.size(), 13u);
  EXPECT_EQ(out[0], " ");
  EXPECT_EQ(out[1], ";(BEGIN):Macros created by Quillwright");
  EXPECT_EQ(out[2], " ");
  EXPECT_EQ(out[3], "%macro m001 0");
  EXPECT_EQ(out[4].size(), 124u);
  EXPECT_EQ(TrimRight(out[4]), "\t@TABLES_fget tCust,0002");
  EXPECT_EQ(TrimRight(out[5]), "\t@DISPLAY w_A");
  EXPECT_EQ(out[6], "%endmacro");
  EXPECT_EQ(out[7], " ");
  EXPECT_EQ(out[8], "%macro m002 0");
  EXPECT_EQ(out[10], "%endmacro");
  EXPECT_EQ(out[11], ";(END)..:Macros created by Quillwright");
  EXPECT_EQ(out[12], " ");
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "kept line");
  EXPECT_EQ(t->PR.PR_CommandLength, 9);
}

TEST(WriteMacros, EmptyTableAndMasmHeaders) {
  auto t = Fresh();
  D4_WriteMacros(*t);
  EXPECT_EQ(t->w_Output,
            " \n;(BEGIN):Macros created by Quillwright\n;(END)..:Macros created by Quillwright\n \n");
  auto m = Fresh();
  m->b_Windows = 1;
  m->MacroTable = {Macro(7, "@DISPLAY {w_A}")};
  D4_WriteMacros(*m);
  auto out = Lines(m->w_Output);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[3], "m007 MACRO");
  EXPECT_EQ(TrimRight(out[4]), "\t@DISPLAY <<w_A>>");
  EXPECT_EQ(out[5], "ENDM");
}

TEST(WriteNewData, BlocksHoldTheirKindInRowOrder) {
  auto t = Fresh();
  NewDataRecord w, i;
  w.ND_Type = 'W';
  w.ND_Entry.assign("\t@insertword   a0001,    30,' '");
  i.ND_Type = 'I';
  i.ND_Entry.assign("\t@insertnumber i0002,0");
  t->NewDataTable = {w, i};
  for (int j = 1; j <= 3; ++j) {
    t->J = j;
    D3_WriteNewData(*t);
  }
  auto out = Lines(t->w_Output);
  ASSERT_EQ(out.size(), 11u);
  EXPECT_EQ(out[2].size(), 62u);
  EXPECT_EQ(TrimRight(out[2]), "\t@insertword   a0001,    30,' '");
  EXPECT_EQ(out[3], ";(END..):Temporary Words by Quillwright");
  EXPECT_EQ(TrimRight(out[6]), "\t@insertnumber i0002,0");
  EXPECT_EQ(out[9], ";(BEGIN):Temporary FixedPoint numbers by Quillwright");
}

TEST(Masm, CalculationOperandsAreBracketed) {
  auto t = Fresh();
  t->b_Windows = 1;
  D1_MASM_LoadSynonyms(*t);
  SetLine(*t, "\t@NUMBERS_CALC n_X,=,n_Y,+,1");
  D2_MASM(*t);
  // "=" is not turned into _EQ on a calculation line.
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "\t@NUMBERS_CALC n_X,=,<n_Y,+,1>");
  EXPECT_EQ(t->PR.PR_CommandLength, long(t->PR.PR_Line.trimmed().size()));
}

TEST(Masm, QuotedAndCommentTextIsNotConverted) {
  auto t = Fresh();
  t->b_Windows = 1;
  SetLine(*t, "  SAY '{x}' ; {y}");
  t->PR.PR_CommandLength = 11;
  D2_MASM(*t);
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "  SAY '{x}' ; {y}");
}

TEST(Masm, ConstantsGetPercentOnceAndNotOnTheirDefinition) {
  auto t = Fresh();
  t->b_Windows = 1;
  SetLine(*t, "%define LIM 0000000000042");
  D2_MASM(*t);
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "LIM EQU 000000042");
  SetLine(*t, "  mov eax,LIM+%LIM");
  D2_MASM(*t);
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "  mov eax,%LIM+%LIM");
  SetLine(*t, "%define BIG 12345678901");
  D2_MASM(*t);
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "BIG EQU 12345678901");  // never cut to nine digits
}

TEST(Masm, UnterminatedTextDefinitionIsLeftAlone) {
  auto t = Fresh();
  t->b_Windows = 1;
  SetLine(*t, "%define MSG 'open");
  D2_MASM(*t);
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "%define MSG 'open");
}

TEST(DebugMarkers, ContinuationAndConditionLines) {
  auto t = Fresh();
  t->b_Debug = 1;
  auto marks = [&](std::string_view line) {
    t->w_Output.clear();
    SetLine(*t, line);
    D5_LinuxDEBUG(*t);
    return t->w_Output.size() / 257;
  };
  EXPECT_EQ(marks("  A \\"), 1u);
  EXPECT_EQ(marks("  B \\"), 0u);
  EXPECT_EQ(marks("  C"), 0u);
  EXPECT_EQ(marks("  D"), 1u);
  EXPECT_EQ(marks("@_OR X"), 0u);
  EXPECT_EQ(marks("\t(@_AND X"), 0u);
  EXPECT_EQ(marks("X@_ORY"), 1u);
  EXPECT_EQ(marks("  A \\x"), 1u);  // a backslash not followed by a blank continues nothing
  t->b_Debug = 0;
  EXPECT_EQ(marks("  E"), 0u);
}

TEST(WordCopy, BracesAndLongOperandsAreLeftAsCalls) {
  auto t = Fresh();
  t->DN.DN_Type = 'W';
  t->DN.DN_Length = 5;
  t->DN.DN_Name.assign("w_A");
  X3_PutXtable(*t);
  t->DN.DN_Name.assign("w_B");
  X3_PutXtable(*t);
  SetLine(*t, "  @WORDS_COPY {w_A},w_B");
  D6_Compile(*t);
  EXPECT_TRUE(t->w_Output.empty());
  SetLine(*t, "  @WORDS_COPY w_A," + std::string(40, 'q'));
  D6_Compile(*t);
  EXPECT_TRUE(t->w_Output.empty());
  SetLine(*t, "  @WORDS_COPY w_A,w_B");
  D6_Compile(*t);
  EXPECT_EQ(Lines(t->w_Output).size(), 4u);
  EXPECT_EQ(t->PR.PR_Line.trimmed(), "  Call _MOVSTR");
}

TEST(Run, FatalInThirdPassLeavesNoOutput) {
  auto t = Fresh();
  t->w_CommandLine.assign("prog");
  std::string src = "WINDOWS\n; BEGIN.SYNONYMS\n";
  for (int i = 0; i < 718; ++i) src += "; S" + std::to_string(i) + " : T\n";
  src += "; END.SYNONYMS\n  MOVE\n";
  t->w_SourceText = src;
  EXPECT_EQ(RunTranslator(*t), 10);
  EXPECT_FALSE(t->b_OutputComplete);
  auto u = Fresh();
  u->w_CommandLine.assign("prog");
  u->w_SourceText = "  MOVE\n";
  EXPECT_EQ(RunTranslator(*u), 0);
  EXPECT_TRUE(u->b_OutputComplete);
  EXPECT_EQ(u->w_Output, "%assign debug 0\n  MOVE\n");
}

}  // namespace
