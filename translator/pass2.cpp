// Second pass: the pass driver, the structure statistics with their
// balance checks, and the statement rewrites (the FP_DEFAULTPICTURE
// directive, array decisions, assignments and operand commas).
#include "pass2.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "translator.h"

using qwt::Digits;
using qwt::IsBlankOrTab;
using qwt::IsDigit;
using qwt::Upper;

// ---------------------------------------------------------------------------
// Shared helpers.

namespace p2 {

std::string RowNo(const Translator& t) { return Digits(t.n_LineCtr, 6); }

void EnsureRoom(Translator& t, long extra) {
  if (extra <= 0) return;
  // The row's text never reaches past its line length plus what the row
  // has grown by; only near the end of the field is the text measured.
  long& grown = t.p2.n_Grown;
  if (t.PR.PR_LineLength + grown + extra > kLineWidth &&
      t.PR.PR_Line.lastNonBlank() + extra > kLineWidth)
    t.Fatal("07: Statement is too long to rewrite on line no=" + RowNo(t), 6);
  grown += extra;
}

char TypeOf(Translator& t, std::string_view name) {
  if (name.empty() || name.size() > 30) return ' ';
  char saved = t.w_DataType;
  t.w_Temp30.assign(name);
  X5_SearchByName(t);
  t.w_DataType = saved;
  return t.DataNameTable_STATUS == 0 ? t.DN.DN_Type : ' ';
}

}  // namespace p2

namespace {

using p2::EnsureRoom;
using p2::RowNo;
using p2::TypeOf;

// Counters are shown with at least six digits; a count that outgrows the
// six-digit field is shown whole rather than cut to its low digits.
std::string Counter(long v) {
  std::string s = std::to_string(v < 0 ? 0 : v);
  return s.size() >= 6 ? s : std::string(6 - s.size(), '0') + s;
}

// Column of the first c of the statement part outside quoted literals, 0 if
// none.
long FindUnquoted(Translator& t, char c) {
  char q = ' ';
  for (long i = 1; i <= t.PR.PR_CommandLength; ++i) {
    p2::QuoteStep(q, t.PR.PR_Line(i));
    if (q == ' ' && t.PR.PR_Line(i) == c) return i;
  }
  return 0;
}

long FindInStatement(const Translator& t, char c) {
  long p = t.PR.PR_Line.find(c);
  return (p && p <= t.PR.PR_CommandLength) ? p : 0;
}

void ReplaceLine(Translator& t, const std::string& s) {
  if (long(qwt::TrimRight(s).size()) > kLineWidth)
    t.Fatal("07: Statement is too long to rewrite on line no=" + RowNo(t), 6);
  t.PR.PR_Line.assign(s);
}

}  // namespace

// ---------------------------------------------------------------------------
// Pass driver.

void C_2ndPass(Translator& t) {
  SecondPassState& s = t.p2;
  // The first pass leaves its own use of the flag behind (a "[" somewhere in
  // the last line it looked at); here it means "inside a macro block".
  s.b_Macro = 0;
  long rows = t.ProgramTable_UBOUND();
  for (t.n_LineCtr = 1; t.n_LineCtr <= rows; ++t.n_LineCtr) {
    t.FetchRow(t.n_LineCtr);
    if (t.PR.PR_Type == 'A') continue;
    // Blank and comment rows have no statement part to scan.
    if (t.PR.PR_CommandLength > 0 || t.PR.PR_Type == 'L') {
      t.RefreshUBuffer();
      C1_GetStats(t);
    }
    if (s.b_Procedures == 0 && t.PR.PR_Line.contains("BEGIN.INSTRUCTIONS")) s.b_Procedures = 1;
    if (t.PR.PR_Type == 'L') C2_Translate(t);
  }
  C3_DisplayResults(t);
}

// ---------------------------------------------------------------------------
// Structure statistics.

