// Xtables module (_XTABLES): one-dimensional tables whose memory comes from
// the program break when they are bound.
//
// Each position i has a slot of (flat length + 9) bytes: an 8-byte link, a
// live flag and the flat record.  The link is 0 (the slot holds its own
// entry) or the address of the slot whose record is the i-th entry; every
// access goes through it, so sorting exchanges links and never moves a
// record.  Whole tables load from and unload to random files (kinds 16 and
// 32).
#include "bridge.h"
#include "common.h"
#include "files.h"
#include "numbers.h"
#include "kernel.h"
#include "record.h"
#include "tables.h"

namespace qw::tables {
namespace {

constexpr uint64_t kChunk = 65536;

void set_status(Xtable t, int64_t s) { t.status().set_value(s); }

uint8_t* slot_at(Xtable t, int64_t position) {
  return t.block_start() + static_cast<uint64_t>(position - 1) * xslot_size(t);
}

// Positions 1 to _UBOUND, never more than the memory block holds.
int64_t positions(Xtable t) {
  const int64_t n = t.ubound().value();
  const int64_t room =
      static_cast<int64_t>(static_cast<uint64_t>(t.block_end() - t.block_start()) / xslot_size(t));
  return n < room ? n : room;
}

uint8_t* entry_of(uint8_t* slot) {
  const int64_t link = load64(slot);
  return link ? reinterpret_cast<uint8_t*>(link) : slot;
}

// A fresh slot (link 0) holds its own entry: make that explicit.
uint8_t* own_entry(uint8_t* slot) {
  if (load64(slot) == 0) store64(slot, reinterpret_cast<int64_t>(slot));
  return reinterpret_cast<uint8_t*>(load64(slot));
}

void require_xtable(void* label) {
  if (Item(label).type() != kXtableType) fatal_library(kErrNotTable);
}

uint8_t g_chunk[kChunk];

// The sort works on a scratch copy of the positions, each with the first 8
// key bytes as one big-endian number, so that comparing two positions
// rarely leaves that array.  It runs the very partition scheme of the link
// sort, so the order it produces is the same; the links are then written
// back.  Without scratch memory it sorts the links in place.
struct Ref {
  uint64_t head;
  uint8_t* entry;
};

struct ScratchOps {
  Ref* refs;
  uint64_t key_off, key_len;
  Ref pivot;
  int cmp(const Ref& a) const {
    if (a.head != pivot.head) return a.head < pivot.head ? -1 : 1;
    if (key_len <= 8) return 0;
    return compare_keys(a.entry + key_off + 8, pivot.entry + key_off + 8, key_len - 8);
  }
  void take_pivot(int64_t m) { pivot = refs[m]; }
  bool below_pivot(int64_t i) const { return cmp(refs[i]) < 0; }
  bool above_pivot(int64_t j) const { return cmp(refs[j]) > 0; }
  void swap(int64_t i, int64_t j) const {
    const Ref x = refs[i];
    refs[i] = refs[j];
    refs[j] = x;
  }
};

struct LinkOps {
  uint8_t* base;
  uint64_t slot, key_off, key_len;
  const uint8_t* pivot;
  uint8_t* slot_of(int64_t i) const { return base + static_cast<uint64_t>(i) * slot; }
  const uint8_t* key(int64_t i) const {
    return reinterpret_cast<const uint8_t*>(load64(slot_of(i))) + key_off;
  }
  void take_pivot(int64_t m) { pivot = key(m); }
  bool below_pivot(int64_t i) const { return compare_keys(key(i), pivot, key_len) < 0; }
  bool above_pivot(int64_t j) const { return compare_keys(key(j), pivot, key_len) > 0; }
  void swap(int64_t i, int64_t j) const {
    const int64_t x = load64(slot_of(i));
    store64(slot_of(i), load64(slot_of(j)));
    store64(slot_of(j), x);
  }
};

}  // namespace

uint64_t xslot_size(Xtable t) { return t.entry_record().flat_length() + 9; }

void xbind(Xtable t, Record entry_record, uint64_t bytes) {
  uint8_t* label = t.label();
  drop_search_index(label);
  Item(label).set_type(kXtableType);
  Number ub = t.ubound();
  ub.set_scale(1);
  ub.set_type(kNumberType);
  ub.set_length(9);
  __builtin_memcpy(ub.picture(), "999999999", 9);
  ub.set_value(0);
  Number st = t.status();
  st.set_scale(1);
  st.set_type(kNumberType);
  st.set_length(2);
  __builtin_memcpy(st.picture(), "99", 2);
  st.set_value(0);
  Item(label).set_scale(reinterpret_cast<int64_t>(entry_record.label()));
  const long start = sys::call1(sys::kBrk, 0);
  const long want = start + static_cast<long>(bytes);
  const long got = sys::call1(sys::kBrk, want);
  if (start <= 0 || got < want) fatal_kernel(sys::kEnomem);
  t.set_block_start(reinterpret_cast<void*>(start));
  Item(label).set_length(static_cast<uint64_t>(want));
  // Large tables are walked at random by finds and sorts: ask for huge
  // pages (a hint; the kernel may ignore it).
  sys::advise_huge_pages(reinterpret_cast<void*>(start), reinterpret_cast<void*>(want));
  w_TopOfBSS = start;
  w_BottomOfBSS = want;
}

uint8_t* xlocate(Xtable t, int64_t position) {
  set_status(t, kGood);
  if (position > t.ubound().value()) {
    set_status(t, kEndOfFile);
    return nullptr;
  }
  const uint64_t size = xslot_size(t);
  uint8_t* const start = t.block_start();
  uint8_t* const end = t.block_end();
  // Position 0 (or below) is outside the table like any other bad index.
  if (position < 1 ||
      static_cast<uint64_t>(position) > static_cast<uint64_t>(end - start) / size) {
    set_status(t, kInvalidKey);
    return nullptr;
  }
  uint8_t* e = entry_of(slot_at(t, position));
  if (e < start || e + size > end) {
    set_status(t, kInvalidKey);
    return nullptr;
  }
  return e;
}

void xrecord_to_entry(Xtable t, int64_t position, Record rec) {
  if (xlocate(t, position) == nullptr) return;
  drop_search_index(t.label());
  uint8_t* e = own_entry(slot_at(t, position));
  if (!record::to_entry(rec, e + 9, t.entry_record().flat_length())) {
    set_status(t, record::kNumberNotShown);
    return;
  }
  e[8] = 1;
}

// An entry never written (or deleted with CLEAR) is not live and holds
// zero bytes: 23, and the record stays as it was.  A deleted entry still
// holds its record, which comes with 23.
bool never_written(Xtable t, const uint8_t* e) {
  return e[8] != 1 && t.entry_record().flat_length() > 0 && e[9] == 0;
}

void xentry_to_record(Xtable t, int64_t position, Record rec) {
  const uint8_t* e = xlocate(t, position);
  if (e == nullptr) return;
  if (e[8] != 1) set_status(t, kInvalidKey);
  if (!never_written(t, e)) record::from_flat(rec, e + 9, t.entry_record().flat_length());
}

void xput(Xtable t, int64_t position, uint64_t field_no, Item source, uint64_t start,
          uint64_t length) {
  if (xlocate(t, position) == nullptr) return;
  drop_search_index(t.label());
  uint8_t* e = own_entry(slot_at(t, position));
  const int64_t status = put_field(e + 9, t.entry_record(), field_no, source, start, length);
  if (status != kGood) {
    set_status(t, status);
    return;
  }
  e[8] = 1;
}

void xget(Xtable t, int64_t position, uint64_t field_no, Item target) {
  const uint8_t* e = xlocate(t, position);
  if (e == nullptr) return;
  if (never_written(t, e) || !get_field(e + 9, t.entry_record(), field_no, target)) {
    set_status(t, kInvalidKey);
    return;
  }
  if (e[8] != 1) set_status(t, kInvalidKey);
}

void xdelete(Xtable t, int64_t position, bool clear) {
  uint8_t* e = xlocate(t, position);
  if (e == nullptr) return;
  e[8] = 0;
  if (clear) {
    drop_search_index(t.label());
    __builtin_memset(e + 9, 0, t.entry_record().flat_length());
  }
}

void xsort(Xtable t, uint64_t key_start, uint64_t key_length) {
  set_status(t, kGood);
  const uint64_t len = t.entry_record().flat_length();
  const uint64_t size = len + 9;
  uint8_t* const start = t.block_start();
  const int64_t n = positions(t);
  if (key_start < 1 || key_length < 1 || key_start - 1 + key_length > len) {
    set_status(t, kInvalidKey);
    return;
  }
  drop_search_index(t.label());
  if (n < 2) return;
  for (int64_t i = 0; i < n; ++i) own_entry(start + static_cast<uint64_t>(i) * size);
  const uint64_t key_off = 9 + key_start - 1;
  const uint64_t bytes = search_index_bytes(n, true);  // holds the n Refs too
  const long map = sys::call6(sys::kMmap, 0, static_cast<long>(bytes), sys::kProtReadWrite,
                              sys::kMapPrivateAnonymous, -1, 0);
  if (map < 0 && map > -4096) {
    drop_search_index(t.label());
    LinkOps ops{start, size, key_off, key_length, nullptr};
    partition_sort(ops, 0, n - 1);
    return;
  }
  sys::call3(sys::kMadvise, map, static_cast<long>(bytes), sys::kMadvHugepage);
  Ref* refs = reinterpret_cast<Ref*>(map);
  for (int64_t i = 0; i < n; ++i) {
    uint8_t* e = reinterpret_cast<uint8_t*>(load64(start + static_cast<uint64_t>(i) * size));
    refs[i] = Ref{key_head(e + key_off, key_length), e};
  }
  ScratchOps ops{refs, key_off, key_length, {}};
  partition_sort(ops, 0, n - 1);
  // The links take the new order; the scratch, pairs of key head and
  // entry address in that order, stays as the table's search index.
  for (int64_t i = 0; i < n; ++i)
    store64(start + static_cast<uint64_t>(i) * size, reinterpret_cast<int64_t>(refs[i].entry));
  KeyLayout keys;
  keys.entries = &refs[0].entry;
  keys.entries_stride = 2;
  keys.data = start;  // where the entries' slots lie, for the index to number them
  keys.stride = size;
  keys.key_off = key_off;
  keep_search_index(t.label(), keys, n, key_length, reinterpret_cast<void*>(map), bytes);
}

void xfind(Xtable t, uint64_t key_start, uint64_t key_end, const uint8_t* key,
           uint64_t key_length, Number result) {
  set_status(t, kGood);
  const uint64_t len = t.entry_record().flat_length();
  const uint64_t klen = key_end - key_start + 1;
  if (key_start < 1 || key_end < key_start || key_end > len ||
      (key = range_key(key, key_length, klen)) == nullptr) {
    set_status(t, kInvalidKey);
    result.set_value(0);
    return;
  }
  const uint64_t off = 9 + key_start - 1;
  const uint64_t size = len + 9;
  uint8_t* const start = t.block_start();
  const int64_t n = positions(t);
  KeyLayout keys;
  keys.entries = indexed_entries(t.label(), n);
  keys.entries_stride = 2;
  if (keys.entries == nullptr) {
    keys.data = start;
    keys.stride = size;
    keys.linked = true;
  }
  keys.key_off = off;
  const Found f = find_sorted(t.label(), keys, n, 1, key, klen);
  if (f.probe < 0) {
    set_status(t, kInvalidKey);
    result.set_value(0);
    return;
  }
  // The lowest position of the run of equal keys whose entry is live.
  for (int64_t p = f.first; p <= f.last; ++p) {
    const uint8_t* e = p == f.first && f.first_entry ? f.first_entry : keys.entry(p);
    if (e[8] == 1) {
      set_whole_number(result, p + 1);
      record::from_flat(t.entry_record(), e + 9, len);
      return;
    }
  }
  set_status(t, kInvalidKey);
  set_whole_number(result, f.probe + 1);
}

namespace {

// Load and unload reach the file through its path on a descriptor of their
// own: whether the program has the block open does not matter, and an
// open block keeps its handle and position.  Fatal messages name the file.
struct TableFile {
  long fd;
  char path[4097];
};

[[noreturn]] void table_file_fails(const TableFile& tf, const char* line80) {
  fatal_line_about(line80, tf.path);
}

[[noreturn]] void too_large(const TableFile& tf) {
  static constexpr char kLine[81] =
      "TABLES[error]:- the file is larger than the xtable's memory                     ";
  table_file_fails(tf, kLine);
}

[[noreturn]] void not_random(FileBlock f) {
  static constexpr char kLine[81] =
      "TABLES[error]:- load and unload need a random file (kind 16 or 32)              ";
  char path[4097];
  files::make_path(f.name(), path);
  fatal_line_about(kLine, path);
}

long checked(const TableFile& tf, long r) {
  if (r < 0) fatal_kernel_about(r, tf.path);
  return r;
}

void open_table_file(TableFile& tf, FileBlock f) {
  files::settle_file(f);
  files::make_path(f.name(), tf.path);
  tf.fd = checked(tf, sys::open(tf.path, sys::kOCloexec, 0));
}

// Buffered writer of the unload, into the file that replaces the old one:
// every byte reaches it, or it is removed and the program ends with the
// kernel's line (the old file stays as it was).
struct Writer {
  files::Replacement& to;
  uint64_t used = 0;
  void flush() {
    const uint8_t* p = g_chunk;
    while (used > 0) {
      const long r = sys::write(to.fd, p, static_cast<long>(used));
      if (r == sys::kEintr) continue;
      if (r <= 0) files::fail_replacement(to, r == 0 ? sys::kEnospc : r);
      p += r;
      used -= static_cast<uint64_t>(r);
    }
  }
  void put(const uint8_t* p, uint64_t n) {
    while (n > 0) {
      if (used == kChunk) flush();
      uint64_t take = kChunk - used;
      if (take > n) take = n;
      __builtin_memcpy(g_chunk + used, p, take);
      used += take;
      p += take;
      n -= take;
    }
  }
};

// Buffered reader of the kind 16 load; take(nullptr, n) skips n bytes.
struct Reader {
  const TableFile& tf;
  uint64_t pos = 0, end = 0;
  uint64_t take(uint8_t* out, uint64_t n) {
    uint64_t got = 0;
    while (got < n) {
      if (pos == end) {
        const long r = checked(tf, sys::read(tf.fd, g_chunk, kChunk));
        if (r == 0) break;
        pos = 0;
        end = static_cast<uint64_t>(r);
      }
      uint64_t k = end - pos;
      if (k > n - got) k = n - got;
      if (out) __builtin_memcpy(out + got, g_chunk + pos, k);
      pos += k;
      got += k;
    }
    return got;
  }
};

// What a load put into the table: the entries kept, and whether the file
// ended inside a record (which is kept as far as it goes, the rest of its
// fields blank, as a read delivers it).
struct Loaded {
  uint64_t count;
  bool cut;
};

// The slot at `count` takes the record read into `slot` (its flat record
// `have` bytes long) when it is in use or deleted ones are kept; answers
// whether it was kept.
bool keep_slot(uint8_t* start, uint64_t size, uint64_t count, uint8_t* slot, uint64_t have,
               bool keep_deleted) {
  if (!keep_deleted && slot[8] != 1) return false;
  uint8_t* to = start + count * size;
  if (to != slot) __builtin_memmove(to, slot, 9 + have);
  if (have < size - 9) __builtin_memset(to + 9 + have, ' ', size - 9 - have);
  store64(to, reinterpret_cast<int64_t>(to));
  return true;
}

// Kind 32: the whole file in one read, straight into the table's memory
// (the file holds the slot layout).  Every slot stays where it lies, live
// or not, linked to itself, so position p is record p of the file.  A last
// slot cut short keeps its part (the rest blank) when its live flag is
// there.
Loaded load_reserved(Xtable t, const TableFile& tf, uint64_t file_bytes) {
  const uint64_t size = xslot_size(t);
  uint8_t* const start = t.block_start();
  const uint64_t slots = (file_bytes + size - 1) / size;
  if (slots * size > static_cast<uint64_t>(t.block_end() - start)) too_large(tf);
  uint64_t got = 0;
  while (got < file_bytes) {
    const long r = checked(tf, sys::read(tf.fd, start + got, static_cast<long>(file_bytes - got)));
    if (r == 0) break;
    got += static_cast<uint64_t>(r);
  }
  Loaded done{got / size, got % size != 0};
  for (uint64_t i = 0; i < done.count; ++i) {
    uint8_t* slot = start + i * size;
    store64(slot, reinterpret_cast<int64_t>(slot));
  }
  const uint64_t tail = got % size;
  if (tail > 8) keep_slot(start, size, done.count++, start + got - tail, tail - 9, true);
  return done;
}

// Kind 16: status byte and flat record per record, each into the next
// slot after its link; a dropped record takes no room.
Loaded load_random(Xtable t, const TableFile& tf, bool keep_deleted) {
  const uint64_t size = xslot_size(t), len = size - 9;
  uint8_t* const start = t.block_start();
  const uint64_t capacity = static_cast<uint64_t>(t.block_end() - start);
  Reader rd{tf};
  Loaded done{0, false};
  for (uint8_t flag; rd.take(&flag, 1) == 1 && !done.cut;) {
    if (!keep_deleted && flag != 1) {
      done.cut = rd.take(nullptr, len) < len;
      continue;
    }
    if ((done.count + 1) * size > capacity) too_large(tf);
    uint8_t* slot = start + done.count * size;
    slot[8] = flag;
    const uint64_t have = rd.take(slot + 9, len);
    done.cut = have < len;
    keep_slot(start, size, done.count++, slot, have, true);
  }
  return done;
}

}  // namespace

void xload(Xtable t, FileBlock f, bool keep_deleted) {
  set_status(t, kGood);
  drop_search_index(t.label());
  const uint8_t kind = f.kind();
  if (!files::is_random(kind)) not_random(f);
  TableFile tf;
  open_table_file(tf, f);
  uint8_t st[sys::kStatRecordSize];
  checked(tf, sys::call2(sys::kFstat, tf.fd, reinterpret_cast<long>(st)));
  const uint64_t file_bytes = static_cast<uint64_t>(load64(st + sys::kStatSizeAt));
  f.size().set_value(static_cast<int64_t>(file_bytes));
  const Loaded done = kind == files::kRandomReserved
                          ? load_reserved(t, tf, file_bytes)
                          : load_random(t, tf, keep_deleted);
  t.ubound().set_value(static_cast<int64_t>(done.count));
  if (done.cut) set_status(t, files::kRecordCutOff);
  checked(tf, sys::close(tf.fd));
}

namespace {

// The entry at position p that an unload writes; null when it passes over
// a deleted one.
const uint8_t* unloaded_entry(Xtable t, int64_t p, bool with_deleted) {
  const uint8_t* e = entry_of(slot_at(t, p));
  return e[8] == 1 || with_deleted ? e : nullptr;
}

// An entry holding the "*" mark in a number field (loaded from a file
// written elsewhere, or a word put into the field) does not hold its
// record's values.
bool unload_holds_mark(Xtable t, int64_t n, bool with_deleted) {
  const Record er = t.entry_record();
  for (int64_t p = 1; p <= n; ++p) {
    const uint8_t* e = unloaded_entry(t, p, with_deleted);
    if (e && record::holds_mark(er, e + 9, er.flat_length())) return true;
  }
  return false;
}

}  // namespace

// An entry that does not hold its record's values refuses the whole
// unload with status 36: the file is not even opened, so it keeps what it
// held.
void xunload(Xtable t, FileBlock f, bool with_deleted) {
  set_status(t, kGood);
  const uint8_t kind = f.kind();
  if (!files::is_random(kind)) not_random(f);
  const int64_t n = positions(t);
  if (unload_holds_mark(t, n, with_deleted)) {
    set_status(t, record::kNumberNotShown);
    return;
  }
  files::Replacement to;
  if (!files::begin_replacement(f, to)) {
    set_status(t, kLocked);
    return;
  }
  const uint64_t len = t.entry_record().flat_length();
  Writer w{to};
  for (int64_t p = 1; p <= n; ++p) {
    const uint8_t* e = unloaded_entry(t, p, with_deleted);
    if (e == nullptr) continue;
    // A kind 32 record's 8 reserved bytes are zeros: the entry's link is an
    // address of this process and never reaches the disk.
    static constexpr uint8_t kReserved[8] = {};
    if (kind == files::kRandomReserved) w.put(kReserved, sizeof kReserved);
    w.put(e + 8, len + 1);
  }
  w.flush();
  files::finish_replacement(f, to);
}

}  // namespace qw::tables

