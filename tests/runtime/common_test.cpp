// The fatal exit, the program end, the operand normalisation and the block
// primitives.  The message tables themselves: message_lines_test.cpp.
#include <sys/syscall.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "arena.h"
#include "common.h"
#include "item.h"
#include "positions.h"

extern "C" {
extern const char err01[];
void _MOVSTR();
void _PADSTR();
void _CMPSTR();
}

namespace {

std::string padded(const std::string& s, size_t n) { return s + std::string(n - s.size(), ' '); }

using qwtest::fatal_output;

TEST(FatalExit, KernelAndLibraryForms) {
  EXPECT_EQ(fatal_output([] { qw::sys_error(-2, nullptr); }),
            "\x1b[91mSystem Error is " + padded("002:No such file or directory", 64) + "\n");
  EXPECT_EQ(fatal_output([] { qw::fatal_kernel(-110); }),
            "\x1b[91mSystem Error is " + padded("110:Connection timed out", 64) + "\n");
  EXPECT_EQ(fatal_output([] { qw::fatal_library(qw::kErrNotTable); }),
            "\x1b[91m\n" + padded("TABLES[error]:- You have not passed a valid table", 80) + "\n");
  EXPECT_EQ(fatal_output([] { qw::sys_error(0, nullptr); }), "\x1b[91m");
  // A positive error number is read as the kernel error it names.
  EXPECT_EQ(fatal_output([] { qw::sys_error(12, nullptr); }),
            "\x1b[91mSystem Error is " + padded("012:Out of memory", 64) + "\n");
  // A number outside the table still ends the program, with line 000.
  EXPECT_EQ(fatal_output([] { qw::sys_error(-999, nullptr); }),
            "\x1b[91mSystem Error is " + padded("000:Quillwright error", 64) + "\n");
  // About a file: its name follows; a failure met on the way out (a flush
  // of held lines) is shown after the message that ended the run.
  EXPECT_EQ(fatal_output([] {
              qw::set_exit_flush([](bool) { qw::report_at_end(-28, "held.txt"); });
              qw::fatal_line_about(err01, "data.txt");
            }),
            "\x1b[91m\n" + padded("NUMBERS[error]:- non numeric field", 80) +
                "\nFile: data.txt\n\x1b[91mSystem Error is " +
                padded("028:No space left on device", 64) + "\nFile: held.txt\n");
}

bool g_cleaned = false;
void mark_cleaned() {
  g_cleaned = true;
  write(1, "cleanup;", 8);
}

TEST(FatalExit, CleanupRunsFirst) {
  EXPECT_EQ(fatal_output([] {
              qw::set_fatal_cleanup(mark_cleaned);
              qw::fatal_line(err01);
            }),
            "cleanup;\x1b[91m\n" + padded("NUMBERS[error]:- non numeric field", 80) + "\n");
}

TEST(EndProgram, ExitsWithErrorCode) {
  EXPECT_EQ(fatal_output(
                [] {
                  qw::store64(ERROR_CODE, 42);
                  qw::end_program();
                },
                42),
            "");
  // The kernel keeps 8 bits: a status it would cut to 0 ends with 255.
  for (int64_t code : {256, 512, -2})
    fatal_output([code] {
      qw::store64(ERROR_CODE, code);
      qw::end_program();
    }, 255);
}

// An ending signal runs the cleanup and the flush (after a hold is
// released), then ends the program by that signal.
TEST(SignalPath, FlushesCleansUpAndEndsByTheSignal) {
  EXPECT_EXIT(
      {
        qw::set_fatal_cleanup([] { (void)!write(2, "cleanup;", 8); });
        qw::set_exit_flush([](bool quietly) { (void)!write(2, quietly ? "flush;" : "loud;", 6); });
        qw::hold_signals();
        kill(getpid(), SIGTERM);
        (void)!write(2, "held;", 5);
        qw::release_signals();
        (void)!write(2, "not reached", 11);
      },
      ::testing::KilledBySignal(SIGTERM), "held;cleanup;flush;$");
}

TEST(Validate, SourceSubstring) {
  qwtest::TextWord w("", 10);
  auto src = [&](uint64_t s, uint64_t l) {
    qw::validate_source(w.data(), s, l);
    return std::make_pair(s, l);
  };
  EXPECT_EQ(src(0, 0), std::make_pair(1ul, 10ul));
  EXPECT_EQ(src(70000, 3), std::make_pair(1ul, 3ul));
  EXPECT_EQ(src(12, 5), std::make_pair(10ul, 1ul));
  EXPECT_EQ(src(static_cast<uint64_t>(-4), 2), std::make_pair(1ul, 2ul));
  EXPECT_EQ(src(4, static_cast<uint64_t>(-1)), std::make_pair(4ul, 7ul));
  EXPECT_EQ(src(4, 65536), std::make_pair(4ul, 1ul));
  EXPECT_EQ(src(8, 5), std::make_pair(8ul, 3ul));
  // A number source is not touched.
  uint8_t num[17 + 9] = {};
  num[8] = '9';
  uint64_t s = 0, l = 0;
  qw::validate_source(num + 17, s, l);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(l, 0u);
}

TEST(Validate, DestinationStart) {
  qwtest::TextWord w("", 10);
  auto dst = [&](uint64_t s, uint64_t n) {
    qw::validate_destination(w.data(), s, n);
    return s;
  };
  EXPECT_EQ(dst(0, 3), 1u);
  EXPECT_EQ(dst(static_cast<uint64_t>(-1), 3), 1u);
  EXPECT_EQ(dst(65536, 3), 1u);
  EXPECT_EQ(dst(5, 3), 5u);
  EXPECT_EQ(dst(11, 3), 8u);
  // A source longer than the word never gives a start before 1.
  EXPECT_EQ(dst(11, 30), 1u);
}

// Calls a block primitive with rsi, rdi, rcx; returns -1/0/1 from the
// unsigned flags and checks that the three registers come back unchanged.
int cmpstr(const char* a, const char* b, uint64_t n) {
  const char* si = a;
  const char* di = b;
  uint64_t cx = n;
  uint8_t above, below;
  asm volatile("call _CMPSTR\n seta %3\n setb %4"
               : "+S"(si), "+D"(di), "+c"(cx), "=r"(above), "=r"(below)
               :
               : "memory", "cc");
  EXPECT_EQ(si, a);
  EXPECT_EQ(di, b);
  EXPECT_EQ(cx, n);
  return above ? 1 : (below ? -1 : 0);
}

TEST(Primitives, CompareGroupsBigEndian) {
  EXPECT_EQ(cmpstr("abcdefgh", "abcdefgh", 8), 0);
  EXPECT_EQ(cmpstr("abcdefgi", "abcdefgh", 8), 1);
  EXPECT_EQ(cmpstr("Abcdefgz", "abcdefga", 8), -1);  // first byte decides
  for (uint64_t n = 0; n <= 23; ++n) {
    std::string x(n, 'q'), y(n, 'q');
    EXPECT_EQ(cmpstr(x.c_str(), y.c_str(), n), 0) << n;
    if (n == 0) continue;
    for (uint64_t k = 0; k < n; ++k) {
      std::string u = x, v = y;
      u[k] = '\x90';  // unsigned: above every ASCII byte
      v[n - 1] = 'a';
      EXPECT_EQ(cmpstr(u.c_str(), v.c_str(), n), 1) << n << " " << k;
      EXPECT_EQ(cmpstr(v.c_str(), u.c_str(), n), -1) << n << " " << k;
    }
  }
}

TEST(Primitives, MoveAndPadEveryLength) {
  for (uint64_t n = 0; n <= 21; ++n) {
    char src[32], dst[32];
    for (int i = 0; i < 32; ++i) src[i] = static_cast<char>('A' + i), dst[i] = '.';
    const char* si = src;
    char* di = dst;
    uint64_t cx = n;
    asm volatile("call _MOVSTR" : "+S"(si), "+D"(di), "+c"(cx) : : "memory", "cc");
    EXPECT_EQ(std::string(dst, n), std::string(src, n));
    EXPECT_EQ(dst[n], '.');
    EXPECT_EQ(cx, n);
    di = dst;
    asm volatile("call _PADSTR" : "+D"(di), "+c"(cx) : : "memory", "cc");
    EXPECT_EQ(std::string(dst, n), std::string(n, ' '));
    EXPECT_EQ(dst[n], '.');
  }
}

}  // namespace

