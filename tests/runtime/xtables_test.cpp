// Xtables: memory from the program break, element access through links,
// sorting by links, find with duplicates and deleted entries, delete, and
// whole-table load and unload.
#include <sys/syscall.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "arena.h"
#include "files.h"
#include "item.h"
#include "tables.h"

namespace {

using qw::FileBlock;
using qw::Item;
using qw::Number;
using qw::Record;
using qw::Xtable;
namespace tb = qw::tables;

using qwtest::Arena;
using qwtest::set_text;
using qwtest::slurp;
using qwtest::text;

// The runtime moves the program break itself; the C library's allocator
// must learn where it now is, or it would hand the block out again.
void tell_allocator() { brk(reinterpret_cast<void*>(syscall(SYS_brk, 0))); }

// Entry record: key (3 characters), quantity (picture 999): 6 bytes.
struct XT {
  Arena a;
  uint8_t *rec, *key, *qty, *table;
  explicit XT(uint64_t slots) {
    rec = a.begin_record();
    key = a.word("", 3);
    qty = a.number(0, "999");
    a.end_record(rec);
    table = a.xtable();
    tb::xbind(t(), Record(rec), slots * 15);
    tell_allocator();
  }
  Xtable t() const { return Xtable(table); }
  int64_t status() const { return t().status().value(); }
  int64_t ubound() const { return t().ubound().value(); }
  void add(const std::string& k, int64_t q) {
    t().ubound().set_value(ubound() + 1);
    set_text(key, k);
    Number(qty).set_value(q);
    tb::xrecord_to_entry(t(), ubound(), Record(rec));
  }
  std::string at(int64_t p) {
    set_text(key, "???");
    tb::xentry_to_record(t(), p, Record(rec));
    return text(key);
  }
};

// Each test works in its own scratch directory.
class Xtables : public qwtest::ScratchDirTest {};

TEST_F(Xtables, BindTakesMemoryFromTheBreak) {
  const auto before = reinterpret_cast<uint8_t*>(syscall(SYS_brk, 0));
  XT x(10);
  EXPECT_EQ(Item(x.table).type(), 'T');
  EXPECT_EQ(x.t().block_start(), before);
  EXPECT_EQ(x.t().block_end(), before + 150);
  EXPECT_EQ(w_TopOfBSS, reinterpret_cast<int64_t>(before));
  EXPECT_EQ(w_BottomOfBSS, reinterpret_cast<int64_t>(before + 150));
  EXPECT_EQ(x.ubound(), 0);
  EXPECT_EQ(std::string(x.t().ubound().picture(), 9), "999999999");
  EXPECT_EQ(tb::xslot_size(x.t()), 15u);
}

TEST_F(Xtables, PositionsOutsideGiveStatus) {
  XT x(3);
  x.add("AAA", 1);
  x.add("BBB", 2);
  EXPECT_EQ(x.at(2), "BBB");
  EXPECT_EQ(x.status(), 0);
  EXPECT_EQ(x.at(3), "???");
  EXPECT_EQ(x.status(), 10) << "beyond _UBOUND";
  EXPECT_EQ(x.at(0), "???");
  EXPECT_EQ(x.status(), 23) << "position 0";
  x.t().ubound().set_value(5);
  EXPECT_EQ(x.at(4), "???");
  EXPECT_EQ(x.status(), 23) << "beyond the memory block";
  x.t().ubound().set_value(3);
  EXPECT_EQ(x.at(3), "???") << "never written: the record as it was";
  EXPECT_EQ(x.status(), 23);
}

TEST_F(Xtables, SortMovesLinksNotRecords) {
  XT x(8);
  const std::vector<std::string> keys = {"DOG", "CAT", "EMU", "ANT", "BEE", "\xffZZ", "aaa"};
  for (size_t i = 0; i < keys.size(); ++i) x.add(keys[i], static_cast<int64_t>(i));
  const std::string before(reinterpret_cast<char*>(x.t().block_start()) + 8, 7 * 15 - 8);
  tb::xsort(x.t(), 1, 3);
  EXPECT_EQ(x.status(), 0);
  std::vector<std::string> got;
  for (int64_t p = 1; p <= x.ubound(); ++p) got.push_back(x.at(p));
  EXPECT_EQ(got, (std::vector<std::string>{"ANT", "BEE", "CAT", "DOG", "EMU", "aaa", "\xffZZ"}));
  // Records stay where they were written; only the links changed.
  uint8_t* base = x.t().block_start();
  for (size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(std::string(reinterpret_cast<char*>(base) + i * 15 + 9, 3), keys[i]);
  EXPECT_EQ(qw::load64(base), reinterpret_cast<int64_t>(base + 3 * 15)) << "position 1 -> ANT";
  (void)before;
}

TEST_F(Xtables, FindFollowsTheSortOrderAndSkipsDeletedEntries) {
  XT x(12);
  const std::vector<std::string> keys = {"MMM", "BBB", "\xe0XX", "BBB", "ZZZ", "BBB", "AAA"};
  for (size_t i = 0; i < keys.size(); ++i) x.add(keys[i], static_cast<int64_t>(10 + i));
  tb::xsort(x.t(), 1, 3);
  Arena a;
  uint8_t* pos = a.number(0, "999");
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("BBB"), 0, Number(pos));
  EXPECT_EQ(x.status(), 0);
  EXPECT_EQ(Number(pos).value(), 2) << "the lowest of positions 2 to 4";
  // Bytes above 127 order after letters in sort and find alike.
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("\xe0XX"), 0, Number(pos));
  EXPECT_EQ(x.status(), 0);
  EXPECT_EQ(Number(pos).value(), 7);
  EXPECT_EQ(Number(x.qty).value(), 12);

