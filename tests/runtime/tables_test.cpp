// Fixed tables and integer arrays: binding, element access through the
// index slots, sorting and binary search.
#include <sys/syscall.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "arena.h"
#include "arrays.h"
#include "item.h"
#include "tables.h"

namespace {

using qw::FixedTable;
using qw::Item;
using qw::Number;
using qw::Record;
namespace tb = qw::tables;

// Tables of up to a few thousand entries need more room than the default.
using Arena = qwtest::BasicArena<1 << 16>;
using qwtest::set_text;
using qwtest::text;

// Entry record: key (4 characters), amount (picture 9999), note (3): 11.
struct Entry {
  Arena a;
  uint8_t *rec, *key, *amount, *note, *table;
  Entry(std::vector<int64_t> dims, uint64_t count) {
    rec = a.begin_record();
    key = a.word("", 4);
    amount = a.number(0, "9999");
    note = a.word("", 3);
    a.end_record(rec);
    table = a.table(dims, count * 11);
    tb::bind(FixedTable(table), Record(rec));
  }
  FixedTable t() const { return FixedTable(table); }
  int64_t status() const { return t().status().value(); }
  void at(std::vector<int64_t> idx) {
    for (size_t k = 0; k < idx.size(); ++k) t().set_index(static_cast<int>(k + 1), idx[k]);
    t().set_index(static_cast<int>(idx.size() + 1), 0);
  }
  void store(std::vector<int64_t> idx, const std::string& k, int64_t amt, const std::string& n) {
    set_text(key, k);
    Number(amount).set_value(amt);
    set_text(note, n);
    at(idx);
    tb::record_to_entry(t(), Record(rec));
  }
  void fetch(std::vector<int64_t> idx) {
    at(idx);
    tb::entry_to_record(t(), Record(rec));
  }
  std::string raw(uint64_t entry) const {
    return std::string(reinterpret_cast<char*>(table) + entry * 11, 11);
  }
};

TEST(FixedTable, BindSetsHeaderStatusAndStrides) {
  Entry e({3, 4, 1}, 12);
  EXPECT_EQ(Item(e.table).type(), 't');
  EXPECT_EQ(e.t().total_bytes(), 132u);
  EXPECT_EQ(e.t().entry_record().label(), e.rec);
  EXPECT_EQ(e.t().dimension(0), 4);
  EXPECT_EQ(e.t().dimension(1), 1);
  EXPECT_EQ(e.t().dimension(2), 1);
  EXPECT_EQ(tb::dimensions(e.t()), 2);
  EXPECT_EQ(std::string(e.t().status().picture(), 2), "99");
}

TEST(FixedTable, BoundsAndUnwrittenEntries) {
  Entry e({5, 1}, 5);
  e.store({3}, "C", 30, "ccc");
  EXPECT_EQ(e.status(), 0);
  EXPECT_EQ(e.raw(2), "C   0030ccc");
  // Out of bounds and unwritten entries leave the record as it was.
  for (int64_t idx : {0, 6, -1}) {
    set_text(e.key, "KEEP");
    e.fetch({idx});
    EXPECT_EQ(e.status(), 23) << idx;
    EXPECT_EQ(text(e.key), "KEEP");
  }
  e.fetch({2});
  EXPECT_EQ(e.status(), 23) << "never written";
  EXPECT_EQ(text(e.key), "KEEP");
  // An entry beginning with a zero byte would read as never written: a
  // record or a first field that makes one is refused (37).
  e.store({2}, std::string("\0Z", 2), 1, "z");
  EXPECT_EQ(e.status(), 37);
  e.at({3});
  tb::put(e.t(), 1, Item(e.key), 1, 0);
  EXPECT_EQ(e.status(), 37);
  EXPECT_EQ(e.raw(1), std::string(11, '\0'));
  EXPECT_EQ(e.raw(2), "C   0030ccc");
  e.fetch({3});
  EXPECT_EQ(e.status(), 0);
  EXPECT_EQ(text(e.key), "C   ");
  EXPECT_EQ(Number(e.amount).value(), 30);
  // The operation leaves each index one lower.
  EXPECT_EQ(e.t().index(1), 2);
}

TEST(FixedTable, MultiDimensionalStridesAndPerDimensionBounds) {
  Entry e({3, 4, 1}, 12);
  e.store({2, 3}, "R2C3", 23, "x");
  EXPECT_EQ(e.raw((2 - 1) * 4 + (3 - 1)), "R2C30023x  ");
  // Column 5 of row 1 would still lie inside the table (entry 5), but it is
  // beyond the second dimension.
  e.store({1, 5}, "BAD", 1, "b");
  EXPECT_EQ(e.status(), 23);
  EXPECT_EQ(e.raw(4)[0], '\0');
  e.store({4, 1}, "BAD", 1, "b");
  EXPECT_EQ(e.status(), 23);
  e.store({3, 4}, "LAST", 34, "z");
  EXPECT_EQ(e.raw(11), "LAST0034z  ");

  // A dimension of 1 before the last one is a dimension like the others.
  Entry m({2, 1, 3, 1}, 6);
  EXPECT_EQ(tb::dimensions(m.t()), 3);
  m.store({2, 1, 3}, "END", 6, "e");
  EXPECT_EQ(m.status(), 0);
  EXPECT_EQ(m.raw(5), "END 0006e  ");
  m.store({1, 2, 1}, "BAD", 1, "b");
  EXPECT_EQ(m.status(), 23);
}

TEST(FixedTable, FieldPutAndGet) {
  Entry e({4, 1}, 4);
  Arena a;
  uint8_t* w = a.word("TOOLONGWORD");
  uint8_t* n = a.number(77, "9999");
  uint8_t* out = a.word("", 6);
  uint8_t* num = a.number(0, "9999");
  e.store({2}, "KEY", 5, "abc");
  e.at({2});
  tb::put(e.t(), 1, Item(w), 1, 11);
  EXPECT_EQ(e.raw(1), "TOOL0005abc") << "a long word is cut at its field";
  e.at({2});
  tb::put(e.t(), 2, Item(n), 0, 0);
  EXPECT_EQ(e.raw(1), "TOOL0077abc");
  e.at({2});
  tb::get(e.t(), 3, Item(out));
  EXPECT_EQ(text(out), "abc   ") << "a longer word is padded, not filled from other fields";
  e.at({2});
  tb::get(e.t(), 2, Item(num));
  EXPECT_EQ(Number(num).value(), 77);
  e.at({2});
  tb::get(e.t(), 4, Item(out));
  EXPECT_EQ(e.status(), 23) << "no fourth field";
  // A number field takes the value, through its own picture (rounded to
  // its places), and only a value that picture shows; a word field takes
  // the edited text, cut and marked.
  for (auto [v, pic] : {std::pair<int64_t, const char*>{-5, "9999"}, {12345, "99999"}}) {
    e.at({2});
    tb::put(e.t(), 2, Item(a.number(v, pic)), 0, 0);
    EXPECT_EQ(e.status(), 36) << v << " '" << pic << "'";
  }
  e.at({2});
  tb::put(e.t(), 2, Item(a.number(5, "9")), 0, 0);
  EXPECT_EQ(e.raw(1), "TOOL0005abc") << "a shorter picture leaves no old digits";
  e.at({2});
  tb::put(e.t(), 2, Item(a.number(1251, "99.99")), 0, 0);
  EXPECT_EQ(e.raw(1), "TOOL0013abc") << "12.51 rounded to the field's places";
  e.at({2});
  tb::put(e.t(), 3, Item(a.number(12345, "99999")), 0, 0);
  EXPECT_EQ(e.raw(1), "TOOL0013*23") << "nothing changed but the word field";
  // An entry never written gets blanks and zeros around the field, unless
  // the put is refused.
  e.at({3});
  tb::put(e.t(), 2, Item(a.number(13, "99")), 0, 0);
  EXPECT_EQ(e.raw(2), "    0013   ");
  e.at({4});
  tb::put(e.t(), 2, Item(a.number(-5, "9-")), 0, 0);
  EXPECT_EQ(e.raw(3), std::string(11, '\0'));
  e.at({4});
  tb::get(e.t(), 2, Item(num));
  EXPECT_EQ(e.status(), 23) << "still never written";
}

std::vector<std::string> keys_of(const Entry& e, uint64_t n) {
  std::vector<std::string> k;
  for (uint64_t i = 0; i < n; ++i) k.push_back(e.raw(i).substr(0, 4));
  return k;
}

TEST(FixedTable, SortAndFindWithDuplicates) {
  const std::vector<std::string> keys = {"DDDD", "BBBB", "CCCC", "CCCC", "AAAA",
                                         "CCCC", "EEEE", "\xe9" "AAA", "aaaa"};
  Entry e({static_cast<int64_t>(keys.size()), 1}, keys.size());
  for (size_t i = 0; i < keys.size(); ++i)
    e.store({static_cast<int64_t>(i + 1)}, keys[i], static_cast<int64_t>(i), "");
  tb::sort(e.t(), 1, 4);
  EXPECT_EQ(e.status(), 0);
  std::vector<std::string> want = keys;
  std::sort(want.begin(), want.end(), [](const std::string& x, const std::string& y) {
    return std::memcmp(x.data(), y.data(), 4) < 0;  // unsigned bytes
  });
  EXPECT_EQ(keys_of(e, keys.size()), want);

  Arena a;
  uint8_t* pos = a.number(0, "999");
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("CCCC"), 0, Number(pos));
  EXPECT_EQ(Number(pos).value(), 3) << "the first of entries 3, 4 and 5";
  EXPECT_TRUE(e.status() == 22 || e.status() == 0);
  EXPECT_EQ(text(e.key), "CCCC") << "the entry is distributed into the record";
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("\xe9" "AAA"), 0, Number(pos));
  EXPECT_EQ(e.status(), 0);
  EXPECT_EQ(Number(pos).value(), 9) << "bytes above 127 order last";
  Number(pos).set_value(555);
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("CCCX"), 0, Number(pos));
  EXPECT_EQ(e.status(), 23);
  EXPECT_EQ(Number(pos).value(), 555);
  // A key of part of the field: "CC" over positions 1 to 2.
  tb::find(e.t(), 1, 2, reinterpret_cast<const uint8_t*>("EE"), 0, Number(pos));
  EXPECT_EQ(Number(pos).value(), 7);
}

