// Numbers against a decimal model of the language's rules, over random
// values and pictures, through every path a program reaches: the numbers
// module (assignment, the four operations, wide products, explicit
// pictures), text to number, editing, fields read back through their
// pictures, and real assembled programs whose calculations the macro
// package works out inline or hands to the module.
//
// The model knows nothing of the module's workings.  A number is a count of
// units of 10^-places; a step's exact result is rounded half up on the
// magnitude to the destination's places, and is stored when it lies within
// ±(2^63 - 1), otherwise the step ends the program with the range message.
// Values go up to 19 digits and places up to 18, so products reach 126 bits
// and ties (an exact half in the dropped digits) are made on purpose.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "arena.h"
#include "common.h"
#include "numbers.h"

namespace {

using qw::Number;
namespace nb = qw::numbers;
using qwtest::Arena;
using i128 = __int128;

constexpr i128 kMax = INT64_MAX;
const std::string kRangeLine = "\x1b[91m\nNUMBERS[error]:- result has exceeded its range" +
                               std::string(34, ' ') + "\n";

// ---- the model -------------------------------------------------------------

i128 pow10(int n) {
  i128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

i128 abs128(i128 x) { return x < 0 ? -x : x; }

// x at `from` places brought to `to` places, half up on the magnitude.
i128 rescale(i128 x, int from, int to) {
  if (to >= from) return x * pow10(to - from);
  i128 d = pow10(from - to), m = abs128(x);
  i128 q = m / d + (m % d * 2 >= d ? 1 : 0);
  return x < 0 ? -q : q;
}

// The sign position: a last picture character other than "9".
bool signed_picture(const std::string& pic) { return pic.back() != '9'; }

// Places of a picture: positions right of its ".", where "," "+" "-" are
// not positions and neither is the sign position.
int places_of(const std::string& pic) {
  size_t dot = pic.find('.');
  if (dot == std::string::npos) return 0;
  int n = 0;
  for (size_t i = dot + 1; i < pic.size() - (signed_picture(pic) ? 1 : 0); ++i)
    if (pic[i] != ',' && pic[i] != '+' && pic[i] != '-') ++n;
  return n;
}

struct Num {
  i128 v;
  int p;
};

// One step into a destination of `pd` places holding `acc`; empty when the
// result does not fit.
std::optional<int64_t> step(int op, i128 acc, int pd, Num x) {
  i128 r;
  switch (op) {
    case nb::kAssign: r = rescale(x.v, x.p, pd); break;
    case nb::kAdd:
    case nb::kSubtract: {
      int m = std::max(pd, x.p);
      i128 a = rescale(acc, pd, m), b = rescale(x.v, x.p, m);
      r = rescale(op == nb::kAdd ? a + b : a - b, m, pd);
      break;
    }
    case nb::kMultiply: r = rescale(acc * x.v, pd + x.p, pd); break;
    default: {  // acc / x exactly, at pd places
      i128 n = abs128(acc) * pow10(x.p), d = abs128(x.v);
      r = n / d + (n % d * 2 >= d ? 1 : 0);
      if ((acc < 0) != (x.v < 0)) r = -r;
    }
  }
  if (abs128(r) > kMax) return std::nullopt;
  return static_cast<int64_t>(r);
}

// Editing: digits from the right, "." and "," copied, a last character other
// than "9" is the sign; leading zeros under "#" (and the position after a
// "#") become blanks; "*" first when digits are left over or the value is
// negative without a sign position.
std::string edit_model(int64_t v, const std::string& pic) {
  size_t n = pic.size();
  std::string out(n, '?');
  i128 mag = abs128(v);
  size_t i = n;
  if (signed_picture(pic)) out[--i] = v < 0 ? '-' : '+';
  while (i-- > 0) {
    if (pic[i] == '.' || pic[i] == ',') {
      out[i] = pic[i];
    } else {
      out[i] = static_cast<char>('0' + static_cast<int>(mag % 10));
      mag /= 10;
    }
  }
  for (size_t j = 0; j + 1 < n; ++j) {
    if (out[j] > '0' || out[j] == '.') break;
    if (pic[j] == '#' || (j > 0 && pic[j - 1] == '#')) out[j] = ' ';
  }
  if (mag != 0 || (v < 0 && !signed_picture(pic))) out[0] = '*';
  return out;
}

struct TextValue {
  int64_t value;
  int rc;
};

// Text to number: the digits in order; the places are the digits after the
// last "."; any "-" makes it negative; surplus places are dropped one digit
// at a time, each rounding half up.  A text is well formed when it holds
// at least one digit and commas, at most one ".", and one "-" as its first
// or last character; anything else is RETURN_CODE 9.  A value beyond 64 bits is
// RETURN_CODE 99 and 0.
TextValue text_model(const std::string& t, int places) {
  i128 v = 0;
  int after_point = -1;
  bool negative = false, bad = t.find_first_of("0123456789") == std::string::npos;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      v = v * 10 + (c - '0');
      if (after_point >= 0) ++after_point;
    } else if (c == '.') {
      if (after_point >= 0) bad = true;
      after_point = 0;
    } else if (c == '-') {
      if (negative || (i != 0 && i + 1 != t.size())) bad = true;
      negative = true;
    } else if (c != ',') {
      bad = true;
    }
  }
  int decimals = after_point < 0 ? 0 : after_point;
  for (; decimals > places; --decimals) v = v / 10 + (v % 10 >= 5 ? 1 : 0);
  for (; decimals < places && v <= kMax; ++decimals) v *= 10;
  if (v > kMax) return {0, nb::kTextOverflow};
  return {static_cast<int64_t>(negative ? -v : v), bad ? 9 : 0};
}

