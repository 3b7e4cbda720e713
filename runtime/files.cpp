// Files module: _FILEIO and the record and line conversions.
//
// Random files (kinds 16 and 32) are addressed by the record's _NO, one
// slot per record with a status byte; sequential files (kind 8) hold flat
// records back to back; delimited files hold text lines ended by the
// kind's terminator byte; kind 64 is a directory read entry by entry.
//
// Delimited and sequential reads go through a per-descriptor read-ahead so
// that a line costs no system call of its own.  Every other operation on
// the descriptor first seeks the file back over the bytes read ahead but
// not yet delivered, so positions, copies, locks and writes see the file
// exactly where the program has reached.
#include "files.h"

#include "bridge.h"
#include "common.h"
#include "numbers.h"
#include "kernel.h"

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
};

[[noreturn]] void fail(FilesMessage m) { fatal_line(kMessages[m].text); }

// _CALLSYS: a negative kernel result ends the program with its line.
long checked(long r) {
  if (r < 0) fatal_kernel(r);
  return r;
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

void set_status(FileBlock f, int64_t s) { f.status().set_value(s); }

// ---------------------------------------------------------------------------
// Read-ahead, keyed by descriptor.

constexpr int kAheadSlots = 8;
constexpr uint64_t kAheadSize = 65536;

struct ReadAhead {
  bool used;
  int64_t fd;
  uint64_t pos, end;
  uint8_t data[kAheadSize];
};

ReadAhead g_ahead[kAheadSlots];
int g_ahead_victim = 0;

ReadAhead* find_ahead(int64_t fd) {
  for (auto& a : g_ahead)
    if (a.used && a.fd == fd) return &a;
  return nullptr;
}

// Seeks the file back over undelivered bytes and forgets the read-ahead.
// A descriptor that cannot seek (a pipe) keeps its bytes: they cannot be
// put back, so they stay to be delivered by later reads.
bool settle(ReadAhead& a) {
  if (a.pos < a.end) {
    const long r = sys::lseek(a.fd, -static_cast<long>(a.end - a.pos), 1);
    if (r == sys::kEspipe) return false;
    checked(r);
  }
  a.used = false;
  return true;
}

ReadAhead& claim_ahead(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) return *a;
  for (auto& a : g_ahead)
    if (!a.used) {
      a = ReadAhead{true, fd, 0, 0, {}};
      return a;
    }
  // All in use: hand over the next one in turn.
  for (int tries = 0; tries < kAheadSlots; ++tries) {
    ReadAhead& a = g_ahead[g_ahead_victim];
    g_ahead_victim = (g_ahead_victim + 1) % kAheadSlots;
    if (settle(a)) {
      a.used = true;
      a.fd = fd;
      a.pos = a.end = 0;
      return a;
    }
  }
  // Every slot holds unread bytes of a pipe, which cannot be put back:
  // the first slot is given up (only when eight pipes are read at once).
  ReadAhead& a = g_ahead[0];
  a = ReadAhead{true, fd, 0, 0, {}};
  return a;
}

