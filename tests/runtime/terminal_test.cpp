// Terminal module: output sequences byte for byte, line input, and field
// input driven through a pseudo-terminal.  Every wait is bounded.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "arena.h"
#include "common.h"
#include "item.h"
#include "terminal.h"

extern "C" {
extern uint8_t v_BlackFG[], v_LightGreyFG[], v_DarkGreyFG[], v_BlackBG[], v_DarkGreyBG[];
extern uint8_t v_LightCyanBG[], v_Dim[], v_Underlined[], v_Blink[], v_Reverse[];
extern uint8_t v_ResetDim[], v_ResetUnderlined[], v_ResetBlink[], v_ResetReverse[];
extern uint8_t v_GreenFG[], v_YellowFG[], v_BlueFG[], v_MagentaFG[], v_CyanFG[];
extern uint8_t v_LightGreenFG[], v_LightYellowFG[], v_LightBlueFG[], v_LightMagentaFG[];
extern uint8_t v_LightCyanFG[], v_RedBG[], v_GreenBG[], v_YellowBG[], v_BlueBG[];
extern uint8_t v_MagentaBG[], v_CyanBG[], v_LightRedBG[], v_LightGreenBG[];
extern uint8_t v_LightYellowBG[], v_LightBlueBG[], v_LightMagentaBG[];
}

