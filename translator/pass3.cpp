// Third pass: writes NAME.ASM from the program table, with the temporaries
// after the dictionary and matrix anchors, the generated macros before the
// instructions anchor, debug markers and inlined word copies in the
// instruction part, and the MASM dialect when the source asks for it.
#include "pass2.h"
#include "translator.h"

using qwt::Digits;
using qwt::IsBlankOrTab;
using qwt::IsSpaceLf;

namespace {

// Writes the first n columns of PR_Line.
void WritePR(Translator& t, long n) { t.WriteLine(t.PR.PR_Line.first(n)); }

// Quote state over columns 1..i of a line (the line may have changed since
// the last look, so the state is worked out afresh).
template <std::size_t N>
bool OutsideQuotes(Translator& t, const Text<N>& line, long i) {
  t.w_Quote = ' ';
  for (long k = 1; k <= i; ++k) X1_CheckQuoteChar(t, line(k));
  return t.w_Quote == ' ';
}

void ClampCommand(Translator& t) {
  t.PR.PR_CommandLength = std::clamp<long>(t.PR.PR_CommandLength, 0, kLineWidth);
}

// The MASM form of a line may be longer than its NASM form; a statement that
// would no longer fit the line ends the run instead of losing its end.
[[noreturn]] void LineTooLong(Translator& t) {
  t.Fatal("07: Statement is too long to rewrite on line no=" + Digits(t.n_LineCtr, 6), 6);
}

// Only written text counts: a command length that runs into trailing blanks
// (a macro header's) loses nothing when those blanks go.
void RoomFor(Translator& t, long extra) {
  long last = std::min<long>(t.PR.PR_CommandLength, t.PR.PR_Line.lastNonBlank());
  if (last + extra > kLineWidth) LineTooLong(t);
}

}  // namespace

// ---------------------------------------------------------------------------
// Temporaries.

void D3_WriteNewData(Translator& t) {
  static constexpr std::string_view kBegin[] = {
      ";(BEGIN):Temporary Words by Quillwright", ";(BEGIN):Temporary Integers by Quillwright",
      ";(BEGIN):Temporary FixedPoint numbers by Quillwright"};
  static constexpr std::string_view kEnd[] = {
      ";(END..):Temporary Words by Quillwright", ";(END..):Temporary Integers by Quillwright",
      ";(END..):Temporary FixedPoint numbers by Quillwright"};
  static constexpr char kKind[] = {'W', 'I', 'N'};
  if (t.J < 1 || t.J > 3) return;
  int k = t.J - 1;
  t.WriteLine(" ");
  t.WriteLine(kBegin[k]);
  for (const NewDataRecord& r : t.NewDataTable)
    if (r.ND_Type == kKind[k]) t.WriteLine(r.ND_Entry.view());
  t.WriteLine(kEnd[k]);
}

// ---------------------------------------------------------------------------
// Generated macros.

void D41_BeginMacro(Translator& t) {
  t.n_CurrentMacroNo = t.MR.MR_MacroNo;
  t.WriteLine(" ");
  if (t.b_Windows == 1)
    t.WriteLine("m" + Digits(t.MR.MR_MacroNo, 3) + " MACRO");
  else
    t.WriteLine("%macro m" + Digits(t.MR.MR_MacroNo, 3) + " 0");
}

void D42_EndMacro(Translator& t) { t.WriteLine(t.b_Windows == 1 ? "ENDM" : "%endmacro"); }

void D43_CompressLine(Translator& t) {
  Text<124>& line = t.MR.MR_MacroLineItem;
  long blank = line.find(' ');
  long i = blank ? blank + 1 : 1;
  while (i <= 124) {
    while (i < 125 && !(IsBlankOrTab(line(i)) && OutsideQuotes(t, line, i))) ++i;
    long target = i;
    if (i < 125) {
      while (i < 125 && IsBlankOrTab(line(i))) ++i;
      long source = i;
      if (i < 125 && source > target) {
        line.erase(target, source - target);
        i = target - 1;
      }
    }
    ++i;
  }
  line.insert(1, "\t");
}

