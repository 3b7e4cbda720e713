// The whole state of one translation run: the program-wide tables, the row
// in hand and every run-wide value shared by the three passes.  One
// Translator translates one source; a fresh one starts from nothing.
//
// Conventions:
//  - Columns are counted from 1 (Text<N>::operator() and friends, text.h).
//  - Rows of the tables are counted from 1; row(n) gives program row n.
//  - Routines are free functions named after their subs, taking Translator&.
//  - A fatal message ends the run through Translator::Fatal, which records the
//    message and the exit status and throws EndRun; only RunTranslator (the
//    driver) catches it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pass2_state.h"
#include "text.h"

using qwt::Text;

// Capacities of the program-wide tables.
inline constexpr long kProgramTableCapacity = 241509;
inline constexpr long kSynonymTableCapacity = 768;
inline constexpr long kOpenBracketTableCapacity = 32;
inline constexpr long kDataNameTableCapacity = 1024;
inline constexpr long kNewDataTableCapacity = 512;
inline constexpr long kMacroTableCapacity = 1024;
inline constexpr long kTokenTableCapacity = 3;

inline constexpr long kLineWidth = 249;     // PR_Line
inline constexpr long kBufferWidth = 256;   // w_UBuffer, w_saveLine, w_CommandLine
inline constexpr long kMacroLineWidth = 124;
inline constexpr long kFileNameWidth = 255;

// One source line or statement.
struct ProgramRecord {
  char PR_Type = ' ';
  long PR_CommandLength = 0;
  long PR_LineLength = 0;
  Text<249> PR_Line;
};

struct SynonymRecord {
  Text<30> Synonym;
  long lenSynonym = 0;
  Text<30> Original;
  long lenOriginal = 0;
};

struct DataNameRecord {
  char DN_TableType = ' ';
  Text<30> DN_Table;
  Text<30> DN_Record;
  long DN_No = 0;
  char DN_Type = ' ';
  Text<30> DN_Name;
  long DN_Length = 0;
  Text<30> DN_Picture;
};

struct NewDataRecord {
  char ND_Type = ' ';
  char ND_ReUsable = ' ';
  Text<62> ND_Entry;
  Text<32> ND_Name;
  Text<64> ND_FunctionName;
};

struct MacroRecord {
  long MR_MacroNo = 0;
  Text<124> MR_MacroLineItem;
};

struct TokenRecord {
  long TK_Length = 0;
  Text<30> TK_Token;
};

// Storage of the program table: each row keeps its type, its two lengths and
// its text without the trailing blanks of the 249-column field, so a large
// source costs about its own size.  Rows are handed out and taken back as
// whole ProgramRecords (blank-padded again), exactly as stored.
class ProgramRows {
 public:
  long size() const { return long(rows_.size()); }
  void clear() {
    rows_.clear();
    text_.clear();
  }
  void reserve(std::size_t rows, std::size_t textBytes) {
    rows_.reserve(rows);
    text_.reserve(textBytes);
    qwt::AdviseHuge(rows_.data(), rows_.capacity() * sizeof(Stored));
    qwt::AdviseHuge(text_.data(), text_.capacity());
  }
  void push_back(const ProgramRecord& r) {
    rows_.emplace_back();
    set(long(rows_.size()) - 1, r);
  }
  void pop_back() { rows_.pop_back(); }
  char type(long i) const { return rows_[std::size_t(i)].type; }
  void get(long i, ProgramRecord& out) const {
    const Stored& s = rows_[std::size_t(i)];
    out.PR_Type = s.type;
    out.PR_CommandLength = s.cl;
    out.PR_LineLength = s.ll;
    out.PR_Line.assign(std::string_view(text_.data() + s.off, s.len));
  }
  void set(long i, const ProgramRecord& r) {
    Stored& s = rows_[std::size_t(i)];
    std::string_view text = r.PR_Line.trimmed();
    if (text.size() > s.cap) {
      s.off = std::uint32_t(text_.size());
      s.cap = std::uint16_t(text.size());
      text_.append(text);
    } else {
      text_.replace(s.off, text.size(), text);
    }
    s.len = std::uint16_t(text.size());
    s.type = r.PR_Type;
    s.cl = r.PR_CommandLength;
    s.ll = r.PR_LineLength;
  }

 private:
  struct Stored {
    long cl = 0, ll = 0;
    std::uint32_t off = 0;
    std::uint16_t len = 0, cap = 0;
    char type = ' ';
  };
  std::vector<Stored> rows_;
  std::string text_;
};

// Thrown by Fatal to leave the run; caught only by the driver.
struct EndRun {};

class Translator {
 public:
  Translator() = default;
  Translator(const Translator&) = delete;
  Translator& operator=(const Translator&) = delete;