namespace {

using qwtest::TestNumber;
using qwtest::TestWord;
using qwtest::text;

// Captures what the terminal module writes to standard output.
class Capture {
 public:
  Capture() {
    if (pipe(fds_) != 0) abort();
    saved_ = StdOutHandle;
    StdOutHandle = fds_[1];
  }
  std::string take() {
    StdOutHandle = saved_;
    close(fds_[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, n);
    close(fds_[0]);
    return out;
  }

 private:
  int fds_[2];
  int64_t saved_;
};

TEST(TerminalDisplayWords, ExactSequences) {
  const std::string e = "\x1b";
  struct {
    const uint8_t* item;
    std::string seq;
  } cases[] = {
      {v_ClearScreen, e + "c"},
      {v_Cursor, e + "[00;00H"},
      {v_TopLeft, e + "(0l" + e + "(B"},
      {v_TopRight, e + "(0k" + e + "(B"},
      {v_BottomLeft, e + "(0m" + e + "(B"},
      {v_BottomRight, e + "(0j" + e + "(B"},
      {v_Line, e + "(0q" + e + "(B"},
      {v_Bar, e + "(0x" + e + "(B"},
      {v_Cross, e + "(0n" + e + "(B"},
      {v_MiddleLeft, e + "(0t" + e + "(B"},
      {v_MiddleRight, e + "(0u" + e + "(B"},
      {v_MiddleTop, e + "(0w" + e + "(B"},
      {v_MiddleBottom, e + "(0v" + e + "(B"},
      {v_DefaultFG, e + "[39m"},
      {v_BlackFG, e + "[30m"},
      {v_RedFG, e + "[31m"},
      {v_LightGreyFG, e + "[37m"},
      {v_DarkGreyFG, e + "[90m"},
      {v_LightRedFG, e + "[91m"},
      {v_WhiteFG, e + "[97m"},
      {v_DefaultBG, e + "[49m"},
      {v_BlackBG, e + "[40m"},
      {v_LightGreyBG, e + "[47m"},
      {v_DarkGreyBG, e + "[100m"},
      {v_LightCyanBG, e + "[106m"},
      {v_WhiteBG, e + "[107m"},
      {v_ResetAll, e + "[0m"},
      {v_Bold, e + "[1m"},
      {v_Dim, e + "[2m"},
      {v_Underlined, e + "[4m"},
      {v_Blink, e + "[5m"},
      {v_Reverse, e + "[7m"},
      {v_Hidden, e + "[8m"},
      {v_ResetBold, e + "[21m"},
      {v_ResetDim, e + "[22m"},
      {v_ResetUnderlined, e + "[24m"},
      {v_ResetBlink, e + "[25m"},
      {v_ResetReverse, e + "[27m"},
      {v_ResetHidden, e + "[28m"},
      {v_HideCursor, e + "[?25l"},
      {v_ShowCursor, e + "[?25h"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text(c.item), c.seq);
    EXPECT_EQ(c.item[-9], 'X');
    EXPECT_EQ(qw::load64(c.item - 17), 0);
  }
  // Displaying a word writes it as it is, nothing more.
  Capture cap;
  qw::terminal::display(v_BottomRight, 1, 7);
  EXPECT_EQ(cap.take(), e + "(0j" + e + "(B");
}

// The colours between the first and last of each run: foreground 30 to 37
// and 90 to 97, background 40 to 47 and 100 to 107, in the order of the
// colour names.
TEST(TerminalDisplayWords, EveryColourInItsRun) {
  const std::string e = "\x1b";
  const uint8_t* fg[] = {v_BlackFG, v_RedFG, v_GreenFG, v_YellowFG,
                         v_BlueFG,  v_MagentaFG, v_CyanFG, v_LightGreyFG};
  const uint8_t* light_fg[] = {v_DarkGreyFG, v_LightRedFG,     v_LightGreenFG, v_LightYellowFG,
                               v_LightBlueFG, v_LightMagentaFG, v_LightCyanFG,  v_WhiteFG};
  const uint8_t* bg[] = {v_BlackBG, v_RedBG, v_GreenBG, v_YellowBG,
                         v_BlueBG,  v_MagentaBG, v_CyanBG, v_LightGreyBG};
  const uint8_t* light_bg[] = {v_DarkGreyBG, v_LightRedBG,     v_LightGreenBG, v_LightYellowBG,
                               v_LightBlueBG, v_LightMagentaBG, v_LightCyanBG,  v_WhiteBG};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(text(fg[i]), e + "[3" + std::to_string(i) + "m") << i;
    EXPECT_EQ(text(light_fg[i]), e + "[9" + std::to_string(i) + "m") << i;
    EXPECT_EQ(text(bg[i]), e + "[4" + std::to_string(i) + "m") << i;
    EXPECT_EQ(text(light_bg[i]), e + "[10" + std::to_string(i) + "m") << i;
  }
}

TEST(TerminalDisplay, WordSubstringsAndNumbers) {
  TestWord<10> w("abcdefghij");
  Capture cap;
  qw::terminal::display(w.data(), 3, 4);
  qw::terminal::display(w.data(), 0, 0);   // the whole word
  qw::terminal::display(w.data(), 9, 50);  // cut at the word's end
  TestNumber seven(7, "99");
  qw::terminal::display(seven.data(), 0, 0);
  TestNumber money(-123450, "##,##9.99-");
  qw::terminal::display(money.data(), 0, 0);
  EXPECT_EQ(cap.take(), "cdef" "abcdefghij" "ij" "07" " 1,234.50-");
  EXPECT_EQ(text(w_Temp), " 1,234.50-");
  qw::Word(w_Temp).set_length(128);
}

TEST(TerminalDisplay, CursorPlacesRowAndColumn) {
  qw::Number(Row9).set_value(5);
  qw::Number(Col9).set_value(42);
  Capture cap;
  qw::terminal::cursor();
  qw::Number(Row9).set_value(24);
  qw::Number(Col9).set_value(1);
  qw::terminal::cursor();
  EXPECT_EQ(cap.take(), "\x1b[05;42H\x1b[24;01H");
  EXPECT_EQ(text(RowX), "24");
  EXPECT_EQ(text(ColX), "01");
}

// Feeds standard input from a pipe for line input.
class Input {
 public:
  explicit Input(const std::string& text) {
    if (pipe(fds_) != 0) abort();
    if (write(fds_[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
    close(fds_[1]);
    saved_ = StdInHandle;
    StdInHandle = fds_[0];
  }
  ~Input() {
    StdInHandle = saved_;
    close(fds_[0]);
  }

 private:
  int fds_[2];
  int64_t saved_;
};

TEST(TerminalLineInput, WordsOneLineAtATime) {
  Input in("abc\n\nthis line is longer than the word\n\r\nxy\r\n\x1b\nlast");
  TestWord<10> w("XXXXXXXXXX");
  qw::terminal::accept_line(w.data());
  EXPECT_EQ(w.str(), "abc       ");
  EXPECT_EQ(qw::return_code().value(), 0);
  qw::terminal::accept_line(w.data());  // empty line: unchanged
  EXPECT_EQ(w.str(), "abc       ");
  qw::terminal::accept_line(w.data());
  EXPECT_EQ(w.str(), "this line ");
  EXPECT_TRUE(w.guard_intact());
  qw::terminal::accept_line(w.data());  // a line ended the DOS way: empty
  EXPECT_EQ(w.str(), "this line ");
  qw::terminal::accept_line(w.data());
  EXPECT_EQ(w.str(), "xy        ");
  qw::terminal::accept_line(w.data());  // escape
  EXPECT_EQ(qw::return_code().value(), 27);
  EXPECT_EQ(w.str(), "xy        ");
  qw::terminal::accept_line(w.data());  // a last line without line feed
  EXPECT_EQ(w.str(), "last      ");
  EXPECT_EQ(qw::return_code().value(), 0);
  qw::terminal::accept_line(w.data());  // end of input
  EXPECT_EQ(qw::return_code().value(), qw::terminal::kEndOfInput);
  EXPECT_EQ(w.str(), "last      ");
}

TEST(TerminalLineInput, LongLinesAreCutAndTheRestDropped) {
  Input in(std::string(10000, 'x') + "\nnext\n");
  TestWord<200> w("");
  qw::terminal::accept_line(w.data());
  EXPECT_EQ(w.str(), std::string(200, 'x'));
  EXPECT_TRUE(w.guard_intact());
  qw::terminal::accept_line(w.data());
  EXPECT_EQ(w.str().substr(0, 5), "next ");
}

TEST(TerminalLineInput, Numbers) {
  Input in("12.50\n\n");
  TestNumber n(99, "9999.9999");
  qw::terminal::accept_line(n.data());
  EXPECT_EQ(n.value(), 125000);
  qw::terminal::accept_line(n.data());  // empty line: unchanged
  EXPECT_EQ(n.value(), 125000);
}

TEST(TerminalFieldKeys, DecodingOfOneRead) {
  struct {
    std::string keys;
    int64_t code;
    std::string field;
  } cases[] = {
      {"\n", 0, "          "},
      {"\t", 22, "          "},
      {"\x1b", 27, "          "},
      {"\x7f", 127, "          "},
      {"\x1bx", 13, "x         "},
      {"\x1b[A", 14, "          "},
      {"\x1b[B", 15, "          "},
      {"\x1b[C", 16, "          "},
      {"\x1b[D", 17, "          "},
      {"\x1b[F", 18, "          "},
      {"\x1b[H", 19, "          "},
      {"\x1b[2", 20, "          "},
      {"\x1b[2~", 20, "          "},
      {"\x1b[11~", 1, "          "},
      {"\x1b[12~", 2, "          "},
      {"\x1b[13~", 3, "          "},
      {"\x1b[14~", 4, "          "},
      {"\x1b[15~", 5, "          "},
      {"\x1b[17~", 6, "          "},
      {"\x1b[18~", 7, "          "},
      {"\x1b[19~", 8, "          "},
      {"\x1b[20~", 9, "          "},
      {"\x1b[21~", 10, "          "},
      {"\x1b[23~", 11, "          "},
      {"\x1b[24~", 12, "          "},
      {"\x1b[16~", -1, "          "},  // no such key: dropped, keep reading
      {"\x1b[Z", -1, "          "},
      {"ab", -1, "ab        "},
      {"ab\n", 0, "ab        "},
      {"0123456789", 21, "0123456789"},
      {"0123456789xyz", 21, "0123456789"},
  };
  for (const auto& c : cases) {
    TestWord<10> field("");
    uint64_t pos = 0;
    const int64_t code = qw::terminal::take_keys(reinterpret_cast<const uint8_t*>(c.keys.data()),
                                                 static_cast<long>(c.keys.size()), field.word(), pos);
    EXPECT_EQ(code, c.code) << c.keys.substr(1);
    EXPECT_EQ(field.str(), c.field) << c.keys.substr(1);
    EXPECT_TRUE(field.guard_intact());
  }
}

TEST(TerminalFieldInput, PipedInputIsReadOneKeyAtATime) {
  Input in("ab\ncd\x1b[15~ef\x1b[Ag\x1bzh\x1b[2~");
  const int64_t want_codes[] = {0, 5, 14, 13, 20, 27};
  const char* want_fields[] = {"ab  ", "cd  ", "ef  ", "gz  ", "h   ", "    "};
  for (int i = 0; i < 6; ++i) {
    TestWord<4> field("");
    qw::terminal::accept_at(field.word());
    EXPECT_EQ(qw::return_code().value(), want_codes[i]) << i;
    EXPECT_EQ(field.str(), want_fields[i]) << i;
  }
}

// Runs field input in a child whose standard input and output are a
// pseudo-terminal; the keys are typed one write at a time.
struct FieldResult {
  int64_t code = -100;
  std::string field;
  bool settings_restored = false;
};

FieldResult type_into_field(const std::string& initial, const std::vector<std::string>& keys) {
  FieldResult result;
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
  const std::string slave_name = ptsname(master);
  int out[2];
  if (pipe(out) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    setsid();
    int slave = open(slave_name.c_str(), O_RDWR);
    dup2(slave, 0);
    dup2(slave, 1);
    termios before{};
    tcgetattr(0, &before);
    TestWord<10> field(initial);
    if (write(out[1], "R", 1) != 1) _exit(2);  // ready for keys
    qw::terminal::accept_at(field.word());
    termios after{};
    tcgetattr(0, &after);
    const char restored = memcmp(&before, &after, sizeof before) == 0 ? 'Y' : 'N';
    int64_t code = qw::return_code().value();
    if (write(out[1], &code, 8) != 8 || write(out[1], &restored, 1) != 1 ||
        write(out[1], field.raw + 17, 10) != 10)
      _exit(2);
    _exit(0);
  }
  close(out[1]);
  pollfd p{out[0], POLLIN, 0};
  char ready;
  if (poll(&p, 1, 5000) > 0 && read(out[0], &ready, 1) == 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (const auto& k : keys) {
      if (write(master, k.data(), k.size()) != static_cast<ssize_t>(k.size())) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    char buf[19];
    size_t got = 0;
    while (got < sizeof buf && poll(&p, 1, 5000) > 0) {
      ssize_t n = read(out[0], buf + got, sizeof buf - got);
      if (n <= 0) break;
      got += n;
    }
    if (got == sizeof buf) {
      memcpy(&result.code, buf, 8);
      result.settings_restored = buf[8] == 'Y';
      result.field.assign(buf + 9, 10);
    }
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(out[0]);
  close(master);
  return result;
}

TEST(TerminalFieldInput, TypedKeysThroughATerminal) {
  FieldResult r = type_into_field("..........", {"a", "b", "c", "\r"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.field, "abc.......");
  EXPECT_TRUE(r.settings_restored);

  r = type_into_field("", {"0123", "45", "6789"});
  EXPECT_EQ(r.code, 21);
  EXPECT_EQ(r.field, "0123456789");
  EXPECT_TRUE(r.settings_restored);

  r = type_into_field("", {"x", "\x1b[15~"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.field, "x         ");
  r = type_into_field("", {"\x1b[A"});
  EXPECT_EQ(r.code, 14);
  r = type_into_field("", {"\x1b[24~"});
  EXPECT_EQ(r.code, 12);
  r = type_into_field("", {"\t"});
  EXPECT_EQ(r.code, 22);
  r = type_into_field("", {"\x1b"});
  EXPECT_EQ(r.code, 27);
  r = type_into_field("", {"\x7f"});
  EXPECT_EQ(r.code, 127);
  r = type_into_field("", {"q", "\x1bz"});
  EXPECT_EQ(r.code, 13);
  EXPECT_EQ(r.field, "qz        ");
  r = type_into_field("", {"\x1b[3~", "\x1b[H"});  // an unknown key is skipped
  EXPECT_EQ(r.code, 19);
  EXPECT_TRUE(r.settings_restored);
}

// The fatal path puts the terminal back while a field is open.
TEST(TerminalFieldInput, FatalEndRestoresTheTerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave_name = ptsname(master);
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int slave = open(slave_name.c_str(), O_RDWR);
    dup2(slave, 0);
    dup2(slave, 1);
    signal(SIGALRM, [](int) { qw::fatal_kernel(-4); });
    alarm(1);
    TestWord<10> field("");
    qw::terminal::accept_at(field.word());
    _exit(0);
  }
  int slave_keep = open(slave_name.c_str(), O_RDWR | O_NOCTTY);  // keeps the settings alive
  // While the field is open, canonical mode is off.
  bool saw_raw = false;
  termios t{};
  for (int i = 0; i < 80 && !saw_raw; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    saw_raw = tcgetattr(slave_keep, &t) == 0 && (t.c_lflag & ICANON) == 0;
  }
  int status = 0;
  for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (kill(pid, 0) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  EXPECT_TRUE(saw_raw);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  ASSERT_EQ(tcgetattr(slave_keep, &t), 0);
  EXPECT_NE(t.c_lflag & ICANON, 0u);
  close(slave_keep);
  close(master);
}

}  // namespace