void C1_GetStats(Translator& t) {
  char q = ' ';
  long n = std::min<long>(t.PR.PR_CommandLength, kLineWidth);
  for (long i = 1; i <= n; ++i) {
    p2::QuoteStep(q, t.PR.PR_Line.c[std::size_t(i - 1)]);
    if (q == ' ') C12_GetStats(t, i);
  }
  t.w_Quote = q;
  t.X1_Idx = n;
}

void C12_GetStats(Translator& t, long I) {
  SecondPassState& s = t.p2;
  const auto& U = t.w_UBuffer;
  char c = U(I);
  if (c == 'B' && p2::Reads(U, I, "BEGIN_ASSEMBLER")) {
    s.b_Assembler = 1;
    return;
  }
  if (c == 'E' && p2::Reads(U, I, "END_ASSEMBLER")) {
    s.b_Assembler = 0;
    return;
  }
  if (s.b_Assembler == 1) return;
  // A keyword opens a block only when a one-character prefix starts a word.
  auto opener = [&] { return I == 2 || (I > 2 && IsBlankOrTab(U(I - 2))); };
  switch (c) {
    case 'B':
      if (p2::Reads(U, I, "BEGIN_SUB"))
        ++s.n_NoOfBeginSubs;
      else if (p2::Reads(U, I, "BEGIN_TEST"))
        ++s.n_NoOfBeginTests;
      return;
    case 'E':
      if (p2::Reads(U, I, "END_SUB"))
        ++s.n_NoOfEndSubs;
      else if (p2::Reads(U, I, "END_TEST"))
        ++s.n_NoOfEndTests;
      return;
    case 'R':
      if (p2::Reads(U, I, "REPEAT")) {
        if (U.contains("@END_REPEAT"))
          ++s.n_NoOfEndRepeats;
        else if (!U.contains("@EXIT_REPEAT") && !U.contains("EXITREPEAT") && opener())
          ++s.n_NoOfRepeats;
      }
      return;
    case 'I':
      if (p2::Reads(U, I, "IF")) {
        if (U.contains("@REPEAT_IF")) {
        } else if (U.contains("@END_IF")) {
          ++s.n_NoOfEndIfs;
        } else if (U.contains("@ARRAYS_IF")) {
          ++s.n_NoOfIfs;
        } else if (U.contains("@_IF")) {
          ++s.n_NoOfDotCommands;
          ++s.n_NoOfIfs;
        } else if (!p2::Reads(U, I - 1, "%IF") && opener()) {
          ++s.n_NoOfIfs;
        }
      }
      return;
    case '@':
      if (p2::Reads(U, I, "@_WHEN")) {
        ++s.n_NoOfWhens;
        ++s.n_NoOfDotCommands;
      } else if (p2::Reads(U, I, "@_END")) {
        ++s.n_NoOfDotEnds;
      } else if (p2::Reads(U, I, "@WHEN")) {
        ++s.n_NoOfWhens;
      } else if (p2::Reads(U, I, "@WEND")) {
        ++s.n_NoOfWends;
      }
      return;
    case '{':
      ++s.n_NoOfOpenBraces;
      return;
    case '}':
      ++s.n_NoOfCloseBraces;
      return;
    case '%':
      if (p2::Reads(U, I, "%IF") || p2::Reads(U, I, "%ENDIF")) return;
      if (p2::Reads(U, I, "%MACRO") || p2::Reads(U, I, "%IMACRO")) s.b_Macro = 1;
      if (p2::Reads(U, I, "%ENDMACRO")) s.b_Macro = 0;
      return;
    default:
      return;
  }
}

