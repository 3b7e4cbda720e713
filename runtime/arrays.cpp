// Arrays module (_ARRAYS): plain arrays of 64-bit signed integers, sorted
// with the tables module's partition scheme.
#include "arrays.h"

#include "bridge.h"
#include "tables.h"

namespace qw::arrays {
namespace {

struct IntegerOps {
  int64_t* a;
  int64_t pivot;
  void take_pivot(int64_t m) { pivot = a[m]; }
  bool below_pivot(int64_t i) const { return a[i] < pivot; }
  bool above_pivot(int64_t j) const { return a[j] > pivot; }
  void swap(int64_t i, int64_t j) const {
    const int64_t x = a[i];
    a[i] = a[j];
    a[j] = x;
  }
};

}  // namespace

void sort_integers(int64_t* a, int64_t last) {
  if (a == nullptr || last < 1) return;
  IntegerOps ops{a, 0};
  tables::partition_sort(ops, 0, last);
}

}  // namespace qw::arrays

// r8 = 8: sort positions 0 to r10 of the array at r9 ascending.
QW_ENTRY(_ARRAYS, bridge_ARRAYS);
extern "C" void bridge_ARRAYS(qw::Regs& r) {
  if (r.r8 == 8)
    qw::arrays::sort_integers(reinterpret_cast<int64_t*>(r.r9), static_cast<int64_t>(r.r10));
}
