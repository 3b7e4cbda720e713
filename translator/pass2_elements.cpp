// Second pass, element access: a row that names table elements (a field
// followed by an index in square brackets) or bracketed sub-expressions is
// turned into a generated macro that fetches the elements into plain items,
// computes the sub-expressions into temporaries, runs the statement and
// stores written elements back.  The row then calls that macro.
// Also the temporaries (NewDataTable) and the macro text slots (MacroTable).
#include <initializer_list>
#include <string>

#include "pass2.h"
#include "translator.h"

using qwt::Digits;
using qwt::IsBlankOrTab;
using qwt::Upper;

namespace {

void MacroLineTooLong(Translator& t) {
  t.Fatal("07: Statement is too long to rewrite on line no=" + p2::RowNo(t), 6);
}

// Appends `text` as the next line of the macro in hand.
void AppendMacroLine(Translator& t, std::string_view text) {
  if (long(qwt::TrimRight(text).size()) > kMacroLineWidth) MacroLineTooLong(t);
  t.MR.MR_MacroNo = t.p2.n_MacroNo;
  t.MR.MR_MacroLineItem.assign(text);
  X10_NextTextSlot(t);
}

// Contents of the bracket pair open..close without surrounding blanks.
std::string Contents(const Translator& t, long open, long close) {
  long a = open + 1, b = close - 1;
  while (a <= b && IsBlankOrTab(t.PR.PR_Line(a))) ++a;
  while (b >= a && IsBlankOrTab(t.PR.PR_Line(b))) --b;
  return std::string(t.PR.PR_Line.sub(a, b - a + 1));
}

// Upper-cased row, read outside quoted literals (and outside its comment).
bool ReadsOutsideQuotes(Translator& t, std::initializer_list<std::string_view> words) {
  Text<256> u;
  u.upperOf(t.PR.PR_Line);
  char q = ' ';
  for (long i = 1; i <= kLineWidth; ++i) {
    p2::QuoteStep(q, u(i));
    if (q != ' ') continue;
    for (auto w : words)
      if (u.at(i, w)) return true;
  }
  return false;
}

// Kind of the row's calculations when no point follows the first "[": a
// number ("N") as soon as one word inside is a declared fixed-point item.
void C231_CheckMatrix(Translator& t, long first) {
  ProgramRecord& R = t.PR;
  std::string word;
  auto endWord = [&] {
    bool isN = !word.empty() && p2::TypeOf(t, word) == 'N';
    word.clear();
    return isN;
  };
  for (long i = first + 1; i <= R.PR_CommandLength; ++i) {
    char c = R.PR_Line(i);
    if (c == '[') continue;
    if (c == ' ' || c == '+' || c == '-' || c == '*' || c == '/' || c == ']') {
      if (endWord()) {
        t.w_DataType = 'N';
        return;
      }
    } else {
      word.push_back(c);
    }
  }
  if (endWord()) t.w_DataType = 'N';
}

// How a table element of the row is handled.
struct Access {
  bool get = false;   // fetch before the statement
  bool put = false;   // store back after it
  bool temp = false;  // fetch into a temporary instead of the field itself
};

// Get or put for the element whose name starts at column `name`.
Access C2321121_GetOrPut(Translator& t, long name) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  Access a;
  bool later = s.n_ElementNo > 1;
  if (ReadsOutsideQuotes(t, {"IF", "@_OR", "@_AND", "_TEST", "@WHEN"})) {
    a.get = true;
    a.temp = later;
    return a;
  }
  long eq = R.PR_Line.find('=');
  if (eq && eq <= R.PR_CommandLength) {
    if (name > eq) {
      a.get = true;
      a.temp = later;
    } else {
      a.put = true;
      // A compound assignment reads its destination too.
      char op = R.PR_Line(eq + 1);
      a.get = op == '+' || op == '-' || op == '*' || op == '/';
    }
    return a;
  }
  Text<256> u;
  u.upperOf(R.PR_Line);
  if (u.contains("@CURSOR") || u.contains("@DISPLAY")) {
    a.get = true;
    a.temp = later;
  } else if (u.contains("@ACCEPT")) {
    a.put = true;
  } else if (u.contains("@INTEGERS") || u.contains("@NUMBERS")) {
    a.get = true;
    if (later)
      a.temp = true;
    else
      a.put = true;
  } else if (u.contains("@DATE_")) {
    if (later) {
      a.get = true;
      a.temp = true;
    } else {
      a.put = true;
    }
  } else if (u.contains("@WWW")) {
    if (u.contains("PROCESS")) {
      a.put = true;
    } else {
      a.get = true;
      a.temp = later;
    }
  } else if (u.contains("@TERMINATE")) {
    a.get = true;
    a.temp = later;
  } else if (u.contains("@WORDS")) {
    // First comma and last comma of the statement, up to a ";", braces
    // skipped.
    s.n_Comma1 = s.n_Comma2 = 0;
    bool brace = false;
    for (long i = 1; i <= R.PR_CommandLength; ++i) {
      char c = R.PR_Line(i);
      if (c == ';') break;
      if (c == '{') brace = true;
      if (c == '}') brace = false;
      if (!brace && c == ',') {
        if (!s.n_Comma1)
          s.n_Comma1 = i;
        else
          s.n_Comma2 = i;
      }
    }
    bool find = u.contains("_FIND");
    if (!s.n_Comma1) {
      a.get = a.put = true;
      a.temp = later;
    } else if (name < s.n_Comma1) {
      a.get = a.temp = true;
      s.n_ElementNo = 2;
    } else if (!s.n_Comma2) {
      a.put = true;
      s.n_ElementNo = 1;
    } else if (name < s.n_Comma2) {
      if (find) {
        a.put = true;
        s.n_ElementNo = 1;
      } else {
        a.get = a.temp = true;
      }
    } else {
      // After the last of two commas: the element may be read or written,
      // so it is fetched and stored back; an element before it may already
      // stand in the field's own item, so a later one works in a temporary.
      a.get = a.put = true;
      a.temp = later;
    }
  } else {
    // A statement whose direction is unknown (a CALL argument, a loop
    // limit ...) sees the element's current value and keeps what it leaves
    // there: fetched before, stored back after.
    a.get = a.put = true;
    a.temp = later;
  }
  return a;
}