void C3_DisplayResults(Translator& t) {
  const SecondPassState& s = t.p2;
  auto line = [&](long a, const char* mid, long b, const char* tail) {
    t.Message("  [" + Counter(a) + mid + Counter(b) + tail);
  };
  line(s.n_NoOfBeginSubs, "] Begin Subs      [", s.n_NoOfEndSubs, "] End Subs");
  line(s.n_NoOfRepeats, "] Begin Repeats   [", s.n_NoOfEndRepeats, "] End Repeats");
  line(s.n_NoOfIfs, "] IF's            [", s.n_NoOfEndIfs, "] End Ifs");
  line(s.n_NoOfDotCommands, "] Dot Commands    [", s.n_NoOfDotEnds, "] Dot Ends");
  line(s.n_NoOfBeginTests, "] Begin Test's    [", s.n_NoOfEndTests, "] End Tests");
  line(s.n_NoOfWhens, "] when's          [", s.n_NoOfWends, "] Wend's");
  line(s.n_NoOfOpenBraces, "] Open Braces     [", s.n_NoOfCloseBraces, "] Close Braces");
  line(s.n_NoOfOpenSQBrackets, "] Open SqBrackets [", s.n_NoOfCloseSQBrackets,
       "] Close SqBrackets");
  t.Message(" ");
  struct Check {
    long a, b;
    int no;
    const char* text;
  };
  const Check checks[] = {
      {s.n_NoOfBeginSubs, s.n_NoOfEndSubs, 11, "    11: Begin/End Subs are not balanced"},
      {s.n_NoOfRepeats, s.n_NoOfEndRepeats, 12, "    12: Begin/End Repeats are not balanced"},
      {s.n_NoOfIfs, s.n_NoOfEndIfs, 13, "    13: Begin/End Ifs are not balanced"},
      {s.n_NoOfDotCommands, s.n_NoOfDotEnds, 14,
       "    14: Begin/End dot commands are not balanced"},
      {s.n_NoOfBeginTests, s.n_NoOfEndTests, 15, "    15: Begin/End Tests are not balanced"},
      {s.n_NoOfWhens, s.n_NoOfWends, 16, "    16: @when/@wends are not balanced"},
      {s.n_NoOfOpenBraces, s.n_NoOfCloseBraces, 17, "    17: Braces are not balanced"},
      {s.n_NoOfOpenSQBrackets, s.n_NoOfCloseSQBrackets, 18,
       "    18: Square Brackets are not balanced"},
  };
  for (const Check& c : checks) {
    if (c.a != c.b) {
      t.Message(c.text);
      t.ERROR_CODE = c.no;
    }
  }
}

// ---------------------------------------------------------------------------
// Translating one row.

void C2_Translate(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  if (C21_f_ProcessedDirective(t)) return;
  s.n_Grown = 0;
  t.n_CommandPosition = 0;
  for (long i = 1; i <= R.PR_LineLength; ++i) {
    if (!IsBlankOrTab(R.PR_Line(i))) {
      t.n_CommandPosition = i;
      break;
    }
  }
  C22_FixedPoint(t);
  s.b_CreatedMacro = 0;
  long I = FindUnquoted(t, '[');
  if (I > 0 && I < R.PR_CommandLength) {
    C23_CreateMacro(t, I);
  } else {
    C24_ArrayIF(t);
    C25_SetupCalc(t);
    C26_addCommas(t);
  }
  if (R.PR_CommandLength > kLineWidth) R.PR_CommandLength = kLineWidth;
  if (R.PR_LineLength > kLineWidth) R.PR_LineLength = kLineWidth;
  if (R.PR_CommandLength > R.PR_LineLength) R.PR_LineLength = R.PR_CommandLength;
  t.StoreRow(t.n_LineCtr);
}

bool C21_f_ProcessedDirective(Translator& t) {
  ProgramRecord& R = t.PR;
  const auto& U = t.w_UBuffer;
  long p = U.find("FP_DEFAULTPICTURE");
  // Only the statement part counts: a mention in a comment is no directive.
  if (p == 0 || p > R.PR_CommandLength) return false;
  if (U(p - 1) == '\'') return false;
  long open = 0, close = 0;
  for (long i = p; i <= R.PR_CommandLength; ++i) {
    char c = U(i);
    if (!open) {
      if (c == '\'' || c == '"') open = i;
    } else if (c == U(open)) {
      close = i;
      break;
    }
  }
  if (!close)
    t.Fatal("04: Line No=" + RowNo(t) + " FP_DEFAULTPICTURE must provide a quoted picture", 4);
  long len = close - open + 1;
  if (len > 30) t.Fatal("50: Picture is longer than 30 characters=" + RowNo(t), 50);
  t.w_FP_Picture.assign(U.sub(open, len));
  t.DN.DN_Picture.assign(U.sub(open, len));
  X11_CheckPicture(t);
  R.PR_Line(1) = ';';
  R.PR_Type = 'C';
  t.StoreRow(t.n_LineCtr);
  return true;
}

