// The record's flat form, which files, tables and the text conversions
// share.
#include <gtest/gtest.h>

#include <string>

#include "arena.h"
#include "item.h"
#include "record.h"

namespace {

using qw::Number;
using qw::Word;
namespace rc = qw::record;

using qwtest::Arena;
using qwtest::text;

TEST(Records, FlatFormRoundTrip) {
  Arena a;
  uint8_t* rec = a.begin_record();
  uint8_t* key = a.word("KEY01");
  uint8_t* qty = a.number(42, "9999");
  uint8_t* price = a.number(-1250, "##9.99-");
  a.word("ok");
  a.end_record(rec);
  qw::Record r(rec);
  EXPECT_EQ(r.flat_length(), 5u + 4 + 7 + 2);
  uint8_t flat[64];
  ASSERT_EQ(rc::to_flat(r, flat, sizeof flat).length, 18u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(flat), 18), "KEY010042 12.50-ok");
  // Capacity limits what is written.
  EXPECT_EQ(rc::to_flat(r, flat, 7).length, 7u);

  // What editing gives reads back with RETURN_CODE 0 (blanks, "+");
  // anything else in a number field, the "*" mark too, with 9.
  rc::from_flat(r, reinterpret_cast<const uint8_t*>("ABCDE0007  2.50+zz"), 18);
  EXPECT_EQ(text(key), "ABCDE");
  EXPECT_EQ(Number(qty).value(), 7);
  EXPECT_EQ(Number(price).value(), 250);
  EXPECT_EQ(qw::return_code().value(), 0);
  for (const char* other : {"ABCDE0007 02.50+zz", "ABCDE*345  2.50+zz", "ABCDE0007  2.50 zz"}) {
    rc::from_flat(r, reinterpret_cast<const uint8_t*>(other), 18);
    EXPECT_EQ(qw::return_code().value(), 9) << other;
  }
  // A short flat form leaves the remaining fields blank or zero.
  rc::from_flat(r, reinterpret_cast<const uint8_t*>("XY"), 2);
  EXPECT_EQ(text(key), "XY   ");
  EXPECT_EQ(Number(qty).value(), 0);

  // Too wide, or negative without a sign position: not shown, marked.
  EXPECT_TRUE(rc::shows(r));
  Number(qty).set_value(-1);
  EXPECT_FALSE(rc::shows(r));
  EXPECT_FALSE(rc::to_flat(r, flat, sizeof flat).shown);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(flat), 9), "XY   *001");
  Number(qty).set_value(10000);
  EXPECT_FALSE(rc::to_entry(r, flat, 18));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(flat), 9), "XY   *001");  // untouched
}

TEST(Records, TextToRecordAndBack) {
  Arena a;
  uint8_t* rec = a.begin_record();
  uint8_t* key = a.word("     ");
  uint8_t* qty = a.number(0, "999");
  a.end_record(rec);
  qw::Record r(rec);
  r.set_record_no(5);
  uint8_t* src = a.word("##KEY99123");
  rc::text_to_record(Word(src), 3, r);
  EXPECT_EQ(text(key), "KEY99");
  EXPECT_EQ(Number(qty).value(), 123);
  EXPECT_EQ(r.record_no(), 5) << "a conversion keeps the record's number";
  EXPECT_EQ(qw::record_buffer().length(), 8u);
  // A short source does not pick up the previous buffer contents.
  rc::text_to_record(Word(a.word("AB")), 1, r);
  EXPECT_EQ(text(key), "AB   ");
  EXPECT_EQ(Number(qty).value(), 0);

  Number(qty).set_value(7);
  uint8_t* out = a.word("..........");
  rc::record_to_text(r, Word(out), 4);
  EXPECT_EQ(text(out), "...AB   00");
}

}  // namespace
