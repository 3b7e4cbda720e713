// The general comparison and the integer comparison of the decisions module,
// called through their register entries as compiled conditions do.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "arena.h"
#include "common.h"
#include "item.h"
#include "decisions.h"

extern "C" void qw_entry_compare(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                                 uint64_t rbx);
extern "C" void qw_entry_arraycompare(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                                      uint64_t rbx);

namespace {

using qw::Item;
namespace wd = qw::decisions;

enum Mask : uint64_t { kEq = 1, kNe = 2, kLt = 4, kGe = 8, kGt = 16, kLe = 32 };

using qwtest::Arena;

// Which of equal / less / greater the comparison found, read back through
// the masks.
int relation(uint8_t* l, uint8_t* r) {
  auto ask = [&](uint64_t mask) {
    qw::LeanRegs regs{};
    regs.r8 = mask;
    regs.r9 = reinterpret_cast<uint64_t>(l);
    uint64_t r13 = 0, r14 = 0;
    if (Item(l).is_word()) {
      regs.r10 = 1;
      regs.r11 = Item(l).length();
      r13 = 1;
      r14 = Item(r).length();
    }
    b_Result = 7;
    qw_entry_compare(regs, reinterpret_cast<uint64_t>(r), r13, r14, 0);
    EXPECT_TRUE(b_Result == 0 || b_Result == 1);
    return b_Result == 1;
  };
  if (ask(kEq)) return 0;
  return ask(kLt) ? -1 : 1;
}

TEST(Masks, EachBitSelectsItsRelation) {
  EXPECT_TRUE(wd::relation_holds(kEq, 0));
  EXPECT_FALSE(wd::relation_holds(kEq, 1));
  EXPECT_TRUE(wd::relation_holds(kNe, -1));
  EXPECT_FALSE(wd::relation_holds(kNe, 0));
  EXPECT_TRUE(wd::relation_holds(kGe, 0));
  EXPECT_TRUE(wd::relation_holds(kGe, 1));
  EXPECT_FALSE(wd::relation_holds(kGe, -1));
  EXPECT_TRUE(wd::relation_holds(kLe, -1));
  EXPECT_FALSE(wd::relation_holds(kLe, 1));
  EXPECT_TRUE(wd::relation_holds(kGt, 1));
  EXPECT_FALSE(wd::relation_holds(kLt, 1));
}

TEST(Words, TrailingBlanksPrefixAndSignedCharacters) {
  Arena a;
  EXPECT_EQ(relation(a.word("AB   "), a.word("AB")), 0);
  EXPECT_EQ(relation(a.word("AB"), a.word("ABC")), -1);
  EXPECT_EQ(relation(a.word("ABC"), a.word("AB ")), 1);
  EXPECT_EQ(relation(a.word("    "), a.word("  ")), 0);
  EXPECT_EQ(relation(a.word("   "), a.word("A")), -1);
  // An empty text ('') is one blank.
  EXPECT_EQ(relation(a.word("    "), a.word("")), 0);
  EXPECT_EQ(relation(a.word(""), a.word("   ")), 0);
  EXPECT_EQ(relation(a.word(""), a.word("A")), -1);
  // Characters 128..255 order below all others.
  EXPECT_EQ(relation(a.word("\xe9"), a.word(" ")), -1);
  EXPECT_EQ(relation(a.word("a"), a.word("B")), 1);
}

TEST(Words, Substrings) {
  Arena a;
  uint8_t* l = a.word("xxHELLOxx");
  uint8_t* r = a.word("HELLO");
  qw::LeanRegs regs{};
  regs.r8 = kEq;
  regs.r9 = reinterpret_cast<uint64_t>(l);
  regs.r10 = 3;
  regs.r11 = 5;
  qw_entry_compare(regs, reinterpret_cast<uint64_t>(r), 1, 5, 0);
  EXPECT_EQ(b_Result, 1);
}

TEST(Numbers, ScaledComparison) {
  Arena a;
  EXPECT_EQ(relation(a.number(150, "9.99"), a.number(15, "9.9")), 0);
  EXPECT_EQ(relation(a.number(-1, "9-"), a.number(0, "9")), -1);
  EXPECT_EQ(relation(a.number(1001, "99.999"), a.number(1, "9")), 1);
}

TEST(Numbers, LoadedLikeWordsStillCompare) {
  // Start 1 and the Length in the picture registers are positions, not a
  // picture's address: the numbers are read through their own pictures.
  Arena a;
  uint8_t* l = a.number(150, "9.99");
  uint8_t* r = a.number(15, "9.9");
  qw::LeanRegs regs{};
  regs.r8 = kEq;
  regs.r9 = reinterpret_cast<uint64_t>(l);
  regs.r10 = 1;
  regs.r11 = 4;
  qw_entry_compare(regs, reinterpret_cast<uint64_t>(r), 1, 3, 0);
  EXPECT_EQ(b_Result, 1);
}

TEST(Numbers, MixedKindsAreFatal) {
  Arena a;
  EXPECT_EXIT(
      {
        dup2(2, 1);
        relation(a.number(1, "9"), a.word("1"));
      },
      testing::ExitedWithCode(1), "DECISIONS\\[error\\]:- Error comparing Alpha and Numeric field");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        relation(a.word("1"), a.number(1, "9"));
      },
      testing::ExitedWithCode(1), "DECISIONS\\[error\\]:- Error comparing Alpha and Numeric field");
}

TEST(Integers, ArrayCompareSetsReturnCode) {
  auto ask = [](int64_t x, int64_t y, uint64_t mask) {
    qw::LeanRegs regs{};
    regs.rax = static_cast<uint64_t>(x);
    regs.r8 = mask;
    qw_entry_arraycompare(regs, 0, 0, 0, static_cast<uint64_t>(y));
    return qw::load64(RETURN_CODE);
  };
  EXPECT_EQ(ask(-5, 3, kLt), 1);
  EXPECT_EQ(ask(-5, 3, kGt), 0);
  EXPECT_EQ(ask(INT64_MIN, INT64_MAX, kLe), 1);
  EXPECT_EQ(ask(4, 4, kGe | kLe), 1);
  EXPECT_EQ(ask(4, 4, kNe), 0);
}

}  // namespace