void D4_WriteMacros(Translator& t) {
  t.WriteLine(" ");
  t.WriteLine(";(BEGIN):Macros created by Quillwright");
  Text<249> savedLine = t.PR.PR_Line;
  long savedLength = t.PR.PR_CommandLength;
  t.n_SaveLength = savedLength;
  t.w_saveLine.assign(savedLine);
  for (long n = 1; n <= t.MacroTable_UBOUND(); ++n) {
    t.n_TextIdx = n;
    t.MR = t.MacroTable[std::size_t(n - 1)];
    t.PR.PR_Line.assign(t.MR.MR_MacroLineItem.view());
    t.PR.PR_CommandLength = t.MR.MR_MacroLineItem.lastNonBlank(124);
    C26_addCommas(t);
    t.MR.MR_MacroLineItem.assign(t.PR.PR_Line.view());
    if (t.n_CurrentMacroNo == 0) D41_BeginMacro(t);
    if (t.MR.MR_MacroNo != t.n_CurrentMacroNo) {
      D42_EndMacro(t);
      D41_BeginMacro(t);
    }
    D43_CompressLine(t);
    if (t.b_Windows == 1) {
      t.PR.PR_Line.assign(t.MR.MR_MacroLineItem.view());
      t.RefreshUBuffer();
      t.PR.PR_CommandLength = t.MR.MR_MacroLineItem.lastNonBlank(124);
      D2_MASM(t);
      // A generated line that its MASM form makes longer than a macro line
      // holds ends the run rather than losing its last operands.
      if (t.PR.PR_Line.lastNonBlank() > kMacroLineWidth)
        t.Fatal("07: Macro line is too long to rewrite in m" + Digits(t.MR.MR_MacroNo, 3), 6);
      t.MR.MR_MacroLineItem.assign(t.PR.PR_Line.view());
    }
    t.WriteLine(t.MR.MR_MacroLineItem.view());
  }
  t.PR.PR_Line = savedLine;
  t.PR.PR_CommandLength = savedLength;
  if (t.n_CurrentMacroNo != 0) D42_EndMacro(t);
  t.WriteLine(";(END)..:Macros created by Quillwright");
  t.WriteLine(" ");
}

// ---------------------------------------------------------------------------
// MASM dialect.

void D1_MASM_LoadSynonyms(Translator& t) {
  auto add = [&](std::string_view from, std::string_view to) {
    t.SR.Synonym.assign(from);
    t.SR.lenSynonym = long(from.size());
    t.SR.Original.assign(to);
    t.SR.lenOriginal = long(to.size());
    X4_PutXtable(t);
  };
  add("!=", "_NEQ");
  add("!<", "_NLT");
  add("!>", "_NGT");
  add(">=", "_NLT");
  add("=>", "_NLT");
  add("<=", "_NGT");
  add("=<", "_NGT");
  add("=", "_EQ");
  add(">", "_GT");
  add("<", "_LT");
  static constexpr std::string_view kConstants[] = {
      "C_TRUE",          "C_FALSE",         "C_RETURN",        "C_FUNCTIONKEY1",
      "C_FUNCTIONKEY2",  "C_FUNCTIONKEY3",  "C_FUNCTIONKEY4",  "C_FUNCTIONKEY5",
      "C_FUNCTIONKEY6",  "C_FUNCTIONKEY7",  "C_FUNCTIONKEY8",  "C_FUNCTIONKEY9",
      "C_FUNCTIONKEY10", "C_FUNCTIONKEY11", "C_FUNCTIONKEY12", "C_ALT",
      "C_ARROWUP",       "C_ARROWDOWN",     "C_ARROWRIGHT",    "C_ARROWLEFT",
      "C_END",           "C_HOME",          "C_INSERT",        "C_ENDOFFIELD",
      "C_ESCAPE",        "C_BACKSPACE",     "C_NONE"};
  for (std::string_view c : kConstants) add(c, "%c" + std::string(c.substr(1)));
  add("SECTION .DATA", ".DATA");
  add("SECTION .BSS", ".DATA?");
  add("SECTION .TEXT", ".CODE");
  add("%MACRO", "STARTMACRO");
  add("%IMACRO", "STARTMACRO");
  add("%ENDMACRO", "ENDM");
  for (int k = 1; k <= 8; ++k)
    add("%" + std::to_string(k), "_arg" + std::to_string(k));
}