  // ---- Run-wide values ------------------------------------------------
  Text<256> w_CommandLine;
  int b_Debug = 0;
  int b_Windows = 0;
  int ERROR_CODE = 0;
  long RETURN_CODE = 0;
  std::string in_File;       // NAME.QWR as handed to the kernel
  std::string out_File;      // NAME.ASM
  std::string w_Directory;   // prefix for file names (empty: current directory)

  // ---- Messages and output -------------------------------------------
  // Messages go to standard output one line at a time, or into w_Messages
  // when b_CaptureMessages is set (tests, fuzzing).
  bool b_CaptureMessages = false;
  std::string w_Messages;
  // NAME.ASM is built here and written as a whole at the end of a run
  // that reached its end without a fatal message.
  std::string w_Output;
  bool b_OutputComplete = false;
  // When set, the driver does not write NAME.ASM (fuzzing, in-memory tests).
  bool b_NoFiles = false;
  // Source text handed in directly (used instead of reading in_File when
  // b_UseSourceText is set).
  bool b_UseSourceText = false;
  std::string w_SourceText;

  void Message(std::string_view line);
  [[noreturn]] void Fatal(std::string_view line, int status);
  void WriteLine(std::string_view line) {
    w_Output.append(line);
    w_Output.push_back('\n');
  }

  // ---- Program table and the row in hand -------------------------------
  ProgramRows ProgramTable;  // rows 1..ProgramTable_UBOUND()
  long ProgramTable_UBOUND() const { return ProgramTable.size(); }
  // A copy of row n (to change a row: FetchRow, change PR, StoreRow).
  ProgramRecord row(long n) const {
    ProgramRecord r;
    ProgramTable.get(n - 1, r);
    return r;
  }
  char RowType(long n) const { return ProgramTable.type(n - 1); }
  ProgramRecord PR;  // the row in hand
  void FetchRow(long n) { ProgramTable.get(n - 1, PR); }
  void StoreRow(long n) { ProgramTable.set(n - 1, PR); }
  // Appends PR as a new row; false (nothing stored) at the capacity.
  bool AppendRow();

  long n_LineCtr = 0;
  Text<256> w_UBuffer;
  void RefreshUBuffer() { w_UBuffer.upperOf(PR.PR_Line); }
  char w_Quote = ' ';
  char w_Brace = ' ';
  long X1_Idx = 0;
  long X2_Idx = 0;
  long n_CommandPosition = 0;
  long n_CommentPosition = 0;
  int b_WindowsExclude = 0;
  // Mode flags shared by all passes (held in the second pass state).
  int& b_Assembler = p2.b_Assembler;
  int& b_Macro = p2.b_Macro;

  // ---- Synonyms ------------------------------------------------------
  std::vector<SynonymRecord> SynonymTable;
  long SynonymTable_UBOUND() const { return long(SynonymTable.size()); }
  long SynonymRecord_NO = 0;
  SynonymRecord SR;  // the shared SynonymRecord
  int n_LoadSynonyms = 0;
  std::string syn_File;
  std::string w_Synonym;
  long b_FoundSynonym = 0;

  // ---- Data names ------------------------------------------------------
  std::vector<DataNameRecord> DataNameTable;
  long DataNameRecord_NO = 0;
  DataNameRecord DN;  // the shared DataNameRecord
  int DataNameTable_STATUS = 0;
  // First row of each name (trimmed), so that lookups by name give the
  // answer of a walk from row 1.
  std::unordered_map<std::string, long> DataNameIndex;
  Text<30> w_Temp30;
  char w_DataType = ' ';
  long X5_Idx = 0;
  long X6_Idx = 0;
  int b_ProcessRecord = 0;
  long n_FieldPos = 0;
  Text<30> w_SaveRecordName;
  Text<30> w_SaveTableName;
  char w_SaveTableType = ' ';
  int b_TableElement = 0;
  std::string include_File;

  // ---- Open brackets ----------------------------------------------------
  std::array<long, 33> OpenBracketTable{};  // [depth], depth 1..32
  long OB_OpenBracket = 0;
  long OB_OpenBracketDepth = 0;

  // ---- Temporaries and generated macros ------------------------------------
  std::vector<NewDataRecord> NewDataTable;
  long NewDataTable_UBOUND() const { return long(NewDataTable.size()); }
  NewDataRecord ND;  // the shared NewDataRecord
  std::vector<MacroRecord> MacroTable;
  long MacroTable_UBOUND() const { return long(MacroTable.size()); }
  MacroRecord MR;  // the shared MacroRecord
  Text<30> w_FP_Picture{"'999999999999999.9999'"};