// A picture shows a value exactly when its edited text has no "*" and reads
// back as the same value.
bool shows_model(int64_t v, const std::string& pic) {
  std::string text = edit_model(v, pic);
  return text.find('*') == std::string::npos && text_model(text, places_of(pic)).value == v;
}

// A field (of a record, a table entry, a line) read through its own
// picture: its value as text to number gives it; RETURN_CODE 0 when the
// text is exactly what editing that value gives, 9 for any other text.
TextValue field_model(const std::string& text, const std::string& pic) {
  TextValue t = text_model(text, places_of(pic));
  if (t.rc != nb::kTextOverflow) t.rc = edit_model(t.value, pic) == text ? 0 : 9;
  return t;
}

// ---- random values and pictures -------------------------------------------------

struct Gen {
  std::mt19937_64 g;
  explicit Gen(uint64_t seed) : g(seed) {}
  uint64_t below(uint64_t n) { return g() % n; }
  bool one_in(uint64_t n) { return below(n) == 0; }

  int places() { return one_in(3) ? static_cast<int>(below(19)) : static_cast<int>(below(5)); }

  // `whole` integer positions ("#" runs and "," among them), `pl` places
  // (written "9" or "#"), mostly a sign position: "-", "+" or another "#".
  // At most 19 digit positions.
  std::string picture(int pl, int whole = -1) {
    if (whole < 0) whole = static_cast<int>(below(20 - pl));
    if (whole + pl == 0) whole = 1;
    int hashes = static_cast<int>(below(whole + 1));
    std::string pic;
    for (int k = 0; k < whole; ++k) {
      pic += k < hashes ? '#' : '9';
      if (k + 1 < whole && (whole - 1 - k) % 3 == 0 && one_in(3)) pic += ',';
    }
    if (pl) pic += '.' + std::string(pl, one_in(4) ? '#' : '9');
    // A "#" place last would be the sign position and no place.
    if ((pl && pic.back() == '#') || !one_in(3)) pic += "-+#-"[below(4)];
    return pic;
  }

  // A value of 1 to 19 digits, negative one time in three.
  int64_t value(int max_digits = 19) {
    int d = 1 + static_cast<int>(below(max_digits));
    uint64_t m = g() % static_cast<uint64_t>(pow10(std::min(d, 19)));
    if (m > static_cast<uint64_t>(INT64_MAX)) m -= static_cast<uint64_t>(INT64_MAX);
    int64_t v = static_cast<int64_t>(m);
    return one_in(3) ? -v : v;
  }

  // The same value with its last k digits replaced by an exact half.
  int64_t halved(int64_t v, int k) {
    if (k <= 0 || k > 18) return v;
    i128 m = abs128(v) / pow10(k) * pow10(k) + 5 * pow10(k - 1);
    if (m > kMax) return v;
    return static_cast<int64_t>(v < 0 ? -m : m);
  }
};

// ---- the numbers module ---------------------------------------------------------

// A step the model expects to fit must not end the program; if it does, the
// fatal exit names the case before its message.
std::string g_case;
void name_the_case() { fprintf(stderr, "unexpected fatal exit in: %s\n", g_case.c_str()); }

