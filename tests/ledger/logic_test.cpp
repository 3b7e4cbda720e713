// The ledger's logic seen through the bridge: requests, statuses and the
// shared fields, plus the bridge's fixed-point text conversions.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "l1.h"

namespace {

std::string word(const char* w, size_t n) { return std::string(w, n); }
int64_t value(const char* n) { return l1_NumberValue(n); }

class Logic : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(l1_HouseKeeping(), 0); }
};

TEST_F(Logic, InitialRequestHandsOutTwelveFields) {
  l1_Params[14] = 777;
  ASSERT_EQ(l1_Call(c_Initial, 5), 0);
  EXPECT_EQ(l1_Params[1], 0);
  EXPECT_EQ(l1_Params[14], 777) << "slot 14 belongs to nobody";
  std::set<int64_t> distinct(l1_Params + 2, l1_Params + 14);
  EXPECT_EQ(distinct.size(), 12u);
  EXPECT_EQ(distinct.count(0), 0u);

  // Kinds and widths, read from the headers in front of the fields.
  struct Expect { char* field; char type; uint64_t length; };
  const Expect fields[] = {{a01_no, '9', 2},          {a01_name, 'X', 30},
                           {b01_acctno, 'X', 5},      {b01_description, 'X', 30},
                           {b01_flag1, 'X', 2},       {b01_flag2, '9', 1},
                           {b01_flag3, '9', 1},       {b01_flag4, '9', 1},
                           {b01_balid, 'X', 2},       {b01_cntlacctno, 'X', 5},
                           {b01_depreciation, '9', 3}, {b01_unitprice, '9', 9}};
  for (const Expect& e : fields) {
    EXPECT_EQ(l1_ItemType(e.field), e.type);
    EXPECT_EQ(l1_ItemLength(e.field), e.length);
  }
  EXPECT_EQ(l1_Picture(b01_unitprice), "9999.9999");
  EXPECT_EQ(l1_NumberScale(b01_unitprice), 10000);

  EXPECT_EQ(value(a01_no), 2);
  EXPECT_EQ(word(a01_name, 30), "02 Test Name                  ");
  // The account record is left holding the last row generated.
  EXPECT_EQ(word(b01_acctno, 5), "AAAAZ");
}

TEST_F(Logic, CompanyMovesStopAtBothEnds) {
  EXPECT_EQ(l1_Call(c_A01_Read, -1), 23);
  EXPECT_EQ(value(a01_no), 2);
  const int64_t numbers[] = {4, 8, 16, 32};
  for (int64_t expected : numbers) {
    ASSERT_EQ(l1_Call(c_A01_Read, 1), 0);
    EXPECT_EQ(value(a01_no), expected);
  }
  EXPECT_EQ(word(a01_name, 12), "32 Test Name");
  EXPECT_EQ(l1_Call(c_A01_Read, 1), 23);
  EXPECT_EQ(value(a01_no), 32);
  EXPECT_EQ(word(a01_name, 12), "32 Test Name");
  // The refused move leaves the row where it was: one step back is row 4.
  EXPECT_EQ(l1_Call(c_A01_Read, -1), 0);
  EXPECT_EQ(value(a01_no), 16);
  // Any other direction refetches the current row.
  EXPECT_EQ(l1_Call(c_A01_Read, 0), 0);
  EXPECT_EQ(value(a01_no), 16);
}

TEST_F(Logic, AccountRowsOneToTwentySix) {
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const char* flags[] = {"A ", "X ", "T ", "C ", "AB", "CA"};
  for (int n = 1; n <= 26; ++n) {
    SCOPED_TRACE(n);
    ASSERT_EQ(l1_Call(c_B01_Read, n), 0);
    EXPECT_EQ(word(b01_acctno, 5), std::string("AAAA") + alphabet[n - 1]);
    EXPECT_EQ(word(b01_description, 30),
              std::string("Description AAAA") + alphabet[n - 1] + std::string(13, ' '));
    EXPECT_EQ(word(b01_flag1, 2), n <= 6 ? flags[n - 1] : "TC");
    EXPECT_EQ(value(b01_flag2), 2);
    EXPECT_EQ(value(b01_flag3), 3);
    EXPECT_EQ(value(b01_flag4), 4);
    EXPECT_EQ(word(b01_balid, 2), "CR");
    EXPECT_EQ(word(b01_cntlacctno, 5), "aaaaz");
    EXPECT_EQ(value(b01_depreciation), n + 10);
    EXPECT_EQ(value(b01_unitprice), 11000 * n);
  }
  EXPECT_EQ(l1_GetRational(b01_unitprice), "28.6000");
  EXPECT_EQ(value(b01_depreciation), 36);
}

