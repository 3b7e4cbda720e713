// Terminal module: standard handles, the command line, display, cursor,
// line input and field input.  Also delivered as an object of its own, so it
// needs nothing from the library but numbers, words and the fatal path.
#include "terminal.h"

#include "bridge.h"
#include "common.h"
#include "item.h"
#include "numbers.h"
#include "kernel.h"

// The display words: each a word item (17-byte header, then the sequence),
// so that programs show them with _DISPLAY like any other word.  The box
// characters switch to the DEC special graphics set for one character.
asm(R"(
  .section .data
  .macro QW_SEQ name:req, text:req
    .quad 0
    .byte 'X'
    .quad .Lend_\name - \name
    .globl \name
  \name:
    .ascii "\text"
  .Lend_\name:
  .endm
  .macro QW_BOX name:req, ch:req
    QW_SEQ \name, "\033(0\ch\033(B"
  .endm
  .macro QW_NUM name:req, picture:req
    .quad 1
    .byte '9'
    .quad .Lend_\name - \name - 8
    .globl \name
  \name:
    .quad 0
    .ascii "\picture"
  .Lend_\name:
  .endm
  .macro QW_BLANKS name:req, n:req
    .quad 0
    .byte 'X'
    .quad \n
    .globl \name
  \name:
    .fill \n, 1, 0x20
  .endm

  QW_SEQ v_ClearScreen, "\033c"
  QW_SEQ v_Cursor, "\033[00;00H"
  .fill 2, 1, 0          # room for three-digit rows and columns
  QW_BOX v_TopLeft, l
  QW_BOX v_TopRight, k
  QW_BOX v_BottomLeft, m
  QW_BOX v_BottomRight, j
  QW_BOX v_Line, q
  QW_BOX v_Bar, x
  QW_BOX v_Cross, n
  QW_BOX v_MiddleLeft, t
  QW_BOX v_MiddleRight, u
  QW_BOX v_MiddleTop, w
  QW_BOX v_MiddleBottom, v
  QW_SEQ v_DefaultFG, "\033[39m"
  QW_SEQ v_BlackFG, "\033[30m"
  QW_SEQ v_RedFG, "\033[31m"
  QW_SEQ v_GreenFG, "\033[32m"
  QW_SEQ v_YellowFG, "\033[33m"
  QW_SEQ v_BlueFG, "\033[34m"
  QW_SEQ v_MagentaFG, "\033[35m"
  QW_SEQ v_CyanFG, "\033[36m"
  QW_SEQ v_LightGreyFG, "\033[37m"
  QW_SEQ v_DarkGreyFG, "\033[90m"
  QW_SEQ v_LightRedFG, "\033[91m"
  QW_SEQ v_LightGreenFG, "\033[92m"
  QW_SEQ v_LightYellowFG, "\033[93m"
  QW_SEQ v_LightBlueFG, "\033[94m"
  QW_SEQ v_LightMagentaFG, "\033[95m"
  QW_SEQ v_LightCyanFG, "\033[96m"
  QW_SEQ v_WhiteFG, "\033[97m"
  QW_SEQ v_DefaultBG, "\033[49m"
  QW_SEQ v_BlackBG, "\033[40m"
  QW_SEQ v_RedBG, "\033[41m"
  QW_SEQ v_GreenBG, "\033[42m"
  QW_SEQ v_YellowBG, "\033[43m"
  QW_SEQ v_BlueBG, "\033[44m"
  QW_SEQ v_MagentaBG, "\033[45m"
  QW_SEQ v_CyanBG, "\033[46m"
  QW_SEQ v_LightGreyBG, "\033[47m"
  QW_SEQ v_DarkGreyBG, "\033[100m"
  QW_SEQ v_LightRedBG, "\033[101m"
  QW_SEQ v_LightGreenBG, "\033[102m"
  QW_SEQ v_LightYellowBG, "\033[103m"
  QW_SEQ v_LightBlueBG, "\033[104m"
  QW_SEQ v_LightMagentaBG, "\033[105m"
  QW_SEQ v_LightCyanBG, "\033[106m"
  QW_SEQ v_WhiteBG, "\033[107m"
  QW_SEQ v_ResetAll, "\033[0m"
  QW_SEQ v_Bold, "\033[1m"
  QW_SEQ v_Dim, "\033[2m"
  QW_SEQ v_Underlined, "\033[4m"
  QW_SEQ v_Blink, "\033[5m"
  QW_SEQ v_Reverse, "\033[7m"
  QW_SEQ v_Hidden, "\033[8m"
  QW_SEQ v_ResetBold, "\033[22m"
  QW_SEQ v_ResetDim, "\033[22m"
  QW_SEQ v_ResetUnderlined, "\033[24m"
  QW_SEQ v_ResetBlink, "\033[25m"
  QW_SEQ v_ResetReverse, "\033[27m"
  QW_SEQ v_ResetHidden, "\033[28m"
  QW_SEQ v_HideCursor, "\033[?25l"
  QW_SEQ v_ShowCursor, "\033[?25h"

  QW_NUM Row9, "99"
  QW_NUM Col9, "99"
  QW_BLANKS RowX, 2
  .fill 1, 1, 0x20       # a third digit from row 100 up
  QW_BLANKS ColX, 2
  .fill 1, 1, 0x20
  QW_NUM CHARS_TYPED, "99999"
  QW_BLANKS w_AcceptAt, 128
  QW_BLANKS w_Function, 4

  .purgem QW_SEQ
  .purgem QW_BOX
  .purgem QW_NUM
  .purgem QW_BLANKS
  .text
)");

