// The numbers module's scale cache, fatal messages, pictures built from
// text, register entries and comparison.  Its arithmetic, text conversion
// and editing are checked against a decimal model in numbers_model_test.cpp.
#include <sys/syscall.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "arena.h"
#include "common.h"
#include "numbers.h"

namespace {

using qw::Number;
using qw::Word;
namespace nb = qw::numbers;

using qwtest::Arena;
using qwtest::fatal_output;
using qwtest::value;

int64_t scale(uint8_t* n) { return Number(n).scale(); }

void run(int op, uint8_t* target, uint8_t* operand, const char* pic = nullptr) {
  nb::Picture p;
  if (pic) p = {pic, std::strlen(pic)};
  nb::compute(op, Number(target), qw::Item(operand), p, 0, 0);
}

void text_into(uint8_t* n, const std::string& text) {
  nb::from_text(Number(n), text.data(), text.size());
}

std::string library_line(const std::string& text) {
  return "\x1b[91m\n" + text + std::string(80 - text.size(), ' ') + "\n";
}

TEST(Scaling, ScanCachesScaleFromPicture) {
  Arena a;
  uint8_t* n = a.number(0, "999999.9999", -1);
  EXPECT_EQ(nb::places(Number(n), {}), 4);
  EXPECT_EQ(scale(n), 10000);
  // Signs and commas are not positions; a number without places keeps 1.
  uint8_t* m = a.number(0, "#,###.##-", 0);
  EXPECT_EQ(nb::places(Number(m), {}), 2);
  EXPECT_EQ(scale(m), 100);
  uint8_t* w = a.number(0, "999", -1);
  EXPECT_EQ(nb::places(Number(w), {}), 0);
  EXPECT_EQ(scale(w), 1);
  // A stored scale above 1 is used unchanged.
  uint8_t* k = a.number(0, "9.9", 1000);
  nb::places(Number(k), {});
  EXPECT_EQ(scale(k), 1000);
}

TEST(Scaling, ExplicitPictureLeavesTheNumbersScaleAlone) {
  Arena a;
  uint8_t* lit = a.number(11000, "#,###,###,###,###,###,###-", -1);
  uint8_t* r = a.number(200, "99.99");  // 2.00
  run(nb::kMultiply, r, lit, "9.9999");
  EXPECT_EQ(value(r), 220);  // 2.00 * 1.1000
  EXPECT_EQ(scale(lit), -1);
  // A whole number read once as 0.05 stays a whole number afterwards.
  uint8_t* whole = a.number(5, "999");
  run(nb::kAssign, a.number(0, "9.99"), whole, "9.99");
  run(nb::kAdd, whole, whole);
  EXPECT_EQ(value(whole), 10);
}

TEST(Fatal, MessagesOfArithmetic) {
  Arena a;
  EXPECT_EQ(fatal_output([&] { run(nb::kAdd, a.number(INT64_MAX, "9"), a.number(1, "9")); }),
            library_line("NUMBERS[error]:- result has exceeded its range"));
  EXPECT_EQ(fatal_output([&] { run(nb::kAdd, a.number(INT64_MIN, "9"), a.number(1, "9")); }),
            library_line("NUMBERS[error]:- Entered field has exceeded its range"));
  EXPECT_EQ(fatal_output([&] { run(nb::kAdd, a.number(1, "   "), a.number(1, "9")); }),
            library_line("NUMBERS[error]:- Result field must have a defined picture"));
  EXPECT_EQ(fatal_output([&] { run(nb::kAdd, a.number(1, "9"), a.word("12")); }),
            library_line("NUMBERS[error]:- use $equals to convert a word to a number"));
  EXPECT_EQ(fatal_output([&] { run(nb::kAssign, a.word("12"), a.number(1, "9")); }),
            library_line("NUMBERS[error]:- use WORDS to convert number to text"));
  EXPECT_EQ(fatal_output([&] { run(nb::kDivide, a.number(1, "9"), a.number(0, "9.9")); }),
            library_line("NUMBERS[error]:- division by zero"));
  EXPECT_EQ(fatal_output([&] { run(3, a.number(1, "9"), a.number(0, "9")); }),
            library_line("NUMBERS[error]:- unknown operation code"));
  // Alignment overflow: 10^18 brought to four places.
  EXPECT_EQ(fatal_output([&] {
              run(nb::kAdd, a.number(0, "9.9999"), a.number(1000000000000000000LL, "9"));
            }),
            library_line("NUMBERS[error]:- result has exceeded its range"));
}

TEST(TextToNumber, BuildsPictureForBlankNumber) {
  Arena a;
  uint8_t* n = a.number(0, std::string(26, ' '), 1);
  text_into(n, "3.5");
  EXPECT_EQ(Number(n).length(), 3u);
  EXPECT_EQ(std::string(Number(n).picture(), 3), "9.9");
  EXPECT_EQ(value(n), 35);
  EXPECT_EQ(scale(n), 10);
  uint8_t* m = a.number(0, std::string(26, ' '), 1);
  text_into(m, "-12");
  EXPECT_EQ(std::string(Number(m).picture(), Number(m).length()), "99-");
  EXPECT_EQ(value(m), -12);
  // A picture never outgrows the area it is written over.
  uint8_t* small = a.number(0, "    ", 1);
  text_into(small, "123456");
  EXPECT_EQ(Number(small).length(), 4u);
  EXPECT_EQ(value(small), 123456);
}

TEST(Editing, IntoWordCutsWithTheMark) {
  Arena a;
  uint8_t* n = a.number(123456, "999999");
  uint8_t* w = a.word("abcdefgh");
  nb::to_word(Number(n), {}, Word(w), 5, false);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(w), 8), "abcd*234");
  // Set-length form: the word takes the picture's length.
  uint8_t* t = a.word(std::string(20, 'x'));
  nb::to_word(Number(n), {"###9", 4}, Word(t), 1, true);
  EXPECT_EQ(Word(t).length(), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t), 4), "*456");
}