// Refills an empty read-ahead; false at end of file.
bool refill(ReadAhead& a) {
  const long r = checked(sys::read(a.fd, a.data, kAheadSize));
  a.pos = 0;
  a.end = static_cast<uint64_t>(r);
  return r > 0;
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
// Write-behind, for files opened with kModeWriteBehind: lines and
// sequential records collect per descriptor and reach the kernel when the
// buffer is full, before any other operation on the descriptor, at close,
// and when the program ends (registered as the runtime's exit flush).

struct WriteBehind {
  bool used;
  int64_t fd;
  uint64_t len;
  uint8_t data[kAheadSize];
};

WriteBehind g_behind[kAheadSlots];

WriteBehind* find_behind(int64_t fd) {
  for (auto& w : g_behind)
    if (w.used && w.fd == fd) return &w;
  return nullptr;
}

void write_full(int64_t fd, const uint8_t* p, uint64_t n);

void flush_behind(WriteBehind& w) {
  const uint64_t n = w.len;
  w.len = 0;
  write_full(w.fd, w.data, n);
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

// Writes all n bytes or ends the program: a write is never reported good
// unless every byte reached the kernel.
void write_full(int64_t fd, const uint8_t* p, uint64_t n) {
  while (n > 0) {
    const long r = checked(sys::write(fd, p, static_cast<long>(n)));
    if (r == 0) fatal_kernel(sys::kEnospc);
    p += r;
    n -= static_cast<uint64_t>(r);
  }
}

void claim_behind(int64_t fd) {
  for (auto& w : g_behind)
    if (!w.used) {
      w.used = true;
      w.fd = fd;
      w.len = 0;
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

void seek_to(int64_t fd, uint64_t offset) { checked(sys::lseek(fd, static_cast<long>(offset), 0)); }

int64_t file_size(int64_t fd) {
  uint8_t st[144];
  checked(sys::call2(sys::kFstat, fd, reinterpret_cast<long>(st)));
  return load64(st + 48);  // st_size
}

// Kernel record lock on a byte range; true when granted.
bool set_lock(int64_t fd, bool lock, int64_t start, int64_t length) {
  struct {
    int16_t type, whence;
    int32_t pad;
    int64_t start, len;
    int32_t pid, pad2;
  } fl{lock ? sys::kFWrlck : sys::kFUnlck, 0, 0, start, length, 0, 0};
  const long r = sys::call3(sys::kFcntl, fd, sys::kFSetlk, reinterpret_cast<long>(&fl));
  if (r == sys::kEagain || r == sys::kEacces) return false;
  checked(r);
  return true;
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

void read_directory_entry(FileBlock f, Word dest) {
  const int64_t fd = f.handle();
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

// ---------------------------------------------------------------------------
// Record layout helpers.

uint64_t prefix_length(uint8_t kind, Record rec) {
  if (rec.record_no() == 0) return 0;
  if (kind == kRandom) return 1;
  if (kind == kRandomReserved) return 9;
  return 0;
}

uint64_t status_offset(uint8_t kind) { return kind == kRandomReserved ? 8 : 0; }

// Edits a number through `pic` into `out`, writing at most `room` bytes of
// its edited text; returns the full edited length.
uint64_t edit_number(Number n, numbers::Picture pic, uint8_t* out, uint64_t room) {
  const uint64_t len = pic.text ? pic.length : n.picture_length();
  numbers::to_text_clipped(n, pic, reinterpret_cast<char*>(out), len < room ? len : room);
  return len;
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
// Records.

// Short copies and blank fills in 8-byte steps: fields are mostly a few
// bytes long, where a block instruction's start-up would dominate.
inline void copy_bytes(uint8_t* d, const uint8_t* s, uint64_t n) {
  if (n > 256) {
    __builtin_memmove(d, s, n);
    return;
  }
  if (n >= 8) {
    // Whole 8-byte steps, then one last step that ends at the last byte
    // (it may cover bytes already copied; source and destination never
    // overlap here).
    const uint64_t tail = load64(s + n - 8);
    for (; n > 8; n -= 8, d += 8, s += 8) store64(d, load64(s));
    store64(d + n - 8, tail);
    return;
  }
  if (n >= 4) {
    uint32_t head, last;
    __builtin_memcpy(&head, s, 4);
    __builtin_memcpy(&last, s + n - 4, 4);
    __builtin_memcpy(d, &head, 4);
    __builtin_memcpy(d + n - 4, &last, 4);
    return;
  }
  for (; n > 0; --n) *d++ = *s++;
}

inline void fill_blanks(uint8_t* d, uint64_t n) {
  for (; n >= 8; n -= 8, d += 8) store64(d, 0x2020202020202020);
  for (; n > 0; --n) *d++ = ' ';
}

// The flat form is the words module's (fields side by side, words as they
// are, numbers edited through their pictures; numbers read back without
// changing their layout), so files, tables and text conversions agree
// byte for byte.
uint64_t record_to_flat(Record rec, uint8_t kind, uint8_t* out, uint64_t capacity) {
  const uint64_t prefix = prefix_length(kind, rec);
  if (prefix > capacity) return 0;
  if (prefix == 9) {
    __builtin_memset(out, 0, 8);
    out[8] = 1;
  } else if (prefix == 1) {
    out[0] = 1;
  }
  uint64_t at = prefix;
  for (Item f = rec.first_field(); !Record::is_end(f) && at < capacity; f = f.next()) {
    const uint64_t room = capacity - at;
    const uint64_t len = f.length();
    const uint64_t c = len < room ? len : room;
    if (f.is_number()) {
      numbers::to_text_clipped(Number(f.data()), {}, reinterpret_cast<char*>(out + at), c);
    } else {
      copy_bytes(out + at, f.data(), c);
    }
    at += c;
  }
  return at;
}

void flat_to_record(Record rec, uint8_t kind, const uint8_t* in, uint64_t available) {
  const uint64_t prefix = prefix_length(kind, rec);
  if (available < prefix) return;
  in += prefix;
  available -= prefix;
  uint64_t at = 0;
  for (Item f = rec.first_field(); !Record::is_end(f); f = f.next()) {
    const uint64_t len = f.length();
    const uint64_t avail = at < available ? available - at : 0;
    const uint64_t c = len < avail ? len : avail;
    if (f.is_number()) {
      numbers::from_text_fixed(Number(f.data()), reinterpret_cast<const char*>(in + at), c);
    } else {
      copy_bytes(f.data(), in + at, c);
      if (c < len) fill_blanks(f.data() + c, len - c);
    }
    at += len;
  }
}

void record_to_buffer(Record rec, uint8_t kind) {
  const uint64_t n = record_to_flat(rec, kind, buffer(), kRecordBufferSize);
  record_buffer().set_length(n);
  mark_dirty(n);
}

void buffer_to_record(Record rec, uint8_t kind) {
  flat_to_record(rec, kind, buffer(), kRecordBufferSize);
}

// ---------------------------------------------------------------------------
// Delimited lines.

uint8_t* field_to_line(Item field, uint64_t start, uint64_t length, FileBlock f, uint8_t* at) {
  const bool csv = f.kind() == kCsv;
  if (at < buffer() || at > buffer_end()) at = buffer();
  const uint8_t* limit = buffer() + kMaxLine;  // room for the terminator
  if (field.length() == 0) return at;
  if (field.is_number()) {
    const Number n(field.data());
    numbers::Picture pic;
    if (start != 0) pic = {reinterpret_cast<const char*>(start), length};
    const uint64_t len = pic.text ? pic.length : n.picture_length();
    if (at + len + (csv ? 1 : 0) > limit) fail(kLineTooLong);
    edit_number(n, pic, at, len);
    at += len;
  } else {
    validate_source(field.data(), start, length);
    if (at + length + (csv ? 3 : 0) > limit) fail(kLineTooLong);
    if (csv) *at++ = '"';
    __builtin_memcpy(at, field.data() + start - 1, length);
    at += length;
    if (csv) *at++ = '"';
  }
  if (csv) *at++ = ',';
  mark_dirty(static_cast<uint64_t>(at - buffer()));
  return at;
}

const uint8_t* line_to_field(Item field, uint64_t start, uint64_t length, FileBlock f,
                             const uint8_t* at) {
  const uint8_t* end = buffer_end();
  if (at < buffer() || at > end) at = end;
  if (f.kind() == kCsv)
    while (at < end && (*at == ',' || *at == '"')) ++at;
  const uint64_t avail = static_cast<uint64_t>(end - at);
  if (field.is_number()) {
    uint64_t len = field.length();
    if (len > avail) len = avail;
    numbers::from_text_fixed(Number(field.data()), reinterpret_cast<const char*>(at), len);
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
  if (f.kind() == kCsv && at > buffer() && at[-1] == ',') --at;
  *at++ = line_terminator(f.kind());
  const uint64_t n = static_cast<uint64_t>(at - buffer());
  record_buffer().set_length(n);
  mark_dirty(n);
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

void settle_descriptor(int64_t fd) {
  if (ReadAhead* a = find_ahead(fd)) settle(*a);
  if (WriteBehind* w = find_behind(fd)) flush_behind(*w);
}

void flush_all_writes() {
  for (auto& w : g_behind)
    if (w.used && w.len > 0) flush_behind(w);
}

// On the way to the fatal exit: as much as the kernel takes, no new fault.
void flush_all_writes_quietly() {
  for (auto& w : g_behind) {
    const uint8_t* p = w.data;
    while (w.used && w.len > 0) {
      const long r = sys::write(w.fd, p, static_cast<long>(w.len));
      if (r <= 0) break;
      p += r;
      w.len -= static_cast<uint64_t>(r);
    }
    w.len = 0;
  }
}

// The program end writes what write-behind files still hold.
void flush_for_exit(bool quietly) {
  if (quietly)
    flush_all_writes_quietly();
  else
    flush_all_writes();
}

// ---------------------------------------------------------------------------
// Operations.

void open_file(FileBlock f, int64_t mode) {
  set_status(f, kGood);
  char path[4097];
  make_path(f.name(), path);
  if (f.kind() == kDirectory) {
    const long fd = checked(sys::open(path, sys::kODirectory, 0));
    if (ReadAhead* a = find_ahead(fd)) a->used = false;
    f.set_handle(fd);
    claim_frame(fd);
    f.size().set_value(file_size(fd));
    return;
  }
  const long flags = ((mode & ~kModeWriteBehind) ^ kModeLockFile) | sys::kOCreat;
  const long fd = checked(sys::open(path, flags, 0666));
  // A new descriptor has nothing read ahead or pending, whatever its number
  // held before.
  if (ReadAhead* a = find_ahead(fd)) a->used = false;
  if (WriteBehind* w = find_behind(fd)) w->used = false;
  f.set_handle(fd);
  if (mode & kModeWriteBehind) {
    claim_behind(fd);
    set_exit_flush(flush_for_exit);
  }
  if ((mode & kModeLockFile) && !set_lock(fd, true, 0, 0)) {
    sys::close(fd);
    // The number is free again and the next open may reuse it: a handle
    // that no longer fails would let later operations reach another file.
    f.set_handle(-1);
    set_status(f, kLocked);
    return;
  }
  f.size().set_value(file_size(fd));
}

void close_file(FileBlock f) {
  set_status(f, kGood);
  const int64_t fd = f.handle();
  if (fd < 0) return;  // not open: its whole-file lock was refused
  if (ReadAhead* a = find_ahead(fd)) {
    settle(*a);
    a->used = false;
  }
  if (WriteBehind* w = find_behind(fd)) {
    w->used = false;  // even when the flush ends the program
    flush_behind(*w);
  }
  if (DirFrame* fr = find_frame(fd)) fr->used = false;
  checked(sys::close(fd));
}

namespace {

void read_line(FileBlock f) {
  f.read_length().set_value(0);
  const uint8_t term = line_terminator(f.kind());
  ReadAhead& a = claim_ahead(f.handle());
  uint8_t* out = buffer();
  uint64_t n = 0;
  bool ended = false, eof = false;
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
      if (a.pos == a.end && !refill(a)) {
        eof = true;
      } else if (a.data[a.pos] == term) {
        ++a.pos;
        ended = true;
      }
      break;
    }
  }
  if (ended) out[n] = term;
  blank_after(ended ? n + 1 : n);
  f.read_length().set_value(static_cast<int64_t>(n));
  if (n == 0 && !ended) {
    set_status(f, kEndOfFile);
  } else if (!ended && !eof) {
    set_status(f, kLineTruncated);
  }
}

void read_sequential(FileBlock f, Record rec) {
  const uint64_t slot = slot_size(kSequential, rec);
  if (slot > kRecordBufferSize) fail(kRecordTooLong);
  ReadAhead& a = claim_ahead(f.handle());
  const uint64_t got = read_ahead(a, buffer(), slot);
  blank_after(got);
  if (got == 0) {
    set_status(f, kEndOfFile);
    return;
  }
  if (buffer()[0] == 0) {
    set_status(f, kInvalidKey);
    return;
  }
  flat_to_record(rec, kSequential, buffer(), slot);
}

// Reads slots from the file's position until one is in use; `no` is the
// number of the first slot read.
void scan_slots(FileBlock f, Record rec, int64_t no) {
  const uint8_t kind = f.kind();
  const uint64_t slot = slot_size(kind, rec);
  if (slot > kRecordBufferSize) fail(kRecordTooLong);
  const uint64_t off = status_offset(kind);
  for (;; ++no) {
    rec.set_record_no(no);
    const uint64_t got = read_full(f.handle(), buffer(), slot);
    if (got < slot) {
      blank_after(got);
      set_status(f, kEndOfFile);
      return;
    }
    if (buffer()[off] != 0) {
      blank_after(got);
      flat_to_record(rec, kind, buffer(), slot);
      return;
    }
  }
}

}  // namespace

void read_file(FileBlock f, void* target) {
  set_status(f, kGood);
  const uint8_t kind = f.kind();
  if (WriteBehind* w = find_behind(f.handle()); w && w->len > 0) flush_behind(*w);
  if (kind == kDirectory) {
    read_directory_entry(f, Word(target));
    return;
  }
  if (kind == kSequential) {
    read_sequential(f, Record(target));
    return;
  }
  if (!is_random(kind)) {
    read_line(f);
    return;
  }
  const Record rec(target);
  const int64_t no = rec.record_no();
  if (no == 0) fail(kReadNeedsNumber);
  settle_descriptor(f.handle());
  if (no < 0) {
    set_status(f, kInvalidKey);
    return;
  }
  const uint64_t slot = slot_size(kind, rec);
  if (slot > kRecordBufferSize) fail(kRecordTooLong);
  seek_to(f.handle(), static_cast<uint64_t>(no - 1) * slot);
  const uint64_t got = read_full(f.handle(), buffer(), slot);
  blank_after(got);
  if (got == 0) {
    set_status(f, kEndOfFile);
    return;
  }
  if (got <= status_offset(kind) || buffer()[status_offset(kind)] == 0) {
    set_status(f, kInvalidKey);
    return;
  }
  flat_to_record(rec, kind, buffer(), got);
}

void write_file(FileBlock f, void* source) {
  set_status(f, kGood);
  const uint8_t kind = f.kind();
  const int64_t fd = f.handle();
  WriteBehind* behind = find_behind(fd);
  if (behind && (is_delimited(kind) || kind == kSequential)) {
    if (ReadAhead* a = find_ahead(fd)) settle(*a);
  } else {
    settle_descriptor(fd);
    behind = nullptr;
  }
  if (is_delimited(kind)) {
    uint64_t n = record_buffer().length();
    if (n > kRecordBufferSize) n = kRecordBufferSize;
    put_bytes(behind, fd, buffer(), n);
    return;
  }
  const Record rec(source);
  const uint64_t slot = slot_size(kind, rec);
  if (slot > kRecordBufferSize) fail(kRecordTooLong);
  if (kind == kSequential) {
    const uint64_t n = record_to_flat(rec, kSequential, buffer(), slot);
    mark_dirty(n);
    put_bytes(behind, fd, buffer(), slot);
    return;
  }
  const int64_t no = rec.record_no();
  if (no == 0) fail(kWriteNeedsNumber);
  if (no < 0) {
    set_status(f, kInvalidKey);
    return;
  }
  record_to_flat(rec, kind, buffer(), slot);  // with the in-use prefix
  mark_dirty(slot);
  seek_to(fd, static_cast<uint64_t>(no - 1) * slot);
  write_full(fd, buffer(), slot);
}

void start_file(FileBlock f, Record rec) {
  if (!is_random(f.kind())) fail(kStartNotRandom);
  set_status(f, kGood);
  settle_descriptor(f.handle());
  int64_t no = rec.record_no();
  if (no < 1) no = 1;
  seek_to(f.handle(), static_cast<uint64_t>(no - 1) * slot_size(f.kind(), rec));
  scan_slots(f, rec, no);
}

void next_record(FileBlock f, Record rec) {
  if (!is_random(f.kind())) fail(kNextNotRandom);
  set_status(f, kGood);
  settle_descriptor(f.handle());
  scan_slots(f, rec, rec.record_no() + 1);
}

void delete_record(FileBlock f, Record rec) {
  const uint8_t kind = f.kind();
  if (!is_random(kind)) fail(kDeleteNotRandom);
  const int64_t no = rec.record_no();
  if (no == 0) fail(kDeleteNeedsNumber);
  set_status(f, kGood);
  const int64_t fd = f.handle();
  settle_descriptor(fd);
  if (no < 0) {
    set_status(f, kInvalidKey);
    return;
  }
  const uint64_t slot = slot_size(kind, rec);
  const uint64_t at = static_cast<uint64_t>(no - 1) * slot + status_offset(kind);
  uint8_t flag = 0;
  seek_to(fd, at);
  if (read_full(fd, &flag, 1) == 0 || flag == 0) {
    set_status(f, kInvalidKey);
    return;
  }
  flag = 0;
  seek_to(fd, at);
  write_full(fd, &flag, 1);
  seek_to(fd, static_cast<uint64_t>(no) * slot);  // after the slot, as a read leaves it
}

namespace {

void lock_or_unlock(FileBlock f, Record rec, bool lock) {
  set_status(f, kGood);
  settle_descriptor(f.handle());
  const int64_t no = rec.record_no();
  if (no < 1) {
    set_status(f, kInvalidKey);
    return;
  }
  const int64_t slot = static_cast<int64_t>(slot_size(f.kind(), rec));
  if (!set_lock(f.handle(), lock, (no - 1) * slot, slot)) set_status(f, kLocked);
}

}  // namespace

void lock_record(FileBlock f, Record rec) { lock_or_unlock(f, rec, true); }
void unlock_record(FileBlock f, Record rec) { lock_or_unlock(f, rec, false); }

// Sends the whole of `from` (as it is now) to `to` at its position.  The
// count sent goes to from's _READLENGTH; RETURN_CODE is 0 or minus the
// kernel's error.
void copy_file(FileBlock from, FileBlock to) {
  settle_descriptor(from.handle());
  settle_descriptor(to.handle());
  return_code().set_value(0);
  int64_t sent = 0;
  uint8_t st[144];
  long r = sys::call2(sys::kFstat, from.handle(), reinterpret_cast<long>(st));
  if (r >= 0) {
    const int64_t total = load64(st + 48);
    int64_t offset = 0;
    while (sent < total) {
      r = sys::call4(sys::kSendfile, to.handle(), from.handle(), reinterpret_cast<long>(&offset),
                     total - sent);
      if (r <= 0) break;
      sent += r;
    }
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
  char a[4097], b[4097];
  make_path(from, a);
  make_path(to, b);
  const long r = sys::call2(sys::kRename, reinterpret_cast<long>(a), reinterpret_cast<long>(b));
  return_code().set_value(r);
  if (is_file_block(from.text())) from_block.read_length().set_value(r);
}

void remove_path(Word path) {
  char a[4097];
  make_path(path, a);
  return_code().set_value(sys::call1(sys::kUnlink, reinterpret_cast<long>(a)));
}

void change_directory(Word path) {
  char a[4097];
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