TEST(FixedTable, DuplicateStatusDependsOnTheFirstProbe) {
  // Seven entries A B C C C D E: the first probe (4) hits a duplicate and
  // steps back to 3 with status 22.
  Entry e({7, 1}, 7);
  const char* keys[] = {"A", "B", "C", "C", "C", "D", "E"};
  for (int i = 0; i < 7; ++i) e.store({i + 1}, keys[i], i, "");
  Arena a;
  uint8_t* pos = a.number(0, "99");
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("C   "), 0, Number(pos));
  EXPECT_EQ(Number(pos).value(), 3);
  EXPECT_EQ(e.status(), 22);
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("E   "), 0, Number(pos));
  EXPECT_EQ(Number(pos).value(), 7);
  EXPECT_EQ(e.status(), 0);
  // A key text shorter than the key compares as if blank-padded (and is
  // never read past); a longer one only with blanks beyond the key.
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("D"), 1, Number(pos));
  EXPECT_EQ(Number(pos).value(), 6);
  EXPECT_EQ(e.status(), 0);
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("B     "), 6, Number(pos));
  EXPECT_EQ(Number(pos).value(), 2);
  tb::find(e.t(), 1, 4, reinterpret_cast<const uint8_t*>("B    x"), 6, Number(pos));
  EXPECT_EQ(e.status(), 23);
}

