// First pass: loads the source into the program table (classification,
// comment and statement columns, statement splitting), recognises
// directives, packages and assembler blocks, collects and applies synonyms,
// and fills the data-name table from declarations and binds.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "translator.h"

using qwt::Digits;
using qwt::IsBlankOrTab;
using qwt::IsSpaceLf;

namespace {

// Result of reading a whole file: ok false when it could not be opened or
// read; err holds errno then.
struct FileText {
  bool ok = false;
  int err = 0;
  std::string text;
};

// Reads a whole regular file without ever creating it.
FileText ReadWholeFile(const std::string& name) {
  FileText r;
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.err = errno;
    return r;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    r.text.reserve(std::size_t(st.st_size));
    qwt::AdviseHuge(r.text.data(), r.text.capacity());
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      r.err = errno;
      ::close(fd);
      return r;
    }
    if (n == 0) break;
    r.text.append(buf, std::size_t(n));
  }
  ::close(fd);
  r.ok = true;
  return r;
}

// Calls fn(line) for every line of text; a last line without a line feed
// counts, an empty tail after the last line feed does not.
template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      fn(text.substr(pos));
      return;
    }
    fn(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
}

// A word of PR_Line: from column `from` to PR_CommandLength, skipping
// blanks, tabs, line feeds and `sep`; the word runs to the next of them.
struct Word {
  long start = 0;  // 0 when there is none
  long length = 0;
  long end() const { return start + length - 1; }
};

Word FirstWord(const Translator& t, long from, char sep) {
  Word w;
  long last = std::min<long>(t.PR.PR_CommandLength, kLineWidth);
  if (from < 1) from = 1;
  for (long i = from; i <= last; ++i) {
    char c = t.PR.PR_Line(i);
    bool delim = IsSpaceLf(c) || c == sep;
    if (delim) {
      if (w.start) break;
      continue;
    }
    if (!w.start) w.start = i;
    ++w.length;
  }
  return w;
}

std::string_view WordText(const Translator& t, const Word& w) {
  return t.PR.PR_Line.sub(w.start, w.length);
}

void ClearSharedRecord(Translator& t) {
  t.DN.DN_TableType = ' ';
  t.DN.DN_Table.clear();
  t.DN.DN_Record.clear();
  t.DN.DN_Name.clear();
  t.DN.DN_Picture.clear();
  t.DN.DN_No = 0;
  t.DN.DN_Length = 0;
}

// Stores the shared record under `name` with kind `type`; a declaration
// without a name stores nothing (a blank name would answer lookups of
// blank text).
void StoreName(Translator& t, char type, std::string_view name, long length) {
  if (name.empty()) return;
  t.DN.DN_Type = type;
  t.DN.DN_Name.assign(name);
  t.DN.DN_Length = length;
  X3_PutXtable(t);
}

// Column just after keyword `kw` found at column p.
inline long After(long p, std::string_view kw) { return p + long(kw.size()); }

}  // namespace

// ---------------------------------------------------------------------------
// Quote and brace state.


void X2_CheckBraces(Translator& t) {
  char c = t.PR.PR_Line(t.X2_Idx);
  if (c == '{' || c == '<')
    t.w_Brace = '{';
  else if (c == '}' || c == '>')
    t.w_Brace = '>';
  else if (t.w_Brace == '}' || t.w_Brace == '>')
    t.w_Brace = ' ';
}

// ---------------------------------------------------------------------------
// Token scanner.

void X7_ExtractText(Translator& t) {
  t.n_Start = 0;
  t.n_Length = 0;
  long from = t.n_beginAt;
  long to = t.PR.PR_CommandLength;
  // Columns outside the line read as blanks, which the scan skips, so the
  // range can be clipped without changing the answer.
  long step = from <= to ? 1 : -1;
  if (step == 1) {
    from = std::max<long>(from, 1);
    to = std::min<long>(to, kLineWidth);
  } else {
    from = std::min<long>(from, kLineWidth);
    to = std::max<long>(to, 1);
  }
  if ((step == 1 && from > to) || (step == -1 && from < to)) return;
  for (long z = from;; z += step) {
    char c = t.PR.PR_Line(z);
    if (IsSpaceLf(c) || c == t.w_Char1) {
      if (t.n_Start > 0) break;
    } else {
      if (t.n_Start == 0) t.n_Start = z;
      ++t.n_Length;
    }
    if (z == to) break;
  }
}