namespace {

// Turns the first quote `q` of the line into "<" and the next into ">".
void D21_Include(Translator& t, char q) {
  long p1 = t.PR.PR_Line.find(q);
  if (!p1) return;
  t.PR.PR_Line(p1) = '<';
  long p2 = t.PR.PR_Line.find(q, p1 + 1);
  if (!p2) return;
  t.PR.PR_Line(p2) = '>';
}

// A %define/%idefine at column i.  Returns the column of the blank before
// " EQU " when an EQU line was made, else 0.
long D22_ConvertConstants(Translator& t, long i) {
  t.n_beginAt = i + 8;
  t.w_Char1 = ' ';
  X7_ExtractText(t);
  if (!t.n_Start) return 0;
  std::string name(t.PR.PR_Line.sub(t.n_Start, t.n_Length));
  long afterName = t.n_Start + t.n_Length;
  long cl = t.PR.PR_CommandLength;
  // A quoted value: single quotes first, double quotes failing that.
  long open = 0;
  for (char q : {'\'', '"'}) {
    long p = t.PR.PR_Line.find(q, afterName);
    if (p && p <= cl) {
      open = p;
      break;
    }
  }
  if (open) {
    char q = t.PR.PR_Line(open);
    long close = t.PR.PR_Line.find(q, open + 1);
    if (!close || close > cl) return 0;  // unterminated text: left as written
    std::string value = "<" + std::string(t.PR.PR_Line.sub(open, close - open + 1)) + ">";
    std::string line = name + " TEXTEQU " + value;
    if (long(line.size()) > kLineWidth) LineTooLong(t);
    t.PR.PR_Line.assign(line);
    t.PR.PR_CommandLength = std::max<long>(cl + 2, long(line.size()));
    ClampCommand(t);
    return 0;
  }
  t.n_beginAt = afterName;
  X7_ExtractText(t);
  std::string value;
  if (t.n_Start) value = std::string(t.PR.PR_Line.sub(t.n_Start, cl - t.n_Start + 1));
  bool number = !value.empty() && value.size() <= 9 &&
                std::all_of(value.begin(), value.end(), qwt::IsDigit);
  if (number) {
    // Leading zeros past nine digits would not change the value either.
    value = Digits(std::stol(value), 9);
  } else if (!value.empty() && std::all_of(value.begin(), value.end(), qwt::IsDigit)) {
    std::size_t nz = value.find_first_not_of('0');
    std::string sig = nz == std::string::npos ? "0" : value.substr(nz);
    if (sig.size() <= 9) value = Digits(std::stol(sig), 9);
  }
  std::string line = name + " EQU " + value;
  t.PR.PR_Line.assign(line);
  t.PR.PR_CommandLength = long(line.size());
  ClampCommand(t);
  return long(name.size()) + 1;
}

void D23_InsertConstants(Translator& t) {
  t.n_beginAt = 1;
  t.w_Char1 = ' ';
  X7_ExtractText(t);
  if (!t.n_Start) return;
  std::string_view name = t.PR.PR_Line.sub(t.n_Start, t.n_Length);
  t.DN.DN_TableType = ' ';
  t.DN.DN_Table.clear();
  t.DN.DN_Record.clear();
  t.DN.DN_No = 0;
  t.DN.DN_Picture.clear();
  t.DN.DN_Type = 'K';
  t.DN.DN_Name.assign(name);
  t.DN.DN_Length = long(name.size());
  X3_PutXtable(t);
  t.w_ConstantRows.push_back(t.DataNameRecord_NO);
}

// A macro header whose "STARTMACRO" stands at column i.
void D24_Macros(Translator& t, long i) {
  t.w_Char1 = ' ';
  t.n_beginAt = i + 11;
  X7_ExtractText(t);
  if (!t.n_Start) return;
  std::string name(t.PR.PR_Line.sub(t.n_Start, t.n_Length));
  t.n_beginAt = t.n_Start + t.n_Length;
  X7_ExtractText(t);
  std::string count = t.n_Start ? std::string(t.PR.PR_Line.sub(t.n_Start, t.n_Length)) : "";
  std::string required = count;
  bool optional = false;
  if (auto dash = count.find('-'); dash != std::string::npos) {
    required = count.substr(0, dash);
    optional = dash + 1 < count.size();
  }
  long n = 0;
  for (char c : required) {
    if (!qwt::IsDigit(c)) {
      n = 0;
      break;
    }
    n = std::min<long>(n * 10 + (c - '0'), 99);
  }
  std::string line = name + " MACRO ";
  for (long k = 1; k <= n; ++k) {
    if (k > 1) line += ",";
    line += "_arg" + std::to_string(k) + ":REQ";
  }
  if (n > 0 && optional) line += ",_args:VARARG";
  if (long(line.size()) > kLineWidth) LineTooLong(t);
  t.PR.PR_Line.assign(line);
  t.PR.PR_CommandLength += long(line.size()) + 12;
  ClampCommand(t);
}

}  // namespace