namespace qw::terminal {

namespace {

// Terminal settings in the kernel's layout.
struct Termios {
  uint32_t c_iflag, c_oflag, c_cflag, c_lflag;
  uint8_t c_line;
  uint8_t c_cc[19];
};

constexpr uint8_t kEsc = 27;

// Line input reads into this buffer; a longer line keeps its first part.
constexpr long kLineBufferSize = 4096;
uint8_t g_line[kLineBufferSize];

// True when `fd` is ready for `events` within `ms` milliseconds (always
// waiting, when negative); a signal's interruption waits on.
bool ready_within(int64_t fd, short events, long ms) {
  struct {
    int fd;
    short events, revents;
  } p = {static_cast<int>(fd), events, 0};
  long rc;
  do {
    rc = sys::call3(sys::kPoll, reinterpret_cast<long>(&p), 1, ms);
  } while (rc == sys::kEintr);
  return rc > 0 && p.revents != 0;
}

// Output that cannot be written (a full disk, a reader that has gone while
// the pipe signal is ignored) ends the program with the kernel's message:
// a program whose output was cut short never ends as if it succeeded.
void write_all(const void* p, uint64_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  while (n > 0) {
    const long rc = sys::write(StdOutHandle, b, static_cast<long>(n));
    if (rc == sys::kEintr) continue;
    if (rc == sys::kEagain) {
      ready_within(StdOutHandle, sys::kPollOut, -1);  // handed over non-blocking
      continue;
    }
    if (rc < 0) qw::fatal_output(rc);
    if (rc == 0) return;
    b += rc;
    n -= static_cast<uint64_t>(rc);
  }
}

long read_retrying(void* p, long n) {
  long rc;
  do {
    rc = sys::read(StdInHandle, p, n);
  } while (rc == sys::kEintr);
  return rc;
}

bool read_settings(Termios& t) {
  return sys::call3(sys::kIoctl, StdInHandle, sys::kTcgets, reinterpret_cast<long>(&t)) == 0;
}

bool output_is_terminal() {
  Termios t;
  return sys::call3(sys::kIoctl, StdOutHandle, sys::kTcgets, reinterpret_cast<long>(&t)) == 0;
}

// ---------------------------------------------------------------------------
// Cursor positions: 0 to 999; two digits each, three from 100 up.

constexpr int64_t kLastPosition = 999;

int64_t screen_position(int64_t v) { return v < 0 ? 0 : v > kLastPosition ? kLastPosition : v; }

char* put_position(int64_t v, char* out) {
  v = screen_position(v);
  if (v >= 100) *out++ = static_cast<char>('0' + v / 100);
  *out++ = static_cast<char>('0' + (v / 10) % 10);
  *out++ = static_cast<char>('0' + v % 10);
  return out;
}

// Escape "[row;colH" into `out` (room for 10 characters); its length.
uint64_t position_sequence(int64_t row, int64_t col, char* out) {
  char* p = out;
  *p++ = static_cast<char>(kEsc);
  *p++ = '[';
  p = put_position(row, p);
  *p++ = ';';
  p = put_position(col, p);
  *p++ = 'H';
  return static_cast<uint64_t>(p - out);
}

void move_to(int64_t row, int64_t col) {
  char seq[10];
  write_all(seq, position_sequence(row, col, seq));
}

// Row9 and Col9 as positions on the screen: a value beyond is replaced by
// the position used.
void take_position(int64_t& row, int64_t& col) {
  Number r(Row9), c(Col9);
  row = screen_position(r.value());
  col = screen_position(c.value());
  r.set_value(row);
  c.set_value(col);
}

// ---------------------------------------------------------------------------
// What the program changed on the screen that must not outlive it: the
// cursor hidden, colours and attributes set through the display words.

volatile bool g_cursor_hidden = false;
volatile bool g_attributes_set = false;

void note_display_word(const void* item) {
  const uint8_t* p = static_cast<const uint8_t*>(item);
  if (p == v_HideCursor) {
    g_cursor_hidden = true;
  } else if (p == v_ShowCursor) {
    g_cursor_hidden = false;
  } else if (p == v_ClearScreen || p == v_ResetAll) {
    g_attributes_set = false;
    if (p == v_ClearScreen) g_cursor_hidden = false;  // the terminal's reset shows it
  } else if (p >= v_DefaultFG && p <= v_ResetHidden) {
    g_attributes_set = true;
  } else {
    return;
  }
  if (g_cursor_hidden || g_attributes_set) set_fatal_cleanup(restore_terminal);
}

constexpr char kShowCursor[] = "\033[?25h";
constexpr char kHideCursor[] = "\033[?25l";
constexpr char kResetAttributes[] = "\033[0m";

// Shows the cursor and resets the attributes the program changed (only
// system calls: the signal path runs this).
void put_screen_back() {
  if (!(g_cursor_hidden || g_attributes_set) || !output_is_terminal()) return;
  if (g_attributes_set) write_all(kResetAttributes, sizeof kResetAttributes - 1);
  if (g_cursor_hidden) write_all(kShowCursor, sizeof kShowCursor - 1);
}

// ---------------------------------------------------------------------------
// Bytes read from standard input and not taken yet: keys typed ahead or
// pasted, and the first part of an escape sequence, wait here for the next
// field or line read.

constexpr long kPendingSize = 4096;
uint8_t g_pending[kPendingSize];
long g_head = 0, g_tail = 0;
// The last key was a carriage return alone: a line feed that comes next is
// the rest of the same Enter.
bool g_after_return = false;

long pending_count() { return g_tail - g_head; }
const uint8_t* pending_bytes() { return g_pending + g_head; }

void drop_pending(long n) {
  g_head += n;
  if (g_head == g_tail) g_head = g_tail = 0;
}

// Puts bytes taken back in front of what is pending.
void put_back(const uint8_t* b, long n) {
  if (g_head < n) {
    const long count = pending_count();
    for (long i = count; i-- > 0;) g_pending[n + i] = g_pending[g_head + i];
    g_head = n;
    g_tail = n + count;
  }
  g_head -= n;
  for (long i = 0; i < n; ++i) g_pending[g_head + i] = b[i];
}

// True when standard input has something to read within `ms` milliseconds.
bool input_within(long ms) { return ready_within(StdInHandle, sys::kPollIn, ms); }

// Reads more input behind what is pending, waiting at most `wait_ms`
// (always, when negative).  A terminal gives what it has ready; a pipe or a
// file is read a byte at a time, so that nothing beyond the key or line
// asked for is taken from it.  False at the end of the input, or when
// nothing came in time.
bool read_more(bool terminal, long wait_ms) {
  if (wait_ms >= 0 && !input_within(wait_ms)) return false;
  if (g_tail == kPendingSize && g_head > 0) {
    const long n = pending_count();
    for (long i = 0; i < n; ++i) g_pending[i] = g_pending[g_head + i];
    g_head = 0;
    g_tail = n;
  }
  const long room = kPendingSize - g_tail;
  if (room == 0) return false;
  const long got = read_retrying(g_pending + g_tail, terminal ? room : 1);
  if (got <= 0) return false;
  g_tail += got;
  return true;
}

// At least one byte pending, waiting for it; the line feed of an Enter
// that came as carriage return and line feed in two parts is dropped.
bool have_input(bool terminal) {
  for (;;) {
    if (pending_count() == 0 && !read_more(terminal, -1)) return false;
    if (!g_after_return) return true;
    g_after_return = false;
    if (pending_bytes()[0] != '\n') return true;
    drop_pending(1);
  }
}

// One byte of line input: a pending one first, then standard input.
bool take_byte(uint8_t& c) {
  if (!have_input(false)) return false;
  c = pending_bytes()[0];
  drop_pending(1);
  return true;
}

}  // namespace


void get_stdio_handles() {
  StdInHandle = 0;
  StdOutHandle = 1;
  StdErrHandle = 2;
  catch_file_size_signal();
}

// Copies the program's arguments (after its own name) into w_CommandLine,
// one blank between arguments, keeping at most the word's 256 characters.
void get_command_line(const uint64_t* initial_stack) {
  Word line(w_CommandLine);
  const uint64_t size = line.length();
  char* out = line.text();
  for (uint64_t i = 0; i < size; ++i) out[i] = ' ';
  const uint64_t argc = initial_stack[0];
  uint64_t pos = 0;
  for (uint64_t a = 1; a < argc && pos < size; ++a) {
    const char* arg = reinterpret_cast<const char*>(initial_stack[1 + a]);
    while (*arg && pos < size) out[pos++] = *arg++;
    ++pos;  // the blank between arguments
  }
}

void display(void* item, uint64_t start, uint64_t length) {
  Item it(item);
  if (it.is_number()) {
    Number n(item);
    numbers::Picture own;
    const uint64_t len = numbers::edited_length(n, own);
    Word temp = temp_word();
    if (len <= 128) {
      numbers::to_text(n, own, temp.text());
      temp.set_length(len);
      write_all(temp.text(), len);
    } else {
      // A picture longer than the work word is edited in the line buffer.
      if (len > static_cast<uint64_t>(kLineBufferSize)) return;
      numbers::to_text(n, own, reinterpret_cast<char*>(g_line));
      write_all(g_line, len);
    }
    return;
  }
  note_display_word(item);
  validate_source(item, start, length);
  if (length == 0) return;
  write_all(it.data() + start - 1, length);
}

// The sequence is built in v_Cursor itself, and RowX/ColX get the digits,
// so that a program may show any of them again.
void cursor() {
  int64_t row, col;
  take_position(row, col);
  Word seq(v_Cursor);
  seq.set_length(position_sequence(row, col, seq.text()));
  Word row_text(RowX), col_text(ColX);
  row_text.set_length(static_cast<uint64_t>(put_position(row, row_text.text()) - row_text.text()));
  col_text.set_length(static_cast<uint64_t>(put_position(col, col_text.text()) - col_text.text()));
  write_all(seq.text(), seq.length());
}

// ---------------------------------------------------------------------------
// Keys.  Every key that is not a character, as xterm, the Linux console,
// tmux, screen, rxvt and VT220 terminals send it.  Sequences of no key here
// (Page Up, keys with Shift or Control ...) are read whole and ignored.  A
// character of several bytes (UTF-8) is one key.

namespace {

// A key read from the keyboard: a code of KeyCode, a character (kCharacter,
// or kAlt with the key's character), or one of these.
enum : int64_t {
  kCharacter = -2, kIgnored = -3, kNoMoreInput = -4, kDelete = -5,
  kEraseLine = -6,  // Ctrl-U
  kEndOfText = -7,  // Ctrl-D
};

struct KeySequence {
  const char* bytes;
  int64_t code;
};

// F1-F4: "O" and a letter (xterm, tmux, screen, VT220), "[11~" ... (rxvt),
// "[[" and a letter (Linux console, also F5).  Cursor keys and Home/End:
// "[" and a letter, or "O" and a letter in the terminal's application mode;
// "[1~"/"[4~" (Linux console, tmux, screen, VT220 Find and Select) and
// "[7~"/"[8~" (rxvt) for Home and End.  "OM" is Enter of the keypad.
constexpr KeySequence kKeySequences[] = {
    {"\033OP", 1},      {"\033[11~", 1},    {"\033[[A", 1},
    {"\033OQ", 2},      {"\033[12~", 2},    {"\033[[B", 2},
    {"\033OR", 3},      {"\033[13~", 3},    {"\033[[C", 3},
    {"\033OS", 4},      {"\033[14~", 4},    {"\033[[D", 4},
    {"\033[15~", 5},    {"\033[[E", 5},
    {"\033[17~", 6},    {"\033[18~", 7},    {"\033[19~", 8},    {"\033[20~", 9},
    {"\033[21~", 10},   {"\033[23~", 11},   {"\033[24~", 12},
    {"\033[A", kUp},    {"\033OA", kUp},
    {"\033[B", kDown},  {"\033OB", kDown},
    {"\033[C", kRight}, {"\033OC", kRight},
    {"\033[D", kLeft},  {"\033OD", kLeft},
    {"\033[H", kHome},  {"\033OH", kHome},  {"\033[1~", kHome}, {"\033[7~", kHome},
    {"\033[F", kEnd},   {"\033OF", kEnd},   {"\033[4~", kEnd},  {"\033[8~", kEnd},
    {"\033[2~", kInsert},
    {"\033[3~", kDelete},
    {"\033OM", kEnter},
};

struct Key {
  int64_t code;
  uint8_t bytes[4];  // a character's bytes
  uint8_t size;
};

int64_t sequence_code(const uint8_t* b, long n) {
  for (const KeySequence& k : kKeySequences) {
    long i = 0;
    while (i < n && k.bytes[i] == static_cast<char>(b[i])) ++i;
    if (i == n && k.bytes[n] == 0) return k.code;
  }
  return kIgnored;
}

bool is_final_letter(uint8_t c) { return c >= 0x40 && c <= 0x7e; }

// The length of the escape sequence at b[0..n), or 0 while it may go on.
// `complete`: no more bytes will come, so what is there is the whole key.
long escape_length(const uint8_t* b, long n, bool complete) {
  constexpr long kLongest = 16;  // longer: not a key, dropped
  if (n < 2) return complete ? 1 : 0;
  if (b[1] == 'O' || (b[1] == '[' && n > 2 && b[2] == '[')) {
    // SS3 and the Linux console's F1-F5: one letter ends them, after the
    // digits of a modifier (ESC O 2 P is Shift-F1).
    long i = b[1] == 'O' ? 2 : 3;
    while (i < n && i < kLongest && b[i] >= '0' && b[i] <= ';') ++i;
    if (i < n) return is_final_letter(b[i]) ? i + 1 : 2;  // else Alt with the letter
    return complete ? (n > 2 ? n : 2) : 0;
  }
  if (b[1] != '[') return 2;
  long i = 2;
  while (i < n && i < kLongest && b[i] >= 0x30 && b[i] <= 0x3f) ++i;  // parameters
  // The final byte; rxvt ends keys held with Shift or Control with $, ^ or @.
  if (i < n && b[i] >= 0x20 && b[i] <= 0x7e) return i + 1;
  if (i < n) return i;  // broken off by another key
  return complete ? n : 0;
}

// Bytes of a UTF-8 character that starts with `lead`; 0 for a byte that
// cannot start one.
long utf8_size(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) return 3;
  if (lead >= 0xf0 && lead <= 0xf4) return 4;
  return 0;
}

bool is_continuation(uint8_t c) { return (c & 0xc0) == 0x80; }

// A character of several bytes; one broken off or a stray byte is ignored.
long decode_utf8(const uint8_t* b, long n, bool complete, Key& key) {
  const long size = utf8_size(b[0]);
  key.code = kIgnored;
  if (size == 0) return 1;
  for (long i = 1; i < size; ++i) {
    if (i == n) return complete ? n : 0;
    if (!is_continuation(b[i])) return i;
  }
  if (b[0] == 0xc2 && b[1] < 0xa0) return size;  // a control character of the upper half
  key.code = kCharacter;
  for (long i = 0; i < size; ++i) key.bytes[i] = b[i];
  key.size = static_cast<uint8_t>(size);
  return size;
}

// Decodes the key at the front of b[0..n); its length in bytes, or 0 when
// more bytes are needed to tell.
long decode_key(const uint8_t* b, long n, bool complete, Key& key) {
  if (n <= 0) return 0;
  const uint8_t c = b[0];
  key = {kCharacter, {c, 0, 0, 0}, 1};
  if (c >= 0x80) return decode_utf8(b, n, complete, key);
  if (c == kEsc) {
    const long len = escape_length(b, n, complete);
    if (len == 0) return 0;
    if (len == 1) {
      key.code = kEscape;
    } else if (len == 2 && b[1] >= ' ' && b[1] < 127) {
      key = {kAlt, {b[1], 0, 0, 0}, 1};  // Alt with a key, or escape typed just before it
    } else if (len == 2) {
      key.code = kEscape;  // escape, then a key of its own
      return 1;
    } else {
      key.code = sequence_code(b, len);
    }
    return len;
  }
  if (c == '\r') {
    // A carriage return and line feed from a file are one Enter.
    if (n == 1 && !complete) return 0;
    key.code = kEnter;
    return n > 1 && b[1] == '\n' ? 2 : 1;
  }
  if (c == '\n') key.code = kEnter;
  else if (c == '\t') key.code = kTab;
  else if (c == 127 || c == 8) key.code = kBackspace;
  else if (c == 21) key.code = kEraseLine;
  else if (c == 4) key.code = kEndOfText;
  else if (c < ' ') key.code = kIgnored;  // other control characters
  return 1;
}

// How long the rest of a key may take to arrive: the Escape key alone is
// told from a sequence by a short pause; a sequence already begun, or a
// character of several bytes, is waited for longer.
constexpr long kSequenceWaitMs = 100;
constexpr long kSequenceRestMs = 500;

long rest_wait(const uint8_t* b, long n) {
  return n >= 2 && b[0] == kEsc && (b[1] == '[' || b[1] == 'O') ? kSequenceRestMs : kSequenceWaitMs;
}

Key next_key(bool terminal) {
  for (;;) {
    if (!have_input(terminal)) return {kNoMoreInput, {}, 0};
    Key key;
    long used = decode_key(pending_bytes(), pending_count(), false, key);
    if (used == 0 && terminal && pending_count() == 1 && pending_bytes()[0] == '\r') {
      // Enter at once; a line feed that follows it is part of it.
      g_after_return = true;
      key.code = kEnter;
      used = 1;
    }
    if (used == 0) {
      if (read_more(terminal, rest_wait(pending_bytes(), pending_count()))) continue;
      used = decode_key(pending_bytes(), pending_count(), true, key);
    }
    drop_pending(used);
    if (key.code != kIgnored) return key;
  }
}

// ---------------------------------------------------------------------------
// Key mode: the terminal delivers every key as it is typed, without echo
// and with carriage return as typed, from the first field on until a line
// is read or the program ends, so that keys typed while the program works
// between fields are neither shown nor edited by the terminal.  Stopped
// (Ctrl-Z), the program leaves the terminal as it found it and takes key
// mode up again when it is continued in the foreground.

Termios g_found;                      // the settings found when key mode began
volatile bool g_raw = false;          // key mode is on
volatile bool g_resume_keys = false;  // stopped in key mode
bool g_job_control = false;           // the stop and continue signals are caught

constexpr unsigned long kJobSignals = 1UL << (sys::kSigtstp - 1) | 1UL << (sys::kSigttin - 1) |
                                      1UL << (sys::kSigttou - 1);

void apply_key_settings() {
  Termios keys = g_found;
  keys.c_lflag &= ~(sys::kIcanon | sys::kEcho);
  keys.c_iflag &= ~sys::kIcrnl;
  keys.c_cc[sys::kVmin] = 1;
  keys.c_cc[sys::kVtime] = 0;
  sys::call3(sys::kIoctl, StdInHandle, sys::kTcsets, reinterpret_cast<long>(&keys));
}

void restore_if_raw() {
  if (!g_raw) return;
  g_raw = false;
  sys::call3(sys::kIoctl, StdInHandle, sys::kTcsets, reinterpret_cast<long>(&g_found));
}

void redraw_open_field();

bool in_foreground() {
  int group = 0;
  return sys::call3(sys::kIoctl, StdInHandle, sys::kTiocgpgrp, reinterpret_cast<long>(&group)) == 0 &&
         group == sys::call0(sys::kGetpgrp);
}

// Continued after a stop, in the foreground: key mode, the hidden cursor
// and the open field come back.
void resume_after_stop() {
  if (!g_resume_keys || !in_foreground()) return;
  g_resume_keys = false;
  apply_key_settings();
  g_raw = true;
  if (g_cursor_hidden) write_all(kHideCursor, sizeof kHideCursor - 1);
  redraw_open_field();
}

volatile bool g_continued = false;  // a continue signal came since it was cleared

void on_continue(int) {
  g_continued = true;
  resume_after_stop();
}

// Started in the background (`prog &`): stops as a reader in the background
// would, until it runs in the foreground, so that the settings it keeps are
// the ones the shell hands over there (not its own line-editing settings).
// A process that cannot be stopped (no shell is left to continue it) goes on.
// True when it had to wait (the cursor the program placed is lost).
bool wait_for_foreground() {
  bool waited = false;
  while (!in_foreground()) {
    g_continued = false;
    sys::call2(sys::kKill, 0, sys::kSigttin);
    if (!g_continued) break;
    waited = true;
  }
  return waited;
}

bool g_came_forward = false;  // key mode began only once in the foreground

// Ctrl-Z, or a read or a change of the terminal from the background: the
// terminal as it was found, then the stop.
void on_stop(int sig) {
  if (g_raw) {
    restore_if_raw();
    g_resume_keys = true;
  }
  if (g_cursor_hidden && output_is_terminal()) write_all(kShowCursor, sizeof kShowCursor - 1);
  take_default_action(sig);
  catch_signal(sig, on_stop, kJobSignals);
  resume_after_stop();
}

void catch_job_control() {
  if (g_job_control) return;
  g_job_control = true;
  constexpr int kStops[] = {sys::kSigtstp, sys::kSigttin, sys::kSigttou};
  for (int sig : kStops) catch_signal(sig, on_stop, kJobSignals);
  catch_signal(sys::kSigcont, on_continue, 0);
}

bool enter_key_mode() {
  if (!g_raw) {
    if (!read_settings(g_found)) return false;
    catch_job_control();
    g_came_forward = wait_for_foreground();
    read_settings(g_found);
    set_fatal_cleanup(restore_terminal);
    g_raw = true;
  }
  apply_key_settings();  // again for each field: a program it ran may have changed them
  return true;
}

// ---------------------------------------------------------------------------
// Line input.

// A line read into g_line: its length, and the status it leaves.
struct Line {
  long length;
  int64_t code;  // 0, kEscape, or kEndOfInput
};

// Reads the line up to its line feed, so that lines that follow it stay in
// standard input for the next request; the part of a line beyond the
// buffer is read and dropped.
Line read_line() {
  Line line = {0, 0};
  bool any = false, ended = false;
  uint8_t c;
  while (take_byte(c)) {
    any = true;
    if (c == '\n') {
      ended = true;
      break;
    }
    if (line.length < kLineBufferSize) g_line[line.length++] = c;
  }
  if (ended && line.length > 0 && line.length < kLineBufferSize && g_line[line.length - 1] == '\r') --line.length;
  if (!any) line.code = kEndOfInput;
  else if (line.length > 0 && g_line[0] == kEsc) line.code = kEscape;
  return line;
}

// A line on a terminal with keys typed ahead: the runtime edits it in key
// mode, showing what was typed ahead as if typed now.  Backspace removes
// the last character, Ctrl-U the whole line, Enter ends it, Escape ends it
// with its code; Ctrl-D on an empty line is the end of the input.
Line edit_line() {
  static constexpr char kRubOut[] = "\b \b";
  Line line = {0, 0};
  for (;;) {
    const Key key = next_key(true);
    switch (key.code) {
      case kCharacter:
        if (line.length + key.size > kLineBufferSize) break;
        for (int i = 0; i < key.size; ++i) g_line[line.length++] = key.bytes[i];
        write_all(key.bytes, key.size);
        break;
      case kBackspace: case kEraseLine:
        while (line.length > 0) {
          do --line.length;
          while (line.length > 0 && is_continuation(g_line[line.length]));
          write_all(kRubOut, sizeof kRubOut - 1);
          if (key.code == kBackspace) break;
        }
        break;
      case kEnter: case kEscape:
        write_all("\n", 1);
        if (key.code == kEscape) line.code = kEscape;
        return line;
      case kEndOfText: case kNoMoreInput:
        if (line.length > 0 && key.code == kEndOfText) break;
        if (line.length == 0) line.code = kEndOfInput;
        return line;
      default:
        break;  // keys that are not part of a line
    }
  }
}

}  // namespace

