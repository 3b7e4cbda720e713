// Working state of the second pass: structure counters, mode flags,
// macro and temporary numbering, and the work areas of the statement
// rewrites.  The Translator holds one instance as member `p2`.
#pragma once

#include <cstdint>

struct SecondPassState {
    // Structure counters (printed with six digits).
    long n_NoOfBeginSubs = 0, n_NoOfEndSubs = 0;
    long n_NoOfRepeats = 0, n_NoOfEndRepeats = 0;
    long n_NoOfIfs = 0, n_NoOfEndIfs = 0;
    long n_NoOfDotCommands = 0, n_NoOfDotEnds = 0;
    long n_NoOfBeginTests = 0, n_NoOfEndTests = 0;
    long n_NoOfWhens = 0, n_NoOfWends = 0;
    long n_NoOfOpenBraces = 0, n_NoOfCloseBraces = 0;
    long n_NoOfOpenSQBrackets = 0, n_NoOfCloseSQBrackets = 0;

    // Mode flags.
    int b_Assembler = 0;
    int b_Macro = 0;
    int b_Procedures = 0;

    // Generated macros.
    int n_MacroNo = 0;
    int b_CreatedMacro = 0;
    bool b_PendingStore = false;
    char w_Last_MacroLineItem[256] = {};

    // Temporaries.
    long n_NDNo = 0;
    long n_HighestNDNo = 0;
    long n_NDIdx = 0;
    long n_TextIdx = 0;
};