// Fixed-column fetch line.
void C23211212_Get(Translator& t, std::string_view target, const std::string& index) {
  const DataNameRecord& D = t.DN;
  Text<124> m;
  m.put(1, D.DN_TableType == 'X' ? "@XTABLES_fget " : "@TABLES_fget ");
  m.put(15, D.DN_Table.view());
  m.put(46, ",");
  m.put(47, Digits(D.DN_No, 4));
  m.put(51, ",");
  m.put(52, target);
  m.put(84, ",");
  if (85 + long(index.size()) - 1 > kMacroLineWidth) MacroLineTooLong(t);
  m.put(85, index);
  AppendMacroLine(t, m.view());
}

// Store-back line, kept until the statement has been appended.
void C23211213_Put(Translator& t, std::string_view name, const std::string& index) {
  const DataNameRecord& D = t.DN;
  std::string line(D.DN_TableType == 'X' ? "@XTABLES_fput " : "@TABLES_fput ");
  line.resize(14, ' ');
  line.append(D.DN_Table.view());
  line.resize(45, ' ');
  line += ",";
  line += Digits(D.DN_No, 4);
  line += ",";
  line.append(name);
  line = std::string(qwt::TrimRight(line));
  line += ",";
  line += index;
  if (long(line.size()) > kMacroLineWidth) MacroLineTooLong(t);
  t.p2.w_Last_MacroLineItem.push_back(line);
}

// Replaces the element (name start .. close) by its plain item; returns the
// column where the replaced text now ends.
long C2321122_InsertElement(Translator& t, long close, std::string_view item, bool temp) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  long start = s.n_StartElementName;
  long L = close - start + 1;
  long grow = 0;
  if (L == 4)
    grow = 1;
  else if (temp && L < 5)
    grow = 5 - L;  // room for the five-character name of a temporary
  if (grow) {
    p2::EnsureRoom(t, grow);
    R.PR_Line.insertBlanks(start, grow);
    R.PR_CommandLength += grow;
    L += grow;
  }
  R.PR_Line.blank(start, L);
  R.PR_Line.put(start, item.substr(0, std::size_t(L)));
  return start + L - 1;
}

// When the bracket open..close is a table element, handles it and returns
// true with `end` set to where the replaced text ends.
bool C23211_f_TableElement(Translator& t, long open, long close, long& end) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  for (long i = open + 1; i < close; ++i) {
    char c = R.PR_Line(i);
    if (c == '+' || c == '-' || c == '*' || c == '/') return false;
  }
  long ws = open - 1;
  while (ws >= 1) {
    char c = R.PR_Line(ws);
    if (IsBlankOrTab(c) || c == '[' || c == ',' || c == '{') break;
    --ws;
  }
  ++ws;
  std::string name(R.PR_Line.sub(ws, open - ws));
  if (p2::TypeOf(t, name) == ' ') return false;
  const DataNameRecord field = t.DN;
  t.w_DataType = field.DN_Type;
  t.b_TableElement = 1;
  ++s.n_ElementNo;
  s.n_StartElementName = ws;
  s.n_ElementLength = long(name.size());
  std::string index = Contents(t, open, close);
  Access a = C2321121_GetOrPut(t, ws);
  std::string item(field.DN_Name.trimmed());
  if (a.get) {
    if (a.temp) {
      X8_NewData(t);
      item = std::string(t.ND.ND_Entry.sub(16, 5));
      t.DN = field;
    }
    C23211212_Get(t, a.temp ? std::string_view(item) : field.DN_Name.view(), index);
  }
  if (a.put) {
    // A later element of the row works in its temporary and is stored back
    // from there.
    C23211213_Put(t, a.temp ? std::string_view(item) : std::string_view(name), index);
    R.PR_Line.blank(open, close - open + 1);
  }
  end = C2321122_InsertElement(t, close, item, a.temp);
  return true;
}

