// The sort benchmark on our side, mirroring the GnuCOBOL program sort.cob:
// N 59-byte entries (key X(10) of 5 letters and 5 digits from the
// Park-Miller generator, desc X(30), qty 9(7), price 9(7)V99, flag X(3))
// are put into a table, sorted on the key, and each key is found again
// (binary search) in generation order; qty of the hits is summed.
//   usage: sort_bench xtable|table [N]
// Every table operation goes through the register entries as compiled
// statements make them.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <sys/mman.h>
#include <sys/syscall.h>

#include <vector>

#include "items.h"

using namespace bench;

static uint8_t g_items[1 << 16];

int main(int argc, char** argv) {
  const bool fixed = argc > 1 && std::string(argv[1]) == "table";
  const int64_t n = argc > 2 ? atoll(argv[2]) : 1000000;
  Arena a(g_items);
  uint8_t* rec = a.begin_record();
  uint8_t* key = a.word("", 10);
  uint8_t* desc = a.word("ITEM DESCRIPTION TEXT", 30);
  uint8_t* qty = a.number(0, "9999999");
  uint8_t* price = a.number(0, "999999999");
  uint8_t* flag = a.word("ABC", 3);
  a.end_record(rec, 59);
  (void)desc, (void)flag;
  uint8_t* pos = a.number(0, "9999999");

  // The fixed table lives in its own storage (59 MB with its slots): zero
  // memory not written before the table is bound, as a translated program's
  // zero data holds a large table.
  uint8_t* table = nullptr;
  if (fixed) {
    void* storage = mmap(nullptr, 17 + 64 + 27 + 59 * n + 128, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (storage == MAP_FAILED) {
      perror("sort_bench: mmap");
      return 1;
    }
    Arena t(static_cast<uint8_t*>(storage));
    table = t.table(n);
  } else {
    table = a.xtable();
  }

  Regs r;
  r.r8 = 1, r.r9 = reinterpret_cast<uint64_t>(table), r.r10 = reinterpret_cast<uint64_t>(rec);
  r.r11 = static_cast<uint64_t>(n) * (59 + 9);
  if (fixed) call__TABLES(r);
  else call__XTABLES(r);
  // The xtable moved the program break; the C library must know.
  brk(reinterpret_cast<void*>(syscall(SYS_brk, 0)));

  std::vector<char> keys(static_cast<size_t>(n) * 10);
  double t = now();
  int64_t seed = 20240607;
  const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  int64_t& ubound = value(table - 61);
  for (int64_t i = 1; i <= n; ++i) {
    seed = seed * 48271 % 2147483647;
    int64_t v = seed;
    char k[11];
    for (int j = 0; j < 5; ++j) {
      k[j] = letters[v % 26];
      v /= 26;
    }
    seed = seed * 48271 % 2147483647;
    const int64_t num = seed % 100000;
    snprintf(k + 5, 6, "%05lld", static_cast<long long>(num));
    memcpy(key, k, 10);
    memcpy(&keys[(i - 1) * 10], k, 10);
    value(qty) = i;
    value(price) = num;
    Regs p;
    p.r8 = 4, p.r9 = reinterpret_cast<uint64_t>(table);
    if (fixed) {
      const uint64_t total = *reinterpret_cast<uint64_t*>(table - 8);
      memcpy(table + total + 8, &i, 8);
      memset(table + total + 16, 0, 8);
      call__TABLES(p);
    } else {
      ubound = i;
      p.r10 = static_cast<uint64_t>(i);
      call__XTABLES(p);
    }
  }
  printf("PHASE fill %.3f\n", now() - t);

  t = now();
  Regs s;
  s.r8 = 8, s.r9 = reinterpret_cast<uint64_t>(table), s.r10 = 1, s.r11 = 10;
  if (fixed) call__TABLES(s);
  else call__XTABLES(s);
  printf("PHASE sort %.3f\n", now() - t);

  t = now();
  int64_t hits = 0, sum = 0;
  const int64_t& status = value(table - (fixed ? 91 : 27));
  for (int64_t i = 0; i < n; ++i) {
    Regs f;
    f.r8 = 16, f.r9 = reinterpret_cast<uint64_t>(table), f.r10 = 1, f.r11 = 10;
    f.r12 = reinterpret_cast<uint64_t>(&keys[i * 10]);
    f.r13 = reinterpret_cast<uint64_t>(pos);
    f.r14 = 10;  // the key text's length
    if (fixed) call__TABLES(f);
    else call__XTABLES(f);
    if (status == 0 || status == 22) {
      ++hits;
      sum += value(qty);
    }
  }
  printf("PHASE search %.3f\n", now() - t);

  // Order check (untimed): fetch the keys in position order.
  int64_t bad = 0;
  std::string prev, first, last;
  for (int64_t i = 1; i <= n; ++i) {
    Regs g;
    g.r8 = 2, g.r9 = reinterpret_cast<uint64_t>(table);
    if (fixed) {
      const uint64_t total = *reinterpret_cast<uint64_t*>(table - 8);
      memcpy(table + total + 8, &i, 8);
      memset(table + total + 16, 0, 8);
      call__TABLES(g);
    } else {
      g.r10 = static_cast<uint64_t>(i);
      call__XTABLES(g);
    }
    std::string k(reinterpret_cast<char*>(key), 10);
    if (i > 1 && prev > k) ++bad;
    if (i == 1) first = k;
    last = k;
    prev = k;
  }
  printf("sort N=%lld HITS=%lld QTYSUM=%lld UNSORTED-PAIRS=%lld\n", static_cast<long long>(n),
         static_cast<long long>(hits), static_cast<long long>(sum), static_cast<long long>(bad));
  printf("sort FIRST=%s LAST=%s\n", first.c_str(), last.c_str());
  return 0;
}
