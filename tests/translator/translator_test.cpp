// Whole translations run in memory: what the file cases cannot hold
// (generated sources at the tables' capacities, the same program written
// two ways) and the faults the translator once had.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "translator.h"

namespace {

struct Result {
  std::unique_ptr<Translator> t = std::make_unique<Translator>();
  int status = 0;
  // Messages after the structure summary.
  std::string messages() const {
    const std::string& m = t->messages.captured;
    auto p = m.find("] Close SqBrackets\n \n");
    return p == std::string::npos ? m : m.substr(p + 21);
  }
  std::string output() const { return t->outputComplete ? t->output : ""; }
};

Result Translate(const std::string& source, const std::string& args = "input") {
  Result r;
  r.t->useSourceText = true;
  r.t->sourceText = source;
  r.t->noFiles = true;
  r.t->messages.capture = true;
  r.t->commandLine.assign(args);
  r.status = RunTranslator(*r.t);
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
    nl = text.find('\n', pos);
    lines.push_back(text.substr(pos, nl - pos));
  }
  return lines;
}

std::string Trim(std::string s) {
  s.erase(0, s.find_first_not_of(" \t"));
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// The output with each line's leading and trailing blanks dropped.
std::string Trimmed(const std::string& text) {
  std::string out;
  for (const std::string& l : Lines(text)) out += Trim(l) + "\n";
  return out;
}

// The lines from the one holding `from` to the one holding `to`, trailing
// blanks dropped.
std::string Block(const std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  bool in = false;
  for (std::string l : Lines(text)) {
    in = in || l.find(from) != std::string::npos;
    if (!in) continue;
    l.erase(l.find_last_not_of(' ') + 1);
    out += l + "\n";
    if (l.find(to) != std::string::npos) break;
  }
  return out;
}

// Dictionary (line 1), declarations, matrix, instructions, then the body.
std::string Program(const std::string& decls, const std::string& body) {
  return "%include \"include/BEGIN.DICTIONARY\"\n" + decls + "%include \"include/BEGIN.MATRIX\"\n" +
         "%include \"include/BEGIN.INSTRUCTIONS\"\n" + body + "%include \"include/END.PROGRAM\"\n";
}

const std::string kRecord =
    " @INSERTWORD w_Name,30,' '\n"
    " @BEGIN_RECORD r, recA\n"
    " @INSERTWORD f_Code,4,' '\n"
    " @INSERTNUMBER f_Qty,0,'999'\n"
    " @END_RECORD recA\n"
    " @INSERTNUMBER n_I,0,'9999'\n"
    " @INSERTNUMBER n_N,0,'999.99'\n"
    " @INSERTARRAY arr,10\n"
    " @BEGIN_FUNCTION fSum,'99' | @USING {p_A,'99'},{p_B,'99'}\n";

// In positions mode, where a call's elements are fetched and stored back.
TEST(Elements, AreFetchedAndStoredBackByWhatTheStatementDoes) {
  Result r = Translate(Program(kRecord,
                            " @TABLES_BIND tbl, recA\n"
                            " f_Qty[n_I] =+ 1\n"
                            " CALL sub f_Qty[1] f_Qty[2]\n"
                            " @WORDS w_Name, f_Code[1], f_Code[2]\n"
                            " n_I = fSum f_Qty[n_I] 2\n"),
                       "-l input");
  ASSERT_EQ(r.status, 0) << r.messages();
  EXPECT_EQ(Block(r.output(), "%macro m001", ";(END)"),
            "%macro m001 0.nolist\n"
            "\t@TABLES_fget tbl,0002,f_Qty,n_I\n"
            "\t@NUMBERS_CALC f_Qty,=,f_Qty,+,1\n"  // a compound assignment reads it first
            "\t@TABLES_fput tbl,0002,f_Qty,n_I\n"
            "%endmacro\n\n"
            "%macro m002 0.nolist\n"  // a call may read and write: fetched and stored back
            "\t@TABLES_fget tbl,0002,f_Qty,1\n"
            "\t@TABLES_fget tbl,0002,i0001,2\n"
            "\tCALL sub,f_Qty,i0001\n"
            "\t@TABLES_fput tbl,0002,f_Qty,1\n"
            "\t@TABLES_fput tbl,0002,i0001,2\n"
            "%endmacro\n\n"
            "%macro m003 0.nolist\n"
            "\t@TABLES_fget tbl,0001,a0002,1\n"
            "\t@TABLES_fget tbl,0001,a0003,2\n"
            "\t@WORDS w_Name,a0002,a0003\n"
            "\t@TABLES_fput tbl,0001,a0003,2\n"
            "%endmacro\n\n"
            "%macro m004 0.nolist\n"
            "\t@TABLES_fget tbl,0002,f_Qty,n_I\n"
            "\t@FUNCTION n_I,fSum,f_Qty 2\n"  // arguments are not glued into one name
            "%endmacro\n"
            ";(END)..:Macros created by Quillwright\n");
}

TEST(Elements, BracketsOutOfBalanceOrTooDeepEndTheRun) {
  Result stray = Translate(Program(kRecord, " @TABLES_BIND tbl, recA\n @DISPLAY a] f_Qty[1]\n"));
  EXPECT_EQ(stray.status, 5);
  EXPECT_EQ(stray.messages(), "06: Square brackets are not balanced on line no=000014\n");
  Result deep = Translate(Program(kRecord, " n_I = " + std::string(33, '[') + "1+1" + std::string(33, ']') + "\n"));
  EXPECT_EQ(deep.messages(), "06: Square brackets are nested more than 32 deep on line no=000013\n");
  std::string calc = " n_I = n_I";
  while (calc.size() < 240) calc += " + 1";
  Result longer = Translate(Program(kRecord, calc + "\n"));
  EXPECT_EQ(longer.status, 6);
  EXPECT_EQ(longer.messages(), "07: Statement is too long to rewrite on line no=000013\n");
}

// Keywords, points, brackets and braces in a comment.
std::string Commented(const std::string& statement, const std::string& comment, bool neutral) {
  std::string c = neutral ? "; " + std::string(comment.size(), 'x') : "; " + comment;
  return statement + std::string(60 - statement.size(), ' ') + c + "\n";
}

TEST(Statements, ACommentNeverChangesTheTranslation) {
  auto program = [](bool neutral) {
    return Program(kRecord + Commented(" @INSERTNUMBER n_Flag,0", "a. comment", neutral),
                   " @TABLES_BIND tbl, recA\n" +
                       Commented(" CALL sub1 f_Qty[n_I]", "was @DISPLAY", neutral) +
                       Commented(" n_Flag = n_Flag + 1", "1.5 {x} [y]", neutral) +
                       Commented(" arr{n_I} = 5", "@IF", neutral) +
                       Commented(" @WORDS w_Name, f_Code[1], f_Code[2]", "_FIND", neutral) +
                       Commented(" n_I = [n_I + 1] + f_Qty[2]", "SECTION @DISPLAY", neutral) +
                       Commented(" w_Name = {f_Code 1 2}", "}", neutral));
  };
  Result plain = Translate(program(true), "-l input");
  Result commented = Translate(program(false), "-l input");
  ASSERT_EQ(commented.status, 0) << commented.messages();
  EXPECT_EQ(commented.output(), plain.output());
  EXPECT_NE(commented.output().find("\t@TABLES_fput tbl,0002,f_Qty,n_I"), std::string::npos);
  EXPECT_NE(commented.output().find("@INTEGERS_CALC n_Flag,=,n_Flag,+,1"), std::string::npos);
}

TEST(Statements, IndentationNeverChangesTheTranslation) {
  auto program = [](const std::string& indent) {
    std::string body;
    for (std::string s : {"n_I = n_I + 1", "n_N = n_N * 2", "n_I =+ 2", "@IF n_I = 3", "@END_IF",
                          "@WHILE n_I < 3", "@_OR n_I > 7", "CALL sub n_I n_N", "f_Qty[n_I] = 5",
                          "@WORDS_COPY f_Code,w_Name"})
      body += indent + s + "\n";
    return Program(kRecord, " @TABLES_BIND tbl, recA\n" + body);
  };
  // In positions mode; the plain rewrite looks for keywords in the row's
  // first 40 columns.
  Result flush = Translate(program(" "), "-l input");
  Result deep = Translate(program(std::string(70, ' ')), "-l input");
  ASSERT_EQ(deep.status, 0) << deep.messages();
  EXPECT_EQ(Trimmed(deep.output()), Trimmed(flush.output()));
  EXPECT_NE(deep.output().find("@IF n_I,=,3"), std::string::npos);
}

// In positions mode; the plain rewrite leaves operators as written.
TEST(Statements, OperatorsAgainstTheirOperandsAreSetApart) {
  Result r = Translate(Program(kRecord, " n_I = n_I-1\n n_N = -n_N*-2\n n_I = 3 - -n_I\n"
                                        " @DISPLAY 'a-b', LF ; n_I-1\n"),
                       "-l input");
  ASSERT_EQ(r.status, 0) << r.messages();
  std::string out = Trimmed(r.output());
  for (std::string_view want : {"@INTEGERS_CALC n_I,=,n_I,-,1\n", "n_N,=,n_N,*,-1,*,-2\n",
                                "@INTEGERS_CALC n_I,=,3,+,n_I\n", "@DISPLAY 'a-b', LF\n"})
    EXPECT_NE(out.find(want), std::string::npos) << want << out;
}

TEST(Statements, LiteralsMustFitSixtyFourBits) {
  struct Case {
    std::string decl, statement, message;
  };
  const Case cases[] = {
      {"", " n_K = 12345678901234567890123\n", "50: Literal contains more than 19 digits=000005\n"},
      {"", " n_K = n_K - 9223372036854775807\n", ""},
      {"", " @DISPLAY 99999999999999999.99\n", "50: Literal is larger than 9223372036854775807=000005\n"},
      {"", " n_K = [n_K + 99999999999999999999]\n", "50: Literal contains more than 19 digits=000005\n"},
      {" @INSERTNUMBER n_Init, 9999999999999999999, '9999999999999999999-'\n", "",
       "50: Literal is larger than 9223372036854775807=000003\n"},
      {" @INSERTNUMBER n_M, 92233720368547758.08, '99999999999999999.99'\n", "",
       "50: Literal is larger than 9223372036854775807=000003\n"},
  };
  for (const Case& c : cases) {
    Result r = Translate(Program(" @INSERTNUMBER n_K,0,'9999'\n" + c.decl, c.statement));
    EXPECT_EQ(r.messages(), c.message) << c.decl << c.statement;
    EXPECT_EQ(r.status, c.message.empty() ? 0 : 50);
  }
}

TEST(Lines, StatementTextPastColumn249EndsTheRun) {
  for (std::string line : {" @DISPLAY '" + std::string(240, 'a') + "'",
                           "    @DISPLAY 'a' | @DISPLAY '" + std::string(236, 'b') + "'"}) {
    Result r = Translate("; long\n" + line + "\n");
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.messages(), "07: Statement runs past column 249 on line no=000002\n");
    EXPECT_EQ(r.output(), "");
  }
}