void accept_line(void* item, uint64_t start, uint64_t length) {
  Number rc = return_code();
  rc.set_value(0);
  Line line;
  if (pending_count() > 0 && enter_key_mode()) {
    line = edit_line();
  } else {
    restore_if_raw();
    line = read_line();
  }
  restore_if_raw();
  if (line.code != 0) {
    rc.set_value(line.code);
    return;
  }
  const uint64_t text_length = static_cast<uint64_t>(line.length);
  if (text_length == 0) return;  // an empty line leaves the item alone
  Item it(item);
  if (it.is_number()) {
    Number num(item);
    num.set_value(0);
    numbers::from_text(num, reinterpret_cast<const char*>(g_line), text_length);
    return;
  }
  Word w(item);
  if (start == 0) {
    start = 1;
    length = w.length();
  } else {
    validate_source(item, start, length);
  }
  char* out = w.text() + start - 1;
  for (uint64_t i = 0; i < length; ++i) out[i] = i < text_length ? static_cast<char>(g_line[i]) : ' ';
}

namespace {

// ---------------------------------------------------------------------------
// The field and its place on the screen.  `pos` counts bytes from 0; the
// screen shows characters, one column each, and the terminal's cursor is
// kept at pos.  Keys that come from a pipe or a file draw nothing, as they
// were never echoed.

constexpr int64_t kContinue = -1;

struct Field {
  char* text;
  uint64_t size;
  int64_t row, col;
  bool drawn, editing;
  uint64_t pos;
  int64_t typed;
};

Field* volatile g_field = nullptr;  // the field open now, to draw it again

// The bytes of the character at `at`: a whole UTF-8 character, or 1.
uint64_t char_size(const Field& f, uint64_t at) {
  const uint64_t n = static_cast<uint64_t>(utf8_size(static_cast<uint8_t>(f.text[at])));
  if (n < 2 || at + n > f.size) return 1;
  for (uint64_t i = 1; i < n; ++i)
    if (!is_continuation(static_cast<uint8_t>(f.text[at + i]))) return 1;
  return n;
}

// The characters before position `pos`: the column it is drawn in.
int64_t columns_to(const Field& f, uint64_t pos) {
  int64_t columns = 0;
  for (uint64_t i = 0; i < pos; i += char_size(f, i)) ++columns;
  return columns;
}

// Where the character before `pos` starts.
uint64_t char_before(const Field& f, uint64_t pos) {
  uint64_t start = 0;
  for (uint64_t i = 0; i < pos; i += char_size(f, i)) start = i;
  return start;
}

void place_cursor(const Field& f) {
  if (f.drawn) move_to(f.row, f.col + columns_to(f, f.pos));
}

// Draws the characters from position `from` up to `to`, control characters
// and bytes that are no character as blanks, and `pad` blanks after them.
// The number of columns drawn.
int64_t draw_range(const Field& f, uint64_t from, uint64_t to, int64_t pad) {
  char chunk[128];
  uint64_t n = 0;
  int64_t columns = 0;
  auto flush_if_full = [&](uint64_t room) {
    if (n + room <= sizeof chunk) return;
    write_all(chunk, n);
    n = 0;
  };
  for (uint64_t i = from; i < to; ++columns) {
    const uint64_t k = char_size(f, i);
    flush_if_full(k);
    const uint8_t c = static_cast<uint8_t>(f.text[i]);
    if (k > 1) {
      for (uint64_t j = 0; j < k; ++j) chunk[n++] = f.text[i + j];
    } else {
      chunk[n++] = c < ' ' || c >= 127 ? ' ' : static_cast<char>(c);
    }
    i += k;
  }
  for (int64_t i = 0; i < pad; ++i) {
    flush_if_full(1);
    chunk[n++] = ' ';
  }
  write_all(chunk, n);
  return columns;
}

// Draws the field from position `from` to its end.  A field with
// characters of several bytes takes fewer columns than its length: blanks
// fill the rest of its columns.
void draw_from(const Field& f, uint64_t from) {
  if (!f.drawn) return;
  const int64_t at = columns_to(f, from);
  move_to(f.row, f.col + at);
  draw_range(f, from, f.size, static_cast<int64_t>(f.size) - columns_to(f, f.size));
  place_cursor(f);
}

// The field again, after the program was stopped and continued: an editing
// field whole, an entry field as far as it was typed (from the handler of
// the continue signal: only system calls).
void redraw_open_field() {
  const Field* f = g_field;
  if (f == nullptr || !f->drawn) return;
  if (f->editing) return draw_from(*f, 0);
  move_to(f->row, f->col);
  draw_range(*f, 0, f->pos, 0);
  place_cursor(*f);
}

// In an editing field a character replaces the one at the cursor whole:
// what follows moves on to make room for a longer one (when only blanks
// fall off the end; otherwise the new one covers what follows) or closes
// up behind a shorter one.
void fit_replacement(Field& f, uint64_t at, uint64_t need) {
  const uint64_t old = char_size(f, at);
  if (need > old) {
    const uint64_t grow = need - old;
    for (uint64_t i = f.size - grow; i < f.size; ++i)
      if (f.text[i] != ' ') return;
    for (uint64_t i = f.size; i-- > at + need;) f.text[i] = f.text[i - grow];
  } else if (need < old) {
    const uint64_t shrink = old - need;
    for (uint64_t i = at + need; i + shrink < f.size; ++i) f.text[i] = f.text[i + shrink];
    for (uint64_t i = f.size - shrink; i < f.size; ++i) f.text[i] = ' ';
  }
}

// A character goes where the cursor is, replacing what was there; what is
// left of a character it covers in part becomes blanks.  False when the
// field has no room for all its bytes.
bool store_character(Field& f, const Key& key) {
  if (f.pos + key.size > f.size) return false;
  const uint64_t at = f.pos;
  if (f.editing) fit_replacement(f, at, key.size);
  for (uint64_t i = 0; i < key.size; ++i) f.text[f.pos++] = static_cast<char>(key.bytes[i]);
  for (uint64_t i = f.pos; i < f.size && is_continuation(static_cast<uint8_t>(f.text[i])); ++i) f.text[i] = ' ';
  ++f.typed;
  if (f.drawn && f.editing) draw_from(f, at);
  else if (f.drawn) write_all(key.bytes, key.size);
  return true;
}

// The character at `at` goes; the rest moves up and blanks come in last.
void remove_at(Field& f, uint64_t at) {
  const uint64_t k = char_size(f, at);
  for (uint64_t i = at; i + k < f.size; ++i) f.text[i] = f.text[i + k];
  for (uint64_t i = f.size - k; i < f.size; ++i) f.text[i] = ' ';
  f.pos = at;
  draw_from(f, at);
}

// Entry: characters are stored from the first position on; every key that
// is not a character ends the field (Delete is ignored).  A character with
// no room for all its bytes ends the field as full and stays for the next.
int64_t entry_key(Field& f, Key key) {
  switch (key.code) {
    case kCharacter:
      if (!store_character(f, key)) {
        put_back(key.bytes, key.size);
        return kFieldFull;
      }
      return f.pos >= f.size ? int64_t{kFieldFull} : kContinue;
    case kAlt:
      if (f.pos < f.size) store_character(f, key);
      return kAlt;
    case kDelete: case kEraseLine: case kEndOfText:
      return kContinue;
    case kNoMoreInput:
      return kEscape;  // nothing more can be typed
    default:
      return key.code;
  }
}

// Editing: the cursor keys move inside the field (an arrow that would
// leave it ends the field), Backspace and Delete remove characters.
int64_t editing_key(Field& f, Key key) {
  switch (key.code) {
    case kLeft:
      if (f.pos == 0) return kLeft;
      f.pos = char_before(f, f.pos);
      break;
    case kRight: {
      const uint64_t next = f.pos + char_size(f, f.pos);
      if (next >= f.size) return kRight;
      f.pos = next;
      break;
    }
    case kHome:
      f.pos = 0;
      break;
    case kEnd: {
      uint64_t end = f.size;
      while (end > 0 && f.text[end - 1] == ' ') --end;
      f.pos = end < f.size ? end : char_before(f, f.size);
      break;
    }
    case kBackspace:
      if (f.pos > 0) remove_at(f, char_before(f, f.pos));
      return kContinue;
    case kDelete:
      remove_at(f, f.pos);
      return kContinue;
    default:
      return entry_key(f, key);
  }
  place_cursor(f);
  return kContinue;
}

}  // namespace

