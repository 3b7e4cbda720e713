// Second pass, fixed point: declaration values rescaled to their picture
// and decimal literals of statements turned into inline literals that carry
// their own picture, so that no decimal point reaches the assembler.
#include <string>

#include "pass2.h"
#include "translator.h"

using qwt::IsBlankOrTab;
using qwt::IsDigit;

namespace {

// Work areas of a literal: its stripped text is at most this long, and a
// 64-bit value holds at most 19 digits.
constexpr long kLiteralWidth = 26;
constexpr long kMaxDigits = 19;

void CheckLiteralSize(Translator& t) {
  const SecondPassState& s = t.p2;
  if (s.n_litNumbers > kMaxDigits || long(s.w_newLit.size()) > kLiteralWidth)
    t.Fatal("50: Literal contains more than 19 digits=" + p2::RowNo(t), 50);
}

// Characters that may stand next to the point of a literal.
bool ValidAdjacent(char c) {
  return IsDigit(c) || c == ' ' || c == ',' || c == '-' || c == '\t' || c == '\n';
}

// Column of the first occurrence of any decision word (exact case), 0 if
// none.
long FirstDecisionWord(const Translator& t) {
  static constexpr std::string_view kWords[] = {"IF", "OR", "AND", "WHEN", "WHILE"};
  long best = 0;
  for (auto w : kWords) {
    long p = t.PR.PR_Line.find(w);
    if (p && (!best || p < best)) best = p;
  }
  return best;
}

}  // namespace

void C22_FixedPoint(Translator& t) {
  long p = t.w_UBuffer.find("@INSERTNUMBER");
  if (p && p <= t.PR.PR_CommandLength) C221_FP_inMatrix(t);
  if (t.p2.b_Procedures == 1 && t.p2.b_Assembler == 0) C222_FP_inProcedure(t);
}

void C2211_BuildLiteral(Translator& t) {
  SecondPassState& s = t.p2;
  s.w_newLit.clear();
  s.n_litPlaces = 0;
  s.n_litNumbers = 0;
  s.w_litPlace = 0;
  for (long i = s.n_StartLit; i <= s.n_endLit; ++i) {
    char c = t.PR.PR_Line(i);
    if (c == '-') {
      s.w_newLit.push_back('-');
    } else if (c == '.') {
      s.w_litPlace = 1;
    } else if (IsDigit(c)) {
      s.w_newLit.push_back(c);
      ++s.n_litNumbers;
      if (s.w_litPlace) ++s.n_litPlaces;
    }
  }
}

// "@INSERTNUMBER name, value, picture": the value is written as a count of
// the picture's smallest units, without its point.
void C221_FP_inMatrix(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  long end = R.PR_CommandLength;
  long c1 = R.PR_Line.find(',');
  if (c1 == 0 || c1 >= end) return;
  long vs = c1 + 1;
  while (vs <= end && IsBlankOrTab(R.PR_Line(vs))) ++vs;
  if (vs > end) return;
  bool point = false;
  for (long i = vs; i <= end && !point; ++i) point = R.PR_Line(i) == '.';
  if (!point) return;
  if (R.PR_Line(vs) == ',') return;  // no value written
  long c2 = R.PR_Line.find(',', vs);
  if (c2 == 0 || c2 > end)
    t.Fatal("04: Line No=" + p2::RowNo(t) + " Fixed Point number must provide a picture", 4);
  long ve = c2 - 1;
  // A value that is not a numeric literal (a name, an expression) is left
  // for the assembler to judge rather than stripped to its digits.
  for (long i = vs; i <= ve; ++i) {
    char c = R.PR_Line(i);
    if (!(IsDigit(c) || c == '.' || c == '-' || c == '+' || IsBlankOrTab(c))) return;
  }
  // Decimal places of the picture: its nines and hashes after its point.
  s.n_picPlaces = 0;
  long dp = R.PR_Line.find('.', c2);
  if (dp && dp <= end) {
    for (long i = dp; i <= end; ++i) {
      char c = R.PR_Line(i);
      if (c == '9' || c == '#') ++s.n_picPlaces;
    }
  }
  s.n_StartLit = vs;
  s.n_endLit = ve;
  C2211_BuildLiteral(t);
  if (s.n_litNumbers == 0) return;
  if (s.n_litPlaces < s.n_picPlaces) {
    long add = s.n_picPlaces - s.n_litPlaces;
    s.w_newLit.append(std::size_t(add), '0');
    s.n_litNumbers += add;
  } else if (s.n_litPlaces > s.n_picPlaces) {
    long drop = std::min<long>(s.n_litPlaces - s.n_picPlaces, long(s.w_newLit.size()));
    s.w_newLit.resize(s.w_newLit.size() - std::size_t(drop));
    s.n_litNumbers -= drop;
  }
  CheckLiteralSize(t);
  s.n_oldLitlen = ve - vs + 1;
  long newLen = long(s.w_newLit.size());
  if (newLen > s.n_oldLitlen) {
    long grow = newLen - s.n_oldLitlen;
    p2::EnsureRoom(t, grow);
    R.PR_Line.insertBlanks(vs, grow);
    R.PR_CommandLength += grow;
    s.n_oldLitlen = newLen;
  }
  R.PR_Line.blank(vs, s.n_oldLitlen);
  R.PR_Line.put(vs, s.w_newLit);
}