TEST(Lines, MessagesAndDebugMarkersNameTheSourceLine) {
  const std::string body = " n_I = 1 | n_I = 2 | n_I = 3\n @DISPLAY n_I\n";
  Result fault = Translate(Program(" @INSERTNUMBER n_I,0,'9999'\n", body + " @DISPLAY 1.12345678901234567890\n"));
  EXPECT_EQ(fault.messages(), "50: Literal contains more than 19 digits=000007\n");
  Result windows = Translate("WINDOWS\n" + Program("", " @DISPLAY 1.12345678901234567890\n"));
  EXPECT_EQ(windows.messages(), "50: Literal contains more than 19 digits=000005\n");

  // A debug build writes a marker before each statement; only in positions
  // mode is each marker announced with its source line.
  Result debug = Translate(Program(" @INSERTNUMBER n_I,0,'9999'\n", body), "-d input");
  Result named = Translate(Program(" @INSERTNUMBER n_I,0,'9999'\n", body), "-d -l input");
  EXPECT_EQ(debug.output().find("%define"), std::string::npos);
  EXPECT_NE(named.output().find("%define QW_SRCFILE 'input.QWR'\n"), std::string::npos);
  std::vector<std::string> lines = Lines(debug.output());
  std::vector<std::string> statements;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    if (Trim(lines[i]) == "DEBUG") statements.push_back(Trim(lines[i + 1]));
  EXPECT_EQ(statements, (std::vector<std::string>{"@INTEGERS_CALC n_I,=,1", "@INTEGERS_CALC n_I,=,2",
                                                  "@INTEGERS_CALC n_I,=,3", "@DISPLAY n_I",
                                                  "%include \"include/END.PROGRAM\""}));
}