// "@IF" on an array becomes "@ARRAYS_IF" with the array name and the second
// braced group set off by commas.
void C24_ArrayIF(Translator& t) {
  ProgramRecord& R = t.PR;
  long p = p2::FindUpper(R.PR_Line, "@IF", R.PR_CommandLength);
  if (p == 0) return;
  t.n_beginAt = p + 3;
  t.w_Char1 = '{';
  X7_ExtractText(t);
  if (t.n_Start == 0) return;
  long nameEnd = t.n_Start + t.n_Length;
  if (TypeOf(t, R.PR_Line.sub(t.n_Start, t.n_Length)) != 'A') return;
  EnsureRoom(t, 8);
  R.PR_Line.insert(nameEnd, ",");
  R.PR_Line.insertBlanks(p, 7);
  R.PR_Line.put(p, "@ARRAYS_IF");
  R.PR_CommandLength += 8;
  R.PR_LineLength += 8;
  long b1 = R.PR_Line.find('{');
  if (b1 == 0) return;
  long b2 = R.PR_Line.find('{', b1 + 1);
  if (b2 == 0 || b2 > R.PR_CommandLength) return;
  EnsureRoom(t, 1);
  R.PR_Line.insert(b2, ",");
  R.PR_CommandLength += 1;
  R.PR_LineLength += 1;
}

// ---------------------------------------------------------------------------
// Assignments: function calls, arrays, word moves and calculations.