void D2_MASM(Translator& t) {
  B2_Synonyms(t);
  t.RefreshUBuffer();
  t.w_Quote = ' ';
  for (long i = 1; i <= std::min<long>(t.PR.PR_CommandLength, kLineWidth); ++i) {
    t.X1_Idx = i;
    X1_CheckQuotes(t);
    if (t.w_Quote != ' ') continue;
    char c = t.PR.PR_Line(i);
    if (c == '{' || c == '}') {
      bool open = c == '{';
      t.PR.PR_Line(i) = open ? '<' : '>';
      if (!t.w_UBuffer.contains("INSERTWORD")) {
        RoomFor(t, 1);
        t.PR.PR_Line.insert(i + 1, open ? "<" : ">");
        ++t.PR.PR_CommandLength;
        ClampCommand(t);
        ++i;
      }
      t.RefreshUBuffer();
      continue;
    }
    if (t.w_UBuffer.at(i, "_CALC ")) {
      long eq = t.PR.PR_Line.find('=');
      long comma = eq ? t.PR.PR_Line.find(',', eq + 1) : 0;
      if (comma && comma < t.PR.PR_CommandLength) {
        RoomFor(t, 2);
        t.PR.PR_Line.insert(comma + 1, "<");
        t.PR.PR_Line.insert(t.PR.PR_CommandLength + 2, ">");
        t.PR.PR_CommandLength += 2;
        ClampCommand(t);
        t.RefreshUBuffer();
      }
      continue;
    }
    if (t.w_UBuffer.at(i, "%INCLUDE")) {
      t.PR.PR_Line(i) = ' ';
      D21_Include(t, '\'');
      D21_Include(t, '"');
      t.RefreshUBuffer();
      break;
    }
    if (t.w_UBuffer.at(i, "%DEFINE") || t.w_UBuffer.at(i, "%IDEFINE")) {
      long at = D22_ConvertConstants(t, i);
      t.RefreshUBuffer();
      if (!at) continue;
      i = at;
    }
    if (t.w_UBuffer.at(i, " EQU ")) {
      D23_InsertConstants(t);
      break;
    }
    if (t.w_UBuffer.at(i, "STARTMACRO")) {
      D24_Macros(t, i);
      t.RefreshUBuffer();
      break;
    }
  }
  // Every use of a constant is written with "%" in front of it.
  long L = t.w_UBuffer.find(" EQU ");
  for (long r : t.w_ConstantRows) {
    const DataNameRecord& k = t.DataNameTable[std::size_t(r - 1)];
    long len = std::min<long>(k.DN_Length, 30);
    if (len <= 0) continue;
    std::string_view name = k.DN_Name.first(len);
    long from = L > 0 ? L + 3 : 1;
    while (long p = t.PR.PR_Line.find(name, from)) {
      if (p == 1 || t.PR.PR_Line(p - 1) != '%') {
        if (p <= t.PR.PR_CommandLength) RoomFor(t, 1);
        t.PR.PR_Line.insert(p, "%");
        ++t.PR.PR_CommandLength;
        ClampCommand(t);
      }
      from = p + 2;
    }
  }
  t.RefreshUBuffer();
}

