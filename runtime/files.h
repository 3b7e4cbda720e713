// Files and records: the typed interface behind _FILEIO, _FROMRECORD,
// _TORECORD, _FIELDS and _DELIMITER.
//
// A record travels between its fields and the flat record buffer
// (w_RecordBuffer); a file operation moves the flat form between the buffer
// and the file.  Outcomes a program tests land in the file's _STATUS;
// misuse and kernel failures end the program through the fatal path.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::files {

// _FILEIO operation numbers (r8).
enum Operation : int {
  kRead = 0, kWrite = 1, kOpen = 2, kClose = 3, kStart = 4, kNext = 5,
  kDelete = 6, kCopy = 7, kRename = 8, kRemove = 9, kChangeDirectory = 10,
  kQueryDirectory = 11, kLock = 12, kUnlock = 13, kExists = 14,
};

// File kinds (the _Delimiter byte).
enum Kind : uint8_t {
  kZeroLines = 1, kLines = 2, kCsv = 4, kSequential = 8, kRandom = 16,
  kRandomReserved = 32, kDirectory = 64,
};

// Open mode bits beyond the access mode (0 read, 1 write, 2 read and write).
inline constexpr int64_t kModeTruncate = 512;
// Every write goes to the end of the file, as a growing log wants (line and
// sequential files; records of random files keep their slots).
inline constexpr int64_t kModeAppend = 1024;
// The whole file locked against other processes: a write lock, or a shared
// one when the file is opened for reading.
inline constexpr int64_t kModeLockFile = 2048;
// Write-behind (never passed to the kernel): lines and sequential records
// are collected and written in large blocks, before any other operation on
// the file, when the file's path is opened again, at close, at the end of
// the program and on the signal path.  A failing block write ends the
// program with the kernel's line.
inline constexpr int64_t kModeWriteBehind = 1 << 24;

// Statuses of the files module beyond the shared ones (0, 10, 23, 90).
// A delimited line longer than the record buffer can hold: the part that
// fits is delivered and the rest stays for the next read.
inline constexpr int64_t kLineTruncated = 4;
// The record number lies where no file can hold a record (its offset
// passes what the file system allows): nothing is read or written.
inline constexpr int64_t kBeyondReach = 24;
// The file block is not open: nothing is read, written or closed.
inline constexpr int64_t kNotOpen = 31;
// The file ends inside the record: the part read is delivered, the rest of
// the fields blank.
inline constexpr int64_t kRecordCutOff = 34;
// A field of the line holds the byte that ends the file's lines: the line
// is not written.
inline constexpr int64_t kFieldHoldsTerminator = 35;
// 36: a number of the record cannot be shown through its picture, the
// record is not written (record::kNumberNotShown, shared with the tables).

// Bytes a delimited read delivers at most (the terminator follows them).
inline constexpr uint64_t kMaxLine = kRecordBufferSize - 1;

inline bool is_random(uint8_t kind) { return kind == kRandom || kind == kRandomReserved; }

inline bool is_delimited(uint8_t kind) {
  return kind != kSequential && !is_random(kind) && kind != kDirectory;
}

// The byte that ends a line of this kind, for writing and reading alike:
// kind 1 a zero byte; kinds up to 7 a line feed; any other delimited kind
// the byte of its own value.  Reading and writing use this one rule, so
// every file written reads back line by line.
inline uint8_t line_terminator(uint8_t kind) {
  if (kind == kZeroLines) return 0;
  if (kind < kSequential) return '\n';
  return kind;
}
// Bytes of one record on disk: $LENGTH, +1 for kind 16, +9 for kind 32.
uint64_t slot_size(uint8_t kind, Record rec);

// The _FROMRECORD / _TORECORD entries: the record's flat form (record.h)
// against w_RecordBuffer, with the status prefix of a random file of
// `kind` when the record number is non-zero (any other kind has none).
// record_to_buffer sets the buffer's Length to the bytes in use.
void record_to_buffer(Record rec, uint8_t kind);
void buffer_to_record(Record rec, uint8_t kind);

