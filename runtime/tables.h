// Fixed tables, xtables and integer arrays: the typed interface behind
// _TABLES, _XTABLES and _ARRAYS.
//
// Outcomes a program tests land in the table's _STATUS (0 good, 10 beyond
// _UBOUND, 22 duplicate key, 23 not found / outside / deleted / unwritten);
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
int compare_keys(const uint8_t* a, const uint8_t* b, uint64_t n);

// Field number `field_no` (from 1) of the entry record: its place in the
// flat entry and its item; false when the record has no such field.
bool field_place(Record rec, uint64_t field_no, uint64_t& offset, Item& field);

// One field of a flat entry from an item (put) or into one (get).  Nothing
// is written outside the field's place; false for a bad field number.
bool put_field(uint8_t* entry, Record rec, uint64_t field_no, Item source, uint64_t start,
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
void find(FixedTable t, uint64_t key_start, uint64_t key_end, const uint8_t* key, Number result);
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
void xfind(Xtable t, uint64_t key_start, uint64_t key_end, const uint8_t* key, Number result);
void xload(Xtable t, FileBlock f, bool keep_deleted);
void xunload(Xtable t, FileBlock f, bool with_deleted);

// ---------------------------------------------------------------------------
// Arrays: sorts the 64-bit signed integers a[0] .. a[last] ascending.
void sort_integers(int64_t* a, int64_t last);

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
