// Fixed-point arithmetic, text conversions and editing of the numbers module.
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
int64_t return_code() { return qw::load64(RETURN_CODE); }

void run(int op, uint8_t* target, uint8_t* operand, const char* pic = nullptr) {
  nb::Picture p;
  if (pic) p = {pic, std::strlen(pic)};
  nb::compute(op, Number(target), qw::Item(operand), p, 0, 0);
}

std::string edit(int64_t v, const std::string& pic) {
  Arena a;
  uint8_t* n = a.number(v, pic);
  std::string out(pic.size(), '?');
  nb::to_text(Number(n), {}, out.data());
  return out;
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

TEST(Assignment, AlignsAndRoundsHalfUpOnMagnitude) {
  Arena a;
  uint8_t* r = a.number(0, "9999.9999");
  run(nb::kAssign, r, a.number(3, "9"));
  EXPECT_EQ(value(r), 30000);
  uint8_t* i = a.number(0, "999-");
  run(nb::kAssign, i, a.number(25, "9.9"));
  EXPECT_EQ(value(i), 3);
  run(nb::kAssign, i, a.number(-25, "9.9-"));
  EXPECT_EQ(value(i), -3);
  run(nb::kAssign, i, a.number(-24, "9.9-"));
  EXPECT_EQ(value(i), -2);
}

TEST(Assignment, OldValueDoesNotLimitNewOne) {
  // A large old value would overflow if it were brought to the operand's
  // scale; it is discarded, so the assignment succeeds.
  Arena a;
  uint8_t* r = a.number(900000000000000000LL, "999999999999999999");
  run(nb::kAssign, r, a.number(15, "9.9"));
  EXPECT_EQ(value(r), 2);
}

TEST(AddSubtract, AlignToLargerScale) {
  Arena a;
  uint8_t* r = a.number(1050, "999.99");                // 10.50
  run(nb::kAdd, r, a.number(3, "9.999", 0));            // 0.003
  EXPECT_EQ(value(r), 1050);                            // 10.503 -> 10.50
  run(nb::kAdd, r, a.number(5, "9.999"));               // + 0.005
  EXPECT_EQ(value(r), 1051);                            // 10.505 -> 10.51
  run(nb::kSubtract, r, a.number(2000, "9999.9"));      // - 200.0
  EXPECT_EQ(value(r), -18949);
}

TEST(Multiply, ProductRoundedOnce) {
  Arena a;
  uint8_t* r = a.number(1000, "999.99");  // 10.00
  run(nb::kMultiply, r, a.number(1005, "9.999"));
  EXPECT_EQ(value(r), 1005);  // 10.05
  uint8_t* s = a.number(-333, "999.99-");  // -3.33
  run(nb::kMultiply, s, a.number(15, "9.9"));
  EXPECT_EQ(value(s), -500);  // -4.995 -> -5.00
}

TEST(Multiply, WideProductsAreExactOrRefused) {
  Arena a;
  // 99.99 * 1000.000000000000000 needs 74 bits; at two places it fits.
  uint8_t* r = a.number(9999, "9999.99");
  run(nb::kMultiply, r, a.number(1000000000000000000LL, "9999.999999999999999"));
  EXPECT_EQ(value(r), 9999000);
  // 1.2345678901 * 3.0000000000: the scales alone pass 63 bits.
  uint8_t* s = a.number(12345678901LL, "9.9999999999");
  run(nb::kMultiply, s, a.number(30000000000LL, "99.9999999999"));
  EXPECT_EQ(value(s), 37037036703LL);
  // 5000000000 * 5000000000 does not fit: no digits are cut.
  EXPECT_EQ(fatal_output([&] {
              run(nb::kMultiply, a.number(5000000000LL, "9999999999"),
                  a.number(5000000000LL, "9999999999"));
            }),
            library_line("NUMBERS[error]:- result has exceeded its range"));
}

TEST(Divide, LongDivisionWithRoundingDigit) {
  Arena a;
  uint8_t* r = a.number(1000, "999.99");
  run(nb::kDivide, r, a.number(3, "9"));
  EXPECT_EQ(value(r), 333);
  uint8_t* s = a.number(1000, "999.99");
  run(nb::kDivide, s, a.number(6, "9"));
  EXPECT_EQ(value(s), 167);
  uint8_t* t = a.number(-1000, "999.99-");
  run(nb::kDivide, t, a.number(25, "9.9"));  // -10.00 / 2.5
  EXPECT_EQ(value(t), -400);
  // A huge divisor: remainder * 10 needs more than 64 bits.
  uint8_t* u = a.number(INT64_MAX - 1, "9999999999999999999");
  run(nb::kDivide, u, a.number(INT64_MAX, "9999999999999999999"));
  EXPECT_EQ(value(u), 1);
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

TEST(TextToNumber, RoundsAtEveryDroppedDigit) {
  Arena a;
  uint8_t* n = a.number(0, "9.9");
  text_into(n, "0.149");
  EXPECT_EQ(value(n), 2);  // 0.15, then 0.2
  text_into(n, "0.144");
  EXPECT_EQ(value(n), 1);
  text_into(n, "-1.25");
  EXPECT_EQ(value(n), -13);
  EXPECT_EQ(return_code(), 0);
  // More than 19 digits are rounded, not refused, when the value fits.
  uint8_t* m = a.number(0, "9.99");
  text_into(m, "1.2345678901234567891");
  EXPECT_EQ(value(m), 124);  // ...45678901234567891 carries into the 3
}

TEST(TextToNumber, CommasSignsAndBadCharacters) {
  Arena a;
  uint8_t* n = a.number(0, "999999.9999");
  text_into(n, "1,234.5");
  EXPECT_EQ(value(n), 12345000);
  EXPECT_EQ(return_code(), 0);
  text_into(n, "12 34");
  EXPECT_EQ(value(n), 12340000);
  EXPECT_EQ(return_code(), 9);
  text_into(n, "+7");
  EXPECT_EQ(value(n), 70000);
  EXPECT_EQ(return_code(), 9);
  text_into(n, "7-");
  EXPECT_EQ(value(n), -70000);
  EXPECT_EQ(return_code(), 0);
  // Not the form of a number: the value rule holds, RETURN_CODE is 9.
  const std::pair<const char*, int64_t> malformed[] = {
      {"1.2.3", 123000}, {"1-2", -120000}, {"--5", -50000}, {"1.5-2", -15200}};
  for (auto [text, v] : malformed) {
    text_into(n, text);
    EXPECT_EQ(value(n), v) << text;
    EXPECT_EQ(return_code(), 9) << text;
  }
  text_into(n, "");
  EXPECT_EQ(value(n), 0);
  // Leading zeros beyond 19 digits are harmless.
  text_into(n, "000000000000000000000042");
  EXPECT_EQ(value(n), 420000);
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

TEST(TextToNumber, OverflowIsAReturnCode) {
  Arena a;
  uint8_t* n = a.number(5, "9");
  text_into(n, "99999999999999999999");
  EXPECT_EQ(value(n), 0);
  EXPECT_EQ(return_code(), nb::kTextOverflow);
  uint8_t* m = a.number(5, "9.99");
  text_into(m, "92233720368547758.07");  // the largest value fits
  EXPECT_EQ(value(m), INT64_MAX);
  text_into(m, "92233720368547758.1");
  EXPECT_EQ(value(m), 0);
  EXPECT_EQ(return_code(), nb::kTextOverflow);
}

TEST(Editing, SuppressionSignAndOverflowMark) {
  EXPECT_EQ(edit(1234, "#,###-"), "1,234+");
  EXPECT_EQ(edit(0, "#,###-"), "     +");
  EXPECT_EQ(edit(5, "9999"), "0005");
  EXPECT_EQ(edit(12345, "999"), "*45");
  EXPECT_EQ(edit(-98499803, "###,##9.99-"), "984,998.03-");
  EXPECT_EQ(edit(500, "###,##9.99-"), "      5.00+");
  EXPECT_EQ(edit(5, "###,##9.99-"), "       .05+");
  EXPECT_EQ(edit(-7, "99-"), "07-");
  EXPECT_EQ(edit(7, "99"), "07");
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

// Calls the _NUMBERS entry with the registers compiled code loads.
extern "C" void _NUMBERS();
void entry(uint64_t op, uint8_t* target, uint8_t* operand, const char* pic = nullptr) {
  register uint64_t r8 asm("r8") = op;
  register uint8_t* r9 asm("r9") = target;
  register uint8_t* r12 asm("r12") = operand;
  register const char* r13 asm("r13") = pic;
  register uint64_t r14 asm("r14") = pic ? std::strlen(pic) : 0;
  asm volatile("call _NUMBERS"
               : "+r"(r8), "+r"(r9), "+r"(r12), "+r"(r13), "+r"(r14)
               :
               : "memory", "cc");
}

TEST(Entry, SameScaleStatementsAgreeWithGeneralPath) {
  Arena a;
  uint8_t* total = a.number(0, "9999999.9999-", 10000);
  uint8_t* price = a.number(12345, "9999999.9999-", 10000);
  entry(nb::kAdd, total, price);
  entry(nb::kAdd, total, price);
  EXPECT_EQ(value(total), 24690);
  entry(nb::kSubtract, total, a.number(30000, "9.9999", 10000));
  EXPECT_EQ(value(total), -5310);
  entry(nb::kAssign, total, price);
  EXPECT_EQ(value(total), 12345);
  // Different scales and explicit pictures take the general path.
  entry(nb::kAdd, total, a.number(5, "9.9"));
  EXPECT_EQ(value(total), 17345);
  entry(nb::kMultiply, total, a.number(2, "9"));
  EXPECT_EQ(value(total), 34690);
  entry(nb::kAssign, total, a.number(11, "#,###-", -1), "9.9");
  EXPECT_EQ(value(total), 11000);
}

TEST(Entry, SameScaleFaultsStillReported) {
  Arena a;
  EXPECT_EQ(fatal_output([&] {
              entry(nb::kAdd, a.number(INT64_MAX, "9.9", 10), a.number(1, "9.9", 10));
            }),
            library_line("NUMBERS[error]:- result has exceeded its range"));
  EXPECT_EQ(fatal_output([&] {
              entry(nb::kAssign, a.number(0, "9.9", 10), a.number(INT64_MIN, "9.9", 10));
            }),
            library_line("NUMBERS[error]:- Entered field has exceeded its range"));
  EXPECT_EQ(fatal_output([&] {
              entry(nb::kAdd, a.number(0, "   ", 10), a.number(1, "9.9", 10));
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