// A closing bracket: a table element or a sub-expression computed into a
// temporary.  Returns the column where the replaced text now ends.
long C2321_BuildIt(Translator& t, long open, long close) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  s.b_CreatedMacro = 1;
  t.b_TableElement = 0;
  long end = close;
  if (C23211_f_TableElement(t, open, close, end)) return end;
  X8_NewData(t);
  std::string name(t.ND.ND_Entry.sub(16, 5));
  bool numbers = t.w_DataType == 'N';
  std::string contents = Contents(t, open, close);
  Text<124> m;
  m.put(1, numbers ? "@NUMBERS_CALC" : "@INTEGERS_CALC");
  m.put(16, name);
  m.put(21, ",=,");
  if (23 + long(contents.size()) > kMacroLineWidth) MacroLineTooLong(t);
  m.put(24, contents);
  AppendMacroLine(t, m.view());
  long width = close - open + 1;
  if (width < 5) {
    // Widen a short bracket so that the temporary's name does not run over
    // the text that follows it.
    long grow = 5 - width;
    p2::EnsureRoom(t, grow);
    R.PR_Line.insertBlanks(close, grow);
    R.PR_CommandLength += grow;
    close += grow;
  }
  R.PR_Line.blank(open, close - open + 1);
  R.PR_Line.put(open, name);
  R.PR_CommandLength += numbers ? 13 : 14;
  return close;
}

// Bracket scan: inner brackets are handled before the brackets around them.
void C232_RecurseThruLine(Translator& t) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  char q = ' ';
  t.OB_OpenBracketDepth = 0;
  t.OB_OpenBracket = 0;
  for (long i = 1; i <= R.PR_CommandLength && i <= kLineWidth; ++i) {
    s.n_CharPos = i;
    p2::QuoteStep(q, R.PR_Line(i));
    if (q != ' ') continue;
    char c = R.PR_Line(i);
    if (c == '[') {
      ++s.n_NoOfOpenSQBrackets;
      if (t.OB_OpenBracketDepth >= kOpenBracketTableCapacity)
        t.Fatal("06: Square brackets are nested more than 32 deep on line no=" + p2::RowNo(t), 5);
      ++t.OB_OpenBracketDepth;
      t.OpenBracketTable[std::size_t(t.OB_OpenBracketDepth)] = i;
      t.OB_OpenBracket = i;
    } else if (c == ']') {
      ++s.n_NoOfCloseSQBrackets;
      if (t.OB_OpenBracketDepth == 0) continue;  // stray: reported after the row
      i = C2321_BuildIt(t, t.OB_OpenBracket, i);
      --t.OB_OpenBracketDepth;
      t.OB_OpenBracket =
          t.OB_OpenBracketDepth ? t.OpenBracketTable[std::size_t(t.OB_OpenBracketDepth)] : 0;
    }
  }
}

// The row's own statement, its elements replaced, as the macro's next line,
// followed by its store-back lines.
void C233_OriginalLine(Translator& t) {
  ProgramRecord& R = t.PR;
  C25_SetupCalc(t);
  long start = 1;
  while (start <= kLineWidth && IsBlankOrTab(R.PR_Line(start))) ++start;
  // The statement ends before its comment.
  long end = start - 1;
  char q = ' ';
  for (long i = start; i <= kLineWidth; ++i) {
    p2::QuoteStep(q, R.PR_Line(i));
    if (q == ';') break;
    if (!IsBlankOrTab(R.PR_Line(i))) end = i;
  }
  if (end - start + 1 > kMacroLineWidth) MacroLineTooLong(t);
  AppendMacroLine(t, R.PR_Line.sub(start, end - start + 1));
  for (const std::string& line : t.p2.w_Last_MacroLineItem) AppendMacroLine(t, line);
  t.p2.w_Last_MacroLineItem.clear();
}

}  // namespace