TEST(NumbersModel, ModuleArithmeticAgreesWithTheRules) {
  Gen gen(20261209);
  const int ops[] = {nb::kAssign, nb::kAdd, nb::kSubtract, nb::kMultiply, nb::kDivide};
  int checked = 0, refused = 0, wide_products = 0;
  for (int round = 0; round < 20000; ++round) {
    Arena a;
    int op = ops[gen.below(5)];
    // Products beyond 64 bits fit again when the multiplier has many places.
    auto operand_places = [&] {
      return op == nb::kMultiply && gen.one_in(2) ? 10 + static_cast<int>(gen.below(9))
                                                  : gen.places();
    };
    int rp = gen.places(), own = operand_places();
    std::string rpic = gen.picture(rp), opic = gen.picture(own);
    // The operand is read through another picture one time in four.
    bool explicit_pic = gen.one_in(4);
    int xp = explicit_pic ? operand_places() : own;
    std::string xpic = explicit_pic ? gen.picture(xp) : "";
    int64_t r = gen.value(), o = gen.value();
    if (gen.one_in(6)) {  // an exact half in the digits the step drops
      if (op == nb::kMultiply || op == nb::kDivide) {
        o = op == nb::kMultiply ? gen.halved(0, xp) : 2 * static_cast<int64_t>(pow10(xp));
        r |= 1;  // an odd value times 0.5, or divided by 2
      } else {
        o = gen.halved(o, xp - rp);
      }
    }
    if (op == nb::kDivide && o == 0) o = 3;
    std::optional<int64_t> want = step(op, r, rp, {o, xp});
    // Scales as declared (worked out), as generated (-1) or as in a work
    // item (1); the register entry takes its fast path on some of them.
    auto scale = [&](int p) { return gen.one_in(3) ? -1 : gen.one_in(2) ? 1 : int64_t(pow10(p)); };
    const int64_t rscale = scale(rp), oscale = scale(own);
    uint8_t* target = a.number(r, rpic, rscale);
    uint8_t* operand = a.number(o, opic, oscale);
    const char* pic = explicit_pic ? xpic.c_str() : nullptr;
    auto run = [&] { qwtest::numbers_entry(op, target, operand, pic); };
    std::string what = "op " + std::to_string(op) + ": " + std::to_string(r) + " '" + rpic +
                       "' (scale " + std::to_string(rscale) + ") with " + std::to_string(o) +
                       " '" + (explicit_pic ? xpic : opic) + "' (scale " + std::to_string(oscale) +
                       ")";
    if (op == nb::kMultiply && abs128(static_cast<i128>(r) * o) > kMax) ++wide_products;
    if (!want) {
      if (++refused <= 400) {
        ASSERT_EQ(qwtest::fatal_output(run), kRangeLine) << what;
      }
      continue;
    }
    g_case = what;
    qw::set_fatal_cleanup(name_the_case);
    run();
    // The module's own calculation on twins of the two numbers leaves the
    // same value and the same cached scales as the register entry.
    uint8_t* twin_target = a.number(r, rpic, rscale);
    uint8_t* twin_operand = a.number(o, opic, oscale);
    nb::Picture twin_pic;
    if (pic) twin_pic = {xpic.data(), xpic.size()};
    nb::compute(op, Number(twin_target), qw::Item(twin_operand), twin_pic, 0, 0);
    qw::set_fatal_cleanup(nullptr);
    ASSERT_EQ(Number(target).value(), *want) << what;
    ASSERT_EQ(Number(twin_target).value(), *want) << what;
    ASSERT_EQ(Number(target).scale(), Number(twin_target).scale()) << what;
    ASSERT_EQ(Number(operand).scale(), Number(twin_operand).scale()) << what;
    // Reading through another picture leaves the operand's own scale alone.
    if (explicit_pic) {
      ASSERT_EQ(Number(operand).scale(), oscale) << what;
    }
    ++checked;
  }
  EXPECT_GT(refused, 1000);
  EXPECT_GT(wide_products, 1000);
  EXPECT_GT(checked, 15000);
}