  // ---- Token scanner (X7_ExtractText) --------------------------------
  long n_beginAt = 0;
  long n_Start = 0;
  long n_Length = 0;
  char w_Char1 = ' ';

  // ---- Third pass -----------------------------------------------------
  int b_FoundDictionary = 0;
  int b_FoundMatrix = 0;
  int b_FoundProcedure = 0;
  long n_CurrentMacroNo = 0;
  long n_TextIdx = 0;
  Text<256> w_saveLine;
  long n_SaveLength = 0;
  int J = 0;
  int b_Continuation = 0;
  int b_firstLine = 0;
  std::array<TokenRecord, 4> TokenTable{};  // rows 1..3
  long n_tokenNo = 0;
  int n_Started = 0;
  long n_StartPoint = 0;
  long n_Len1 = 0, n_Len2 = 0, n_Len = 0;
  std::size_t n_SourceBytes = 0;  // size of the source read
  // Processor time of the start-up and each pass, in milliseconds
  // (A_Initialise, B_1stPass, C_2ndPass, D_3rdPass), for measurements.
  double w_PhaseMs[4] = {0, 0, 0, 0};
  // Rows of DataNameTable that hold constants ("K"), in row order.
  std::vector<long> w_ConstantRows;

  // ---- Second pass -----------------------------------------------------
  SecondPassState p2;
};

// ---- Driver (driver.cpp) -----------------------------------------------
// Runs A_Initialise, B_1stPass, C_2ndPass, D_3rdPass and EndInstructions;
// returns ERROR_CODE, the exit status.
int RunTranslator(Translator&);
// Joins arguments into w_CommandLine the way the runtime does, keeping the
// first 256 characters.
void SetCommandLine(Translator&, int argc, const char* const* argv);
void A_Initialise(Translator&);
int EndInstructions(Translator&);

// ---- First pass (pass1.cpp) -----------------------------------------------
void B_1stPass(Translator&);
void B1_LoadProgramTable(Translator&);
void B11_CommandCommentPosition(Translator&);
void B12_f_Directives(Translator&);
void B121_LookAtInclude(Translator&);
void B13_f_Comment(Translator&);
void B14_LoadSynonyms(Translator&);
void B141_ImportSynonyms(Translator&);
void B142_GetSynonyms(Translator&, std::string_view line);
void B15_f_Command(Translator&);
void B16_CommandLength(Translator&);
void B17_SplitLines(Translator&);
void B2_Synonyms(Translator&);
void B3_f_Assembler(Translator&);
void B4_RemoveBrackets(Translator&);
void B5_Load_DN_Table(Translator&);
void B6_ProcessBind(Translator&);
// Quote state for any character (used on copies of a line): a quotation
// mark opens a quotation that the same mark closes; outside quotations a
// ";" starts the comment, after which nothing opens or closes.
inline void X1_CheckQuoteChar(Translator& t, char c) {
  if (c == '"' || c == '\'') {
    if (t.w_Quote == ' ')
      t.w_Quote = c;
    else if (c == t.w_Quote)
      t.w_Quote = ' ';
  }
  if (t.w_Quote == ' ' && c == ';') t.w_Quote = ';';
}
// Quote state for column X1_Idx of PR_Line (updates w_Quote).
inline void X1_CheckQuotes(Translator& t) { X1_CheckQuoteChar(t, t.PR.PR_Line(t.X1_Idx)); }
// Brace state for column X2_Idx of PR_Line (updates w_Brace).
void X2_CheckBraces(Translator&);
// Appends DN as the next DataNameTable row (message 10 at the capacity).
void X3_PutXtable(Translator&);
// Appends SR as the next SynonymTable row (message 10 at the capacity).
void X4_PutXtable(Translator&);
// Looks up w_Temp30: DataNameTable_STATUS 0 and DN/X5_Idx/w_DataType set
// when found, 1 when not.
void X5_SearchByName(Translator&);
// Next row after X6_Idx whose DN_Record is w_SaveRecordName.
void X6_SearchByRecord(Translator&);
// Token from n_beginAt to PR.PR_CommandLength (n_Start, n_Length).
void X7_ExtractText(Translator&);
// Checks DN.DN_Picture (message 50 when too long).
void X11_CheckPicture(Translator&);

// ---- Third pass (pass3.cpp) ---------------------------------------------
void D_3rdPass(Translator&);
void D1_MASM_LoadSynonyms(Translator&);
void D2_MASM(Translator&);
void D3_WriteNewData(Translator&);
void D4_WriteMacros(Translator&);
void D41_BeginMacro(Translator&);
void D42_EndMacro(Translator&);
void D43_CompressLine(Translator&);
void D5_LinuxDEBUG(Translator&);
void D6_Compile(Translator&);