TEST(FixedTable, LargeRandomSortMatchesReference) {
  constexpr int kN = 3000;
  Entry e({kN, 1}, kN);
  std::mt19937 rng(7);
  std::vector<std::string> keys;
  for (int i = 0; i < kN; ++i) {
    std::string k(4, ' ');
    for (auto& c : k) c = static_cast<char>('A' + rng() % 6);
    keys.push_back(k);
    e.store({i + 1}, k, i, "");
  }
  tb::sort(e.t(), 1, 4);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys_of(e, kN), keys);
  // Keys over the amount field (positions 5 to 8) sort numerically.
  tb::sort(e.t(), 5, 4);
  for (int i = 1; i < kN; ++i) ASSERT_LE(e.raw(i - 1).substr(4, 4), e.raw(i).substr(4, 4));
}

// A sort leaves a search index behind; finds through it must answer
// exactly as the plain binary search does (position and status 0/22),
// for whole keys, shorter keys, keys sharing their first 8 bytes, keys
// spread evenly over a few letters (whose entries the index guesses, the
// table being over a megabyte), and absent keys.
TEST(FixedTable, FindsAfterASortMatchThePlainSearch) {
  constexpr int kN = 70000;
  Arena a;
  uint8_t* rec = a.begin_record();
  uint8_t* key = a.word("", 12);
  uint8_t* num = a.number(0, "9999");
  a.end_record(rec);
  static uint8_t storage[17 + 64 + 27 + kN * 16 + 128];
  std::memset(storage, 0, sizeof storage);
  uint8_t* table = storage + 27 + 64 + 17;
  qw::store64(table - 81, kN);
  qw::store64(table - 73, 1);
  tb::bind(FixedTable(table), Record(rec));
  FixedTable t(table);
  std::mt19937 rng(3);
  std::vector<std::string> keys;
  for (int i = 0; i < kN; ++i) {
    std::string k = "PREFIX00" + std::string(1, static_cast<char>('A' + rng() % 3)) +
                    std::string(1, static_cast<char>('a' + rng() % 40)) + "  ";
    if (i % 7 == 0) k = std::string(1, static_cast<char>(rng() % 256)) + "short       ";
    if (i % 3 == 1) {  // a few equal, most alone
      k = "K";
      for (int c = 0; c < 5; ++c) k += static_cast<char>('a' + rng() % 10);
      k += "      ";
    }
    keys.push_back(k.substr(0, 12));
    set_text(key, keys.back());
    Number(num).set_value(i % 10000);
    t.set_index(1, i + 1);
    t.set_index(2, 0);
    tb::record_to_entry(t, Record(rec));
  }
  tb::sort(t, 1, 12);
  std::vector<std::string> probes;
  for (int i = 0; i < kN; i += 5) probes.push_back(keys[i]);
  probes.push_back("PREFIX00Az  ");
  probes.push_back("PREFIX00");
  probes.push_back("PREFIX00B");
  probes.push_back(std::string(12, '\xff'));
  probes.push_back(std::string(12, '\0'));
  probes.push_back("Kaaaaz      ");
  probes.push_back("Kjjjjk      ");
  probes.push_back("Kbcdez      ");
  auto run = [&](bool drop_first) {
    if (drop_first) tb::drop_search_index(table);
    std::vector<std::pair<int64_t, int64_t>> out;
    Arena b;
    uint8_t* pos = b.number(0, "99999");
    for (const std::string& p : probes) {
      Number(pos).set_value(-1);
      tb::find(t, 1, p.size(), reinterpret_cast<const uint8_t*>(p.data()), 0, Number(pos));
      out.emplace_back(Number(pos).value(), t.status().value());
    }
    return out;
  };
  const auto indexed = run(false);
  const auto plain = run(true);
  ASSERT_EQ(indexed.size(), plain.size());
  for (size_t i = 0; i < indexed.size(); ++i) ASSERT_EQ(indexed[i], plain[i]) << "probe " << i;
  int duplicates = 0;
  for (auto& r : indexed) duplicates += r.second == 22;
  EXPECT_GT(duplicates, 10) << "the case of a later first hit is covered";
}

