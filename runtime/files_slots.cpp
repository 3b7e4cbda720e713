// Records on disk: the flat form (record.h) behind a status prefix.
// Sequential files (kind 8) hold flat records back to back, read through
// the read-ahead; random files (kinds 16 and 32) one slot per record, with
// a status byte, addressed by the record's _NO.
#include "files_internal.h"

namespace qw::files {

static uint64_t prefix_length(uint8_t kind, Record rec) {
  if (rec.record_no() == 0) return 0;
  if (kind == kRandom) return 1;
  if (kind == kRandomReserved) return 9;
  return 0;
}

uint64_t status_offset(uint8_t kind) { return kind == kRandomReserved ? 8 : 0; }

// A slot that does not show every number of its record is never written.
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

static void slot_to_record(Record rec, uint8_t kind, const uint8_t* in, uint64_t available) {
  const uint64_t prefix = prefix_length(kind, rec);
  if (available < prefix) return;
  record::from_flat(rec, in + prefix, available - prefix);
}

uint64_t checked_slot(uint8_t kind, Record rec) {
  const uint64_t slot = slot_size(kind, rec);
  if (slot > kRecordBufferSize) fail(kRecordTooLong);
  return slot;
}

// No file could hold a record whose slot would end past the largest file
// offset.
bool record_offset(int64_t no, uint64_t slot, uint64_t& offset) {
  constexpr uint64_t kLargestOffset = 0x7fffffffffffffffULL;
  if (no < 1 || slot > kLargestOffset) return false;
  const uint64_t before = static_cast<uint64_t>(no - 1);
  if (slot != 0 && before > (kLargestOffset - slot) / slot) return false;
  offset = before * slot;
  return true;
}

// The file system too refuses offsets past its largest file: status 24.
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

namespace {

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

}  // namespace

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

}  // namespace qw::files