void C23_CreateMacro(Translator& t, long I) {
  SecondPassState& s = t.p2;
  ProgramRecord& R = t.PR;
  if (s.b_Procedures == 0 || s.b_Assembler == 1 || s.b_Macro == 1) return;
  if (t.w_UBuffer.contains("SECTION")) return;
  if (R.PR_Line.find('.', I + 1)) {
    t.w_DataType = 'N';
  } else {
    t.w_DataType = 'I';
    C231_CheckMatrix(t, I);
  }
  if (s.n_MacroNo >= 999)
    t.Fatal("09: More than 999 generated macros on line no=" + p2::RowNo(t), 8);
  ++s.n_MacroNo;
  for (NewDataRecord& r : t.NewDataTable) r.ND_ReUsable = ' ';
  // The row as the statement reads before its elements are replaced; it
  // stays behind the macro call as a comment.
  t.RefreshUBuffer();
  Text<256> source = t.w_UBuffer;
  s.n_CharPos = 0;
  s.n_ElementNo = 0;
  s.w_Last_MacroLineItem.clear();
  C232_RecurseThruLine(t);
  if (s.n_NoOfOpenSQBrackets != s.n_NoOfCloseSQBrackets)
    t.Fatal("06: Square brackets are not balanced on line no=" + p2::RowNo(t), 5);
  C233_OriginalLine(t);
  if (s.b_CreatedMacro == 1) {
    std::string call = "m" + Digits(s.n_MacroNo, 3) + " ; ";
    long at = std::max<long>(t.n_CommandPosition, 1);
    source.insert(at, call);
    R.PR_Line.assign(source.first(kLineWidth));
    R.PR_CommandLength = std::min<long>(R.PR_CommandLength + 7, kLineWidth);
    R.PR_LineLength = R.PR_CommandLength;
    R.PR_Type = 'M';
  }
}

// ---------------------------------------------------------------------------
// Temporaries.

namespace {

// Length declared by a word temporary (columns 22-27 of its entry).
long StoredLength(const NewDataRecord& r) {
  long v = 0;
  for (long i = 22; i <= 27; ++i) {
    char c = r.ND_Entry(i);
    if (qwt::IsDigit(c)) v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

void X8_NewData(Translator& t) {
  SecondPassState& s = t.p2;
  char kind = t.w_DataType;
  // The picture the temporary is declared with: the element's own picture,
  // else the default fixed-point picture for numbers and none for integers.
  std::string_view pic;
  if (kind == 'I')
    pic = t.b_TableElement ? t.DN.DN_Picture.trimmed() : std::string_view();
  else if (kind == 'N')
    pic = t.b_TableElement ? t.DN.DN_Picture.trimmed() : t.w_FP_Picture.trimmed();
  long length = t.DN.DN_Length;
  for (NewDataRecord& r : t.NewDataTable) {
    if (r.ND_Type != kind || r.ND_ReUsable != ' ') continue;
    bool match = false;
    if (kind == 'I' || kind == 'N')
      match = qwt::TrimRight(r.ND_Entry.sub(24, 62 - 23)) == pic;
    else if (kind == 'W')
      match = StoredLength(r) == length;
    if (!match) continue;
    r.ND_ReUsable = 'N';
    t.ND = r;
    return;
  }
  NewDataRecord& N = t.ND;
  N.ND_Name.clear();
  N.ND_FunctionName.clear();
  N.ND_Type = kind;
  N.ND_ReUsable = 'N';
  N.ND_Entry.clear();
  N.ND_Entry(1) = '\t';
  if (kind == 'I') {
    N.ND_Entry.put(2, "@insertnumber i0000,0");
    if (t.b_TableElement) {
      N.ND_Entry.put(23, ",");
      N.ND_Entry.put(24, pic);
    }
  } else if (kind == 'N') {
    N.ND_Entry.put(2, "@insertnumber n0000,0,");
    N.ND_Entry.put(24, pic);
  } else if (kind == 'W') {
    N.ND_Entry.put(2, "@insertword   a0000,000000,' '");
    std::string len = std::to_string(length < 0 ? 0 : length % 1000000);
    N.ND_Entry.put(22, std::string(6 - len.size(), ' ') + len);
  }
  ++s.n_NDNo;
  N.ND_Entry.put(17, Digits(s.n_NDNo, 4));
  if (s.n_NDNo > s.n_HighestNDNo) s.n_HighestNDNo = s.n_NDNo;
  X9_NextNewDataSlot(t);
}

void X9_NextNewDataSlot(Translator& t) {
  SecondPassState& s = t.p2;
  if (s.n_NDIdx + 1 > kNewDataTableCapacity)
    t.Fatal("08: D_X1_NextNewDataSlot:New Data Table Overflow", 7);
  ++s.n_NDIdx;
  t.NewDataTable.push_back(t.ND);
}

void X10_NextTextSlot(Translator& t) {
  SecondPassState& s = t.p2;
  if (s.n_TextIdx + 1 > kMacroTableCapacity)
    t.Fatal("09: X10_NextTextSlot:MacroRecord Table Overflow", 8);
  ++s.n_TextIdx;
  t.MacroTable.push_back(t.MR);
}