  // Deleting positions 2 and 3 leaves 4 as the live one of the run.
  tb::xdelete(x.t(), 2, false);
  tb::xdelete(x.t(), 3, true);
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("BBB"), 0, Number(pos));
  EXPECT_EQ(Number(pos).value(), 4);
  EXPECT_EQ(x.status(), 0);
  tb::xdelete(x.t(), 4, false);
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("BBB"), 0, Number(pos));
  EXPECT_EQ(x.status(), 23) << "no live entry with the key";
  EXPECT_GE(Number(pos).value(), 2);
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("CCC"), 0, Number(pos));
  EXPECT_EQ(x.status(), 23);
  EXPECT_EQ(Number(pos).value(), 0);
  // A short key text reads as if blank-padded: "MM" is "MM ", not "MMM".
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("MM"), 2, Number(pos));
  EXPECT_EQ(x.status(), 23);
  tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>("MMM  "), 5, Number(pos));
  EXPECT_EQ(x.status(), 0);
  EXPECT_EQ(Number(pos).value(), 5);

  // A deleted entry still reads, with status 23; a cleared one leaves the
  // record as it was.
  EXPECT_EQ(x.at(2), "BBB");
  EXPECT_EQ(x.status(), 23);
  EXPECT_EQ(x.at(3), "???");
  EXPECT_EQ(x.status(), 23);
}

TEST_F(Xtables, LargeRandomSortAndFindAgree) {
  constexpr int kN = 5000;
  XT x(kN);
  std::mt19937 rng(11);
  std::vector<std::string> keys;
  for (int i = 0; i < kN; ++i) {
    std::string k(3, ' ');
    for (auto& c : k) c = static_cast<char>(rng() % 256);
    keys.push_back(k);
    x.add(k, i % 1000);
  }
  tb::xsort(x.t(), 1, 3);
  std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
    return std::memcmp(a.data(), b.data(), 3) < 0;
  });
  for (int p = 1; p <= kN; ++p) ASSERT_EQ(x.at(p), keys[p - 1]) << p;
  Arena a;
  uint8_t* pos = a.number(0, "99999");
  for (int i = 0; i < kN; i += 37) {
    tb::xfind(x.t(), 1, 3, reinterpret_cast<const uint8_t*>(keys[i].data()), 0, Number(pos));
    ASSERT_EQ(x.status(), 0) << i;
    EXPECT_EQ(keys[Number(pos).value() - 1], keys[i]);
    EXPECT_TRUE(Number(pos).value() == 1 || keys[Number(pos).value() - 2] != keys[i]);
  }
}

