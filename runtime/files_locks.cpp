// The files module's locks.  They belong to the file description of the block that took
// them (the kernel's open-file-description locks): another block of the
// program on the same file is refused them as another process is, and
// closing that block, or a load that reads the file on a descriptor of
// its own, leaves them in place.
#include "files_internal.h"

namespace qw::files {
namespace {

struct LockRecord {
  int16_t type, whence;
  int32_t pad;
  int64_t start, len;
  int32_t pid, pad2;  // the pid is 0 for these locks
};

long lock_call(int64_t fd, long op, LockRecord& fl) {
  return sys::call3(sys::kFcntl, fd, op, reinterpret_cast<long>(&fl));
}

}  // namespace

bool kernel_lock(int64_t fd, int16_t type, int64_t start, int64_t length) {
  LockRecord fl{type, 0, 0, start, length, 0, 0};
  const long r = lock_call(fd, sys::kFOfdSetlk, fl);
  if (r == sys::kEagain || r == sys::kEacces) return false;
  checked(r);
  return true;
}

// True when a lock of another file description lies on the range, one
// that a write lock of the whole range would meet.
bool lock_met(int64_t fd, int64_t start, int64_t length) {
  LockRecord fl{sys::kFWrlck, 0, 0, start, length, 0, 0};
  checked(lock_call(fd, sys::kFOfdGetlk, fl));
  return fl.type != sys::kFUnlck;
}

int64_t range_end(int64_t start, int64_t length) {
  return length == 0 ? INT64_MAX : start + length;
}

static void add_held(HeldLocks& h, HeldLock l) {
  if (h.count == h.room) {
    const uint64_t room = h.room ? 2 * h.room : 256;
    auto* at = static_cast<HeldLock*>(map_memory(room * sizeof(HeldLock)));
    if (h.count) __builtin_memcpy(at, h.at, h.count * sizeof(HeldLock));
    unmap_memory(h.at, h.room * sizeof(HeldLock));
    h.at = at;
    h.room = room;
  }
  h.at[h.count++] = l;
}

// The range is no longer held: what lies around it inside a held range
// stays held, as the kernel splits it.
static void drop_held(HeldLocks& h, int64_t start, int64_t length) {
  const int64_t end = range_end(start, length);
  for (uint64_t i = 0; i < h.count;) {
    const HeldLock l = h.at[i];
    const int64_t l_end = range_end(l.start, l.length);
    if (l_end <= start || l.start >= end) {
      ++i;
      continue;
    }
    h.at[i] = h.at[--h.count];
    if (l.start < start) add_held(h, {l.start, start - l.start, l.type});
    if (l_end > end) add_held(h, {end, l_end == INT64_MAX ? 0 : l_end - end, l.type});
  }
}

void release_held(HeldLocks& h) {
  unmap_memory(h.at, h.room * sizeof(HeldLock));
  h = HeldLocks{};
}

bool set_lock(int64_t fd, int16_t type, int64_t start, int64_t length) {
  if (!kernel_lock(fd, type, start, length)) return false;
  HeldLocks& h = g_open[fd].held;
  drop_held(h, start, length);
  if (type != sys::kFUnlck) add_held(h, {start, length, type});
  return true;
}

// A lock on a file opened for reading is a shared one: other readers may
// hold it too, a writer cannot.
int16_t lock_type(int64_t fd) {
  return g_open[fd].access == kAccessRead ? sys::kFRdlck : sys::kFWrlck;
}

}  // namespace qw::files
