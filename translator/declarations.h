// Declarations: what the second pass needs to know of the names a program
// declares (kind, length or picture, record, bound table) is read from the
// declaration macros of its statements and of the packages it includes.
#pragma once

#include <string>

#include "names.h"
#include "rows.h"

class Declarations {
 public:
  // Reads the declarations of a statement written in columns 1..end of
  // text.  `line` names the source line in messages about pictures.
  void See(DataNames& names, const Line& text, long end, long line);

 private:
  void StoreField(DataNames& names, const Line& text, long end, char kind, long keyword,
                  long keywordLength, long line);

  // The record being declared: its fields so far.
  bool inRecord_ = false;
  long fields_ = 0;
  qwt::Text<30> record_;
  // The sub or function begun last: an @USING line declares its parameters.
  std::string sub_;
};

// A bind statement in columns 1..end of text: the fields declared so far
// for its record are bound to its table (or xtable).
void SeeBind(DataNames& names, const Line& text, long end);