// Finds answer as the binary search over positions 1 to _UBOUND does:
// probe the middle, halve, stop at the first equal key; the result is the
// lowest live position of that key's run, else status 23 with the probed
// position (the run all deleted) or 0 (no such key).  The model below is
// that search over the keys and live flags read back position by position;
// finds on whole keys and on a key's first character, with many duplicates
// and every fifth entry deleted, must answer exactly as it does.
TEST_F(Xtables, FindsAnswerAsTheModelSearch) {
  constexpr int kN = 3000;
  XT x(kN);
  std::mt19937 rng(5);
  std::vector<std::string> keys;
  for (int i = 0; i < kN; ++i) {
    std::string k(3, ' ');
    k[0] = static_cast<char>('A' + rng() % 4);
    k[1] = static_cast<char>(rng() % 256);
    k[2] = static_cast<char>('0' + rng() % 3);
    keys.push_back(k);
    x.add(k, i % 1000);
  }
  for (int p = 1; p <= kN; p += 5) tb::xdelete(x.t(), p, false);
  tb::xsort(x.t(), 1, 3);
  std::vector<std::string> sorted;
  std::vector<bool> live;
  for (int p = 1; p <= kN; ++p) {
    sorted.push_back(x.at(p));
    live.push_back(x.status() == 0);
  }
  auto model = [&](const std::string& key, size_t len) {  // position, status
    auto cmp = [&](int p) { return std::memcmp(sorted[p - 1].data(), key.data(), len); };
    int lo = 1, hi = kN, probe = 0;
    while (lo <= hi && probe == 0) {
      const int mid = lo + (hi - lo) / 2;
      const int c = cmp(mid);
      if (c == 0) probe = mid;
      else if (c < 0) lo = mid + 1;
      else hi = mid - 1;
    }
    if (probe == 0) return std::make_pair(0, 23);
    int first = probe;
    while (first > 1 && cmp(first - 1) == 0) --first;
    for (int p = first; p <= kN && cmp(p) == 0; ++p)
      if (live[p - 1]) return std::make_pair(p, 0);
    return std::make_pair(probe, 23);
  };
  std::vector<std::string> probes = keys;
  probes.push_back("ZZZ");
  probes.push_back(std::string(3, '\0'));
  Arena a;
  uint8_t* pos = a.number(0, "99999");
  int duplicates = 0, all_deleted = 0;
  for (const std::string& p : probes) {
    for (size_t len : {3u, 1u}) {
      set_text(x.key, "???");
      tb::xfind(x.t(), 1, len, reinterpret_cast<const uint8_t*>(p.data()), 0, Number(pos));
      const auto want = model(p, len);
      ASSERT_EQ(std::make_pair(static_cast<int>(Number(pos).value()),
                               static_cast<int>(x.status())), want)
          << "key " << testing::PrintToString(p) << ", length " << len;
      if (want.second == 0) {
        ASSERT_EQ(text(x.key).substr(0, len), p.substr(0, len)) << "the entry is in the record";
        duplicates += want.first > 1 && sorted[want.first - 2].compare(0, len, p, 0, len) == 0;
      }
      all_deleted += want.second == 23 && want.first != 0;
    }
  }
  EXPECT_GT(duplicates, 10) << "runs whose first entry is deleted are covered";
  EXPECT_GT(all_deleted, 0) << "runs of deleted entries only are covered";
}

TEST_F(Xtables, FieldPutAndGetMarkLiveness) {
  XT x(4);
  x.t().ubound().set_value(2);
  Arena a;
  uint8_t* w = a.word("LONGER");
  uint8_t* n = a.number(0, "999");
  uint8_t* out = a.word("", 3);
  tb::xget(x.t(), 2, 1, Item(out));
  EXPECT_EQ(x.status(), 23) << "not live yet";
  tb::xput(x.t(), 2, 1, Item(w), 1, 6);
  EXPECT_EQ(x.status(), 0);
  Number(n).set_value(45);
  tb::xput(x.t(), 2, 2, Item(n), 0, 0);
  tb::xget(x.t(), 2, 1, Item(out));
  EXPECT_EQ(x.status(), 0);
  EXPECT_EQ(text(out), "LON") << "cut at the field";
  EXPECT_EQ(x.at(2), "LON");
  EXPECT_EQ(Number(x.qty).value(), 45);
}

// Writes a kind 16 file of ten records, records 2, 5 and 9 deleted.
std::string kind16_file() {
  std::string data;
  for (int i = 1; i <= 10; ++i) {
    data += (i == 2 || i == 5 || i == 9) ? '\0' : '\1';
    char rec[7];
    snprintf(rec, sizeof rec, "K%02d%03d", i, i);
    data += rec;
  }
  return data;
}