// Pictures of any shape - several ".", "," "+" "-" anywhere, up to 19
// characters, an explicit one starting near a page's start - are read the
// same by the register entry's quick scans as by the module.
TEST(NumbersModel, EntryReadsPicturesOfAnyShapeLikeTheModule) {
  Gen gen(42);
  static char page[3 * 4096] __attribute__((aligned(4096)));
  auto odd_picture = [&](size_t len, size_t max_places) {
    std::string pic;
    for (size_t i = 0; i < len; ++i) pic += "99999#.,+-"[gen.below(10)];
    for (size_t i = 0; i + max_places < len; ++i)  // results stay in range
      if (pic[i] == '.') pic[i] = '9';
    return pic;
  };
  const int ops[] = {nb::kAssign, nb::kAdd, nb::kSubtract, nb::kMultiply};
  for (int round = 0; round < 100000; ++round) {
    Arena a;
    int rp = static_cast<int>(gen.below(13)), op = ops[gen.below(4)];
    std::string rpic = rp ? "9." + std::string(rp, '9') : "9";
    std::string own = odd_picture(1 + gen.below(18), 13);
    std::string xpic = odd_picture(1 + gen.below(19), 19);
    char* x = page + 4096 + (gen.one_in(3) ? gen.below(20) : 20 + gen.below(4000));
    std::memcpy(x, xpic.c_str(), xpic.size() + 1);
    const bool explicit_pic = gen.one_in(2);
    const int64_t r = static_cast<int64_t>(gen.below(100000)), o = gen.value(3);
    const int64_t rscale = gen.one_in(4) ? 1 : int64_t(pow10(rp));
    uint8_t *target = a.number(r, rpic, rscale), *operand = a.number(o, own);
    uint8_t *twin_target = a.number(r, rpic, rscale), *twin_operand = a.number(o, own);
    std::string what = std::to_string(op) + " '" + (explicit_pic ? xpic : own) + "'";
    if (explicit_pic && places_of(xpic) > 18) continue;  // the range message
    qwtest::numbers_entry(op, target, operand, explicit_pic ? x : nullptr);
    nb::compute(op, Number(twin_target), qw::Item(twin_operand),
                explicit_pic ? nb::Picture{x, xpic.size()} : nb::Picture{}, 0, 0);
    ASSERT_EQ(Number(target).value(), Number(twin_target).value()) << what;
    ASSERT_EQ(Number(operand).scale(), Number(twin_operand).scale()) << what;
  }
}

TEST(NumbersModel, TextToNumberAgreesWithTheRules) {
  Gen gen(7);
  const char kNoise[] = {'+', ' ', 'x', '-', '.', ','};
  for (int round = 0; round < 20000; ++round) {
    int pl = gen.places();
    std::string txt;
    if (gen.one_in(3)) txt += '-';
    int whole = static_cast<int>(gen.below(gen.one_in(4) ? 25 : 12));
    int decimals = static_cast<int>(gen.below(gen.one_in(4) ? 12 : 6));
    for (int k = 0; k < whole; ++k) {
      txt += static_cast<char>('0' + gen.below(10));
      if (k + 1 < whole && (whole - 1 - k) % 3 == 0 && gen.one_in(8)) txt += ',';
    }
    if (decimals || gen.one_in(4)) txt += '.';
    for (int k = 0; k < decimals; ++k) txt += gen.one_in(3) ? '5' : static_cast<char>('0' + gen.below(10));
    if (txt[0] != '-' && gen.one_in(6)) txt += '-';
    if (gen.one_in(5)) txt.insert(gen.below(txt.size() + 1), 1, kNoise[gen.below(sizeof kNoise)]);
    Arena a;
    uint8_t* n = a.number(99, gen.picture(pl));
    qw::store64(RETURN_CODE, 5);
    nb::from_text(Number(n), txt.data(), txt.size());
    TextValue want = text_model(txt, pl);
    ASSERT_EQ(Number(n).value(), want.value) << "'" << txt << "' into " << pl << " places";
    ASSERT_EQ(qw::load64(RETURN_CODE), want.rc) << "'" << txt << "' into " << pl << " places";
  }
}