// ---------------------------------------------------------------------------
// Picture limits.

void X11_CheckPicture(Translator& t) {
  long digits = 0, places = 0;
  bool point = false;
  for (long i = 1; i <= 30; ++i) {
    char c = t.DN.DN_Picture(i);
    if (c == '9' || c == '#') ++digits;
    if (c == '9' && point) ++places;
    if (c == '.') point = true;
  }
  if (digits > 19)
    t.Fatal("50: Picture contains more than 19 digits=" + Digits(t.n_LineCtr, 6), 50);
  if (places > 18)
    t.Fatal("50: Picture contains more than 18 decimal places=" + Digits(t.n_LineCtr, 6), 50);
}

// ---------------------------------------------------------------------------
// Table appends and lookups.

void X3_PutXtable(Translator& t) {
  if (t.DataNameRecord_NO + 1 > kDataNameTableCapacity)
    t.Fatal("10: X3_PutXtable:DataNameRecord Table Overflow", 9);
  ++t.DataNameRecord_NO;
  t.DataNameTable.push_back(t.DN);
  t.DataNameIndex.emplace(std::string(t.DN.DN_Name.trimmed()), t.DataNameRecord_NO);
}

void X4_PutXtable(Translator& t) {
  if (t.SynonymRecord_NO + 1 > kSynonymTableCapacity)
    t.Fatal("10: X4_PutXtable:SynonymRecord Table Overflow", 10);
  ++t.SynonymRecord_NO;
  t.SynonymTable.push_back(t.SR);
}

void X5_SearchByName(Translator& t) {
  auto it = t.DataNameIndex.find(std::string(t.w_Temp30.trimmed()));
  if (it == t.DataNameIndex.end()) {
    t.DataNameTable_STATUS = 1;
    return;
  }
  t.X5_Idx = it->second;
  t.DN = t.DataNameTable[std::size_t(it->second - 1)];
  t.w_DataType = t.DN.DN_Type;
  t.DataNameTable_STATUS = 0;
}

void X6_SearchByRecord(Translator& t) {
  long n = long(t.DataNameTable.size());
  std::string_view want = t.w_SaveRecordName.trimmed();
  for (long i = std::max<long>(t.X6_Idx + 1, 1); i <= n; ++i) {
    const DataNameRecord& r = t.DataNameTable[std::size_t(i - 1)];
    if (r.DN_Record.trimmed() == want) {
      t.X6_Idx = i;
      t.DN = r;
      t.w_DataType = r.DN_Type;
      t.DataNameTable_STATUS = 0;
      return;
    }
  }
  t.X6_Idx = n;
  t.DataNameTable_STATUS = 1;
}

// ---------------------------------------------------------------------------
// Line classification.

void B11_CommandCommentPosition(Translator& t) {
  t.w_Quote = ' ';
  t.n_CommandPosition = 0;
  t.n_CommentPosition = 0;
  for (long i = 1; i <= t.PR.PR_LineLength; ++i) {
    char c = t.PR.PR_Line(i);
    if (IsBlankOrTab(c)) continue;
    X1_CheckQuoteChar(t, c);
    if (t.w_Quote == ' ' || t.w_Quote == ';') {
      if (c == ';') {
        if (t.n_CommentPosition == 0) t.n_CommentPosition = i;
        if (t.n_CommandPosition == 0) break;
      } else if (t.n_CommandPosition == 0) {
        t.n_CommandPosition = i;
      }
    }
    if (t.n_CommandPosition && t.n_CommentPosition) break;
  }
}