TEST_F(Logic, RowsOutsideTheTableAreRefusedAndChangeNothing) {
  ASSERT_EQ(l1_Call(c_B01_Read, 5), 0);
  for (int64_t row : {27, 0, -1, 1000}) {
    EXPECT_EQ(l1_Call(c_B01_Read, row), 23) << row;
    EXPECT_EQ(word(b01_acctno, 5), "AAAAE");
  }
  // A write outside the table stores nothing and still reports 0.
  l1_PutWord(b01_description, 30, "stray");
  EXPECT_EQ(l1_Call(c_B01_Write, 27), 0);
  ASSERT_EQ(l1_Call(c_B01_Read, 26), 0);
  EXPECT_EQ(word(b01_description, 17), "Description AAAAZ");
}

TEST_F(Logic, UnknownRequestCodesDoNothing) {
  ASSERT_EQ(l1_Call(c_B01_Read, 3), 0);
  std::string before = word(b01_acctno, 5) + word(a01_name, 30);
  for (int64_t code : {4, 99, -1}) {
    l1_Params[2] = 0;
    EXPECT_EQ(l1_Call(code, 1), 0) << code;
    EXPECT_EQ(l1_Params[2], 0) << "only the initial request hands out addresses";
  }
  EXPECT_EQ(word(b01_acctno, 5) + word(a01_name, 30), before);
  EXPECT_EQ(value(a01_no), 2);
}

TEST_F(Logic, WriteThenReadBack) {
  ASSERT_EQ(l1_Call(c_B01_Read, 3), 0);
  l1_PutWord(b01_description, 30, "Office furniture");
  l1_PutWord(b01_flag1, 2, "PL");
  l1_SetNumberValue(b01_flag3, 1);
  l1_PutWord(b01_balid, 2, "DR");
  l1_SetNumberValue(b01_depreciation, 250);
  l1_SetNumberValue(b01_unitprice, 123456);
  ASSERT_EQ(l1_Call(c_B01_Write, 3), 0);
  ASSERT_EQ(l1_Call(c_B01_Read, 4), 0);
  EXPECT_EQ(word(b01_acctno, 5), "AAAAD");
  ASSERT_EQ(l1_Call(c_B01_Read, 3), 0);
  EXPECT_EQ(word(b01_acctno, 5), "AAAAC");
  EXPECT_EQ(word(b01_description, 30), "Office furniture              ");
  EXPECT_EQ(word(b01_flag1, 2), "PL");
  EXPECT_EQ(value(b01_flag3), 1);
  EXPECT_EQ(word(b01_balid, 2), "DR");
  EXPECT_EQ(value(b01_depreciation), 250);
  EXPECT_EQ(l1_GetRational(b01_unitprice), "12.3456");

  // Starting again rebuilds the tables from the generated values.
  ASSERT_EQ(l1_Call(c_A01_Read, 1), 0);
  ASSERT_EQ(l1_HouseKeeping(), 0);
  EXPECT_EQ(value(a01_no), 2);
  ASSERT_EQ(l1_Call(c_B01_Read, 3), 0);
  EXPECT_EQ(word(b01_description, 17), "Description AAAAC");
}

// l1_Process keeps every general register.  The probe loads a distinct
// value into each, calls the entry and records what came back.
extern "C" {
uint64_t qw_probe_before[16];
uint64_t qw_probe_after[16];
void qw_probe_call();
}
asm(R"(
  .text
  .globl qw_probe_call
qw_probe_call:
  push %rbx
  push %rbp
  push %r12
  push %r13
  push %r14
  push %r15
  sub $8, %rsp
  mov qw_probe_before+8(%rip), %rbx
  mov qw_probe_before+16(%rip), %rcx
  mov qw_probe_before+24(%rip), %rdx
  mov qw_probe_before+32(%rip), %rsi
  mov qw_probe_before+40(%rip), %rdi
  mov qw_probe_before+48(%rip), %rbp
  mov qw_probe_before+56(%rip), %r8
  mov qw_probe_before+64(%rip), %r9
  mov qw_probe_before+72(%rip), %r10
  mov qw_probe_before+80(%rip), %r11
  mov qw_probe_before+88(%rip), %r12
  mov qw_probe_before+96(%rip), %r13
  mov qw_probe_before+104(%rip), %r14
  mov qw_probe_before+112(%rip), %r15
  mov qw_probe_before+0(%rip), %rax
  call l1_Process
  mov %rax, qw_probe_after+0(%rip)
  mov %rbx, qw_probe_after+8(%rip)
  mov %rcx, qw_probe_after+16(%rip)
  mov %rdx, qw_probe_after+24(%rip)
  mov %rsi, qw_probe_after+32(%rip)
  mov %rdi, qw_probe_after+40(%rip)
  mov %rbp, qw_probe_after+48(%rip)
  mov %r8, qw_probe_after+56(%rip)
  mov %r9, qw_probe_after+64(%rip)
  mov %r10, qw_probe_after+72(%rip)
  mov %r11, qw_probe_after+80(%rip)
  mov %r12, qw_probe_after+88(%rip)
  mov %r13, qw_probe_after+96(%rip)
  mov %r14, qw_probe_after+104(%rip)
  mov %r15, qw_probe_after+112(%rip)
  mov %rsp, qw_probe_after+120(%rip)
  add $8, %rsp
  pop %r15
  pop %r14
  pop %r13
  pop %r12
  pop %rbp
  pop %rbx
  ret
)");

