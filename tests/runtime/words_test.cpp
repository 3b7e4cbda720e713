// Moves, insert, find and replace of the words module (records to and
// from text: record_test.cpp).
#include <sys/syscall.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "arena.h"
#include "bridge.h"
#include "item.h"
#include "words.h"

namespace {

using qw::Item;
using qw::Number;
using qw::Word;
namespace wd = qw::words;

using qwtest::Arena;
using qwtest::text;

// The word operand form: start and length, 1 and Length for the whole word
// (the destination from dstart to its end).
void words(uint64_t flags, uint8_t* src, uint64_t start, uint64_t len, uint8_t* dest,
           uint64_t dstart, uint64_t extra = 0) {
  wd::transfer(flags, Item(src), start, len, Item(dest), dstart, 0, extra);
}

// Every statement stays inside the destination substring {dest,3,2} of
// "abcdefghij"; a find searches only there and counts from the word's start.
TEST(Range, NothingOutsideTheDestinationSubstringChanges) {
  Arena a;
  uint8_t* w = a.word("abcdefghij");
  auto in_range = [&](uint64_t flags, const std::string& src, uint64_t extra = 0) {
    std::memcpy(w, "abcdefghij", 10);
    wd::transfer(flags, Item(a.word(src)), 1, src.size(), Item(w), 3, 2, extra);
    return text(w);
  };
  EXPECT_EQ(in_range(0, "XYZ"), "abXYefghij");
  EXPECT_EQ(in_range(wd::kPad, "X"), "abX efghij");
  EXPECT_EQ(in_range(wd::kUpper | wd::kPad, "xyz"), "abXYefghij");
  EXPECT_EQ(in_range(wd::kInsert, "X"), "abXcefghij");
  EXPECT_EQ(in_range(wd::kReplace, "d", reinterpret_cast<uint64_t>(a.word("-"))), "abc-efghij");
  EXPECT_EQ(in_range(wd::kReplace, "e", reinterpret_cast<uint64_t>(a.word("-"))), "abcdefghij");
  uint8_t* pos = a.number(0, "99");
  in_range(wd::kFind, "d", reinterpret_cast<uint64_t>(pos));
  EXPECT_EQ(Number(pos).value(), 4) << "counted from the word's first character";
  in_range(wd::kFind, "h", reinterpret_cast<uint64_t>(pos));
  EXPECT_EQ(Number(pos).value(), 0) << "found only inside the range";
  in_range(wd::kFind, "de", reinterpret_cast<uint64_t>(pos));
  EXPECT_EQ(Number(pos).value(), 0) << "an occurrence must lie wholly inside";

  uint8_t* n = a.number(1234, "9999");
  std::memcpy(w, "abcdefghij", 10);
  wd::transfer(wd::kPad, Item(n), 0, 0, Item(w), 5, 3, 0);
  EXPECT_EQ(text(w), "abcd*23hij") << "a number cut at the range is marked, the rest is kept";
  wd::transfer(wd::kPad, Item(n), 0, 0, Item(w), 1, 6, 0);
  EXPECT_EQ(text(w), "1234  3hij") << "padding blanks only the range";

  uint8_t* rec = a.begin_record();
  a.word("KEY");
  a.number(7, "99");
  a.end_record(rec);
  std::memcpy(w, "abcdefghij", 10);
  wd::record_within(qw::Record(rec), Word(w), 2, 4);
  EXPECT_EQ(text(w), "aKEY0fghij");
  wd::text_within(Word(a.word("..XY3456")), 3, 3, qw::Record(rec));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec + 17), 3), "XY3") << "then blanks";
}

TEST(Move, StopsAtDestinationEndAndPads) {
  Arena a;
  uint8_t* s = a.word("abcde");
  uint8_t* d = a.word("xyz");
  words(0, s, 1, 5, d, 1);
  EXPECT_EQ(text(d), "abc");
  uint8_t* e = a.word("0123456789");
  words(wd::kPad, s, 1, 5, e, 1);
  EXPECT_EQ(text(e), "abcde     ");
  uint8_t* f = a.word("0123456789");
  words(0, s, 2, 2, f, 4);
  EXPECT_EQ(text(f), "012bc56789");
}

TEST(Move, CaseConversion) {
  Arena a;
  uint8_t* s = a.word("Mixed Case 1");
  uint8_t* d = a.word("            ");
  words(wd::kUpper, s, 1, 12, d, 1);
  EXPECT_EQ(text(d), "MIXED CASE 1");
  words(wd::kLower, s, 1, 12, d, 1);
  EXPECT_EQ(text(d), "mixed case 1");
  words(wd::kUpper | wd::kLower, s, 1, 12, d, 1);
  EXPECT_EQ(text(d), "MIXED CASE 1");
}

TEST(Move, OverlappingWithinOneWord) {
  Arena a;
  uint8_t* w = a.word("abcdefgh");
  words(0, w, 1, 5, w, 3);
  EXPECT_EQ(text(w), "ababcdeh");
}

TEST(Move, NormalisesPositions) {
  Arena a;
  uint8_t* s = a.word("abc");
  uint8_t* d = a.word("..........");
  words(0, s, 0, 0, d, 0);  // whole source, start 1
  EXPECT_EQ(text(d), "abc.......");
  uint8_t* e = a.word("..........");
  words(0, s, 1, 3, e, 11);  // beyond the end: ends at the last position
  EXPECT_EQ(text(e), ".......abc");
  uint8_t* f = a.word("ab");
  words(0, s, 1, 3, f, 5);  // longer than the word: from the first
  EXPECT_EQ(text(f), "ab");
}