void B12_f_Directives(Translator& t) {
  static constexpr std::string_view kKeywords[] = {"%DEFINE", "%IDEFINE", "%ASSIGN", "%INCLUDE",
                                                   "%LINE"};
  t.w_Quote = ' ';
  int found = -1;
  // Every keyword starts with "%": a line without one holds no directive.
  long last = t.n_CommentPosition > 0 ? t.n_CommentPosition - 1 : t.PR.PR_LineLength;
  if (t.PR.PR_Line.first(last).find('%') == std::string_view::npos) {
    t.RETURN_CODE = 0;
    return;
  }
  for (long i = 1; i <= t.PR.PR_LineLength; ++i) {
    if (t.n_CommentPosition > 0 && i >= t.n_CommentPosition) break;
    t.X1_Idx = i;
    X1_CheckQuotes(t);
    if (t.w_Quote != ' ' || t.w_UBuffer(i) != '%') continue;
    for (int k = 0; k < 5; ++k) {
      if (t.w_UBuffer.at(i, kKeywords[k])) {
        found = k;
        break;
      }
    }
    if (found >= 0) break;
  }
  if (found == 3) B121_LookAtInclude(t);
  if (found >= 0 && t.b_Windows == 1 && (found == 2 || found == 4)) {
    t.b_WindowsExclude = 1;
    t.RETURN_CODE = 0;
    return;
  }
  t.RETURN_CODE = found >= 0 ? 1 : 0;
}

void B121_LookAtInclude(Translator& t) {
  if (!t.w_UBuffer.contains(".PKG")) return;
  // The file name lies between the first two quotation marks of the line;
  // a line with fewer than two names no package and is left to the
  // assembler.
  long q1 = 0, q2 = 0;
  for (long i = 1; i <= t.PR.PR_LineLength; ++i) {
    char c = t.PR.PR_Line(i);
    if (c == '"' || c == '\'') {
      if (!q1) {
        q1 = i;
      } else {
        q2 = i;
        break;
      }
    }
  }
  if (!q2) return;
  t.include_File = std::string(t.PR.PR_Line.sub(q1 + 1, q2 - q1 - 1));
  if (t.b_NoFiles) return;
  FileText pkg = ReadWholeFile(t.include_File);
  if (!pkg.ok) return;  // a missing package declares nothing
  ProgramRecord saved = t.PR;
  Text<256> savedU = t.w_UBuffer;
  ForEachLine(pkg.text, [&](std::string_view line) {
    t.PR.PR_Line.assign(line);
    t.PR.PR_CommandLength = std::min<long>(long(line.size()), kLineWidth);
    t.RefreshUBuffer();
    B5_Load_DN_Table(t);
  });
  t.PR = saved;
  t.w_UBuffer = savedU;
}

void B13_f_Comment(Translator& t) {
  t.RETURN_CODE = (t.n_CommentPosition > 0 &&
                   (t.n_CommandPosition == 0 || t.n_CommandPosition >= t.n_CommentPosition))
                      ? 1
                      : 0;
}

void B15_f_Command(Translator& t) {
  t.b_Macro = 0;
  bool cmd = t.n_CommandPosition > 0 &&
             (t.n_CommentPosition == 0 || t.n_CommandPosition < t.n_CommentPosition);
  if (cmd && t.PR.PR_Line.first(t.PR.PR_LineLength).find('[') != std::string_view::npos)
    t.b_Macro = 1;
  t.RETURN_CODE = cmd ? 1 : 0;
}

void B16_CommandLength(Translator& t) {
  long i = t.n_CommentPosition > 0 ? t.n_CommentPosition - 1 : t.PR.PR_LineLength;
  t.PR.PR_CommandLength = t.PR.PR_Line.lastNonBlank(i);
}

// ---------------------------------------------------------------------------
// Synonym definitions.

