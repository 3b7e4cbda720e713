// A client that comes straight back after its answer (a page's next
// request, a program or load test over one connection at a time) usually
// has its next connection in within about a hundred microseconds.  Sleeping
// in accept for it lets the core go idle, and waking an idle core (on a
// virtual machine above all) costs about as much as that wait.  So once an
// answer leaves no connection open, the server looks for the next one
// without sleeping, for at most kLookMicros, and between looks hands its
// core to any other program that wants it.  When another program keeps the
// core longer than kBusyCoreMicros, the core is in demand: the server does
// not look ahead for kBusyCorePauseMicros and sleeps at once, as it does
// whenever a look finds nothing.
#include "www_idle.h"

#include <stdint.h>

#include "kernel.h"

namespace qw::www {

namespace {

using namespace qw::sys;

constexpr int64_t kLookMicros = 100;
constexpr int64_t kBusyCoreMicros = 300;
constexpr int64_t kBusyCorePauseMicros = 1000000;

int64_t quiet_until = 0;  // no look ahead before this time

int64_t clock_us() {
  struct {
    long sec, nsec;
  } t = {0, 0};
  sys::call2(kClockGettime, kClockMonotonic, reinterpret_cast<long>(&t));
  return t.sec * 1000000 + t.nsec / 1000;
}

bool connection_queued(long listener) {
  struct {
    int fd;
    short events, revents;
  } p = {static_cast<int>(listener), kPollIn, 0};
  return sys::call3(kPoll, reinterpret_cast<long>(&p), 1, 0) > 0 && (p.revents & kPollIn) != 0;
}

}  // namespace

bool look_for_connection(long listener) {
  int64_t last = clock_us();
  if (last < quiet_until) return false;
  const int64_t end = last + kLookMicros;
  for (;;) {
    if (connection_queued(listener)) return true;
    sys::call0(kSchedYield);
    const int64_t now = clock_us();
    if (now - last > kBusyCoreMicros) {
      quiet_until = now + kBusyCorePauseMicros;
      return connection_queued(listener);
    }
    if (now >= end) return false;
    last = now;
  }
}

}  // namespace qw::www
