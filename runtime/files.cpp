// Files module: the operations of _FILEIO and the register entries
// _FILEIO, _FROMRECORD, _TORECORD, _FIELDS, _DELIMITER and _CALLSYS.  The
// parts they build on are listed in files_internal.h.
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
#include "files_internal.h"

namespace qw::files {

// ---------------------------------------------------------------------------
// Opening and closing.

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
  if (!is_regular(st)) return;
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

// ---------------------------------------------------------------------------
// Reading and writing.

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

// ---------------------------------------------------------------------------
// Random files: positioning, deleting, locking.

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

// ---------------------------------------------------------------------------
// Copies, paths and directories.

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

// A line file calls _FIELDS once per field and _DELIMITER and _FILEIO once
// per line: they take the lighter entry.
extern "C" void qw_entry_fileio(qw::LeanRegs& r, uint64_t, uint64_t, uint64_t, uint64_t) {
  qw::files::file_io(static_cast<int>(r.r8), reinterpret_cast<void*>(r.r9),
                     reinterpret_cast<void*>(r.r10));
}
QW_LEAN_ENTRY(_FILEIO, qw_entry_fileio);

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
extern "C" void qw_entry_fields(qw::LeanRegs& r, uint64_t, uint64_t, uint64_t, uint64_t) {
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
QW_LEAN_ENTRY(_FIELDS, qw_entry_fields);

// r15 the file, rdi the end of the line built; rdi handed back after the
// terminator.
extern "C" void qw_entry_delimiter(qw::LeanRegs& r, uint64_t, uint64_t, uint64_t, uint64_t) {
  r.rdi = reinterpret_cast<uint64_t>(qw::files::end_line(
      qw::FileBlock(reinterpret_cast<void*>(r.r15)), reinterpret_cast<uint8_t*>(r.rdi)));
}
QW_LEAN_ENTRY(_DELIMITER, qw_entry_delimiter);

// A statement's fields in one call: r15 the file, r9 the fields (r10 of
// them, three quadwords each: the item, start and length _FIELDS takes in
// r9, r10 and r11).  r8 = 1 builds the line (rdi handed back after its
// terminator, as _DELIMITER leaves it), 3 builds and writes it; 0 takes
// the line last read apart, 2 reads the next line first and takes it apart
// unless the file has ended (rsi handed back after the last field).
extern "C" void qw_entry_linefields(qw::LeanRegs& r, uint64_t, uint64_t, uint64_t, uint64_t) {
  const qw::FileBlock f(reinterpret_cast<void*>(r.r15));
  const auto* fields = reinterpret_cast<const qw::files::ListedField*>(r.r9);
  const uint64_t op = r.r8;
  if (op & 1) {
    r.rdi = reinterpret_cast<uint64_t>(op == 3 ? qw::files::write_fields(f, fields, r.r10)
                                               : qw::files::fields_to_line(f, fields, r.r10));
    return;
  }
  if (op == 2) {
    qw::files::read_file(f, nullptr);
    if (f.status().value() == qw::kEndOfFile) return;
  }
  r.rsi = reinterpret_cast<uint64_t>(qw::files::line_to_fields(f, fields, r.r10));
}
QW_LEAN_ENTRY(_LINEFIELDS, qw_entry_linefields);

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

