// Common services: environment lookup, dates, starting programs, random
// numbers.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <string>

#include "arena.h"
#include "bridge.h"
#include "item.h"
#include "services.h"
#include "kernel.h"

namespace {

// Words as long as their text, or of a given length.
using TestWord = qwtest::TextWord;

// A fake start-of-program stack: argument count, arguments, zero,
// environment strings, zero.
struct FakeStack {
  uint64_t slots[16] = {};
  int64_t saved = 0;
  FakeStack(std::initializer_list<const char*> env) {
    static const char* prog = "prog";
    slots[0] = 1;
    slots[1] = reinterpret_cast<uint64_t>(prog);
    slots[2] = 0;
    int i = 3;
    for (const char* e : env) slots[i++] = reinterpret_cast<uint64_t>(e);
    slots[i] = 0;
    saved = w_SaveRSP;
    w_SaveRSP = reinterpret_cast<int64_t>(slots);
  }
  ~FakeStack() { w_SaveRSP = saved; }
};

TEST(ServicesEnvironment, NameWithTrailingBlanksMatchesAndPrefixesDoNot) {
  FakeStack stack({"HOME2=/wrong", "HOMEX=/wrong", "PATH=/usr/bin:/bin", "HOME=/home/qw"});
  TestWord name("PATH      ");
  TestWord dest("", 20);
  qw::services::environment_lookup(name.word().text(), name.word().length(), dest.word(), 1);
  EXPECT_EQ(dest.str(), "/usr/bin:/bin       ");

  TestWord home("HOME");
  TestWord dest2("", 12);
  qw::services::environment_lookup(home.word().text(), 4, dest2.word(), 1);
  EXPECT_EQ(dest2.str(), "/home/qw    ");

  // HOME2 is not set even though HOME is.
  TestWord home2("HOME2 ");
  FakeStack only_home({"HOME=/home/qw"});
  TestWord dest3("unchanged", 9);
  qw::services::environment_lookup(home2.word().text(), 6, dest3.word(), 1);
  EXPECT_EQ(dest3.str(), "unchanged");
}

TEST(ServicesEnvironment, ValueIsCutAtTheDestinationAndNotPadded) {
  FakeStack stack({"LONG=abcdefghijklmnop", "SHORT=xy", "EMPTY="});
  // Guard bytes after the word must survive.
  TestWord dest("", 4);
  dest.raw[17 + 4] = '#';
  qw::services::environment_lookup("LONG", 4, dest.word(), 1);
  EXPECT_EQ(dest.str(), "abcd");
  EXPECT_EQ(dest.raw[17 + 4], '#');

  TestWord old("OLDVALUE");
  qw::services::environment_lookup("SHORT", 5, old.word(), 1);
  EXPECT_EQ(old.str(), "xyDVALUE");
  qw::services::environment_lookup("EMPTY", 5, old.word(), 1);
  EXPECT_EQ(old.str(), "xyDVALUE");
  // A blank name never matches.
  qw::services::environment_lookup("    ", 4, old.word(), 1);
  EXPECT_EQ(old.str(), "xyDVALUE");
}

}  // namespace