TEST(Insert, OpensGapAndLosesTail) {
  Arena a;
  uint8_t* s = a.word("XYZ");
  uint8_t* d = a.word("0123456789");
  words(wd::kInsert, s, 1, 3, d, 2);
  EXPECT_EQ(text(d), "0XYZ123456");
  uint8_t* e = a.word("0123");
  words(wd::kInsert, s, 1, 3, e, 3);
  EXPECT_EQ(text(e), "01XY");
}

TEST(Insert, SourceInsideDestination) {
  Arena a;
  uint8_t* w = a.word("abcdefgh");
  words(wd::kInsert, w, 1, 2, w, 4);  // "ab" inserted at 4, read before the shift
  EXPECT_EQ(text(w), "abcabdef");
}

TEST(Find, PositionFromWordStart) {
  Arena a;
  uint8_t* n = a.number(99, "999");
  words(wd::kFind, a.word("ab"), 1, 2, a.word("aab"), 1, reinterpret_cast<uint64_t>(n));
  EXPECT_EQ(Number(n).value(), 2);
  uint8_t* hay = a.word("abcabc");
  words(wd::kFind, a.word("abc"), 1, 3, hay, 2, reinterpret_cast<uint64_t>(n));
  EXPECT_EQ(Number(n).value(), 4);
  words(wd::kFind, a.word("cab!"), 1, 4, hay, 1, reinterpret_cast<uint64_t>(n));
  EXPECT_EQ(Number(n).value(), 0);  // never reads beyond the Length
  // A receiving number with places gets the position, not a scaled value.
  uint8_t* p = a.number(0, "99.9");
  words(wd::kFind, a.word("c"), 1, 1, hay, 1, reinterpret_cast<uint64_t>(p));
  EXPECT_EQ(Number(p).value(), 30);
}

TEST(Replace, AllNonOverlappingOccurrences) {
  Arena a;
  uint8_t* d = a.word("xxxxx");
  uint8_t* src = a.word("xx");
  uint8_t* rep = a.word("yy");
  words(wd::kReplace, src, 1, 2, d, 1, reinterpret_cast<uint64_t>(rep));
  EXPECT_EQ(text(d), "yyyyx");
  uint8_t* e = a.word("a-b-c-d");
  words(wd::kReplace, a.word("-"), 1, 1, e, 4, reinterpret_cast<uint64_t>(a.word("+")));
  EXPECT_EQ(text(e), "a-b+c+d");
  // A replacement word shorter than the source substring reads as blanks.
  uint8_t* f = a.word("abcabc");
  words(wd::kReplace, a.word("bc"), 1, 2, f, 1, reinterpret_cast<uint64_t>(a.word("Z")));
  EXPECT_EQ(text(f), "aZ aZ ");
}

TEST(NumberSource, EditsAtStartAndClears) {
  Arena a;
  uint8_t* n = a.number(1234, "#,###-");
  uint8_t* d = a.word("abcdefghij");
  words(0, n, 0, 0, d, 3);
  EXPECT_EQ(text(d), "ab1,234+ij");
  words(wd::kPad, n, 0, 0, d, 1);
  EXPECT_EQ(text(d), "1,234+    ");
  // Explicit picture through r10/r11.
  const char* pic = "99999";
  words(wd::kPad, n, reinterpret_cast<uint64_t>(pic), 5, d, 1);
  EXPECT_EQ(text(d), "01234     ");
  // Set-length form used by the display routine.
  uint8_t* t = a.word(std::string(20, ' '));
  words(wd::kPad, n, 0, 0, t, 1, 1);
  EXPECT_EQ(text(t), "1,234+");
}

TEST(Dispatch, NumberDestinationIsFatal) {
  Arena a;
  uint8_t* n = a.number(0, "99");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        words(0, a.word("12"), 1, 2, n, 1);
      },
      testing::ExitedWithCode(1), "WORDS\\[error\\]:- use NUMBERS to convert text to number");
}

TEST(Dispatch, FindIntoWordIsFatal) {
  Arena a;
  uint8_t* notnum = a.word("  ");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        words(wd::kFind, a.word("a"), 1, 1, a.word("abc"), 1, reinterpret_cast<uint64_t>(notnum));
      },
      testing::ExitedWithCode(1), "NUMBERS\\[error\\]:- non numeric field");
}

TEST(Environment, LookupThroughRegisterEntry) {
  Arena a;
  setenv("QW_WORDS_TEST", "found-it", 1);
  // The services module walks the environment from the saved start stack;
  // build a minimal one: argc 0, no arguments, then the environment.
  static char entry[] = "QW_WORDS_TEST=found-it";
  static char* stack[] = {nullptr, nullptr, entry, nullptr};
  w_SaveRSP = reinterpret_cast<int64_t>(stack);
  uint8_t* name = a.word("QW_WORDS_TEST   ");
  uint8_t* d = a.word("....................");
  words(wd::kEnvironment, name, 1, 16, d, 1);
  EXPECT_EQ(text(d), "found-it............");
}

}  // namespace
