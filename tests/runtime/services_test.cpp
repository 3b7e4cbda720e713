// Common services: environment lookup, dates, starting programs, random
// numbers.
// The runtime directory has its own syscall.h, which hides the C library's;
// the system call numbers the C++ library needs come from here first.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <string>

#include "item.h"
#include "services.h"

namespace {

// A word item with its header, built in a buffer.
struct TestWord {
  uint8_t raw[17 + 256] = {};
  explicit TestWord(const std::string& text, uint64_t length = 0) {
    if (length == 0) length = text.size();
    qw::store64(raw, 0);
    raw[8] = 'X';
    qw::store64(raw + 9, static_cast<int64_t>(length));
    for (uint64_t i = 0; i < length; ++i) raw[17 + i] = i < text.size() ? text[i] : ' ';
  }
  void* data() { return raw + 17; }
  qw::Word word() { return qw::Word(data()); }
  std::string str() { return std::string(reinterpret_cast<char*>(raw + 17), word().length()); }
};

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

TEST(Environment, NameWithTrailingBlanksMatchesAndPrefixesDoNot) {
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

TEST(Environment, ValueIsCutAtTheDestinationAndNotPadded) {
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