namespace {

using qw::services::date_request;
using qw::services::days_from_date;

std::string text_of_day(int64_t days) {
  char out[11] = "##########";
  qw::services::date_text(days, out);
  return std::string(out, 10);
}

int64_t error_code_value() { return qw::error_code().value(); }

TEST(ServicesDates, DayNumbersToText) {
  EXPECT_EQ(text_of_day(0), "1970/01/01");
  EXPECT_EQ(text_of_day(365), "1971/01/01");
  EXPECT_EQ(text_of_day(789), "1972/02/29");
  EXPECT_EQ(text_of_day(790), "1972/03/01");
  EXPECT_EQ(text_of_day(1095), "1972/12/31");
  EXPECT_EQ(text_of_day(19782), "2024/02/29");
  EXPECT_EQ(text_of_day(11016), "2000/02/29");   // divisible by 400: leap
  EXPECT_EQ(text_of_day(47540), "2100/02/28");   // 2100 is not a leap year
  EXPECT_EQ(text_of_day(47541), "2100/03/01");
}

TEST(ServicesDates, TextToDayNumberRoundTripsEveryDay) {
  for (int64_t d = 0; d < 50000; d += 1) {
    int64_t back = -1;
    ASSERT_TRUE(qw::services::parse_date_text(text_of_day(d).c_str(), back)) << d;
    ASSERT_EQ(back, d);
  }
}

TEST(ServicesDates, RequestsThroughTheEntryForms) {
  qw::error_code().set_value(0);
  int64_t day = 0;
  char text[10];
  date_request(qw::services::kDayToText, &(day = 789), text);
  EXPECT_EQ(std::string(text, 10), "1972/02/29");

  date_request(7, &day, const_cast<char*>("2024/02/29"));
  EXPECT_EQ(day, 54 * 365 + 13 + 31 + 28);
  date_request(7, &day, const_cast<char*>("2024-03-01"));
  EXPECT_EQ(day, 19783);
  date_request(7, &day, const_cast<char*>("2024.03.01"));
  EXPECT_EQ(day, 19783);
  EXPECT_EQ(error_code_value(), 0);

  // Rejected texts leave the day number alone and set ERROR_CODE 1.
  for (const char* bad : {"2023/02/29", "1969/12/31", "2024/13/01", "2024/00/10", "2024/04/31",
                          "2024/04/00", "20x4/01/01", "2024/1/ 01", "          ", "2100/02/29"}) {
    qw::error_code().set_value(0);
    day = 42;
    date_request(7, &day, const_cast<char*>(bad));
    EXPECT_EQ(day, 42) << bad;
    EXPECT_EQ(error_code_value(), 1) << bad;
  }

  // A day number without a date text leaves the text alone.
  qw::error_code().set_value(0);
  std::string keep = "KEEPKEEPKE";
  date_request(qw::services::kDayToText, &(day = -1), keep.data());
  EXPECT_EQ(keep, "KEEPKEEPKE");
  EXPECT_EQ(error_code_value(), 1);
  qw::error_code().set_value(0);
}

TEST(ServicesDates, ClockRequests) {
  int64_t secs = 0, today = 0, usec = -1;
  char text[10];
  date_request(qw::services::kSeconds, &secs, nullptr);
  EXPECT_GT(secs, 1700000000);
  date_request(qw::services::kToday, &today, text);
  EXPECT_EQ(today, secs / 86400);
  EXPECT_EQ(std::string(text, 10), text_of_day(today));
  int64_t tod = 0;
  date_request(qw::services::kTimeOfDay, &tod, &usec);
  EXPECT_GE(tod, secs);
  EXPECT_GE(usec, 0);
  EXPECT_LT(usec, 1000000);
}

TEST(ServicesPrograms, StartAndWaitForExitStatus) {
  TestWord fals("/bin/false");
  qw::error_code().set_value(0);
  qw::services::run_program(fals.word(), false, nullptr);
  EXPECT_EQ(error_code_value(), 0);
  const int64_t pid = qw::Number(CHILD_PID).value();
  ASSERT_GT(pid, 0);
  qw::services::wait_child(pid);
  EXPECT_EQ(error_code_value(), 1);

  TestWord tru("/bin/true   ");
  qw::services::run_program(tru.word(), false, nullptr);
  qw::services::wait_child(qw::Number(CHILD_PID).value());
  EXPECT_EQ(error_code_value(), 0);
}

TEST(ServicesPrograms, BatchOutputComesThroughThePipe) {
  TestWord cmd("/bin/echo hello   big  world", 40);
  int64_t fd = 0;
  qw::error_code().set_value(0);
  qw::services::run_program(cmd.word(), true, &fd);
  ASSERT_GT(fd, 2);
  std::string out;
  char buf[256];
  long n;
  while ((n = qw::sys::read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  qw::sys::close(fd);
  EXPECT_EQ(out, "hello big world\n");
  qw::services::wait_child(qw::Number(CHILD_PID).value());
  EXPECT_EQ(error_code_value(), 0);
}

TEST(ServicesPrograms, FailedStartIsReportedAndTheChildDoesNotRunOn) {
  const long parent = qw::sys::call0(qw::sys::kGetpid);
  TestWord cmd("/no/such/program arg");
  int64_t fd = 99;
  qw::error_code().set_value(0);
  qw::services::run_program(cmd.word(), true, &fd);
  // Only the calling process gets here.
  ASSERT_EQ(qw::sys::call0(qw::sys::kGetpid), parent);
  EXPECT_EQ(error_code_value(), -2);
  EXPECT_EQ(qw::Number(CHILD_PID).value(), 0);
  EXPECT_EQ(fd, -1);

  TestWord blank("", 10);
  qw::services::run_program(blank.word(), false, nullptr);
  EXPECT_EQ(error_code_value(), -2);
  // Waiting without a started program does not block.
  qw::services::wait_child(0);
  EXPECT_EQ(error_code_value(), -10);
  qw::error_code().set_value(0);
}

// A child ended by a signal is reported, not fatal: RETURN_CODE names the
// signal and ERROR_CODE holds 128 + its number, as a shell reports it.
TEST(ServicesPrograms, ChildEndedBySignalIsReported) {
  TestWord sh("/bin/sleep 5");
  qw::services::run_program(sh.word(), false, nullptr);
  const int64_t pid = qw::Number(CHILD_PID).value();
  qw::sys::call2(qw::sys::kKill, pid, 15);
  qw::services::wait_child(pid);
  EXPECT_EQ(qw::return_code().value(), 15);
  EXPECT_EQ(error_code_value(), 128 + 15);
  qw::services::run_program(TestWord("/bin/false").word(), false, nullptr);
  qw::services::wait_child(qw::Number(CHILD_PID).value());
  EXPECT_EQ(qw::return_code().value(), 0);
  EXPECT_EQ(error_code_value(), 1);
  qw::error_code().set_value(0);
}

TEST(ServicesRandom, ByteCountsBoundTheValue) {
  uint64_t seen_high[4] = {0, 0, 0, 0};
  for (int i = 0; i < 3000; ++i) {
    EXPECT_LT(qw::services::random_value(1), 256u);
    EXPECT_LT(qw::services::random_value(2), 65536u);
    EXPECT_LE(qw::services::random_value(4), 0xffffffffu);
    seen_high[0] |= qw::services::random_value(1);
    seen_high[1] |= qw::services::random_value(8) >> 32;
    seen_high[2] |= qw::services::random_value(3) >> 32;  // any other count takes 8
  }
  EXPECT_EQ(seen_high[0], 255u);
  EXPECT_NE(seen_high[1], 0u);
  EXPECT_NE(seen_high[2], 0u);
  // Different calls give different values (2^-64 chance of a false alarm).
  EXPECT_NE(qw::services::random_value(8), qw::services::random_value(8));
}

}  // namespace

// The register entries, called as translated code calls them.
extern "C" void _DATE();
extern "C" void _RANDOM();
extern "C" void _ENVIRONMENT();

namespace {

void call_entry(void (*entry)(), uint64_t r8, uint64_t r9, uint64_t r10, uint64_t r11 = 0,
                uint64_t r12 = 0) {
  register uint64_t a8 asm("r8") = r8;
  register uint64_t a9 asm("r9") = r9;
  register uint64_t a10 asm("r10") = r10;
  register uint64_t a11 asm("r11") = r11;
  register uint64_t a12 asm("r12") = r12;
  // Below the red zone, so that the call's return address disturbs nothing.
  asm volatile("sub $128, %%rsp\n\tcall *%[e]\n\tadd $128, %%rsp"
               : "+r"(a8), "+r"(a9), "+r"(a10), "+r"(a11), "+r"(a12)
               : [e] "r"(entry)
               : "memory", "cc");
}

TEST(ServicesEntries, DateRandomAndEnvironmentThroughRegisters) {
  int64_t day = 789;
  char text[10];
  call_entry(_DATE, 1, reinterpret_cast<uint64_t>(&day), reinterpret_cast<uint64_t>(text));
  EXPECT_EQ(std::string(text, 10), "1972/02/29");
  call_entry(_DATE, 2, reinterpret_cast<uint64_t>(&day), reinterpret_cast<uint64_t>("1971/01/01"));
  EXPECT_EQ(day, 365);

  // A number holding the byte count 2; the value lands in 8 bytes.
  uint8_t count[17 + 8 + 1] = {};
  qw::store64(count, 1);
  count[8] = '9';
  qw::store64(count + 9, 1);
  qw::store64(count + 17, 2);
  count[25] = '9';
  uint64_t value[2] = {~0ull, 0x5a5a};
  for (int i = 0; i < 100; ++i) {
    call_entry(_RANDOM, 0, reinterpret_cast<uint64_t>(count + 17), reinterpret_cast<uint64_t>(value));
    ASSERT_LT(value[0], 65536u);
    ASSERT_EQ(value[1], 0x5a5au);
  }

  // The name as a substring: "xxPATHyy" from 3 for 4.
  FakeStack stack({"PATH=/bin"});
  TestWord name("xxPATHyy");
  TestWord dest("", 8);
  call_entry(_ENVIRONMENT, 0, reinterpret_cast<uint64_t>(name.data()), 3, 4,
             reinterpret_cast<uint64_t>(dest.data()));
  EXPECT_EQ(dest.str(), "/bin    ");
}

}  // namespace