TEST(NumbersModel, EditingAgreesWithTheRules) {
  Gen gen(42);
  for (int round = 0; round < 20000; ++round) {
    std::string pic = gen.picture(static_cast<int>(gen.below(6)), static_cast<int>(gen.below(19)));
    int64_t v = gen.value(18);
    Arena a;
    uint8_t* n = a.number(v, pic);
    std::string want = edit_model(v, pic);
    std::string out(pic.size(), '?');
    nb::to_text(Number(n), {}, out.data());
    ASSERT_EQ(out, want) << v << " through '" << pic << "'";
    ASSERT_EQ(nb::picture_shows(Number(n), {}), shows_model(v, pic)) << v << " '" << pic << "'";
    // Into a word that ends before the picture does: the cut text is marked.
    uint64_t len = 1 + gen.below(pic.size() + 2), start = 1 + gen.below(3);
    uint8_t* w = a.word(std::string(len, '~'));
    nb::to_word(Number(n), {}, qw::Word(w), start, false);
    std::string expect(len, '~');
    if (start <= len) {
      std::string shown = want.substr(0, len - start + 1);
      if (shown.size() < want.size()) shown[0] = '*';
      expect.replace(start - 1, shown.size(), shown);
    }
    ASSERT_EQ(qwtest::text(w), expect) << v << " '" << pic << "' into " << len << " at " << start;
  }
}

// Fields read back through their own pictures: the edited text of a value
// and that text changed - one character replaced, the sign turned, the
// last character lost.  Most pictures are the plain ones (nines, a ".", a
// sign position) whose digits from_field takes the quick way; it must give
// the value, the cached scale and the code that the general read gives,
// and both what the model gives.
TEST(NumbersModel, FieldReadsAgreeWithTheRulesTheQuickWayToo) {
  Gen gen(2812);
  for (int round = 0; round < 20000; ++round) {
    const int pl = static_cast<int>(gen.below(gen.one_in(4) ? 19 : 5));
    std::string pic;
    if (gen.one_in(3)) {
      pic = gen.picture(pl);
    } else {
      const int whole = static_cast<int>(gen.below(20 - pl));
      pic = std::string(whole, '9');
      if (pl || whole == 0) pic += '.' + std::string(pl, '9');
      if (gen.one_in(2)) pic += "-+#."[gen.below(4)];
    }
    const int64_t v = gen.value(gen.one_in(2) ? 19 : 8);
    const std::string edited = edit_model(v, pic);
    std::string changed = edited, turned = edited;
    changed[gen.below(changed.size())] = "0123456789 +-.,*x"[gen.below(17)];
    char& sign = turned.back();
    sign = sign == '-' ? '+' : sign == '+' ? '-' : sign;
    const int64_t scales[] = {-1, 0, 1, 7, static_cast<int64_t>(pow10(places_of(pic)))};
    for (const std::string& field : {edited, changed, turned, edited.substr(0, edited.size() - 1)}) {
      const int64_t scale = scales[gen.below(5)];
      Arena a;
      uint8_t* quick = a.number(99, pic, scale);
      uint8_t* general = a.number(99, pic, scale);
      const int rc = nb::from_field(Number(quick), field.data(), field.size());
      const std::string what = "'" + field + "' through '" + pic + "'";
      ASSERT_EQ(rc, nb::from_any_field(Number(general), field.data(), field.size())) << what;
      ASSERT_EQ(Number(quick).value(), Number(general).value()) << what;
      ASSERT_EQ(Number(quick).scale(), Number(general).scale()) << what;
      if (field.size() == pic.size()) {
        const TextValue model = field_model(field, pic);
        ASSERT_EQ(rc, model.rc) << what;
        ASSERT_EQ(Number(quick).value(), model.value) << what;
      }
    }
  }
}

// ---- programs -----------------------------------------------------------------------

// What a command printed on standard output, and its exit status.
struct Ran {
  std::string out;
  int status;
};

Ran run(const std::string& cmd) {
  Ran r{"", -1};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// The build driver sits next to this test program.
std::string quill() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? n : 0);
  return path.substr(0, path.rfind('/') + 1) + "quill";
}

// A number written as a literal of the language: -12.345 for -12345 at 3.
std::string literal(int64_t v, int p) {
  std::string s = std::to_string(static_cast<uint64_t>(abs128(v)));
  if (p > 0) {
    if (static_cast<int>(s.size()) <= p) s.insert(0, p + 1 - s.size(), '0');
    s.insert(s.size() - p, ".");
  }
  return v < 0 ? "-" + s : s;
}