// ---------------------------------------------------------------------------
// Debug markers and word-copy inlining.

void D5_LinuxDEBUG(Translator& t) {
  if (t.b_Debug == 0) return;
  Text<256> marker;
  marker.put(123, "DEBUG");
  if (t.w_UBuffer.contains("@BEGIN_ASSEMBLER") || t.w_UBuffer.contains("@BEGIN.ASSEMBLER")) {
    t.b_Assembler = 1;
    t.WriteLine(marker.view());
    return;
  }
  if (t.w_UBuffer.contains("@END_ASSEMBLER")) {
    t.b_Assembler = 0;
    return;
  }
  if (t.b_Assembler == 1) return;
  t.b_Continuation = 0;
  long cl = std::min<long>(t.PR.PR_CommandLength, kLineWidth);
  for (long i = 1; i <= cl; ++i) {
    if (t.w_UBuffer.at(i, "@_OR") || t.w_UBuffer.at(i, "@_AND")) {
      char b = t.PR.PR_Line(i - 1);
      if (i == 1 || b == ' ' || b == '(' || b == '\t') return;
    }
    if (t.PR.PR_Line(i) == '\\' && IsSpaceLf(t.PR.PR_Line(i + 1))) {
      t.b_Continuation = 1;
      break;
    }
  }
  if (t.b_Continuation == 1) {
    if (t.b_firstLine != 0) return;
    t.b_firstLine = 1;
  } else if (t.b_firstLine == 1) {
    t.b_firstLine = 0;
    return;
  }
  t.WriteLine(marker.view());
}

void D6_Compile(Translator& t) {
  for (TokenRecord& r : t.TokenTable) {
    r.TK_Length = 0;
    r.TK_Token.clear();
  }
  t.n_tokenNo = 0;
  t.n_Started = 0;
  t.n_StartPoint = 0;
  long cl = std::min<long>(t.PR.PR_CommandLength, kLineWidth);
  long tokStart = 0;
  auto endToken = [&](long end) {
    long len = end - tokStart;
    TokenRecord& r = t.TokenTable[std::size_t(t.n_tokenNo)];
    r.TK_Length = len;
    r.TK_Token.assign(t.PR.PR_Line.sub(tokStart, len));
    t.n_Started = 0;
  };
  for (long i = 1; i <= cl; ++i) {
    char c = t.PR.PR_Line(i);
    if (IsSpaceLf(c) || c == ',') {
      if (t.n_Started) endToken(i);
      continue;
    }
    if (c == '{' || c == '}') return;
    if (!t.n_Started) {
      if (++t.n_tokenNo > kTokenTableCapacity) return;  // a fourth operand: leave it
      if (t.n_tokenNo == 1) t.n_StartPoint = i;
      t.n_Started = 1;
      tokStart = i;
    }
  }
  if (t.n_Started) endToken(cl + 1);

  std::string op = qwt::ToUpper(t.TokenTable[1].TK_Token.trimmed());
  bool copy = op == "@WORDS_COPY";
  if (!copy && op != "@WORDS_PAD") return;
  // Both operands must be declared words; a name longer than a name field
  // can be no declared name.
  for (int k : {3, 2}) {
    const TokenRecord& r = t.TokenTable[std::size_t(k)];
    if (r.TK_Length <= 0 || r.TK_Length > 30) return;
    t.w_Temp30.assign(r.TK_Token.first(r.TK_Length));
    X5_SearchByName(t);
    if (t.DataNameTable_STATUS != 0 || t.DN.DN_Type != 'W') return;
    (k == 3 ? t.n_Len2 : t.n_Len1) = t.DN.DN_Length;
  }
  t.n_Len = std::min(t.n_Len1, t.n_Len2);
  std::string src(t.TokenTable[2].TK_Token.first(t.TokenTable[2].TK_Length));
  std::string dst(t.TokenTable[3].TK_Token.first(t.TokenTable[3].TK_Length));
  bool masm = t.b_Windows == 1;

  t.PR.PR_Line(t.n_StartPoint) = ';';
  WritePR(t, cl);
  // Replacement lines keep the statement's indentation and its width.
  std::string indent(t.PR.PR_Line.first(t.n_StartPoint - 1));
  std::string out;
  auto compose = [&](const std::string& text) {
    out.assign(indent);
    out.append(text);
    if (long(out.size()) > kLineWidth) out.resize(std::size_t(kLineWidth));
    if (long(out.size()) < cl) out.append(std::size_t(cl - long(out.size())), ' ');
  };
  auto line = [&](const std::string& text) {
    compose(text);
    t.PR.PR_Line.assign(out);
    t.PR.PR_CommandLength = long(out.size());
  };
  auto emit = [&](const std::string& text) {
    compose(text);
    t.WriteLine(out);
  };
  emit((masm ? "LEA RSI," : "MOV RSI,") + src);
  emit((masm ? "LEA RDI," : "MOV RDI,") + dst);
  emit("mov rcx," + Digits(t.n_Len, 6));
  if (copy || t.n_Len2 <= t.n_Len1) {
    line("Call _MOVSTR");
    return;
  }
  emit("Call _MOVSTR");
  emit((masm ? "LEA RDI," : "mov RDI,") + dst);
  emit("add RDI," + Digits(t.n_Len1, 6));
  emit("mov RCX," + Digits(t.n_Len2, 6));
  emit("sub RCX," + Digits(t.n_Len1, 6));
  line("Call _PADSTR");
}

