// Places that take only whole numbers (whole_numbers.cpp): a word part's
// start and length, an array index and an array element's value.  A
// decimal literal written there is refused at its line when the program is
// built; a number with places there gives its whole part at run time.
#pragma once

#include "names.h"
#include "rows.h"

// True when the statement was refused for such a literal.
bool RefusePlacesWhereWhole(Row& row, const DataNames& names);