// ---------------------------------------------------------------------------
// Register entry.

QW_ENTRY(_XTABLES, bridge_XTABLES);
extern "C" void bridge_XTABLES(qw::Regs& r) {
  using namespace qw::tables;
  void* label = reinterpret_cast<void*>(r.r9);
  const qw::Xtable t(label);
  if (r.r8 == kBind) {
    xbind(t, qw::Record(reinterpret_cast<void*>(r.r10)), r.r11);
    return;
  }
  require_xtable(label);
  const int64_t pos = static_cast<int64_t>(r.r10);
  switch (r.r8) {
    case kSort: xsort(t, r.r10, r.r11); break;
    case kFind:
      xfind(t, r.r10, r.r11, reinterpret_cast<const uint8_t*>(r.r12), r.r14,
            qw::Number(reinterpret_cast<void*>(r.r13)));
      break;
    case kFromRecord: xrecord_to_entry(t, pos, t.entry_record()); break;
    case kToRecord: xentry_to_record(t, pos, t.entry_record()); break;
    case kPutField:
      xput(t, pos, r.r11, qw::Item(reinterpret_cast<void*>(r.r12)), r.r13, r.r14);
      break;
    case kGetField: xget(t, pos, r.r11, qw::Item(reinterpret_cast<void*>(r.r12))); break;
    case kDelete: xdelete(t, pos, r.r11 == 1); break;
    case kLoad: xload(t, qw::FileBlock(reinterpret_cast<void*>(r.r10)), r.r11 == 1); break;
    case kUnload: xunload(t, qw::FileBlock(reinterpret_cast<void*>(r.r10)), r.r11 == 1); break;
    default: xlocate(t, pos); break;
  }
}
