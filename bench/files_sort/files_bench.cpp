// The files benchmark on our side, mirroring the GnuCOBOL program
// files.cob: N 59-byte records written to a line file and read back, then M
// records written to a random file by record number and read in the
// shuffled order k = (j * 7919) mod M + 1.  Every file operation goes
// through the register entries as compiled statements call them: a line
// is written with @WRITELINE and read with @READLINE, which hand all their
// fields to _LINEFIELDS in one call.  The line file is opened with
// write-behind (F_BEHIND), as GnuCOBOL buffers its line sequential writes.
//   usage: files_bench [N [M]]
#include <stdio.h>
#include <stdlib.h>

#include "items.h"

using namespace bench;

static uint8_t g_items[1 << 16];

// "K" or "R" and the number in 9 digits, as the COBOL side's STRING builds
// its keys.
static void make_key(uint8_t* key, char letter, int64_t i) {
  key[0] = static_cast<uint8_t>(letter);
  for (int d = 9; d >= 1; --d) {
    key[d] = static_cast<uint8_t>('0' + i % 10);
    i /= 10;
  }
}

// A line's fields as @WRITELINE and @READLINE push them for _LINEFIELDS,
// each loaded as _FIELDS takes it: a word from 1 for its Length, a number
// through its own picture (0, 0).
constexpr int kFields = 5;
static void list_fields(uint8_t* const* fields, uint64_t (*line)[3]) {
  for (int k = 0; k < kFields; ++k) {
    uint8_t* x = fields[k];
    const bool word = x[-9] == 'X';
    line[k][0] = reinterpret_cast<uint64_t>(x);
    line[k][1] = word ? 1 : 0;
    memcpy(&line[k][2], x - 8, 8);
    if (!word) line[k][2] = 0;
  }
}

int main(int argc, char** argv) {
  const int64_t n = argc > 1 ? atoll(argv[1]) : 1000000;
  const int64_t m = argc > 2 ? atoll(argv[2]) : 200000;
  Arena a(g_items);
  // key X(10), desc X(30), qty 9(7), price 9(7)V99 (as 9 digits), flag X(3)
  uint8_t* rec = a.begin_record();
  uint8_t* key = a.word("", 10);
  uint8_t* desc = a.word("ITEM DESCRIPTION TEXT", 30);
  uint8_t* qty = a.number(0, "9999999");
  uint8_t* price = a.number(0, "999999999");
  uint8_t* flag = a.word("ABC", 3);
  a.end_record(rec, 59);
  uint8_t* ls = a.file("bench_ls.dat", 2);
  uint8_t* rel = a.file("bench_rel.dat", 16);
  uint8_t* fields[kFields] = {key, desc, qty, price, flag};
  uint64_t line[kFields][3];

  Regs r;
  double t = now();
  r = {};
  r.r8 = 2, r.r9 = reinterpret_cast<uint64_t>(ls), r.r10 = 1 | 512 | (1 << 24);  // write-behind
  call__FILEIO(r);
  for (int64_t i = 1; i <= n; ++i) {
    make_key(key, 'K', i);
    value(qty) = i;
    value(price) = i * 100;
    Regs w;
    list_fields(fields, line);
    w.r8 = 3, w.r9 = reinterpret_cast<uint64_t>(line), w.r10 = kFields;
    w.r15 = reinterpret_cast<uint64_t>(ls);
    call__LINEFIELDS(w);
  }
  r = {};
  r.r8 = 3, r.r9 = reinterpret_cast<uint64_t>(ls);
  call__FILEIO(r);
  printf("PHASE ls-write %.3f\n", now() - t);

  t = now();
  int64_t recs = 0, sum = 0;
  r = {};
  r.r8 = 2, r.r9 = reinterpret_cast<uint64_t>(ls), r.r10 = 0;
  call__FILEIO(r);
  for (;;) {
    Regs rd;
    list_fields(fields, line);
    rd.r8 = 2, rd.r9 = reinterpret_cast<uint64_t>(line), rd.r10 = kFields;
    rd.r15 = reinterpret_cast<uint64_t>(ls);
    call__LINEFIELDS(rd);
    if (status_of_file(ls) == 10) break;
    ++recs;
    sum += value(qty);
  }
  r = {};
  r.r8 = 3, r.r9 = reinterpret_cast<uint64_t>(ls);
  call__FILEIO(r);
  printf("PHASE ls-read %.3f\n", now() - t);
  printf("files ls RECS=%lld QTYSUM=%lld\n", static_cast<long long>(recs),
         static_cast<long long>(sum));

  t = now();
  r = {};
  r.r8 = 2, r.r9 = reinterpret_cast<uint64_t>(rel), r.r10 = 2 | 512;
  call__FILEIO(r);
  memcpy(desc, "ITEM DESCRIPTION TEXT", 21);
  memcpy(flag, "XYZ", 3);
  int64_t errors = 0;
  for (int64_t i = 1; i <= m; ++i) {
    make_key(key, 'R', i);
    value(qty) = i;
    value(price) = i * 100;
    value(rec - 25) = i;  // _NO
    Regs w;
    w.r8 = 1, w.r9 = reinterpret_cast<uint64_t>(rel), w.r10 = reinterpret_cast<uint64_t>(rec);
    call__FILEIO(w);
    if (status_of_file(rel) != 0) ++errors;
  }
  r = {};
  r.r8 = 3, r.r9 = reinterpret_cast<uint64_t>(rel);
  call__FILEIO(r);
  printf("PHASE rel-write %.3f\n", now() - t);

  t = now();
  recs = sum = 0;
  r = {};
  r.r8 = 2, r.r9 = reinterpret_cast<uint64_t>(rel), r.r10 = 0;
  call__FILEIO(r);
  for (int64_t j = 1; j <= m; ++j) {
    const int64_t k = (j * 7919) % m + 1;
    value(rec - 25) = k;
    Regs rd;
    rd.r8 = 0, rd.r9 = reinterpret_cast<uint64_t>(rel), rd.r10 = reinterpret_cast<uint64_t>(rec);
    call__FILEIO(rd);
    if (status_of_file(rel) != 0) {
      ++errors;
      continue;
    }
    ++recs;
    sum += value(qty);
    if (value(qty) != k) ++errors;
  }
  r = {};
  r.r8 = 3, r.r9 = reinterpret_cast<uint64_t>(rel);
  call__FILEIO(r);
  printf("PHASE rel-read %.3f\n", now() - t);
  printf("files rel RECS=%lld QTYSUM=%lld ERRORS=%lld\n", static_cast<long long>(recs),
         static_cast<long long>(sum), static_cast<long long>(errors));
  return 0;
}
