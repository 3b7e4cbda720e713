// Fixed tables, xtables and integer arrays: the typed interface behind
// _TABLES, _XTABLES and _ARRAYS.
//
// Outcomes a program tests land in the table's _STATUS (0 good, 10 beyond
// _UBOUND, 22 duplicate key, 23 not found / outside / deleted / unwritten,
// 36 a record or number not written: a number its picture cannot show);
// a label that is not a table and sorting a multi-dimensional table end
// the program through the fatal path.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::tables {

// Operation codes (r8) of _TABLES and _XTABLES.
enum Operation : int {
  kBind = 1, kToRecord = 2, kGetField = 3, kFromRecord = 4, kPutField = 5,
  kSort = 8, kFind = 16, kDelete = 32, kLoad = 64, kUnload = 128,
};

// Longest fixed-table sort key: the pivot key is copied into a work item
// of this size.
inline constexpr uint64_t kMaxFixedKey = 128;

// Keys order byte by byte as unsigned values (0 to 255), in sorts and finds
// of both table kinds alike.  <0, 0, >0 like a three-way comparison.
inline int compare_keys(const uint8_t* a, const uint8_t* b, uint64_t n) {
  uint64_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const uint64_t x = __builtin_bswap64(static_cast<uint64_t>(load64(a + k)));
    const uint64_t y = __builtin_bswap64(static_cast<uint64_t>(load64(b + k)));
    if (x != y) return x < y ? -1 : 1;
  }
  for (; k < n; ++k)
    if (a[k] != b[k]) return a[k] < b[k] ? -1 : 1;
  return 0;
}

// The first min(n, 8) key bytes as one big-endian number (zeros after).
inline uint64_t key_head(const uint8_t* p, uint64_t n) {
  if (n >= 8) return __builtin_bswap64(static_cast<uint64_t>(load64(p)));
  uint64_t v = 0;
  for (uint64_t k = 0; k < n; ++k) v = (v << 8) | p[k];
  return n ? v << (8 * (8 - n)) : 0;
}

// ---------------------------------------------------------------------------
// Finding a key in a sorted table.  The outcome is the one of the classic
// binary search (probe the middle, halve, stop at the first equal key):
// `probe` the position of that first equal key, `first` and `last` the run
// of equal keys around it; probe = -1 when the key is absent.  Positions
// count from `base` (0 for fixed tables, 1 for xtables), which decides the
// middles the classic search takes.
struct Found {
  int64_t first = -1, last = -1, probe = -1;
  uint8_t* first_entry = nullptr;  // the entry at `first` when the search had it
};

// Where the keys of a table lie: position i (from 0) has its entry at
// entries[i * entries_stride] when `entries` is given; else at
// data + i * stride, or, with `linked`, where the link word there points
// (itself when 0).  The key lies key_off bytes into the entry.
struct KeyLayout {
  uint8_t* data = nullptr;
  uint64_t stride = 0;
  uint8_t* const* entries = nullptr;
  uint64_t key_off = 0;
  bool linked = false;
  int64_t entries_stride = 1;
  uint8_t* entry(int64_t i) const {
    if (entries) return entries[i * entries_stride];
    uint8_t* slot = data + static_cast<uint64_t>(i) * stride;
    if (!linked) return slot;
    const int64_t link = load64(slot);
    return link ? reinterpret_cast<uint8_t*>(link) : slot;
  }
  const uint8_t* key(int64_t i) const { return entry(i) + key_off; }
};

Found find_sorted(const void* table, const KeyLayout& keys, int64_t n, int64_t base,
                  const uint8_t* key, uint64_t len);

// The key a find compares with a key range of range_length characters: a
// key text of key_length characters (0: as long as the range) that is
// shorter reads as if padded with blanks; a longer one matches only when
// its extra characters are blanks (null when they are not).
const uint8_t* range_key(const uint8_t* key, uint64_t key_length, uint64_t range_length);

// A sort leaves behind a sample of every 32nd key so that later finds on
// the same key start narrow their search inside the processor's caches.
// Every operation that writes the table drops it; a find also checks the
// narrowed range against the keys themselves and otherwise searches whole.
// `entries` (xtables) is the table's position order, held by the index.
// `map` (from mmap, or null) holds search_index_bytes(n, ...) bytes and
// becomes the index's.  With an entries list (xtables), the map begins
// with n pairs of key head and entry address, which the sort leaves there
// (`keys.entries` points at the first address, stride 2).
uint64_t search_index_bytes(int64_t n, bool with_entries);
void keep_search_index(const void* table, const KeyLayout& keys, int64_t n, uint64_t key_len,
                       void* map, uint64_t map_bytes);
