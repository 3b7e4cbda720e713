// Common services: environment lookup, dates, starting programs, random
// numbers.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::services {

// Copies the value of the environment variable whose name is the substring
// (name, length; trailing blanks ignored) into `dest` from position `start`
// (1-based), cut at the word's Length.  The destination is unchanged when the
// variable is not set.
void environment_lookup(const char* name, uint64_t length, Word dest, uint64_t start);

}  // namespace qw::services