using qwtest::numbers_entry;

TEST(Entry, FaultsOfTheFastPathStillReported) {
  Arena a;
  EXPECT_EQ(fatal_output([&] {
              numbers_entry(nb::kAdd, a.number(INT64_MAX, "9.9", 10), a.number(1, "9.9", 10));
            }),
            library_line("NUMBERS[error]:- result has exceeded its range"));
  EXPECT_EQ(fatal_output([&] {
              numbers_entry(nb::kAssign, a.number(0, "9.9", 10), a.number(INT64_MIN, "9.9", 10));
            }),
            library_line("NUMBERS[error]:- Entered field has exceeded its range"));
  EXPECT_EQ(fatal_output([&] {
              numbers_entry(nb::kMultiply, a.number(INT64_MIN, "9"), a.number(1, "9"));
            }),
            library_line("NUMBERS[error]:- Entered field has exceeded its range"));
  EXPECT_EQ(fatal_output([&] {
              numbers_entry(nb::kAdd, a.number(0, "   ", 10), a.number(1, "9.9", 10));
            }),
            library_line("NUMBERS[error]:- Result field must have a defined picture"));
}

TEST(Compare, AlignedSignedValues) {
  Arena a;
  EXPECT_EQ(nb::compare(Number(a.number(150, "9.99")), {}, Number(a.number(15, "9.9")), {}), 0);
  EXPECT_EQ(nb::compare(Number(a.number(-1, "9-")), {}, Number(a.number(0, "9")), {}), -1);
  // Values whose alignment would not fit in 64 bits still compare.
  EXPECT_EQ(nb::compare(Number(a.number(INT64_MAX, "9")), {}, Number(a.number(15, "9.9")), {}),
            1);
  // Explicit pictures.
  EXPECT_EQ(nb::compare(Number(a.number(11, "9")), {"9.9", 3}, Number(a.number(110, "9.99")), {}),
            0);
}

}  // namespace