void restore_terminal() {
  g_resume_keys = false;
  restore_if_raw();
  put_screen_back();
}

void accept_field(Word word, uint64_t start, uint64_t length, bool editing) {
  int64_t row, col;
  take_position(row, col);
  int64_t code = length == 0 ? int64_t{kFieldFull} : kContinue;
  const bool terminal = code == kContinue && enter_key_mode();
  if (terminal && g_came_forward) {
    g_came_forward = false;
    if (g_cursor_hidden) write_all(kHideCursor, sizeof kHideCursor - 1);
    move_to(row, col);  // the program's own went out in the background
  }
  Field f = {word.text() + start - 1, length, row, col, terminal, editing, 0, 0};
  g_field = &f;
  if (editing) draw_from(f, 0);
  while (code == kContinue) {
    const Key key = next_key(terminal);
    code = editing ? editing_key(f, key) : entry_key(f, key);
  }
  g_field = nullptr;
  return_code().set_value(code);
  Number(CHARS_TYPED).set_value(f.typed);
}

}  // namespace qw::terminal

QW_ENTRY(_getSTDIOhandles, bridge_getSTDIOhandles);
extern "C" void bridge_getSTDIOhandles(qw::Regs&) { qw::terminal::get_stdio_handles(); }

QW_ENTRY(_getCommandLine, bridge_getCommandLine);
extern "C" void bridge_getCommandLine(qw::Regs& r) {
  qw::terminal::get_command_line(reinterpret_cast<const uint64_t*>(r.rbp));
}