namespace {

// Destination "=" function name and arguments.
bool C2511_f_Function(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  t.n_beginAt = s.n_EqStart + 1;
  t.w_Char1 = ' ';
  X7_ExtractText(t);
  if (t.n_Start == 0) return false;
  long fStart = t.n_Start, fLen = t.n_Length;
  if (TypeOf(t, R.PR_Line.sub(fStart, fLen)) != 'f') return false;
  std::string line = "\t@FUNCTION ";
  line.append(R.PR_Line.sub(s.n_dstStart, s.n_dstLen));
  line.push_back(',');
  line.append(R.PR_Line.sub(fStart, fLen));
  line.push_back(',');
  long prefix = long(line.size());
  long restStart = fStart + fLen;
  line.append(R.PR_Line.sub(restStart, kLineWidth - restStart + 1));
  // The statement part keeps its arguments; never shorter than it now is.
  long newEnd = prefix + (R.PR_CommandLength - restStart + 1);
  ReplaceLine(t, line);
  R.PR_CommandLength = std::max(R.PR_CommandLength + 10, newEnd);
  return true;
}

// Characters of an array assignment's source part with a comma before its
// first "{".
std::string CommaBeforeBrace(std::string src) {
  auto b = src.find('{');
  if (b != std::string::npos) src.insert(b, ",");
  return src;
}

bool C2512_f_Array(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  long eq = s.n_EqStart;
  char after = R.PR_Line(eq + 1);
  bool opChar = after == '=' || after == '+' || after == '-' || after == '*' || after == '/';
  // A source written directly after a plain "=" starts right there.
  long k = (opChar || IsBlankOrTab(after)) ? eq + 2 : eq + 1;
  while (k <= R.PR_CommandLength && IsBlankOrTab(R.PR_Line(k))) ++k;
  long e = k;
  while (e <= R.PR_CommandLength && !IsBlankOrTab(R.PR_Line(e))) ++e;
  s.n_srcStart = k;
  s.n_srcEnd = e - 1;
  s.n_srcLen = e > k ? e - k : 0;
  std::string src(R.PR_Line.sub(k, s.n_srcLen));
  std::string srcName = src.substr(0, src.find('{'));
  s.w_srcType = TypeOf(t, srcName);
  if (s.w_dstType != 'A' && s.w_srcType != 'A') return false;

  std::string dstName(R.PR_Line.sub(s.n_dstStart, s.n_dstLen));
  long from = s.n_dstStart;
  std::string out;
  if (s.w_dstType == 'I') {
    out = "@Arrays_Get " + src + dstName;
    auto b = out.find('{', 12);
    if (b != std::string::npos) {
      out.insert(b, ",");
      auto c = out.find('}', b + 2);
      if (c != std::string::npos) out.insert(c + 1, ",");
    }
  } else if (s.w_dstType == 'A') {
    // The destination as written, up to the blanks before the "=".
    long dEnd = eq - 1;
    while (dEnd >= s.n_dstStart && IsBlankOrTab(R.PR_Line(dEnd))) --dEnd;
    std::string dst(R.PR_Line.sub(s.n_dstStart, dEnd - s.n_dstStart + 1));
    auto b = dst.find('{');
    if (b != std::string::npos) {
      dst.insert(b, ",");
      auto c = dst.find('}', b + 2);
      if (c != std::string::npos)
        dst.insert(c + 1, ",");
      else
        dst.push_back(',');
    } else {
      dst.push_back(',');
    }
    std::string name;
    std::string srcPart = CommaBeforeBrace(src);
    switch (after) {
      case '=': name = "Swap"; break;
      case '+': name = "Add"; break;
      case '-': name = "Sub"; break;
      case '*': name = "Mul"; break;
      case '/': name = "Div"; break;
      default:
        if (p2::FindUpper(R.PR_Line, "@IF", kLineWidth)) {
          name = "IF";
          srcPart = "=," + srcPart;
          from = std::max<long>(1, s.n_dstStart - 4);
        } else if (s.w_srcType == 'A') {
          name = "Eq";
        } else {
          name = "Put";
        }
    }
    out = "@Arrays_" + name + " " + dst + srcPart;
  } else {
    return true;  // another destination with an array source stays as written
  }
  std::string line(R.PR_Line.sub(1, from - 1));
  line += out;
  ReplaceLine(t, line);
  long newEnd = long(line.size());
  R.PR_CommandLength = std::max(R.PR_CommandLength + 15, newEnd);
  R.PR_LineLength = std::max(R.PR_LineLength + 15, newEnd);
  return true;
}

// Word destination: "@words_pad source,destination", or "@words_copy" for a
// braced destination.
void C2513_SwapFields(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  long dStart = s.n_dstStart, dEnd = s.n_dstEnd;
  bool braced = s.n_dstBrace > 0;
  if (braced) {
    dStart = s.n_dstBrace;
    long close = R.PR_Line.find('}', s.n_dstBrace);
    if (close) dEnd = close;
  }
  std::string dst(R.PR_Line.sub(dStart, dEnd - dStart + 1));
  long k = s.n_EqStart + 1;
  while (k <= R.PR_CommandLength && IsBlankOrTab(R.PR_Line(k))) ++k;
  long e = R.PR_CommandLength;
  while (e >= k && (IsBlankOrTab(R.PR_Line(e)) || R.PR_Line(e) == ';')) --e;
  std::string line(R.PR_Line.sub(1, dStart - 1));
  line += braced ? "@words_copy " : "@words_pad ";
  if (e >= k) line.append(R.PR_Line.sub(k, e - k + 1));
  line.push_back(',');
  line += dst;
  ReplaceLine(t, line);
  R.PR_CommandLength = std::min<long>(long(line.size()) + 1, kLineWidth);
}

// Kind of a temporary made for the row (an element fetched into "n0002"
// keeps the field's fixed-point kind); blank for any other word.
char TemporaryKind(const Translator& t, std::string_view word) {
  if (word.size() != 5) return ' ';
  for (const NewDataRecord& r : t.NewDataTable)
    if (r.ND_Entry.sub(16, 5) == word) return r.ND_Type;
  return ' ';
}

// Numeric assignment: "@INTEGERS_CALC" or "@NUMBERS_CALC".
void C2514_Calculation(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  char type = s.w_dstType;
  long eq = s.n_EqStart;
  if (type == 'I') {
    if (R.PR_Line.find('.') != 0) {
      type = 'N';
    } else {
      long k = eq + 1;
      while (k <= R.PR_CommandLength && IsBlankOrTab(R.PR_Line(k))) ++k;
      long e = k;
      bool special = false;
      while (e <= R.PR_CommandLength && !IsBlankOrTab(R.PR_Line(e))) {
        char c = R.PR_Line(e);
        if (c == '{' || c == '\'' || c == '"') {
          special = true;
          break;
        }
        ++e;
      }
      if (special) {
        type = 'N';
      } else {
        std::string_view word = R.PR_Line.sub(k, e - k);
        char w = TypeOf(t, word);
        if (w == ' ') w = TemporaryKind(t, word);
        type = w == ' ' ? 'I' : (w == 'W' ? 'N' : w);
      }
    }
  }
  s.w_Operator = R.PR_Line(eq + 1);
  bool compound = s.w_Operator == '+' || s.w_Operator == '-' || s.w_Operator == '*' ||
                  s.w_Operator == '/';
  std::string dstName(R.PR_Line.sub(s.n_dstStart, s.n_dstLen));
  EnsureRoom(t, 15);
  R.PR_Line.insert(s.n_dstStart, "@INTEGERS_CALC ");
  R.PR_CommandLength += 15;
  eq += 15;
  long dEnd = s.n_dstEnd + 15;
  if (compound) {
    // destination =op operand  ->  destination,=,destination,op,operand
    if (IsBlankOrTab(R.PR_Line(dEnd + 1))) {
      R.PR_Line(dEnd + 1) = ',';
      // The rest of the blanks before the "=" go: the comma step would make
      // a second comma of them (an element's name leaves such a run).
      long run = 0;
      while (dEnd + 2 + run < eq && IsBlankOrTab(R.PR_Line(dEnd + 2 + run))) ++run;
      if (run) {
        R.PR_Line.erase(dEnd + 2, run);
        R.PR_CommandLength -= run;
        eq -= run;
      }
    } else if (R.PR_Line(dEnd + 1) != ',') {
      EnsureRoom(t, 1);
      R.PR_Line.insert(dEnd + 1, ",");
      ++R.PR_CommandLength;
      ++eq;
    }
    std::string ins = "," + dstName + ",";
    EnsureRoom(t, long(ins.size()));
    R.PR_Line.insert(eq + 1, ins);
    R.PR_CommandLength += long(dstName.size()) + 2;
    long op = eq + 1 + long(ins.size());
    if (IsBlankOrTab(R.PR_Line(op + 1))) {
      R.PR_Line(op + 1) = ',';
    } else {
      // An operand written directly after the operator keeps its first
      // character.
      EnsureRoom(t, 1);
      R.PR_Line.insert(op + 1, ",");
      ++R.PR_CommandLength;
    }
  } else if (!IsBlankOrTab(s.w_Operator) && eq < R.PR_CommandLength) {
    // "=" written directly against its source: set the source off so that it
    // becomes an operand of its own.
    EnsureRoom(t, 1);
    R.PR_Line.insert(eq + 1, " ");
    ++R.PR_CommandLength;
  }
  if (type == 'N' || compound) R.PR_Line.put(s.n_dstStart, "@NUMBERS_CALC ");
}

void C251_CompareDataDefinitions(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  long i = 1;
  s.n_dstBrace = 0;
  for (; i <= R.PR_CommandLength; ++i) {
    char c = R.PR_Line(i);
    if (c == '{')
      s.n_dstBrace = i;
    else if (IsBlankOrTab(c))
      s.n_dstBrace = 0;
    else
      break;
  }
  if (s.n_dstBrace && s.n_dstBrace != i - 1) s.n_dstBrace = 0;
  long e = i;
  while (e <= R.PR_CommandLength) {
    char c = R.PR_Line(e);
    if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '[' || c == '{') break;
    ++e;
  }
  s.n_dstStart = i;
  s.n_dstEnd = e - 1;
  s.n_dstLen = e - i;
  if (s.n_dstLen <= 0) return;
  s.w_dstType = TypeOf(t, R.PR_Line.sub(s.n_dstStart, s.n_dstLen));
  if (s.w_dstType == ' ') return;
  if (C2511_f_Function(t)) return;
  if (C2512_f_Array(t)) return;
  if (s.w_dstType == 'W') {
    C2513_SwapFields(t);
    return;
  }
  C2514_Calculation(t);
}

}  // namespace