TEST_F(Xtables, LoadAndUnloadKind16) {
  std::ofstream(path("in16"), std::ios::binary) << kind16_file();
  XT x(20);
  Arena a;
  uint8_t* f = a.file(path("in16"), qw::files::kRandom);
  tb::xload(x.t(), FileBlock(f), false);
  EXPECT_EQ(x.ubound(), 7);
  EXPECT_EQ(FileBlock(f).size().value(), 70);
  EXPECT_EQ(x.at(2), "K03");
  EXPECT_EQ(Number(x.qty).value(), 3);

  tb::xload(x.t(), FileBlock(f), true);
  EXPECT_EQ(x.ubound(), 10);
  EXPECT_EQ(x.at(2), "K02");
  EXPECT_EQ(x.status(), 23) << "kept, but deleted";

  // Unloaded in sorted order, deleted records left out or kept.
  tb::xsort(x.t(), 4, 3);  // by quantity, already ascending
  x.t().ubound().set_value(10);
  uint8_t* out = a.file(path("out16"), qw::files::kRandom);
  tb::xunload(x.t(), FileBlock(out), false);
  EXPECT_EQ(slurp(path("out16")).size(), 7u * 7);
  tb::xunload(x.t(), FileBlock(out), true);
  EXPECT_EQ(slurp(path("out16")), kind16_file());
}

TEST_F(Xtables, LoadAndUnloadKind32KeepSlotsWhole) {
  XT x(10);
  x.add("CCC", 3);
  x.add("AAA", 1);
  x.add("BBB", 2);
  tb::xdelete(x.t(), 3, false);
  tb::xsort(x.t(), 1, 3);
  Arena a;
  uint8_t* f = a.file(path("t32"), qw::files::kRandomReserved);
  tb::xunload(x.t(), FileBlock(f), true);
  const std::string data = slurp(path("t32"));
  ASSERT_EQ(data.size(), 3u * 15);
  EXPECT_EQ(data.substr(8, 7), "\x01" "AAA001");
  EXPECT_EQ(data.substr(23, 7), std::string("\0BBB002", 7));

  // Loaded as it lies: every slot in its place, a deleted one reads 23.
  XT y(10);
  tb::xload(y.t(), FileBlock(f), false);
  EXPECT_EQ(y.ubound(), 3);
  EXPECT_EQ(y.at(3), "CCC");
  EXPECT_EQ(y.at(2), "BBB");
  EXPECT_EQ(y.status(), 23);
  uint8_t* base = y.t().block_start();
  EXPECT_EQ(qw::load64(base + 15), reinterpret_cast<int64_t>(base + 15)) << "links reset";

  tb::xunload(x.t(), FileBlock(f), false);
  EXPECT_EQ(slurp(path("t32")).size(), 2u * 15);
}

TEST_F(Xtables, LoadLargerThanTheBlockStopsWithAMessage) {
  std::ofstream(path("big16"), std::ios::binary) << kind16_file();
  XT x(5);
  uint8_t* block_end = x.t().block_end();
  Arena a;
  uint8_t* f = a.file(path("big16"), qw::files::kRandom);
  EXPECT_EXIT((dup2(2, 1), tb::xload(x.t(), FileBlock(f), true)), ::testing::ExitedWithCode(1),
              "larger than the xtable's memory");
  // Seven live records do not fit five slots either; five or fewer do.
  EXPECT_EXIT((dup2(2, 1), tb::xload(x.t(), FileBlock(f), false)),
              ::testing::ExitedWithCode(1), "larger than the xtable's memory");
  std::ofstream(path("big32"), std::ios::binary) << std::string(6 * 15, '\x01');
  uint8_t* g = a.file(path("big32"), qw::files::kRandomReserved);
  EXPECT_EXIT((dup2(2, 1), tb::xload(x.t(), FileBlock(g), true)), ::testing::ExitedWithCode(1),
              "larger than the xtable's memory");
  EXPECT_EQ(x.t().block_end(), block_end);
}

TEST_F(Xtables, MissingFileToLoadIsFatal) {
  XT x(2);
  Arena a;
  uint8_t* f = a.file(path("absent"), qw::files::kRandom);
  EXPECT_EXIT((dup2(2, 1), tb::xload(x.t(), FileBlock(f), false)), ::testing::ExitedWithCode(1),
              "System Error is 002:No such file or directory");
}

}  // namespace