TEST(Positions, LineMarkersTieEveryStatementToItsSourceLine) {
  const std::string source = Program(" @INSERTWORD w_A,10,' '\n @INSERTNUMBER n_I,0,'99'\n",
                                     " n_I = [n_I + 1] | n_I = 2\n"
                                     " @WORDS_COPY w_A,w_A\n"
                                     "\n"
                                     " @IF n_I = 2\n");
  Result r = Translate(source, "-l input");
  EXPECT_EQ(r.status, 13);
  EXPECT_EQ(r.messages(),
            "    13: Begin/End Ifs are not balanced\n"
            "input.QWR:9:     13: First unmatched opener on line no=000009\n");
  EXPECT_EQ(Block(r.output(), "%line 0+1", "END.PROGRAM"),
            "%line 0+1 input.QWR\n"
            "%include \"include/BEGIN.DICTIONARY\"\n"
            "%line 4+1 input.ASM\n"  // generated lines count as NAME.ASM's own
            "\n"
            ";(BEGIN):Temporary Words by Quillwright\n"
            ";(END..):Temporary Words by Quillwright\n"
            "%line 1+1 input.QWR\n"
            " @INSERTWORD w_A,10,' '\n"
            " @INSERTNUMBER n_I,0,'99'\n"
            "%include \"include/BEGIN.MATRIX\"\n"
            "%line 12+1 input.ASM\n"
            "\n"
            ";(BEGIN):Temporary Integers by Quillwright\n"
            "\t@insertnumber i0001,0\n"
            ";(END..):Temporary Integers by Quillwright\n"
            "\n"
            ";(BEGIN):Temporary FixedPoint numbers by Quillwright\n"
            ";(END..):Temporary FixedPoint numbers by Quillwright\n"
            "\n"
            ";(BEGIN):Macros created by Quillwright\n"
            "\n"
            "%macro m001 0.nolist\n"  // an expansion counts as the line that called it
            "\t@INTEGERS_CALC i0001,=,n_I,+,1\n"
            "\t@INTEGERS_CALC n_I,=,i0001\n"
            "%endmacro\n"
            ";(END)..:Macros created by Quillwright\n"
            "\n"
            "%line 4+1 input.QWR\n"
            "%include \"include/BEGIN.INSTRUCTIONS\"\n"
            " m001 ; N_I = [N_I + 1]\n"
            "%line 5+1 input.QWR\n"  // the second statement of line 5
            " @INTEGERS_CALC n_I,=,2\n"
            "%line 7+0 input.QWR\n"  // several lines for one statement
            " ;WORDS_COPY w_A,w_A\n"
            " MOV RSI,w_A\n"
            " MOV RDI,w_A\n"
            " mov rcx,000010\n"
            " Call _MOVSTR\n"
            "%line 7+1 input.QWR\n"
            "\n"
            " @IF n_I,=,2\n"
            "%include \"include/END.PROGRAM\"\n");
  Result debug = Translate(source, "-d -l input");
  EXPECT_NE(debug.output().find("%line 9+0 input.QWR\n%define QW_SRC_10 9\n"), std::string::npos);
  Result plain = Translate(source);
  EXPECT_EQ(plain.output().find("%line"), std::string::npos);
  EXPECT_EQ(plain.messages(), "    13: Begin/End Ifs are not balanced\n");
  // A closer before any opener is the first unmatched one.
  Result closer = Translate(Program("", " @END_IF\n @IF 1 = 1\n @IF 2 = 2\n"), "-l input");
  EXPECT_EQ(closer.messages(),
            "    13: Begin/End Ifs are not balanced\n"
            "input.QWR:4:     13: First unmatched closer on line no=000004\n");
}