void C25_SetupCalc(Translator& t) {
  SecondPassState& s = t.p2;
  if (s.b_Assembler != 0 || s.b_Procedures != 1) return;
  long eq = FindInStatement(t, '=');
  if (eq == 0) return;
  s.n_EqStart = eq;
  C251_CompareDataDefinitions(t);
}

// ---------------------------------------------------------------------------
// Operand commas.

void C26_addCommas(Translator& t) {
  if (t.p2.b_Procedures != 1) return;
  ProgramRecord& R = t.PR;
  struct Entry {
    std::string_view text;
    long skip;
  };
  static constexpr Entry kEntries[] = {
      {"%IF", 0},     {"IF ", 2},     {"@_IF ", 4},    {"WHILE ", 5}, {"@_OR ", 4},
      {"@_AND ", 5},  {"@WHEN ", 5},  {"@_WHEN ", 6},  {"_CALC ", 5}, {"CALL", 4},
  };
  // Keywords are looked for only in the first 40 columns.
  char copy[41];
  for (long i = 1; i <= 40; ++i) copy[i - 1] = Upper(R.PR_Line(i));
  copy[40] = ' ';
  auto reads = [&](long i, std::string_view w) {
    for (std::size_t k = 0; k < w.size(); ++k) {
      long col = i + long(k);
      char c = col <= 40 ? copy[col - 1] : Upper(R.PR_Line(col));
      if (c != w[k]) return false;
    }
    return true;
  };
  char q = ' ';
  int found = -1;
  long at = 0;
  for (long i = 1; i <= 40 && found < 0; ++i) {
    p2::QuoteStep(q, copy[i - 1]);
    if (q != ' ') continue;
    char c = copy[i - 1];
    if (c != '%' && c != 'I' && c != '@' && c != 'W' && c != '_' && c != 'C') continue;
    for (int k = 0; k < int(std::size(kEntries)); ++k) {
      if (kEntries[k].text[0] == c && reads(i, kEntries[k].text)) {
        found = k;
        at = i;
        break;
      }
    }
  }
  if (found <= 0) return;  // no keyword, or "%IF"
  long j = at + kEntries[found].skip;
  while (j <= R.PR_CommandLength && IsBlankOrTab(R.PR_Line(j))) ++j;
  if (kEntries[found].text == "CALL") {
    while (j <= R.PR_CommandLength && !IsBlankOrTab(R.PR_Line(j))) ++j;
  }
  // Quote state up to the operands.
  q = ' ';
  for (long i = 1; i < j; ++i) p2::QuoteStep(q, R.PR_Line(i));
  bool inRun = false;
  for (long i = j; i <= R.PR_CommandLength; ++i) {
    char c = R.PR_Line(i);
    p2::QuoteStep(q, c);
    if (q == ' ' && IsBlankOrTab(c)) {
      if (!inRun) R.PR_Line(i) = ',';
      inRun = true;
    } else {
      inRun = false;
    }
  }
}