// A program of random calculations and conversions, and the output the
// model expects of it.
struct Program {
  std::string dictionary, statements, expected;
  void declare(const std::string& line) { dictionary += "    " + line + "\n"; }
  void add(const std::string& statement, const std::string& display, const std::string& output) {
    statements += "    " + statement + "\n    " + display + "\n";
    expected += output;
  }
  // The source line the next statement will stand on.
  int next_line() const {
    auto lines = [](const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); };
    return 4 + lines(dictionary) + lines(statements);
  }
  std::string source() const {
    return "%include \"include/BEGIN.DICTIONARY\"\n" + dictionary +
           "%include \"include/BEGIN.MATRIX\"\n%include \"include/BEGIN.INSTRUCTIONS\"\n" +
           statements + "%include \"include/END.PROGRAM\"\n";
  }
};

// Builds and runs `source` as NAME.QWR (or, with `assemble`, as NAME.ASM
// without translation) in a scratch directory.
Ran build_and_run(const std::string& name, const std::string& source, bool assemble = false) {
  std::string dir = qwtest::make_temp_dir("/tmp/qwnumXXXXXX");
  qwtest::spit(dir + "/" + name + (assemble ? ".ASM" : ".QWR"), source);
  Ran built = run("cd " + dir + " && " + quill() + (assemble ? " assemble " : " build ") + name +
                  " 2>&1");
  Ran r = built.status == 0 ? run("cd " + dir + " && ./" + name) : built;
  if (built.status != 0) r.out = "build failed: " + built.out;
  qwtest::remove_tree(dir);
  return r;
}

// Operands the statements take: declared numbers of random places and
// pictures, whole and decimal literals.
struct Operand {
  std::string text;     // as written in a statement
  std::string picture;  // a declared number's own picture
  Num n;
};

// One random calculation into a destination of `pd` places: plain operands
// (worked out inline) or, with `module`, names read through their own
// picture (worked out by the numbers module).  Left to right, each step
// rounded to the destination; empty when a step does not fit.
std::optional<int64_t> calculation(Gen& gen, const std::vector<Operand>& names, int pd,
                                   bool module, std::string& line) {
  auto operand = [&]() -> Operand {
    if (!gen.one_in(4)) return names[gen.below(names.size())];
    int p = gen.one_in(2) ? 0 : 1 + static_cast<int>(gen.below(6));
    int64_t v = std::abs(gen.value(12));
    // A literal that does not fit 64 bits at the destination's places is
    // refused while assembling.
    while (v * pow10(std::max(pd - p, 0)) > kMax) v /= 10;
    return {literal(v, p), "", {v, p}};
  };
  auto write = [&](const Operand& x) {
    line += " " + (module && !x.picture.empty() ? "{" + x.text + ",'" + x.picture + "'}" : x.text);
  };
  const int code[] = {nb::kAdd, nb::kSubtract, nb::kMultiply, nb::kDivide};
  Operand first = operand();
  write(first);
  std::optional<int64_t> acc = step(nb::kAssign, 0, pd, first.n);
  for (int s = static_cast<int>(gen.below(3)); s > 0 && acc; --s) {
    int k = static_cast<int>(gen.below(4));
    Operand x = operand();
    if (k == 3 && x.n.v == 0) x = {"7", "", {7, 0}};
    line += std::string(" ") + "+-*/"[k];
    write(x);
    acc = step(code[k], *acc, pd, x.n);
  }
  return acc;
}