std::string Repeat(int n, const std::function<std::string(int)>& line) {
  std::string s;
  for (int i = 0; i < n; ++i) s += line(i);
  return s;
}

TEST(Capacities, EveryTableTakesItsLastRowAndRefusesTheNext) {
  auto words = [](int n) {
    return Repeat(n, [](int i) { return "    @INSERTWORD w_" + std::to_string(i) + ",5,' '\n"; });
  };
  Result names = Translate(words(1021));  // with the three system names: 1024
  EXPECT_EQ(names.status, 0);
  EXPECT_EQ(names.output(), "%assign debug 0\n" + words(1021));
  EXPECT_EQ(Translate(words(1022)).messages(), "10: X3_PutXtable:DataNameRecord Table Overflow\n");

  auto synonyms = [](int n) {
    return "; BEGIN.SYNONYMS\n" +
           Repeat(n, [](int i) { return "; S" + std::to_string(i) + " : T" + std::to_string(i) + "\n"; }) +
           "; END.SYNONYMS\n    S5 x\n";
  };
  Result syn = Translate(synonyms(768));
  EXPECT_NE(syn.output().find("\n    T5 x\n"), std::string::npos);
  Result synFull = Translate(synonyms(769));
  EXPECT_EQ(synFull.status, 10);
  EXPECT_EQ(synFull.messages(), "10: X4_PutXtable:SynonymRecord Table Overflow\n");

  // Two macro lines a statement: 1024 lines in all.
  auto macros = [](int n) {
    return Program(" @INSERTNUMBER n_I,0,'9999'\n", Repeat(n, [](int) { return " n_I = [n_I + 1]\n"; }));
  };
  EXPECT_EQ(Translate(macros(512)).status, 0);
  EXPECT_EQ(Translate(macros(513)).messages(), "09: X10_NextTextSlot:MacroRecord Table Overflow\n");
  // One macro line a statement: 999 macros.
  auto calls = [](int n) { return Program("", Repeat(n, [](int) { return " @DISPLAY ] [ x\n"; })); };
  EXPECT_EQ(Translate(calls(999)).status, 0);
  EXPECT_EQ(Translate(calls(1000)).messages(), "09: More than 999 generated macros on line no=001003\n");

  // A word temporary of its own length for each field.
  auto temporaries = [](int n) {
    return Program(" @BEGIN_RECORD r, recW\n" +
                       Repeat(n, [](int i) { return " @INSERTWORD f" + std::to_string(i) + "," + std::to_string(i + 1) + ",' '\n"; }) +
                       " @END_RECORD recW\n @INSERTWORD w_Out,5,' '\n",
                   " @TABLES_BIND tw, recW\n" +
                       Repeat(n, [](int i) { return " @WORDS_COPY f" + std::to_string(i) + "[1], w_Out\n"; }));
  };
  EXPECT_EQ(Translate(temporaries(512)).status, 0);
  Result full = Translate(temporaries(513));
  EXPECT_EQ(full.status, 7);
  EXPECT_EQ(full.messages(), "08: D_X1_NextNewDataSlot:New Data Table Overflow\n");

  Result rows = Translate(Repeat(kProgramTableCapacity + 1, [](int) { return "x\n"; }));
  EXPECT_EQ(rows.status, 19);
  EXPECT_EQ(rows.messages(), "10: B1_LoadProgramTable:ProgramRecord Table Overflow\n");
}