TEST_F(Logic, EntryKeepsEveryGeneralRegister) {
  for (int64_t request : {c_Initial, c_A01_Read, c_B01_Read, c_B01_Write}) {
    SCOPED_TRACE(request);
    qw_probe_before[0] = reinterpret_cast<uint64_t>(l1_Params);
    for (int r = 1; r < 15; ++r) qw_probe_before[r] = 0x5a5a000000000000ull + 0x1111u * r;
    l1_Params[0] = request;
    l1_Params[1] = 1;
    qw_probe_call();
    for (int r = 0; r < 15; ++r) EXPECT_EQ(qw_probe_after[r], qw_probe_before[r]) << "register " << r;
  }
}

// ---- the bridge's text conversions, on hand-made items -----------------

// A number item: header, value, picture.
struct TestNumber {
  std::vector<char> bytes;
  TestNumber(const std::string& picture, int64_t scale, int64_t v) : bytes(17 + 8 + picture.size()) {
    uint64_t len = picture.size();
    memcpy(bytes.data(), &scale, 8);
    bytes[8] = '9';
    memcpy(bytes.data() + 9, &len, 8);
    memcpy(bytes.data() + 17, &v, 8);
    memcpy(bytes.data() + 25, picture.data(), len);
  }
  char* data() { return bytes.data() + 17; }
};

TEST(Bridge, GetRationalKeepsThePlacesOfTheScale) {
  EXPECT_EQ(l1_GetRational(TestNumber("9999.9999", 10000, 286000).data()), "28.6000");
  EXPECT_EQ(l1_GetRational(TestNumber("9999.99", 100, -1250).data()), "-12.50");
  // No decimals: six are shown.
  EXPECT_EQ(l1_GetRational(TestNumber("999", 1, 36).data()), "36.000000");
  // A scale the runtime has not worked out yet is taken from the picture.
  EXPECT_EQ(l1_GetRational(TestNumber("9999.9999", 0, 123456).data()), "12.3456");
  EXPECT_EQ(l1_GetRational(TestNumber("9999.9999", -1, 123456).data()), "12.3456");
}

TEST(Bridge, PutRationalIsExactAndCutsExtraDigits) {
  TestNumber price("9999.9999", 10000, 0);
  int64_t v = -7;
  ASSERT_TRUE(l1_PutRational(price.data(), "12.345678", &v));
  EXPECT_EQ(v, 123456);
  // Values that binary floating point would land just below.
  ASSERT_TRUE(l1_PutRational(price.data(), "0.29", &v));
  EXPECT_EQ(v, 2900);
  ASSERT_TRUE(l1_PutRational(price.data(), "9999.9999", &v));
  EXPECT_EQ(v, 99999999);
  ASSERT_TRUE(l1_PutRational(price.data(), " 7 ", &v));
  EXPECT_EQ(v, 70000);
  ASSERT_TRUE(l1_PutRational(price.data(), ".5", &v));
  EXPECT_EQ(v, 5000);
  ASSERT_TRUE(l1_PutRational(price.data(), "0012", &v));
  EXPECT_EQ(v, 120000);

  v = -7;
  for (const char* bad : {"", " ", "abc", "1.2.3", "12a", "1e5", ".", "-", "10000", "-1"}) {
    EXPECT_FALSE(l1_PutRational(price.data(), bad, &v)) << '"' << bad << '"';
  }
  EXPECT_EQ(v, -7) << "a refused entry stores nothing";

  TestNumber depreciation("999", 1, 0);
  ASSERT_TRUE(l1_PutRational(depreciation.data(), "999", &v));
  EXPECT_EQ(v, 999);
  EXPECT_FALSE(l1_PutRational(depreciation.data(), "1000", &v));
  TestNumber signedNumber("999-", 1, 0);
  ASSERT_TRUE(l1_PutRational(signedNumber.data(), "-12", &v));
  EXPECT_EQ(v, -12);
}

}  // namespace