// ---------------------------------------------------------------------------
// The pass.

void D_3rdPass(Translator& t) {
  t.w_Output.clear();
  // Inlined copies make the output about twice the source.
  t.w_Output.reserve(std::max<std::size_t>(std::size_t(t.ProgramTable_UBOUND()) * 40,
                                           t.n_SourceBytes * 5 / 2) + 65536);
  qwt::AdviseHuge(t.w_Output.data(), t.w_Output.capacity());
  if (t.b_Debug == 1) {
    t.WriteLine("%assign debug 1");
  } else if (t.b_Windows == 1) {
    D1_MASM_LoadSynonyms(t);
  } else {
    t.WriteLine("%assign debug 0");
  }
  for (long n = 1; n <= t.ProgramTable_UBOUND(); ++n) {
    t.n_LineCtr = n;
    char type = t.RowType(n);
    if (type == 'B') {
      if (t.b_Debug == 0) t.WriteLine(" ");
      continue;
    }
    if (type == 'C' && t.b_Debug != 0) continue;
    t.FetchRow(n);
    if (type == 'A' || type == 'C') {
      t.WriteLine(t.PR.PR_Line.first(t.PR.PR_LineLength));
      continue;
    }
    // A line that opens a quotation it never closes has no statement part;
    // it is written whole so that the assembler sees (and reports) it.
    if (t.PR.PR_Type == ' ' && t.PR.PR_CommandLength == 0)
      t.PR.PR_CommandLength = t.PR.PR_LineLength;
    t.RefreshUBuffer();
    if (t.b_Windows == 1) D2_MASM(t);
    long cl = std::clamp<long>(t.PR.PR_CommandLength, 0, kLineWidth);
    if (t.b_FoundDictionary == 0) {
      WritePR(t, cl);
      if (t.w_UBuffer.contains("BEGIN.DICTIONARY")) {
        t.b_FoundDictionary = 1;
        t.J = 1;
        D3_WriteNewData(t);
      }
    } else if (t.b_FoundMatrix == 0) {
      WritePR(t, cl);
      if (t.w_UBuffer.contains("BEGIN.MATRIX")) {
        t.b_FoundMatrix = 1;
        t.J = 2;
        D3_WriteNewData(t);
        t.J = 3;
        D3_WriteNewData(t);
      }
    } else if (t.b_FoundProcedure == 0) {
      if (t.w_UBuffer.contains("BEGIN.INSTRUCTIONS")) {
        t.b_FoundProcedure = 1;
        D4_WriteMacros(t);
      }
      WritePR(t, cl);
    } else {
      D5_LinuxDEBUG(t);
      D6_Compile(t);
      WritePR(t, std::clamp<long>(t.PR.PR_CommandLength, 0, kLineWidth));
    }
  }
  if (t.b_Windows == 1) t.WriteLine("END");
  t.b_OutputComplete = true;
}