void drop_search_index(const void* table);
// The position order of an xtable's index (stride 2), when it still
// matches n.
uint8_t* const* indexed_entries(const void* table, int64_t n);

// Field number `field_no` (from 1) of the entry record: its place in the
// flat entry and its item; false when the record has no such field.
bool field_place(Record rec, uint64_t field_no, uint64_t& offset, Item& field);

// One field of a flat entry from an item (put) or into one (get).  Nothing
// is written outside the field's place.  Put answers the status: 0, 23 for
// a bad field number, 36 (record::kNumberNotShown, nothing written) for a
// number that a number field would not hold as its value - its picture
// cannot show it, or its edited text is longer than the field.  Into a
// word field a number is text: cut at the field, and then marked.  Get
// answers false for a bad field number; a number read leaves RETURN_CODE
// as numbers::from_field answers it.
int64_t put_field(uint8_t* entry, Record rec, uint64_t field_no, Item source, uint64_t start,
                  uint64_t length);
bool get_field(const uint8_t* entry, Record rec, uint64_t field_no, Item target);

// Stores a whole number (a position) into a number item at its scale.
void set_whole_number(Number n, int64_t value);

// ---------------------------------------------------------------------------
// Fixed tables.

void bind(FixedTable t, Record entry_record);
// Locates the element of the index slots (exactly one per dimension); null
// with status 23 when an index is 0 or beyond its dimension.
uint8_t* locate(FixedTable t);
void record_to_entry(FixedTable t, Record rec);
void entry_to_record(FixedTable t, Record rec);
void put(FixedTable t, uint64_t field_no, Item source, uint64_t start, uint64_t length);
void get(FixedTable t, uint64_t field_no, Item target);
void sort(FixedTable t, uint64_t key_start, uint64_t key_length);
// The key text is key_length characters long (0: as long as the key range)
// and compares as if blank-padded to the range; it is never read past.
void find(FixedTable t, uint64_t key_start, uint64_t key_end, const uint8_t* key,
          uint64_t key_length, Number result);
// Number of dimensions of a bound table.
int dimensions(FixedTable t);

// ---------------------------------------------------------------------------
// Xtables.

// Bytes of one entry slot: 8-byte link, live flag, flat record.
uint64_t xslot_size(Xtable t);
void xbind(Xtable t, Record entry_record, uint64_t bytes);
// The entry at `position` (through its link); null with status 10 beyond
// _UBOUND, 23 outside the memory block.
uint8_t* xlocate(Xtable t, int64_t position);
void xrecord_to_entry(Xtable t, int64_t position, Record rec);
void xentry_to_record(Xtable t, int64_t position, Record rec);
void xput(Xtable t, int64_t position, uint64_t field_no, Item source, uint64_t start,
          uint64_t length);
void xget(Xtable t, int64_t position, uint64_t field_no, Item target);
void xdelete(Xtable t, int64_t position, bool clear);
void xsort(Xtable t, uint64_t key_start, uint64_t key_length);
void xfind(Xtable t, uint64_t key_start, uint64_t key_end, const uint8_t* key,
           uint64_t key_length, Number result);
void xload(Xtable t, FileBlock f, bool keep_deleted);
void xunload(Xtable t, FileBlock f, bool with_deleted);

// ---------------------------------------------------------------------------
// The partition scheme shared by every sort of the runtime: the pivot is
// the middle element; i climbs over elements below it, j falls over
// elements above it, unequal pairs are swapped, then both sides are sorted.
// `Ops` supplies take_pivot(k), below_pivot(i), above_pivot(j), swap(i, j).
// The smaller side is sorted first by recursion and the larger one by the
// loop, which bounds the stack; the result is the same in either order.
template <class Ops>
void partition_sort(Ops& ops, int64_t lo, int64_t hi) {
  while (lo < hi) {
    ops.take_pivot(lo + (hi - lo) / 2);
    int64_t i = lo, j = hi;
    for (;;) {
      while (ops.below_pivot(i)) ++i;
      if (i > j) break;
      while (ops.above_pivot(j)) --j;
      if (i > j) break;
      if (i == j) {
        ++i;
        break;
      }
      ops.swap(i, j);
      ++i;
      --j;
    }
    if (i - 1 - lo < hi - i) {
      partition_sort(ops, lo, i - 1);
      lo = i;
    } else {
      partition_sort(ops, i, hi);
      hi = i - 1;
    }
  }
}

}  // namespace qw::tables