// Delimited lines, built and taken apart field by field in w_RecordBuffer.
// `at` is the next position; each returns the position after its work.
// A comma-separated word is written between double quotes, a quote inside
// it doubled, and read back the same way; a number in quotes is read up
// to its closing quote.  Taking apart begins (at the buffer's start) by
// bringing back f's own last line, should another statement have used
// the buffer since; a block that is not open (31) or has no line (10)
// changes no field.
uint8_t* field_to_line(Item field, uint64_t start, uint64_t length, FileBlock f, uint8_t* at);
const uint8_t* line_to_field(Item field, uint64_t start, uint64_t length, FileBlock f,
                             const uint8_t* at);
// Ends the line at `at` (drops a comma-separated line's last comma, adds
// the terminator) and sets the buffer's Length; returns the position after.
uint8_t* end_line(FileBlock f, uint8_t* at);

// A statement's fields all at once (_LINEFIELDS), each as _FIELDS takes
// it in r9, r10 and r11.  fields_to_line builds the whole line from the
// buffer's start and ends it (as field_to_line per field, then end_line);
// line_to_fields takes the line last read apart from the buffer's start.
// Each returns the position after its work.
struct ListedField {
  uint64_t item, start, length;
};
uint8_t* fields_to_line(FileBlock f, const ListedField* fields, uint64_t count);
// fields_to_line, then the line written as write_file writes it.
uint8_t* write_fields(FileBlock f, const ListedField* fields, uint64_t count);
const uint8_t* line_to_fields(FileBlock f, const ListedField* fields, uint64_t count);

// The operations.  `rec` is the record's label (or the directory entry's
// receiving word for kind 64 reads).
void open_file(FileBlock f, int64_t mode);
void close_file(FileBlock f);
void read_file(FileBlock f, void* rec);
void write_file(FileBlock f, void* rec);
void start_file(FileBlock f, Record rec);
void next_record(FileBlock f, Record rec);
void delete_record(FileBlock f, Record rec);
void lock_record(FileBlock f, Record rec);
void unlock_record(FileBlock f, Record rec);
void copy_file(FileBlock from, FileBlock to);
void rename_path(Word from, Word to, FileBlock from_block);
void remove_path(Word path);
void change_directory(Word path);
void query_directory(Word dest);
// Asks whether the block's path names a file (of any kind, a link followed)
// without opening or creating it: status 0 and _SIZE its size when it
// does, 23 and _SIZE 0 when not; RETURN_CODE 0 or minus the kernel's error
// (-2: no such file or directory).  The block's handle is left alone.
void file_exists(FileBlock f);

// Dispatch of _FILEIO.
void file_io(int op, void* r9, void* r10);

// Makes the pipe's read end `fd` the descriptor of the block, opened for
// reading (the output of a program started with @RUN_BATCH); a block that
// was open is closed first.  A negative fd leaves the block not open.
void take_pipe(FileBlock f, int64_t fd);

// Before the block's path is opened by other means (xtable load and
// unload): writes what write-behind files hold and gives back the block's
// read-ahead, so that the file is seen as the program left it.
void settle_file(FileBlock f);

// Bytes of a path as the kernel takes it, the closing zero byte included.
inline constexpr uint64_t kPathBytes = 4097;

// A whole new version of a block's file (an xtable unload) is written to a
// temporary file beside it, which replaces the old file only when
// complete: a failure (a full disk, the file-size limit) leaves the old
// file as it was.  The new file keeps the old one's permissions, and the
// program's blocks that have the file open reach the new one afterwards.
struct Replacement {
  long fd;  // the temporary file, open for writing
  bool direct;  // the target is no regular file (a device, a pipe): written in place
  char path[kPathBytes];
  char temp[kPathBytes];
};
// Creates the temporary file (or, for a target that is no regular file,
// opens the target itself); a failure is fatal, naming the file.  False,
// with nothing created, when another process holds a lock on a part of
// the old file that none of the program's blocks holds.
bool begin_replacement(FileBlock f, Replacement& r);
// Puts it in the old file's place; the program's blocks open on the old
// file reach the new one, which holds their locks before it has its name.
void finish_replacement(FileBlock f, Replacement& r);
// Removes it and ends the program with the kernel's error, naming the file.
[[noreturn]] void fail_replacement(Replacement& r, long error);

// Writes every write-behind file's pending bytes.
void flush_all_writes();

// True when the word is the name of a file block (so the file's items lie
// in front of it).
bool is_file_block(const void* name);

// A word path as the kernel wants it: up to the first zero byte, or without
// trailing blanks when the word holds none.  `out` holds kPathBytes.
void make_path(Word w, char* out);

}  // namespace qw::files
