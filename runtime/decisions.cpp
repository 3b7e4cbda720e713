// The decisions module: the general comparison every condition of a
// translated program ends in (_COMPARE), and the comparison of two plain
// integers used by array conditions (_ARRAYCOMPARE).
#include "common.h"
#include "numbers.h"
#include "decisions.h"

namespace qw::decisions {

int compare_text(const char* a, uint64_t na, const char* b, uint64_t nb) {
  // Significant length: up to the last non-blank; all blanks count as the
  // first character only, and so does an empty text ('').
  if (na == 0) a = " ", na = 1;
  if (nb == 0) b = " ", nb = 1;
  while (na > 1 && a[na - 1] == ' ') --na;
  while (nb > 1 && b[nb - 1] == ' ') --nb;
  uint64_t n = na < nb ? na : nb;
  for (uint64_t i = 0; i < n; ++i) {
    signed char x = static_cast<signed char>(a[i]);
    signed char y = static_cast<signed char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (na == nb) return 0;
  return na < nb ? -1 : 1;
}

bool relation_holds(uint64_t mask, int relation) {
  if (relation == 0) return (mask & (1 | 8 | 32)) != 0;
  if (relation < 0) return (mask & (2 | 4 | 32)) != 0;
  return (mask & (2 | 8 | 16)) != 0;
}

bool compare(uint64_t mask, Item left, uint64_t left_start, uint64_t left_length, Item right,
             uint64_t right_start, uint64_t right_length) {
  int relation;
  if (left.is_number()) {
    if (!right.is_number()) fatal_library(kErrCompare);
    numbers::Picture lp = numbers::picture_at(left_start, left_length);
    numbers::Picture rp = numbers::picture_at(right_start, right_length);
    relation = numbers::compare(Number(left.data()), lp, Number(right.data()), rp);
  } else if (left.is_word()) {
    if (!right.is_word()) fatal_library(kErrCompare);
    validate_source(left.data(), left_start, left_length);
    validate_source(right.data(), right_start, right_length);
    relation = compare_text(reinterpret_cast<const char*>(left.data()) + left_start - 1,
                            left_length,
                            reinterpret_cast<const char*>(right.data()) + right_start - 1,
                            right_length);
  } else {
    fatal_library(kErrCompare);
  }
  return relation_holds(mask, relation);
}

}  // namespace qw::decisions

// _COMPARE: r8 mask, r9/r10/r11 left, r12/r13/r14 right -> b_Result.
extern "C" void qw_entry_compare(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                                 uint64_t) {
  using namespace qw;
  b_Result = decisions::compare(r.r8, Item(reinterpret_cast<void*>(r.r9)), r.r10, r.r11,
                            Item(reinterpret_cast<void*>(r12)), r13, r14)
                 ? 1
                 : 0;
}

// _ARRAYCOMPARE: rax and rbx signed, r8 mask -> RETURN_CODE 1 or 0.
extern "C" void qw_entry_arraycompare(qw::LeanRegs& r, uint64_t, uint64_t, uint64_t,
                                      uint64_t rbx) {
  using namespace qw;
  int64_t a = static_cast<int64_t>(r.rax), b = static_cast<int64_t>(rbx);
  int relation = a > b ? 1 : (a < b ? -1 : 0);
  store64(RETURN_CODE, decisions::relation_holds(r.r8, relation) ? 1 : 0);
}

QW_LEAN_ENTRY(_COMPARE, qw_entry_compare);
QW_LEAN_ENTRY(_ARRAYCOMPARE, qw_entry_arraycompare);
