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
  uint8_t* price = a.number(-1250, "999.99-");
  a.word("ok");
  a.end_record(rec);
  qw::Record r(rec);
  EXPECT_EQ(r.flat_length(), 5u + 4 + 7 + 2);
  uint8_t flat[64];
  ASSERT_EQ(rc::to_flat(r, flat, sizeof flat).length, 18u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(flat), 18), "KEY010042012.50-ok");
  // Capacity limits what is written.
  EXPECT_EQ(rc::to_flat(r, flat, 7).length, 7u);

  rc::from_flat(r, reinterpret_cast<const uint8_t*>("ABCDE0007 12.50+zz"), 18);
  EXPECT_EQ(text(key), "ABCDE");
  EXPECT_EQ(Number(qty).value(), 7);
  EXPECT_EQ(Number(price).value(), 1250);
  // A short flat form leaves the remaining fields blank or zero.
  rc::from_flat(r, reinterpret_cast<const uint8_t*>("XY"), 2);
  EXPECT_EQ(text(key), "XY   ");
  EXPECT_EQ(Number(qty).value(), 0);
  // A value too wide for its picture was written with the overflow mark:
  // reading it back says so in RETURN_CODE, whatever the later fields hold.
  rc::from_flat(r, reinterpret_cast<const uint8_t*>("ABCDE*345 12.50+zz"), 18);
  EXPECT_EQ(qw::return_code().value(), 9);
  EXPECT_TRUE(rc::shows(r));
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
  EXPECT_EQ(r.record_no(), 0);
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
