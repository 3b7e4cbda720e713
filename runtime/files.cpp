// Files module: _FILEIO and the record and line conversions.
//
// Random files (kinds 16 and 32) are addressed by the record's _NO, one
// slot per record with a status byte; sequential files (kind 8) hold flat
// records back to back; delimited files hold text lines ended by the
// kind's terminator byte; kind 64 is a directory read entry by entry.
//
// The open-file table knows which file block each descriptor the module
// opened belongs to.  An operation on a block that is not open (never
// opened, closed, or its lock refused) touches no descriptor, whatever
// number its handle holds, and gives status 31.
//
// Delimited and sequential reads go through a per-descriptor read-ahead so
// that a line costs no system call of its own.  Every other operation on
// the descriptor first seeks the file back over the bytes read ahead but
// not yet delivered, so positions, copies, locks and writes see the file
// exactly where the program has reached.
//
// Fatal messages of file operations name the file ("File: " and its path).
#include "files.h"

#include "bridge.h"
#include "common.h"
#include "kernel.h"
#include "numbers.h"
#include "record.h"

namespace qw::files {
namespace {

// ---------------------------------------------------------------------------
// The module's own fatal lines, 80 characters each.

struct Line80 {
  char text[80];
};

constexpr Line80 line80(const char* s) {
  Line80 l{};
  int i = 0;
  for (; s[i] != 0 && i < 80; ++i) l.text[i] = s[i];
  for (; i < 80; ++i) l.text[i] = ' ';
  return l;
}

enum FilesMessage {
  kReadNeedsNumber, kWriteNeedsNumber, kDeleteNotRandom, kDeleteNeedsNumber,
  kStartNotRandom, kNextNotRandom, kLineTooLong, kRecordTooLong, kTooManyDirectories,
  kOpenForReading, kOpenForWriting,
};

constexpr Line80 kMessages[] = {
    line80("Read Error:You need a record number to read this record"),
    line80("Write Error:You need a record number to write this record"),
    line80("Delete Error:You can only delete from a random file"),
    line80("Delete Error:You can only delete from a random file using a record no"),
    line80("Start Error:You can only start a random file"),
    line80("Next Error:You can only use next on a random file"),
    line80("Write Error:The line is longer than the record buffer"),
    line80("Record Error:The record is longer than the record buffer"),
    line80("Open Error:Too many directories are open at once"),
    line80("Write Error:The file is open for reading only"),
    line80("Read Error:The file is open for writing only"),
};


// The file block the current operation works on: fatal messages name it.
const uint8_t* g_subject = nullptr;

void working_on(FileBlock f) { g_subject = f.name().data(); }

const char* subject_path(char* out) {
  if (g_subject == nullptr) return nullptr;
  make_path(Word(const_cast<uint8_t*>(g_subject)), out);
  return out;
}

[[noreturn]] void fail(FilesMessage m) {
  char path[kPathBytes];
  fatal_line_about(kMessages[m].text, subject_path(path));
}

[[noreturn]] void fail_kernel(long r) {
  char path[kPathBytes];
  fatal_kernel_about(r, subject_path(path));
}

// _CALLSYS: a negative kernel result ends the program with its line.
long checked(long r) {
  if (r < 0) fail_kernel(r);
  return r;
}

// ---------------------------------------------------------------------------
// The open-file table, indexed by descriptor.

constexpr int64_t kDescriptors = 4096;
constexpr int64_t kNoHandle = -1;
constexpr uint8_t kAccessRead = 0, kAccessWrite = 1, kAccessBoth = 2;

struct ReadAhead;
struct WriteBehind;

// The line a descriptor last read, which @GETFIELDS takes apart: in the
// record buffer, kept aside because another statement has used the buffer
// since, or none (nothing read yet, or the last read delivered no line).
enum class LineState : uint8_t { kNone, kInBuffer, kKept };
struct LastLine {
  LineState state;
  bool whole;  // false: the first part of a line longer than the buffer
  uint64_t length;
  uint8_t* kept;  // memory from the kernel, `room` bytes
  uint64_t room;
};

// The byte ranges a descriptor holds locked (length 0: to the end of the
// file), as the kernel holds them for its file description, so that an
// unload can lock the new file as the old one was.
struct HeldLock {
  int64_t start, length;
  int16_t type;
};
struct HeldLocks {
  HeldLock* at;  // memory from the kernel, `room` entries
  uint64_t count, room;
};

struct OpenFile {
  const uint8_t* owner;  // the name of the file block; null: not the module's
  uint8_t access;        // 0 read, 1 write, 2 read and write
  bool reads_apart;      // opened to read and append: reads keep their own place
  HeldLocks held;        // its locks
  WriteBehind* behind;   // its write-behind buffer, if it has one
  ReadAhead* ahead;      // its read-ahead, once it has read
  LastLine line;
};

OpenFile g_open[kDescriptors];

// The block's descriptor, or -1 when the block is not open.
int64_t descriptor_of(FileBlock f) {
  const int64_t fd = f.handle();
  if (fd < 0 || fd >= kDescriptors || g_open[fd].owner != f.name().data()) return -1;
  return fd;
}

void set_status(FileBlock f, int64_t s) { f.status().set_value(s); }

// The descriptor of an open block; -1 with status 31 when it is not open.
int64_t open_descriptor(FileBlock f) {
  const int64_t fd = descriptor_of(f);
  if (fd < 0) set_status(f, kNotOpen);
  return fd;
}

// Every operation on a block starts here: fatal messages name the block,
// its status is good, and its descriptor comes back (-1 with status 31
// when the block is not open).
int64_t begin_operation(FileBlock f) {
  working_on(f);
  set_status(f, kGood);
  return open_descriptor(f);
}

void take_descriptor(FileBlock f, int64_t fd, uint8_t access) {
  g_open[fd] = OpenFile{};
  g_open[fd].owner = f.name().data();
  g_open[fd].access = access;
  f.set_handle(fd);
}

void require_reading(int64_t fd) {
  if (g_open[fd].access == kAccessWrite) fail(kOpenForWriting);
}

void require_writing(int64_t fd) {
  if (g_open[fd].access == kAccessRead) fail(kOpenForReading);
}

// The path of the block a descriptor belongs to, for messages.
const char* path_of_descriptor(int64_t fd, char* out) {
  if (fd < 0 || fd >= kDescriptors || g_open[fd].owner == nullptr) return nullptr;
  make_path(Word(const_cast<uint8_t*>(g_open[fd].owner)), out);
  return out;
}

// ---------------------------------------------------------------------------
// The record buffer.  A read leaves blanks after what it delivers (the
// first 65,536 bytes), so fields taken past a short line come out blank.
// Blanking the whole stretch on every read would dominate line reading, so
// the module remembers how far the buffer may hold anything but blanks:
// its own writes raise the mark, and every other writer sets the buffer's
// Length to what it used.

constexpr uint64_t kBlankedPart = 65536;
uint64_t g_dirty_end = kBlankedPart;  // nothing is known blank at start

uint8_t* buffer() { return opaque(w_RecordBuffer); }
uint8_t* buffer_end() { return buffer() + kRecordBufferSize; }

void mark_dirty(uint64_t end) {
  if (end > g_dirty_end) g_dirty_end = end;
}

// Blanks the buffer from `from` to the end of the blanked part.
void blank_after(uint64_t from) {
  uint64_t end = g_dirty_end;
  const uint64_t used = record_buffer().length();
  if (used > end) end = used;
  if (end > kBlankedPart) end = kBlankedPart;
  if (from < end) __builtin_memset(buffer() + from, ' ', end - from);
  g_dirty_end = from;
}

// ---------------------------------------------------------------------------
// The last line read.  One line at a time lies in the record buffer; when
// another statement is about to use the buffer, that line is first kept
// aside in memory of its descriptor's own, and @GETFIELDS brings it back.

int64_t g_buffer_line = -1;  // the descriptor whose line the buffer holds

// The line @PUTFIELDS (or @WRITELINE) built last, while the buffer still
// holds it: its length with the terminator, and the terminator of the file
// it was built for.  Length 0: the buffer holds no such line.
struct BuiltLine {
  uint64_t length = 0;
  uint8_t term = 0;
};
BuiltLine g_built;

void* map_memory(uint64_t bytes) {
  const long m = sys::call6(sys::kMmap, 0, static_cast<long>(bytes), sys::kProtReadWrite,
                            sys::kMapPrivateAnonymous, -1, 0);
  if (m < 0 && m > -4096) fail_kernel(m);
  return reinterpret_cast<void*>(m);
}

void unmap_memory(void* p, uint64_t bytes) {
  if (p != nullptr) sys::call2(sys::kMunmap, reinterpret_cast<long>(p), static_cast<long>(bytes));
}

// The buffer is about to be used otherwise: a line read in it is kept
// aside, a line built in it is forgotten.
void keep_buffer_line() {
  g_built = BuiltLine{};
  const int64_t fd = g_buffer_line;
  if (fd < 0) return;
  g_buffer_line = -1;
  LastLine& l = g_open[fd].line;
  if (l.length > l.room) {
    unmap_memory(l.kept, l.room);
    l.kept = nullptr;
    l.room = (l.length + kBlankedPart - 1) & ~(kBlankedPart - 1);
    l.kept = static_cast<uint8_t*>(map_memory(l.room));
  }
  __builtin_memcpy(l.kept, buffer(), l.length);
  l.state = LineState::kKept;
}

// The record buffer for a statement that writes into it.
uint8_t* use_buffer() {
  keep_buffer_line();
  return buffer();
}

// The buffer holds the line the descriptor has just read (n bytes).
void line_in_buffer(int64_t fd, uint64_t n) {
  LastLine& l = g_open[fd].line;
  l.state = LineState::kInBuffer;
  l.length = n;
  g_buffer_line = fd;
  record::set_buffer_keeper(keep_buffer_line);
}

// Puts the descriptor's last line back into the buffer; false when it has
// none.
bool last_line_to_buffer(int64_t fd) {
  LastLine& l = g_open[fd].line;
  if (l.state == LineState::kNone) return false;
  if (g_buffer_line == fd) return true;
  keep_buffer_line();
  __builtin_memcpy(buffer(), l.kept, l.length);
  mark_dirty(l.length);
  blank_after(l.length);
  line_in_buffer(fd, l.length);
  return true;
}

void forget_line(int64_t fd) {
  LastLine& l = g_open[fd].line;
  if (g_buffer_line == fd) g_buffer_line = -1;
  unmap_memory(l.kept, l.room);
  l = LastLine{};
}

// ---------------------------------------------------------------------------
// Read-ahead: each descriptor that reads lines or sequential records owns
// one buffer until it is closed, so bytes read ahead are never given up
// for another file (a pipe's could not be read again).  The first few
// buffers are static; more come from the kernel and are reused.

constexpr int kStaticAheads = 8;
constexpr uint64_t kAheadSize = 65536;

struct ReadAhead {
  ReadAhead* next_free;
  int64_t fd;
  uint64_t pos, end;
  uint8_t data[kAheadSize];
};

ReadAhead g_static_aheads[kStaticAheads];
int g_static_aheads_used = 0;
ReadAhead* g_free_aheads = nullptr;

ReadAhead* find_ahead(int64_t fd) { return g_open[fd].ahead; }

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

ReadAhead* new_ahead() {
  if (g_free_aheads != nullptr) {
    ReadAhead* a = g_free_aheads;
    g_free_aheads = a->next_free;
    return a;
  }
  if (g_static_aheads_used < kStaticAheads) return &g_static_aheads[g_static_aheads_used++];
  return static_cast<ReadAhead*>(map_memory(sizeof(ReadAhead)));
}

ReadAhead& claim_ahead(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) return *a;
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

// Reads up to n bytes through the read-ahead; returns the bytes delivered.
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
// Plain kernel transfers.

uint64_t read_full(int64_t fd, uint8_t* out, uint64_t n) {
  uint64_t got = 0;
  while (got < n) {
    const long r = checked(sys::read(fd, out + got, static_cast<long>(n - got)));
    if (r == 0) break;
    got += static_cast<uint64_t>(r);
  }
  return got;
}

// One write of up to n bytes.  A file opened to read and append takes
// the kernel's positioned write, which with the append flag writes at the
// end and leaves the file's position where reading stands (a pipe has no
// position: a plain write).
long write_some(int64_t fd, const uint8_t* p, uint64_t n) {
  if (g_open[fd].reads_apart) {
    const long r = sys::call4(sys::kPwrite64, fd, reinterpret_cast<long>(p),
                              static_cast<long>(n), 0);
    if (r != sys::kEspipe) return r;
  }
  return sys::write(fd, p, static_cast<long>(n));
}

// Writes all n bytes or ends the program: a write is never reported good
// unless every byte reached the kernel.
void write_full(int64_t fd, const uint8_t* p, uint64_t n) {
  while (n > 0) {
    const long r = write_some(fd, p, n);
    if (r == sys::kEintr) continue;
    checked(r);
    if (r == 0) fail_kernel(sys::kEnospc);
    p += r;
    n -= static_cast<uint64_t>(r);
  }
}

struct Identity {
  uint64_t dev, ino;
  int64_t size;
};

Identity identity_at(const uint8_t* st) {
  return Identity{static_cast<uint64_t>(load64(st + sys::kStatDevAt)),
                  static_cast<uint64_t>(load64(st + sys::kStatInoAt)),
                  load64(st + sys::kStatSizeAt)};
}

Identity identity_of(int64_t fd) {
  uint8_t st[sys::kStatRecordSize];
  checked(sys::call2(sys::kFstat, fd, reinterpret_cast<long>(st)));
  return identity_at(st);
}

// ---------------------------------------------------------------------------
// Locks.  They belong to the file description of the block that took
// them (the kernel's open-file-description locks): another block of the
// program on the same file is refused them as another process is, and
// closing that block, or a load that reads the file on a descriptor of
// its own, leaves them in place.

struct LockRecord {
  int16_t type, whence;
  int32_t pad;
  int64_t start, len;
  int32_t pid, pad2;  // the pid is 0 for these locks
};

long lock_call(int64_t fd, long op, LockRecord& fl) {
  return sys::call3(sys::kFcntl, fd, op, reinterpret_cast<long>(&fl));
}

// Kernel record lock on a byte range without waiting; true when granted.
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

void add_held(HeldLocks& h, HeldLock l) {
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
void drop_held(HeldLocks& h, int64_t start, int64_t length) {
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

// Locks (or, with kFUnlck, unlocks) the range for the descriptor's block;
// true when granted.
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

// ---------------------------------------------------------------------------
// Write-behind, for files opened with kModeWriteBehind: lines and
// sequential records collect per descriptor and reach the kernel when the
// buffer is full, before any other operation on the descriptor, when the
// file's path is opened again, at close, and when the program ends (the
// runtime's exit flush, also run on the fatal and the signal path).

struct WriteBehind {
  bool used;
  int64_t fd;
  Identity file;
  uint64_t start, len;  // data[start, len) is still to be written
  uint8_t data[kAheadSize];
};

constexpr int kBehindSlots = 8;
WriteBehind g_behind[kBehindSlots];

WriteBehind* find_behind(int64_t fd) { return g_open[fd].behind; }

bool pending(const WriteBehind& w) { return w.used && w.start < w.len; }

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
void flush_quietly(WriteBehind& w) {
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

// The replacement under way (an unload writing its temporary file), from
// just before the temporary file is created until it takes the old file's
// place or is given up.
const Replacement* g_replacing = nullptr;

// A program that ends while a replacement is under way (a fatal error, a
// signal) leaves no temporary file behind; the old file stays as it was.
void remove_unfinished_replacement() {
  if (const Replacement* r = g_replacing) {
    g_replacing = nullptr;
    sys::call1(sys::kUnlink, reinterpret_cast<long>(r->temp));
  }
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

// Bytes to the file, through its write-behind when it has one.
void put_bytes(WriteBehind* w, int64_t fd, const uint8_t* p, uint64_t n) {
  if (w == nullptr) {
    write_full(fd, p, n);
    return;
  }
  if (w->len + n > kAheadSize) flush_behind(*w);
  if (n > kAheadSize) {
    write_full(fd, p, n);
    return;
  }
  __builtin_memcpy(w->data + w->len, p, n);
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
    if (pending(w) && w.file.dev == id.dev && w.file.ino == id.ino) flush_behind(w);
}

// Puts back the read-ahead of a descriptor and writes what it holds
// behind, before anything else uses the descriptor.
void settle_descriptor(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) settle(*a);
  if (WriteBehind* w = find_behind(fd)) flush_behind(*w);
}

// ---------------------------------------------------------------------------
// Directory frames: one per open directory, keyed by its descriptor.

constexpr int kFrames = 256;
constexpr uint64_t kFrameBytes = 4096;

struct DirFrame {
  bool used;
  int64_t fd;
  uint64_t count;  // bytes of the last directory read
  uint64_t next;   // offset of the next entry to deliver
  uint8_t data[kFrameBytes];
};

DirFrame g_frames[kFrames];

DirFrame* find_frame(int64_t fd) {
  for (auto& fr : g_frames)
    if (fr.used && fr.fd == fd) return &fr;
  return nullptr;
}

DirFrame& claim_frame(int64_t fd) {
  if (DirFrame* fr = find_frame(fd)) {
    fr->count = fr->next = 0;
    return *fr;
  }
  for (auto& fr : g_frames)
    if (!fr.used) {
      fr.used = true;
      fr.fd = fd;
      fr.count = fr.next = 0;
      return fr;
    }
  fail(kTooManyDirectories);
}

void read_directory_entry(FileBlock f, int64_t fd, Word dest) {
  DirFrame* fr = find_frame(fd);
  if (fr == nullptr) fr = &claim_frame(fd);
  if (fr->next >= fr->count) {
    const long r = checked(sys::call3(sys::kGetdents64, fd, reinterpret_cast<long>(fr->data),
                                      kFrameBytes));
    fr->count = static_cast<uint64_t>(r);
    fr->next = 0;
    if (r == 0) {
      set_status(f, kEndOfFile);
      return;
    }
  }
  const uint8_t* e = fr->data + fr->next;
  uint16_t reclen;
  __builtin_memcpy(&reclen, e + 16, 2);
  fr->next += reclen;
  return_code().set_value(e[18]);  // d_type
  const char* name = reinterpret_cast<const char*>(e + 19);
  char* out = dest.text();
  const uint64_t size = dest.length();
  uint64_t i = 0;
  for (; i < size && name[i] != 0; ++i) out[i] = name[i];
  for (; i < size; ++i) out[i] = ' ';
}

// A descriptor number the kernel hands out again starts with nothing read
// ahead, held behind or listed, whatever its number held before.
void forget_descriptor(int64_t fd) {
  release_ahead(fd);
  forget_line(fd);
  if (WriteBehind* w = find_behind(fd)) w->used = false;
  if (DirFrame* fr = find_frame(fd)) fr->used = false;
  release_held(g_open[fd].held);
  g_open[fd] = OpenFile{};
}

// Closes an open block's descriptor: what is read ahead goes back, what is
// held behind is written, and the handle says "not open".
void close_descriptor(FileBlock f, int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) settle(*a);
  if (WriteBehind* w = find_behind(fd)) flush_behind(*w);
  forget_descriptor(fd);
  f.set_handle(kNoHandle);
  checked(sys::close(fd));
}

// ---------------------------------------------------------------------------
// Records on disk: the flat form (record.h) behind a status prefix.

uint64_t prefix_length(uint8_t kind, Record rec) {
  if (rec.record_no() == 0) return 0;
  if (kind == kRandom) return 1;
  if (kind == kRandomReserved) return 9;
  return 0;
}

uint64_t status_offset(uint8_t kind) { return kind == kRandomReserved ? 8 : 0; }

// The slot's bytes and whether every number of the record shows its
// value (a slot that does not is never written).
record::Flat record_to_slot(Record rec, uint8_t kind, uint8_t* out, uint64_t capacity) {
  const uint64_t prefix = prefix_length(kind, rec);
  if (prefix > capacity) return {0, true};
  if (prefix == 9) {
    __builtin_memset(out, 0, 8);
    out[8] = 1;
  } else if (prefix == 1) {
    out[0] = 1;
  }
  const record::Flat flat = record::to_flat(rec, out + prefix, capacity - prefix);
  return {prefix + flat.length, flat.shown};
}

void slot_to_record(Record rec, uint8_t kind, const uint8_t* in, uint64_t available) {
  const uint64_t prefix = prefix_length(kind, rec);
  if (available < prefix) return;
  record::from_flat(rec, in + prefix, available - prefix);
}

uint64_t checked_slot(uint8_t kind, Record rec) {
  const uint64_t slot = slot_size(kind, rec);
  if (slot > kRecordBufferSize) fail(kRecordTooLong);
  return slot;
}

// Byte offset of record `no` (from 1); false when no file could hold the
// record there (its slot would end past the largest file offset).
bool record_offset(int64_t no, uint64_t slot, uint64_t& offset) {
  constexpr uint64_t kLargestOffset = 0x7fffffffffffffffULL;
  if (no < 1 || slot > kLargestOffset) return false;
  const uint64_t before = static_cast<uint64_t>(no - 1);
  if (slot != 0 && before > (kLargestOffset - slot) / slot) return false;
  offset = before * slot;
  return true;
}

// Positions the file at byte `extra` of record `no`; false with status 24
// when the record lies beyond what a file can hold (the file system too
// refuses offsets past its largest file).
bool seek_record(FileBlock f, int64_t fd, int64_t no, uint64_t slot, uint64_t extra) {
  uint64_t offset;
  if (!record_offset(no, slot, offset)) {
    set_status(f, kBeyondReach);
    return false;
  }
  const long r = sys::lseek(fd, static_cast<long>(offset + extra), 0);
  if (r == sys::kEinval) {
    set_status(f, kBeyondReach);
    return false;
  }
  checked(r);
  return true;
}

// True when byte b occurs among the n bytes at p: sixteen at a time, the
// last sixteen ending at the last byte.
bool holds_byte(const uint8_t* p, uint64_t n, uint8_t b) {
  typedef char Bytes16 __attribute__((vector_size(16)));
  if (n < 16) {
    for (uint64_t i = 0; i < n; ++i)
      if (p[i] == b) return true;
    return false;
  }
  const Bytes16 pattern = Bytes16{} + static_cast<char>(b);
  auto any_in = [&](const uint8_t* q) {
    Bytes16 v;
    __builtin_memcpy(&v, q, 16);
    return __builtin_ia32_pmovmskb128(v == pattern) != 0;
  };
  for (uint64_t i = 0; i + 16 < n; i += 16)
    if (any_in(p + i)) return true;
  return any_in(p + n - 16);
}

// A line that holds its terminator anywhere but at its end would read back
// as two lines (a field held the byte); a line feed line whose last field
// ends in a carriage return would read back without it.
bool reads_back_otherwise(const uint8_t* line, uint64_t n, uint8_t term) {
  if (n < 2) return false;
  if (holds_byte(line, n - 1, term)) return true;
  return term == '\n' && line[n - 1] == '\n' && line[n - 2] == '\r';
}

}  // namespace

// ---------------------------------------------------------------------------
// Kinds.

bool is_random(uint8_t kind) { return kind == kRandom || kind == kRandomReserved; }

bool is_delimited(uint8_t kind) {
  return kind != kSequential && !is_random(kind) && kind != kDirectory;
}

// Kind 1 ends lines with a zero byte; kinds up to 7 with a line feed; any
// other delimited kind with the byte of its own value.  Reading and writing
// use this one rule, so every file written reads back line by line.
uint8_t line_terminator(uint8_t kind) {
  if (kind == kZeroLines) return 0;
  if (kind < kSequential) return '\n';
  return kind;
}

uint64_t slot_size(uint8_t kind, Record rec) {
  const uint64_t len = rec.flat_length();
  if (kind == kRandom) return len + 1;
  if (kind == kRandomReserved) return len + 9;
  return len;
}

// ---------------------------------------------------------------------------
// The record buffer entries.

// A record with a number its picture cannot show leaves the buffer empty
// and RETURN_CODE 36, so that a write of the buffer writes nothing.
void record_to_buffer(Record rec, uint8_t kind) {
  const record::Flat slot = record_to_slot(rec, kind, use_buffer(), kRecordBufferSize);
  mark_dirty(slot.length);
  record_buffer().set_length(slot.shown ? slot.length : 0);
  return_code().set_value(slot.shown ? 0 : record::kNumberNotShown);
}

void buffer_to_record(Record rec, uint8_t kind) {
  slot_to_record(rec, kind, buffer(), kRecordBufferSize);
}

// ---------------------------------------------------------------------------
// Delimited lines.

namespace {

// A comma-separated word between double quotes, each quote inside doubled.
__attribute__((noinline)) uint8_t* put_quoted(uint8_t* at, const uint8_t* text, uint64_t n, const uint8_t* limit) {
  uint64_t quotes = 0;
  for (uint64_t i = 0; i < n; ++i) quotes += text[i] == '"';
  if (at + n + quotes + 3 > limit) fail(kLineTooLong);  // quotes and comma
  *at++ = '"';
  if (quotes == 0) {
    __builtin_memcpy(at, text, n);
    at += n;
  } else {
    for (uint64_t i = 0; i < n; ++i) {
      *at++ = text[i];
      if (text[i] == '"') *at++ = '"';
    }
  }
  *at++ = '"';
  return at;
}

// Where the line last read ends (its blanks follow); the buffer's end when
// `at` lies beyond it.
const uint8_t* line_end(FileBlock f, const uint8_t* at) {
  const int64_t n = f.read_length().value();
  if (n >= 0 && static_cast<uint64_t>(n) <= kMaxLine && at <= buffer() + n) return buffer() + n;
  return buffer_end();
}

// A quoted comma-separated word into the field: a doubled quote is one
// quote, the closing quote ends it; the word is cut or blank-padded to the
// field.  Returns the position after the closing quote.
__attribute__((noinline)) const uint8_t* quoted_to_word(Item field, uint64_t start, uint64_t length, const uint8_t* at,
                              const uint8_t* stop) {
  validate_source(field.data(), start, length);
  uint8_t* dest = field.data() + start - 1;
  uint64_t k = 0;
  for (++at; at < stop;) {
    const uint8_t c = *at++;
    if (c == '"') {
      if (at == stop || *at != '"') break;
      ++at;
    }
    if (k < length) dest[k] = c;
    ++k;
  }
  if (k < length) __builtin_memset(dest + k, ' ', length - k);
  return at;
}

// A number field of the line last read.  RETURN_CODE tells about the
// line's number fields so far, as a record read tells about the record's:
// 0 when each held exactly its edited form, else the worst of 9 and 99
// (numbers::from_field).
void take_number(Number n, const uint8_t* at, uint64_t len) {
  const int code = numbers::from_field(n, reinterpret_cast<const char*>(at), len);
  if (code > return_code().value()) return_code().set_value(code);
}

// A comma-separated number in double quotes: the text up to the closing
// quote, whatever its width.  Returns the position after the quote.
const uint8_t* quoted_to_number(Number n, const uint8_t* at, const uint8_t* stop) {
  const uint8_t* text = ++at;
  while (at < stop && *at != '"') ++at;
  take_number(n, text, static_cast<uint64_t>(at - text));
  return at < stop ? at + 1 : at;
}

// Before the first field of @GETFIELDS: the block's last line must be in
// the buffer (it is brought back when another statement has used the
// buffer since).  False when there is none: the block is not open
// (status 31), or its last read delivered no line (status 10, unless the
// status already tells why).
bool line_ready(FileBlock f) {
  const int64_t fd = descriptor_of(f);
  if (fd < 0) {
    set_status(f, kNotOpen);
    return false;
  }
  if (last_line_to_buffer(fd)) return true;
  const int64_t s = f.status().value();
  if (s == kGood || s == kLineTruncated) set_status(f, kEndOfFile);
  return false;
}

}  // namespace

uint8_t* field_to_line(Item field, uint64_t start, uint64_t length, FileBlock f, uint8_t* at) {
  const bool csv = f.kind() == kCsv;
  if (at < buffer() || at > buffer_end()) at = buffer();
  if (at == buffer()) use_buffer();  // a new line
  const uint8_t* limit = buffer() + kMaxLine;  // room for the terminator
  if (field.length() == 0) return at;
  if (field.is_number()) {
    const Number n(field.data());
    numbers::Picture pic;
    if (start != 0) pic = {reinterpret_cast<const char*>(start), length};
    const uint64_t len = pic.text ? pic.length : n.picture_length();
    if (at + len + (csv ? 1 : 0) > limit) fail(kLineTooLong);
    numbers::to_text(n, pic, reinterpret_cast<char*>(at));
    at += len;
  } else {
    validate_source(field.data(), start, length);
    const uint8_t* text = field.data() + start - 1;
    if (csv) {
      at = put_quoted(at, text, length, limit);
    } else {
      if (at + length > limit) fail(kLineTooLong);
      __builtin_memcpy(at, text, length);
      at += length;
    }
  }
  if (csv) *at++ = ',';
  mark_dirty(static_cast<uint64_t>(at - buffer()));
  return at;
}

const uint8_t* line_to_field(Item field, uint64_t start, uint64_t length, FileBlock f,
                             const uint8_t* at) {
  const uint8_t* end = buffer_end();
  if (at < buffer() || at > end) at = end;
  if (at == buffer()) {  // the line's first field
    if (!line_ready(f)) return at;
    return_code().set_value(0);
  }
  if (f.kind() == kCsv) {
    while (at < end && *at == ',') ++at;
    if (at < end && *at == '"') {
      if (field.is_number()) return quoted_to_number(Number(field.data()), at, line_end(f, at));
      return quoted_to_word(field, start, length, at, line_end(f, at));
    }
  }
  const uint64_t avail = static_cast<uint64_t>(end - at);
  if (field.is_number()) {
    uint64_t len = field.length();
    if (len > avail) len = avail;
    take_number(Number(field.data()), at, len);
    return at + len;
  }
  validate_source(field.data(), start, length);
  uint8_t* dest = field.data() + start - 1;
  const uint64_t take = length < avail ? length : avail;
  __builtin_memcpy(dest, at, take);
  if (take < length) __builtin_memset(dest + take, ' ', length - take);
  return at + take;
}

uint8_t* end_line(FileBlock f, uint8_t* at) {
  if (at < buffer() || at > buffer() + kMaxLine) at = buffer() + kMaxLine;
  if (at == buffer()) use_buffer();  // a line without fields
  if (f.kind() == kCsv && at > buffer() && at[-1] == ',') --at;
  *at++ = line_terminator(f.kind());
  const uint64_t n = static_cast<uint64_t>(at - buffer());
  record_buffer().set_length(n);
  mark_dirty(n);
  g_built = {n, at[-1]};
  record::set_buffer_keeper(keep_buffer_line);
  return at;
}

// ---------------------------------------------------------------------------
// Paths.

void make_path(Word w, char* out) {
  uint64_t n = w.length();
  if (n > 4096) n = 4096;
  const char* t = w.text();
  uint64_t i = 0;
  while (i < n && t[i] != 0) ++i;
  if (i == n)
    while (i > 0 && t[i - 1] == ' ') --i;
  __builtin_memcpy(out, t, i);
  out[i] = 0;
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

// ---------------------------------------------------------------------------
// Replacing a whole file.

namespace {

bool same_file(const Identity& a, const Identity& b) { return a.dev == b.dev && a.ino == b.ino; }

// The module's descriptors open on the file (directories aside).
template <class Visit>
void each_descriptor_on(const Identity& file, Visit visit) {
  for (int64_t fd = 0; fd < kDescriptors; ++fd) {
    if (g_open[fd].owner == nullptr || find_frame(fd) != nullptr) continue;
    if (same_file(identity_of(fd), file)) visit(fd);
  }
}

// True when another process holds a lock on a part of the file that none
// of the program's blocks holds: the parts the program's blocks hold are
// theirs (no other process can hold a write-locked part), every other part
// is asked of the kernel.  `probe` is a descriptor of the file's own.
bool others_lock(const Identity& file, int64_t probe) {
  uint64_t n = 0;
  each_descriptor_on(file, [&](int64_t fd) { n += g_open[fd].held.count; });
  if (n == 0) return lock_met(probe, 0, 0);
  const uint64_t bytes = n * sizeof(HeldLock);
  auto* own = static_cast<HeldLock*>(map_memory(bytes));
  uint64_t k = 0;
  each_descriptor_on(file, [&](int64_t fd) {
    const HeldLocks& h = g_open[fd].held;
    for (uint64_t i = 0; i < h.count; ++i) own[k++] = h.at[i];
  });
  for (uint64_t gap = n / 2; gap > 0; gap /= 2)  // by start
    for (uint64_t i = gap; i < n; ++i)
      for (uint64_t j = i; j >= gap && own[j - gap].start > own[j].start; j -= gap) {
        const HeldLock x = own[j];
        own[j] = own[j - gap];
        own[j - gap] = x;
      }
  bool met = false;
  int64_t from = 0;  // the parts before `from` are the program's or asked
  for (uint64_t i = 0; i < n && !met && from != INT64_MAX; ++i) {
    if (own[i].start > from) met = lock_met(probe, from, own[i].start - from);
    const int64_t end = range_end(own[i].start, own[i].length);
    if (end > from) from = end;
  }
  if (!met && from != INT64_MAX) met = lock_met(probe, from, 0);
  unmap_memory(own, bytes);
  return met;
}

// The replacement's descriptors: each of the module's descriptors open on
// the old file gets one on the new file, with the same open flags and the
// same locks, taken before the new file has its name.
struct Reopened {
  int64_t fd, nfd;
};
Reopened g_reopened[kDescriptors];
int64_t g_reopened_count = 0;

void open_replacement_for(const Identity& old, const Replacement& r) {
  g_reopened_count = 0;
  each_descriptor_on(old, [&](int64_t fd) {
    const long flags = checked(sys::call2(sys::kFcntl, fd, sys::kFGetfl));
    const long nfd = checked(sys::open(r.temp, flags | sys::kOCloexec, 0));
    g_reopened[g_reopened_count++] = {fd, nfd};
    const HeldLocks& h = g_open[fd].held;
    for (uint64_t i = 0; i < h.count; ++i)
      if (!kernel_lock(nfd, h.at[i].type, h.at[i].start, h.at[i].length)) fail_kernel(sys::kEagain);
  });
}

// The blocks reach the new file at the same place in it, with the locks
// already taken on it (the old description and its locks go).
void move_to_replacement() {
  for (int64_t i = 0; i < g_reopened_count; ++i) {
    const int64_t fd = g_reopened[i].fd, nfd = g_reopened[i].nfd;
    if (ReadAhead* a = find_ahead(fd)) settle(*a);
    const long at = checked(sys::lseek(fd, 0, sys::kSeekCur));
    checked(sys::call3(sys::kDup3, nfd, fd, sys::kOCloexec));
    sys::close(nfd);
    checked(sys::lseek(fd, at, sys::kSeekSet));
    if (WriteBehind* w = find_behind(fd)) w->file = identity_of(fd);
  }
  g_reopened_count = 0;
}

// The temporary file's name: the path with ".unload-" and the process
// number added, beside the file it replaces.
void name_beside(const char* path, char* out) {
  static constexpr char kMark[] = ".unload-";
  uint64_t n = 0;
  for (; path[n] != 0; ++n) out[n] = path[n];
  for (const char* m = kMark; *m != 0; ++m) out[n++] = *m;
  char digits[20];
  int k = 0;
  for (long pid = sys::call0(sys::kGetpid); pid > 0 || k == 0; pid /= 10)
    digits[k++] = static_cast<char>('0' + pid % 10);
  while (k > 0) out[n++] = digits[--k];
  out[n] = 0;
}

// A path that names a symbolic link is followed to the file it names, so
// that the new version replaces that file and the link stays a link.
void follow_links(char* path) {
  char target[kPathBytes];
  for (int hops = 0; hops < 40; ++hops) {
    const long n = sys::call3(sys::kReadlink, reinterpret_cast<long>(path),
                              reinterpret_cast<long>(target), kPathBytes - 1);
    if (n < 0) return;  // not a link, or no file yet
    uint64_t folder = 0;  // a relative target lies in the link's folder
    if (target[0] != '/')
      for (uint64_t i = 0; path[i] != 0; ++i)
        if (path[i] == '/') folder = i + 1;
    if (folder + static_cast<uint64_t>(n) >= kPathBytes) fail_kernel(sys::kEnametoolong);
    __builtin_memcpy(path + folder, target, static_cast<uint64_t>(n));
    path[folder + static_cast<uint64_t>(n)] = 0;
  }
}

}  // namespace

bool begin_replacement(FileBlock f, Replacement& r) {
  working_on(f);
  settle_file(f);
  make_path(f.name(), r.path);
  follow_links(r.path);
  // A write past the file-size limit must fail with its error, not kill.
  catch_ending_signals();
  uint8_t st[sys::kStatRecordSize];
  const bool existed =
      sys::call2(sys::kStat, reinterpret_cast<long>(r.path), reinterpret_cast<long>(st)) >= 0;
  uint32_t mode = 0;
  if (existed) __builtin_memcpy(&mode, st + sys::kStatModeAt, 4);
  // A device, a named pipe or a socket is never replaced by a file of its
  // own name: the unload is written into it as it stands.
  r.direct = existed && (mode & sys::kSIfmt) != sys::kSIfreg;
  if (r.direct) {
    r.temp[0] = 0;
    r.fd = checked(sys::open(r.path, sys::kOWriteOnly | sys::kOCloexec, 0));
    return true;
  }
  // A file another process holds a lock on is not replaced under it.
  if (existed) {
    const long probe = sys::open(r.path, sys::kOCloexec | sys::kONonblock, 0);
    const bool refused = probe >= 0 && others_lock(identity_at(st), probe);
    if (probe >= 0) sys::close(probe);  // (a file it may not read: nobody is asked)
    if (refused) return false;
  }
  uint64_t n = 0;
  while (r.path[n] != 0) ++n;
  if (n + 30 > kPathBytes) fail_kernel(sys::kEnametoolong);
  name_beside(r.path, r.temp);
  g_replacing = &r;
  set_exit_flush(flush_for_exit);
  const long flags = sys::kOWriteOnly | sys::kOCreat | sys::kOExcl | sys::kOCloexec;
  long fd = sys::open(r.temp, flags, 0666);
  if (fd == sys::kEexist) {  // left behind by an earlier process of this number
    sys::call1(sys::kUnlink, reinterpret_cast<long>(r.temp));
    fd = sys::open(r.temp, flags, 0666);
  }
  checked(fd);
  r.fd = fd;
  if (existed) {
    const long c = sys::call2(sys::kFchmod, fd, mode & 07777);
    if (c < 0) fail_replacement(r, c);
  }
  return true;
}

void finish_replacement(FileBlock f, Replacement& r) {
  working_on(f);
  const long c = sys::close(r.fd);
  if (c < 0) fail_replacement(r, c);
  if (r.direct) return;
  uint8_t st[sys::kStatRecordSize];
  const bool existed =
      sys::call2(sys::kStat, reinterpret_cast<long>(r.path), reinterpret_cast<long>(st)) >= 0;
  if (existed) open_replacement_for(identity_at(st), r);
  const long m =
      sys::call2(sys::kRename, reinterpret_cast<long>(r.temp), reinterpret_cast<long>(r.path));
  if (m < 0) fail_replacement(r, m);
  g_replacing = nullptr;
  move_to_replacement();
}

void fail_replacement(Replacement& r, long error) {
  sys::close(r.fd);
  if (!r.direct) remove_unfinished_replacement();
  fatal_kernel_about(error, r.path);
}

void take_pipe(FileBlock f, int64_t fd) {
  working_on(f);
  if (const int64_t old = descriptor_of(f); old >= 0) close_descriptor(f, old);
  set_status(f, kGood);
  f.size().set_value(0);
  f.set_handle(kNoHandle);
  if (fd < 0) return;
  if (fd >= kDescriptors) {
    sys::close(fd);
    fail_kernel(sys::kEmfile);
  }
  forget_descriptor(fd);
  take_descriptor(f, fd, kAccessRead);
}

// ---------------------------------------------------------------------------
// Operations.

namespace {

// The kernel's open flags for a mode: the program's own bits pass, the
// runtime's (lock request, write-behind) do not.  Files are always opened
// as blocking streams, so a pipe whose writer comes late is waited for.
// An open that asks for the lock empties the file only once the lock is
// granted (empty_locked), so a refused lock leaves it as it was.
long open_flags(uint8_t kind, int64_t mode) {
  long flags = (mode & ~(kModeLockFile | kModeWriteBehind)) | sys::kOCreat;
  if (is_random(kind)) flags &= ~sys::kOAppend;  // records keep their slots
  if (mode & kModeLockFile) flags &= ~sys::kOTruncate;
  return flags;
}

// Empties the regular file the descriptor has open and locked (anything
// else, a pipe or a device, has nothing to empty, as the kernel's own
// truncation at open would leave it).  A descriptor open for reading only
// cannot shorten its file: the path is opened once more to do it, which
// leaves the lock where it is.
void empty_locked(int64_t fd, const char* path) {
  uint8_t st[sys::kStatRecordSize];
  checked(sys::call2(sys::kFstat, fd, reinterpret_cast<long>(st)));
  uint32_t mode;
  __builtin_memcpy(&mode, st + sys::kStatModeAt, 4);
  if ((mode & sys::kSIfmt) != sys::kSIfreg) return;
  if (g_open[fd].access != kAccessRead) {
    checked(sys::call2(sys::kFtruncate, fd, 0));
    return;
  }
  const long w = checked(sys::open(path, sys::kOWriteOnly | sys::kOTruncate | sys::kOCloexec, 0));
  sys::close(w);
}

}  // namespace

void open_file(FileBlock f, int64_t mode) {
  working_on(f);
  if (const int64_t old = descriptor_of(f); old >= 0) close_descriptor(f, old);
  set_status(f, kGood);
  char path[kPathBytes];
  make_path(f.name(), path);
  flush_writes_to(path);
  const bool directory = f.kind() == kDirectory;
  // A program the caller starts never inherits its files.
  const long fd = sys::open(path, (directory ? sys::kODirectory : open_flags(f.kind(), mode)) | sys::kOCloexec, 0666);
  if (fd < 0) fail_kernel(fd);
  if (fd >= kDescriptors) {
    sys::close(fd);
    fail_kernel(sys::kEmfile);
  }
  forget_descriptor(fd);
  const uint8_t access = directory ? kAccessRead : static_cast<uint8_t>(mode & sys::kOAccessMode);
  take_descriptor(f, fd, access);
  g_open[fd].reads_apart = !directory && access == kAccessBoth &&
                           (open_flags(f.kind(), mode) & sys::kOAppend);
  if (!directory && (mode & kModeLockFile)) {
    if (!set_lock(fd, lock_type(fd), 0, 0)) {
      forget_descriptor(fd);
      f.set_handle(kNoHandle);
      sys::close(fd);
      set_status(f, kLocked);
      return;
    }
    if (mode & kModeTruncate) empty_locked(fd, path);
  }
  const Identity id = identity_of(fd);
  if (directory) claim_frame(fd);
  if (!directory && (mode & kModeWriteBehind)) claim_behind(fd, id);
  if (access != kAccessRead) catch_ending_signals();
  f.size().set_value(id.size);
}

void close_file(FileBlock f) {
  const int64_t fd = begin_operation(f);
  if (fd >= 0) close_descriptor(f, fd);
}

namespace {

// Reads the next line into the buffer; the terminator never reaches it
// (blanks follow the line), and for line-feed files neither does a
// carriage return before the line feed.
void read_line(FileBlock f, int64_t fd) {
  f.read_length().set_value(0);
  const uint8_t term = line_terminator(f.kind());
  ReadAhead& a = claim_ahead(fd);
  if (g_buffer_line != fd) keep_buffer_line();
  g_buffer_line = -1;
  g_open[fd].line.state = LineState::kNone;
  uint8_t* out = buffer();
  uint64_t n = 0;
  bool ended = false, eof = false, cr_taken = false;
  for (;;) {
    if (a.pos == a.end && !refill(a)) {
      eof = true;
      break;
    }
    const uint8_t* s = a.data + a.pos;
    uint64_t lim = a.end - a.pos;
    if (lim > kMaxLine - n) lim = kMaxLine - n;
    uint64_t k = 0;
    while (k < lim && s[k] != term) ++k;
    __builtin_memcpy(out + n, s, k);
    n += k;
    a.pos += k;
    if (k < lim) {  // the terminator
      ++a.pos;
      ended = true;
      break;
    }
    if (n == kMaxLine) {  // full: the line may still end right here
      if (!have_ahead(a, 1)) {
        eof = true;
      } else if (a.data[a.pos] == term) {
        ++a.pos;
        ended = true;
      } else if (term == '\n' && a.data[a.pos] == '\r' && have_ahead(a, 2) &&
                 a.data[a.pos + 1] == '\n') {
        a.pos += 2;
        ended = cr_taken = true;
      }
      break;
    }
  }
  const bool empty = n == 0 && !ended;
  mark_dirty(n);
  if (ended && !cr_taken && term == '\n' && n > 0 && out[n - 1] == '\r') --n;
  blank_after(n);
  f.read_length().set_value(static_cast<int64_t>(n));
  if (empty) {
    set_status(f, kEndOfFile);
    return;
  }
  if (!ended && !eof) set_status(f, kLineTruncated);
  line_in_buffer(fd, n);
  g_open[fd].line.whole = ended || eof;
}

void read_sequential(FileBlock f, int64_t fd, Record rec) {
  const uint64_t slot = checked_slot(kSequential, rec);
  ReadAhead& a = claim_ahead(fd);
  const uint64_t got = read_ahead(a, use_buffer(), slot);
  blank_after(got);
  if (got == 0) {
    set_status(f, kEndOfFile);
    return;
  }
  if (buffer()[0] == 0) {  // a hole in the file: no record here
    set_status(f, kInvalidKey);
    return;
  }
  record::from_flat(rec, buffer(), got);
  if (got < slot) set_status(f, kRecordCutOff);
}

// Reads up to n bytes at `offset`, whatever the descriptor's position.
uint64_t read_at(int64_t fd, uint8_t* out, uint64_t n, uint64_t offset) {
  uint64_t got = 0;
  while (got < n) {
    const long r = checked(sys::call4(sys::kPread64, fd, reinterpret_cast<long>(out + got),
                                      static_cast<long>(n - got), static_cast<long>(offset + got)));
    if (r == 0) break;
    got += static_cast<uint64_t>(r);
  }
  return got;
}

// Where the next stored data lies, from `offset` on, as the slot it
// belongs to: holes of a sparse file hold no record and are passed over
// unread.  When nothing but holes follows, `offset` becomes the file's end
// (as if the holes had been read) and the answer is false.
bool next_data(int64_t fd, uint64_t& offset, uint64_t slot) {
  const long r = sys::lseek(fd, static_cast<long>(offset), sys::kSeekData);
  if (r == sys::kEnxio) {
    const int64_t end = identity_of(fd).size;
    if (end > static_cast<int64_t>(offset)) offset = static_cast<uint64_t>(end);
    return false;
  }
  if (r > static_cast<long>(offset)) offset = static_cast<uint64_t>(r) / slot * slot;
  return true;  // (a file system that cannot tell holes reads on)
}

// Bytes of whole slots read at a time while looking for a record in use.
uint64_t scan_block(uint64_t slot) {
  const uint64_t block = kBlankedPart / slot * slot;
  return block > slot ? block : slot;
}

// Reads from record `no` on until a slot in use, which goes into the
// record with _NO its number.  One slot is read first (a file read in
// order has its next record there); after an empty one, whole blocks of
// slots, and holes are passed over.  At the end of the file: status 10,
// _NO the number of the slot after the last one read.
void scan_slots(FileBlock f, int64_t fd, Record rec, int64_t no) {
  const uint8_t kind = f.kind();
  const uint64_t slot = checked_slot(kind, rec);
  const uint64_t off = status_offset(kind);
  uint64_t offset;
  if (!record_offset(no, slot, offset)) {
    set_status(f, kBeyondReach);
    return;
  }
  uint8_t* buf = use_buffer();
  for (uint64_t want = slot;; want = scan_block(slot)) {
    const uint64_t got = read_at(fd, buf, want, offset);
    mark_dirty(got);
    for (uint64_t at = 0; at + off < got; at += slot) {
      if (buf[at + off] == 0) continue;
      const uint64_t n = got - at < slot ? got - at : slot;
      __builtin_memmove(buf, buf + at, n);
      blank_after(n);
      rec.set_record_no(static_cast<int64_t>((offset + at) / slot + 1));
      slot_to_record(rec, kind, buf, n);
      if (n < slot) set_status(f, kRecordCutOff);
      return;
    }
    offset += got;
    if (got < want || !next_data(fd, offset, slot)) break;
  }
  blank_after(0);
  rec.set_record_no(static_cast<int64_t>(offset / slot + 1));
  set_status(f, kEndOfFile);
}

void read_random(FileBlock f, int64_t fd, Record rec) {
  const uint8_t kind = f.kind();
  const int64_t no = rec.record_no();
  if (no == 0) fail(kReadNeedsNumber);
  settle_descriptor(fd);
  if (no < 0) {
    set_status(f, kInvalidKey);
    return;
  }
  const uint64_t slot = checked_slot(kind, rec);
  if (!seek_record(f, fd, no, slot, 0)) return;
  const uint64_t got = read_full(fd, use_buffer(), slot);
  blank_after(got);
  const uint64_t off = status_offset(kind);
  if (got == 0) {
    set_status(f, kEndOfFile);
    return;
  }
  if (got <= off || buffer()[off] == 0) {
    set_status(f, kInvalidKey);
    return;
  }
  slot_to_record(rec, kind, buffer(), got);
  if (got < slot) set_status(f, kRecordCutOff);
}

// Writes one slot at the file's position.  A file system that cannot hold
// a file this long refuses the first byte: status 24, nothing written.
void write_slot(FileBlock f, int64_t fd, uint64_t slot) {
  const long r = sys::write(fd, buffer(), static_cast<long>(slot));
  if (r == sys::kEfbig || r == sys::kEinval) {
    set_status(f, kBeyondReach);
    return;
  }
  checked(r);
  write_full(fd, buffer() + r, slot - static_cast<uint64_t>(r));
}

}  // namespace

void read_file(FileBlock f, void* target) {
  const int64_t fd = begin_operation(f);
  if (fd < 0) return;
  require_reading(fd);
  const uint8_t kind = f.kind();
  if (WriteBehind* w = find_behind(fd); w && pending(*w)) flush_behind(*w);
  if (kind == kDirectory) {
    read_directory_entry(f, fd, Word(target));
  } else if (kind == kSequential) {
    read_sequential(f, fd, Record(target));
  } else if (is_delimited(kind)) {
    read_line(f, fd);
  } else {
    read_random(f, fd, Record(target));
  }
}

namespace {

// @WRITE of a line read (@READ f_In, then @WRITE f_Out): the line as it
// came, ended by this file's own terminator (a part of a line longer than
// the buffer without one, so that the parts join again).  A line the file
// could not give back as it is gives 35 and is not written.
void write_line_read(FileBlock f, int64_t fd, WriteBehind* behind, uint8_t term) {
  const LastLine& read = g_open[g_buffer_line].line;
  uint8_t* line = buffer();
  const uint64_t n = read.length + (read.whole ? 1 : 0);
  const uint8_t after = line[read.length];
  line[read.length] = term;
  if (reads_back_otherwise(line, n, term)) set_status(f, kFieldHoldsTerminator);
  else put_bytes(behind, fd, line, n);
  line[read.length] = after;
}

// @WRITE of a line built for another file (@PUTFIELDS f_A or @WRITELINE
// f_A, then @WRITE f_B): re-ended with this file's own terminator, as a
// line read is.  Anything else in the buffer is written as it stands.
void write_line_built(FileBlock f, int64_t fd, WriteBehind* behind, uint8_t term) {
  uint8_t* line = buffer();
  uint64_t n = record_buffer().length();
  if (n > kRecordBufferSize) n = kRecordBufferSize;
  const bool built = n > 0 && n == g_built.length && line[n - 1] == g_built.term;
  if (built) line[n - 1] = term;
  if (reads_back_otherwise(line, n, term)) set_status(f, kFieldHoldsTerminator);
  else put_bytes(behind, fd, line, n);
  if (built) line[n - 1] = g_built.term;
}

}  // namespace

void write_file(FileBlock f, void* source) {
  const int64_t fd = begin_operation(f);
  if (fd < 0) return;
  require_writing(fd);
  const uint8_t kind = f.kind();
  WriteBehind* behind = find_behind(fd);
  if (behind && (is_delimited(kind) || kind == kSequential)) {
    if (ReadAhead* a = find_ahead(fd)) settle(*a);
  } else {
    settle_descriptor(fd);
    behind = nullptr;
  }
  if (is_delimited(kind)) {
    if (g_buffer_line >= 0) write_line_read(f, fd, behind, line_terminator(kind));
    else write_line_built(f, fd, behind, line_terminator(kind));
    return;
  }
  const Record rec(source);
  const uint64_t slot = checked_slot(kind, rec);
  const int64_t no = rec.record_no();
  if (kind != kSequential && no == 0) fail(kWriteNeedsNumber);
  // The slot (with the in-use prefix of a random file) is built first: a
  // record with a number its picture cannot show is not written.
  const record::Flat built = record_to_slot(rec, kind, use_buffer(), slot);
  mark_dirty(built.length);
  if (!built.shown) {
    set_status(f, record::kNumberNotShown);
    return;
  }
  if (kind == kSequential && record::leads_with_zero(rec)) {  // it would read as a hole
    set_status(f, record::kLeadsWithZero);
    return;
  }
  if (kind == kSequential) {
    put_bytes(behind, fd, buffer(), slot);
    return;
  }
  if (no < 0) {
    set_status(f, kInvalidKey);
    return;
  }
  if (!seek_record(f, fd, no, slot, 0)) return;
  write_slot(f, fd, slot);
}

void start_file(FileBlock f, Record rec) {
  const int64_t fd = begin_operation(f);
  if (!is_random(f.kind())) fail(kStartNotRandom);
  if (fd < 0) return;
  settle_descriptor(fd);
  const int64_t no = rec.record_no();
  scan_slots(f, fd, rec, no < 1 ? 1 : no);
}

// The record after the record's own _NO, whatever else has read or written
// the file since.
void next_record(FileBlock f, Record rec) {
  const int64_t fd = begin_operation(f);
  if (!is_random(f.kind())) fail(kNextNotRandom);
  if (fd < 0) return;
  settle_descriptor(fd);
  const int64_t no = rec.record_no();
  if (no == 0x7fffffffffffffffLL) {
    set_status(f, kBeyondReach);
    return;
  }
  scan_slots(f, fd, rec, no < 0 ? 1 : no + 1);
}

void delete_record(FileBlock f, Record rec) {
  const int64_t fd = begin_operation(f);
  const uint8_t kind = f.kind();
  if (!is_random(kind)) fail(kDeleteNotRandom);
  const int64_t no = rec.record_no();
  if (no == 0) fail(kDeleteNeedsNumber);
  if (fd < 0) return;
  require_writing(fd);
  settle_descriptor(fd);
  if (no < 0) {
    set_status(f, kInvalidKey);
    return;
  }
  const uint64_t slot = slot_size(kind, rec);
  const uint64_t off = status_offset(kind);
  uint8_t flag = 0;
  if (!seek_record(f, fd, no, slot, off)) return;
  if (read_full(fd, &flag, 1) == 0 || flag == 0) {
    set_status(f, kInvalidKey);
    return;
  }
  flag = 0;
  seek_record(f, fd, no, slot, off);
  write_full(fd, &flag, 1);
  seek_record(f, fd, no, slot, slot);  // after the slot, as a read leaves it
}

namespace {

void lock_or_unlock(FileBlock f, Record rec, bool lock) {
  const int64_t fd = begin_operation(f);
  if (fd < 0) return;
  settle_descriptor(fd);
  const int64_t no = rec.record_no();
  if (no < 1) {
    set_status(f, kInvalidKey);
    return;
  }
  const uint64_t slot = slot_size(f.kind(), rec);
  uint64_t offset;
  if (!record_offset(no, slot, offset)) {
    set_status(f, kBeyondReach);
    return;
  }
  const int16_t type = lock ? lock_type(fd) : static_cast<int16_t>(sys::kFUnlck);
  if (!set_lock(fd, type, static_cast<int64_t>(offset), static_cast<int64_t>(slot)))
    set_status(f, kLocked);
}

}  // namespace

void lock_record(FileBlock f, Record rec) { lock_or_unlock(f, rec, true); }
void unlock_record(FileBlock f, Record rec) { lock_or_unlock(f, rec, false); }

namespace {

// All n bytes to a copy's destination: 0, or the kernel's error.
long write_out(int64_t fd, const uint8_t* p, uint64_t n) {
  while (n > 0) {
    const long r = write_some(fd, p, n);
    if (r == sys::kEintr) continue;
    if (r < 0) return r;
    if (r == 0) return sys::kEnospc;
    p += r;
    n -= static_cast<uint64_t>(r);
  }
  return 0;
}

// Copies through the source's read-ahead buffer: what it still holds
// first, then block after block up to the end, read from byte `from` on
// (a stream, from < 0: from where it stands).  0 or the kernel's error.
long copy_by_reading(ReadAhead& a, int64_t out, int64_t from, int64_t& sent) {
  for (;;) {
    if (a.pos < a.end) {
      const long w = write_out(out, a.data + a.pos, a.end - a.pos);
      if (w < 0) return w;
      sent += static_cast<int64_t>(a.end - a.pos);
    }
    a.pos = a.end = 0;
    const long r = from < 0 ? sys::read(a.fd, a.data, kAheadSize)
                            : sys::call4(sys::kPread64, a.fd, reinterpret_cast<long>(a.data),
                                         kAheadSize, from + sent);
    if (r == sys::kEintr) continue;
    if (r <= 0) return r;
    a.end = static_cast<uint64_t>(r);
  }
}

// A regular file, all `total` bytes of it from its start, by the kernel's
// file-to-file transfer (or block by block where that cannot write, as
// into a file opened for appending).  0 or the kernel's error.
long copy_whole(int64_t in, int64_t out, int64_t total, int64_t& sent) {
  int64_t offset = 0;
  while (sent < total) {
    const long r =
        sys::call4(sys::kSendfile, out, in, reinterpret_cast<long>(&offset), total - sent);
    if ((r == sys::kEinval || r == sys::kEnosys) && sent == 0)
      return copy_by_reading(claim_ahead(in), out, 0, sent);
    if (r < 0) return r;
    if (r == 0) break;  // the file became shorter meanwhile
    sent += r;
  }
  return 0;
}

bool is_regular(const uint8_t* st) {
  uint32_t mode;
  __builtin_memcpy(&mode, st + sys::kStatModeAt, 4);
  return (mode & sys::kSIfmt) == sys::kSIfreg;
}

}  // namespace

// Sends `from` to `to` at its position: the whole of a file (as it is now),
// or all that is left of a stream (a pipe, standard input) up to its end.
// The count sent goes to from's _READLENGTH; RETURN_CODE is 0 or minus the
// kernel's error (-9 when either block is not open; that block's status
// is then 31).
void copy_file(FileBlock from, FileBlock to) {
  working_on(from);
  return_code().set_value(0);
  from.read_length().set_value(0);
  const int64_t in = open_descriptor(from);
  const int64_t out = open_descriptor(to);
  if (in < 0 || out < 0) {
    return_code().set_value(sys::kEbadf);
    return;
  }
  settle_descriptor(in);
  working_on(to);
  settle_descriptor(out);
  int64_t sent = 0;
  uint8_t st[sys::kStatRecordSize];
  long r = sys::call2(sys::kFstat, in, reinterpret_cast<long>(st));
  if (r >= 0) {
    r = is_regular(st) ? copy_whole(in, out, identity_at(st).size, sent)
                       : copy_by_reading(claim_ahead(in), out, -1, sent);
  }
  from.read_length().set_value(sent);
  if (r < 0) return_code().set_value(r);
}

// A file block's name is a word of 255 characters with the number
// _READLENGTH (picture "999999") 67 bytes before it.
bool is_file_block(const void* name) {
  const uint8_t* p = opaque(const_cast<void*>(name));
  return Word(const_cast<uint8_t*>(p)).length() == 255 && p[-76] == kNumberType &&
         load64(p - 75) == 6;
}

// The result also goes to _READLENGTH when the path is a file block's (a
// plain word or text has no such item in front of it).
void rename_path(Word from, Word to, FileBlock from_block) {
  char a[kPathBytes], b[kPathBytes];
  make_path(from, a);
  make_path(to, b);
  const long r = sys::call2(sys::kRename, reinterpret_cast<long>(a), reinterpret_cast<long>(b));
  return_code().set_value(r);
  if (is_file_block(from.text())) from_block.read_length().set_value(r);
}

void remove_path(Word path) {
  char a[kPathBytes];
  make_path(path, a);
  return_code().set_value(sys::call1(sys::kUnlink, reinterpret_cast<long>(a)));
}

void change_directory(Word path) {
  char a[kPathBytes];
  make_path(path, a);
  return_code().set_value(sys::call1(sys::kChdir, reinterpret_cast<long>(a)));
}

// The path ends with a zero byte (so the word can be handed on as a path)
// and blanks fill the rest of the word.
void query_directory(Word dest) {
  const uint64_t size = dest.length();
  const long r = sys::call2(sys::kGetcwd, reinterpret_cast<long>(dest.text()),
                            static_cast<long>(size));
  return_code().set_value(r);
  if (r > 0 && static_cast<uint64_t>(r) < size)
    __builtin_memset(dest.text() + r, ' ', size - static_cast<uint64_t>(r));
}

void file_exists(FileBlock f) {
  working_on(f);
  char path[kPathBytes];
  make_path(f.name(), path);
  flush_writes_to(path);
  uint8_t st[sys::kStatRecordSize];
  const long r = sys::call2(sys::kStat, reinterpret_cast<long>(path), reinterpret_cast<long>(st));
  return_code().set_value(r < 0 ? r : 0);
  set_status(f, r < 0 ? kInvalidKey : kGood);
  f.size().set_value(r < 0 ? 0 : identity_at(st).size);
}

void file_io(int op, void* r9, void* r10) {
  const FileBlock f(r9);
  switch (op) {
    case kRead: read_file(f, r10); break;
    case kWrite: write_file(f, r10); break;
    case kOpen: open_file(f, reinterpret_cast<int64_t>(r10)); break;
    case kClose: close_file(f); break;
    case kStart: start_file(f, Record(r10)); break;
    case kNext: next_record(f, Record(r10)); break;
    case kDelete: delete_record(f, Record(r10)); break;
    case kCopy: copy_file(f, FileBlock(r10)); break;
    case kRename: rename_path(Word(r9), Word(r10), f); break;
    case kRemove: remove_path(Word(r9)); break;
    case kChangeDirectory: change_directory(Word(r9)); break;
    case kQueryDirectory: query_directory(Word(r9)); break;
    case kLock: lock_record(f, Record(r10)); break;
    case kUnlock: unlock_record(f, Record(r10)); break;
    case kExists: file_exists(f); break;
    default: break;
  }
}

}  // namespace qw::files

// ---------------------------------------------------------------------------
// Register entries.

QW_ENTRY(_FILEIO, bridge_FILEIO);
extern "C" void bridge_FILEIO(qw::Regs& r) {
  qw::files::file_io(static_cast<int>(r.r8), reinterpret_cast<void*>(r.r9),
                     reinterpret_cast<void*>(r.r10));
}

// r10 the record's label, r9 the file block whose kind decides the status
// prefix (0: none).
static uint8_t kind_of(uint64_t block) {
  return block ? qw::FileBlock(reinterpret_cast<void*>(block)).kind() : 0;
}

QW_ENTRY(_FROMRECORD, bridge_FROMRECORD);
extern "C" void bridge_FROMRECORD(qw::Regs& r) {
  qw::files::record_to_buffer(qw::Record(reinterpret_cast<void*>(r.r10)), kind_of(r.r9));
}

QW_ENTRY(_TORECORD, bridge_TORECORD);
extern "C" void bridge_TORECORD(qw::Regs& r) {
  qw::files::buffer_to_record(qw::Record(reinterpret_cast<void*>(r.r10)), kind_of(r.r9));
}

// r8 = 1: field (r9, r10, r11) appended at rdi, rdi handed back advanced;
// r8 = 0: field taken from rsi, rsi handed back advanced.  r15 the file.
QW_ENTRY(_FIELDS, bridge_FIELDS);
extern "C" void bridge_FIELDS(qw::Regs& r) {
  const qw::Item field(reinterpret_cast<void*>(r.r9));
  const qw::FileBlock f(reinterpret_cast<void*>(r.r15));
  if (r.r8 == 1) {
    r.rdi = reinterpret_cast<uint64_t>(
        qw::files::field_to_line(field, r.r10, r.r11, f, reinterpret_cast<uint8_t*>(r.rdi)));
  } else {
    r.rsi = reinterpret_cast<uint64_t>(qw::files::line_to_field(
        field, r.r10, r.r11, f, reinterpret_cast<const uint8_t*>(r.rsi)));
  }
}

// r15 the file, rdi the end of the line built; rdi handed back after the
// terminator.
QW_ENTRY(_DELIMITER, bridge_DELIMITER);
extern "C" void bridge_DELIMITER(qw::Regs& r) {
  r.rdi = reinterpret_cast<uint64_t>(qw::files::end_line(
      qw::FileBlock(reinterpret_cast<void*>(r.r15)), reinterpret_cast<uint8_t*>(r.rdi)));
}

// _CALLSYS: rax the system call, rdi rsi rdx r10 r8 r9 its arguments; the
// result comes back in rax, a negative one ends the program with its line.
QW_ENTRY(_CALLSYS, bridge_CALLSYS);
extern "C" void bridge_CALLSYS(qw::Regs& r) {
  const long res = qw::sys::call6(static_cast<long>(r.rax), static_cast<long>(r.rdi),
                                  static_cast<long>(r.rsi), static_cast<long>(r.rdx),
                                  static_cast<long>(r.r10), static_cast<long>(r.r8),
                                  static_cast<long>(r.r9));
  if (res < 0) qw::fatal_kernel(res);
  r.rax = static_cast<uint64_t>(res);
}
