// A client that comes straight back after its answer (a page's next
// request, a program or a load test using one connection at a time)
// usually has its next connection in within a couple of hundred
// microseconds.  Sleeping for it lets the core go idle, and waking an idle
// core (on a virtual machine above all) costs about as much as that wait
// again.  So once an answer leaves no connection open, the
// server looks for the next one without sleeping, for at most kLookMicros,
// and between looks hands its core to any other program that wants it.
//
// A look that loses the core for longer than kBusyCoreMicros shows that
// other programs want it, and then each look would cost the server their
// time slice.  So it stops looking ahead for a pause: kMinPauseMicros after
// a lone loss, twice the last pause (up to kMaxPauseMicros) when the core
// is lost again within kCalmMicros of the end of a pause, as it is while
// the machine stays busy.  While paused the server sleeps at once, as it
// does whenever a look finds nothing.
#include "www_idle.h"

#include <stdint.h>

#include "kernel.h"

namespace qw::www {

namespace {

using namespace qw::sys;

constexpr int64_t kLookMicros = 200;
constexpr int64_t kBusyCoreMicros = 500;
constexpr int64_t kMinPauseMicros = 10000, kMaxPauseMicros = 1000000, kCalmMicros = 100000;

int64_t pause_until = 0;  // no look ahead before this time
int64_t pause = 0;

// True when a connection waits on the listener within the time (-1:
// however long it takes).
bool connection_queued(long listener, long ms) {
  struct {
    int fd;
    short events, revents;
  } p = {static_cast<int>(listener), kPollIn, 0};
  return sys::call3(kPoll, reinterpret_cast<long>(&p), 1, ms) > 0 && p.revents != 0;
}

void core_lost(int64_t now) {
  const bool again = now - pause_until < kCalmMicros;
  pause = !again ? kMinPauseMicros : pause * 2 < kMaxPauseMicros ? pause * 2 : kMaxPauseMicros;
  pause_until = now + pause;
}

// True when a connection came within the look.
bool look_for_connection(long listener) {
  int64_t last = monotonic_micros();
  if (last < pause_until) return false;
  const int64_t end = last + kLookMicros;
  for (;;) {
    sys::call0(kSchedYield);
    if (connection_queued(listener, 0)) return true;
    const int64_t now = monotonic_micros();
    if (now - last > kBusyCoreMicros) {
      core_lost(now);
      return false;
    }
    if (now >= end) return false;
    last = now;
  }
}

}  // namespace

int64_t monotonic_micros() {
  struct {
    long sec, nsec;
  } t = {0, 0};
  sys::call2(kClockGettime, kClockMonotonic, reinterpret_cast<long>(&t));
  return t.sec * 1000000 + t.nsec / 1000;
}

void wait_for_connection(long listener) {
  if (!look_for_connection(listener)) connection_queued(listener, -1);
}

}  // namespace qw::www
