// The HTML server with no connection open: a short look for the next one
// before it sleeps until one comes.
#pragma once

namespace qw::www {

// Returns once a connection waits on the listener (or a signal came).
void wait_for_connection(long listener);

}  // namespace qw::www
