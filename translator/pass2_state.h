// Working state of the second pass: structure counters, mode flags,
// macro and temporary numbering, and the work areas of the statement
// rewrites.  The Translator holds one instance as member `p2`.
#pragma once

#include <string>
#include <vector>

struct SecondPassState {
  // ---- Structure counters (printed with six digits) ----------------------
  long n_NoOfBeginSubs = 0, n_NoOfEndSubs = 0;
  long n_NoOfRepeats = 0, n_NoOfEndRepeats = 0;
  long n_NoOfIfs = 0, n_NoOfEndIfs = 0;
  long n_NoOfDotCommands = 0, n_NoOfDotEnds = 0;
  long n_NoOfBeginTests = 0, n_NoOfEndTests = 0;
  long n_NoOfWhens = 0, n_NoOfWends = 0;
  long n_NoOfOpenBraces = 0, n_NoOfCloseBraces = 0;
  long n_NoOfOpenSQBrackets = 0, n_NoOfCloseSQBrackets = 0;

  // ---- Mode flags ------------------------------------------------------------
  int b_Assembler = 0;   // inside BEGIN_ASSEMBLER .. END_ASSEMBLER
  int b_Macro = 0;       // inside %MACRO/%IMACRO .. %ENDMACRO
  int b_Procedures = 0;  // from the row that includes BEGIN.INSTRUCTIONS on

  // ---- Statement translation ---------------------------------------------------
  long n_EqStart = 0;
  long n_dstStart = 0, n_dstEnd = 0, n_dstLen = 0, n_dstBrace = 0;
  char w_dstType = ' ';
  long n_srcStart = 0, n_srcEnd = 0, n_srcLen = 0;
  char w_srcType = ' ';
  char w_Operator = ' ';
  long n_Grown = 0;  // columns the row in hand has grown by so far

  // ---- Literals and inline pictures ---------------------------------------------
  std::string w_newLit;  // digits and minus signs of the literal in hand
  long n_litPlaces = 0, n_litNumbers = 0;
  int w_litPlace = 0;
  long n_StartLit = 0, n_endLit = 0, n_picPlaces = 0, n_oldLitlen = 0;
  char w_NewPic[32] = {};  // columns 1..31
  long n_newPicPos = 0;
  int n_DPFlag = 0;
  long n_numCtr = 0;
  long n_dpPos = 0;
  int n_exception = 0;

  // ---- Element-access macros ------------------------------------------------------
  long n_MacroNo = 0;
  int b_CreatedMacro = 0;
  long n_CharPos = 0;
  long n_ElementNo = 0;
  long n_StartElementName = 0, n_ElementLength = 0;
  long n_Comma1 = 0, n_Comma2 = 0;
  // Store-back lines of the row in hand, appended after its statement.
  std::vector<std::string> w_Last_MacroLineItem;

  // ---- Temporaries and macro text slots -------------------------------------------
  long n_NDNo = 0;         // last serial number given
  long n_HighestNDNo = 0;  // highest serial number stored
  long n_NDIdx = 0;        // rows in NewDataTable
  long n_TextIdx = 0;      // rows in MacroTable
};
