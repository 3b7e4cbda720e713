// Terminal module: output sequences byte for byte, cursor positions, line
// input, field input from a pipe, and the fatal path while a field is open
// on a pseudo-terminal.  Every wait is bounded.  Keys typed on a terminal
// are tested end to end by tests/language/field_input_test.py.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "arena.h"
#include "common.h"
#include "item.h"
#include "keys.h"
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
      {v_ResetBold, e + "[22m"},
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

// Two digits each, three from 100 up; positions outside 0 .. 999 are
// brought to its ends.  v_Cursor, RowX and ColX keep what was written, Row9
// and Col9 the position.
TEST(TerminalDisplay, CursorPlacesRowAndColumn) {
  struct {
    int64_t row, col;
    std::string seq, row_text, col_text;
  } cases[] = {
      {5, 42, "\x1b[05;42H", "05", "42"},
      {3, 120, "\x1b[03;120H", "03", "120"},
      {999, 100, "\x1b[999;100H", "999", "100"},
      {1000, -4, "\x1b[999;00H", "999", "00"},
      {24, 1, "\x1b[24;01H", "24", "01"},
  };
  for (const auto& c : cases) {
    qw::Number(Row9).set_value(c.row);
    qw::Number(Col9).set_value(c.col);
    Capture cap;
    qw::terminal::cursor();
    EXPECT_EQ(cap.take(), c.seq);
    EXPECT_EQ(text(v_Cursor), c.seq);
    EXPECT_EQ(text(RowX), c.row_text);
    EXPECT_EQ(text(ColX), c.col_text);
    EXPECT_EQ(qw::Number(Row9).value(), std::clamp<int64_t>(c.row, 0, 999));
    EXPECT_EQ(qw::Number(Col9).value(), std::clamp<int64_t>(c.col, 0, 999));
  }
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

// From a pipe, keys are read one at a time: each field starts with what
// the one before left, and a line read after a field gets the rest.
TEST(TerminalFieldInput, PipedInputIsReadOneKeyAtATime) {
  Input in("ab\ncd\x1b[15~ef\x1b[Ag\x1bzh\x1b[2~ij\rline\n");
  const int64_t want_codes[] = {0, 5, 14, 13, 20, 0};
  const char* want_fields[] = {"ab  ", "cd  ", "ef  ", "gz  ", "h   ", "ij  "};
  for (int i = 0; i < 6; ++i) {
    TestWord<4> field("");
    qw::terminal::accept_field(field.word(), 1, 4, false);
    EXPECT_EQ(qw::return_code().value(), want_codes[i]) << i;
    EXPECT_EQ(field.str(), want_fields[i]) << i;
  }
  TestWord<8> line("");
  qw::terminal::accept_line(line.data());
  EXPECT_EQ(line.str(), "line    ");
  TestWord<4> field("");
  qw::terminal::accept_field(field.word(), 1, 4, false);  // the end of the input
  EXPECT_EQ(qw::return_code().value(), 27);
}

// The fatal path puts the terminal back while a field is open, and shows
// the cursor the program hid.
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
    qw::terminal::display(v_HideCursor, 1, 6);
    TestWord<10> field("");
    qw::terminal::accept_field(field.word(), 1, 10, false);
    _exit(0);
  }
  int slave_keep = open(slave_name.c_str(), O_RDWR | O_NOCTTY);  // keeps the settings alive
  // While the field is open, canonical mode and echo are off.
  bool saw_raw = false;
  termios t{};
  for (int i = 0; i < 80 && !saw_raw; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    saw_raw = tcgetattr(slave_keep, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0;
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
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  char shown[4096];
  const ssize_t n = read(master, shown, sizeof shown);
  EXPECT_NE(std::string(shown, n > 0 ? n : 0).find("\x1b[?25l\x1b[?25h"), std::string::npos);
  close(slave_keep);
  close(master);
}

}  // namespace

// The macro package defines every key and truth constant of keys.h, with
// the table's value, and no other.
TEST(KeyConstants, TheMacroPackageDefinesTheTable) {
  std::ifstream dictionary(QW_SOURCE_DIR "/include/BEGIN.DICTIONARY");
  ASSERT_TRUE(dictionary) << "include/BEGIN.DICTIONARY";
  std::map<std::string, int64_t> defined;
  std::string line;
  while (std::getline(dictionary, line)) {
    std::istringstream words(line);
    std::string directive, name;
    int64_t value;
    if (words >> directive >> name >> value && directive == "%define" && name.rfind("C_", 0) == 0)
      defined[name] = value;
  }
  std::map<std::string, int64_t> table;
  for (const auto& c : qw::keys::kConstants) table[c.name] = c.value;
  EXPECT_EQ(defined, table);
}