// The line table the macro package writes (include/lines.mac), read for a
// return address: every record form and a second block.
TEST(LineTable, EveryRecordFormNamesItsLines) {
  std::vector<uint8_t> t;
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) t.push_back(uint8_t(v >> 8 * i)); };
  auto block = [&](uint64_t code) {
    t.push_back(0xFE);
    const uint64_t field = reinterpret_cast<uint64_t>(t.data()) + t.size();
    put32(uint32_t(code - field));  // the table is not moved afterwards
  };
  t.reserve(256);
  const uint64_t code = reinterpret_cast<uint64_t>(t.data()) + 0x100000;
  block(code);
  t.insert(t.end(), {250, 0, 0, 0, 5, 'p', '.', 'Q', 'W', 'R'});  // +0: p.QWR line 10
  put32(10);
  put32(20 << 8 | 3);                       // +20: line 13
  put32(1000 << 8 | 248);                   // +1000: line 900
  put32(900);
  put32(30 << 8 | 249);                     // +30: no line
  block(code + 0x10000);                    // a second object
  t.insert(t.end(), {250, 0, 0, 0, 5, 'q', '.', 'Q', 'W', 'R'});
  put32(1);
  put32(8 << 8 | 249);
  const uint8_t* end = t.data() + t.size();
  auto line_of = [&](uint64_t address) {
    qw::SourcePosition at;
    if (!qw::position_of(address, t.data(), end, at)) return std::string("none");
    return std::string(at.file, at.file_length) + ":" + std::to_string(at.line);
  };
  EXPECT_EQ(line_of(code), "none");  // a return address lies after its call
  EXPECT_EQ(line_of(code + 1), "p.QWR:10");
  EXPECT_EQ(line_of(code + 20), "p.QWR:10");
  EXPECT_EQ(line_of(code + 21), "p.QWR:13");
  EXPECT_EQ(line_of(code + 1020), "p.QWR:13");
  EXPECT_EQ(line_of(code + 1021), "p.QWR:900");
  EXPECT_EQ(line_of(code + 1051), "none");
  EXPECT_EQ(line_of(code + 0x10005), "q.QWR:1");
  EXPECT_EQ(line_of(code + 0x10009), "none");
  // a cut table names nothing rather than reading past its end
  qw::SourcePosition at;
  EXPECT_FALSE(qw::position_of(code + 21, t.data(), t.data() + 14, at));
}