TEST(FixedTable, BadKeysAndMultiDimensionalTables) {
  Entry e({3, 1}, 3);
  e.store({1}, "B", 1, "");
  e.store({2}, "A", 2, "");
  tb::sort(e.t(), 1, 129);
  EXPECT_EQ(e.status(), 23) << "longer than the pivot's work item";
  tb::sort(e.t(), 9, 4);
  EXPECT_EQ(e.status(), 23) << "past the entry";
  EXPECT_EQ(e.raw(0).substr(0, 1), "B");

  Entry m({2, 2, 1}, 4);
  Arena a;
  uint8_t* pos = a.number(0, "9");
  EXPECT_EXIT((dup2(2, 1), tb::sort(m.t(), 1, 4)), ::testing::ExitedWithCode(1),
              "TABLES\\[error\\]:- Cannot SORT/SEARCH a multiDimensional table");
  EXPECT_EXIT((dup2(2, 1), tb::find(m.t(), 1, 4, reinterpret_cast<const uint8_t*>("AAAA"), 0,
                                    Number(pos))),
              ::testing::ExitedWithCode(1), "multiDimensional");
}

extern "C" void _TABLES();
extern "C" void _ARRAYS();

void call_tables(uint64_t op, void* label, uint64_t r10, uint64_t r11) {
  asm volatile(
      "mov %0, %%r8\n mov %1, %%r9\n mov %2, %%r10\n mov %3, %%r11\n"
      "sub $128, %%rsp\n call _TABLES\n add $128, %%rsp"
      :
      : "r"(op), "r"(label), "r"(r10), "r"(r11)
      : "r8", "r9", "r10", "r11", "memory");
}

TEST(FixedTable, RegisterEntryChecksTheTableType) {
  Entry e({2, 1}, 2);
  e.store({1}, "Z", 1, "");
  e.store({2}, "Y", 2, "");
  call_tables(tb::kSort, e.table, 1, 4);
  EXPECT_EQ(e.raw(0).substr(0, 1), "Y");
  Arena a;
  uint8_t* not_table = a.word("plain");
  EXPECT_EXIT((dup2(2, 1), call_tables(tb::kSort, not_table, 1, 4)),
              ::testing::ExitedWithCode(1), "You have not passed a valid table");
}

TEST(Arrays, SortIntegers) {
  std::vector<int64_t> v = {5, -3, 9, 0, 5, INT64_MIN + 1, 42, -3, 7};
  std::vector<int64_t> want = v;
  std::sort(want.begin(), want.end());
  int64_t* p = v.data();
  const uint64_t last = v.size() - 1;
  asm volatile(
      "mov $8, %%r8\n mov %0, %%r9\n mov %1, %%r10\n sub $128, %%rsp\n call _ARRAYS\n"
      "add $128, %%rsp"
      :
      : "r"(p), "r"(last)
      : "r8", "r9", "r10", "memory");
  EXPECT_EQ(v, want);
  std::vector<int64_t> part = {3, 2, 1, 0};
  qw::arrays::sort_integers(part.data(), 2);  // positions 0 to 2 only
  EXPECT_EQ(part, (std::vector<int64_t>{1, 2, 3, 0}));
}

}  // namespace
