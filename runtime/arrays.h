// Arrays module: plain arrays of 64-bit signed integers.
#pragma once

#include <stdint.h>

namespace qw::arrays {

// Sorts a[0] .. a[last] ascending.
void sort_integers(int64_t* a, int64_t last);

}  // namespace qw::arrays
