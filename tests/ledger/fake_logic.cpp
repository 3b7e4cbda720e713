// Test stand-in for the ledger's program logic.
//
// It answers the same four requests as the translated logic, with the same
// statuses, and keeps its fields as real data items (17-byte header in
// front of each, records laid out as the runtime lays them out), so the
// windows read Scale, Length and picture exactly as they will from the
// translated program.  The entry `l1_Process` follows the logic's
// convention: block address in rax, every general register kept.
#include <stdint.h>
#include <string.h>

#include "runtime/bridge.h"

namespace {

// Storage for both records, built by append() on the first initial request.
uint8_t g_items[1024];
size_t g_used;

uint8_t* append_header(int64_t scale, char type, uint64_t length) {
  uint8_t* p = g_items + g_used;
  memcpy(p, &scale, 8);
  p[8] = static_cast<uint8_t>(type);
  memcpy(p + 9, &length, 8);
  g_used += 17;
  return g_items + g_used;
}
uint8_t* number(const char* picture, int64_t scale) {
  size_t len = strlen(picture);
  uint8_t* d = append_header(scale, '9', len);
  memset(d, 0, 8);
  memcpy(d + 8, picture, len);
  g_used += 8 + len;
  return d;
}
uint8_t* word(size_t len) {
  uint8_t* d = append_header(0, 'X', len);
  memset(d, ' ', len);
  g_used += len;
  return d;
}

struct Record {
  uint8_t* label;    // header of the first field
  uint8_t* no;       // value of _NO
  uint8_t* first;    // data of the first field
  size_t span;       // bytes from the first field's header to the end marker
};

// 'R', _NO, $LENGTH, fields, end marker.
Record begin_record() {
  Record r{};
  g_items[g_used++] = 'R';
  r.no = number("999999999", 1);
  g_used += 8;  // $LENGTH
  r.label = g_items + g_used;
  return r;
}
void end_record(Record& r, uint64_t flat) {
  memcpy(r.label - 8, &flat, 8);
  r.span = static_cast<size_t>(g_items + g_used - r.label);
  append_header(0, 0, flat);
  r.first = r.label + 17;
}

int64_t get(const uint8_t* n) {
  int64_t v;
  memcpy(&v, n, 8);
  return v;
}
void set(uint8_t* n, int64_t v) { memcpy(n, &v, 8); }
void put_text(uint8_t* w, size_t width, const char* s) {
  size_t n = strlen(s);
  if (n > width) n = width;
  memset(w, ' ', width);
  memcpy(w, s, n);
}

struct Fields {
  uint8_t *a01_no, *a01_name;
  uint8_t *acctno, *description, *flag1, *flag2, *flag3, *flag4, *balid, *cntl, *depreciation,
      *unitprice;
} f;

Record a01, b01;
bool g_built;

// A fixed table of flat-enough rows: each row is a copy of the record's
// field area, which is what storing a record into the table amounts to.
constexpr int kA01Rows = 5, kB01Rows = 26;
constexpr size_t kRowBytes = 512;  // room for a record's headers and data
uint8_t a01_rows[kA01Rows][kRowBytes];
uint8_t b01_rows[kB01Rows][kRowBytes];
int64_t a01_status, b01_status;

void build() {
  g_used = 0;
  a01 = begin_record();
  f.a01_no = number("99", 1);
  f.a01_name = word(30);
  end_record(a01, 32);
  b01 = begin_record();
  f.acctno = word(5);
  f.description = word(30);
  f.flag1 = word(2);
  f.flag2 = number("9", 1);
  f.flag3 = number("9", 1);
  f.flag4 = number("9", 1);
  f.balid = word(2);
  f.cntl = word(5);
  f.depreciation = number("999", 1);
  f.unitprice = number("9999.9999", 10000);
  end_record(b01, 59);
  if (a01.span > kRowBytes || b01.span > kRowBytes) __builtin_trap();
  g_built = true;
}

// Table get/put: rows 1..rows, anything else sets status 23 and changes
// nothing.
void table_get(uint8_t* rows, size_t stride, int count, const Record& r, int64_t* status) {
  int64_t n = get(r.no);
  if (n < 1 || n > count) {
    *status = 23;
    return;
  }
  memcpy(r.label, rows + (n - 1) * stride, r.span);
  *status = 0;
}
void table_put(uint8_t* rows, size_t stride, int count, const Record& r, int64_t* status) {
  int64_t n = get(r.no);
  if (n < 1 || n > count) {
    *status = 23;
    return;
  }
  memcpy(rows + (n - 1) * stride, r.label, r.span);
  *status = 0;
}

void initial() {
  if (!g_built) build();
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  set(f.a01_no, 1);
  for (int64_t row = 1; row <= kA01Rows; ++row) {
    set(a01.no, row);
    set(f.a01_no, get(f.a01_no) * 2);
    put_text(f.a01_name, 30, "");
    int64_t v = get(f.a01_no);
    f.a01_name[0] = static_cast<uint8_t>('0' + v / 10 % 10);
    f.a01_name[1] = static_cast<uint8_t>('0' + v % 10);
    memcpy(f.a01_name + 3, "Test Name", 9);
    table_put(&a01_rows[0][0], sizeof a01_rows[0], kA01Rows, a01, &a01_status);
  }
  set(a01.no, 1);
  table_get(&a01_rows[0][0], sizeof a01_rows[0], kA01Rows, a01, &a01_status);

  static const char* const flags[] = {"A", "X", "T", "C", "AB", "CA"};
  for (int64_t n = 1; n <= kB01Rows; ++n) {
    set(b01.no, n);
    put_text(f.acctno, 5, "AAAA");
    f.acctno[4] = static_cast<uint8_t>(alphabet[n - 1]);
    put_text(f.description, 30, "Description");
    memcpy(f.description + 12, "AAAA", 4);
    f.description[16] = static_cast<uint8_t>(alphabet[n - 1]);
    put_text(f.flag1, 2, n <= 6 ? flags[n - 1] : "TC");
    set(f.flag2, 2);
    set(f.flag3, 3);
    set(f.flag4, 4);
    put_text(f.balid, 2, "CR");
    put_text(f.cntl, 5, "aaaaz");
    set(f.depreciation, n + 10);
    set(f.unitprice, 11000 * n);  // 1.1 * n at four places
    table_put(&b01_rows[0][0], sizeof b01_rows[0], kB01Rows, b01, &b01_status);
  }
}

void process(int64_t* block) {
  int64_t request = block[0], data = block[1];
  block[0] = 0;
  switch (request) {
    case 0: {
      initial();
      block[0] = 0;
      block[1] = 0;
      uint8_t* fields[12] = {f.a01_no, f.a01_name,     f.acctno, f.description,
                             f.flag1,  f.flag2,        f.flag3,  f.flag4,
                             f.balid,  f.cntl,         f.depreciation, f.unitprice};
      for (int i = 0; i < 12; ++i) block[2 + i] = reinterpret_cast<int64_t>(fields[i]);
      break;
    }
    case 1: {
      int64_t no = get(a01.no);
      if (data == 1) {
        ++no;
      } else if (data == -1) {
        if (no == 1) {
          block[0] = 23;
          return;
        }
        --no;
      }
      set(a01.no, no);
      if (no > 0) {
        table_get(&a01_rows[0][0], sizeof a01_rows[0], kA01Rows, a01, &a01_status);
        if (a01_status != 0) {
          set(a01.no, data == 1 ? no - 1 : no + 1);
          block[0] = 23;
        }
      }
      break;
    }
    case 2:
      set(b01.no, data);
      table_get(&b01_rows[0][0], sizeof b01_rows[0], kB01Rows, b01, &b01_status);
      if (b01_status != 0) block[0] = 23;
      break;
    case 3:
      set(b01.no, data);
      table_put(&b01_rows[0][0], sizeof b01_rows[0], kB01Rows, b01, &b01_status);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" void fake_l1_entry(qw::Regs& r) {
  process(reinterpret_cast<int64_t*>(r.rax));
}

QW_ENTRY(l1_Process, fake_l1_entry);