TEST(Masm, TheDialectKeepsItsOwnReplacementTable) {
  std::string source = "WINDOWS\n; BEGIN.SYNONYMS\n; X : XX\n" +
                       Repeat(767, [](int i) { return "; S" + std::to_string(i) + " : T\n"; }) +
                       "; END.SYNONYMS\n  X = 1\n";
  Result r = Translate(source);
  EXPECT_EQ(r.status, 0) << r.messages();
  EXPECT_NE(r.output().find("\n  XX _EQ 1\nEND\n"), std::string::npos);
}

TEST(Files, ASourceThatIsNoRegularFileIsRefused) {
  char dir[] = "/tmp/translator_test_XXXXXX";
  ASSERT_TRUE(::mkdtemp(dir));
  std::string base = std::string(dir) + "/";
  ASSERT_EQ(::mkdir((base + "folder.QWR").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((base + "pipe.QWR").c_str(), 0644), 0);
  for (const char* name : {"folder", "pipe"}) {
    Translator t;
    t.messages.capture = true;
    t.directory = base;
    t.commandLine.assign(name);
    EXPECT_EQ(RunTranslator(t), 3);
    EXPECT_EQ(t.messages.captured, "03: [reWriter]:Input File does not exist\n");
  }
  ::rmdir((base + "folder.QWR").c_str());
  ::unlink((base + "pipe.QWR").c_str());
  ::rmdir(dir);
}

TEST(CommandLine, OptionsStandAloneInAnyOrderAndTheLineKeeps256Characters) {
  Translator t;
  std::string longArg(400, 'z');
  const char* argv[] = {"rewriter", "-l", "-D", "prog", longArg.c_str()};
  SetCommandLine(t, 5, argv);
  EXPECT_EQ(t.commandLine(256), 'z');
  StartUp(t);
  EXPECT_TRUE(t.debug && t.positions);
  EXPECT_EQ(t.inFile, "prog.QWR");
  Translator u;
  u.commandLine.assign("-lx");
  StartUp(u);
  EXPECT_FALSE(u.positions);
  EXPECT_EQ(u.outFile, "-lx.ASM");
}

}  // namespace