void B142_GetSynonyms(Translator& t, std::string_view line) {
  auto isSep = [](char c, char extra) { return IsSpaceLf(c) || c == extra; };
  std::size_t i = 0;
  while (i < line.size() && isSep(line[i], ';')) ++i;
  if (i == line.size()) return;
  std::size_t s = i;
  while (i < line.size() && !isSep(line[i], ';')) ++i;
  std::string_view synonym = line.substr(s, i - s);

  std::size_t colon = line.find(':');
  std::string_view original;
  if (colon != std::string_view::npos) {
    std::size_t k = colon + 1;
    while (k < line.size() && isSep(line[k], ':')) ++k;
    std::size_t o = k;
    while (k < line.size() && !isSep(line[k], ':')) ++k;
    original = line.substr(o, k - o);
  }
  if (original.empty()) {
    t.Message("Synonym ignored, no word after ':' for " + std::string(synonym));
    return;
  }
  if (synonym.size() > 30 || original.size() > 30) {
    t.Message("Synonym ignored, longer than 30 characters: " + std::string(synonym));
    return;
  }
  t.SR.Synonym.assign(synonym);
  t.SR.lenSynonym = long(synonym.size());
  t.SR.Original.assign(original);
  t.SR.lenOriginal = long(original.size());
  X4_PutXtable(t);
}

void B141_ImportSynonyms(Translator& t) {
  long p = t.w_UBuffer.find("INCLUDE");
  Word w = FirstWord(t, After(p, "INCLUDE"), ' ');
  // The comment row has no statement part; its words run to the line's end.
  if (!w.start) {
    long keep = t.PR.PR_CommandLength;
    t.PR.PR_CommandLength = t.PR.PR_LineLength;
    w = FirstWord(t, After(p, "INCLUDE"), ' ');
    t.PR.PR_CommandLength = keep;
  }
  t.syn_File = std::string(WordText(t, w));
  FileText f;
  if (!t.syn_File.empty() && !t.b_NoFiles) f = ReadWholeFile(t.syn_File);
  if (!f.ok) t.Fatal("04: Include Synonyms file not found", 4);
  ForEachLine(f.text, [&](std::string_view line) { B142_GetSynonyms(t, line); });
}