TEST(NumbersModel, ProgramsAgreeWithTheRules) {
  Gen gen(1953);
  Program prog;
  std::vector<Operand> names;
  for (int k = 0; k < 40; ++k) {
    int p = gen.places();
    std::string pic = gen.picture(p), name = "n_V" + std::to_string(k);
    int64_t v = gen.value(k < 10 ? 19 : 10);
    prog.declare("@INSERTNUMBER " + name + ", " + literal(v, p) + ", '" + pic + "'");
    names.push_back({name, pic, {v, p}});
  }
  // Destinations of every number of places, wide enough to show any value.
  std::vector<std::string> wide;
  for (int p = 0; p <= 18; ++p) {
    wide.push_back(gen.picture(p, 19 - p));
    // (The translator counts a "#" sign position among the 19 digits.)
    if (wide.back().back() == '#') wide.back().back() = '-';
    prog.declare("@INSERTNUMBER n_D" + std::to_string(p) + ", 0, '" + wide[p] + "'");
  }
  for (int done = 0; done < 450;) {
    int pd = gen.places();
    std::string dst = "n_D" + std::to_string(pd), line = dst + " =";
    std::optional<int64_t> v = calculation(gen, names, pd, gen.one_in(3), line);
    if (!v) continue;  // a true overflow would end the program
    prog.add(line, "@DISPLAY " + dst + ", LF", edit_model(*v, wide[pd]) + "\n");
    ++done;
  }
  // Text into numbers, with RETURN_CODE.
  for (int k = 0; k < 60; ++k) {
    int pd = gen.places();
    std::string txt = literal(gen.value(), static_cast<int>(gen.below(8)));
    if (gen.one_in(3)) txt.insert(gen.below(txt.size() + 1), 1, "+-.,9"[gen.below(5)]);
    if (gen.one_in(6)) txt += "1234567890123456789";
    std::string w = "w_T" + std::to_string(k), dst = "n_D" + std::to_string(pd);
    prog.declare("@INSERTWORD " + w + ", " + std::to_string(txt.size()) + ", '" + txt + "'");
    TextValue want = text_model(txt, pd);
    prog.add(dst + " = " + w, "@DISPLAY " + dst + ", ' ', RETURN_CODE, LF",
             edit_model(want.value, wide[pd]) + " " + edit_model(want.rc, "9999-") + "\n");
  }
  // Numbers edited into words that may be shorter than their pictures.
  for (int k = 0; k < 40; ++k) {
    const Operand& x = names[gen.below(names.size())];
    size_t len = 1 + gen.below(x.picture.size() + 1);
    std::string w = "w_E" + std::to_string(k), shown = edit_model(x.n.v, x.picture);
    prog.declare("@INSERTWORD " + w + ", " + std::to_string(len));
    if (len < shown.size()) shown = "*" + shown.substr(1, len - 1);
    shown.resize(len, ' ');  // the rest of the word is blanked
    prog.add(w + " = " + x.text, "@DISPLAY '[', " + w + ", ']', LF", "[" + shown + "]\n");
  }
  // Last, a calculation that does not fit ends the program.
  for (std::string line;; line.clear()) {
    int pd = gen.places();
    line = "n_D" + std::to_string(pd) + " =";
    if (!calculation(gen, names, pd, gen.one_in(2), line)) {
      // the program names the line of the statement
      const std::string at = "calcs.QWR:" + std::to_string(prog.next_line()) + ": ";
      prog.add(line, "", std::string(kRangeLine).insert(6, at));
      break;
    }
  }
  Ran r = build_and_run("calcs", prog.source());
  EXPECT_EQ(r.status, 1);
  if (r.out != prog.expected) {
    qwtest::spit("/tmp/numbers_model_calcs.QWR", prog.source());
    ADD_FAILURE() << "the program is kept in /tmp/numbers_model_calcs.QWR";
  }
  EXPECT_EQ(r.out, prog.expected);
}

// Literals that do not fit 64 bits, as written or at the places they are
// used with, are refused while assembling, each at its own line.  (The
// program is written as the translator would write it, so the macro
// package's own check is what is tried.)
TEST(NumbersModel, LiteralsBeyond64BitsAreRefused) {
  Ran r = build_and_run("lits", R"(%include "include/BEGIN.DICTIONARY"
    @INSERTNUMBER n_Init, 9999999999999999999, '9999999999999999999-'
    @INSERTNUMBER n_Big, 0, '9999999999999999999-'
    @INSERTNUMBER n_Money, 100, '9999999999999999.99-'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
    @INTEGERS_CALC n_Big,=,n_Big,+,9223372036854775808
    @NUMBERS_CALC n_Money,=,n_Money,-,184467440737095516
    @INTEGERS_CALC n_Big,=,12345678901234567890123
    @INTEGERS_CALC n_Big,=,9223372036854775807,-,-0000000000000000000001
    @NUMBERS_CALC n_Money,=,{n_Big,'999'},*,-9223372036854775808
%include "include/END.PROGRAM"
)", true);
  for (const char* want : {
           "lits.ASM:2: error: the literal 9999999999999999999 does not fit a 64-bit number",
           "lits.ASM:7: error: the literal 9223372036854775808 does not fit a 64-bit number",
           "lits.ASM:8: error: the literal 184467440737095516 does not fit a 64-bit number at 2 "
           "decimal places",
           "lits.ASM:9: error: the literal 12345678901234567890123 does not fit a 64-bit number",
           "lits.ASM:11: error: the literal -9223372036854775808 does not fit a 64-bit number"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\nin:\n" << r.out;
  EXPECT_EQ(r.out.find("lits.ASM:10:"), std::string::npos) << r.out;
}

}  // namespace
