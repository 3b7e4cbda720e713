// One translation run: what it was asked to do, the tables the three passes
// fill and read, and what it produced.  A fresh Translator starts from
// nothing, so tests and the fuzzer make one per case.
//
// Stages and what each hands on:
//   start-up (driver.cpp)   command line -> options, NAME.QWR and NAME.ASM
//   first pass (pass1.cpp)  source -> rows (kind, source line, facts),
//                           synonyms applied, data names declared
//   second pass (pass2.cpp) rows -> rewritten rows, temporaries, macro
//                           lines, structure counts
//   writer (writer.cpp)     all of these -> the text of NAME.ASM
// A fatal message (messages.h) ends a run at any stage; NAME.ASM is written
// only when the writer finished.
#pragma once

#include <string>

#include "declarations.h"
#include "generated.h"
#include "messages.h"
#include "names.h"
#include "rows.h"
#include "structure.h"
#include "synonyms.h"
#include "text.h"

class Translator {
 public:
  Translator() = default;
  Translator(const Translator&) = delete;
  Translator& operator=(const Translator&) = delete;

  // ---- What the run is asked to do ------------------------------------
  qwt::Text<256> commandLine;  // the arguments, joined by blanks
  std::string directory;       // prefix of file names ("": current directory)
  bool noFiles = false;        // read and write no file (tests, fuzzing)
  bool useSourceText = false;  // translate sourceText instead of NAME.QWR
  std::string sourceText;
  Reporter messages;           // messages.capture keeps them in memory

  // ---- Options and names, from the command line -------------------------
  bool debug = false;      // -d/-D: a debug marker before every statement
  bool positions = false;  // -l: %line markers for NAME.QWR
  std::string inFile;      // NAME.QWR
  std::string outFile;     // NAME.ASM

  // ---- Tables ----------------------------------------------------------
  bool windows = false;  // the first source line holds WINDOWS: MASM dialect
  ProgramRows rows;
  Synonyms synonyms;
  DataNames names;
  Declarations declarations;
  Temporaries temporaries;
  MacroLines macros;
  StructureCounts structure;
  qwt::Text<30> defaultPicture{"'999999999999999.9999'"};  // of fixed-point temporaries
  std::size_t sourceBytes = 0;

  // ---- What the run produced -----------------------------------------
  std::string output;           // the text of NAME.ASM
  bool outputComplete = false;  // the writer finished
  int status = 0;               // the exit status
  // Processor time of start-up and each pass, in milliseconds.
  double phaseMs[4] = {0, 0, 0, 0};
};

// Joins the arguments into commandLine the way the runtime does, keeping
// the first 256 characters.
void SetCommandLine(Translator&, int argc, const char* const* argv);
// Runs the start-up and the three passes, writes NAME.ASM when they all
// finished, and returns the exit status.
int RunTranslator(Translator&);

// The stages, in the order RunTranslator runs them.
void StartUp(Translator&);
void FirstPass(Translator&);
void SecondPass(Translator&);
void WriteAssembly(Translator&);