// _DISPLAY: r9, r10, r11 the item, start and length.
QW_ENTRY(_DISPLAY, bridge_DISPLAY);
extern "C" void bridge_DISPLAY(qw::Regs& r) {
  qw::terminal::display(reinterpret_cast<void*>(r.r9), r.r10, r.r11);
}

QW_ENTRY(_CURSOR, bridge_CURSOR);
extern "C" void bridge_CURSOR(qw::Regs&) { qw::terminal::cursor(); }

// _ACCEPTLINE: r9 the receiving word or number; r10, r11 the start and
// length of the part of a word that receives it (r10 0: the whole item).
QW_ENTRY(_ACCEPTLINE, bridge_ACCEPTLINE);
extern "C" void bridge_ACCEPTLINE(qw::Regs& r) {
  qw::terminal::accept_line(reinterpret_cast<void*>(r.r9), r.r10, r.r11);
}

namespace {
// The receiving item of field input: a number would have its value and
// picture overwritten by the typed characters.
qw::Word field_word(uint64_t item) {
  qw::Item it(reinterpret_cast<void*>(item));
  if (!it.is_word()) qw::fatal_library(qw::kErrUseNumbers);
  return qw::Word(it.data());
}
}  // namespace

// _ACCEPT_AT: r9 the receiving word, entered from its first position.
QW_ENTRY(_ACCEPT_AT, bridge_ACCEPT_AT);
extern "C" void bridge_ACCEPT_AT(qw::Regs& r) {
  const qw::Word w = field_word(r.r9);
  qw::terminal::accept_field(w, 1, w.length(), false);
}

// _ACCEPT_EDIT: r9, r10, r11 the word, start and length of the field that
// is edited in place.
QW_ENTRY(_ACCEPT_EDIT, bridge_ACCEPT_EDIT);
extern "C" void bridge_ACCEPT_EDIT(qw::Regs& r) {
  const qw::Word w = field_word(r.r9);
  uint64_t start = r.r10, length = r.r11;
  qw::validate_source(w.data(), start, length);
  qw::terminal::accept_field(w, start, length, true);
}
