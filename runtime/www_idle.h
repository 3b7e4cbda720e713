// The HTML server with no connection open: a short look for the next one
// before it sleeps in accept.
#pragma once

namespace qw::www {

// True when a connection waits on the listener (a blocking listener, so
// that accept then takes it at once); false when none came within the
// look, and the server sleeps in accept as it would have without it.
bool look_for_connection(long listener);

}  // namespace qw::www