void B14_LoadSynonyms(Translator& t) {
  switch (t.n_LoadSynonyms) {
    case 0:
      if (t.w_UBuffer.contains("BEGIN.SYNONYMS")) t.n_LoadSynonyms = 1;
      break;
    case 1:
      if (t.w_UBuffer.contains("END.SYNONYMS"))
        t.n_LoadSynonyms = 2;
      else if (t.w_UBuffer.contains("INCLUDE"))
        B141_ImportSynonyms(t);
      else
        B142_GetSynonyms(t, t.PR.PR_Line.first(t.PR.PR_LineLength));
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Statement splitting.

void B17_SplitLines(Translator& t) {
  // Without a "|" in the statement the row stays as it was stored.
  if (t.PR.PR_Line.first(t.PR.PR_CommandLength).find('|') == std::string_view::npos) return;
  ProgramRecord line = t.PR;
  t.ProgramTable.pop_back();
  long cl = line.PR_CommandLength;
  long origin = 0, start = 0;
  bool separated = false;
  t.w_Quote = ' ';

  auto store = [&](long from, long to) {
    if (from < 1 || to < from) return;  // nothing between two separators
    long len = to - from + 1;
    t.PR = line;
    t.PR.PR_Line.blank(origin, kLineWidth);
    std::string seg(line.PR_Line.sub(from, len));
    t.PR.PR_Line.put(origin, seg);
    t.PR.PR_CommandLength = std::min<long>(origin + len - 1, kLineWidth);
    t.PR.PR_LineLength = t.PR.PR_CommandLength;
    t.PR.PR_Type = 'L';
    if (!t.AppendRow())
      t.Fatal("10: B1_LoadProgramTable:ProgramRecord Table Overflow", 19);
  };

  for (long i = 1; i <= cl; ++i) {
    char c = line.PR_Line(i);
    X1_CheckQuoteChar(t, c);
    if (!origin) {
      if (IsBlankOrTab(c)) continue;
      origin = start = i;
    }
    if (c == '|' && t.w_Quote == ' ') {
      separated = true;
      store(start, line.PR_Line.lastNonBlank(i - 1));
      long next = i + 1;
      while (next <= cl && IsBlankOrTab(line.PR_Line(next))) ++next;
      start = next;
      if (start >= cl) break;
      // Continue the walk at the segment start (quote state is unchanged by
      // the blanks in between).
      i = start - 1;
    }
  }
  if (separated) {
    // A separator in the last column ends the statement; it is no segment.
    bool lastIsSeparator = start == cl && line.PR_Line(cl) == '|' && t.w_Quote == ' ';
    if (!lastIsSeparator) store(start, cl);
  } else {
    t.PR = line;
    if (!t.AppendRow())
      t.Fatal("10: B1_LoadProgramTable:ProgramRecord Table Overflow", 19);
  }
  t.PR = line;
}

// ---------------------------------------------------------------------------
// Loading the program table.

void B1_LoadProgramTable(Translator& t) {
  FileText src;
  if (t.b_UseSourceText) {
    src.ok = true;
    src.text = t.w_SourceText;
  } else {
    src = ReadWholeFile(t.in_File);
    if (!src.ok && src.err == ENAMETOOLONG) t.Fatal("02: File name is too long", 2);
  }
  if (!src.ok || src.text.empty()) t.Fatal("03: [reWriter]:Input File does not exist", 3);
  t.n_SourceBytes = src.text.size();

  // A line gives one row, plus one for each separator it splits at: room
  // for that many rows is set aside (address space only; pages are touched
  // as rows arrive), so the table never moves while it is loaded.
  std::size_t lines = 1, bars = 0;
  for (char c : src.text) {
    lines += c == '\n';
    bars += c == '|';
  }
  t.ProgramTable.reserve(std::min<std::size_t>(lines + bars, std::size_t(kProgramTableCapacity)),
                         src.text.size() + bars * 8);

  t.n_LineCtr = 0;
  bool first = true;
  ForEachLine(src.text, [&](std::string_view line) {
    ++t.n_LineCtr;
    if (first) {
      first = false;
      if (qwt::ToUpper(line).find("WINDOWS") != std::string::npos) {
        t.b_Windows = 1;
        return;
      }
    }
    ProgramRecord& pr = t.PR;
    pr.PR_Type = ' ';
    pr.PR_CommandLength = 0;
    pr.PR_LineLength = 0;
    t.n_CommandPosition = 0;
    t.n_CommentPosition = 0;
    t.b_WindowsExclude = 0;
    pr.PR_Line.assign(line);
    // The stored text holds at most 249 characters; so does the length.
    pr.PR_LineLength = pr.PR_Line.lastNonBlank(std::min<long>(long(line.size()), kLineWidth));
    if (pr.PR_LineLength == 0) {
      pr.PR_Type = 'B';
      pr.PR_Line.clear();
    } else {
      t.RefreshUBuffer();
      B11_CommandCommentPosition(t);
      B12_f_Directives(t);
      if (t.RETURN_CODE == 1) {
        pr.PR_Type = '%';
        pr.PR_CommandLength = pr.PR_LineLength;
      } else {
        B13_f_Comment(t);
        if (t.RETURN_CODE == 1) {
          pr.PR_Type = 'C';
          pr.PR_CommandLength = 0;
          B14_LoadSynonyms(t);
        } else {
          B15_f_Command(t);
          if (t.RETURN_CODE == 1) {
            pr.PR_Type = 'L';
            B16_CommandLength(t);
          }
        }
      }
      t.RETURN_CODE = 0;
    }
    if (t.b_Windows == 1 && t.b_WindowsExclude == 1) return;
    if (!t.AppendRow()) t.Fatal("10: B1_LoadProgramTable:ProgramRecord Table Overflow", 19);
    if (pr.PR_Type == 'L') B17_SplitLines(t);
  });
}

// ---------------------------------------------------------------------------
// Synonym replacement.

void B2_Synonyms(Translator& t) {
  for (const SynonymRecord& s : t.SynonymTable) {
    long lenSyn = std::min<long>(s.lenSynonym, 30);
    long lenOrig = std::min<long>(s.lenOriginal, 30);
    if (lenSyn <= 0) continue;
    t.w_Synonym = qwt::ToUpper(s.Synonym.first(lenSyn));
    long p = t.w_UBuffer.find(t.w_Synonym);
    t.b_FoundSynonym = p;
    if (p == 0 || p > kLineWidth) continue;
    if (t.b_Windows == 1) {
      if (t.w_Synonym == "=" && t.w_UBuffer.contains("S_CALC")) continue;
      if (t.w_Synonym == "IF" && t.b_Assembler == 1) continue;
    }
    if (p > 1) {
      char b = t.PR.PR_Line(p - 1);
      if (!(b == ' ' || b == '\t' || b == ',' || b == '(' || b == '{')) continue;
    }
    t.w_Quote = ' ';
    for (long i = 1; i <= p; ++i) X1_CheckQuoteChar(t, t.PR.PR_Line(i));
    if (t.w_Quote != ' ') continue;
    long diff = lenOrig - lenSyn;
    // A longer original must not push the end of the statement off the
    // line: the statement would be cut without a word.
    if (diff > 0 &&
        std::min<long>(t.PR.PR_CommandLength, t.PR.PR_Line.lastNonBlank()) + diff > kLineWidth)
      t.Fatal("07: Statement is too long to rewrite on line no=" + Digits(t.n_LineCtr, 6), 6);
    if (diff > 0)
      t.PR.PR_Line.insertBlanks(p, diff);
    else if (diff < 0)
      t.PR.PR_Line.erase(p + lenOrig, -diff);
    t.PR.PR_CommandLength = std::clamp<long>(t.PR.PR_CommandLength + diff, 0, kLineWidth);
    t.PR.PR_LineLength = t.PR.PR_CommandLength;
    t.PR.PR_Line.put(p, s.Original.first(lenOrig));
    t.RefreshUBuffer();
  }
}

// ---------------------------------------------------------------------------
// Assembler blocks and round brackets.

void B3_f_Assembler(Translator& t) {
  t.RETURN_CODE = 0;
  if (t.b_Assembler == 0) {
    if (t.w_UBuffer.contains("@BEGIN_ASSEMBLER")) t.b_Assembler = 1;
    return;
  }
  if (t.w_UBuffer.contains("@END_ASSEMBLER")) {
    t.b_Assembler = 0;
    return;
  }
  t.PR.PR_Type = 'A';
  t.RETURN_CODE = 1;
}

void B4_RemoveBrackets(Translator& t) {
  std::string_view cmd = t.PR.PR_Line.first(t.PR.PR_CommandLength);
  if (cmd.find_first_of("()") == std::string_view::npos) return;
  t.w_Quote = ' ';
  for (long i = 1; i <= t.PR.PR_CommandLength; ++i) {
    t.X1_Idx = i;
    X1_CheckQuotes(t);
    char& c = t.PR.PR_Line(i);
    if (t.w_Quote == ' ' && (c == '(' || c == ')')) c = ' ';
  }
}

// ---------------------------------------------------------------------------
// Declarations.

namespace {

// Numbers, words and arrays (kind in DN.DN_Type); `kw` is the keyword found
// at column kwPos.
void B51_StoreDataDefinitions(Translator& t, char kind, long kwPos, std::string_view kw) {
  if (t.b_ProcessRecord == 1) {
    ++t.n_FieldPos;
    t.DN.DN_No = t.n_FieldPos;
    t.DN.DN_Record = t.w_SaveRecordName;
  } else {
    t.DN.DN_No = 0;
    t.DN.DN_Record.clear();
  }
  t.DN.DN_Picture.clear();
  t.DN.DN_Length = 0;

  long ins = t.w_UBuffer.find("@INSERT");
  long gap = ins;
  while (gap && gap <= kLineWidth && !IsBlankOrTab(t.PR.PR_Line(gap))) ++gap;
  Word name = FirstWord(t, gap, ',');
  std::string_view nm = WordText(t, name);
  if (nm.empty()) return;
  t.DN.DN_Name.assign(nm);
  t.DN.DN_Length = name.length;
  t.DN.DN_Type = kind;
  if (kind == 'A') {
    X3_PutXtable(t);
    return;
  }
  long comma1 = t.PR.PR_Line.find(',', After(kwPos, kw));
  if (comma1 > t.PR.PR_CommandLength) comma1 = 0;
  if (kind == 'W') {
    if (comma1) {
      // The length runs to the next comma (looked for up to column 128), or
      // to the end of the statement when no comma follows.
      long comma2 = t.PR.PR_Line.find(',', comma1 + 1);
      long end = (comma2 && comma2 <= 128) ? comma2 : t.PR.PR_CommandLength + 1;
      long value = 0;
      bool digits = false;
      for (long i = comma1 + 1; i < end; ++i) {
        char c = t.PR.PR_Line(i);
        if (IsBlankOrTab(c)) {
          if (digits) break;
          continue;
        }
        if (!qwt::IsDigit(c)) break;
        digits = true;
        value = std::min<long>(value * 10 + (c - '0'), 99999);
      }
      t.DN.DN_Length = value;
    }
    X3_PutXtable(t);
    return;
  }
  long comma2 = comma1 ? t.PR.PR_Line.find(',', comma1 + 1) : 0;
  if (comma2 > t.PR.PR_CommandLength) comma2 = 0;
  if (comma2) {
    Word pic = FirstWord(t, comma2 + 1, ' ');
    t.DN.DN_Picture.assign(t.w_UBuffer.sub(pic.start, pic.length));
    X11_CheckPicture(t);
  } else {
    t.DN.DN_Picture.assign("'999999'");
  }
  X3_PutXtable(t);
}

}  // namespace

void B5_Load_DN_Table(Translator& t) {
  const Text<256>& u = t.w_UBuffer;
  // Every declaration keyword starts with "@": they are looked for only
  // where the line holds one (first occurrence, as a search of the line).
  long ats[8];
  int nAts = 0;
  for (long q = u.find('@'); q && nAts < 8; q = u.find('@', q + 1)) ats[nAts++] = q;
  if (nAts == 0) return;
  bool manyAts = nAts == 8;
  auto find = [&](std::string_view kw) -> long {
    if (manyAts) return u.find(kw);
    for (int k = 0; k < nAts; ++k)
      if (u.at(ats[k], kw)) return ats[k];
    return 0;
  };
  long p;
  if ((p = find("@INSERTNUMBER"))) {
    char kind = u.contains(".") ? 'N' : 'I';
    B51_StoreDataDefinitions(t, kind, p, "@INSERTNUMBER");
  }
  if ((p = find("@INSERTWORD"))) B51_StoreDataDefinitions(t, 'W', p, "@INSERTWORD");
  if ((p = find("@INSERTFILE"))) {
    ClearSharedRecord(t);
    t.DN.DN_Type = 'F';
    long comma = t.PR.PR_Line.find(',');
    if (comma && comma <= t.PR.PR_CommandLength) {
      std::string nm(WordText(t, FirstWord(t, comma + 1, ',')));
      if (!nm.empty()) {
        StoreName(t, 'W', nm, 255);
        StoreName(t, 'I', qwt::ToUpper(nm) + "_HANDLE", t.DN.DN_Length);
      }
    }
  }
  if ((p = find("@BEGIN_RECORD"))) {
    t.b_ProcessRecord = 1;
    Word first = FirstWord(t, After(p, "@BEGIN_RECORD"), ',');
    // The record's name is the word after the one that is passed over,
    // starting behind the separator that ended it.
    Word name = first.start ? FirstWord(t, first.end() + 2, ' ') : Word{};
    t.w_SaveRecordName.assign(WordText(t, name));
  }
  if ((p = find("@END_RECORD"))) {
    t.b_ProcessRecord = 0;
    t.n_FieldPos = 0;
    ClearSharedRecord(t);
    t.DN.DN_Type = 'R';
    std::string nm(WordText(t, FirstWord(t, After(p, "@END_RECORD") + 1, ' ')));
    if (!nm.empty()) StoreName(t, 'I', nm + "_NO", 0);
    t.DN.DN_Record.clear();
  }
  if ((p = find("@INSERTTABLE"))) {
    ClearSharedRecord(t);
    t.DN.DN_Type = 'T';
  }
  if ((p = find("@INSERTXTABLE"))) {
    ClearSharedRecord(t);
    t.DN.DN_Type = 'X';
    std::string nm(WordText(t, FirstWord(t, After(p, "@INSERTXTABLE") + 1, ',')));
    if (!nm.empty()) StoreName(t, 'I', nm + "_UBOUND", 0);
  }
  if ((p = find("@INSERTARRAY"))) B51_StoreDataDefinitions(t, 'A', p, "@INSERTARRAY");
  if ((p = find("@BEGIN_SUB"))) {
    // The sub's name: the rest of the statement after the keyword (its
    // trailing comment is not part of the name).
    long from = After(p, "@BEGIN_SUB") + 1;
    std::string_view rest = t.PR.PR_Line.sub(from, std::min<long>(30, t.PR.PR_CommandLength - from + 1));
    t.DN.DN_Picture.clear();
    StoreName(t, 's', qwt::TrimRight(rest), 0);
  }
  if ((p = find("@BEGIN_FUNCTION"))) {
    Word name = FirstWord(t, After(p, "@BEGIN_FUNCTION") + 1, ',');
    if (name.start) {
      std::string nm(WordText(t, name));
      if (t.PR.PR_CommandLength <= name.end() + 1) {
        t.DN.DN_Picture.assign("'9'");
      } else {
        Word pic = FirstWord(t, name.end() + 2, ',');
        t.DN.DN_Picture.assign(WordText(t, pic));
        X11_CheckPicture(t);
      }
      StoreName(t, 'f', nm, long(nm.size()));
      StoreName(t, 'N', "d" + nm, long(nm.size()) + 1);
    }
  }
  if ((p = find("@USING"))) {
    long i = After(p, "@USING") + 1;
    while (i <= t.PR.PR_CommandLength) {
      long brace = t.PR.PR_Line.find('{', i);
      if (!brace || brace > t.PR.PR_CommandLength) break;
      Word name = FirstWord(t, brace + 1, ',');
      long comma = name.start ? t.PR.PR_Line.find(',', name.end() + 1) : 0;
      if (!comma || comma > t.PR.PR_CommandLength) break;  // a pair without a picture
      Word pic = FirstWord(t, comma + 1, '}');
      std::string nm(WordText(t, name));
      t.DN.DN_Picture.assign(WordText(t, pic));
      X11_CheckPicture(t);
      char kind = t.DN.DN_Picture.contains(".") ? 'N' : 'I';
      StoreName(t, kind, nm, long(nm.size()));
      i = comma + 1;
    }
  }
}

void B6_ProcessBind(Translator& t) {
  long p = t.w_UBuffer.find("_BIND");
  if (!p) return;
  Word table = FirstWord(t, p + 6, ',');
  if (!table.start) return;
  Word record = FirstWord(t, table.end() + 1, ',');
  t.w_SaveTableName.assign(WordText(t, table));
  t.w_SaveTableType = (p > 7 && t.w_UBuffer.at(p - 7, "XTABLES")) ? 'X' : ' ';
  std::string_view rec = WordText(t, record);
  for (DataNameRecord& r : t.DataNameTable) {
    if (r.DN_Record.trimmed() == rec) {
      r.DN_TableType = t.w_SaveTableType;
      r.DN_Table = t.w_SaveTableName;
    }
  }
}

// ---------------------------------------------------------------------------
// The pass.

void B_1stPass(Translator& t) {
  B1_LoadProgramTable(t);

  static constexpr std::string_view kSystemNames[] = {"RETURN_CODE", "ERROR_CODE", "exitRepeat"};
  for (std::string_view nm : kSystemNames) {
    ClearSharedRecord(t);
    StoreName(t, 'I', nm, long(nm.size()));
  }

  for (long n = 1; n <= t.ProgramTable_UBOUND(); ++n) {
    if (t.RowType(n) != 'L') continue;
    t.FetchRow(n);
    t.n_LineCtr = n;
    t.RefreshUBuffer();
    if (t.n_LoadSynonyms == 2) B2_Synonyms(t);
    B3_f_Assembler(t);
    if (t.RETURN_CODE == 1) {
      t.RETURN_CODE = 0;
      t.StoreRow(n);
      continue;
    }
    B4_RemoveBrackets(t);
    B5_Load_DN_Table(t);
    B6_ProcessBind(t);
    t.StoreRow(n);
  }
}
