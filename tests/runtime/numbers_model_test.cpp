// The numbers module against a plain model of its rules, over many random
// values and pictures: scale scan, aligned arithmetic with half-up rounding
// on the magnitude, long division, editing with zero suppression, and text
// to number.  The model is written from the rules, not from the module.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "arena.h"
#include "common.h"
#include "numbers.h"

namespace {

using qw::Number;
namespace nb = qw::numbers;
using qwtest::Arena;
using qwtest::value;

using i128 = __int128;

// Places: positions right of the "." ("-", "+" and "," are not positions).
int model_places(const std::string& pic) {
  int digits = 0, places = 0;
  for (size_t i = pic.size(); i-- > 0;) {
    char c = pic[i];
    if (c == '-' || c == '+' || c == ',') continue;
    if (c == '.') places = digits;
    ++digits;
  }
  return places;
}

i128 pow10(int n) {
  i128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Drops `k` decimals of x, rounding half up on the magnitude.
i128 round_drop(i128 x, int k) {
  if (k <= 0) return x * pow10(-k);
  i128 m = x < 0 ? -x : x;
  i128 q = (m + 5 * pow10(k - 1)) / pow10(k);
  return x < 0 ? -q : q;
}

int64_t model_compute(int op, int64_t r, int rp, int64_t o, int op_places) {
  switch (op) {
    case nb::kAssign:
      return static_cast<int64_t>(round_drop(o, op_places - rp));
    case nb::kAdd:
    case nb::kSubtract: {
      int p = std::max(rp, op_places);
      i128 a = r * pow10(p - rp), b = static_cast<i128>(o) * pow10(p - op_places);
      return static_cast<int64_t>(round_drop(op == nb::kAdd ? a + b : a - b, p - rp));
    }
    case nb::kMultiply:
      return static_cast<int64_t>(round_drop(static_cast<i128>(r) * o, op_places));
    default: {  // divide: the exact quotient at the receiving scale, half up
      i128 a = r < 0 ? -static_cast<i128>(r) : r, b = o < 0 ? -static_cast<i128>(o) : o;
      i128 ten = a * pow10(op_places + 1) / b;  // one digit more than kept
      i128 q = ten / 10 + (ten % 10 >= 5 ? 1 : 0);
      return static_cast<int64_t>((r < 0) != (o < 0) ? -q : q);
    }
  }
}

std::string model_edit(int64_t v, const std::string& pic) {
  size_t n = pic.size();
  std::string out(n, '?');
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  size_t i = n;
  if (pic[n - 1] != '9') out[--i] = v < 0 ? '-' : '+';
  while (i-- > 0) {
    if (pic[i] == '.' || pic[i] == ',') {
      out[i] = pic[i];
    } else {
      out[i] = static_cast<char>('0' + mag % 10);
      mag /= 10;
    }
  }
  for (size_t j = 0; j + 1 < n; ++j) {
    if (out[j] > '0' || out[j] == '.') break;
    if (pic[j] == '#' || (j > 0 && pic[j - 1] == '#')) out[j] = ' ';
  }
  if (mag != 0) out[0] = '*';
  return out;
}

// A picture of 1 to 9 whole positions ("#" runs and "," among them when
// `edit`), 0 to 4 places, and sometimes a sign position.
std::string random_picture(std::mt19937_64& g, bool edit) {
  std::string pic;
  int whole = 1 + static_cast<int>(g() % 9);
  int hashes = edit ? static_cast<int>(g() % whole) : 0;
  for (int k = 0; k < whole; ++k) {
    pic += k < hashes ? '#' : '9';
    if (edit && k + 1 < whole && (whole - 1 - k) % 3 == 0 && g() % 2) pic += ',';
  }
  int places = static_cast<int>(g() % 5);
  if (places) pic += '.' + std::string(places, '9');
  if (g() % 2) pic += '-';
  return pic;
}

int64_t random_value(std::mt19937_64& g, int digits) {
  int64_t v = static_cast<int64_t>(g() % static_cast<uint64_t>(pow10(digits)));
  return g() % 3 == 0 ? -v : v;
}

TEST(NumbersModel, ArithmeticAgreesWithTheRules) {
  std::mt19937_64 g(20261209);
  const int ops[] = {nb::kAssign, nb::kAdd, nb::kSubtract, nb::kMultiply, nb::kDivide};
  for (int round = 0; round < 20000; ++round) {
    Arena a;
    std::string rpic = random_picture(g, false), opic = random_picture(g, false);
    int op = ops[g() % 5];
    int64_t r = random_value(g, 9), o = random_value(g, 9);
    if (op == nb::kDivide && o == 0) o = 7;
    int64_t want = model_compute(op, r, model_places(rpic), o, model_places(opic));
    uint8_t* target = a.number(r, rpic, g() % 2 ? 0 : -1);
    uint8_t* operand = a.number(o, opic, g() % 2 ? 1 : -1);
    nb::compute(op, Number(target), qw::Item(operand), {}, 0, 0);
    ASSERT_EQ(value(target), want) << "op " << op << ": " << r << " '" << rpic << "' with " << o
                                   << " '" << opic << "'";
  }
}

TEST(NumbersModel, EditingAgreesWithTheRules) {
  std::mt19937_64 g(42);
  for (int round = 0; round < 20000; ++round) {
    Arena a;
    std::string pic = random_picture(g, true);
    int64_t v = random_value(g, 1 + static_cast<int>(g() % 12));
    uint8_t* n = a.number(v, pic);
    std::string out(pic.size(), '?');
    nb::to_text(Number(n), {}, out.data());
    ASSERT_EQ(out, model_edit(v, pic)) << v << " through '" << pic << "'";
  }
}

TEST(NumbersModel, TextToNumberAgreesWithTheRules) {
  std::mt19937_64 g(7);
  for (int round = 0; round < 20000; ++round) {
    Arena a;
    std::string pic = random_picture(g, false);
    int places = model_places(pic);
    // Text: optional "-", up to 9 digits, optional point and up to 6 decimals.
    bool neg = g() % 3 == 0;
    int whole = static_cast<int>(g() % 10), decimals = static_cast<int>(g() % 7);
    bool point = decimals > 0 || g() % 4 == 0;
    std::string txt = neg ? "-" : "";
    // Leading zeros (up to 16) count as digits but add no value: long
    // texts take the weighted walk, short ones the quick one.
    txt += std::string(g() % 4 == 0 ? g() % 17 : 0, '0');
    int64_t digits = 0;
    for (int k = 0; k < whole; ++k) {
      int d = static_cast<int>(g() % 10);
      txt += static_cast<char>('0' + d);
      digits = digits * 10 + d;
    }
    if (point) txt += '.';
    for (int k = 0; k < decimals; ++k) {
      int d = static_cast<int>(g() % 10);
      txt += static_cast<char>('0' + d);
      digits = digits * 10 + d;
    }
    i128 want = round_drop(digits, (point ? decimals : 0) - places);
    if (neg) want = -want;
    uint8_t* n = a.number(99, pic);
    qw::store64(RETURN_CODE, 5);
    nb::from_text(Number(n), txt.data(), txt.size());
    ASSERT_EQ(value(n), static_cast<int64_t>(want)) << "'" << txt << "' into '" << pic << "'";
    ASSERT_EQ(qw::load64(RETURN_CODE), 0) << txt;
    // A blank among the characters is skipped and reported.
    std::string spaced = txt;
    spaced.insert(g() % (spaced.size() + 1), 1, ' ');
    nb::from_text(Number(n), spaced.data(), spaced.size());
    ASSERT_EQ(value(n), static_cast<int64_t>(want)) << "'" << spaced << "' into '" << pic << "'";
    ASSERT_EQ(qw::load64(RETURN_CODE), 9) << spaced;
  }
}

}  // namespace
