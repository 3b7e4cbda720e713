// The files module's own parts, shared by its sources and by nobody else:
//
//   files_descriptors.cpp    the open-file table, the module's fatal lines,
//                            plain kernel transfers, directory frames, paths
//   files_record_buffer.cpp  the record buffer and the last line read
//   files_buffering.cpp      read-ahead and write-behind
//   files_locks.cpp          record and file locks and the ranges held
//   files_lines.cpp          line and comma-separated lines, read and written
//   files_slots.cpp          records on disk: sequential records, random slots
//   files_replacement.cpp    a whole file replaced (an unload)
//   files.cpp                the operations, _FILEIO and the register entries
#pragma once

#include <stdint.h>

#include "common.h"
#include "files.h"
#include "item.h"
#include "kernel.h"
#include "record.h"

namespace qw::files {

// ---------------------------------------------------------------------------
// Fatal messages: each names the file block the operation works on.

enum FilesMessage {
  kReadNeedsNumber, kWriteNeedsNumber, kDeleteNotRandom, kDeleteNeedsNumber,
  kStartNotRandom, kNextNotRandom, kLineTooLong, kRecordTooLong, kTooManyDirectories,
  kOpenForReading, kOpenForWriting,
};

// The file block the current operation works on: fatal messages name it.
extern const uint8_t* g_subject;
inline void working_on(FileBlock f) { g_subject = f.name().data(); }
[[noreturn]] void fail(FilesMessage m);
[[noreturn]] void fail_kernel(long r);
// _CALLSYS: a negative kernel result ends the program with its line.
long checked(long r);

// ---------------------------------------------------------------------------
// Bytes: lines and fields are short, so they are scanned and copied
// sixteen bytes at a time in line rather than through a call.

typedef char Bytes16 __attribute__((vector_size(16)));

// Sixteen copies of byte b, spread in a general register first: a byte
// the compiler keeps on the stack and reads back into a vector register
// would wait there for its store every time.
inline Bytes16 sixteen(uint8_t b) {
  typedef long long Words2 __attribute__((vector_size(16)));
  const long long x = static_cast<long long>(0x0101010101010101ULL * b);
  return reinterpret_cast<Bytes16>(Words2{x, x});
}

// The position of the first byte b among the n bytes at p, or n: sixteen
// at a time, the last sixteen ending at the last byte.
inline uint64_t find_byte(const uint8_t* p, uint64_t n, uint8_t b) {
  if (n < 16) {
    for (uint64_t i = 0; i < n; ++i)
      if (p[i] == b) return i;
    return n;
  }
  const Bytes16 pattern = sixteen(b);
  auto matches = [&](uint64_t at) {
    Bytes16 v;
    __builtin_memcpy(&v, p + at, 16);
    return static_cast<uint32_t>(__builtin_ia32_pmovmskb128(v == pattern));
  };
  uint64_t i = 0;
  for (; i + 16 <= n; i += 16)
    if (const uint32_t m = matches(i)) return i + __builtin_ctz(m);
  if (i < n)  // the last sixteen, without the bytes already seen
    if (const uint32_t m = matches(n - 16) >> (i - (n - 16))) return i + __builtin_ctz(m);
  return n;
}

// memcpy for the short copies of fields and lines; a long copy, or one
// whose ends overlap, goes to memcpy itself.
inline void copy_bytes(uint8_t* d, const uint8_t* s, uint64_t n) {
  const uintptr_t to = reinterpret_cast<uintptr_t>(d), from = reinterpret_cast<uintptr_t>(s);
  if (n > 256 || (to < from + n && from < to + n)) {
    __builtin_memcpy(d, s, n);
    return;
  }
  if (n >= 16) {
    for (uint64_t i = 0; i + 16 < n; i += 16) __builtin_memcpy(d + i, s + i, 16);
    __builtin_memcpy(d + n - 16, s + n - 16, 16);
  } else if (n >= 8) {
    uint64_t head, tail;
    __builtin_memcpy(&head, s, 8);
    __builtin_memcpy(&tail, s + n - 8, 8);
    __builtin_memcpy(d, &head, 8);
    __builtin_memcpy(d + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    __builtin_memcpy(&head, s, 4);
    __builtin_memcpy(&tail, s + n - 4, 4);
    __builtin_memcpy(d, &head, 4);
    __builtin_memcpy(d + n - 4, &tail, 4);
  } else if (n >= 2) {
    uint16_t head, tail;
    __builtin_memcpy(&head, s, 2);
    __builtin_memcpy(&tail, s + n - 2, 2);
    __builtin_memcpy(d, &head, 2);
    __builtin_memcpy(d + n - 2, &tail, 2);
  } else if (n == 1) {
    d[0] = s[0];
  }
}

// ---------------------------------------------------------------------------
// The open-file table, indexed by descriptor.

constexpr int64_t kDescriptors = 4096;
constexpr int64_t kNoHandle = -1;
constexpr uint8_t kAccessRead = 0, kAccessWrite = 1, kAccessBoth = 2;
// Bytes of a read-ahead block, and of a write-behind block: reading
// gains nothing from larger blocks, writing a few per cent of the kernel's
// time.
constexpr uint64_t kAheadSize = 65536;
constexpr uint64_t kBehindSize = 262144;

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

extern OpenFile g_open[kDescriptors];

// The block's descriptor, or -1 when the block is not open.
inline int64_t descriptor_of(FileBlock f) {
  const int64_t fd = f.handle();
  if (fd < 0 || fd >= kDescriptors || g_open[fd].owner != f.name().data()) return -1;
  return fd;
}

inline void set_status(FileBlock f, int64_t s) { f.status().set_value(s); }

// The descriptor of an open block; -1 with status 31 when it is not open.
inline int64_t open_descriptor(FileBlock f) {
  const int64_t fd = descriptor_of(f);
  if (fd < 0) set_status(f, kNotOpen);
  return fd;
}

// Every operation on a block starts here: fatal messages name the block,
// its status is good, and its descriptor comes back (-1 with status 31
// when the block is not open).
inline int64_t begin_operation(FileBlock f) {
  working_on(f);
  set_status(f, kGood);
  return open_descriptor(f);
}

void take_descriptor(FileBlock f, int64_t fd, uint8_t access);

inline void require_reading(int64_t fd) {
  if (g_open[fd].access == kAccessWrite) fail(kOpenForWriting);
}

inline void require_writing(int64_t fd) {
  if (g_open[fd].access == kAccessRead) fail(kOpenForReading);
}
// The path of the block a descriptor belongs to, for messages.
const char* path_of_descriptor(int64_t fd, char* out);
// A descriptor number the kernel hands out again starts with nothing read
// ahead, held behind or listed, whatever its number held before.
void forget_descriptor(int64_t fd);
// Closes an open block's descriptor: what is read ahead goes back, what is
// held behind is written, and the handle says "not open".
void close_descriptor(FileBlock f, int64_t fd);

// Memory from the kernel; a failure is fatal.
void* map_memory(uint64_t bytes);
void unmap_memory(void* p, uint64_t bytes);

// ---------------------------------------------------------------------------
// Plain kernel transfers.

uint64_t read_full(int64_t fd, uint8_t* out, uint64_t n);
// One write of up to n bytes (a file opened to read and append writes at
// its end without moving where reading stands).
long write_some(int64_t fd, const uint8_t* p, uint64_t n);
// Writes all n bytes or ends the program.
void write_full(int64_t fd, const uint8_t* p, uint64_t n);

struct Identity {
  uint64_t dev, ino;
  int64_t size;
};
inline bool same_file(const Identity& a, const Identity& b) {
  return a.dev == b.dev && a.ino == b.ino;
}
Identity identity_at(const uint8_t* st);
Identity identity_of(int64_t fd);
// The stat record `st` is a regular file's.
bool is_regular(const uint8_t* st);

// ---------------------------------------------------------------------------
// Directories: one frame per open directory, keyed by its descriptor.

struct DirFrame;
DirFrame* find_frame(int64_t fd);
DirFrame& claim_frame(int64_t fd);
void read_directory_entry(FileBlock f, int64_t fd, Word dest);

// ---------------------------------------------------------------------------
// The record buffer.  A read leaves blanks after what it delivers in the
// first kBlankedPart bytes; the module remembers how far the buffer may
// hold anything but blanks (g_dirty_end).

constexpr uint64_t kBlankedPart = 65536;
extern uint64_t g_dirty_end;

inline uint8_t* buffer() { return opaque(w_RecordBuffer); }
inline uint8_t* buffer_end() { return buffer() + kRecordBufferSize; }

inline void mark_dirty(uint64_t end) {
  if (end > g_dirty_end) g_dirty_end = end;
}

// Blanks the buffer from `from` to the end of the blanked part (nothing to
// blank when the buffer holds nothing but blanks after it).
void blank_rest(uint64_t from);
inline void blank_after(uint64_t from) {
  if (from >= g_dirty_end && from >= record_buffer().length()) {
    g_dirty_end = from;
    return;
  }
  blank_rest(from);
}

// The descriptor whose line the buffer holds, or -1.
extern int64_t g_buffer_line;

// The line @PUTFIELDS (or @WRITELINE) built last, while the buffer still
// holds it: its length with the terminator, and the terminator of the file
// it was built for.  Length 0: the buffer holds no such line.
struct BuiltLine {
  uint64_t length = 0;
  uint8_t term = 0;
};
extern BuiltLine g_built;

// The buffer is about to be used otherwise: a line read in it is kept
// aside, a line built in it is forgotten.
void keep_buffer_line();
// The record buffer for a statement that writes into it.
inline uint8_t* use_buffer() {
  if (g_buffer_line >= 0) keep_buffer_line();
  else g_built = BuiltLine{};
  return buffer();
}
// The buffer holds the line the descriptor has just read (n bytes).
inline void line_in_buffer(int64_t fd, uint64_t n) {
  LastLine& l = g_open[fd].line;
  l.state = LineState::kInBuffer;
  l.length = n;
  g_buffer_line = fd;
  record::set_buffer_keeper(keep_buffer_line);
}
// Puts the descriptor's last line back into the buffer; false when it has
// none.
bool last_line_to_buffer(int64_t fd);
void forget_line(int64_t fd);

// ---------------------------------------------------------------------------
// Read-ahead: each descriptor that reads lines or sequential records owns
// one until it is closed.

struct ReadAhead {
  ReadAhead* next_free;
  int64_t fd;
  uint64_t pos, end;
  uint8_t data[kAheadSize];
};

inline ReadAhead* find_ahead(int64_t fd) { return g_open[fd].ahead; }
// The descriptor's read-ahead, given to it on its first read.
ReadAhead& attach_ahead(int64_t fd);
inline ReadAhead& claim_ahead(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) return *a;
  return attach_ahead(fd);
}
// Seeks the file back over undelivered bytes (a pipe keeps them).
void settle(ReadAhead& a);
void release_ahead(int64_t fd);
// Refills an empty read-ahead; false at end of file.
bool refill(ReadAhead& a);
// At least `count` bytes (a few) ahead, unless the file ends first.
bool have_ahead(ReadAhead& a, uint64_t count);
// Reads up to n bytes through the read-ahead; returns the bytes delivered.
uint64_t read_ahead(ReadAhead& a, uint8_t* out, uint64_t n);

// ---------------------------------------------------------------------------
// Write-behind, for files opened with kModeWriteBehind.

struct WriteBehind {
  bool used;
  int64_t fd;
  Identity file;
  uint64_t start, len;  // data[start, len) is still to be written
  uint8_t data[kBehindSize];
};

inline WriteBehind* find_behind(int64_t fd) { return g_open[fd].behind; }
inline bool pending(const WriteBehind& w) { return w.used && w.start < w.len; }
// Writes what the buffer holds; a failing write ends the program.
void flush_behind(WriteBehind& w);
// The exit flush: every file written as far as the kernel takes it.
void flush_for_exit(bool);
void claim_behind(int64_t fd, const Identity& file);
// Bytes to the file, through its write-behind when it has one.
void put_bytes(WriteBehind* w, int64_t fd, const uint8_t* p, uint64_t n);
// Writes what write-behind files hold for the path before it is opened.
void flush_writes_to(const char* path);
// Puts back the read-ahead of a descriptor and writes what it holds
// behind, before anything else uses the descriptor.
void settle_descriptor(int64_t fd);

// ---------------------------------------------------------------------------
// Locks, of the file description of the block that took them.

// Kernel record lock on a byte range without waiting; true when granted.
bool kernel_lock(int64_t fd, int16_t type, int64_t start, int64_t length);
// True when a lock of another file description lies on the range.
bool lock_met(int64_t fd, int64_t start, int64_t length);
// The end of a locked range (length 0: to the end of the file).
int64_t range_end(int64_t start, int64_t length);
void release_held(HeldLocks& h);
// Locks (or, with kFUnlck, unlocks) the range for the descriptor's block;
// true when granted.
bool set_lock(int64_t fd, int16_t type, int64_t start, int64_t length);
// Shared for a file opened for reading, else exclusive.
int16_t lock_type(int64_t fd);

// ---------------------------------------------------------------------------
// Delimited lines read and written.

void read_line(FileBlock f, int64_t fd);
void write_line_read(FileBlock f, int64_t fd, WriteBehind* behind, uint8_t term);
void write_line_built(FileBlock f, int64_t fd, WriteBehind* behind, uint8_t term);

// ---------------------------------------------------------------------------
// Records on disk: the flat form behind a status prefix.

uint64_t status_offset(uint8_t kind);
// The slot's bytes and whether every number of the record shows its value.
record::Flat record_to_slot(Record rec, uint8_t kind, uint8_t* out, uint64_t capacity);
// The record's slot size; a record longer than the buffer is fatal.
uint64_t checked_slot(uint8_t kind, Record rec);
// Byte offset of record `no` (from 1); false when no file could hold it.
bool record_offset(int64_t no, uint64_t slot, uint64_t& offset);
// Positions the file at byte `extra` of record `no`; false with status 24.
bool seek_record(FileBlock f, int64_t fd, int64_t no, uint64_t slot, uint64_t extra);
void read_sequential(FileBlock f, int64_t fd, Record rec);
void read_random(FileBlock f, int64_t fd, Record rec);
// From record `no` on to the first slot in use (status 10 at the end).
void scan_slots(FileBlock f, int64_t fd, Record rec, int64_t no);
void write_slot(FileBlock f, int64_t fd, uint64_t slot);

// ---------------------------------------------------------------------------
// Replacement: a program ending while one is under way leaves no temporary
// file behind.

void remove_unfinished_replacement();

}  // namespace qw::files