// Decimal points of literals in a statement, outside quotes and outside
// brace groups (except the first group of a decision row).
void C222_FP_inProcedure(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  s.n_exception = 0;
  // Only a point can start a literal: most rows have none.
  long dot = R.PR_Line.find('.');
  if (dot == 0 || dot > R.PR_CommandLength) return;
  char q = ' ';
  t.w_Brace = ' ';
  for (long i = 1; i <= R.PR_CommandLength; ++i) {
    char c = R.PR_Line(i);
    p2::QuoteStep(q, c);
    // Brace state (X2_CheckBraces): "<" and ">" count as braces.
    if (c == '{' || c == '<')
      t.w_Brace = '{';
    else if (c == '}' || c == '>')
      t.w_Brace = '>';
    else if (t.w_Brace == '}' || t.w_Brace == '>')
      t.w_Brace = ' ';
    if (q != ' ') continue;
    if (s.n_exception == 0 && c == '{') {
      long d = FirstDecisionWord(t);
      if (d && d < i) {
        t.w_Brace = ' ';
        s.n_exception = 1;
      }
    }
    if (c == '.' && t.w_Brace == ' ') {
      s.n_dpPos = i;
      if (ValidAdjacent(R.PR_Line(i - 1)) && ValidAdjacent(R.PR_Line(i + 1))) C2222_FP_Expand(t);
    }
  }
}

// The literal around n_dpPos becomes "{digits,'picture'}".
void C2222_FP_Expand(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  auto litChar = [](char c) { return c == '.' || c == '-' || IsDigit(c); };
  long start = s.n_dpPos;
  while (start > 1 && litChar(R.PR_Line(start - 1))) --start;
  long end = s.n_dpPos;
  while (end < R.PR_CommandLength && (R.PR_Line(end + 1) == '.' || IsDigit(R.PR_Line(end + 1))))
    ++end;
  s.n_StartLit = start;
  s.n_endLit = end;
  C2211_BuildLiteral(t);
  if (s.n_litNumbers == 0) return;  // a point on its own is no number
  CheckLiteralSize(t);

  // The picture, built from the right in columns 1..31.
  char* pic = s.w_NewPic;
  for (int k = 0; k < 32; ++k) pic[k] = ' ';
  pic[30] = '\'';
  pic[31] = '}';
  s.n_newPicPos = R.PR_Line(start) == '-' ? 28 : 29;
  s.n_DPFlag = 0;
  s.n_numCtr = 0;
  auto write = [&](char c) {
    // Two columns stay free for the ",'" that opens the picture.
    if (s.n_newPicPos < 3) t.Fatal("50: Literal contains more than 19 digits=" + p2::RowNo(t), 50);
    pic[s.n_newPicPos--] = c;
  };
  for (long k = end; k >= start; --k) {
    char c = R.PR_Line(k);
    if (c == '-') {
      pic[29] = '-';
    } else if (c == '.') {
      write('.');
      s.n_DPFlag = 1;
    } else if (s.n_DPFlag == 0) {
      write('9');
    } else if (s.n_DPFlag == 1) {
      write('9');
      s.n_DPFlag = 2;
      s.n_numCtr = 1;
    } else {
      if (++s.n_numCtr == 4) {
        write(',');
        s.n_numCtr = 1;
      }
      write('#');
    }
  }
  long tailStart = s.n_newPicPos - 1;
  pic[tailStart] = ',';
  pic[tailStart + 1] = '\'';
  std::string tail(pic + tailStart, std::size_t(31 - tailStart + 1));

  // "{" and the digits take the literal's place; the picture follows them.
  std::string lit = "{" + s.w_newLit;
  long oldLen = end - start + 1;
  long grow = long(lit.size() + tail.size()) - oldLen;
  p2::EnsureRoom(t, grow);
  R.PR_Line.erase(start, oldLen);
  R.PR_Line.insert(start, lit + tail);
  R.PR_CommandLength += grow;
  t.RefreshUBuffer();
  t.DN.DN_Picture.assign(std::string_view(pic + 1, 30));
  X11_CheckPicture(t);
}
