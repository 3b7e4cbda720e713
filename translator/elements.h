// Element-access macros (elements.cpp): a statement that names table
// elements (a field followed by an index in square brackets) or bracketed
// sub-expressions becomes the call of a generated macro that fetches the
// elements, computes the sub-expressions into temporaries, runs the
// statement and stores written elements back.
#pragma once

#include "generated.h"
#include "names.h"
#include "rows.h"
#include "structure.h"

// The tables an element macro reads and fills besides the row.
struct Generation {
  const DataNames& names;
  Temporaries& temporaries;
  MacroLines& macros;
  StructureCounts& structure;
  const qwt::Text<30>& defaultPicture;
  // Positions mode: an element of a statement whose direction no keyword
  // settles (a CALL argument) is fetched and stored back; otherwise only
  // replaced by its item.
  bool fetchUnsettled = false;
};

// Called for a statement that holds a "[" outside quotations.
void BuildElementMacro(Row& row, Generation& g);
