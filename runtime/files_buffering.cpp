// Read-ahead and write-behind: the files module's blocks between the
// program's records and the kernel.
#include "files_internal.h"

namespace qw::files {

// ---------------------------------------------------------------------------
// Read-ahead: each descriptor that reads lines or sequential records owns
// one buffer until it is closed, so bytes read ahead are never given up
// for another file (a pipe's could not be read again).  The first few
// buffers are static; more come from the kernel and are reused.

namespace {

constexpr int kStaticAheads = 8;
ReadAhead g_static_aheads[kStaticAheads];
int g_static_aheads_used = 0;
ReadAhead* g_free_aheads = nullptr;

ReadAhead* new_ahead() {
  if (g_free_aheads != nullptr) {
    ReadAhead* a = g_free_aheads;
    g_free_aheads = a->next_free;
    return a;
  }
  if (g_static_aheads_used < kStaticAheads) return &g_static_aheads[g_static_aheads_used++];
  return static_cast<ReadAhead*>(map_memory(sizeof(ReadAhead)));
}

}  // namespace

// Seeks the file back over undelivered bytes, so that the descriptor's
// position is where the program has reached.  A descriptor that cannot
// seek (a pipe) keeps its bytes: they stay to be delivered by later reads.
void settle(ReadAhead& a) {
  if (a.pos < a.end) {
    const long r = sys::lseek(a.fd, -static_cast<long>(a.end - a.pos), sys::kSeekCur);
    if (r == sys::kEspipe) return;
    checked(r);
  }
  a.pos = a.end = 0;
}

ReadAhead& attach_ahead(int64_t fd) {
  ReadAhead* a = new_ahead();
  a->fd = fd;
  a->pos = a->end = 0;
  g_open[fd].ahead = a;
  return *a;
}

void release_ahead(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) {
    a->next_free = g_free_aheads;
    g_free_aheads = a;
    g_open[fd].ahead = nullptr;
  }
}

// Refills an empty read-ahead; false at end of file.  The descriptor is a
// blocking one: a pipe whose writer pauses is waited for.
bool refill(ReadAhead& a) {
  const long r = checked(sys::read(a.fd, a.data, kAheadSize));
  a.pos = 0;
  a.end = static_cast<uint64_t>(r);
  return r > 0;
}

// At least `count` bytes (a few) ahead, unless the file ends first: the
// bytes still ahead move to the front and more are read after them.
bool have_ahead(ReadAhead& a, uint64_t count) {
  while (a.end - a.pos < count) {
    const uint64_t left = a.end - a.pos;
    __builtin_memmove(a.data, a.data + a.pos, left);
    a.pos = 0;
    a.end = left;
    const long r = checked(sys::read(a.fd, a.data + left, static_cast<long>(kAheadSize - left)));
    if (r == 0) return false;
    a.end += static_cast<uint64_t>(r);
  }
  return true;
}

uint64_t read_ahead(ReadAhead& a, uint8_t* out, uint64_t n) {
  uint64_t got = 0;
  while (got < n) {
    if (a.pos == a.end && !refill(a)) break;
    uint64_t take = a.end - a.pos;
    if (take > n - got) take = n - got;
    __builtin_memcpy(out + got, a.data + a.pos, take);
    a.pos += take;
    got += take;
  }
  return got;
}

// ---------------------------------------------------------------------------
// Write-behind, for files opened with kModeWriteBehind: lines and
// sequential records collect per descriptor and reach the kernel when the
// buffer is full, before any other operation on the descriptor, when the
// file's path is opened again, at close, and when the program ends (the
// runtime's exit flush, also run on the fatal and the signal path).

namespace {
constexpr int kBehindSlots = 8;
WriteBehind g_behind[kBehindSlots];
}  // namespace

// Writes what the buffer holds.  Signals wait meanwhile: the signal path
// writes the same buffer, and must find it as far as the kernel has taken
// it.  A failing write ends the program naming the file; its bytes are
// then given up, so the fatal exit does not write them a second time.
void flush_behind(WriteBehind& w) {
  const uint8_t* const was_working_on = g_subject;
  g_subject = g_open[w.fd].owner;
  hold_signals();
  while (w.start < w.len) {
    const long r = write_some(w.fd, w.data + w.start, w.len - w.start);
    if (r == sys::kEintr) {  // a signal came: it ends the program here
      release_signals();
      hold_signals();
      continue;
    }
    if (r <= 0) {
      w.start = w.len = 0;
      release_signals();
      fail_kernel(r == 0 ? sys::kEnospc : r);
    }
    w.start += static_cast<uint64_t>(r);
  }
  w.start = w.len = 0;
  release_signals();
  g_subject = was_working_on;
}

// When the program ends: as much as the kernel takes; a failure is shown
// when the program ends (after the message that ends it, if any), and the
// other files are still written.
static void flush_quietly(WriteBehind& w) {
  while (pending(w)) {
    const long r = write_some(w.fd, w.data + w.start, w.len - w.start);
    if (r == sys::kEintr) continue;
    if (r <= 0) {
      char path[kPathBytes];
      report_at_end(r == 0 ? sys::kEnospc : r, path_of_descriptor(w.fd, path));
      break;
    }
    w.start += static_cast<uint64_t>(r);
  }
  w.start = w.len = 0;
}

// Every way of ending (normal, fatal, by a signal) writes every file; one
// file that cannot be written does not keep the others from it.
void flush_for_exit(bool) {
  remove_unfinished_replacement();
  for (auto& w : g_behind) flush_quietly(w);
}

void claim_behind(int64_t fd, const Identity& file) {
  for (auto& w : g_behind)
    if (!w.used) {
      w.fd = fd;
      w.file = file;
      w.start = w.len = 0;
      w.used = true;
      g_open[fd].behind = &w;
      set_exit_flush(flush_for_exit);
      return;
    }
  // All in use: this file writes straight through.
}

// Lines go to the kernel whole: a program killed between two writes
// leaves a file that ends with a whole line, never part of one.
void put_bytes(WriteBehind* w, int64_t fd, const uint8_t* p, uint64_t n) {
  if (w == nullptr) {
    write_full(fd, p, n);
    return;
  }
  if (w->len + n > kBehindSize) flush_behind(*w);
  if (n > kBehindSize) {
    write_full(fd, p, n);
    return;
  }
  copy_bytes(w->data + w->len, p, n);
  w->len += n;
}

// Opening a path that a write-behind file still holds bytes for: they are
// written first, so the new block sees them (and an emptying open empties
// them too).
void flush_writes_to(const char* path) {
  bool any = false;
  for (auto& w : g_behind) any |= pending(w);
  if (!any) return;
  uint8_t st[sys::kStatRecordSize];
  if (sys::call2(sys::kStat, reinterpret_cast<long>(path), reinterpret_cast<long>(st)) < 0)
    return;  // not there yet: nobody holds bytes for it
  const Identity id = identity_at(st);
  for (auto& w : g_behind)
    if (pending(w) && same_file(w.file, id)) flush_behind(w);
}

void settle_descriptor(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) settle(*a);
  if (WriteBehind* w = find_behind(fd)) flush_behind(*w);
}

void flush_all_writes() {
  for (auto& w : g_behind)
    if (pending(w)) flush_behind(w);
}

void settle_file(FileBlock f) {
  flush_all_writes();
  const int64_t fd = descriptor_of(f);
  if (fd < 0) return;
  if (ReadAhead* a = find_ahead(fd)) settle(*a);
}

}  // namespace qw::files
