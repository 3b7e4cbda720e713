// What the rewrites of the second pass share: the room check of the row in
// hand, and the tables they read and fill besides it.
#pragma once

#include <algorithm>

#include "generated.h"
#include "messages.h"
#include "names.h"
#include "rows.h"
#include "structure.h"

// Ends the run with message 07 when `extra` more columns would push the
// written part of the row (its statement; a comment may be cut) past
// column 249.
inline void MakeRoom(const Row& row, long extra) {
  if (extra <= 0) return;
  long written = row.text.lastNonBlank(std::clamp<long>(row.commandLength, 0, kLineWidth));
  if (written + extra > kLineWidth) Fatal(Msg::kStatementTooLong, row.line);
}

// The tables an element macro reads and fills.
struct Generation {
  const DataNames& names;
  Temporaries& temporaries;
  MacroLines& macros;
  StructureCounts& structure;
  const qwt::Text<30>& defaultPicture;
};
