// The HTML server with no connection open: a short look for the next one
// before it sleeps until one comes.
#pragma once

#include <stdint.h>

namespace qw::www {

// The monotonic clock in microseconds.
int64_t monotonic_micros();

// Returns once a connection waits on the listener (or a signal came).
void wait_for_connection(long listener);

}  // namespace qw::www
